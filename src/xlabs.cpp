#include "src/xlabs.h"

#include <atomic>
#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <new>
#include <unordered_set>

#include "default_config.h"
#include "src/xcheck.h"
#include "src/xlock.h"

xlabs* default_xlabs = nullptr;
xlabs* default_xbiglabs = nullptr;
xlabs* default_xhugelabs = nullptr;

namespace {

const uint64_t kDefaultMaxPools = 200;
const size_t kNullpoolAlign = 4096;

// Process-wide state: 0 not started, 1 running, 2 stopped (never back).
std::atomic<int> init_state{0};
pthread_mutex_t init_lock = PTHREAD_MUTEX_INITIALIZER;

// Fork handlers (registered when the library is loaded; defined at the end of this file).
void fork_prepare();
void fork_release_parent();
void fork_release_child();

// Largest classes of default_xlabs and default_xbiglabs, cached for the request path.
std::atomic<uint64_t> s_max_small{0};
std::atomic<uint64_t> s_max_big{0};
// Largest class of all three default sets; survives the stop (see xa_max_class_size).
std::atomic<uint64_t> s_max_any{0};

// Size-to-entry index of a default set, so that the request path needs no search. Sizes
// are grouped in buckets of 2^shift bytes, shift chosen so that no bucket holds two class
// boundaries: first[b] counts the classes below the bucket's smallest size, and the answer
// for any size of the bucket is first[b] or first[b] + 1. len 0: no index (search).
const uint64_t kIndexMax = 4096;
struct size_index {
  uint32_t shift;
  uint32_t len;
  uint8_t first[kIndexMax];
};

// Each static pool record starts a cache line of its own, so that threads working on
// neighbouring classes do not write to one line.
struct alignas(64) line_pool {
  xpool pool;
};

// Static records of the default sets with their arrays of 200 pool records.
struct alignas(64) default_set_storage {
  alignas(xlabs) unsigned char record[sizeof(xlabs) + kDefaultMaxPools * sizeof(xlab_entry)];
  line_pool pools[kDefaultMaxPools];
  size_index index;
};

// Stripes: default_xlabs and default_xbiglabs exist in kStripes copies with the same
// classes, stripe k over copy k of the set's page allocator; a thread allocates from the
// copy of its stripe, so threads on different stripes write no common line on the request
// path (the page allocator's copies share their free-page limit in batches, src/xpage.h). A
// chunk is freed into the pool that owns its page, whichever thread frees it. Stripe 0 is
// the published record (default_xlabs, ...): lookups, xlabs_get_pool and the dumps go
// through it, and its pools report the sums over their copies (xpool::stripe_next). The
// first thread to allocate gets stripe 0, so a one-thread process uses stripe 0 only.
// default_xhugelabs is not striped: its pages are 24 MiB each.
const unsigned kStripes = XPAGE_STRIPES;
default_set_storage s_xlabs[kStripes], s_xbiglabs[kStripes], s_xhugelabs[1];

struct set_family {
  default_set_storage* stripes;  // null: not a default set
  unsigned count;
};

inline xlabs* record_of(default_set_storage* st) { return reinterpret_cast<xlabs*>(st->record); }

// The family whose published record is set.
inline set_family family_of(const xlabs* set) {
  const unsigned char* p = reinterpret_cast<const unsigned char*>(set);
  if (p == s_xlabs[0].record) return {s_xlabs, kStripes};
  if (p == s_xbiglabs[0].record) return {s_xbiglabs, kStripes};
  if (p == s_xhugelabs[0].record) return {s_xhugelabs, 1};
  return {nullptr, 0};
}

// The storage of a set record of any stripe, or null for a set made by new_xlabs.
template <size_t N>
inline default_set_storage* storage_in(default_set_storage (&family)[N], const unsigned char* p) {
  const unsigned char* base = reinterpret_cast<const unsigned char*>(family);
  if (p < base || p >= base + sizeof family) return nullptr;
  default_set_storage* st = &family[static_cast<size_t>(p - base) / sizeof(default_set_storage)];
  return st->record == p ? st : nullptr;
}
inline default_set_storage* storage_of(const xlabs* set) {
  const unsigned char* p = reinterpret_cast<const unsigned char*>(set);
  if (default_set_storage* st = storage_in(s_xlabs, p)) return st;
  if (default_set_storage* st = storage_in(s_xbiglabs, p)) return st;
  return storage_in(s_xhugelabs, p);
}
inline size_index* index_of(const xlabs* set) {
  default_set_storage* st = storage_of(set);
  return st != nullptr ? &st->index : nullptr;
}

// The calling thread's stripe, chosen at its first allocation: the one with the fewest
// live threads, the lowest on a tie, so that the first thread gets stripe 0 and a thread
// that replaces one that ended takes over its stripe (and its warm free pages). A thread
// that ends gives its place back (stripe_release, a thread_local destructor registered
// only then, off the request path).
std::atomic<uint32_t> s_stripe_threads[kStripes];
thread_local int t_stripe = -1;
struct stripe_release {
  int stripe = -1;
  ~stripe_release() {
    if (stripe >= 0) s_stripe_threads[stripe].fetch_sub(1, std::memory_order_relaxed);
  }
};
thread_local stripe_release t_stripe_release;

__attribute__((noinline)) unsigned choose_stripe() {
  unsigned best;
  for (;;) {  // threads choosing at once take different stripes: the count must not move
    best = 0;
    uint32_t fewest = s_stripe_threads[0].load(std::memory_order_relaxed);
    for (unsigned k = 1; k < kStripes && fewest != 0; ++k) {
      const uint32_t n = s_stripe_threads[k].load(std::memory_order_relaxed);
      if (n < fewest) {
        fewest = n;
        best = k;
      }
    }
    if (s_stripe_threads[best].compare_exchange_weak(fewest, fewest + 1, std::memory_order_relaxed))
      break;
  }
  t_stripe_release.stripe = static_cast<int>(best);
  t_stripe = static_cast<int>(best);
  return best;
}

inline unsigned thread_stripe() {
  const int k = t_stripe;
  return __builtin_expect(k >= 0, 1) ? static_cast<unsigned>(k) : choose_stripe();
}
inline default_set_storage* my_stripe(const set_family& f) {
  return &f.stripes[f.count > 1 ? thread_stripe() : 0];
}

// The entry array is read without a lock; xlabs_add_pool (the only writer once a set is
// published) bumps entries_seq to odd before changing it and back to even after, and a
// reader retries when the sequence moved under it.
template <typename T>
inline T load_acq(const T* p) {
  return __atomic_load_n(p, __ATOMIC_ACQUIRE);
}
template <typename T>
inline void store_rel(T* p, T v) {
  __atomic_store_n(p, v, __ATOMIC_RELEASE);
}
inline void add_counter(uint64_t* counter, uint64_t v) {
  __atomic_fetch_add(counter, v, __ATOMIC_RELAXED);
}
inline uint64_t read_counter(const uint64_t* counter) {
  return __atomic_load_n(counter, __ATOMIC_RELAXED);
}

inline uint32_t read_begin(const xlabs* set) {
  for (;;) {
    uint32_t seq = load_acq(&set->entries_seq);
    if ((seq & 1u) == 0) return seq;
    __builtin_ia32_pause();
  }
}
inline bool read_retry(const xlabs* set, uint32_t seq) {
  return __atomic_load_n(&set->entries_seq, __ATOMIC_RELAXED) != seq;
}

// Index of the smallest class >= size among the first n entries (n when none).
// Request sizes are unpredictable, so a binary search mispredicts about every other step;
// up to 32 entries the entries below size are counted instead, all loads independent.
// (The default sets normally answer from their size index and get here only for sizes
// beyond their largest class or when the index is off.)
inline uint64_t search(const xlabs* set, uint64_t n, uint64_t size) {
  const xlab_entry* e = set->entries;
  if (n <= 32) {
    uint64_t below = 0;
    for (uint64_t i = 0; i < n; ++i) below += load_acq(&e[i].class_size) < size;
    return below;
  }
  uint64_t lo = 0, hi = n;
  while (lo < hi) {
    const uint64_t mid = (lo + hi) >> 1;
    if (load_acq(&e[mid].class_size) < size)
      lo = mid + 1;
    else
      hi = mid;
  }
  return lo;
}

inline xpool* find_pool(const xlabs* set, const size_index* ix, uint64_t size) {
  for (;;) {
    uint32_t seq = read_begin(set);
    uint64_t n = load_acq(&set->num_pools);
    uint64_t i;
    uint64_t bucket = (size - 1) >> (ix != nullptr ? load_acq(&ix->shift) : 0);
    if (ix != nullptr && size != 0 && bucket < load_acq(&ix->len)) {
      i = load_acq(&ix->first[bucket]);
      if (i < n && load_acq(&set->entries[i].class_size) < size) ++i;
    } else {
      i = search(set, n, size);
    }
    xpool* pool = i < n ? load_acq(&set->entries[i].pool) : nullptr;
    if (!read_retry(set, seq)) return pool;
  }
}
inline xpool* find_pool(const xlabs* set, uint64_t size) {
  return find_pool(set, index_of(set), size);
}

// Rebuilds a default set's index from its entries; the caller is the only writer (init
// lock held) and, once the set is published, has made entries_seq odd.
void build_index(const xlabs* set, size_index* ix) {
  const uint64_t n = set->num_pools;
  store_rel(&ix->len, 0u);
  if (n == 0) return;
  uint64_t gap = set->entries[0].class_size;
  for (uint64_t i = 1; i < n; ++i) {
    uint64_t g = set->entries[i].class_size - set->entries[i - 1].class_size;
    if (g < gap) gap = g;
  }
  const uint32_t shift = static_cast<uint32_t>(63 - __builtin_clzll(gap));
  const uint64_t len = ((set->entries[n - 1].class_size - 1) >> shift) + 1;
  if (len > kIndexMax || n > 255) return;  // too fine-grained: search instead
  uint64_t below = 0;
  for (uint64_t b = 0; b < len; ++b) {
    const uint64_t lo = (b << shift) + 1;
    while (below < n && set->entries[below].class_size < lo) ++below;
    store_rel(&ix->first[b], static_cast<uint8_t>(below));
  }
  store_rel(&ix->shift, shift);
  store_rel(&ix->len, static_cast<uint32_t>(len));
}

// Sum of a per-pool counter over the set's pools and their copies in other stripes.
uint64_t sum_pools(const xlabs* set, uint64_t xpool::*counter) {
  for (;;) {
    uint32_t seq = read_begin(set);
    uint64_t n = load_acq(&set->num_pools), sum = 0;
    for (uint64_t i = 0; i < n; ++i) {
      for (xpool* pool = load_acq(&set->entries[i].pool); pool != nullptr;
           pool = load_acq(&pool->stripe_next))
        sum += __atomic_load_n(&(pool->*counter), __ATOMIC_RELAXED);
    }
    if (!read_retry(set, seq)) return sum;
  }
}

inline void entry_at(const xlabs* set, uint64_t i, xpool** pool, uint64_t* class_size) {
  for (;;) {
    uint32_t seq = read_begin(set);
    uint64_t n = load_acq(&set->num_pools);
    *pool = i < n ? load_acq(&set->entries[i].pool) : nullptr;
    *class_size = i < n ? load_acq(&set->entries[i].class_size) : 0;
    if (!read_retry(set, seq)) return;
  }
}

uint64_t max_class_size(const xlabs* set) {
  for (;;) {
    uint32_t seq = read_begin(set);
    uint64_t n = load_acq(&set->num_pools);
    uint64_t v = n > 0 ? load_acq(&set->entries[n - 1].class_size) : 0;
    if (!read_retry(set, seq)) return v;
  }
}

void init_record(xlabs* set, xpage_allocator* a, uint64_t max_pools, double factor) {
  pthread_mutex_init(&set->mutex, nullptr);
  std::memcpy(set->magic, "2014", 4);
  set->entries_seq = 0;
  set->page_allocator = a;
  set->class_size_factor = factor;
  set->num_pools = 0;
  set->max_pools = max_pools;
  set->total_alloc = 0;
  set->total_alloc_fail = 0;
  set->nullpool_alloc = 0;
}

// Fills the class sizes of entries [0, result) of a set over allocator a.
uint64_t compute_class_sizes(const xpage_allocator* a, uint64_t max_pools,
                             uint64_t first_class_size, uint64_t min_chunks_per_page, double factor,
                             xlab_entry* entries) {
  static const uint64_t start[9] = {4, 8, 16, 24, 32, 40, 56, 72, 88};
  uint64_t prev = 0, n = 0;
  for (uint64_t i = 0; i < max_pools; ++i) {
    uint64_t d;
    if (i <= 8 && first_class_size == 0) {
      d = start[i];
    } else if (prev != 0) {
      double grown = static_cast<double>(prev) * factor;
      if (!(grown < 18446744073709551615.0)) break;
      d = static_cast<uint64_t>(grown);
    } else {
      d = first_class_size;
    }
    if (d <= prev) d = prev + 1;
    uint64_t s = calc_class_size(a, calc_chunks_per_page(a, d));
    prev = s;
    if (s == 0 || calc_chunks_per_page(a, s) < min_chunks_per_page) break;
    entries[n].pool = nullptr;
    entries[n].class_size = s;
    entries[n].is_static = 0;
    ++n;
  }
  return n;
}

void teardown_pools(xlabs* set) {
  for (uint64_t i = 0; i < set->num_pools; ++i) {
    if (set->entries[i].is_static)
      __uninit_xpool(set->entries[i].pool);
    else
      delete_xpool(set->entries[i].pool);
  }
  set->num_pools = 0;
}

// Builds every stripe of a default set, chaining each class's pools over the stripes.
// Stripe k takes its pages from copy k of the page allocator (the first when there is
// only one).
template <size_t N>
void init_default_set(xlabs** global, default_set_storage (&family)[N], xpage_allocator* first,
                      const xlabs_config& c, uint64_t first_class_size) {
  const uint64_t max_pools = c.max_pools < kDefaultMaxPools ? c.max_pools : kDefaultMaxPools;
  for (size_t k = N; k-- > 0;) {  // last stripe first, so that each pool can link the next
    xpage_allocator* a = first;
    for (size_t j = 0; j < k && a->stripe_next != nullptr; ++j) a = a->stripe_next;
    default_set_storage* storage = &family[k];
    xlabs* set = record_of(storage);
    init_record(set, a, max_pools, c.class_size_factor);
    uint64_t n = compute_class_sizes(a, max_pools, first_class_size, c.min_chunks_per_page,
                                     c.class_size_factor, set->entries);
    for (uint64_t i = 0; i < n; ++i) {
      __init_xpool(&storage->pools[i].pool, set->entries[i].class_size, a);
      if (k + 1 < N) storage->pools[i].pool.stripe_next = &family[k + 1].pools[i].pool;
      set->entries[i].pool = &storage->pools[i].pool;
      set->entries[i].is_static = 1;
    }
    set->num_pools = n;
    build_index(set, &storage->index);
  }
  *global = record_of(&family[0]);
}

// The stop's tear-down of a set's pools: each reports its leaks and keeps the pages that
// hold chunks still in use (__retire_xpool); a pool added later is released unless it kept
// pages, which point at it (its entry keeps pointing at it too).
void retire_pools(xlabs* set) {
  for (uint64_t i = 0; i < set->num_pools; ++i) {
    xpool* pool = set->entries[i].pool;
    xfree_func_t free_func = pool->page_allocator->free_func;
    if (!__retire_xpool(pool) && !set->entries[i].is_static) free_func(pool);
  }
  set->num_pools = 0;
}

void uninit_default_set(xlabs** global) {
  xlabs* set = *global;
  if (set == nullptr) return;
  const set_family f = family_of(set);
  for (unsigned k = 0; k < f.count; ++k) {
    xlabs* stripe = record_of(&f.stripes[k]);
    retire_pools(stripe);
    pthread_mutex_destroy(&stripe->mutex);
  }
  *global = nullptr;
}

// Inserts pool at entry pos of a set that may be in use: the entry array changes between
// two bumps of entries_seq, and the set's size index is rebuilt within them.
void insert_entry(xlabs* set, uint64_t pos, xpool* pool) {
  const uint64_t n = set->num_pools;
  const uint32_t seq = set->entries_seq;
  store_rel(&set->entries_seq, seq + 1);
  for (uint64_t i = n; i > pos; --i) {
    store_rel(&set->entries[i].pool, set->entries[i - 1].pool);
    store_rel(&set->entries[i].class_size, set->entries[i - 1].class_size);
    store_rel(&set->entries[i].is_static, set->entries[i - 1].is_static);
  }
  store_rel(&set->entries[pos].pool, pool);
  store_rel(&set->entries[pos].class_size, pool->class_size);
  store_rel(&set->entries[pos].is_static, static_cast<uint8_t>(0));
  store_rel(&set->num_pools, n + 1);
  if (size_index* ix = index_of(set)) build_index(set, ix);
  store_rel(&set->entries_seq, seq + 2);
}

// Called under init_lock whenever a default set gains a class. Never lowered: pools are
// only ever added while the allocator runs.
void update_max_any() {
  uint64_t m = s_max_any.load(std::memory_order_relaxed);
  for (const xlabs* set : {default_xlabs, default_xbiglabs, default_xhugelabs}) {
    const uint64_t c = set != nullptr ? max_class_size(set) : 0;
    if (c > m) m = c;
  }
  s_max_any.store(m, std::memory_order_release);
}

inline bool running() {
  int state = init_state.load(std::memory_order_acquire);
  if (__builtin_expect(state == 1, 1)) return true;
  if (state == 0) {
    init_xallocator();
    return init_state.load(std::memory_order_acquire) == 1;
  }
  return false;
}

inline xlabs* pick_default(size_t size) {
  if (size <= s_max_small.load(std::memory_order_acquire)) return default_xlabs;
  if (size <= s_max_big.load(std::memory_order_acquire)) return default_xbiglabs;
  return default_xhugelabs;
}

}  // namespace

