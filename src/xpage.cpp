#include "src/xpage.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "default_config.h"
#include "src/xasan.h"
#include "src/xcheck.h"
#include "src/xlock.h"
#include "src/xoutput.h"

xpage_allocator* default_xpage_allocator = nullptr;
xpage_allocator* default_xbigpage_allocator = nullptr;
xpage_allocator* default_xhugepage_allocator = nullptr;

namespace {

const size_t kHeader = sizeof(xpage);

// Each copy on lines of its own: different stripes' threads lock different copies.
struct alignas(64) line_allocator {
  xpage_allocator a;
};
line_allocator s_xpage_allocator[XPAGE_STRIPES];
line_allocator s_xbigpage_allocator[XPAGE_STRIPES];
line_allocator s_xhugepage_allocator[1];
}  // namespace

// The copies of the normal and big default allocators share limit_free_pages through places
// on their free lists. The group hands out places in batches: `reserved` counts the places
// the copies took together, never more than the limit (but for pre-allocated pages, which
// are always kept), and each copy keeps, under its own mutex, its `credit` of places it
// took but holds no page in. A page kept on a copy's free list uses a place of its credit,
// and a page that leaves the list gives its place back to that credit; a copy goes to the
// group only when its credit is empty or has grown beyond two batches, so copies that
// empty and refill pages touch no shared line. A copy that finds the group's places all
// taken takes an unused place from another copy's credit (under that copy's mutex, with
// its own released), so a page is given back to the system only when the free pages of all
// copies together fill the limit, as with one shared count.
struct xpage_group {
  alignas(64) uint64_t reserved;  // places taken by the copies (atomic), on its own line
  alignas(64) xpage_allocator* first;
  uint64_t batch;  // places taken from or given back to `reserved` at once
};

