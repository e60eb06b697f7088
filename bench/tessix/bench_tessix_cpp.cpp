// The C++ side of the TessiX benchmark: the same gets and puts of 100-byte values as
// TessiBench.java (90% hits, 1, 2, 4 and 8 threads), through TessiGeneric without the JVM. The
// results go to a stand-in JNIEnv that copies each value into a per-thread buffer, so the
// figures hold the cache's work and one copy of the value; TessiJNI's figures minus these
// are the binding's cost.
// Pop mode: one thread pops one key that 1 or 3 writers put back to back (100 B values, and
// 64 KiB values stored compressed); pops/s and the results each pop made, mean and max (the
// stand-in counts them), so the cost of being overtaken by writers shows.
// usage: bench_tessix_cpp [items] [ops per thread] [rounds]
//        bench_tessix_cpp pop [pops per case] [seconds per case at most]
#include <jni.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "bench/support/bench_timer.h"
#include "src/TessiX_impl.h"

namespace {

thread_local std::vector<jbyte> t_result;
thread_local long t_made = 0;  // results made on this thread

jbyteArray JNICALL newByteArray(JNIEnv*, jsize n) {
  ++t_made;
  t_result.resize(static_cast<size_t>(n));
  return reinterpret_cast<jbyteArray>(&t_result);
}
void JNICALL deleteLocalRef(JNIEnv*, jobject) {}
void JNICALL setByteArrayRegion(JNIEnv*, jbyteArray a, jsize start, jsize len, const jbyte* buf) {
  std::memcpy(reinterpret_cast<std::vector<jbyte>*>(a)->data() + start, buf,
              static_cast<size_t>(len));
}

struct Env {
  JNINativeInterface_ table;
  JNIEnv env;
  Env() {
    std::memset(&table, 0, sizeof(table));
    table.NewByteArray = &newByteArray;
    table.SetByteArrayRegion = &setByteArrayRegion;
    table.DeleteLocalRef = &deleteLocalRef;
    env.functions = &table;
  }
};

std::vector<std::string> keys;
std::vector<std::vector<uint32_t>> draws;

double run(tessi::TessiGeneric& c, int threads, long ops, bool puts, const std::string& value) {
  std::atomic<int> ready(0);
  std::atomic<bool> go(false);
  std::atomic<long> sink(0);
  std::vector<std::thread> ts;
  for (int t = 0; t < threads; ++t) {
    ts.emplace_back([&, t]() {
      Env e;
      const std::vector<uint32_t>& d = draws[size_t(t)];
      ++ready;
      while (!go.load()) {
      }
      long local = 0;
      for (long i = 0; i < ops; ++i) {
        const std::string& k = keys[d[size_t(i) % d.size()]];
        if (puts) {
          c.put(k.data(), int(k.size()), value.data(), int(value.size()), true, 0, 3);
        } else if (c.get(&e.env, k.data(), int(k.size()), false) != nullptr) {
          local += t_result[0];
        }
      }
      sink += local;
    });
  }
  while (ready.load() < threads) {
  }
  const double seconds = bench::time_once([&] {
    go = true;
    for (std::thread& t : ts) t.join();
  });
  return bench::per_second(double(threads) * double(ops), seconds);
}

// One popper against writers of its key: pops/s of the pops that found it, and the results
// made per pop (mean over those pops, max over all). Stops after pops pops or the time limit.
void popUnderWriters(int writers, size_t size, int pops, double limitSeconds) {
  tessi::TessiGeneric c(1024, 64);
  c.setCompressMed(1);  // 100 B stays under the threshold; 64 KiB is stored compressed
  std::atomic<bool> stop(false);
  std::atomic<int> started(0);
  std::vector<std::thread> ws;
  for (int w = 0; w < writers; ++w) {
    ws.emplace_back([&, w]() {
      std::vector<std::string> values;
      for (int n = 0; n < 4; ++n) {
        std::string v(size, 'a');
        for (size_t i = 0; i < size; ++i) v[i] = char('a' + (w * 7 + n + int(i / 1024)) % 26);
        values.push_back(v);
      }
      ++started;
      for (size_t n = 0; !stop.load(std::memory_order_relaxed); ++n) {
        const std::string& v = values[n % values.size()];
        c.put("k", 1, v.data(), int(v.size()), true, 0, 3);
      }
    });
  }
  while (started.load() < writers) {
  }
  Env e;
  long made = 0, most = 0;
  int popped = 0;
  const int64_t t0 = bench::now_ns();
  const int64_t end = t0 + int64_t(limitSeconds * 1e9);
  while (popped < pops && bench::now_ns() < end) {
    const long before = t_made;
    const bool found = c.pop(&e.env, "k", 1, false) != nullptr;
    const long m = t_made - before;
    most = std::max(most, m);
    if (found) {
      ++popped;
      made += m;
    }
  }
  const double seconds = double(bench::now_ns() - t0) / 1e9;
  stop = true;
  for (std::thread& t : ws) t.join();
  std::printf(
      "RESULT pop writers %d value %zu%s %.0f pops/s results per pop mean %.2f max %ld (%d pops)\n",
      writers, size, size > 128 ? " compressed" : "", popped / seconds,
      popped ? double(made) / popped : 0.0, most, popped);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1 && std::string(argv[1]) == "pop") {
    const int pops = argc > 2 ? std::atoi(argv[2]) : 2000;
    const double limit = argc > 3 ? std::atof(argv[3]) : 20;
    for (size_t size : {size_t(100), size_t(64 << 10)}) {
      for (int writers : {1, 3}) popUnderWriters(writers, size, pops, limit);
    }
    return 0;
  }
  const int items = argc > 1 ? std::atoi(argv[1]) : 100000;
  const long ops = argc > 2 ? std::atol(argv[2]) : 2000000;
  const int rounds = argc > 3 ? std::atoi(argv[3]) : 3;
  const int space = int(items / 0.9);
  char buf[32];
  for (int i = 0; i < space; ++i) {
    std::snprintf(buf, sizeof buf, "key-%012d", i);
    keys.push_back(buf);
  }
  draws.resize(8);
  for (int t = 0; t < 8; ++t) {
    std::mt19937 rng(static_cast<unsigned>(t));
    draws[size_t(t)].resize(1 << 20);
    for (uint32_t& d : draws[size_t(t)]) d = rng() % uint32_t(space);
  }
  std::string value(100, 'a');
  for (size_t i = 0; i < value.size(); ++i) value[i] = char('a' + i % 26);
  for (int threads : {1, 2, 4, 8}) {
    tessi::TessiGeneric c(int64_t(items) * 2, items);
    for (int i = 0; i < items; ++i) {
      c.put(keys[size_t(i)].data(), int(keys[size_t(i)].size()), value.data(), int(value.size()),
            true, 0, 3);
    }
    run(c, threads, ops / 4, false, value);  // warm-up
    double get = 0, put = 0;
    for (int r = 0; r < rounds; ++r) get = std::max(get, run(c, threads, ops, false, value));
    for (int r = 0; r < rounds; ++r) put = std::max(put, run(c, threads, ops / 2, true, value));
    std::printf("RESULT cpp threads %d get %.0f ops/s %.1f ns/op put %.0f ops/s %.1f ns/op\n",
                threads, get, 1e9 * threads / get, put, 1e9 * threads / put);
  }
  return 0;
}