xlabs* new_xlabs(xpage_allocator* a, uint64_t max_pools, uint64_t first_class_size,
                 uint64_t min_chunks_per_page, double class_size_factor) {
  XCHECK(a != nullptr && max_pools > 0 && class_size_factor > 1,
         "page_allocator != 0 && max_pools > 0 && class_size_factor > 1");
  uint64_t bytes;
  if (__builtin_mul_overflow(max_pools, sizeof(xlab_entry), &bytes) ||
      __builtin_add_overflow(bytes, sizeof(xlabs), &bytes))
    return nullptr;
  xlabs* set = static_cast<xlabs*>(a->alloc_func(bytes));
  if (set == nullptr) return nullptr;
  init_record(set, a, max_pools, class_size_factor);
  uint64_t n = compute_class_sizes(a, max_pools, first_class_size, min_chunks_per_page,
                                   class_size_factor, set->entries);
  for (uint64_t i = 0; i < n; ++i) {
    xpool* pool = new_xpool(set->entries[i].class_size, a);
    if (pool == nullptr) {
      teardown_pools(set);
      pthread_mutex_destroy(&set->mutex);
      a->free_func(set);
      return nullptr;
    }
    set->entries[i].pool = pool;
    set->num_pools = i + 1;
  }
  return set;
}

