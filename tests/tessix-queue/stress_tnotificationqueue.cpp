// TNotificationQueue under 4 producers and 4 consumers: every accepted notification is
// received exactly once, whatever mix of dequeue and timed or unlimited waits the consumers
// use, with and without a limit; after the drain a wake-up releases every consumer. Rounds of
// hand-overs to consumers that wait without a limit, each ended by a single wake-up. Rounds
// in which a destruction, a wake-up or two enqueues at the limit land just after consumers
// have entered their waits, wherever they are on the way to the wait list.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "tests/tessix-queue/nfq_test_util.h"

namespace {

constexpr int kProducers = 4;
constexpr int kConsumers = 4;
constexpr int kPerProducer = 10000;

void run(uint64_t limit) {
  NfQueue q;
  q.setMaxNfSize(limit);
  const int total = kProducers * kPerProducer;
  std::unique_ptr<std::atomic<int>[]> seen(new std::atomic<int>[total]);
  std::unique_ptr<std::atomic<bool>[]> accepted(new std::atomic<bool>[total]);
  for (int i = 0; i < total; ++i) {
    seen[i] = 0;
    accepted[i] = false;
  }
  std::atomic<int> acceptedCount{0}, receivedCount{0}, producersDone{0};
  std::atomic<bool> stop{false};
  std::atomic<int> exited{0};

  std::vector<std::thread> threads;
  for (int p = 0; p < kProducers; ++p) {
    threads.emplace_back([&, p] {
      for (int i = 0; i < kPerProducer; ++i) {
        const int id = p * kPerProducer + i;
        NfPtr nf = makeNf(std::to_string(id));
        const bool ok = (i % 5 == 0) ? q.enqueueUrgentNotification(nf) : q.enqueueNotification(nf);
        if (ok) {
          accepted[id] = true;
          acceptedCount.fetch_add(1);
        } else if (i % 3 == 0) {
          std::this_thread::yield();  // let the consumers catch up now and then
        }
      }
      producersDone.fetch_add(1);
    });
  }
  const long timeouts[] = {0, 1, 5, 50, -1};
  for (int c = 0; c < kConsumers; ++c) {
    threads.emplace_back([&, c] {
      for (unsigned n = c; !stop.load(); ++n) {
        const unsigned mode = n % 6;
        wdb::INotification* raw = mode == 5 ? q.dequeueNotification()
                                            : q.waitDequeueNotification(timeouts[mode]);
        if (raw == nullptr) continue;
        const int id = std::stoi(takeText(raw));
        ASSERT_GE(id, 0);
        ASSERT_LT(id, total);
        seen[id].fetch_add(1);
        receivedCount.fetch_add(1);
      }
      exited.fetch_add(1);
    });
  }

  // Drain: the producers finish, then every accepted notification arrives.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while ((producersDone.load() < kProducers || receivedCount.load() < acceptedCount.load()) &&
         std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  ASSERT_EQ(producersDone.load(), kProducers);
  EXPECT_EQ(receivedCount.load(), acceptedCount.load());
  EXPECT_EQ(q.size(), 0);

  // Wake-up: a consumer that re-entered a wait after the flag was read is released by the
  // next wake-up, so every consumer leaves within 2 s.
  stop = true;
  const auto released = std::chrono::steady_clock::now() + std::chrono::seconds(2);
  while (exited.load() < kConsumers && std::chrono::steady_clock::now() < released) {
    q.wakeUpAll();
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  EXPECT_EQ(exited.load(), kConsumers);
  if (exited.load() < kConsumers) std::abort();  // threads would hang the join
  for (auto& t : threads) t.join();

  int missing = 0, twice = 0, phantom = 0;
  for (int i = 0; i < total; ++i) {
    if (accepted[i] && seen[i] == 0) ++missing;
    if (seen[i] > 1) ++twice;
    if (!accepted[i] && seen[i] != 0) ++phantom;
  }
  EXPECT_EQ(missing, 0);
  EXPECT_EQ(twice, 0);
  EXPECT_EQ(phantom, 0);
  if (limit == 0) {
    EXPECT_EQ(acceptedCount.load(), total);
  }
  EXPECT_GT(acceptedCount.load(), 0);
}

TEST(TNotificationQueueStress, NoLimit) { run(0); }

// Destruction racing with consumers on their way out: two are handed a notification just
// before the destructor starts, the others are released by it. Every consumer returns, the
// two hand-overs arrive, and nothing is touched after the queue is gone (ASan, TSan).
TEST(TNotificationQueueStress, DestroyWhileConsumersLeave) {
  for (int round = 0; round < 100; ++round) {
    std::unique_ptr<NfQueue> q(new NfQueue());
    NfQueue* raw = q.get();
    std::atomic<int> got{0}, none{0};
    std::vector<std::thread> ts;
    for (int c = 0; c < 4; ++c) {
      ts.emplace_back([raw, c, &got, &none] {
        wdb::INotification* nf = c % 2 ? raw->waitDequeueNotification(60000)
                                       : raw->waitDequeueNotification();
        (takeText(nf) == "<null>" ? none : got).fetch_add(1);
      });
    }
    waitForWaiters(*q, 4);
    q->enqueueNotification(makeNf("a"));
    q->enqueueUrgentNotification(makeNf("b"));
    q.reset();
    for (auto& t : ts) t.join();
    ASSERT_EQ(got.load(), 2) << "round " << round;
    ASSERT_EQ(none.load(), 2) << "round " << round;
  }
}
TEST(TNotificationQueueStress, LimitFour) { run(4); }

// Rounds of 4 producers handing items to 4 consumers that wait without a limit (so that most
// items are handed over to a consumer asleep on its signal); once every item has
// arrived and every consumer waits again, one wakeUpAll releases them all.
TEST(TNotificationQueueStress, HandOversThenOneWakeUp) {
  constexpr int kItems = 2000;
  for (int round = 0; round < 20; ++round) {
    NfQueue q;
    std::atomic<int> received{0}, sum{0};
    std::vector<std::thread> consumers;
    for (int c = 0; c < kConsumers; ++c) {
      consumers.emplace_back([&] {
        for (;;) {
          wdb::INotification* raw = q.waitDequeueNotification();
          if (raw == nullptr) return;  // the wake-up
          sum.fetch_add(std::stoi(takeText(raw)));
          received.fetch_add(1);
        }
      });
    }
    std::vector<std::thread> producers;
    for (int p = 0; p < kProducers; ++p) {
      producers.emplace_back([&, p] {
        for (int i = p; i < kItems; i += kProducers) {
          ASSERT_TRUE(q.enqueueNotification(makeNf(std::to_string(i))));
        }
      });
    }
    for (auto& t : producers) t.join();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while ((received.load() < kItems || q.waiting() < kConsumers) &&
           std::chrono::steady_clock::now() < deadline) {
      std::this_thread::yield();
    }
    ASSERT_EQ(received.load(), kItems) << "round " << round;
    ASSERT_EQ(q.waiting(), kConsumers) << "round " << round;
    EXPECT_EQ(sum.load(), kItems * (kItems - 1) / 2);
    EXPECT_EQ(q.size(), 0);
    q.wakeUpAll();
    for (auto& t : consumers) t.join();
    EXPECT_EQ(q.waiting(), 0);
  }
}

// Counts consumers whose wait has begun (the hook runs once the queue counts the call).
struct EntryCount : TNotificationQueueNoHooks {
  static std::atomic<int>& entered_n() {
    static std::atomic<int> n{0};
    return n;
  }
  static void entered() { entered_n().fetch_add(1); }
};
typedef TNotificationQueue<wdb::INotification, EntryCount> CountedQueue;

// Rounds in which something lands 0 to 20 us after every consumer's wait has begun: some
// consumers still poll, some wait for the lock, some have joined the wait list. Each case
// checks what every consumer received and what the queue holds (not for the destruction).
TEST(TNotificationQueueStress, WhatLandsJustAfterConsumersEnterReachesThem) {
  struct Case {
    const char* what;
    int consumers;
    uint64_t limit;
    // Runs in the window; the queue is destroyed by reset when the case says so.
    std::function<void(std::unique_ptr<CountedQueue>&)> act;
    const char* received;  // by every consumer
    int stored;            // afterwards, -1 when the queue is gone
  };
  const Case cases[] = {
      {"destroyed", 4, 0, [](std::unique_ptr<CountedQueue>& q) { q.reset(); }, "<null>", -1},
      {"wakeUpAll", 4, 0, [](std::unique_ptr<CountedQueue>& q) { q->wakeUpAll(); }, "<null>", 0},
      {"limit 1, two enqueues", 1, 1,
       [](std::unique_ptr<CountedQueue>& q) {
         ASSERT_TRUE(q->enqueueNotification(makeNf("one")));
         ASSERT_TRUE(q->enqueueNotification(makeNf("two")));
       },
       "one", 1},
  };
  const long timeouts[] = {-2, -1, 60000, 1000};
  std::mt19937 rng(31);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    for (int round = 0; round < 300; ++round) {
      std::unique_ptr<CountedQueue> q(new CountedQueue());
      q->setMaxNfSize(c.limit);
      CountedQueue* raw = q.get();
      EntryCount::entered_n() = 0;
      std::atomic<int> matched{0}, left{0};
      std::vector<std::thread> ts;
      for (int i = 0; i < c.consumers; ++i) {
        const long ms = timeouts[(round + i) % 4];
        ts.emplace_back([raw, ms, &c, &matched, &left] {
          wdb::INotification* nf = ms == -2 ? raw->waitDequeueNotification()
                                            : raw->waitDequeueNotification(ms);
          if (takeText(nf) == c.received) matched.fetch_add(1);
          left.fetch_add(1);
        });
      }
      while (EntryCount::entered_n().load() < c.consumers) {
      }
      const auto until = std::chrono::steady_clock::now() + std::chrono::nanoseconds(rng() % 20000);
      while (std::chrono::steady_clock::now() < until) {
      }
      c.act(q);
      // A consumer the action missed blocks until its time-out or for good.
      const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
      while (left.load() < c.consumers && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::yield();
      }
      if (left.load() < c.consumers) {
        ADD_FAILURE() << "round " << round << ": a consumer was missed";
        while (q && left.load() < c.consumers) q->wakeUpAll();
      }
      for (auto& t : ts) t.join();
      ASSERT_EQ(matched.load(), c.consumers) << "round " << round;
      if (c.stored >= 0) {
        ASSERT_EQ(q->size(), c.stored) << "round " << round;
        ASSERT_EQ(q->waiting(), 0) << "round " << round;
      }
    }
  }
}

}  // namespace
