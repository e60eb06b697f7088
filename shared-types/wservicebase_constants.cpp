#include "shared-types/wservicebase_constants.h"

namespace mopra {

const wservicebaseConstants g_wservicebase_constants;

wservicebaseConstants::wservicebaseConstants() {}

}  // namespace mopra
