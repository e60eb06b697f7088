#include "src/wdb/kc/KComparator.h"

#include <cstring>

namespace wdb {

KComparator::~KComparator() {}

BytewiseKComparator::~BytewiseKComparator() {}

int BytewiseKComparator::compare(const void* a, size_t aLen, const void* b, size_t bLen) const {
  const size_t n = aLen < bLen ? aLen : bLen;
  if (n > 0) {
    // memcmp compares as unsigned char.
    const int c = std::memcmp(a, b, n);
    if (c != 0) return c;
  }
  if (aLen == bLen) return 0;
  return aLen < bLen ? -1 : 1;
}

bool BytewiseKComparator::equal(const void* a, size_t aLen, const void* b, size_t bLen) const {
  return aLen == bLen && (aLen == 0 || std::memcmp(a, b, aLen) == 0);
}

}  // namespace wdb
