// Timed waits of TNotificationQueue do not follow the wall clock. This process reads the wall
// clock 2 s ahead of the kernel's (clock_gettime is replaced below for the whole executable),
// as after a step of the clock: a deadline computed on CLOCK_REALTIME and waited for by the
// kernel would then last 2 s longer, one on CLOCK_MONOTONIC is unaffected.
#include <gtest/gtest.h>

#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <chrono>

#include "tests/tessix-queue/nfq_test_util.h"

namespace {
constexpr time_t kWallAhead = 2;

int64_t kernelNs(clockid_t id) {
  struct timespec ts;
  syscall(SYS_clock_gettime, id, &ts);
  return int64_t(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}
}  // namespace

extern "C" int clock_gettime(clockid_t id, struct timespec* ts) {
  const int rc = static_cast<int>(syscall(SYS_clock_gettime, id, ts));
  if (rc == 0 && id == CLOCK_REALTIME) ts->tv_sec += kWallAhead;
  return rc;
}

namespace {

TEST(NfQueueClock, TimedWaitsIgnoreTheWallClock) {
  // The replacement is in force, for this executable and for libstdc++.
  const int64_t skew = std::chrono::duration_cast<std::chrono::nanoseconds>(
                           std::chrono::system_clock::now().time_since_epoch())
                           .count() -
                       kernelNs(CLOCK_REALTIME);
  ASSERT_GT(skew, (kWallAhead - 1) * 1000000000LL);

  NfQueue q;
  for (long ms : {50L, 1L}) {
    const int64_t t0 = kernelNs(CLOCK_MONOTONIC);
    EXPECT_EQ(q.waitDequeueNotification(ms), nullptr);
    const int64_t waited = kernelNs(CLOCK_MONOTONIC) - t0;
    EXPECT_GE(waited, ms * 1000000 - 1000000) << ms;
    EXPECT_LT(waited, 1000000000LL) << ms << " ms took " << waited / 1000000 << " ms";
    EXPECT_EQ(q.waiting(), 0);
  }
}

}  // namespace