void delete_xlabs(xlabs* set) {
  if (set == nullptr) return;
  teardown_pools(set);
  pthread_mutex_destroy(&set->mutex);
  set->page_allocator->free_func(set);
}

void* xlabs_alloc(xlabs* set, size_t size) {
  if (set == nullptr || size == 0) return nullptr;
  const set_family f = family_of(set);
  xpool* pool;
  if (f.stripes != nullptr) {
    default_set_storage* st = my_stripe(f);
    pool = find_pool(record_of(st), &st->index, size);
  } else {
    pool = find_pool(set, size);
  }
  if (pool != nullptr) return __xpool_alloc_for_set(pool, size);  // counts under the pool's mutex
  void* mem = nullpool_alloc(size, kNullpoolAlign, set->page_allocator->alloc_func,
                             set->page_allocator->free_func);
  if (mem != nullptr) add_counter(&set->nullpool_alloc, size);
  return mem;
}

xpool* xlabs_get_pool(xlabs* set, size_t size) {
  return set != nullptr ? find_pool(set, size) : nullptr;
}

uint64_t xlabs_get_max_class_size(xlabs* set) { return set != nullptr ? max_class_size(set) : 0; }

unsigned xlabs_thread_stripe() { return thread_stripe(); }

xpool* xlabs_stripe_pool(xpool* pool, unsigned stripe) {
  for (; pool != nullptr && stripe > 0; --stripe) {
    xpool* next = load_acq(&pool->stripe_next);
    if (next == nullptr) break;
    pool = next;
  }
  return pool;
}

