// Starts the process-wide allocator, allocates and frees a few blocks from each default
// slab set and one null-pool block, prints the dumps of the three page allocators and the
// three slab sets, and stops the allocator.
#include <cstdio>
#include <cstring>

#include "src/xlabs.h"

int main() {
  init_xallocator();

  const size_t sizes[] = {1, 100, 1880, 1881, 100000, 2084824, 2084825, 12582872, 12582873};
  void* blocks[sizeof sizes / sizeof sizes[0]];
  for (size_t i = 0; i < sizeof sizes / sizeof sizes[0]; ++i) {
    blocks[i] = xa_malloc(sizes[i]);
    if (blocks[i] == nullptr) {
      std::printf("allocation of %zu bytes failed\n", sizes[i]);
      return 1;
    }
    std::memset(blocks[i], 0x5a, sizes[i]);
    std::printf("xa_malloc(%zu): class %llu\n", sizes[i],
                static_cast<unsigned long long>(xchunk_get_class_size(blocks[i])));
  }

  std::printf("--- with blocks in use\n");
  xpage_allocator* pages[3] = {default_xpage_allocator, default_xbigpage_allocator,
                               default_xhugepage_allocator};
  xlabs* sets[3] = {default_xlabs, default_xbiglabs, default_xhugelabs};
  for (xpage_allocator* a : pages) xpage_allocator_dump_info(a, nullptr, nullptr);
  for (xlabs* s : sets) xlabs_dump_info(s, nullptr, nullptr);

  for (void* b : blocks) xa_free(b);

  std::printf("--- after freeing them\n");
  for (xpage_allocator* a : pages) xpage_allocator_dump_info(a, nullptr, nullptr);
  for (xlabs* s : sets) xlabs_dump_info(s, nullptr, nullptr);

  uninit_xallocator();
  return 0;
}
