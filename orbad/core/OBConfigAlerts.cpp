// Server-pushed application alerts of the configuration answer.
#include "orbad/core/OBConfig.h"
#include "orbad/core/OrbadAppAlertController.h"

namespace orbad {

void OBConfig::handleAppAlerts(const plat::foundation::Value& alerts) {
    if (!alerts.array() || alerts.array()->empty()) return;
    // It keeps itself while a dialog is up.
    OrbadAppAlertController::create(alerts)->show();
}

}  // namespace orbad