int xlabs_add_pool(xlabs* set, uint64_t class_size, uint64_t tolerance) {
  if (set == nullptr || class_size == 0) return 0;
  pthread_mutex_lock(&init_lock);
  const uint64_t n = set->num_pools;  // stable: every writer holds init_lock
  const uint64_t pos = search(set, n, class_size);
  if ((pos < n && set->entries[pos].class_size - class_size <= tolerance) || n >= set->max_pools ||
      calc_chunks_per_page(set->page_allocator, class_size) == 0) {
    pthread_mutex_unlock(&init_lock);
    return 0;
  }
  // A default set gains the class in every stripe, the copies chained as its own pools are.
  const set_family f = family_of(set);
  const unsigned copies = f.stripes != nullptr ? f.count : 1;
  auto stripe = [&](unsigned k) { return f.stripes != nullptr ? record_of(&f.stripes[k]) : set; };
  xpool* pools[kStripes] = {};
  for (unsigned k = copies; k-- > 0;) {
    pools[k] = new_xpool(class_size, stripe(k)->page_allocator);
    if (pools[k] == nullptr) {
      for (unsigned j = k + 1; j < copies; ++j) delete_xpool(pools[j]);
      pthread_mutex_unlock(&init_lock);
      return 0;
    }
    pools[k]->stripe_next = k + 1 < copies ? pools[k + 1] : nullptr;
  }
  for (unsigned k = 0; k < copies; ++k) insert_entry(stripe(k), pos, pools[k]);
  if (set == default_xlabs) s_max_small.store(max_class_size(set), std::memory_order_release);
  if (set == default_xbiglabs) s_max_big.store(max_class_size(set), std::memory_order_release);
  if (set == default_xlabs || set == default_xbiglabs || set == default_xhugelabs) update_max_any();
  pthread_mutex_unlock(&init_lock);
  return 1;
}

