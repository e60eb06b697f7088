// 16 threads mixing every table operation on a small LRU over 1,000 keys. Every value holds
// its key, a version and a checksum of both; every read, made under the key lock, must
// match the key it was looked up by. Afterwards the table's invariants hold and, once the
// table is cleared, every chunk of the entry pool is free again.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <map>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "mopralib/inc/xds/xlru_table_impl.h"
#include "tests/tessix-table/test_value.h"

namespace {

typedef xlru_table<TestEntry, TestValueHasher, TestValueHasher, TestValueComparator,
                   xtable_null_event<TestValue>, 1, 0>
    TestTable;

const int kThreads = 16;
const int kOpsPerThread = 4000;
const int kKeys = 1000;

std::string key_name(int k) { return "key-" + std::to_string(k); }

uint32_t checksum(const std::string& key, uint32_t version) {
  return uint32_t(jenkins_hasher::HASH(key + "#" + std::to_string(version)));
}

std::string value_for(const std::string& key, uint32_t version) {
  return key + "|" + std::to_string(version) + "|" + std::to_string(checksum(key, version));
}

// True when data is a value made for key.
bool matches(const std::string& key, const std::string& data) {
  const size_t a = data.find('|');
  const size_t b = data.find('|', a + 1);
  if (a == std::string::npos || b == std::string::npos) return false;
  if (data.compare(0, a, key) != 0) return false;
  const uint32_t version = uint32_t(std::stoul(data.substr(a + 1, b - a - 1)));
  return data.substr(b + 1) == std::to_string(checksum(key, version));
}

struct PoolFigures {
  uint64_t total = 0, free = 0;
  static void cb(void* c, const char* k, const char* v) {
    PoolFigures* f = static_cast<PoolFigures*>(c);
    if (std::string(k) == "total_chunks") f->total = std::stoull(v);
    if (std::string(k) == "free_chunks") f->free = std::stoull(v);
  }
};

class Stress : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    TestItem::INIT_POOL();
    TestLocks::construct(10000);
  }

  // Runs the mixed workload; returns the number of mismatched reads.
  static int run(TestTable& t, bool with_clear) {
    std::atomic<int> bad{0};
    std::atomic<uint32_t> version{0};
    std::vector<std::thread> threads;
    for (int id = 0; id < kThreads; ++id) {
      threads.emplace_back([&, id] {
        std::mt19937 rng(1234 + id);
        auto check = [&](TestItem& h, const std::string& key) {
          TestItem::scope_read_lock lock(h);
          if (str(h.data().key) != key || !matches(key, str(h.data().data))) ++bad;
        };
        for (int i = 0; i < kOpsPerThread; ++i) {
          const std::string key = key_name(int(rng() % kKeys));
          TestItem h;
          switch (rng() % 14) {
            case 0: t.add(h.ctor(TestValue(key, value_for(key, ++version)))); break;
            case 1: t.update(h.ctor(TestValue(key, value_for(key, ++version)))); break;
            case 2:
            case 3: t.add_or_update(h.ctor(TestValue(key, value_for(key, ++version)))); break;
            case 4: {
              TestItem out;
              t.warmup(&out, h.ctor(TestValue(key, value_for(key, ++version))), rng() % 2 == 0);
              if (!out.is_null()) check(out, key);
              break;
            }
            case 5:
            case 6:
              if (t.get_key(h, key)) check(h, key);
              break;
            case 7: t.has_key(key); break;
            case 8:
              if (t.pop_key(h, key)) check(h, key);
              break;
            case 9: t.remove_key(key); break;
            case 10:
              // Rewrites a shared value in place under its key lock.
              if (t.get_key(h, key)) {
                TestItem::scope_write_lock lock(h);
                h.data().data = value_for(key, ++version).c_str();
              }
              break;
            case 11:
              // The expired-item path: remove under the key lock, only if still the same.
              if (t.get_key(h, key)) {
                TestItem::scope_write_lock lock(h);
                if (!matches(key, str(h.data().data))) ++bad;
                t.remove_if_same(h);
              }
              break;
            case 12:
              // Copy-on-write of a shared entry, then a private change.
              if (t.get_key(h, key)) {
                {
                  TestItem::scope_read_lock lock(h);
                  h.self_clone();
                }
                h.data().data = value_for(key, ++version).c_str();
                if (rng() % 2 == 0) t.add_or_update(h);
              }
              break;
            default:
              if (with_clear && rng() % 64 == 0)
                t.clear();
              else
                t.size();
              break;
          }
        }
      });
    }
    for (auto& th : threads) th.join();
    return bad.load();
  }
};

TEST_F(Stress, SixteenThreadsOnASmallLru) {
  TestTable t(16, 8, false, true);
  EXPECT_EQ(0, run(t, true));
  EXPECT_TRUE(t.check_invariants());
  EXPECT_LE(t.size(), 8u);
  // No handle is left: the chunks in use are the table's entries.
  PoolFigures before;
  xpool_dump_info(TestItem::POOL(), &PoolFigures::cb, &before);
  EXPECT_EQ(t.size(), before.total - before.free);
  t.clear();
  PoolFigures f;
  xpool_dump_info(TestItem::POOL(), &PoolFigures::cb, &f);
  EXPECT_EQ(f.total, f.free);
}

TEST_F(Stress, SixteenThreadsWithDirtyTracking) {
  {
    TestTable t(200, 8, true, true);
    EXPECT_EQ(0, run(t, false));
    EXPECT_TRUE(t.check_invariants());
    t.clear();
    EXPECT_TRUE(t.check_invariants());
  }
  PoolFigures f;
  xpool_dump_info(TestItem::POOL(), &PoolFigures::cb, &f);
  EXPECT_EQ(f.total, f.free);
}

}  // namespace
