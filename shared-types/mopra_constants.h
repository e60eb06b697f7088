// Constants unit of the common IDL definitions. The interface file declares no
// constants, so the class is empty; g_mopra_constants is its one immutable global
// instance, built at load and never destroyed before exit. Thread-safe: read-only.
#ifndef MOPRA_CONSTANTS_H
#define MOPRA_CONSTANTS_H

#include "shared-types/mopra_types.h"

namespace mopra {

class mopraConstants {
 public:
  mopraConstants();
};

extern const mopraConstants g_mopra_constants;

}  // namespace mopra

#endif