namespace {

xpage_group s_xpage_group, s_xbigpage_group;

inline uint64_t place_limit(const xpage_allocator* a) {
  return a->limit_free_pages > 0 ? static_cast<uint64_t>(a->limit_free_pages) : 0;
}

// A place for one more page on a's free list from a's credit or from the group; the caller
// holds a's mutex.
bool take_group_place(xpage_allocator* a) {
  if (a->credit > 0) {
    --a->credit;
    return true;
  }
  xpage_group* g = a->group;
  const uint64_t limit = place_limit(a);
  uint64_t r = __atomic_load_n(&g->reserved, __ATOMIC_RELAXED);
  while (r < limit) {
    const uint64_t n = limit - r < g->batch ? limit - r : g->batch;
    if (__atomic_compare_exchange_n(&g->reserved, &r, r + n, true, __ATOMIC_RELAXED,
                                    __ATOMIC_RELAXED)) {
      a->credit += n - 1;
      return true;
    }
  }
  return false;
}

// An unused place of another copy's credit; the caller holds no allocator mutex.
bool take_other_place(xpage_allocator* a) {
  for (xpage_allocator* c = a->group->first; c != nullptr; c = c->stripe_next) {
    if (c == a) continue;
    xlock_acquire(&c->mutex);
    const bool found = c->credit > 0;
    if (found) --c->credit;
    xlock_release(&c->mutex);
    if (found) return true;
  }
  return false;
}

// A page has left a's free list: its place goes back to a's credit, and beyond two batches
// the credit goes back to the group down to one batch. The caller holds a's mutex.
inline void left_free_list(xpage_allocator* a) {
  xpage_group* g = a->group;
  if (g == nullptr || a->limit_free_pages == -1) return;
  if (++a->credit <= 2 * g->batch) return;
  __atomic_fetch_sub(&g->reserved, a->credit - g->batch, __ATOMIC_RELAXED);
  a->credit = g->batch;
}

// Takes a place on the free list for one more page, within limit_free_pages; the caller
// holds the allocator's mutex, which this may release for a while (to take a place from
// another copy). A pre-allocated page always has one.
inline bool reserve_free_place(xpage_allocator* a, bool pre_alloc) {
  if (a->limit_free_pages == -1) return true;
  if (a->group == nullptr)
    return static_cast<int64_t>(a->free_pages) < a->limit_free_pages || pre_alloc;
  if (take_group_place(a)) return true;
  xlock_release(&a->mutex);
  const bool taken = take_other_place(a);
  xlock_acquire(&a->mutex);
  if (taken || !pre_alloc) return taken;
  __atomic_fetch_add(&a->group->reserved, 1, __ATOMIC_RELAXED);  // kept whatever the limit
  return true;
}

inline xpage* header_of(void* page) {
  return reinterpret_cast<xpage*>(static_cast<char*>(page) - kHeader);
}
inline void* user_of(xpage* h) { return reinterpret_cast<char*>(h) + kHeader; }

// Under AddressSanitizer a page on a free list keeps what its last user poisoned (a pool's
// free chunks; their tags stay readable, so a late second free still finds tag 0), and is
// made wholly usable again before it is handed out or released (src/xasan.h).
inline void unpoison_page(const xpage_allocator* a, xpage* h) {
  xasan_unpoison(user_of(h), a->page_size);
}

void set_header(xpage* h, xpage_allocator* owner, uint8_t pre_alloc, uint8_t is_free) {
  std::memcpy(h->magic, "2011", 4);
  h->reserved0 = 0;
  h->page_allocator = owner;
  h->is_pre_alloc = pre_alloc;
  h->is_free = is_free;
  std::memset(h->reserved1, 0, sizeof h->reserved1);
  h->next = nullptr;
  h->prev = nullptr;
}

// Fills the record and pre-allocates; n is the number of pages to pre-allocate.
void build_allocator(xpage_allocator* a, uint64_t page_size, uint64_t max_pages, uint64_t n,
                     int64_t limit_free_pages, xalloc_func_t alloc_func, xfree_func_t free_func) {
  XCHECK(page_size > 0, "page_size > 0 && max_pages >= 0 && pre_alloc_pages >= 0");
  pthread_mutex_init(&a->mutex, nullptr);
  std::memcpy(a->magic, "2010", 4);
  a->page_size = page_size;
  a->max_pages = max_pages;
  a->alloc_func = alloc_func;
  a->free_func = free_func;
  a->limit_free_pages = limit_free_pages;
  a->pre_alloc_block = nullptr;
  a->pre_alloc_pages = 0;
  a->total_alloc_pages = 0;
  a->free_pages = 0;
  a->free_list = nullptr;
  a->stripe_next = nullptr;
  a->group = nullptr;
  a->credit = 0;
  if (n == 0) return;
  uint64_t block_page, block_size;
  if (__builtin_add_overflow(page_size, kHeader, &block_page) ||
      __builtin_mul_overflow(n, block_page, &block_size))
    return;  // cannot be allocated: no pre-allocated pages
  char* block = static_cast<char*>(alloc_func(block_size));
  if (block == nullptr) return;
  a->pre_alloc_block = block;
  a->pre_alloc_pages = a->total_alloc_pages = a->free_pages = n;
  xpage* prev = nullptr;
  for (uint64_t i = 0; i < n; ++i) {
    xpage* h = reinterpret_cast<xpage*>(block + i * block_page);
    set_header(h, a, 1, 1);
    h->prev = prev;
    if (prev != nullptr)
      prev->next = h;
    else
      a->free_list = h;
    prev = h;
  }
}

// Releases the free list (pages not pre-allocated) and, unless keep_pre_alloc, the
// pre-allocated block.
void release_memory(xpage_allocator* a, bool keep_pre_alloc = false) {
  xpage* h = a->free_list;
  while (h != nullptr) {
    XCHECK(h->is_free, "p_xp->is_free");
    xpage* next = h->next;
    unpoison_page(a, h);
    if (!h->is_pre_alloc) a->free_func(h);
    h = next;
  }
  a->free_list = nullptr;
  a->free_pages = 0;
  if (keep_pre_alloc) return;
  if (a->pre_alloc_block != nullptr) a->free_func(a->pre_alloc_block);
  a->pre_alloc_block = nullptr;
  a->pre_alloc_pages = 0;
}

xpage* take_page(xpage_allocator* a) {
  xlock_acquire(&a->mutex);
  xpage* h = a->free_list;
  if (h != nullptr) {
    a->free_list = h->next;
    if (h->next != nullptr) h->next->prev = nullptr;
    h->next = nullptr;
    h->prev = nullptr;
    h->is_free = 0;
    --a->free_pages;
    left_free_list(a);
    xlock_release(&a->mutex);
    unpoison_page(a, h);
    return h;
  }
  if (a->max_pages != 0 && a->total_alloc_pages >= a->max_pages) {
    xlock_release(&a->mutex);
    return nullptr;
  }
  ++a->total_alloc_pages;
  xlock_release(&a->mutex);

  uint64_t block_size;
  h = nullptr;
  if (!__builtin_add_overflow(a->page_size, kHeader, &block_size))
    h = static_cast<xpage*>(a->alloc_func(block_size));
  if (h == nullptr) {
    xlock_acquire(&a->mutex);
    --a->total_alloc_pages;
    xlock_release(&a->mutex);
    std::fprintf(xalloc_output(),
                 "xpage_allocator 0x%lx could not allocate more (%lu bytes): out of memory \n",
                 reinterpret_cast<unsigned long>(a), static_cast<unsigned long>(a->page_size));
    std::fflush(xalloc_output());
    XCHECK(false, "!\"out_of_memory\"");
  }
  set_header(h, a, 0, 0);
  return h;
}

inline void unlink(xpage* h) {
  if (h->prev != nullptr) h->prev->next = h->next;
  if (h->next != nullptr) h->next->prev = h->prev;
  h->next = nullptr;
  h->prev = nullptr;
}

void return_page(xpage* h) {
  if (h->is_free) {
    xpage_allocator* a = h->page_allocator;
    std::fprintf(xalloc_output(), "xpage 0x%lx (%lu bytes) was freed before \n",
                 reinterpret_cast<unsigned long>(user_of(h)),
                 a != nullptr ? static_cast<unsigned long>(a->page_size) : 4294967295ul);
    std::fflush(xalloc_output());
    XCHECK(false, "!\"double_free_xpage\"");
  }
  xpage_allocator* a = h->page_allocator;
  if (a == nullptr) return;
  unlink(h);
  xlock_acquire(&a->mutex);
  if (reserve_free_place(a, h->is_pre_alloc != 0)) {
    h->next = a->free_list;
    if (a->free_list != nullptr) a->free_list->prev = h;
    h->prev = nullptr;
    h->is_free = 1;
    a->free_list = h;
    ++a->free_pages;
    xlock_release(&a->mutex);
    return;
  }
  --a->total_alloc_pages;
  xlock_release(&a->mutex);
  unpoison_page(a, h);
  a->free_func(h);
}

// A page that may take part in chain moves: not null and not free.
inline xpage* chain_page(void* page) {
  if (page == nullptr) return nullptr;
  xpage* h = header_of(page);
  return h->is_free ? nullptr : h;
}

// Builds the copies of a default allocator; the first one is announced and published and
// holds the pre-allocated pages, if any.
template <size_t N>
void init_default(xpage_allocator** global, line_allocator (&copies)[N], xpage_group* group,
                  const xpage_config& c) {
  if (*global != nullptr) return;
  xpage_allocator* first = &copies[0].a;
  std::fprintf(xalloc_output(), "init xallocator 0x%lx \n", reinterpret_cast<unsigned long>(first));
  for (size_t k = 0; k < N; ++k) {
    build_allocator(&copies[k].a, c.page_size, c.max_pages, k == 0 ? c.pre_alloc_pages : 0,
                    c.limit_free_pages, c.alloc_func, c.free_func);
    copies[k].a.stripe_next = k + 1 < N ? &copies[k + 1].a : nullptr;
    copies[k].a.group = group;
  }
  if (group != nullptr) {
    const int64_t limit = c.limit_free_pages;
    const uint64_t share = limit > 0 ? static_cast<uint64_t>(limit) / (4 * N) : 0;
    group->reserved = first->free_pages;
    group->first = first;
    group->batch = share > 0 ? share : 1;
  }
  *global = first;
}

void uninit_default(xpage_allocator** global) {
  xpage_allocator* a = *global;
  if (a == nullptr) return;
  std::fprintf(xalloc_output(), "uninit xallocator 0x%lx \n", reinterpret_cast<unsigned long>(a));
  for (xpage_allocator* c = a; c != nullptr; c = c->stripe_next) {
    // The stop keeps the pages that still hold chunks in use (src/xlabs.h); one of them may
    // lie in the pre-allocated block, which then stays whole.
    release_memory(c, c->total_alloc_pages > c->free_pages);
    c->credit = 0;
    pthread_mutex_destroy(&c->mutex);
  }
  if (a->group != nullptr) a->group->reserved = 0;
  *global = nullptr;
}

// Sum of a counter over an allocator and its copies, each read under its mutex.
uint64_t sum_copies(xpage_allocator* a, uint64_t xpage_allocator::*counter) {
  uint64_t sum = 0;
  for (xpage_allocator* c = a; c != nullptr; c = c->stripe_next) {
    xlock_acquire(&c->mutex);
    sum += c->*counter;
    xlock_release(&c->mutex);
  }
  return sum;
}

}  // namespace

