// Server-pushed application alerts of the configuration answer.
#include "orbad/core/OBConfig.h"

namespace orbad {

// Seam for the alert controller, which builds on this file; until then alerts are not shown.
void OBConfig::handleAppAlerts(const plat::foundation::Value&) {}

}  // namespace orbad
