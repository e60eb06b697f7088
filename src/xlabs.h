// Slab sets and the process-wide allocator.
//
// A slab set is a sorted array of pools over one page allocator, class sizes growing by a
// fixed factor; a request goes to the pool of the smallest class that holds it, or to the
// null pool when it is larger than every class. Three default sets over the three default
// page allocators form the process-wide allocator, reached through xa_malloc, xa_free,
// xa_calloc, xa_realloc, xa_new/xa_delete and find_xlabs_default.
//
// Lifecycle: the process-wide allocator starts by itself at first use (or at
// init_xallocator) and stops once at uninit_xallocator; nothing restarts it. After the stop
// xa_malloc and find_xlabs_default give null and xa_free keeps the memory it is given.
// Memory from xa_malloc belongs to the caller until xa_free, and must be freed before the
// stop. The stop reports the chunks still in use and keeps the pages that hold them for the
// life of the process (their chunks are never touched again, nor their addresses handed
// out by the system allocator, so a block made before the stop and released after it, which
// is then kept, can never be confused with a block made after it); it releases every
// other page.
//
// Threads: allocation and free may run on any threads at once; the pools and page
// allocators lock themselves, the pools count what they serve, and the set's null-pool
// counter is atomic. default_xlabs and default_xbiglabs keep a copy of their pools per
// stripe (XPAGE_STRIPES stripes, stripe k over copy k of the set's page allocator, see
// src/xpage.h); each thread allocates from its own
// stripe, chosen at its first allocation as the one with the fewest live threads (the
// first thread gets stripe 0; a thread that ended leaves its stripe to the next one), and
// a chunk goes back to the pool that owns its page. The published set records are stripe
// 0: xlabs_get_pool answers with its pools, xlabs_add_pool adds the class to every stripe,
// and the dumps and getters report the sums over the stripes. Start, stop and
// xlabs_add_pool are serialised by the process-wide init lock; a lookup racing with
// xlabs_add_pool retries until it has seen a consistent entry array. Stopping the allocator
// while another thread allocates or frees is not allowed.
// Lock order: init lock, then pool mutex, then page allocator mutex; the registry's shard
// mutexes are taken alone.
// fork: handlers registered when the library is loaded take, before fork, the init lock
// (so a fork waits for a start in progress), every pool of the default sets (set by set:
// normal, big, huge; stripe by stripe; class order), the default page allocators (normal,
// big, huge; copy by copy) and the registry shards (in index order), and release them group
// by group in the reverse order in parent and child, so that a child of a process whose
// threads allocate finds every allocator lock free and every structure whole. glibc runs
// prepare handlers in the reverse order of registration and parent and child handlers in
// that order: fork handlers registered after this library was loaded may allocate (their
// prepare runs before ours takes the locks, their parent and child handlers after ours have
// released them). Handlers registered before it was loaded (by code loaded earlier) cannot
// be helped: they must not allocate from it.
#ifndef TOKA_SRC_XLABS_H
#define TOKA_SRC_XLABS_H

#include <pthread.h>

#include <cstddef>
#include <cstdint>

#include "src/xpage.h"
#include "src/xpool.h"

struct xlab_entry {
  xpool* pool;
  uint64_t class_size;  // equal to the pool's
  uint8_t is_static;    // 1: the pool record is held in place by the set's owner
};

struct xlabs {
  pthread_mutex_t mutex;  // kept for the record's shape; no counter needs it (see below)
  char magic[4];          // "2014"
  uint32_t entries_seq;   // even when the entry array is stable; odd while it changes
  xpage_allocator* page_allocator;
  double class_size_factor;
  uint64_t num_pools;  // entries in use
  uint64_t max_pools;  // capacity of the entry array ("num_alloc_pools")
  // Sizes asked for that a pool served / refused: each pool counts its own under its
  // mutex (xpool::set_alloc, set_alloc_fail) so the request path takes no second lock;
  // these two fields stay 0 and the getters and the dump report field + sum over pools.
  uint64_t total_alloc;
  uint64_t total_alloc_fail;
  uint64_t nullpool_alloc;  // sizes asked for that went to the null pool (atomic)
  xlab_entry entries[];     // max_pools entries, ascending class_size
};

typedef void (*xlabs_traverse_func_t)(void* context, xpool* pool);

extern xlabs* default_xlabs;
extern xlabs* default_xbiglabs;
extern xlabs* default_xhugelabs;

xlabs* new_xlabs(xpage_allocator* page_allocator, uint64_t max_pools, uint64_t first_class_size,
                 uint64_t min_chunks_per_page, double class_size_factor);
void delete_xlabs(xlabs* set);