size_t xpage_overhead_size() { return kHeader; }

xpage_allocator* new_xpage_allocator(uint64_t page_size, uint64_t max_pages,
                                     uint64_t pre_alloc_pages, int64_t limit_free_pages,
                                     xalloc_func_t alloc_func, xfree_func_t free_func) {
  XCHECK(page_size > 0, "page_size > 0 && max_pages >= 0 && pre_alloc_pages >= 0");
  if (alloc_func == nullptr) alloc_func = std::malloc;
  if (free_func == nullptr) free_func = std::free;
  xpage_allocator* a = static_cast<xpage_allocator*>(alloc_func(sizeof(xpage_allocator)));
  if (a == nullptr) return nullptr;
  uint64_t n = pre_alloc_pages;
  if (max_pages != 0 && max_pages < n) n = max_pages;
  build_allocator(a, page_size, max_pages, n, limit_free_pages, alloc_func, free_func);
  std::fprintf(xalloc_output(), "init xallocator 0x%lx \n", reinterpret_cast<unsigned long>(a));
  return a;
}

void delete_xpage_allocator(xpage_allocator* a) {
  if (a == nullptr) return;
  std::fprintf(xalloc_output(), "uninit xallocator 0x%lx \n", reinterpret_cast<unsigned long>(a));
  release_memory(a);
  pthread_mutex_destroy(&a->mutex);
  a->free_func(a);
}

