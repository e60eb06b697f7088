// Chained hash table of shared objects (see src/xds/shobject.h) with a fixed power-of-two
// bucket count.
//
// Objects are linked intrusively through a pointer field at link_offset inside each object
// and every chain is kept sorted by the table's compare function. A lookup fills an
// xassoc_find_result that insertion, replacement and removal then act on. The table owns one
// reference of every stored object: the caller hands one over on insertion and replacement,
// and the table releases it (delete_shobject with the table's destructor and free function)
// on removal, replacement, clearing and deletion. xassoc_unlink_bucket hands the references
// of a whole chain back to the caller.
//
// The table's handle is the address just past its header; new_xassoc returns it and
// delete_xassoc releases both blocks (taken with malloc). Every function accepts a null table.
//
// Thread-safety: none. The table takes no lock; a lookup and the insertion, replacement or
// removal that uses its result, and every other call on the same table, must run under one
// lock held by the caller.
#ifndef TOKA_SRC_XDS_XASSOC_H
#define TOKA_SRC_XDS_XASSOC_H

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "src/xds/shobject.h"

// Opaque handle of a table.
struct xassoc;

typedef uint64_t (*xassoc_hash_fn)(const void* key);
// Negative, 0 or positive as key sorts before, equal to or after the stored object.
typedef int (*xassoc_compare_fn)(const void* key, const void* object);

struct xassoc_find_result {
  void* found;     // the object equal to the key, or null
  void* prev;      // the last object of the chain sorting before the key, or null
  int64_t bucket;  // bucket index; -1 when no lookup took place
};

void make_not_found_result(xassoc_find_result* result);

// table_size > 1 and both functions are required (a fault otherwise); the bucket count is
// the smallest power of two >= table_size. Null when memory is short.
xassoc* new_xassoc(uint64_t table_size, uint64_t link_offset, xassoc_hash_fn hash_fn,
                   xassoc_compare_fn compare_fn, shobject_dtor_fn dtor_fn,
                   shobject_free_fn free_fn);
void delete_xassoc(xassoc* table);
void xassoc_clear(xassoc* table);

// Null overrides use the table's functions. A null key gives the not-found result.
void xassoc_find_key(xassoc_find_result* result, xassoc* table, const void* key,
                     xassoc_hash_fn hash_fn, xassoc_compare_fn compare_fn);
void xassoc_find(xassoc_find_result* result, xassoc* table, const void* key);

// Act at the position of a lookup's result; nothing happens for a result whose bucket is out
// of range (as -1 is) or a null object. Replacing or removing where no object sits is a fault.
void xassoc_insert(xassoc* table, const xassoc_find_result* result, void* object);
void xassoc_replace(xassoc* table, const xassoc_find_result* result, void* object);
void xassoc_remove(xassoc* table, const xassoc_find_result* result);

void* xassoc_get_next_item(xassoc* table, void* object);

// hash(key) & mask, or -1 for a null key or table.
int64_t xassoc_find_bucket_key(xassoc* table, const void* key, xassoc_hash_fn hash_fn);
int64_t xassoc_find_bucket(xassoc* table, const void* key);

void* xassoc_get_bucket(xassoc* table, uint64_t index);
// Chain length, saturating at 0xffff.
uint16_t xassoc_get_bucket_size(xassoc* table, uint64_t index);
// Detaches a bucket's whole chain and returns its first object; the objects stay linked to
// each other and their references pass to the caller. Null for an index out of range.
void* xassoc_unlink_bucket(xassoc* table, uint64_t index);

uint64_t xassoc_get_table_size(xassoc* table);
xassoc_hash_fn xassoc_get_hash_fn(xassoc* table);
xassoc_compare_fn xassoc_get_compare_fn(xassoc* table);
uint64_t xassoc_get_size(xassoc* table);
// Longest chain since creation or the last clear, saturating at 0xffff.
uint16_t xassoc_get_max_bucket_size(xassoc* table);

// The table's layout, for the inline lookup below; nothing else should use it.
namespace xassoc_detail {

struct bucket {
  void* head;
  // Chain lengths are kept at full width so that `size` stays exact however long a chain
  // grows; the 16-bit figures the interface reports saturate instead.
  uint64_t count;
};

struct header {
  bucket* buckets;
  uint64_t table_size;
  uint64_t mask;
  uint64_t link_offset;
  xassoc_hash_fn hash_fn;
  xassoc_compare_fn compare_fn;
  shobject_dtor_fn dtor_fn;
  shobject_free_fn free_fn;
  uint64_t size;
  uint16_t max_bucket_size;
};

// The header sits just in front of the handle; keep the handle pointer-aligned.
constexpr size_t HEADER_SPACE = (sizeof(header) + alignof(max_align_t) - 1) / alignof(max_align_t) *
                                alignof(max_align_t);

inline header* header_of(xassoc* table) {
  return reinterpret_cast<header*>(reinterpret_cast<char*>(table) - HEADER_SPACE);
}

// The link may sit at any offset of a packed object: read and write it bytewise.
inline void* get_link(const header* h, void* object) {
  void* next;
  std::memcpy(&next, static_cast<char*>(object) + h->link_offset, sizeof next);
  return next;
}

}  // namespace xassoc_detail

// Starts loading the bucket of a hash (a hint; no lock needed: the bucket array of a table
// never moves). Nothing for a null table.
inline void xassoc_prefetch_bucket(xassoc* table, uint64_t hash) {
  if (!table) return;
  const xassoc_detail::header* h = xassoc_detail::header_of(table);
  __builtin_prefetch(&h->buckets[hash & h->mask]);
}

// xassoc_find_key for a key whose hash is already known (what the table's hash function, or
// the override the caller would pass, gives for it), with the comparison inline:
// compare(object) is negative, 0 or positive as the key sorts before, equal to or after the
// object. Fills the same result as xassoc_find_key; a null table gives the not-found result.
template <typename _Compare>
inline void xassoc_find_hashed(xassoc_find_result* result, xassoc* table, uint64_t hash,
                               const _Compare& compare) {
  result->found = nullptr;
  result->prev = nullptr;
  result->bucket = -1;
  if (!table) return;
  const xassoc_detail::header* h = xassoc_detail::header_of(table);
  const uint64_t index = hash & h->mask;
  result->bucket = int64_t(index);
  for (void* object = h->buckets[index].head; object; object = xassoc_detail::get_link(h, object)) {
    const int c = compare(object);
    if (c == 0) {
      result->found = object;
      return;
    }
    if (c < 0) return;
    result->prev = object;
  }
}

#endif  // TOKA_SRC_XDS_XASSOC_H
