// mopra::IntegralHolder: a 64-bit integer that crosses the PHP and Java boundaries by
// reference and receives results.
//
// Builds (shared-types/mopra_build.h):
//   MopraX (MOPRA_PX_BUILD): public `value` (int64) and `error` (int32), both 0 at
//     construction.
//   MopraXJNI (MOPRA_JNI_BUILD): public `value` only, with getVal/setVal.
// A plain value type: copied by value, no base class, nothing virtual. Not thread-safe
// (one thread at a time, like any value).
#ifndef TOKA_SHARED_TYPES_MOPRAX_INTEGRALHOLDER_H
#define TOKA_SHARED_TYPES_MOPRAX_INTEGRALHOLDER_H

#include <cstdint>

#include "shared-types/mopra_build.h"

namespace mopra {

class IntegralHolder {
 public:
  IntegralHolder() : value(0) {}

  int64_t value;
#ifdef MOPRA_PX_BUILD
  int32_t error = 0;
#else
  int64_t getVal() const { return value; }
  void setVal(int64_t v) { value = v; }
#endif
};

}  // namespace mopra

#endif  // TOKA_SHARED_TYPES_MOPRAX_INTEGRALHOLDER_H
