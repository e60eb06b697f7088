// Eight threads of put/get/pop/remove over shared keys of one uniform store: every
// pre-loaded key is popped exactly once, with its own value, and nothing else is lost.
#include "src/wdb/kc/SKV_UniMKCStg.h"

#include <gtest/gtest.h>
#include <kcpolydb.h>

#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/tmpdir.h"

namespace {

const int THREADS = 8;
const int KEYS = 1500;

std::string keyOf(int i) { return "shared-" + std::to_string(i); }
std::string valueOf(int i) { return "value-" + std::to_string(i * 7919); }

TEST(UniStoreStress, EveryKeyPoppedExactlyOnce) {
  TmpDir home;
  wdb::SKV_UniMKCStg s;
  s.setDBHome(xstring(home.path()));
  s.setDBName("stress");
  s.setPartitions(4);
  s.setTuneOptions("#buckets=4096");
  ::testing::internal::CaptureStdout();
  ASSERT_EQ(0, s.open(kyotocabinet::PolyDB::OWRITER | kyotocabinet::PolyDB::OCREATE));
  ::testing::internal::GetCapturedStdout();
  for (int i = 0; i < KEYS; ++i) {
    const std::string k = keyOf(i), v = valueOf(i);
    ASSERT_EQ(0, s.putTx0(nullptr, k.data(), k.size(), v.data(), v.size(), mopra::PutPolicy::ADD));
  }

  std::unique_ptr<std::atomic<int>[]> pops(new std::atomic<int>[KEYS]);
  for (int i = 0; i < KEYS; ++i) pops[i] = 0;
  std::atomic<int> failures(0);

  std::vector<std::thread> threads;
  for (int t = 0; t < THREADS; ++t) {
    threads.emplace_back([&, t] {
      for (int n = 0; n < KEYS; ++n) {
        // Each thread walks the shared keys from its own starting point.
        const int i = (n + t * (KEYS / THREADS)) % KEYS;
        const std::string k = keyOf(i);
        void* buf = nullptr;
        size_t len = 0;
        int rc = s.getTx0(nullptr, &buf, &len, k.data(), k.size());
        if (rc == 0) {
          if (std::string(static_cast<char*>(buf), len) != valueOf(i)) ++failures;
          s.freeData(buf);
        } else if (rc != -9) {
          ++failures;
        }
        buf = nullptr;
        rc = s.popTx0(nullptr, &buf, &len, k.data(), k.size());
        if (rc == 0) {
          if (std::string(static_cast<char*>(buf), len) != valueOf(i)) ++failures;
          s.freeData(buf);
          ++pops[i];
        } else if (rc != -9 || buf != nullptr) {
          ++failures;
        }
        rc = s.existTx0(nullptr, k.data(), k.size());
        if (rc != -9) ++failures;  // popped by now, by this thread or another
        // A record of this thread's own: add, update, remove.
        const std::string own = "own-" + std::to_string(t) + "-" + std::to_string(n % 16);
        if (s.putTx0(nullptr, own.data(), own.size(), "x", 1, mopra::PutPolicy::ADD) != 0)
          ++failures;
        if (s.putTx0(nullptr, own.data(), own.size(), "y", 1, mopra::PutPolicy::UPDATE) != 0)
          ++failures;
        if (s.removeTx0(nullptr, own.data(), own.size()) != 0) ++failures;
        // Removing a shared key that is gone answers +9.
        if (s.removeTx0(nullptr, k.data(), k.size()) != 9) ++failures;
      }
    });
  }
  for (std::thread& th : threads) th.join();

  EXPECT_EQ(0, failures.load());
  int wrong = 0;
  for (int i = 0; i < KEYS; ++i)
    if (pops[i] != 1) ++wrong;
  EXPECT_EQ(0, wrong);
  EXPECT_EQ(0, s.kc_count());
}

}  // namespace