xpage_allocator* xlabs_get_page_allocator(const xlabs* set) {
  return set != nullptr ? set->page_allocator : nullptr;
}
double xlabs_get_class_size_factor(const xlabs* set) {
  return set != nullptr ? set->class_size_factor : 0;
}
uint64_t xlabs_get_num_pools(const xlabs* set) {
  return set != nullptr ? load_acq(&set->num_pools) : 0;
}
uint64_t xlabs_get_num_alloc_pools(const xlabs* set) { return set != nullptr ? set->max_pools : 0; }
uint64_t xlabs_get_total_alloc(const xlabs* set) {
  return set != nullptr ? read_counter(&set->total_alloc) + sum_pools(set, &xpool::set_alloc) : 0;
}
uint64_t xlabs_get_total_alloc_fail(const xlabs* set) {
  return set != nullptr
             ? read_counter(&set->total_alloc_fail) + sum_pools(set, &xpool::set_alloc_fail)
             : 0;
}
uint64_t xlabs_get_nullpool_alloc(const xlabs* set) {
  return set != nullptr ? read_counter(&set->nullpool_alloc) : 0;
}

void xlabs_dump_info(xlabs* set, xdump_property_func_t callback, void* context) {
  if (set == nullptr) return;
  if (callback == nullptr) callback = xlabs_print_property;
  const unsigned long long values[5] = {load_acq(&set->num_pools), set->max_pools,
                                        xlabs_get_total_alloc(set), xlabs_get_total_alloc_fail(set),
                                        read_counter(&set->nullpool_alloc)};
  static const char* const keys[5] = {"num_pools", "num_alloc_pools", "total_alloc",
                                      "total_alloc_fail", "nullpool_alloc"};
  char text[256];
  std::snprintf(text, sizeof text, "%.2f", set->class_size_factor);
  callback(context, "class_size_factor", text);
  for (int i = 0; i < 5; ++i) {
    std::snprintf(text, sizeof text, "%llu", values[i]);
    callback(context, keys[i], text);
  }
}

