// Compiled-in configuration of the process-wide allocator: the three default page
// allocators (normal, big and huge pages) and the three default slab sets over them.
// Plain constant records; read-only, hence safe from any thread.
#ifndef TOKA_DEFAULT_CONFIG_H
#define TOKA_DEFAULT_CONFIG_H

#include <cstddef>
#include <cstdint>

// Parameters of one page allocator, in the order new_xpage_allocator takes them.
struct xpage_config {
  uint64_t page_size;        // usable bytes of a page (the 40-byte header is extra)
  uint64_t max_pages;        // most pages at once; 0 = unlimited
  uint64_t pre_alloc_pages;  // pages pre-allocated in one block at creation
  int64_t limit_free_pages;  // most released pages kept for reuse; -1 = all
  void* (*alloc_func)(size_t);
  void (*free_func)(void*);
};

// Parameters of one slab set.
struct xlabs_config {
  uint64_t max_pools;            // capacity of the set's pool array
  double class_size_factor;      // growth factor of the class sizes
  uint64_t first_class_size;     // 0: start from the built-in table of small classes
  uint64_t min_chunks_per_page;  // a class needs at least this many chunks per page
};

extern const xpage_config default_xpage_config;
extern const xpage_config default_xbigpage_config;
extern const xpage_config default_xhugepage_config;
extern const xlabs_config default_xlabs_config;
extern const xlabs_config default_xbiglabs_config;
extern const xlabs_config default_xhugelabs_config;

#endif  // TOKA_DEFAULT_CONFIG_H
