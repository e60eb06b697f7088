// The notification queue alone against a std::deque + std::mutex + std::condition_variable
// queue, in one process: items/s for 1 producer / 1 consumer, 2 / 2 and 4 / 4 (consumers block when
// the queue is empty), and the hand-off latency p50/p99 from one producer to one blocked
// consumer. Payloads are 16-byte strings (pooled in the notification queue, standard in the
// baseline). usage: bench_nfqueue_cpp [items per producer] [hand-off samples] [rounds]
#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "bench/support/bench_timer.h"
#include "mopralib/inc/PocoEx/TNotificationQueue_impl.h"
#include "src/wdb/TNotification.h"

namespace {

// The baseline: one mutex, one condition variable, a deque of strings; empty string = stop.
class StdQueue {
 public:
  void put(std::string s) {
    {
      std::lock_guard<std::mutex> lock(_m);
      _q.push_back(std::move(s));
    }
    _cv.notify_one();
  }
  std::string take() {
    std::unique_lock<std::mutex> lock(_m);
    _cv.wait(lock, [this] { return !_q.empty(); });
    std::string s = std::move(_q.front());
    _q.pop_front();
    return s;
  }

 private:
  std::mutex _m;
  std::condition_variable _cv;
  std::deque<std::string> _q;
};

struct NfQueue {
  TNotificationQueue<wdb::INotification> q;
  typedef Poco::AutoPtr<wdb::INotification> Ptr;
  void put(const char* data, size_t n) {
    q.enqueueNotification(Ptr(wdb::QueueNotification::CTOR(xstring(data, n))));
  }
  // The payload's first 8 bytes (0 after a wake-up).
  int64_t take() {
    Ptr nf(q.waitDequeueNotification());
    if (nf.isNull()) return -1;
    const xstring& v = static_cast<const wdb::QueueNotification&>(*nf).value();
    int64_t x;
    std::memcpy(&x, v.data(), sizeof x);
    return x;
  }
};

// items/s with p producers and c consumers.
double throughputStd(int p, int c, int perProducer) {
  StdQueue q;
  std::vector<std::thread> ts;
  const int64_t t0 = bench::now_ns();
  for (int i = 0; i < c; ++i) {
    ts.emplace_back([&] {
      while (!q.take().empty()) {
      }
    });
  }
  std::vector<std::thread> ps;
  for (int i = 0; i < p; ++i) {
    ps.emplace_back([&] {
      for (int k = 0; k < perProducer; ++k) q.put(std::string(16, 'x'));
    });
  }
  for (auto& t : ps) t.join();
  for (int i = 0; i < c; ++i) q.put(std::string());
  for (auto& t : ts) t.join();
  return double(p) * perProducer * 1e9 / double(bench::now_ns() - t0);
}

double throughputNf(int p, int c, int perProducer) {
  NfQueue q;
  const int64_t total = int64_t(p) * perProducer;
  std::atomic<int64_t> received{0};
  std::vector<std::thread> ts;
  const int64_t t0 = bench::now_ns();
  for (int i = 0; i < c; ++i) {
    ts.emplace_back([&] {
      while (received.load(std::memory_order_relaxed) < total) {
        if (q.take() >= 0) received.fetch_add(1, std::memory_order_relaxed);
      }
    });
  }
  std::vector<std::thread> ps;
  char payload[16];
  std::memset(payload, 'x', sizeof payload);
  for (int i = 0; i < p; ++i) {
    ps.emplace_back([&] {
      for (int k = 0; k < perProducer; ++k) q.put(payload, sizeof payload);
    });
  }
  for (auto& t : ps) t.join();
  while (received.load() < total) std::this_thread::yield();
  const int64_t t1 = bench::now_ns();
  // Consumers still blocked leave on a wake-up.
  std::atomic<bool> joined{false};
  std::thread waker([&] {
    while (!joined.load()) {
      q.q.wakeUpAll();
      std::this_thread::sleep_for(std::chrono::microseconds(100));
    }
  });
  for (auto& t : ts) t.join();
  joined = true;
  waker.join();
  return double(total) * 1e9 / double(t1 - t0);
}

struct Latency {
  double p50, p99;
};

Latency percentiles(std::vector<int64_t>& v) {
  return {bench::percentile(v, 50) / 1e3, bench::percentile(v, 99) / 1e3};
}

// One producer, one consumer that is blocked at each send: the producer pauses before it
// stamps and sends, and the consumer measures arrival minus stamp.
template <typename Put, typename Take>
Latency handOff(int samples, Put put, Take take) {
  std::vector<int64_t> lat;
  lat.reserve(samples);
  std::thread consumer([&] {
    for (int i = 0; i < samples; ++i) {
      const int64_t stamp = take();
      lat.push_back(bench::now_ns() - stamp);
    }
  });
  for (int i = 0; i < samples; ++i) {
    std::this_thread::sleep_for(std::chrono::microseconds(200));
    put(bench::now_ns());
  }
  consumer.join();
  return percentiles(lat);
}

Latency handOffStd(int samples) {
  StdQueue q;
  return handOff(
      samples, [&](int64_t t) { q.put(std::string(reinterpret_cast<const char*>(&t), sizeof t)); },
      [&]() {
        std::string s = q.take();
        int64_t t;
        std::memcpy(&t, s.data(), sizeof t);
        return t;
      });
}

Latency handOffNf(int samples) {
  NfQueue q;
  return handOff(
      samples, [&](int64_t t) { q.put(reinterpret_cast<const char*>(&t), sizeof t); },
      [&]() { return q.take(); });
}

}  // namespace

int main(int argc, char** argv) {
  const int per = argc > 1 ? std::atoi(argv[1]) : 1000000;
  const int samples = argc > 2 ? std::atoi(argv[2]) : 2000;
  const int rounds = argc > 3 ? std::atoi(argv[3]) : 3;
  // The best of the rounds, each side in turn, so that a busy machine disturbs less.
  const int threads[] = {1, 2, 4};
  double best[3][2] = {};
  Latency lStd{1e18, 1e18}, lNf{1e18, 1e18};
  for (int r = 0; r < rounds; ++r) {
    for (int t = 0; t < 3; ++t) {
      const int n = threads[t];
      best[t][0] = std::max(best[t][0], throughputStd(n, n, per / n));
      best[t][1] = std::max(best[t][1], throughputNf(n, n, per / n));
    }
    Latency a = handOffStd(samples), b = handOffNf(samples);
    if (a.p50 < lStd.p50) lStd = a;
    if (b.p50 < lNf.p50) lNf = b;
  }
  for (int t = 0; t < 3; ++t) {
    std::printf(
        "RESULT cpp %dP%dC std-deque-cv %.2fM items/s  TNotificationQueue %.2fM items/s  ratio %.2fx\n",
        threads[t], threads[t], best[t][0] / 1e6, best[t][1] / 1e6, best[t][1] / best[t][0]);
  }
  std::printf(
      "RESULT cpp hand-off std-condition-variable p50 %.1f us p99 %.1f us  "
      "TNotificationQueue p50 %.1f us p99 %.1f us\n",
      lStd.p50, lStd.p99, lNf.p50, lNf.p99);
  return 0;
}