void xlabs_print_property(void*, const char* key, const char* value) {
  std::printf("XLA %s=%s \n", key, value);
}

void xlabs_traverse_pools(xlabs* set, xlabs_traverse_func_t callback, void* context) {
  if (set == nullptr) return;
  uint64_t prev_class_size = 0;
  if (callback == nullptr) {
    callback = xlabs_print_pool;
    context = &prev_class_size;
  }
  for (uint64_t i = 0;; ++i) {
    xpool* pool;
    uint64_t class_size;
    entry_at(set, i, &pool, &class_size);
    if (pool == nullptr) break;
    callback(context, pool);
  }
}

void xlabs_print_pool(void* context, xpool* pool) {
  if (pool == nullptr) return;
  xpool_dump_info(pool, xlabs_print_pool_property, nullptr);
  uint64_t* prev = static_cast<uint64_t*>(context);
  const uint64_t prev_class_size = prev != nullptr ? *prev : 0;
  if (prev_class_size == 0)
    std::printf("\n");
  else
    std::printf("clssz_factor=%.2f \n",
                static_cast<double>(pool->class_size) / static_cast<double>(prev_class_size));
  if (prev != nullptr) *prev = pool->class_size;
}

void xlabs_print_pool_property(void*, const char* key, const char* value) {
  std::printf("%s=%s | ", key, value);
}

void init_default_xlabs() {
  if (default_xlabs != nullptr) return;
  XCHECK(default_xpage_allocator != nullptr, "default_xpage_allocator != 0");
  init_default_set(&default_xlabs, s_xlabs, default_xpage_allocator, default_xlabs_config,
                   default_xlabs_config.first_class_size);
}

void init_default_xbiglabs() {
  if (default_xbiglabs != nullptr) return;
  XCHECK(default_xbigpage_allocator != nullptr, "default_xbigpage_allocator != 0");
  XCHECK(default_xlabs != nullptr, "default_xlabs != 0");
  const uint64_t first = static_cast<uint64_t>(static_cast<double>(max_class_size(default_xlabs)) *
                                               default_xbiglabs_config.class_size_factor);
  init_default_set(&default_xbiglabs, s_xbiglabs, default_xbigpage_allocator,
                   default_xbiglabs_config, first);
}

void init_default_xhugelabs() {
  if (default_xhugelabs != nullptr) return;
  XCHECK(default_xhugepage_allocator != nullptr, "default_xhugepage_allocator != 0");
  XCHECK(default_xbiglabs != nullptr, "default_xbiglabs != 0");
  const uint64_t first = static_cast<uint64_t>(
      static_cast<double>(max_class_size(default_xbiglabs)) *
      default_xhugelabs_config.class_size_factor);
  init_default_set(&default_xhugelabs, s_xhugelabs, default_xhugepage_allocator,
                   default_xhugelabs_config, first);
}

void uninit_default_xlabs() { uninit_default_set(&default_xlabs); }
void uninit_default_xbiglabs() { uninit_default_set(&default_xbiglabs); }
void uninit_default_xhugelabs() { uninit_default_set(&default_xhugelabs); }

void (*xlabs_detail::first_start_hook)() = nullptr;

