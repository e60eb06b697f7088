// bench_timer: the clocks and the percentile of the benchmarks' timing helper.
#include "bench/support/bench_timer.h"

#include <time.h>

#include <chrono>

namespace bench {

double now() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

int64_t now_ns() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

double cpu_now() {
  timespec ts;
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

int64_t percentile(std::vector<int64_t>& v, size_t percent) {
  std::sort(v.begin(), v.end());
  return v[v.size() * percent / 100];
}

}  // namespace bench
