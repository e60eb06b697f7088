// Pools of fixed-size chunks carved out of the pages of a page allocator, and the null
// pool for requests larger than any pool.
//
// Every chunk carries a 4-byte tag in front of it (0 while free, else the tag's byte offset
// from the start of its page's user area), so xpool_free finds the page and the pool from
// the address alone. A null-pool block carries a 36-byte header ending in the tag
// 0xFFFFFFFF and holding the release function to use.
// Alignment: chunk i starts 28 + 4 * chunks_per_page + i * (class_size + 4) bytes into its
// page's user area (8-byte aligned for a page from malloc), so chunks are 4-byte aligned
// only when class_size is a multiple of 4 (4 to 88 in the default sets); other classes
// (110, 137, ...) put chunks at any address, odd ones included. A null-pool block starts
// 36 bytes into its system block. Callers that need an aligned address align inside the
// chunk.
//
// Under AddressSanitizer the usable bytes of every free chunk are poisoned (src/xasan.h).
//
// Ownership: a chunk belongs to the caller from xpool_alloc / nullpool_alloc until
// xpool_free. A pool owns its pages; its page allocator must outlive it.
//
// Threads: each pool's mutex guards its counters, its page chain and the stacks and tags
// of its pages; it is held while the page allocator is called (order: pool mutex, then
// page allocator mutex). xpool_free on a null-pool block takes no lock at all, so it works
// whatever the state of the process-wide allocator.
// Every function accepts a null pool or chunk and then does nothing (or gives 0/null).
#ifndef TOKA_SRC_XPOOL_H
#define TOKA_SRC_XPOOL_H

#include <pthread.h>

#include <cstddef>
#include <cstdint>

#include "src/xpage.h"

struct xpool {
  pthread_mutex_t mutex;  // guards everything below and the page chain
  char magic[4];          // "2012"
  uint32_t idx_inverse;   // odd part of (class_size + 4), inverted mod 2^32 (free path)
  xpage_allocator* page_allocator;
  uint64_t page_size;
  uint64_t class_size;
  uint32_t chunks_per_page;  // (page_size - 24) / (class_size + 8)
  uint32_t reserved;
  uint64_t total_pages;
  uint64_t free_chunks;
  void* first_free_page;  // first page of the chain with a free chunk, or null
  void* last_page;        // end of the chain, or null
  // Sizes asked for through the slab set that holds this pool, served and refused;
  // written under the mutex, read without it (the set's getters sum them).
  uint64_t set_alloc;
  uint64_t set_alloc_fail;
  // The same class in the next stripe of a striped default set (src/xlabs), or null. Set
  // before the set is published and never changed; xpool_dump_info and the set's getters
  // report a pool together with the pools after it on this chain.
  xpool* stripe_next;
};

// Header at the start of a pool page's user area; the free-index stack follows it, then
// the chunks. The stack is filled lazily: its lowest `untouched` entries were never
// written and stand for their own position (entry i holds i), so a new page costs a few
// stores whatever its chunk count. untouched <= free_chunks always; the word is the
// header's second reserved one and lives only in memory.
struct xpage_in_pool {
  char magic[4];  // "2013"
  uint32_t reserved0;
  xpool* pool;
  uint32_t free_chunks;
  uint32_t untouched;
};
static_assert(sizeof(xpage_in_pool) == 24, "pool page header is 24 bytes");

const uint32_t XCHUNK_NULLPOOL_TAG = 0xFFFFFFFFu;
const size_t XNULLPOOL_HEADER_SIZE = 36;

uint32_t calc_chunks_per_page(const xpage_allocator* allocator, uint64_t class_size);
uint64_t calc_class_size(const xpage_allocator* allocator, uint64_t chunks);
uint64_t optm_class_size(const xpage_allocator* allocator, uint64_t class_size);

xpool* new_xpool(uint64_t class_size, xpage_allocator* allocator);
void delete_xpool(xpool* pool);
// The same on a record the caller holds in place (static pools of the default slab sets).
void __init_xpool(xpool* pool, uint64_t class_size, xpage_allocator* allocator);
void __uninit_xpool(xpool* pool);
// Tear-down at the process-wide stop: the same leak report, but the pages that hold chunks
// still in use (every page of the chain) are kept, still linked from the record, for the
// life of the process, so that no address of such a chunk can come back from the system
// allocator while the chunk may still be released. True when pages were kept: the record
// must then stay too (the pages point at it). The mutex is destroyed either way.
bool __retire_xpool(xpool* pool);

void* xpool_alloc(xpool* pool);
// xpool_alloc for a slab set: also adds size to set_alloc (or set_alloc_fail on refusal).
void* __xpool_alloc_for_set(xpool* pool, size_t size);
void xpool_free(void* chunk);

// A block straight from alloc_fn (malloc when null) of size + 36 bytes rounded up to a
// multiple of align, freeable through xpool_free with free_fn (free when null). Null when
// the system refuses or the size arithmetic overflows. nullpool_alloc prints
// "nullpool_alloc: <size> \n" first; nullpool_alloc_silent does not.
void* nullpool_alloc(size_t size, size_t align, void* (*alloc_fn)(size_t), void (*free_fn)(void*));
void* nullpool_alloc_silent(size_t size, size_t align, void* (*alloc_fn)(size_t),
                            void (*free_fn)(void*));
bool xchunk_is_nullpool(const void* chunk);  // tag 0xFFFFFFFF

// 0 for null or a free chunk; the size asked for of a null-pool block; else the class size.
uint64_t xchunk_get_class_size(const void* chunk);

uint64_t xpool_get_class_size(const xpool* pool);
uint32_t xpool_get_chunks_per_page(const xpool* pool);
xpage_allocator* xpool_get_page_allocator(const xpool* pool);

// Reports class_size, chunks_per_page, total_pages, free_pages, total_chunks, free_chunks
// (and diff_free_chunks when the pages disagree with the pool); a null callback prints
// them with xpool_print_property. The counts are sums over the pool and its stripe_next
// chain, each pool read under its own mutex, one at a time.
void xpool_dump_info(xpool* pool, xdump_property_func_t callback, void* context);
void xpool_print_property(void* context, const char* key, const char* value);  // "XPO %s=%s \n"

#endif  // TOKA_SRC_XPOOL_H
