#include "src/xstring.h"

#include <climits>
#include <cstdio>
#include <cstring>

void* __xal_alloc_unpooled(size_t bytes) noexcept {
  void* p = nullpool_alloc_silent(bytes, 1, ::malloc, ::free);
  if (p == nullptr || xa_unpooled_record(p)) return p;
  xpool_free(p);
  return nullptr;
}

void __xal_free_unpooled(void* p, size_t bytes) noexcept {
  // Not recorded: made by a slab set. Above every class it came from the null pool, whose
  // blocks outlive the stop; else it is a pool chunk and is kept.
  if (xa_unpooled_forget(p) || bytes > xa_max_class_size()) xpool_free(p);
}

int __vsnprintf(char* buffer, int size, const char* fmt, va_list ap) {
  return std::vsnprintf(buffer, size > 0 ? size_t(size) : 0, fmt, ap);
}

void __formatStrVA(xstring& s, const char* fmt, va_list ap) {
  if (!fmt) return;
  // The first buffer fits ordinary formats at once: twice the format plus 128 bytes.
  size_t len = std::strlen(fmt);
  if (len > (size_t(INT_MAX) - 128) / 2) return;
  int n = int(2 * len + 128);
  char* buffer = static_cast<char*>(xa_malloc(size_t(n)));
  if (!buffer) return;
  try {
    for (;;) {
      va_list copy;
      va_copy(copy, ap);
      int r = __vsnprintf(buffer, n, fmt, copy);
      va_end(copy);
      if (r >= 0 && r < n) break;
      xa_free(buffer);
      buffer = nullptr;
      // An output error would give the same answer again, and a text of INT_MAX characters
      // needs a buffer size beyond an int: leave the string as it is.
      if (r < 0 || r == INT_MAX) return;
      n = r + 1;
      buffer = static_cast<char*>(xa_malloc(size_t(n)));
      if (!buffer) return;
    }
    s.assign(buffer);
  } catch (...) {
    s.clear();
  }
  xa_free(buffer);
}
