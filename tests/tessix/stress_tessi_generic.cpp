// Concurrency of the cache (label stress, run under ThreadSanitizer in CI).
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "src/TessiX_impl.h"
#include "tests/tessix/fake_jni.h"

using tessi::TessiGeneric;

namespace {

// A writer puts an expired value and then a fresh one under one key while 8 readers get it:
// a reader that found the expired entry must not remove the fresh one put meanwhile.
TEST(TessiGenericStress, ExpiredRemovalSparesAFreshPut) {
  TessiGeneric c(64, 64);
  std::atomic<bool> stop(false);
  std::vector<std::thread> readers;
  for (int r = 0; r < 8; ++r) {
    readers.emplace_back([&]() {
      FakeJni jni;
      while (!stop.load(std::memory_order_relaxed)) {
        FakeJni::takeBytes(c.get(jni.env(), "key", 3, false));
        c.exist("key", 3, true);
      }
    });
  }
  int lost = 0;
  for (int i = 0; i < 20000; ++i) {
    c.put("key", 3, "old", 3, true, -1, 3);
    c.put("key", 3, "new", 3, true, 0, 3);
    if (!c.exist("key", 3, false)) ++lost;
  }
  stop = true;
  for (std::thread& t : readers) t.join();
  EXPECT_EQ(lost, 0);
}

// 8 threads pop the keys that one writer puts (and sometimes replaces), while others remove
// and evict: every pop that answers takes an item no other pop answered with.
TEST(TessiGenericStress, EachItemIsPoppedOnce) {
  const int kKeys = 64, kRounds = 3000;
  TessiGeneric c(128, 48);
  std::atomic<bool> stop(false);
  std::vector<std::atomic<int>> popped(kKeys * kRounds);
  for (auto& n : popped) n.store(0);
  std::vector<std::thread> poppers;
  for (int t = 0; t < 8; ++t) {
    poppers.emplace_back([&, t]() {
      FakeJni jni;
      std::mt19937 rng(t);
      while (!stop.load(std::memory_order_relaxed)) {
        const std::string key = "k" + std::to_string(rng() % kKeys);
        const bool asString = rng() % 2 == 0;
        jobject o = c.pop(jni.env(), key.data(), int(key.size()), asString);
        const std::string v = asString ? FakeJni::stringOf(o) : FakeJni::bytesOf(o);
        if (v != "<null>") popped[std::stoi(v)].fetch_add(1);
        if (t == 0 && rng() % 16 == 0) c.remove(key.data(), int(key.size()));
      }
    });
  }
  for (int r = 0; r < kRounds; ++r) {
    for (int k = 0; k < kKeys; ++k) {
      const std::string key = "k" + std::to_string(k);
      const std::string v = std::to_string(r * kKeys + k);
      c.put(key.data(), int(key.size()), v.data(), int(v.size()), true, 0, 3);
    }
  }
  stop = true;
  for (std::thread& t : poppers) t.join();
  int twice = 0;
  for (auto& n : popped) twice += n.load() > 1;
  EXPECT_EQ(twice, 0);
}

// A value that embeds its key and a checksum of its body.
std::string value(int key, size_t n) {
  std::string v(n < 16 ? 16 : n, 'a');
  for (size_t i = 8; i < v.size(); ++i) v[i] = char('a' + (key * 7 + int(i)) % 26);
  char head[9];
  snprintf(head, sizeof head, "%08d", key);
  std::memcpy(&v[0], head, 8);
  uint32_t sum = 0;
  for (size_t i = 0; i + 8 < v.size(); ++i) sum = sum * 31 + uint8_t(v[i]);
  snprintf(head, sizeof head, "%08x", sum);
  std::memcpy(&v[v.size() - 8], head, 8);
  return v;
}

bool valid(int key, const std::string& v) {
  if (v == "<null>") return true;
  return v.size() >= 16 && v == value(key, v.size());
}

// A JNIEnv over FakeJni whose NewByteArray and NewStringUTF fail on every other call of its
// thread, as with a heap that is nearly full.
class HalfFullHeapJni {
 public:
  HalfFullHeapJni() : _table(*_ok.env()->functions) {
    _table.NewByteArray = [](JNIEnv* env, jsize n) -> jbyteArray {
      return fails() ? nullptr : ok().NewByteArray(env, n);
    };
    _table.NewStringUTF = [](JNIEnv* env, const char* s) -> jstring {
      return fails() ? nullptr : ok().NewStringUTF(env, s);
    };
    _env.functions = &_table;
  }
  JNIEnv* env() { return &_env; }

