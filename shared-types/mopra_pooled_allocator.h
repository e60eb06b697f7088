// mopra::pooled_allocator: MopraX's standard allocator over the process-wide pooled
// allocator (src/xlabs.h), and the exit handler that stops that allocator once.
//
// MopraX's build only (MOPRA_PX_BUILD); MopraXJNI's build has neither.
//
// It is a named allocator used in explicit container typedefs (shared-types/
// mopra_containers.h); nothing is added to or specialised in namespace std, so the
// standard types of other code in the process (Thrift's records, other PHP extensions)
// keep std::allocator.
//
// Blocks: n objects of T come from the default slab set serving their bytes
// (find_xlabs_default, then xlabs_alloc; the allocator starts at first use). Slab chunks
// carry no alignment guarantee, so every type aligned beyond one byte gets an aligned
// address inside a chunk a few bytes larger. Once
// the allocator has stopped, new blocks come from malloc and are recorded, so their
// release reaches free(); a pooled block released after the stop is kept (the stop keeps
// its page) and never handed to free(), nor read.
// Stateless: every instance compares equal. allocate throws std::bad_alloc.
//
// Shut-down: every unit that includes this header calls mopra::reg_uninit_xallocator()
// during its static initialisation, before any of its own statics; the first call
// registers (a function-local static) an exit-time destructor that calls
// uninit_xallocator(). Statics built after it are destroyed before it runs, so no pooled
// static outlives the stop. Nothing else stops MopraX's allocator.
//
// Threads: allocate and deallocate run on any threads (the pools lock themselves; the
// counters are atomic; the record of post-stop blocks has its own mutex, taken only after
// the stop, never with an allocator lock held).
#ifndef TOKA_SHARED_TYPES_MOPRA_POOLED_ALLOCATOR_H
#define TOKA_SHARED_TYPES_MOPRA_POOLED_ALLOCATOR_H

#include <cstddef>
#include <cstdint>
#include <new>
#include <type_traits>

#include "shared-types/mopra_build.h"

#ifndef MOPRA_PX_BUILD
#error "mopra_pooled_allocator.h belongs to MopraX's build (mopra_holders_px)"
#endif

namespace mopra {

// Registers the exit handler on the first call; returns 1.
int reg_uninit_xallocator();

// Blocks handed out and not yet released through pooled_allocator, and their bytes;
// `kept` counts pooled blocks released after the stop (kept, not freed). Relaxed reads.
struct pooled_counters {
  int64_t live_blocks;
  int64_t live_bytes;
  int64_t kept_blocks;
};
pooled_counters pooled_allocator_counters();

namespace detail {
void* pooled_allocate(size_t bytes, size_t align);
void pooled_deallocate(void* p, size_t bytes, size_t align) noexcept;
}  // namespace detail

template <typename T>
class pooled_allocator {
 public:
  typedef T value_type;
  typedef std::true_type propagate_on_container_move_assignment;
  typedef std::true_type is_always_equal;
  template <typename U>
  struct rebind {
    typedef pooled_allocator<U> other;
  };

  pooled_allocator() noexcept {}
  template <typename U>
  pooled_allocator(const pooled_allocator<U>&) noexcept {}

  T* allocate(size_t n) {
    static_assert(alignof(T) <= alignof(std::max_align_t), "over-aligned type");
    if (n > SIZE_MAX / sizeof(T)) throw std::bad_alloc();
    return static_cast<T*>(detail::pooled_allocate(n * sizeof(T), alignof(T)));
  }
  void deallocate(T* p, size_t n) noexcept {
    detail::pooled_deallocate(p, n * sizeof(T), alignof(T));
  }
};

template <typename T, typename U>
inline bool operator==(const pooled_allocator<T>&, const pooled_allocator<U>&) noexcept {
  return true;
}
template <typename T, typename U>
inline bool operator!=(const pooled_allocator<T>&, const pooled_allocator<U>&) noexcept {
  return false;
}

}  // namespace mopra

// Per unit: registers the exit handler before this unit's own statics are built.
static const int mopra_uninit_xallocator_registered = mopra::reg_uninit_xallocator();

#endif  // TOKA_SHARED_TYPES_MOPRA_POOLED_ALLOCATOR_H
