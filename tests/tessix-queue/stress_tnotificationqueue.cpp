// TNotificationQueue under 4 producers and 4 consumers: every accepted notification is
// received exactly once, whatever mix of dequeue and timed or unlimited waits the consumers
// use, with and without a limit; after the drain a wake-up releases every consumer. Rounds of
// hand-overs to consumers that wait without a limit, each ended by a single wake-up.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
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

}  // namespace
