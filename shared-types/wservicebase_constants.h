// Constants unit of the base service's IDL definitions. The interface file declares
// no constants, so the class is empty; g_wservicebase_constants is its one immutable
// global instance, built at load and never destroyed before exit. Thread-safe: read-only.
#ifndef WSERVICEBASE_CONSTANTS_H
#define WSERVICEBASE_CONSTANTS_H

#include "shared-types/wservicebase_types.h"

namespace mopra {

class wservicebaseConstants {
 public:
  wservicebaseConstants();
};

extern const wservicebaseConstants g_wservicebase_constants;

}  // namespace mopra

#endif
