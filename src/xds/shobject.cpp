#include "src/xds/shobject.h"

#include <cstdlib>

#include "src/xcheck.h"

namespace {

inline uint16_t* count_of(void* object) {
  return reinterpret_cast<uint16_t*>(static_cast<char*>(object) - SHOBJECT_HEADER_SIZE);
}

}  // namespace

void* new_shobject(size_t length, shobject_alloc_fn alloc_fn) {
  if (length > SIZE_MAX - SHOBJECT_HEADER_SIZE) return nullptr;
  void* block = alloc_fn ? alloc_fn(length + SHOBJECT_HEADER_SIZE)
                         : std::malloc(length + SHOBJECT_HEADER_SIZE);
  if (!block) return nullptr;
  __atomic_store_n(static_cast<uint16_t*>(block), uint16_t(1), __ATOMIC_RELAXED);
  return static_cast<char*>(block) + SHOBJECT_HEADER_SIZE;
}

void* sh_shobject(void* object) {
  if (!object) return nullptr;
  uint16_t* count = count_of(object);
  uint16_t old = __atomic_load_n(count, __ATOMIC_RELAXED);
  // A compare-and-swap rather than a plain add: the count must never wrap to 0, where a
  // later release would free an object that still has 65536 holders.
  do {
    XCHECK(old < 0xffff, "refcount < 0xffff");
  } while (!__atomic_compare_exchange_n(count, &old, uint16_t(old + 1), true,
                                        __ATOMIC_RELAXED, __ATOMIC_RELAXED));
  return object;
}

void delete_shobject(void* object, shobject_dtor_fn dtor_fn, shobject_free_fn free_fn) {
  if (!object) return;
  uint16_t* count = count_of(object);
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

bool shobject_alone(void* object) {
  if (!object) return false;
  return __atomic_load_n(count_of(object), __ATOMIC_ACQUIRE) < 2;
}
