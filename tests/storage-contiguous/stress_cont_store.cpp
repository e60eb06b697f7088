// Concurrency stress of the contiguous store (rerun under ThreadSanitizer): rollover and
// retirement against readers and totals, close in the middle of puts, concurrent pops.
// Each test is bounded by a fixed amount of work, with fixed seeds.
#include <atomic>
#include <cstdio>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "src/wdb/kc/SKV_ContMKCStg.h"
#include "tests/storage-contiguous/cont_test_util.h"

using conttest::get;
using conttest::kMode;
using conttest::makeStore;
using conttest::put;
using conttest::ss;

namespace {

std::string keyOf(const char* prefix, unsigned n) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%s%08u", prefix, n);
  return buf;
}

struct Quiet {
  Quiet() {
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
  }
  ~Quiet() {
    out = testing::internal::GetCapturedStdout();
    err = testing::internal::GetCapturedStderr();
  }
  std::string out;
  std::string err;
};

class Count : public kyotocabinet::DB::Visitor {
 public:
  size_t n = 0;
  const char* visit_full(const char*, size_t, const char*, size_t, size_t*) override {
    ++n;
    return NOP;
  }
};

TEST(ContStress, RolloverAndRetirementAgainstReadersAndTotals) {
  conttest::TmpDir dir;
  auto s = makeStore(dir, 4, 25);
  const unsigned kKeys = 3000;
  std::atomic<unsigned> next(0);
  std::vector<std::atomic<int>> stored(kKeys);
  for (auto& a : stored) a = 0;
  std::atomic<bool> done(false);
  std::atomic<int> badValue(0), badPut(0);
  {
    Quiet q;
    ASSERT_EQ(0, s->open(kMode));
    ASSERT_EQ(0, s->setKeyMin("k0", 2));
    std::vector<std::thread> threads;
    for (int w = 0; w < 2; ++w)
      threads.emplace_back([&] {
        for (unsigned i; (i = next.fetch_add(1)) < kKeys;) {
          const std::string k = keyOf("k", i);
          const int r = put(*s, k, k);
          if (r == 0)
            stored[i] = 1;
          else if (r != -16)  // below the oldest partition once it was retired
            ++badPut;
        }
      });
    for (int rd = 0; rd < 2; ++rd)
      threads.emplace_back([&, rd] {
        std::mt19937 rng(17 + rd);
        while (!done.load()) {
          const unsigned top = next.load();
          if (top == 0) continue;
          const unsigned i = rng() % top;
          const std::string k = keyOf("k", i);
          const std::string v = get(*s, k);
          if (v[0] != '<' && v != k) ++badValue;
        }
      });
    threads.emplace_back([&] {
      while (!done.load()) {
        s->kc_count();
        s->kc_size();
        Count c;
        s->kc_iterate(&c, 0);
        s->getKeyMin();
        s->getKeyMax();
      }
    });
    for (int w = 0; w < 2; ++w) threads[w].join();
    done = true;
    for (size_t t = 2; t < threads.size(); ++t) threads[t].join();
  }
  EXPECT_EQ(0, badValue.load());
  EXPECT_EQ(0, badPut.load());
  // Every stored key at or above the oldest live partition is still there.
  const std::string keyMin = ss(s->getKeyMin());
  unsigned checked = 0;
  for (unsigned i = 0; i < kKeys; ++i) {
    const std::string k = keyOf("k", i);
    if (!stored[i] || k < keyMin) continue;
    ++checked;
    ASSERT_EQ(k, get(*s, k));
  }
  EXPECT_GT(checked, 50u);
  {
    Quiet q;
    s->close();
  }
  EXPECT_TRUE(conttest::exists(dir.file("data-0.kch.obs")));
}

TEST(ContStress, CloseInTheMiddleOfPutsKeepsEveryAcknowledgedKey) {
  conttest::TmpDir dir;
  // At most 10 rounds x 3 writers x 5000 keys = 150,000 records in partitions of 400: at most
  // 375 databases, well below the ~510 a process can hold open, however the threads are scheduled.
  auto s = makeStore(dir, 1000, 400);
  std::mt19937 rng(4242);
  std::vector<std::string> acked;
  std::mutex ackedMutex;
  for (int round = 0; round < 10; ++round) {
    {
      Quiet q;
      ASSERT_EQ(0, s->open(kMode));
      if (round == 0) {
        ASSERT_EQ(0, s->setKeyMin("a0", 2));
      }
    }
    std::atomic<bool> stop(false);
    std::vector<std::thread> writers;
    {
      Quiet q;
      for (int t = 0; t < 3; ++t)
        writers.emplace_back([&, t, round] {
          char prefix[16];
          std::snprintf(prefix, sizeof prefix, "r%02dt%d-", round, t);
          for (unsigned i = 0; !stop.load() && i < 5000; ++i) {
            const std::string k = keyOf(prefix, i);
            const int r = put(*s, k, k);
            if (r == 0) {
              std::lock_guard<std::mutex> l(ackedMutex);
              acked.push_back(k);
            } else if (r != -16) {  // -16: the store is closed
              ADD_FAILURE() << k << " " << r;
              return;
            }
          }
        });
      // Every third round closes at once, while the KeyMAX scan of the open may still run.
      if (round % 3 != 1) std::this_thread::sleep_for(std::chrono::milliseconds(5 + rng() % 40));
      s->close();
      stop = true;
      for (auto& w : writers) w.join();
    }
    EXPECT_EQ("", ss(s->getKeyMax())) << round;  // no scan marks KeyMAX after close
  }
  Quiet q;
  ASSERT_EQ(0, s->open(kMode));
  for (const std::string& k : acked) ASSERT_EQ(k, get(*s, k));
  s->close();
}

TEST(ContStress, EveryKeyIsPoppedExactlyOnce) {
  conttest::TmpDir dir;
  auto s = makeStore(dir, 1000, 200);
  const unsigned kKeys = 2000;
  {
    Quiet q;
    ASSERT_EQ(0, s->open(kMode));
    for (unsigned i = 0; i < kKeys; ++i) ASSERT_EQ(0, put(*s, keyOf("p", i), keyOf("v", i)));
  }
  std::vector<std::atomic<int>> popped(kKeys);
  for (auto& a : popped) a = 0;
  std::atomic<int> wrong(0);
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&, t] {
      std::vector<unsigned> order(kKeys);
      for (unsigned i = 0; i < kKeys; ++i) order[i] = i;
      std::shuffle(order.begin(), order.end(), std::mt19937(99 + t));
      for (unsigned i : order) {
        const std::string k = keyOf("p", i);
        void* buf = nullptr;
        size_t len = 0;
        const int r = s->popTx0(nullptr, &buf, &len, k.data(), k.size());
        if (r == 0) {
          if (std::string(static_cast<char*>(buf), len) != keyOf("v", i)) ++wrong;
          s->freeData(buf);
          ++popped[i];
        } else if (r != -9) {
          ++wrong;
        }
      }
    });
  for (auto& t : threads) t.join();
  EXPECT_EQ(0, wrong.load());
  for (unsigned i = 0; i < kKeys; ++i) ASSERT_EQ(1, popped[i].load()) << i;
  EXPECT_EQ(static_cast<int64_t>(kKeys / 200), s->kc_count());  // reserved records only
  Quiet q;
  s->close();
}

}  // namespace
