#include "src/xpool.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "src/xasan.h"
#include "src/xcheck.h"
#include "src/xlock.h"
#include "src/xoutput.h"

namespace {

const uint64_t kPageHeader = sizeof(xpage_in_pool);  // 24
const uint64_t kMaxPageSize = 0xFFFFFFFFull;         // offsets are 32-bit tags

inline bool page_size_ok(uint64_t page_size) {
  return page_size > kPageHeader && page_size < kMaxPageSize;
}

inline xpage* page_header(void* page) {
  return reinterpret_cast<xpage*>(static_cast<char*>(page) - sizeof(xpage));
}
inline void* next_page(void* page) {
  xpage* n = page_header(page)->next;
  return n != nullptr ? reinterpret_cast<char*>(n) + sizeof(xpage) : nullptr;
}
// Chain moves of the pool's own pages, done in place (the pool holds its mutex).
inline void unlink_page(xpage* h) {
  if (h->prev != nullptr) h->prev->next = h->next;
  if (h->next != nullptr) h->next->prev = h->prev;
}
// Moves page before anchor (before = true) or after it; the two are different pages.
inline void move_page(void* page, void* anchor, bool before) {
  xpage* h = page_header(page);
  xpage* a = page_header(anchor);
  unlink_page(h);
  if (before) {
    h->prev = a->prev;
    h->next = a;
    if (a->prev != nullptr) a->prev->next = h;
    a->prev = h;
  } else {
    h->next = a->next;
    h->prev = a;
    if (a->next != nullptr) a->next->prev = h;
    a->next = h;
  }
}
inline void* prev_page(void* page) {
  xpage* p = page_header(page)->prev;
  return p != nullptr ? reinterpret_cast<char*>(p) + sizeof(xpage) : nullptr;
}
inline uint32_t* page_stack(void* page) {
  return reinterpret_cast<uint32_t*>(static_cast<char*>(page) + kPageHeader);
}
inline uint32_t load_tag(const void* chunk) {
  uint32_t tag;
  std::memcpy(&tag, static_cast<const char*>(chunk) - 4, 4);
  return tag;
}
inline void store_tag(void* chunk_tag, uint32_t tag) { std::memcpy(chunk_tag, &tag, 4); }
inline uint64_t chunks_offset(const xpool* p) { return kPageHeader + 4ull * p->chunks_per_page; }

// Chunk offsets are exact multiples of (class_size + 4): the index is recovered with a
// shift and a multiplication by the inverse of the odd part instead of a division.
void set_index_divisor(xpool* p) {
  uint64_t d = p->class_size + 4;
  uint32_t odd = static_cast<uint32_t>(d >> __builtin_ctzll(d));
  uint32_t inv = odd;  // correct to 3 bits; each step doubles the bits
  for (int i = 0; i < 5; ++i) inv *= 2u - odd * inv;
  p->idx_inverse = inv;
}
inline uint32_t chunk_index(const xpool* p, uint32_t offset_in_chunks) {
  return (offset_in_chunks >> __builtin_ctzll(p->class_size + 4)) * p->idx_inverse;
}

void check_pool_args(uint64_t class_size, const xpage_allocator* a) {
  XCHECK(class_size > 0 && a != nullptr, "class_size > 0 && page_allocator != 0");
  XCHECK(page_size_ok(a->page_size),
         "page_size < ((page_offset_type)-1) && page_size > sizeof (xpage_in_pool)");
  XCHECK(calc_chunks_per_page(a, class_size) > 0, "chunks_per_page > 0");
}

// Header of a null-pool block, at the block's start; the tag follows at offset 32.
struct nullpool_header {
  void* (*alloc_fn)(size_t);
  void (*free_fn)(void*);
  uint64_t size;
  uint64_t align;
};
static_assert(sizeof(nullpool_header) == 32, "null-pool header fields take 32 bytes");

}  // namespace

uint32_t calc_chunks_per_page(const xpage_allocator* a, uint64_t class_size) {
  if (class_size == 0 || a == nullptr || !page_size_ok(a->page_size) || class_size > a->page_size)
    return 0;
  return static_cast<uint32_t>((a->page_size - kPageHeader) / (class_size + 8));
}

