// Shared objects: a block with an atomic 16-bit reference count in front of its payload.
//
// new_shobject hands out the payload address; that address is the object's handle. The
// creator owns the first reference; sh_shobject adds one, delete_shobject drops one and the
// last release runs the destructor on the payload and frees the whole block (count included)
// with the given free function. At most 65535 references may exist at once: taking one more
// or releasing an object whose count is already 0 stops the process ("refcount < 0xffff").
//
// Thread-safety: the count changes only by atomic operations, so references may be taken
// and released from any thread. No lock is taken. The payload itself is not guarded.
#ifndef TOKA_SRC_XDS_SHOBJECT_H
#define TOKA_SRC_XDS_SHOBJECT_H

#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "src/xcheck.h"

typedef void* (*shobject_alloc_fn)(size_t size);
typedef void (*shobject_dtor_fn)(void* object);
typedef void (*shobject_free_fn)(void* block);

// Bytes in front of the payload that hold the reference count.
constexpr size_t SHOBJECT_HEADER_SIZE = sizeof(uint16_t);

// A block of length + 2 bytes from alloc_fn (malloc when null), count 1; the payload
// address, or null when the allocation fails.
void* new_shobject(size_t length, shobject_alloc_fn alloc_fn);

// The reference count in front of an object.
inline uint16_t* shobject_count_of(void* object) {
  return reinterpret_cast<uint16_t*>(static_cast<char*>(object) - SHOBJECT_HEADER_SIZE);
}

// Adds one reference and returns the object; null gives null. Inline: it is on every
// table hit.
inline void* sh_shobject(void* object) {
  if (!object) return nullptr;
  uint16_t* count = shobject_count_of(object);
  uint16_t old = __atomic_load_n(count, __ATOMIC_RELAXED);
  // A compare-and-swap rather than a plain add: the count must never wrap to 0, where a
  // later release would free an object that still has 65536 holders.
  do {
    XCHECK(old < 0xffff, "refcount < 0xffff");
  } while (!__atomic_compare_exchange_n(count, &old, uint16_t(old + 1), true, __ATOMIC_RELAXED,
                                        __ATOMIC_RELAXED));
  return object;
}

// Drops one reference; the last one runs dtor_fn (when given) on the payload and releases
// the block with free_fn (free when null). Null is ignored.
inline void delete_shobject(void* object, shobject_dtor_fn dtor_fn, shobject_free_fn free_fn) {
  if (!object) return;
  uint16_t* count = shobject_count_of(object);
  // Release: this holder's writes to the payload happen before the destructor runs.
  // Acquire (on the last release): the destructor sees every other holder's writes.
  uint16_t old = __atomic_fetch_sub(count, uint16_t(1), __ATOMIC_ACQ_REL);
  uint16_t now = uint16_t(old - 1);
  XCHECK(now < 0xffff, "refcount < 0xffff");
  if (old != 1) return;
  if (dtor_fn) dtor_fn(object);
  if (free_fn)
    free_fn(count);
  else
    std::free(count);
}

// True when fewer than two references exist; false for null.
bool shobject_alone(void* object);

#endif  // TOKA_SRC_XDS_SHOBJECT_H
