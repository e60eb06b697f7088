// Key comparators by which the contiguous store orders its keys.
//
// KComparator is the interface (compare: negative, 0 or positive; only the sign counts;
// equal: same length and bytes). BytewiseKComparator orders keys as byte strings: unsigned
// bytes over the common length, the first difference deciding, a key before every longer key
// that begins with it. Stateless: safe from any thread, no lock; the stores given a
// comparator do not own it.
#ifndef TOKA_SRC_WDB_KC_KCOMPARATOR_H
#define TOKA_SRC_WDB_KC_KCOMPARATOR_H

#include <cstddef>

namespace wdb {

class KComparator {
 public:
  virtual ~KComparator();
  virtual int compare(const void* a, size_t aLen, const void* b, size_t bLen) const = 0;
  virtual bool equal(const void* a, size_t aLen, const void* b, size_t bLen) const = 0;
};

class BytewiseKComparator : public KComparator {
 public:
  ~BytewiseKComparator() override;
  int compare(const void* a, size_t aLen, const void* b, size_t bLen) const override;
  bool equal(const void* a, size_t aLen, const void* b, size_t bLen) const override;
};

}  // namespace wdb

#endif  // TOKA_SRC_WDB_KC_KCOMPARATOR_H
