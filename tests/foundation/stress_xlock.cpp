// The allocator lock under many more threads than cores, in both release kinds: mutual
// exclusion (a plain counter) and progress (a lost wake-up leaves a taker asleep for good,
// caught by the deadline), and the sharded registry of unpooled blocks from many threads.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <thread>
#include <vector>

#include "src/xlabs.h"
#include "src/xlock.h"

namespace {

// Joins the threads, or fails and leaves the process when they are not done by then.
void join_within(std::vector<std::thread>& threads, std::atomic<int>& done, int seconds) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  while (done.load() < static_cast<int>(threads.size()) &&
         std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  if (done.load() < static_cast<int>(threads.size())) {
    ADD_FAILURE() << done.load() << " of " << threads.size()
                  << " threads done: a taker was never woken";
    std::fflush(nullptr);
    _exit(1);
  }
  for (auto& t : threads) t.join();
}

class XlockStress : public ::testing::TestWithParam<bool> {
 protected:
  void SetUp() override {
    saved_ = xlock_detail::plain_release;
    if (GetParam() && !saved_) GTEST_SKIP() << "membarrier not available";
    xlock_detail::plain_release = GetParam();
    xlock_detail::backstop = {3600, 0};  // a lost wake-up hangs, not just waits 50 ms
  }
  void TearDown() override {
    xlock_detail::plain_release = saved_;
    xlock_detail::backstop = {0, 50 * 1000000};
  }
  bool saved_ = false;
};

// kThreads threads take one lock kIters times each, with a yield inside every yield_every-th
// section (0: none); the count is exact and the lock ends free with nobody counted.
void hammer_one_lock(int kThreads, int kIters, int yield_every) {
  pthread_mutex_t m;
  pthread_mutex_init(&m, nullptr);
  uint64_t counter = 0;
  std::atomic<int> done{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < kIters; ++i) {
        xlock_acquire(&m);
        ++counter;
        if (yield_every != 0 && (i + t) % yield_every == 0) std::this_thread::yield();
        xlock_release(&m);
      }
      done.fetch_add(1);
    });
  }
  join_within(threads, done, 120);
  EXPECT_EQ(counter, static_cast<uint64_t>(kThreads) * kIters);
  const uint32_t* w = reinterpret_cast<const uint32_t*>(&m);
  EXPECT_EQ(w[0], 0u);
  EXPECT_EQ(w[1], 0u);
}

// Short critical sections with a yield now and then inside, so that takers go to sleep
// often and releases race with them.
TEST_P(XlockStress, ManyThreadsOneLock) { hammer_one_lock(16, 20000, 64); }

// Many more takers than cores and no yield: the count of sleepers often falls back to 0,
// so first counted takers (the ones that issue the barrier) come and go all the time.
TEST_P(XlockStress, SixtyFourThreadsShortSections) { hammer_one_lock(64, 5000, 0); }

INSTANTIATE_TEST_SUITE_P(ReleaseKind, XlockStress, ::testing::Values(true, false),
                         [](const ::testing::TestParamInfo<bool>& i) {
                           return i.param ? "Plain" : "Exchange";
                         });

TEST(XaUnpooledStress, RecordAndForgetFromManyThreads) {
  const int kThreads = 8, kBlocks = 4000;
  std::vector<std::vector<char>> storage(kThreads, std::vector<char>(kBlocks));
  std::atomic<int> bad{0}, done{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      char* base = storage[t].data();
      for (int round = 0; round < 5; ++round) {
        for (int i = 0; i < kBlocks; ++i)
          if (!xa_unpooled_record(base + i)) ++bad;
        for (int i = 0; i < kBlocks; i += 2)
          if (!xa_unpooled_forget(base + i)) ++bad;
        for (int i = 0; i < kBlocks; i += 2)
          if (xa_unpooled_forget(base + i)) ++bad;  // gone already
        for (int i = 1; i < kBlocks; i += 2)
          if (!xa_unpooled_forget(base + i)) ++bad;
      }
      done.fetch_add(1);
    });
  }
  join_within(threads, done, 120);
  EXPECT_EQ(bad.load(), 0);
}

}  // namespace