void init_xallocator() {
  pthread_mutex_lock(&init_lock);
  if (init_state.load(std::memory_order_relaxed) == 0) {
    if (xlabs_detail::first_start_hook != nullptr) xlabs_detail::first_start_hook();
    init_default_xpage_allocator();
    init_default_xbigpage_allocator();
    init_default_xhugepage_allocator();
    init_default_xlabs();
    init_default_xbiglabs();
    init_default_xhugelabs();
    s_max_small.store(max_class_size(default_xlabs), std::memory_order_relaxed);
    s_max_big.store(max_class_size(default_xbiglabs), std::memory_order_relaxed);
    update_max_any();
    init_state.store(1, std::memory_order_release);
  }
  pthread_mutex_unlock(&init_lock);
}

void uninit_xallocator() {
  pthread_mutex_lock(&init_lock);
  if (init_state.load(std::memory_order_relaxed) == 1) {
    init_state.store(2, std::memory_order_release);
    uninit_default_xhugelabs();
    uninit_default_xbiglabs();
    uninit_default_xlabs();
    uninit_default_xhugepage_allocator();
    uninit_default_xbigpage_allocator();
    uninit_default_xpage_allocator();
    s_max_small.store(0, std::memory_order_relaxed);
    s_max_big.store(0, std::memory_order_relaxed);
  }
  pthread_mutex_unlock(&init_lock);
}

xlabs* find_xlabs_default(size_t size) {
  if (!running()) return nullptr;
  return pick_default(size);
}

uint64_t xa_max_class_size() { return s_max_any.load(std::memory_order_acquire); }

namespace {

// The registry of blocks made without a set: shards, each with its own mutex and hash set
// (built in place on first need, never destroyed) on lines of its own. A thread records
// into its own shard (given round robin at its first record) and looks there first when it
// forgets, so a thread that releases what it made works on one shard's lines only; a block
// released by another thread is found in the next shards it looks at. s_unpooled_any stays
// false until the first block is recorded, and until then a release looks at no shard.
const unsigned kUnpooledShards = 16;
typedef std::unordered_set<void*> unpooled_set;
struct alignas(64) unpooled_shard {
  pthread_mutex_t lock = PTHREAD_MUTEX_INITIALIZER;
  unpooled_set* blocks = nullptr;  // null, or the set built in `storage`
  alignas(unpooled_set) unsigned char storage[sizeof(unpooled_set)];
};
unpooled_shard s_unpooled[kUnpooledShards];
std::atomic<bool> s_unpooled_any{false};
std::atomic<unsigned> s_unpooled_shards_given{0};
thread_local int t_unpooled_shard = -1;

inline unsigned own_unpooled_shard() {
  int k = t_unpooled_shard;
  if (k < 0) {
    k = static_cast<int>(s_unpooled_shards_given.fetch_add(1, std::memory_order_relaxed) %
                         kUnpooledShards);
    t_unpooled_shard = k;
  }
  return static_cast<unsigned>(k);
}

bool forget_in(unpooled_shard& shard, void* block) {
  pthread_mutex_lock(&shard.lock);
  const bool recorded = shard.blocks != nullptr && shard.blocks->erase(block) != 0;
  pthread_mutex_unlock(&shard.lock);
  return recorded;
}

}  // namespace

bool xa_unpooled_record(void* block) noexcept {
  if (!s_unpooled_any.load(std::memory_order_relaxed))
    s_unpooled_any.store(true, std::memory_order_release);
  unpooled_shard& shard = s_unpooled[own_unpooled_shard()];
  pthread_mutex_lock(&shard.lock);
  bool recorded = false;
  try {
    if (shard.blocks == nullptr) shard.blocks = new (shard.storage) unpooled_set();
    shard.blocks->insert(block);
    recorded = true;
  } catch (...) {
  }
  pthread_mutex_unlock(&shard.lock);
  return recorded;
}

bool xa_unpooled_forget(void* block) noexcept {
  // A block recorded before was recorded by a call that happened before this release.
  if (!s_unpooled_any.load(std::memory_order_acquire)) return false;
  const unsigned own = own_unpooled_shard();
  for (unsigned i = 0; i < kUnpooledShards; ++i)
    if (forget_in(s_unpooled[(own + i) % kUnpooledShards], block)) return true;
  return false;
}

void* xa_malloc(size_t size) {
  if (size == 0 || !running()) return nullptr;
  default_set_storage* st;
  xlabs* set;
  if (size <= s_max_small.load(std::memory_order_acquire)) {
    st = &s_xlabs[thread_stripe()];
    set = default_xlabs;
  } else if (size <= s_max_big.load(std::memory_order_acquire)) {
    st = &s_xbiglabs[thread_stripe()];
    set = default_xbiglabs;
  } else {
    st = &s_xhugelabs[0];
    set = default_xhugelabs;
  }
  xpool* pool = find_pool(record_of(st), &st->index, size);
  if (__builtin_expect(pool != nullptr, 1)) return __xpool_alloc_for_set(pool, size);
  return xlabs_alloc(set, size);  // the null pool
}

