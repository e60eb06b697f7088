// One-thread workload over the process-wide allocator, then every dump of it: the default
// page allocators', sets' and pools' own print callbacks and tessix__memstat, with blocks
// live and after all are freed. Its output (lines with an address taken out) is compared
// with a recorded one by alloc_dump_compare.sh: the figures a one-thread process reports
// must not change with the allocator's internals.
#include <cstdint>
#include <cstdio>
#include <vector>

#include "src/TessiX_impl.h"
#include "src/xlabs.h"
#include "src/xpage.h"
#include "src/xpool.h"
#include "src/xstring.h"

namespace {

void dump_all(const char* title) {
  std::printf("==== %s\n", title);
  const xstring stat = tessix__memstat(0);
  std::fwrite(stat.data(), 1, stat.size(), stdout);
  xpage_allocator* pages[3] = {default_xpage_allocator, default_xbigpage_allocator,
                               default_xhugepage_allocator};
  xlabs* sets[3] = {default_xlabs, default_xbiglabs, default_xhugelabs};
  for (int i = 0; i < 3; ++i) {
    xpage_allocator_dump_info(pages[i], nullptr, nullptr);
    xlabs_dump_info(sets[i], nullptr, nullptr);
    xlabs_traverse_pools(sets[i], nullptr, nullptr);
  }
  xpool_dump_info(xlabs_get_pool(default_xlabs, 68), nullptr, nullptr);
  std::printf("total_alloc=%llu nullpool_alloc=%llu pool16_pages=%llu\n",
              static_cast<unsigned long long>(xlabs_get_total_alloc(default_xlabs)),
              static_cast<unsigned long long>(xlabs_get_nullpool_alloc(default_xhugelabs)),
              static_cast<unsigned long long>(xlabs_get_pool(default_xlabs, 16)->total_pages));
  std::fflush(stdout);
}

}  // namespace

int main() {
  tessix__initialize(16);  // starts the allocator and adds the cache's item class
  std::vector<void*> live;
  uint32_t x = 12345;
  auto next = [&x]() {
    x = x * 1103515245u + 12345u;
    return x >> 8;
  };
  for (int i = 0; i < 20000; ++i) {
    const uint32_t r = next();
    size_t size;
    switch (r % 64) {
      case 0: size = 1881 + r % 300000; break;
      case 1: size = i % 7 == 0 ? 2084825 + r % 3000000 : 2000 + r % 2000; break;
      default: size = 1 + r % 1880; break;
    }
    void* m = xa_malloc(size);
    if (r % 3 == 0 && !live.empty()) {
      const size_t k = next() % live.size();
      xa_free(live[k]);
      live[k] = live.back();
      live.pop_back();
    }
    if (r % 11 == 0) m = xa_realloc(m, size + 40);
    live.push_back(m);
  }
  xpool* items = xlabs_get_pool(default_xlabs, 68);
  std::vector<void*> item_chunks;
  for (int i = 0; i < 500; ++i) item_chunks.push_back(xpool_alloc(items));
  for (int i = 0; i < 500; i += 3) xpool_free(item_chunks[i]);
  xstring text = xstring::Format("%s-%d", "pooled", 42);
  char* buffer = xa_new<char>(100);
  dump_all("live");
  xa_delete(buffer);
  for (int i = 0; i < 500; ++i)
    if (i % 3 != 0) xpool_free(item_chunks[i]);
  for (void* m : live) xa_free(m);
  text = xstring();
  dump_all("freed");
  return 0;
}