void* xlabs_alloc(xlabs* set, size_t size);
xpool* xlabs_get_pool(xlabs* set, size_t size);  // smallest class >= size, or null
uint64_t xlabs_get_max_class_size(xlabs* set);   // 0 when the set has no pool
// The calling thread's stripe, 0 to XPAGE_STRIPES - 1: chosen at its first allocation (or
// first call here) as described above and fixed for the thread's life. No lock; after the
// first call one thread-local read.
unsigned xlabs_thread_stripe();
// The copy in the given stripe of a default set's pool as xlabs_get_pool gives it (stripe
// 0): pool's stripe_next chain followed stripe times, stopping at its end, so a pool of an
// unstriped set answers itself; null for a null pool. The copies never change while the
// allocator runs, so a caller may keep the answer per stripe (e.g. an array filled once)
// and pick its entry with xlabs_thread_stripe() instead of asking per allocation.
xpool* xlabs_stripe_pool(xpool* pool, unsigned stripe);
// 1 when a pool of exactly class_size was added; 0 when a class within the tolerance
// exists, the set is full, or the pool cannot be created.
int xlabs_add_pool(xlabs* set, uint64_t class_size, uint64_t tolerance);

xpage_allocator* xlabs_get_page_allocator(const xlabs* set);
double xlabs_get_class_size_factor(const xlabs* set);
uint64_t xlabs_get_num_pools(const xlabs* set);
uint64_t xlabs_get_num_alloc_pools(const xlabs* set);
uint64_t xlabs_get_total_alloc(const xlabs* set);
uint64_t xlabs_get_total_alloc_fail(const xlabs* set);
uint64_t xlabs_get_nullpool_alloc(const xlabs* set);

// Reports class_size_factor, num_pools, num_alloc_pools, total_alloc, total_alloc_fail,
// nullpool_alloc; a null callback prints them with xlabs_print_property.
void xlabs_dump_info(xlabs* set, xdump_property_func_t callback, void* context);
void xlabs_print_property(void* context, const char* key, const char* value);  // "XLA %s=%s \n"
// callback(context, pool) for each pool in class order; null prints each pool's dump.
void xlabs_traverse_pools(xlabs* set, xlabs_traverse_func_t callback, void* context);
// Default traverse callback. context, when not null, points at a uint64_t holding the
// previous pool's class size (0 before the first pool) and is updated.
void xlabs_print_pool(void* context, xpool* pool);
void xlabs_print_pool_property(void* context, const char* key, const char* value);  // "%s=%s | "

// Called only by init_xallocator / uninit_xallocator.
void init_default_xlabs();
void init_default_xbiglabs();
void init_default_xhugelabs();
void uninit_default_xlabs();
void uninit_default_xbiglabs();
void uninit_default_xhugelabs();

void init_xallocator();
void uninit_xallocator();
namespace xlabs_detail {
// Test hook, null in normal runs: called by the first start while it holds the init lock,
// before anything is built.
extern void (*first_start_hook)();
}  // namespace xlabs_detail
// The default set that serves size, starting the allocator if needed; null once stopped.
xlabs* find_xlabs_default(size_t size);
// The largest class size of the default sets (0 before the start): they served every size
// above it from the null pool. Kept after the stop, so that a block released then can be
// told to be a null-pool block (still allocated) or a pool chunk (kept) by its size.
uint64_t xa_max_class_size();
// The blocks callers made without a set (after the stop, from the system allocator), so
// that their release can tell them from pool chunks without reading the block: record on
// allocation (false when there is no memory to record it), forget on release (true when it
// was recorded). One registry for every such caller; never destroyed, so it serves
// exit-time destructors too. Thread-safe: 16 shards, each with its own mutex taken alone;
// a thread records into its own shard and forgets from it first, then from the others;
// until a first block is recorded, forget reads one flag and takes no lock.
bool xa_unpooled_record(void* block) noexcept;
bool xa_unpooled_forget(void* block) noexcept;

void* xa_malloc(size_t size);
void xa_free(void* mem);
void* xa_calloc(size_t count, size_t size);
void* xa_realloc(void* mem, size_t size);

// Length-prefixed buffer: `length` bytes after an unsigned 32-bit length. Null when the
// allocation fails or length does not fit 32 bits.
void* xa_new_block(size_t length);
template <typename T = char>
inline T* xa_new(size_t length) {
  return static_cast<T*>(xa_new_block(length));
}
void xa_delete(void* data);  // data from xa_new, never null

// Owns one buffer made by xa_new.
template <typename T = char>
class xa_auto_ptr {
 public:
  explicit xa_auto_ptr(T* data = nullptr) : _data(data) {}
  ~xa_auto_ptr() { _delete(); }
  xa_auto_ptr(const xa_auto_ptr&) = delete;
  xa_auto_ptr& operator=(const xa_auto_ptr&) = delete;

  T* get() const { return _data; }
  T* release() {
    T* data = _data;
    _data = nullptr;
    return data;
  }
  void _delete() {
    if (_data != nullptr) xa_delete(_data);
    _data = nullptr;
  }

 private:
  T* _data;
};

#endif  // TOKA_SRC_XLABS_H
