#include "src/xds/shobject.h"

#include <cstdlib>

#include "src/xcheck.h"

void* new_shobject(size_t length, shobject_alloc_fn alloc_fn) {
  if (length > SIZE_MAX - SHOBJECT_HEADER_SIZE) return nullptr;
  void* block = alloc_fn ? alloc_fn(length + SHOBJECT_HEADER_SIZE)
                         : std::malloc(length + SHOBJECT_HEADER_SIZE);
  if (!block) return nullptr;
  __atomic_store_n(static_cast<uint16_t*>(block), uint16_t(1), __ATOMIC_RELAXED);
  return static_cast<char*>(block) + SHOBJECT_HEADER_SIZE;
}

bool shobject_alone(void* object) {
  if (!object) return false;
  return __atomic_load_n(shobject_count_of(object), __ATOMIC_ACQUIRE) < 2;
}
