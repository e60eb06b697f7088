// bench_timer: the clocks and timing loops the C++ benchmarks share: the steady clock, the
// thread's CPU clock, timing one call or a batch of calls, the best of alternating rounds of
// two contenders, work split over threads, rates and percentiles. Printing stays with each
// benchmark (their lines are parsed by the run.sh scripts).
//
// Nothing here allocates or owns anything. Every function is thread-safe: they read clocks
// and touch only what the caller passes.
#ifndef TOKA_BENCH_SUPPORT_BENCH_TIMER_H
#define TOKA_BENCH_SUPPORT_BENCH_TIMER_H

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <thread>
#include <vector>

namespace bench {

// Seconds on the steady clock from an arbitrary start: for differences only.
double now();
// Nanoseconds on the steady clock, for stamps handed between threads.
int64_t now_ns();
// This thread's CPU time in seconds: time spent waiting for a core is not counted.
double cpu_now();

// Wall seconds of one call of fn.
template <class Fn>
double time_once(Fn&& fn) {
  const double start = now();
  fn();
  return now() - start;
}

// CPU seconds per call of fn, calling it in batches of 8 until `seconds` of this thread's
// CPU time have passed (at least one batch).
template <class Fn>
double cpu_per_call(Fn&& fn, double seconds) {
  size_t calls = 0;
  const double start = cpu_now();
  const double stop = start + seconds;
  double t = start;
  do {
    for (int i = 0; i < 8; ++i) fn();
    calls += 8;
    t = cpu_now();
  } while (t < stop);
  return (t - start) / calls;
}

// After one warm-up call, the best CPU seconds per call of fn over `rounds` rounds that
// share `seconds` of CPU time.
template <class Fn>
double best_cpu_per_call(Fn&& fn, int rounds, double seconds) {
  fn();
  double best = 1e30;
  for (int r = 0; r < rounds; ++r) best = std::min(best, cpu_per_call(fn, seconds / rounds));
  return best;
}

// The best figure of each of two contenders measured in turn (a, b, a, b, ...) for `rounds`
// rounds, so that both see the same machine state: pick(best so far, figure) keeps the
// better one, starting from `none`. best_rates keeps the highest, best_times the lowest.
struct Pair {
  double a, b;
};
template <class Pick, class A, class B>
Pair best_alternating(int rounds, double none, Pick pick, A&& a, B&& b) {
  Pair best{none, none};
  for (int r = 0; r < rounds; ++r) {
    best.a = pick(best.a, a());
    best.b = pick(best.b, b());
  }
  return best;
}
template <class A, class B>
Pair best_rates(int rounds, A&& a, B&& b) {
  return best_alternating(
      rounds, 0.0, [](double x, double y) { return std::max(x, y); }, a, b);
}
template <class A, class B>
Pair best_times(int rounds, A&& a, B&& b) {
  return best_alternating(
      rounds, 1e30, [](double x, double y) { return std::min(x, y); }, a, b);
}

// Runs fn(t, begin, end) over [0, n) split evenly over `threads` threads (on this thread
// when threads <= 1) and waits for them.
template <class Fn>
void split_over_threads(unsigned threads, size_t n, Fn&& fn) {
  if (threads <= 1) {
    fn(0u, size_t(0), n);
    return;
  }
  std::vector<std::thread> pool;
  for (unsigned t = 0; t < threads; ++t)
    pool.emplace_back([&fn, t, b = n * t / threads, e = n * (t + 1) / threads] { fn(t, b, e); });
  for (std::thread& th : pool) th.join();
}

// Operations per second, and nanoseconds per operation, of `ops` operations in `seconds`.
inline double per_second(double ops, double seconds) { return ops / seconds; }
inline double ns_per_op(double seconds, double ops) { return seconds * 1e9 / ops; }

// The value at `percent` of v (v[size * percent / 100] once sorted); sorts v. v not empty.
int64_t percentile(std::vector<int64_t>& v, size_t percent);

}  // namespace bench

#endif  // TOKA_BENCH_SUPPORT_BENCH_TIMER_H
