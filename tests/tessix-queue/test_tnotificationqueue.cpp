// TNotificationQueue: order, limit, hand-over, timed waits, wake-up, clear, teardown.
#include <gtest/gtest.h>

#include <Poco/Exception.h>

#include <atomic>
#include <climits>
#include <chrono>
#include <functional>
#include <future>
#include <memory>
#include <thread>
#include <vector>

#include "tests/tessix-queue/nfq_test_util.h"

namespace {

using Clock = std::chrono::steady_clock;

std::future<std::string> consumer(NfQueue& q, long ms) {
  return std::async(std::launch::async, [&q, ms] {
    return takeText(ms == -2 ? q.waitDequeueNotification() : q.waitDequeueNotification(ms));
  });
}

TEST(TNotificationQueue, FifoWithUrgentAtTheHead) {
  NfQueue q;
  EXPECT_EQ(q.getMaxNfSize(), 0u);
  EXPECT_TRUE(q.enqueueNotification(makeNf("n1")));
  EXPECT_TRUE(q.enqueueNotification(makeNf("n2")));
  EXPECT_TRUE(q.enqueueUrgentNotification(makeNf("u1")));
  EXPECT_TRUE(q.enqueueUrgentNotification(makeNf("u2")));
  EXPECT_TRUE(q.enqueueNotification(makeNf("n3")));
  EXPECT_EQ(q.size(), 5);
  // The most recent urgent one first, then the older urgent, then FIFO.
  for (const char* want : {"u2", "u1", "n1", "n2", "n3"}) {
    EXPECT_EQ(takeText(q.dequeueNotification()), want);
  }
  EXPECT_EQ(q.dequeueNotification(), nullptr);
  EXPECT_EQ(q.size(), 0);
}

TEST(TNotificationQueue, ReferencesFlowToTheConsumer) {
  NfQueue q;
  NfPtr nf = makeNf("x");
  EXPECT_TRUE(q.enqueueNotification(nf));
  EXPECT_EQ(nf->referenceCount(), 2);  // ours and the store's
  wdb::INotification* got = q.dequeueNotification();
  EXPECT_EQ(got, nf.get());
  EXPECT_EQ(nf->referenceCount(), 2);  // ours and the consumer's
  got->release();
  EXPECT_EQ(nf->referenceCount(), 1);
}

TEST(TNotificationQueue, LimitRefusesWhenNobodyWaits) {
  NfQueue q;
  q.setMaxNfSize(2);
  EXPECT_TRUE(q.enqueueNotification(makeNf("a")));
  EXPECT_TRUE(q.enqueueUrgentNotification(makeNf("b")));
  NfPtr refused = makeNf("c");
  EXPECT_FALSE(q.enqueueNotification(refused));
  EXPECT_FALSE(q.enqueueUrgentNotification(refused));
  EXPECT_EQ(refused->referenceCount(), 1);  // not kept
  EXPECT_EQ(q.size(), 2);
  // Lowering the limit removes nothing; enqueues wait until the count falls below it.
  q.setMaxNfSize(1);
  EXPECT_EQ(q.size(), 2);
  EXPECT_EQ(takeText(q.dequeueNotification()), "b");
  EXPECT_FALSE(q.enqueueNotification(makeNf("d")));
  EXPECT_EQ(takeText(q.dequeueNotification()), "a");
  EXPECT_TRUE(q.enqueueNotification(makeNf("e")));
  q.setMaxNfSize(0);  // no limit
  for (int i = 0; i < 100; ++i) EXPECT_TRUE(q.enqueueNotification(makeNf("f")));
  EXPECT_EQ(q.size(), 101);
}

TEST(TNotificationQueue, EmptyPointerIsRefused) {
  NfQueue q;
  EXPECT_THROW(q.enqueueNotification(NfPtr()), Poco::NullPointerException);
  EXPECT_THROW(q.enqueueUrgentNotification(NfPtr()), Poco::NullPointerException);
  try {
    q.enqueueNotification(NfPtr());
  } catch (const Poco::NullPointerException& e) {
    EXPECT_NE(e.message().find("pNotification"), std::string::npos) << e.message();
  }
  EXPECT_EQ(q.size(), 0);
}

TEST(TNotificationQueue, HandOverIgnoresTheLimitAndTheStore) {
  for (bool urgent : {false, true}) {
    NfQueue q;
    q.setMaxNfSize(1);
    auto first = consumer(q, -2);
    auto second = consumer(q, -1);
    waitForWaiters(q, 2);
    EXPECT_TRUE(urgent ? q.enqueueUrgentNotification(makeNf("one"))
                       : q.enqueueNotification(makeNf("one")));
    EXPECT_TRUE(urgent ? q.enqueueUrgentNotification(makeNf("two"))
                       : q.enqueueNotification(makeNf("two")));
    EXPECT_EQ(q.size(), 0);  // neither passed through the store
    std::string a = first.get(), b = second.get();
    EXPECT_TRUE((a == "one" && b == "two") || (a == "two" && b == "one")) << a << " " << b;
    EXPECT_EQ(q.waiting(), 0);
    // Now nobody waits and the limit applies again.
    EXPECT_TRUE(q.enqueueNotification(makeNf("three")));
    EXPECT_FALSE(q.enqueueNotification(makeNf("four")));
  }
}

TEST(TNotificationQueue, OldestWaiterIsServedFirst) {
  NfQueue q;
  auto first = consumer(q, -1);
  waitForWaiters(q, 1);
  auto second = consumer(q, 10000);
  waitForWaiters(q, 2);
  EXPECT_TRUE(q.enqueueNotification(makeNf("to-first")));
  EXPECT_EQ(first.get(), "to-first");
  EXPECT_TRUE(q.enqueueNotification(makeNf("to-second")));
  EXPECT_EQ(second.get(), "to-second");
}

TEST(TNotificationQueue, TimedWaits) {
  NfQueue q;
  // 0 only tests: null at once, the wait list untouched.
  auto t0 = Clock::now();
  EXPECT_EQ(q.waitDequeueNotification(0), nullptr);
  EXPECT_LT(Clock::now() - t0, std::chrono::seconds(1));
  EXPECT_EQ(q.waiting(), 0);
  // 0 with something stored takes it.
  q.enqueueNotification(makeNf("stored"));
  EXPECT_EQ(takeText(q.waitDequeueNotification(0)), "stored");
  EXPECT_EQ(takeText(q.waitDequeueNotification(5)), "<null>");
  // 50 ms on an empty queue: null after about that long, and the record is gone.
  t0 = Clock::now();
  EXPECT_EQ(q.waitDequeueNotification(50), nullptr);
  const auto waited = Clock::now() - t0;
  EXPECT_GE(waited, std::chrono::milliseconds(45));
  EXPECT_LT(waited, std::chrono::seconds(5));
  EXPECT_EQ(q.waiting(), 0);
  // Afterwards the store is used again.
  EXPECT_TRUE(q.enqueueNotification(makeNf("later")));
  EXPECT_EQ(q.size(), 1);
  // A limited wait released by an enqueue, also with the largest limit.
  q.clear();
  for (long limit : {10000L, LONG_MAX}) {
    auto c = consumer(q, limit);
    waitForWaiters(q, 1);
    EXPECT_TRUE(q.enqueueNotification(makeNf("in-time")));
    EXPECT_EQ(c.get(), "in-time");
  }
}

TEST(TNotificationQueue, WakeUpAllReleasesEveryWaiterWithNothing) {
  NfQueue q;
  q.wakeUpAll();  // nobody waits: nothing happens
  std::vector<std::future<std::string>> cs;
  cs.push_back(consumer(q, -2));
  cs.push_back(consumer(q, -1));
  cs.push_back(consumer(q, 60000));
  waitForWaiters(q, 3);
  q.wakeUpAll();
  for (auto& c : cs) EXPECT_EQ(c.get(), "<null>");
  EXPECT_EQ(q.waiting(), 0);
  // Stored notifications are not touched by a wake-up.
  q.enqueueNotification(makeNf("kept"));
  q.wakeUpAll();
  EXPECT_EQ(q.size(), 1);
}

TEST(TNotificationQueue, ClearKeepsWaitersWaiting) {
  NfQueue q;
  q.enqueueNotification(makeNf("a"));
  q.enqueueNotification(makeNf("b"));
  NfPtr held = makeNf("c");
  q.enqueueNotification(held);
  q.clear();
  EXPECT_EQ(q.size(), 0);
  EXPECT_EQ(held->referenceCount(), 1);
  auto c = consumer(q, -1);
  waitForWaiters(q, 1);
  q.clear();
  EXPECT_EQ(q.waiting(), 1);
  q.enqueueNotification(makeNf("after"));
  EXPECT_EQ(c.get(), "after");
}

// Runs the step a test set in slot, once: the slot is empty afterwards.
void runOnce(std::function<void()>& slot) {
  std::function<void()> f;
  f.swap(slot);
  if (f) f();
}

// A consumer's take of the given form (-2: the form without a limit), as text.
template <class Q>
std::string takeFrom(Q& q, long timeout) {
  return takeText(timeout == -2 ? q.waitDequeueNotification() : q.waitDequeueNotification(timeout));
}

// What a consumer started with std::async returned; one still blocked after 10 s fails the
// test (missed says what it missed) and is woken until it returns.
template <class Q>
std::string resultWithin(Q& q, std::future<std::string>& got, const char* missed) {
  if (got.wait_for(std::chrono::seconds(10)) != std::future_status::ready) {
    ADD_FAILURE() << missed;
    while (got.wait_for(std::chrono::milliseconds(1)) != std::future_status::ready) q.wakeUpAll();
  }
  return got.get();
}

// Runs a step set by the test once, on the first consumer that joins the wait list, right
// after the locked section that found the store empty and before the consumer waits.
struct GapHooks : TNotificationQueueNoHooks {
  static std::function<void()>& step() {
    static std::function<void()> f;
    return f;
  }
  static void joined() { runOnce(step()); }
};
typedef TNotificationQueue<wdb::INotification, GapHooks> GapQueue;

// A consumer that has found the store empty is a waiter at once: a wake-up or enqueue that
// comes before it actually waits still reaches it, with or without a limit.
TEST(TNotificationQueue, ConsumerThatFoundTheStoreEmptyIsAlreadyWaiting) {
  struct Case {
    const char* what;
    long timeout;  // of the consumer; -2: the form without a limit
    uint64_t limit;
    std::function<void(GapQueue&)> step;  // runs in the gap
    const char* received;
    int stored;  // afterwards
  };
  const Case cases[] = {
      {"wakeUpAll, no limit", -2, 0, [](GapQueue& q) { q.wakeUpAll(); }, "<null>", 0},
      {"wakeUpAll, timeout -1", -1, 0, [](GapQueue& q) { q.wakeUpAll(); }, "<null>", 0},
      {"wakeUpAll, timed", 60000, 0, [](GapQueue& q) { q.wakeUpAll(); }, "<null>", 0},
      {"limit 1, two enqueues both true", -1, 1,
       [](GapQueue& q) {
         EXPECT_TRUE(q.enqueueNotification(makeNf("one")));
         EXPECT_TRUE(q.enqueueNotification(makeNf("two")));
         EXPECT_FALSE(q.enqueueNotification(makeNf("three")));
       },
       "one", 1},
      {"limit 1, timed, urgent then normal", 60000, 1,
       [](GapQueue& q) {
         EXPECT_TRUE(q.enqueueUrgentNotification(makeNf("urgent")));
         EXPECT_TRUE(q.enqueueNotification(makeNf("normal")));
         EXPECT_FALSE(q.enqueueUrgentNotification(makeNf("refused")));
       },
       "urgent", 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    GapQueue q;
    q.setMaxNfSize(c.limit);
    GapHooks::step() = [&q, &c] {
      EXPECT_EQ(q.size(), 0);
      EXPECT_EQ(q.waiting(), 1);
      c.step(q);
    };
    auto got = std::async(std::launch::async, [&q, &c] { return takeFrom(q, c.timeout); });
    EXPECT_EQ(resultWithin(q, got, "the consumer missed what happened in the gap"), c.received);
    EXPECT_EQ(q.size(), c.stored);
    EXPECT_EQ(q.waiting(), 0);
    EXPECT_FALSE(GapHooks::step());  // the step ran
  }
}

// Runs steps set by the test once each: entry() on the first consumer right after its call
// is counted, before it polls or takes the lock; closing() in the destructor once it has
// released the waiters, before it waits for the calls inside.
struct EntryHooks : TNotificationQueueNoHooks {
  static std::function<void()>& entry() {
    static std::function<void()> f;
    return f;
  }
  static std::function<void()>& close() {
    static std::function<void()> f;
    return f;
  }
  static void entered() { runOnce(entry()); }
  static void closing() { runOnce(close()); }
};
typedef TNotificationQueue<wdb::INotification, EntryHooks> EntryQueue;

// A consumer whose call has begun but that has not yet taken the lock (it polls, or waits
// for the lock) already counts as a waiter: a wake-up releases it, and at the limit the
// enqueues it would have been handed still succeed.
TEST(TNotificationQueue, ConsumerOnItsWayToTheLockCountsAsWaiting) {
  struct Case {
    const char* what;
    long timeout;  // of the consumer; -2: the form without a limit
    uint64_t limit;
    std::function<void(EntryQueue&)> step;  // runs on the consumer's thread, before its poll
    const char* received;
    int stored;  // afterwards
  };
  const Case cases[] = {
      {"wakeUpAll, no limit", -2, 0, [](EntryQueue& q) { q.wakeUpAll(); }, "<null>", 0},
      {"wakeUpAll, timeout -1", -1, 0, [](EntryQueue& q) { q.wakeUpAll(); }, "<null>", 0},
      {"wakeUpAll, timed, limit 1", 60000, 1, [](EntryQueue& q) { q.wakeUpAll(); }, "<null>", 0},
      {"limit 1, two enqueues both true", -1, 1,
       [](EntryQueue& q) {
         EXPECT_TRUE(q.enqueueNotification(makeNf("one")));
         EXPECT_TRUE(q.enqueueNotification(makeNf("two")));
         EXPECT_FALSE(q.enqueueNotification(makeNf("three")));
         EXPECT_FALSE(q.enqueueUrgentNotification(makeNf("four")));
       },
       "one", 1},
      {"limit 1, no limit form, urgent then normal", -2, 1,
       [](EntryQueue& q) {
         EXPECT_TRUE(q.enqueueUrgentNotification(makeNf("urgent")));
         EXPECT_TRUE(q.enqueueNotification(makeNf("normal")));
         EXPECT_FALSE(q.enqueueNotification(makeNf("refused")));
       },
       "urgent", 1},
      {"limit 2, one stored before, two enqueues true", 60000, 2,
       [](EntryQueue& q) {
         EXPECT_TRUE(q.enqueueNotification(makeNf("b")));
         EXPECT_TRUE(q.enqueueNotification(makeNf("c")));
         EXPECT_FALSE(q.enqueueNotification(makeNf("d")));
       },
       "a", 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EntryQueue q;
    q.setMaxNfSize(c.limit);
    if (c.limit == 2) {
      ASSERT_TRUE(q.enqueueNotification(makeNf("a")));
    }
    EntryHooks::entry() = [&q, &c] { c.step(q); };
    auto got = std::async(std::launch::async, [&q, &c] { return takeFrom(q, c.timeout); });
    EXPECT_EQ(resultWithin(q, got, "the consumer missed what happened before it took the lock"),
              c.received);
    EXPECT_EQ(q.size(), c.stored);
    EXPECT_EQ(q.waiting(), 0);
    EXPECT_FALSE(EntryHooks::entry());  // the step ran
    // Once the consumer has left, the limit holds again.
    if (c.limit != 0) {
      while (q.size() < int(c.limit)) ASSERT_TRUE(q.enqueueNotification(makeNf("fill")));
      EXPECT_FALSE(q.enqueueNotification(makeNf("over")));
    }
  }
}

// The queue is destroyed while a consumer's call has begun but the consumer has not yet
// taken the lock: the destructor waits for it, and it returns what is stored or null
// without touching freed memory (AddressSanitizer).
TEST(TNotificationQueue, DestroyedUnderAConsumerOnItsWayToTheLock) {
  struct Case {
    long timeout;
    const char* stored;  // before the destruction, or null
    const char* received;
  } cases[] = {
      {-2, nullptr, "<null>"}, {-1, nullptr, "<null>"}, {60000, nullptr, "<null>"},
      {0, nullptr, "<null>"},  {-1, "kept", "kept"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.timeout) + (c.stored ? " stored" : ""));
    std::unique_ptr<EntryQueue> q(new EntryQueue());
    if (c.stored) {
      ASSERT_TRUE(q->enqueueNotification(makeNf(c.stored)));
    }
    EntryQueue* raw = q.get();
    std::thread deleter;
    std::promise<void> closing;
    EntryHooks::close() = [&closing] { closing.set_value(); };
    // On the consumer's thread, inside its call: the delete starts and reaches its wait for
    // the calls inside before the consumer goes on.
    EntryHooks::entry() = [&] {
      deleter = std::thread([&q] { q.reset(); });
      closing.get_future().wait();
    };
    EXPECT_EQ(takeFrom(*raw, c.timeout), c.received);
    deleter.join();
    EXPECT_EQ(q.get(), nullptr);
    EXPECT_FALSE(EntryHooks::entry());
    EXPECT_FALSE(EntryHooks::close());
  }
}

// A notification given back goes to the head whatever the limit, or to the oldest waiter.
TEST(TNotificationQueue, ReturnedNotificationGoesToTheHead) {
  NfQueue q;
  q.setMaxNfSize(2);
  EXPECT_TRUE(q.enqueueNotification(makeNf("a")));
  EXPECT_TRUE(q.enqueueNotification(makeNf("b")));
  q.returnNotification(makeNf("back"));
  EXPECT_EQ(q.size(), 3);
  for (const char* want : {"back", "a", "b"}) EXPECT_EQ(takeText(q.dequeueNotification()), want);
  auto c = consumer(q, -1);
  waitForWaiters(q, 1);
  q.returnNotification(makeNf("to-waiter"));
  EXPECT_EQ(c.get(), "to-waiter");
  EXPECT_EQ(q.size(), 0);
  EXPECT_THROW(q.returnNotification(NfPtr()), Poco::NullPointerException);
}

TEST(TNotificationQueue, DestructorReleasesWaitersAndDropsTheStore) {
  auto q = std::make_unique<NfQueue>();
  NfPtr held = makeNf("held");
  q->enqueueNotification(held);
  EXPECT_EQ(held->referenceCount(), 2);
  EXPECT_EQ(takeText(q->dequeueNotification()), "held");
  q->enqueueNotification(held);
  q.reset();
  EXPECT_EQ(held->referenceCount(), 1);

  // Waiters of all kinds return null; the destructor returns only after they have left.
  std::atomic<int> left{0};
  std::vector<std::thread> ts;
  q = std::make_unique<NfQueue>();
  NfQueue* raw = q.get();
  for (long ms : {-2L, -1L, 60000L}) {
    ts.emplace_back([raw, ms, &left] {
      std::string got = takeText(ms == -2 ? raw->waitDequeueNotification()
                                          : raw->waitDequeueNotification(ms));
      EXPECT_EQ(got, "<null>");
      left.fetch_add(1);
    });
  }
  waitForWaiters(*q, 3);
  q.reset();
  for (auto& t : ts) t.join();
  EXPECT_EQ(left.load(), 3);
}

}  // namespace
