// Page allocator: fixed-size pages, each preceded by a 40-byte header, with a LIFO free
// list of released pages for reuse and doubly linked page chains for its users.
//
// Ownership: an allocator owns its free list and its pre-allocated block; a page handed
// out by new_xpage belongs to the caller until delete_xpage. An allocator must outlive
// every page it handed out. Pages are addressed by their user area throughout.
//
// Threads: each allocator's mutex guards its counters and its free list (the count of
// places that striped copies share, below, is atomic); the system allocation of a new page
// happens outside it. Returning a page to a striped copy whose places are all used may take
// the other copies' mutexes one at a time, with its own released: never two at once. The
// chain operations (linking, unlinking, attach, swap) take no lock: a chain belongs to its
// user, who serialises all work on it.
// Lock order for users: their own mutex (e.g. a pool's), then the allocator's mutex.
// Every function accepts a null allocator or page and then does nothing (or gives 0/null).
// Under AddressSanitizer a page on a free list keeps its last user's poisoning (a pool's
// free chunks) and is made wholly usable when it is handed out again (src/xasan.h).
#ifndef TOKA_SRC_XPAGE_H
#define TOKA_SRC_XPAGE_H

#include <pthread.h>

#include <cstddef>
#include <cstdint>

typedef void* (*xalloc_func_t)(size_t size);
typedef void (*xfree_func_t)(void* mem);
// Dump callback: one counter per call, its value as decimal text.
typedef void (*xdump_property_func_t)(void* context, const char* key, const char* value);

struct xpage_allocator;
struct xpage_group;  // shared by the copies of a striped default allocator (below)

// Header placed immediately before the user area of every page.
struct xpage {
  char magic[4];  // "2011"
  uint32_t reserved0;
  xpage_allocator* page_allocator;  // owning allocator
  uint8_t is_pre_alloc;             // 1 inside the pre-allocated block
  uint8_t is_free;                  // 1 while on the free list
  uint8_t reserved1[6];
  xpage* next;  // next page in a chain or in the free list
  xpage* prev;  // previous page
};
static_assert(sizeof(xpage) == 40, "page header is 40 bytes");

struct xpage_allocator {
  pthread_mutex_t mutex;  // guards the counters and the free list
  char magic[4];          // "2010"
  uint64_t page_size;
  uint64_t max_pages;  // 0 = unlimited
  xalloc_func_t alloc_func;
  xfree_func_t free_func;
  int64_t limit_free_pages;  // -1 keeps every released page
  void* pre_alloc_block;
  uint64_t pre_alloc_pages;
  uint64_t total_alloc_pages;
  uint64_t free_pages;
  xpage* free_list;
  // Stripes of a default allocator (below): the next copy, or null; the group through
  // which limit_free_pages bounds the free pages of all copies together (null: this
  // allocator's own free_pages); and the places on the free list this copy took from the
  // group but holds no page in (under the mutex; a copy short of places may take one).
  xpage_allocator* stripe_next;
  xpage_group* group;
  uint64_t credit;
};

// The default normal and big page allocators exist in XPAGE_STRIPES copies with the same
// configuration, one for each stripe of their slab sets (src/xlabs.h); the published
// record (default_xpage_allocator, ...) is the first copy. A page goes back to the copy
// that made it. limit_free_pages bounds the free pages of all copies together: the copies
// take their places on the free lists from a common count in batches and keep the unused
// ones, and a copy short of places takes another's unused one, so a released page goes back
// to the system only when the copies' free pages together fill the limit, as with one
// count; the start and stop lines are printed once, for the first copy; the dump and
// the two counters' getters report the sums over the copies.
const unsigned XPAGE_STRIPES = 8;

// The three default allocators: null until the process-wide allocator builds them.
extern xpage_allocator* default_xpage_allocator;
extern xpage_allocator* default_xbigpage_allocator;
extern xpage_allocator* default_xhugepage_allocator;

size_t xpage_overhead_size();  // 40

xpage_allocator* new_xpage_allocator(uint64_t page_size, uint64_t max_pages,
                                     uint64_t pre_alloc_pages, int64_t limit_free_pages,
                                     xalloc_func_t alloc_func, xfree_func_t free_func);
void delete_xpage_allocator(xpage_allocator* allocator);

void* new_xpage(xpage_allocator* allocator);
void delete_xpage(void* page);

void* new_xpage_before(void* page);
void* new_xpage_after(void* page);
size_t delete_xpages_chain_before(void* page);
size_t delete_xpages_chain_after(void* page);
size_t delete_xpages_chain_all(void* page);
void detach_xpage(void* page);
void attach_xpage_before(void* moved, void* anchor);
void attach_xpage_after(void* moved, void* anchor);
void swap_xpages_in_chain(void* page1, void* page2);
void* xpage_get_next_page(void* page);
void* xpage_get_prev_page(void* page);

uint64_t xpage_allocator_get_page_size(const xpage_allocator* allocator);
uint64_t xpage_allocator_get_max_pages(const xpage_allocator* allocator);
xalloc_func_t xpage_allocator_get_alloc_func(const xpage_allocator* allocator);
xfree_func_t xpage_allocator_get_free_func(const xpage_allocator* allocator);
// Both sum over the allocator and its stripe_next chain, each copy read under its mutex.
uint64_t xpage_allocator_get_total_alloc_pages(xpage_allocator* allocator);
uint64_t xpage_allocator_get_free_pages(xpage_allocator* allocator);

// Reports page_size, max_pages, limit_free_pages, pre_alloc_pages, total_alloc_pages,
// free_pages (the last three summed over the stripe_next chain); a null callback prints
// them with xpage_allocator_print_property.
void xpage_allocator_dump_info(xpage_allocator* allocator, xdump_property_func_t callback,
                               void* context);
void xpage_allocator_print_property(void* context, const char* key,
                                    const char* value);  // "XPG %s=%s \n"

// Called only by init_xallocator / uninit_xallocator (under the process-wide init lock).
// The uninit functions release the free lists; the pages still in use (those the stop
// keeps, src/xlabs.h) are not touched, and neither is the pre-allocated block while any
// page of a copy is in use.
void init_default_xpage_allocator();
void init_default_xbigpage_allocator();
void init_default_xhugepage_allocator();
void uninit_default_xpage_allocator();
void uninit_default_xbigpage_allocator();
void uninit_default_xhugepage_allocator();

#endif  // TOKA_SRC_XPAGE_H