void* new_xpage(xpage_allocator* a) {
  if (a == nullptr) return nullptr;
  xpage* h = take_page(a);
  return h != nullptr ? user_of(h) : nullptr;
}

void delete_xpage(void* page) {
  if (page == nullptr) return;
  return_page(header_of(page));
}

void* new_xpage_before(void* page) {
  xpage* anchor = chain_page(page);
  if (anchor == nullptr || anchor->page_allocator == nullptr) return nullptr;
  xpage* h = take_page(anchor->page_allocator);
  if (h == nullptr) return nullptr;
  h->prev = anchor->prev;
  h->next = anchor;
  if (anchor->prev != nullptr) anchor->prev->next = h;
  anchor->prev = h;
  return user_of(h);
}

void* new_xpage_after(void* page) {
  xpage* anchor = chain_page(page);
  if (anchor == nullptr || anchor->page_allocator == nullptr) return nullptr;
  xpage* h = take_page(anchor->page_allocator);
  if (h == nullptr) return nullptr;
  h->next = anchor->next;
  h->prev = anchor;
  if (anchor->next != nullptr) anchor->next->prev = h;
  anchor->next = h;
  return user_of(h);
}

size_t delete_xpages_chain_before(void* page) {
  xpage* h = chain_page(page);
  if (h == nullptr) return 0;
  size_t n = 0;
  while (h->prev != nullptr) {
    return_page(h->prev);  // unlinks it, so h->prev moves on
    ++n;
  }
  return n;
}

size_t delete_xpages_chain_after(void* page) {
  xpage* h = chain_page(page);
  if (h == nullptr) return 0;
  size_t n = 0;
  while (h->next != nullptr) {
    return_page(h->next);
    ++n;
  }
  return n;
}

size_t delete_xpages_chain_all(void* page) {
  xpage* h = chain_page(page);
  if (h == nullptr) return 0;
  size_t n = delete_xpages_chain_before(page) + delete_xpages_chain_after(page);
  return_page(h);
  return n + 1;
}

void detach_xpage(void* page) {
  xpage* h = chain_page(page);
  if (h != nullptr) unlink(h);
}

void attach_xpage_before(void* moved, void* anchor) {
  xpage* m = chain_page(moved);
  xpage* a = chain_page(anchor);
  if (m == nullptr || a == nullptr || m == a) return;
  XCHECK(m->page_allocator == a->page_allocator,
         "p_new_xp->page_allocator == p_xp->page_allocator");
  unlink(m);
  m->prev = a->prev;
  m->next = a;
  if (a->prev != nullptr) a->prev->next = m;
  a->prev = m;
}

void attach_xpage_after(void* moved, void* anchor) {
  xpage* m = chain_page(moved);
  xpage* a = chain_page(anchor);
  if (m == nullptr || a == nullptr || m == a) return;
  XCHECK(m->page_allocator == a->page_allocator,
         "p_new_xp->page_allocator == p_xp->page_allocator");
  unlink(m);
  m->next = a->next;
  m->prev = a;
  if (a->next != nullptr) a->next->prev = m;
  a->next = m;
}

