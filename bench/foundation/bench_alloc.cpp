// Allocator benchmark. Each thread keeps a ring of about 1000 live blocks and replaces one
// block per step (free the oldest, allocate a new one), with sizes drawn uniformly from
// 8-64 or 8-2048 bytes. Prints ns per alloc/free pair (wall time per thread) and the ratio
// to glibc malloc/free measured in the same run, and the same in CPU time of the thread
// ("cpu ns"), which leaves out the time a thread waited for a core on a loaded machine.
//
// The "bursts" workload (fourth argument) instead has each thread allocate 64 blocks of
// mixed sizes and then free all 64, over and over, so that pool pages empty and refill all
// the time; it prints ns per pair per thread and the aggregate rate of all threads
// ("M pairs/s", the slowest thread's time counting for all).
//
// jemalloc, mimalloc and tcmalloc are loaded with dlopen(RTLD_LOCAL) and used only through
// their prefixed entry points (mallocx/dallocx, mi_malloc/mi_free, tc_malloc/tc_free), so
// glibc's malloc stays the process allocator.
//
// "bench_alloc contended [pairs per thread] [thread counts]": many threads on one lock, with
// the allocator lock's two release kinds (plain store, exchange) in the same process: "pool",
// every thread replacing blocks of a ring of 64 in one shared 32-byte pool (xpool_alloc,
// xpool_free); "lock", a bare lock around a counter with a yield every 64th time inside.
// Prints aggregate pairs (or lock passes) per second, medians of five alternated rounds, and
// plain over exchange.
#include <dlfcn.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "bench/support/bench_timer.h"
#include "src/xlabs.h"
#include "src/xlock.h"

