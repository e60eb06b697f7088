// Many threads on one xspin_mutex: lock, tryLock and the ScopeRWLock guard each increment a
// plain counter inside the lock, and the total must come out exact. Under ThreadSanitizer a
// missing acquire or release shows up as a data race on the counter.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <thread>
#include <vector>

#include "mopralib/inc/xds/ScopeRWLock.h"
#include "mopralib/inc/xds/xspin_mutex.h"

namespace {

const int kThreads = 16;
const int kOpsPerThread = 20000;

TEST(XSpinMutexStress, ExactCountUnderContention) {
  xspin_mutex m;
  uint64_t counter = 0;  // guarded by m, deliberately not atomic
  uint64_t by_try = 0;   // increments made through tryLock
  std::atomic<int> ready{0};
  std::atomic<bool> go{false};
  std::vector<std::thread> ts;
  for (int t = 0; t < kThreads; ++t) {
    ts.emplace_back([&, t] {
      ready.fetch_add(1);
      while (!go.load()) std::this_thread::yield();
      for (int i = 0; i < kOpsPerThread; ++i) {
        switch ((i + t) % 3) {
          case 0: {
            xspin_mutex::ScopedLock l(m);
            ++counter;
            break;
          }
          case 1: {
            ScopeRWLock<xspin_mutex> l(m, (i & 1) ? LockType::READ : LockType::WRITE);
            ++counter;
            break;
          }
          default:
            if (m.tryLock()) {
              ++counter;
              ++by_try;
              m.unlock();
            } else {
              m.lock();
              ++counter;
              m.unlock();
            }
        }
      }
    });
  }
  while (ready.load() < kThreads) std::this_thread::yield();
  go = true;
  for (std::thread& th : ts) th.join();
  EXPECT_EQ(uint64_t(kThreads) * kOpsPerThread, counter);
  EXPECT_LE(by_try, counter);
  EXPECT_TRUE(m.tryLock());
  EXPECT_FALSE(m.tryLock());  // not recursive
  m.unlock();
}

}  // namespace