 private:
  static const JNINativeInterface_& ok() {
    static FakeJni fake;
    return *fake.env()->functions;
  }
  static bool fails() {
    thread_local unsigned n = 0;
    return ++n % 2 == 0;
  }
  FakeJni _ok;
  JNINativeInterface_ _table;
  JNIEnv _env;
};

// 3 writers put unique compressed values under one key back to back while 3 threads pop it,
// one of them on a heap whose results fail every other time (its pops give their item back):
// every value popped was put, and none is popped twice.
TEST(TessiGenericStress, PopsUnderWritersOfOneKey) {
  const int kWriters = 3, kPuts = 4000;
  TessiGeneric c(64, 16);
  c.setCompressMed(1);
  c.setThresholdComp(16);
  std::atomic<bool> stop(false);
  std::vector<std::atomic<int>> popped(kWriters * kPuts);
  for (auto& n : popped) n.store(0);
  std::atomic<int> bad(0);
  std::vector<std::thread> poppers;
  for (int t = 0; t < 3; ++t) {
    poppers.emplace_back([&, t]() {
      FakeJni jni;
      HalfFullHeapJni half;
      JNIEnv* env = t == 0 ? half.env() : jni.env();
      while (!stop.load(std::memory_order_relaxed)) {
        const bool asString = t == 1;
        jobject o = c.pop(env, "k", 1, asString);
        const std::string v = asString ? FakeJni::stringOf(o) : FakeJni::bytesOf(o);
        if (v == "<null>") continue;
        const int id = std::atoi(v.c_str());
        if (id < 0 || id >= kWriters * kPuts || v != value(id, 64)) {
          bad.fetch_add(1);
        } else {
          popped[size_t(id)].fetch_add(1);
        }
      }
    });
  }
  std::vector<std::thread> writers;
  for (int w = 0; w < kWriters; ++w) {
    writers.emplace_back([&, w]() {
      for (int i = 0; i < kPuts; ++i) {
        const std::string v = value(w * kPuts + i, 64);
        c.put("k", 1, v.data(), int(v.size()), true, 0, 3);
      }
    });
  }
  for (std::thread& t : writers) t.join();
  stop = true;
  for (std::thread& t : poppers) t.join();
  int twice = 0, any = 0;
  for (auto& n : popped) {
    twice += n.load() > 1;
    any += n.load() > 0;
  }
  EXPECT_EQ(bad.load(), 0);
  EXPECT_EQ(twice, 0);
  EXPECT_GT(any, 0);
}

// 16 threads over 1,000 keys mixing every operation on a tiny LRU, values compressed or
// not, lengths at the class sizes: every value read matches its key.
TEST(TessiGenericStress, SixteenThreadsMixEveryOperation) {
  TessiGeneric c(16, 8);
  c.setCompressMed(1);
  std::atomic<int> bad(0);
  const size_t lengths[] = {16, 100, 129, 133, 167, 210, 278, 1000};
  std::vector<std::thread> threads;
  for (int t = 0; t < 16; ++t) {
    threads.emplace_back([&, t]() {
      FakeJni jni;
      std::mt19937 rng(t);
      for (int i = 0; i < 4000; ++i) {
        const int k = int(rng() % 1000);
        const std::string key = "key" + std::to_string(k);
        const int kl = int(key.size());
        switch (rng() % 10) {
          case 0:
          case 1: {
            const std::string v = value(k, lengths[rng() % 8]);
            c.put(key.data(), kl, v.data(), int(v.size()), rng() % 8 != 0, rng() % 4 == 0 ? -1 : 0,
                  1 + int(rng() % 3));
            break;
          }
          case 2:
            if (!valid(k, FakeJni::bytesOf(c.get(jni.env(), key.data(), kl, false)))) ++bad;
            break;
          case 3:
            if (!valid(k, FakeJni::stringOf(c.get(jni.env(), key.data(), kl, true)))) ++bad;
            break;
          case 4:
            if (!valid(k, FakeJni::bytesOf(c.pop(jni.env(), key.data(), kl, false)))) ++bad;
            break;
          case 5:
            c.exist(key.data(), kl, rng() % 2 == 0);
            c.remove(key.data(), kl);
            break;
          case 6:
            c.setItemFlag(key.data(), kl, 0xFFFC, 2);
            c.getItemFlag(key.data(), kl);
            break;
          case 7:
            c.extItemTimeExp(key.data(), kl, 10);
            c.getItemTimeExp(key.data(), kl);
            break;
          case 8:
            c.setThresholdComp(int(rng() % 300));
            c.size();
            break;
          default:
            if (rng() % 100 == 0) c.clear();
            if (!valid(k, FakeJni::stringOf(c.pop(jni.env(), key.data(), kl, true)))) ++bad;
        }
      }
    });
  }
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(bad.load(), 0);
  EXPECT_LE(c.size(), 8u + 16u);  // eviction runs after the table lock is released
}

}  // namespace
