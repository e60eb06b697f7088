#include "shared-types/mopra_constants.h"

namespace mopra {

const mopraConstants g_mopra_constants;

mopraConstants::mopraConstants() {}

}  // namespace mopra
