#include "src/xcheck.h"

#include <cstdio>
#include <cstdlib>

void xcheck_fail(const char* text, const char* file, int line) noexcept {
  std::fprintf(stderr, "Assertion failed: %s (%s:%d)\n", text, file, line);
  std::fflush(stderr);
  std::abort();
}
