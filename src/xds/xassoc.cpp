#include "src/xds/xassoc.h"

#include <cstdlib>
#include <cstring>

#include "src/xcheck.h"

namespace {

typedef xassoc_detail::bucket xassoc_bucket;
typedef xassoc_detail::header xassoc_header;
using xassoc_detail::HEADER_SPACE;
using xassoc_detail::header_of;
using xassoc_detail::get_link;

inline uint16_t saturate16(uint64_t v) { return v > 0xffff ? uint16_t(0xffff) : uint16_t(v); }

// The link may sit at any offset of a packed object: write it bytewise.
inline void set_link(const xassoc_header* h, void* object, void* next) {
  std::memcpy(static_cast<char*>(object) + h->link_offset, &next, sizeof next);
}

inline void release(const xassoc_header* h, void* object) {
  delete_shobject(object, h->dtor_fn, h->free_fn);
}

}  // namespace

void make_not_found_result(xassoc_find_result* result) {
  if (!result) return;
  result->found = nullptr;
  result->prev = nullptr;
  result->bucket = -1;
}

xassoc* new_xassoc(uint64_t table_size, uint64_t link_offset, xassoc_hash_fn hash_fn,
                   xassoc_compare_fn compare_fn, shobject_dtor_fn dtor_fn,
                   shobject_free_fn free_fn) {
  XCHECK(table_size > 1 && hash_fn != 0 && compare_fn != 0,
         "table_size > 1 && hash_fn != 0 && compare_fn != 0");
  uint64_t buckets = 1;
  while (buckets < table_size) {
    if (buckets > (UINT64_MAX >> 1)) return nullptr;
    buckets <<= 1;
  }
  if (buckets > SIZE_MAX / sizeof(xassoc_bucket)) return nullptr;
  char* block = static_cast<char*>(std::malloc(HEADER_SPACE));
  if (!block) return nullptr;
  auto* h = reinterpret_cast<xassoc_header*>(block);
  h->buckets = static_cast<xassoc_bucket*>(std::calloc(buckets, sizeof(xassoc_bucket)));
  if (!h->buckets) {
    std::free(block);
    return nullptr;
  }
  h->table_size = buckets;
  h->mask = buckets - 1;
  h->link_offset = link_offset;
  h->hash_fn = hash_fn;
  h->compare_fn = compare_fn;
  h->dtor_fn = dtor_fn;
  h->free_fn = free_fn;
  h->size = 0;
  h->max_bucket_size = 0;
  return reinterpret_cast<xassoc*>(block + HEADER_SPACE);
}

void delete_xassoc(xassoc* table) {
  if (!table) return;
  xassoc_clear(table);
  xassoc_header* h = header_of(table);
  std::free(h->buckets);
  std::free(h);
}

void xassoc_clear(xassoc* table) {
  if (!table) return;
  xassoc_header* h = header_of(table);
  // The buckets past the last stored object are empty already: a large, sparse table is not
  // walked to its end (nor, empty, at all).
  uint64_t left = h->size;
  for (uint64_t i = 0; left > 0 && i < h->table_size; ++i) {
    void* object = h->buckets[i].head;
    if (!object) continue;
    while (object) {
      void* next = get_link(h, object);
      set_link(h, object, nullptr);
      release(h, object);
      object = next;
      --left;
    }
    h->buckets[i].head = nullptr;
    h->buckets[i].count = 0;
  }
  h->size = 0;
  h->max_bucket_size = 0;
}

void xassoc_find_key(xassoc_find_result* result, xassoc* table, const void* key,
                     xassoc_hash_fn hash_fn, xassoc_compare_fn compare_fn) {
  if (!result) return;
  if (!table || !key) {
    make_not_found_result(result);
    return;
  }
  const xassoc_header* h = header_of(table);
  if (!hash_fn) hash_fn = h->hash_fn;
  if (!compare_fn) compare_fn = h->compare_fn;
  xassoc_find_hashed(result, table, hash_fn(key),
                     [key, compare_fn](const void* object) { return compare_fn(key, object); });
}

void xassoc_find(xassoc_find_result* result, xassoc* table, const void* key) {
  xassoc_find_key(result, table, key, nullptr, nullptr);
}

