// The spinning locks under contention (label stress, run under ThreadSanitizer in CI): the
// table's xspin_mutex through its guard and xspin_lock on a key mutex each exclude every
// other holder, with waiters that spin and waiters that sleep.
#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "mopralib/inc/xds/ScopeRWLock.h"
#include "mopralib/inc/xds/xspin_mutex.h"

namespace {

// Each of `threads` threads runs locked_increment(i) `rounds` times; the increments to expect.
template <typename Lock>
long hammer(Lock&& locked_increment, int threads, int rounds) {
  std::vector<std::thread> ts;
  for (int t = 0; t < threads; ++t) {
    ts.emplace_back([&, t]() {
      for (int i = 0; i < rounds; ++i) {
        locked_increment(i);
        if ((i + t) % 64 == 0) std::this_thread::yield();  // let some waiters go to sleep
      }
    });
  }
  for (std::thread& t : ts) t.join();
  return long(threads) * rounds;
}

TEST(SpinLocks, TableMutexExcludesThroughItsGuard) {
  xspin_mutex m;
  long counter = 0;  // plain: a breach of exclusion is a data race and a lost count
  const long want = hammer(
      [&](int i) {
        ScopeRWLock<xspin_mutex> g(m, (i & 1) ? LockType::READ : LockType::WRITE);
        ++counter;
      },
      8, 20000);
  EXPECT_EQ(want, counter);
  EXPECT_TRUE(m.tryLock());
  m.unlock();
}

TEST(SpinLocks, KeyMutexTakenSpinningExcludes) {
  Poco::FastMutex m;
  long counter = 0;
  const long want = hammer(
      [&](int) {
        xspin_lock(m);
        ++counter;
        m.unlock();
      },
      8, 20000);
  EXPECT_EQ(want, counter);
}

}  // namespace