uint64_t calc_class_size(const xpage_allocator* a, uint64_t chunks) {
  if (chunks == 0 || a == nullptr || !page_size_ok(a->page_size)) return 0;
  uint64_t q = (a->page_size - kPageHeader) / chunks;
  return q < 9 ? 0 : q - 8;
}

uint64_t optm_class_size(const xpage_allocator* a, uint64_t class_size) {
  return calc_class_size(a, calc_chunks_per_page(a, class_size));
}

void __init_xpool(xpool* p, uint64_t class_size, xpage_allocator* a) {
  if (p == nullptr) return;
  check_pool_args(class_size, a);
  pthread_mutex_init(&p->mutex, nullptr);  // the storage of the xlock word
  std::memcpy(p->magic, "2012", 4);
  p->page_allocator = a;
  p->page_size = a->page_size;
  p->class_size = class_size;
  p->chunks_per_page = calc_chunks_per_page(a, class_size);
  set_index_divisor(p);
  p->total_pages = 0;
  p->free_chunks = 0;
  p->first_free_page = nullptr;
  p->last_page = nullptr;
  p->reserved = 0;
  p->set_alloc = 0;
  p->set_alloc_fail = 0;
  p->stripe_next = nullptr;
}

xpool* new_xpool(uint64_t class_size, xpage_allocator* a) {
  check_pool_args(class_size, a);
  xpool* p = static_cast<xpool*>(a->alloc_func(sizeof(xpool)));
  if (p == nullptr) return nullptr;
  __init_xpool(p, class_size, a);
  return p;
}

namespace {

// The tear-downs' report of the chunks still in use; the caller holds the pool mutex.
void report_leak(const xpool* p) {
  uint64_t total = static_cast<uint64_t>(p->chunks_per_page) * p->total_pages;
  if (p->free_chunks < total)
    std::fprintf(xalloc_output(), "xpool 0x%lx causes leak %lu chunks (x%lu bytes) of memory \n",
                 reinterpret_cast<unsigned long>(p),
                 static_cast<unsigned long>(total - p->free_chunks),
                 static_cast<unsigned long>(p->class_size));
}

}  // namespace

void __uninit_xpool(xpool* p) {
  if (p == nullptr) return;
  xlock_acquire(&p->mutex);
  report_leak(p);
  if (p->last_page != nullptr) delete_xpages_chain_all(p->last_page);
  p->last_page = p->first_free_page = nullptr;
  p->total_pages = p->free_chunks = 0;
  xlock_release(&p->mutex);
  pthread_mutex_destroy(&p->mutex);
}

bool __retire_xpool(xpool* p) {
  if (p == nullptr) return false;
  xlock_acquire(&p->mutex);
  report_leak(p);
  // Every page of the chain holds a chunk in use (an emptied page leaves at once), so the
  // whole chain stays, linked from the record as it is.
  const bool keeps = p->total_pages != 0;
  xlock_release(&p->mutex);
  pthread_mutex_destroy(&p->mutex);
  return keeps;
}

void delete_xpool(xpool* p) {
  if (p == nullptr) return;
  xfree_func_t free_func = p->page_allocator->free_func;
  __uninit_xpool(p);
  free_func(p);
}