namespace {

// The bucket a result points at, or null when it is out of range.
inline xassoc_bucket* bucket_of(xassoc_header* h, const xassoc_find_result* result) {
  if (!result || result->bucket < 0 || uint64_t(result->bucket) >= h->table_size) return nullptr;
  return &h->buckets[result->bucket];
}

}  // namespace

void xassoc_insert(xassoc* table, const xassoc_find_result* result, void* object) {
  if (!table || !object) return;
  xassoc_header* h = header_of(table);
  xassoc_bucket* b = bucket_of(h, result);
  if (!b) return;
  if (result->prev) {
    set_link(h, object, get_link(h, result->prev));
    set_link(h, result->prev, object);
  } else {
    set_link(h, object, b->head);
    b->head = object;
  }
  ++b->count;
  ++h->size;
  uint16_t chain = saturate16(b->count);
  if (chain > h->max_bucket_size) h->max_bucket_size = chain;
}

void xassoc_replace(xassoc* table, const xassoc_find_result* result, void* object) {
  if (!table || !object) return;
  xassoc_header* h = header_of(table);
  xassoc_bucket* b = bucket_of(h, result);
  if (!b) return;
  void* old = result->prev ? get_link(h, result->prev) : b->head;
  XCHECK(old != 0, "found != 0");
  set_link(h, object, get_link(h, old));
  if (result->prev)
    set_link(h, result->prev, object);
  else
    b->head = object;
  set_link(h, old, nullptr);
  release(h, old);
}

void xassoc_remove(xassoc* table, const xassoc_find_result* result) {
  if (!table) return;
  xassoc_header* h = header_of(table);
  xassoc_bucket* b = bucket_of(h, result);
  if (!b) return;
  void* old = result->prev ? get_link(h, result->prev) : b->head;
  XCHECK(old != 0, "found != 0");
  void* next = get_link(h, old);
  if (result->prev)
    set_link(h, result->prev, next);
  else
    b->head = next;
  set_link(h, old, nullptr);
  --b->count;
  --h->size;
  release(h, old);
}

void* xassoc_get_next_item(xassoc* table, void* object) {
  if (!table || !object) return nullptr;
  return get_link(header_of(table), object);
}

int64_t xassoc_find_bucket_key(xassoc* table, const void* key, xassoc_hash_fn hash_fn) {
  if (!table || !key) return -1;
  xassoc_header* h = header_of(table);
  if (!hash_fn) hash_fn = h->hash_fn;
  return int64_t(hash_fn(key) & h->mask);
}

int64_t xassoc_find_bucket(xassoc* table, const void* key) {
  return xassoc_find_bucket_key(table, key, nullptr);
}

void* xassoc_get_bucket(xassoc* table, uint64_t index) {
  if (!table) return nullptr;
  xassoc_header* h = header_of(table);
  return index < h->table_size ? h->buckets[index].head : nullptr;
}

uint16_t xassoc_get_bucket_size(xassoc* table, uint64_t index) {
  if (!table) return 0;
  xassoc_header* h = header_of(table);
  return index < h->table_size ? saturate16(h->buckets[index].count) : 0;
}

void* xassoc_unlink_bucket(xassoc* table, uint64_t index) {
  if (!table) return nullptr;
  xassoc_header* h = header_of(table);
  if (index >= h->table_size) return nullptr;
  xassoc_bucket* b = &h->buckets[index];
  void* head = b->head;
  h->size -= b->count;
  b->head = nullptr;
  b->count = 0;
  return head;
}

uint64_t xassoc_get_table_size(xassoc* table) { return table ? header_of(table)->table_size : 0; }

xassoc_hash_fn xassoc_get_hash_fn(xassoc* table) {
  return table ? header_of(table)->hash_fn : nullptr;
}

xassoc_compare_fn xassoc_get_compare_fn(xassoc* table) {
  return table ? header_of(table)->compare_fn : nullptr;
}

uint64_t xassoc_get_size(xassoc* table) { return table ? header_of(table)->size : 0; }

uint16_t xassoc_get_max_bucket_size(xassoc* table) {
  return table ? header_of(table)->max_bucket_size : 0;
}