void xa_free(void* mem) {
  if (mem == nullptr) return;
  if (running()) xpool_free(mem);  // after the stop the memory is kept
}

void* xa_calloc(size_t count, size_t size) {
  size_t bytes;
  if (__builtin_mul_overflow(count, size, &bytes)) return nullptr;
  void* mem = xa_malloc(bytes);
  if (mem != nullptr) std::memset(mem, 0, bytes);
  return mem;
}

void* xa_realloc(void* mem, size_t size) {
  if (size == 0) {
    xa_free(mem);
    return nullptr;
  }
  if (mem == nullptr) return xa_malloc(size);
  if (!running()) return nullptr;
  uint64_t old_size = xchunk_get_class_size(mem);
  uint64_t m = size < old_size ? size : old_size;
  if (m == 0) return xa_malloc(size);  // already free: nothing to copy or free
  void* moved = xa_malloc(size);
  if (moved == nullptr) return nullptr;
  std::memcpy(moved, mem, m);
  xa_free(mem);
  return moved;
}

void* xa_new_block(size_t length) {
  if (length > 0xFFFFFFFFull) return nullptr;
  char* mem = static_cast<char*>(xa_malloc(length + 4));
  if (mem == nullptr) return nullptr;
  const uint32_t n = static_cast<uint32_t>(length);
  std::memcpy(mem, &n, 4);
  return mem + 4;
}

void xa_delete(void* data) {
  if (data != nullptr) xa_free(static_cast<char*>(data) - 4);
}

namespace {

// Every pool of the default sets, in stripe order and class order, while running.
template <typename F>
void each_default_pool(F f) {
  for (const xlabs* published : {default_xlabs, default_xbiglabs, default_xhugelabs}) {
    if (published == nullptr) continue;
    const set_family fam = family_of(published);
    for (unsigned k = 0; k < fam.count; ++k) {
      const xlabs* set = record_of(&fam.stripes[k]);
      for (uint64_t i = 0; i < set->num_pools; ++i) f(set->entries[i].pool);
    }
  }
}

void each_default_page_allocator(void (*f)(pthread_mutex_t*)) {
  for (xpage_allocator* a :
       {default_xpage_allocator, default_xbigpage_allocator, default_xhugepage_allocator})
    for (; a != nullptr; a = a->stripe_next) f(&a->mutex);
}

void lock_word(pthread_mutex_t* m) { xlock_acquire(m); }
void unlock_word(pthread_mutex_t* m) { xlock_release(m); }

// Before fork: init lock, every default pool, the default page allocators, the registry
// shards (see the header for the order); so the child finds each one free and consistent.
void fork_prepare() {
  pthread_mutex_lock(&init_lock);
  if (init_state.load(std::memory_order_relaxed) == 1) {
    each_default_pool([](xpool* p) { xlock_acquire(&p->mutex); });
    each_default_page_allocator(lock_word);
  }
  for (unpooled_shard& shard : s_unpooled) pthread_mutex_lock(&shard.lock);
}

// After fork, in parent and child alike: the same locks, group by group in the reverse
// order (shards, page allocators, pools, init lock; within a group the order does not
// matter). The child's only thread is the one that took them all; its locks forget the
// parent's sleepers.
template <bool in_child>
void fork_release() {
  for (unsigned i = kUnpooledShards; i-- > 0;) pthread_mutex_unlock(&s_unpooled[i].lock);
  if (init_state.load(std::memory_order_relaxed) == 1) {
    each_default_page_allocator(in_child ? xlock_release_in_child : unlock_word);
    each_default_pool(
        [](xpool* p) { in_child ? xlock_release_in_child(&p->mutex) : xlock_release(&p->mutex); });
  }
  pthread_mutex_unlock(&init_lock);
}
void fork_release_parent() { fork_release<false>(); }
void fork_release_child() {
  xlock_child_after_fork();
  fork_release<true>();
}

// Registered when the library is loaded, before the init lock can be taken: fork_prepare
// then only waits for a start in progress, and handlers registered after this (by code
// loaded later, or at run time) run their prepare before it and their parent and child
// handlers after these, so they may allocate.
__attribute__((constructor(101))) void register_fork_handlers() {
  XCHECK(pthread_atfork(fork_prepare, fork_release_parent, fork_release_child) == 0,
         "pthread_atfork(fork_prepare, fork_release_parent, fork_release_child) == 0");
}

}  // namespace
