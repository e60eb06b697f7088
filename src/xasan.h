// Pooled memory as AddressSanitizer sees it. In a build with AddressSanitizer the pools
// poison the usable bytes of every chunk they hold free (from the page's carve-up to the
// chunk's allocation, and again from its free), also while an emptied page waits on its
// page allocator's free list, so that a use after free inside pooled memory is reported as
// it is for malloc; a page allocator makes a page wholly usable when it hands it out again.
// Chunk tags, page headers and the pages' free-index stacks stay addressable: a second free
// of a chunk reads its tag, and xchunk_get_class_size of a freed chunk reads it as 0.
// AddressSanitizer tracks 8-byte granules, so the last bytes of a chunk that shares its
// final granule with the next chunk's tag stay addressable.
//
// In every other build the functions are empty and XASAN_POISONING is 0: no code, no
// change to what the allocator does or reports. No state; callers hold the lock that owns
// the memory they (un)poison.
#ifndef TOKA_SRC_XASAN_H
#define TOKA_SRC_XASAN_H

#include <cstddef>

#if defined(__SANITIZE_ADDRESS__)
#define XASAN_POISONING 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define XASAN_POISONING 1
#endif
#endif
#ifndef XASAN_POISONING
#define XASAN_POISONING 0
#endif

#if XASAN_POISONING
#include <sanitizer/asan_interface.h>
#endif

// Marks [p, p + n) as not to be touched / as usable again.
inline void xasan_poison(const void* p, size_t n) {
#if XASAN_POISONING
  __asan_poison_memory_region(p, n);
#else
  (void)p;
  (void)n;
#endif
}
inline void xasan_unpoison(const void* p, size_t n) {
#if XASAN_POISONING
  __asan_unpoison_memory_region(p, n);
#else
  (void)p;
  (void)n;
#endif
}

#endif  // TOKA_SRC_XASAN_H
