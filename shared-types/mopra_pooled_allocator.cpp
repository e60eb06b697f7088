#include "shared-types/mopra_pooled_allocator.h"

#include <atomic>
#include <cstdlib>
#include <cstring>

#include "src/xlabs.h"
#include "src/xpool.h"

namespace mopra {

namespace {

std::atomic<int64_t> s_live_blocks{0};
std::atomic<int64_t> s_live_bytes{0};
std::atomic<int64_t> s_kept_blocks{0};

struct xallocator_stopper {
  ~xallocator_stopper() { uninit_xallocator(); }
};

// Slab chunks promise no alignment a type could rely on, so a block for a type aligned
// beyond one byte starts at an aligned address inside a slightly larger chunk; the
// distance from the chunk (4 to align + 3 bytes) is kept in the 4 bytes before it.
inline size_t align_extra(size_t align) { return align > 1 ? align + 3 : 0; }

}  // namespace

int reg_uninit_xallocator() {
  static xallocator_stopper stopper;
  (void)stopper;
  return 1;
}

pooled_counters pooled_allocator_counters() {
  return {s_live_blocks.load(std::memory_order_relaxed),
          s_live_bytes.load(std::memory_order_relaxed),
          s_kept_blocks.load(std::memory_order_relaxed)};
}

namespace detail {

void* pooled_allocate(size_t bytes, size_t align) {
  if (bytes == 0) bytes = 1;
  const size_t extra = align_extra(align);
  if (bytes > SIZE_MAX - extra) throw std::bad_alloc();
  void* result;
  if (xlabs* set = find_xlabs_default(bytes + extra)) {
    char* chunk = static_cast<char*>(xlabs_alloc(set, bytes + extra));
    if (chunk == nullptr) throw std::bad_alloc();
    if (extra == 0) {
      result = chunk;
    } else {
      const uintptr_t at = reinterpret_cast<uintptr_t>(chunk);
      const uintptr_t aligned = (at + 4 + align - 1) & ~static_cast<uintptr_t>(align - 1);
      const uint32_t shift = static_cast<uint32_t>(aligned - at);
      std::memcpy(chunk + shift - 4, &shift, 4);
      result = chunk + shift;
    }
  } else {
    // After the stop: malloc (aligned for any type), recorded so its release knows it.
    result = std::malloc(bytes);
    if (result == nullptr) throw std::bad_alloc();
    if (!xa_unpooled_record(result)) {
      std::free(result);
      throw std::bad_alloc();
    }
  }
  s_live_blocks.fetch_add(1, std::memory_order_relaxed);
  s_live_bytes.fetch_add(static_cast<int64_t>(bytes), std::memory_order_relaxed);
  return result;
}

void pooled_deallocate(void* p, size_t bytes, size_t align) noexcept {
  if (p == nullptr) return;
  if (bytes == 0) bytes = 1;
  const size_t extra = align_extra(align);
  s_live_blocks.fetch_sub(1, std::memory_order_relaxed);
  s_live_bytes.fetch_sub(static_cast<int64_t>(bytes), std::memory_order_relaxed);
  // While the allocator runs, every block is a pooled one: made before the stop, and the
  // stop cannot come between (nothing restarts it).
  if (find_xlabs_default(bytes + extra) != nullptr) {
    char* at = static_cast<char*>(p);
    if (extra != 0) {
      uint32_t shift;
      std::memcpy(&shift, at - 4, 4);
      at -= shift;
    }
    xpool_free(at);
    return;
  }
  if (xa_unpooled_forget(p)) {
    std::free(p);
    return;
  }
  // Made before the stop: keep it, never touch it (the stop keeps its page, so no block made
  // after the stop has its address).
  s_kept_blocks.fetch_add(1, std::memory_order_relaxed);
}

}  // namespace detail

}  // namespace mopra