void swap_xpages_in_chain(void* page1, void* page2) {
  xpage* a = chain_page(page1);
  xpage* b = chain_page(page2);
  if (a == nullptr || b == nullptr || a == b) return;
  XCHECK(a->page_allocator == b->page_allocator, "p_xp1->page_allocator == p_xp2->page_allocator");
  if (b->next == a) {  // make a the earlier one when adjacent
    xpage* t = a;
    a = b;
    b = t;
  }
  if (a->next == b) {  // ... p a b n ...  ->  ... p b a n ...
    xpage* p = a->prev;
    xpage* n = b->next;
    if (p != nullptr) p->next = b;
    if (n != nullptr) n->prev = a;
    b->prev = p;
    b->next = a;
    a->prev = b;
    a->next = n;
    return;
  }
  xpage* ap = a->prev;
  xpage* an = a->next;
  xpage* bp = b->prev;
  xpage* bn = b->next;
  if (ap != nullptr) ap->next = b;
  if (an != nullptr) an->prev = b;
  if (bp != nullptr) bp->next = a;
  if (bn != nullptr) bn->prev = a;
  a->prev = bp;
  a->next = bn;
  b->prev = ap;
  b->next = an;
}

void* xpage_get_next_page(void* page) {
  xpage* h = chain_page(page);
  return h != nullptr && h->next != nullptr ? user_of(h->next) : nullptr;
}

void* xpage_get_prev_page(void* page) {
  xpage* h = chain_page(page);
  return h != nullptr && h->prev != nullptr ? user_of(h->prev) : nullptr;
}

uint64_t xpage_allocator_get_page_size(const xpage_allocator* a) {
  return a != nullptr ? a->page_size : 0;
}
uint64_t xpage_allocator_get_max_pages(const xpage_allocator* a) {
  return a != nullptr ? a->max_pages : 0;
}
xalloc_func_t xpage_allocator_get_alloc_func(const xpage_allocator* a) {
  return a != nullptr ? a->alloc_func : nullptr;
}
xfree_func_t xpage_allocator_get_free_func(const xpage_allocator* a) {
  return a != nullptr ? a->free_func : nullptr;
}

uint64_t xpage_allocator_get_total_alloc_pages(xpage_allocator* a) {
  return a != nullptr ? sum_copies(a, &xpage_allocator::total_alloc_pages) : 0;
}

uint64_t xpage_allocator_get_free_pages(xpage_allocator* a) {
  return a != nullptr ? sum_copies(a, &xpage_allocator::free_pages) : 0;
}

void xpage_allocator_dump_info(xpage_allocator* a, xdump_property_func_t callback, void* context) {
  if (a == nullptr) return;
  if (callback == nullptr) callback = xpage_allocator_print_property;
  unsigned long long values[6] = {
      a->page_size, a->max_pages, static_cast<unsigned long long>(a->limit_free_pages), 0, 0, 0};
  for (xpage_allocator* c = a; c != nullptr; c = c->stripe_next) {
    xlock_acquire(&c->mutex);
    values[3] += c->pre_alloc_pages;
    values[4] += c->total_alloc_pages;
    values[5] += c->free_pages;
    xlock_release(&c->mutex);
  }
  static const char* const keys[6] = {"page_size",       "max_pages",         "limit_free_pages",
                                      "pre_alloc_pages", "total_alloc_pages", "free_pages"};
  char text[256];
  for (int i = 0; i < 6; ++i) {
    std::snprintf(text, sizeof text, "%llu", values[i]);
    callback(context, keys[i], text);
  }
}

void xpage_allocator_print_property(void*, const char* key, const char* value) {
  std::printf("XPG %s=%s \n", key, value);
}

void init_default_xpage_allocator() {
  init_default(&default_xpage_allocator, s_xpage_allocator, &s_xpage_group, default_xpage_config);
}
void init_default_xbigpage_allocator() {
  init_default(&default_xbigpage_allocator, s_xbigpage_allocator, &s_xbigpage_group,
               default_xbigpage_config);
}
void init_default_xhugepage_allocator() {
  init_default(&default_xhugepage_allocator, s_xhugepage_allocator, nullptr,
               default_xhugepage_config);
}
void uninit_default_xpage_allocator() { uninit_default(&default_xpage_allocator); }
void uninit_default_xbigpage_allocator() { uninit_default(&default_xbigpage_allocator); }
void uninit_default_xhugepage_allocator() { uninit_default(&default_xhugepage_allocator); }
