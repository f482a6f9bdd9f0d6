#include "orbad/core/OBReporting.h"

#include <mutex>

#include "orbad/core/OBConfig.h"
#include "orbad/core/OBEnvironment.h"
#include "orbad/core/OrbadController.h"
#include "platform/sys/Device.h"

namespace orbad {

namespace {

std::mutex g_mutex;
OBReportingSource g_source;

}  // namespace

void setOBReportingSource(OBReportingSource source) {
    std::lock_guard lock(g_mutex);
    g_source = std::move(source);
}

std::optional<OBReportingContext> obReportingContext() {
    OBReportingSource source;
    {
        std::lock_guard lock(g_mutex);
        source = g_source;
    }
    if (source) return source();
    // The controller, made when it can be (the Info.plist names the application); a host that
    // never started the client and cannot start it has nothing to report to.
    if (!OrbadController::hasBeenInstantiated() && !OrbadController::canBeAutoInstantiated())
        return std::nullopt;
    OrbadController& controller = OrbadController::sharedInstance();
    const OBConfig& config = controller.config();
    const OBEnvironment& environment = controller.environment();
    return OBReportingContext{config.instrumentationURL(),       config.feedbackURL(),
                              config.shouldSendOrbadDebugData(), environment.applicationId(),
                              environment.applicationVersion(),  environment.deviceType(),
                              environment.connectionType()};
}

bool obHasTrackingLimit() {
    return plat::sys::Device::current().systemVersionFloat() >= 6.0f;
}

}  // namespace orbad