namespace {

struct Impl {
  std::string name;
  void* (*alloc)(size_t);
  void (*release)(void*);
};

void* (*je_mallocx)(size_t, int) = nullptr;
void (*je_dallocx)(void*, int) = nullptr;
void* je_alloc(size_t n) { return je_mallocx(n, 0); }
void je_free(void* p) { je_dallocx(p, 0); }

template <typename F>
bool load(const char* lib, const char* sym, F* out, std::string* why) {
  void* h = dlopen(lib, RTLD_NOW | RTLD_LOCAL);
  if (h == nullptr) {
    *why = dlerror();
    return false;
  }
  void* s = dlsym(h, sym);
  if (s == nullptr) {
    *why = std::string("no symbol ") + sym;
    return false;
  }
  *out = reinterpret_cast<F>(s);
  return true;
}

const size_t kRing = 1000;
const size_t kSizes = 1 << 16;

std::vector<size_t> make_sizes(size_t lo, size_t hi, unsigned seed) {
  std::mt19937 rng(seed);
  std::uniform_int_distribution<size_t> d(lo, hi);
  std::vector<size_t> v(kSizes);
  for (auto& s : v) s = d(rng);
  return v;
}

struct Figures {
  double wall = 0, cpu = 0;  // ns per pair
};

void ring_run(const Impl& impl, const std::vector<size_t>& sizes, size_t iters, Figures* out) {
  std::vector<void*> ring(kRing);
  for (size_t i = 0; i < kRing; ++i) {
    ring[i] = impl.alloc(sizes[i]);
    static_cast<char*>(ring[i])[0] = 1;
  }
  auto pass = [&](size_t n) {
    size_t slot = 0, k = kRing;
    for (size_t i = 0; i < n; ++i) {
      impl.release(ring[slot]);
      void* p = impl.alloc(sizes[k]);
      static_cast<char*>(p)[0] = static_cast<char>(i);
      ring[slot] = p;
      if (++slot == kRing) slot = 0;
      k = (k + 1) & (kSizes - 1);
    }
  };
  pass(iters / 4);  // warm-up
  const double t0 = bench::now();
  const double c0 = bench::cpu_now();
  pass(iters);
  const double c1 = bench::cpu_now();
  const double t1 = bench::now();
  for (void* p : ring) impl.release(p);
  out->wall = bench::ns_per_op(t1 - t0, static_cast<double>(iters));
  out->cpu = bench::ns_per_op(c1 - c0, static_cast<double>(iters));
}

typedef void (*run_func)(const Impl& impl, const std::vector<size_t>& sizes, size_t iters,
                         Figures* out);

// Best of three runs of `run` (ring_run or burst_run) on each thread; with several threads,
// the slowest thread of a run counts (wall and CPU time each on their own).
Figures measure(run_func run, const Impl& impl, const std::vector<std::vector<size_t>>& sizes,
                int threads, size_t iters) {
  Figures best{1e30, 1e30};
  for (int rep = 0; rep < 3; ++rep) {
    std::vector<Figures> f(threads);
    std::vector<std::thread> pool;
    for (int t = 0; t < threads; ++t)
      pool.emplace_back(run, std::cref(impl), std::cref(sizes[t]), iters, &f[t]);
    for (auto& th : pool) th.join();
    Figures worst;
    for (const Figures& x : f) {
      worst.wall = std::max(worst.wall, x.wall);
      worst.cpu = std::max(worst.cpu, x.cpu);
    }
    best.wall = std::min(best.wall, worst.wall);
    best.cpu = std::min(best.cpu, worst.cpu);
  }
  return best;
}

// One contended lock, many threads: each runs `pairs` steps of the workload, all started
// together; the result is aggregate steps per second (wall time from the start to the last
// thread's end).
struct Contended {
  const char* name;
  void (*run)(size_t pairs);
};

xpool* g_shared_pool = nullptr;
pthread_mutex_t g_shared_lock = PTHREAD_MUTEX_INITIALIZER;
uint64_t g_shared_counter = 0;

void pool_steps(size_t pairs) {
  void* ring[64];
  for (void*& p : ring) p = xpool_alloc(g_shared_pool);
  for (size_t i = 0; i < pairs; ++i) {
    void*& slot = ring[i & 63];
    xpool_free(slot);
    slot = xpool_alloc(g_shared_pool);
    static_cast<char*>(slot)[0] = static_cast<char>(i);
  }
  for (void* p : ring) xpool_free(p);
}

void lock_steps(size_t pairs) {
  for (size_t i = 0; i < pairs; ++i) {
    xlock_acquire(&g_shared_lock);
    ++g_shared_counter;
    if ((i & 63) == 0) std::this_thread::yield();
    xlock_release(&g_shared_lock);
  }
}

double contended_rate(const Contended& c, int threads, size_t pairs) {
  std::atomic<int> ready{0};
  std::atomic<bool> go{false};
  std::vector<std::thread> pool;
  for (int t = 0; t < threads; ++t)
    pool.emplace_back([&] {
      ready.fetch_add(1);
      while (!go.load()) std::this_thread::yield();
      c.run(pairs);
    });
  while (ready.load() < threads) std::this_thread::yield();
  const double t0 = bench::now();
  go.store(true);
  for (auto& th : pool) th.join();
  return static_cast<double>(pairs) * threads / (bench::now() - t0);
}

int contended_main(size_t pairs, const char* thread_counts) {
  init_xallocator();
  g_shared_pool = xlabs_get_pool(default_xlabs, 32);
  const bool membarrier = xlock_detail::plain_release;
  if (!membarrier) std::printf("# membarrier not available: both kinds exchange\n");
  const Contended loads[] = {{"pool", pool_steps}, {"lock", lock_steps}};
  std::printf("%-6s %7s %14s %14s %8s\n", "load", "threads", "plain M/s", "exchange M/s", "ratio");
  for (const char* c = thread_counts; *c != 0;) {
    const int threads = std::atoi(c);
    for (const Contended& load : loads) {
      // Median of five alternated rounds per kind; one thread runs 100 times the steps.
      const size_t n = threads == 1 ? pairs * 100 : pairs;
      std::vector<double> rates[2];
      for (int rep = 0; rep < 5; ++rep)
        for (int kind = 0; kind < 2; ++kind) {
          xlock_detail::plain_release = kind == 0 && membarrier;  // no thread holds a lock here
          rates[kind].push_back(contended_rate(load, threads, n));
        }
      xlock_detail::plain_release = membarrier;
      double median[2];
      for (int kind = 0; kind < 2; ++kind) {
        std::sort(rates[kind].begin(), rates[kind].end());
        median[kind] = rates[kind][2];
      }
      std::printf("%-6s %7d %14.2f %14.2f %7.2fx\n", load.name, threads, median[0] / 1e6,
                  median[1] / 1e6, median[0] / median[1]);
      std::fflush(stdout);
    }
    const char* comma = std::strchr(c, ',');
    if (comma == nullptr) break;
    c = comma + 1;
  }
  uninit_xallocator();
  return 0;
}

const size_t kBurst = 64;

// One thread's bursts: kBurst allocations, each block touched, then kBurst frees in the same
// order; iters pairs in all (rounded down to whole bursts).
void burst_run(const Impl& impl, const std::vector<size_t>& sizes, size_t iters, Figures* out) {
  void* blocks[kBurst];
  size_t k = 0;
  auto pass = [&](size_t bursts) {
    for (size_t b = 0; b < bursts; ++b) {
      for (size_t i = 0; i < kBurst; ++i) {
        void* p = impl.alloc(sizes[k]);
        static_cast<char*>(p)[0] = static_cast<char>(i);
        blocks[i] = p;
        k = (k + 1) & (kSizes - 1);
      }
      for (size_t i = 0; i < kBurst; ++i) impl.release(blocks[i]);
    }
  };
  const size_t bursts = iters / kBurst;
  pass(bursts / 4);  // warm-up
  const double t0 = bench::now();
  const double c0 = bench::cpu_now();
  pass(bursts);
  const double c1 = bench::cpu_now();
  const double t1 = bench::now();
  out->wall = bench::ns_per_op(t1 - t0, static_cast<double>(bursts * kBurst));
  out->cpu = bench::ns_per_op(c1 - c0, static_cast<double>(bursts * kBurst));
}

void burst_print(const Impl& impl, const char* mix, int threads, const Figures& f,
                 const Figures& glibc) {
  std::printf("%-10s %-8s %7d %12.1f %9.2fx %12.1f %10.1f %9.2fx\n", impl.name.c_str(), mix,
              threads, f.wall, f.wall / glibc.wall, threads * 1e3 / f.wall, f.cpu,
              f.cpu / glibc.cpu);
  std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
  // jemalloc's library uses initial-exec TLS; loading it with dlopen needs glibc to keep
  // some static TLS in reserve, which only the environment at start-up can ask for.
  if (std::getenv("GLIBC_TUNABLES") == nullptr) {
    setenv("GLIBC_TUNABLES", "glibc.rtld.optional_static_tls=65536", 1);
    execv("/proc/self/exe", argv);
  }
  if (argc > 1 && std::strcmp(argv[1], "contended") == 0)
    return contended_main(argc > 2 ? std::strtoull(argv[2], nullptr, 10) : 20000,
                          argc > 3 ? argv[3] : "1,16,32,64");
  size_t iters = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 2000000;
  const char* only = argc > 2 ? argv[2] : nullptr;  // run just these allocators (comma list)
  const char* thread_counts = argc > 3 ? argv[3] : "1,8";
  const bool bursts = argc > 4 && std::strcmp(argv[4], "bursts") == 0;  // else the ring
  init_xallocator();

  std::vector<Impl> impls = {{"glibc", std::malloc, std::free}, {"xa", xa_malloc, xa_free}};
  std::string why;
  if (load("libjemalloc.so.2", "mallocx", &je_mallocx, &why) &&
      load("libjemalloc.so.2", "dallocx", &je_dallocx, &why))
    impls.push_back({"jemalloc", je_alloc, je_free});
  else
    std::printf("# jemalloc not used: %s\n", why.c_str());
  void* (*mi_alloc)(size_t) = nullptr;
  void (*mi_release)(void*) = nullptr;
  if (load("libmimalloc.so.2", "mi_malloc", &mi_alloc, &why) &&
      load("libmimalloc.so.2", "mi_free", &mi_release, &why))
    impls.push_back({"mimalloc", mi_alloc, mi_release});
  else
    std::printf("# mimalloc not used: %s\n", why.c_str());
  void* (*tc_alloc)(size_t) = nullptr;
  void (*tc_release)(void*) = nullptr;
  if (load("libtcmalloc_minimal.so.4", "tc_malloc", &tc_alloc, &why) &&
      load("libtcmalloc_minimal.so.4", "tc_free", &tc_release, &why))
    impls.push_back({"tcmalloc", tc_alloc, tc_release});
  else
    std::printf("# tcmalloc not used: %s\n", why.c_str());

  struct Mix {
    const char* name;
    size_t lo, hi;
  } mixes[] = {{"8-64", 8, 64}, {"8-2048", 8, 2048}};
  if (bursts)
    std::printf("%-10s %-8s %7s %12s %10s %12s %10s %10s\n", "allocator", "mix", "threads",
                "ns/pair", "vs glibc", "M pairs/s", "cpu ns", "vs glibc");
  else
    std::printf("%-10s %-8s %7s %12s %10s %10s %10s\n", "allocator", "mix", "threads", "ns/pair",
                "vs glibc", "cpu ns", "vs glibc");
  std::vector<int> counts;
  for (const char* c = thread_counts; *c != 0;) {
    counts.push_back(std::atoi(c));
    const char* comma = std::strchr(c, ',');
    if (comma == nullptr) break;
    c = comma + 1;
  }
  for (int threads : counts) {
    for (const Mix& mix : mixes) {
      std::vector<std::vector<size_t>> sizes;
      for (int t = 0; t < threads; ++t) sizes.push_back(make_sizes(mix.lo, mix.hi, 17 + t));
      const size_t n = threads == 1 ? iters : iters / 2;
      Figures glibc;
      for (const Impl& impl : impls) {
        if (only != nullptr && impl.name != "glibc" &&
            std::string(",").append(only).append(",").find("," + impl.name + ",") ==
                std::string::npos)
          continue;
        if (bursts) {
          const Figures f = measure(burst_run, impl, sizes, threads, n);
          if (impl.name == "glibc") glibc = f;
          burst_print(impl, mix.name, threads, f, glibc);
          continue;
        }
        const Figures f = measure(ring_run, impl, sizes, threads, n);
        if (impl.name == "glibc") glibc = f;
        std::printf("%-10s %-8s %7d %12.1f %9.2fx %10.1f %9.2fx\n", impl.name.c_str(), mix.name,
                    threads, f.wall, f.wall / glibc.wall, f.cpu, f.cpu / glibc.cpu);
        std::fflush(stdout);
      }
    }
  }
  uninit_xallocator();
  return 0;
}
