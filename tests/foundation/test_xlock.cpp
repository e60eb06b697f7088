// The allocator lock: a taker asleep in the futex is woken by the release (there is no
// timed sleep that could hide a lost wake-up), in both release kinds; the registry of
// unpooled blocks answers without any shard before a first record.
#include <gtest/gtest.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>
#include <thread>

#include "src/xlabs.h"
#include "src/xlock.h"

namespace {

// Scheduler state of a thread of this process ('S' while it sleeps).
char thread_state(pid_t tid) {
  std::ifstream in("/proc/self/task/" + std::to_string(tid) + "/stat");
  std::string line;
  std::getline(in, line);
  const size_t close = line.rfind(')');
  return close != std::string::npos && close + 2 < line.size() ? line[close + 2] : '?';
}

std::string thread_wchan(pid_t tid) {
  std::ifstream in("/proc/self/task/" + std::to_string(tid) + "/wchan");
  std::string s;
  std::getline(in, s);
  return s;
}

class XlockWake : public ::testing::TestWithParam<bool> {
 protected:
  void SetUp() override {
    saved_ = xlock_detail::plain_release;
    if (GetParam() && !saved_) GTEST_SKIP() << "membarrier not available: releases exchange";
    xlock_detail::plain_release = GetParam();  // no other thread uses a lock here
  }
  void TearDown() override { xlock_detail::plain_release = saved_; }
  bool saved_ = false;
};

// The waiter is asleep in the futex (counted in the second word, thread state S, kernel
// wait channel a futex wait where the kernel shows it) before the release; it must then
// return from xlock_acquire. A lost wake-up leaves it asleep for good: the test fails
// after the deadline instead of hanging.
TEST_P(XlockWake, SleepingTakerIsWokenByRelease) {
  for (int round = 0; round < 20; ++round) {
    pthread_mutex_t m;
    pthread_mutex_init(&m, nullptr);
    uint32_t* w = reinterpret_cast<uint32_t*>(&m);
    xlock_acquire(&m);
    std::atomic<pid_t> tid{0};
    std::atomic<bool> got{false};
    std::thread waiter([&] {
      tid.store(static_cast<pid_t>(syscall(SYS_gettid)));
      xlock_acquire(&m);
      got.store(true);
      xlock_release(&m);
    });
    while (tid.load() == 0) std::this_thread::yield();
    const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    bool asleep = false;
    while (!asleep && std::chrono::steady_clock::now() < limit) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
      const std::string wchan = thread_wchan(tid.load());
      asleep = __atomic_load_n(w + 1, __ATOMIC_RELAXED) == 1 && thread_state(tid.load()) == 'S' &&
               (wchan.empty() || wchan == "0" || wchan.find("futex") != std::string::npos);
    }
    ASSERT_TRUE(asleep) << "round " << round;
    EXPECT_FALSE(got.load());
    xlock_release(&m);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!got.load() && std::chrono::steady_clock::now() < deadline)
      std::this_thread::sleep_for(std::chrono::microseconds(100));
    if (!got.load()) {
      ADD_FAILURE() << "round " << round << ": the sleeping taker was not woken";
      std::fflush(nullptr);
      _exit(1);  // the waiter sleeps for ever: no clean way to join it
    }
    waiter.join();
    EXPECT_EQ(w[0], 0u);
    EXPECT_EQ(w[1], 0u);  // the woken taker no longer counts as a sleeper
  }
}

INSTANTIATE_TEST_SUITE_P(ReleaseKind, XlockWake, ::testing::Values(true, false),
                         [](const ::testing::TestParamInfo<bool>& i) {
                           return i.param ? "Plain" : "Exchange";
                         });

TEST(XaUnpooled, ForgetBeforeAnyRecordAndRecordedBlocks) {
  int a = 0, b = 0;
  EXPECT_FALSE(xa_unpooled_forget(&a));  // nothing recorded yet in this process
  ASSERT_TRUE(xa_unpooled_record(&a));
  EXPECT_FALSE(xa_unpooled_forget(&b));
  EXPECT_TRUE(xa_unpooled_forget(&a));
  EXPECT_FALSE(xa_unpooled_forget(&a));  // once only
}

}  // namespace