namespace {

// Takes a chunk; the caller holds the pool mutex. Null when the page allocator refuses.
inline void* alloc_locked(xpool* p) {
  char* page = static_cast<char*>(p->first_free_page);
  xpage_in_pool* hp;
  if (page == nullptr) {
    page = static_cast<char*>(p->last_page != nullptr ? new_xpage_after(p->last_page)
                                                      : new_xpage(p->page_allocator));
    if (page == nullptr) return nullptr;
    hp = reinterpret_cast<xpage_in_pool*>(page);
    std::memcpy(hp->magic, "2013", 4);
    hp->reserved0 = 0;
    hp->pool = p;
    // The stack reads 0, 1, ..., cpp - 1 without being written (see `untouched`).
    const uint32_t cpp = p->chunks_per_page;
    hp->free_chunks = cpp;
    hp->untouched = cpp;
#if XASAN_POISONING
    for (uint32_t i = 0; i < cpp; ++i)
      xasan_poison(page + chunks_offset(p) + i * (p->class_size + 4) + 4, p->class_size);
#endif
    ++p->total_pages;
    p->free_chunks += cpp;
    p->last_page = page;
    p->first_free_page = page;
  } else {
    hp = reinterpret_cast<xpage_in_pool*>(page);
  }
  const uint32_t left = hp->free_chunks;
  XCHECK(left > 0, "p_xp->first_free_page->free_chunks > 0");
  // Counters first, through locals: the compiler cannot tell that the tag store does not
  // alias them and would reload them after it.
  uint32_t index;
  if (left == hp->untouched) {
    index = left - 1;  // never written: the entry holds its own position
    hp->untouched = left - 1;
  } else {
    index = page_stack(page)[left - 1];
  }
  hp->free_chunks = left - 1;
  --p->free_chunks;
  if (left == 1) p->first_free_page = next_page(page);
  const uint32_t tag = static_cast<uint32_t>(chunks_offset(p) + index * (p->class_size + 4));
  store_tag(page + tag, tag);
  xasan_unpoison(page + tag + 4, p->class_size);
  return page + tag + 4;
}

}  // namespace

void* xpool_alloc(xpool* p) {
  if (p == nullptr) return nullptr;
  xlock_acquire(&p->mutex);
  void* chunk = alloc_locked(p);
  xlock_release(&p->mutex);
  return chunk;
}

void* __xpool_alloc_for_set(xpool* p, size_t size) {
  if (p == nullptr) return nullptr;
  xlock_acquire(&p->mutex);
  void* chunk = alloc_locked(p);
  uint64_t* counter = chunk != nullptr ? &p->set_alloc : &p->set_alloc_fail;
  __atomic_store_n(counter, *counter + size, __ATOMIC_RELAXED);  // only writer: holds the mutex
  xlock_release(&p->mutex);
  return chunk;
}

void xpool_free(void* chunk) {
  if (chunk == nullptr) return;
  uint32_t tag = load_tag(chunk);
  if (tag == 0) return;  // already free
  char* tagp = static_cast<char*>(chunk) - 4;
  if (tag == XCHUNK_NULLPOOL_TAG) {
    char* block = static_cast<char*>(chunk) - XNULLPOOL_HEADER_SIZE;
    nullpool_header h;
    std::memcpy(&h, block, sizeof h);
    h.free_fn(block);
    return;
  }
  char* page = tagp - tag;
  xpage_in_pool* hp = reinterpret_cast<xpage_in_pool*>(page);
  xpool* p = hp->pool;
  xlock_acquire(&p->mutex);
  if (load_tag(chunk) == 0) {  // lost a race with a second free of the same chunk
    xlock_release(&p->mutex);
    return;
  }
  const uint32_t cpp = p->chunks_per_page;
  const uint32_t now_free = hp->free_chunks + 1;
  page_stack(page)[now_free - 1] = chunk_index(p, tag - static_cast<uint32_t>(chunks_offset(p)));
  hp->free_chunks = now_free;
  ++p->free_chunks;
  store_tag(tagp, 0);
  xasan_poison(chunk, p->class_size);
  if (now_free == cpp) {
    if (p->last_page == page) p->last_page = prev_page(page);
    if (p->first_free_page == page) p->first_free_page = next_page(page);
    delete_xpage(page);
    --p->total_pages;
    p->free_chunks -= cpp;
  } else if (now_free == 1) {
    // It was full: it moves to just before the first page with a free chunk, or to the
    // end when every page was full. Often it is there already (the page filled last sits
    // right before the first free one), and then no link changes.
    if (p->first_free_page != nullptr) {
      if (p->first_free_page != page && page_header(page)->next != page_header(p->first_free_page))
        move_page(page, p->first_free_page, true);
    } else {
      if (p->last_page != page) move_page(page, p->last_page, false);
      p->last_page = page;
    }
    p->first_free_page = page;
  }
  xlock_release(&p->mutex);
}

void* nullpool_alloc_silent(size_t size, size_t align, void* (*alloc_fn)(size_t),
                            void (*free_fn)(void*)) {
  XCHECK(size > 0 && align > 0, "size > 0 && align > 0");
  size_t block_size;
  if (__builtin_add_overflow(size, XNULLPOOL_HEADER_SIZE, &block_size)) return nullptr;
  size_t rem = block_size % align;
  if (rem != 0 && __builtin_add_overflow(block_size, align - rem, &block_size)) return nullptr;
  if (alloc_fn == nullptr) alloc_fn = std::malloc;
  if (free_fn == nullptr) free_fn = std::free;
  char* block = static_cast<char*>(alloc_fn(block_size));
  if (block == nullptr) return nullptr;
  nullpool_header h = {alloc_fn, free_fn, size, align};
  std::memcpy(block, &h, sizeof h);
  store_tag(block + sizeof h, XCHUNK_NULLPOOL_TAG);
  return block + XNULLPOOL_HEADER_SIZE;
}

void* nullpool_alloc(size_t size, size_t align, void* (*alloc_fn)(size_t), void (*free_fn)(void*)) {
  std::fprintf(xalloc_output(), "nullpool_alloc: %lu \n", static_cast<unsigned long>(size));
  return nullpool_alloc_silent(size, align, alloc_fn, free_fn);
}

bool xchunk_is_nullpool(const void* chunk) {
  return chunk != nullptr && load_tag(chunk) == XCHUNK_NULLPOOL_TAG;
}

uint64_t xchunk_get_class_size(const void* chunk) {
  if (chunk == nullptr) return 0;
  uint32_t tag = load_tag(chunk);
  if (tag == 0) return 0;
  if (tag == XCHUNK_NULLPOOL_TAG) {
    nullpool_header h;
    std::memcpy(&h, static_cast<const char*>(chunk) - XNULLPOOL_HEADER_SIZE, sizeof h);
    return h.size;
  }
  const char* page = static_cast<const char*>(chunk) - 4 - tag;
  return reinterpret_cast<const xpage_in_pool*>(page)->pool->class_size;
}

uint64_t xpool_get_class_size(const xpool* p) { return p != nullptr ? p->class_size : 0; }
uint32_t xpool_get_chunks_per_page(const xpool* p) { return p != nullptr ? p->chunks_per_page : 0; }
xpage_allocator* xpool_get_page_allocator(const xpool* p) {
  return p != nullptr ? p->page_allocator : nullptr;
}

void xpool_dump_info(xpool* p, xdump_property_func_t callback, void* context) {
  if (p == nullptr) return;
  if (callback == nullptr) callback = xpool_print_property;
  const unsigned long long class_size = p->class_size, chunks_per_page = p->chunks_per_page;
  unsigned long long free_chunks = 0, total_pages = 0, n = 0, s = 0;
  for (xpool* q = p; q != nullptr; q = q->stripe_next) {
    xlock_acquire(&q->mutex);
    free_chunks += q->free_chunks;
    total_pages += q->total_pages;
    for (void* page = q->first_free_page; page != nullptr; page = next_page(page)) {
      ++n;
      s += reinterpret_cast<xpage_in_pool*>(page)->free_chunks;
    }
    xlock_release(&q->mutex);
  }
  char text[256];
  std::snprintf(text, sizeof text, "%llu", class_size);
  callback(context, "class_size", text);
  std::snprintf(text, sizeof text, "%llu", chunks_per_page);
  callback(context, "chunks_per_page", text);
  std::snprintf(text, sizeof text, "%llu", total_pages);
  callback(context, "total_pages", text);
  std::snprintf(text, sizeof text, "%llu", n);
  callback(context, "free_pages", text);
  std::snprintf(text, sizeof text, "%llu", chunks_per_page * total_pages);
  callback(context, "total_chunks", text);
  std::snprintf(text, sizeof text, "%llu", free_chunks);
  callback(context, "free_chunks", text);
  if (s != free_chunks) {
    std::snprintf(text, sizeof text, "%lld", static_cast<long long>(s - free_chunks));
    callback(context, "diff_free_chunks", text);
  }
}

void xpool_print_property(void*, const char* key, const char* value) {
  std::printf("XPO %s=%s \n", key, value);
}
