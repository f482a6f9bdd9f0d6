#include "orbad/Orbad.h"

#include <mutex>
#include <string>

#include "orbad/core/OBEnvironment.h"
#include "orbad/core/OrbadController.h"
#include "platform/foundation/Log.h"

namespace {
plat::foundation::TraceCategory kSvc("svc");
std::mutex g_startMutex;
bool g_started = false;  // never cleared outside tests: a second start keeps the first id
}  // namespace

std::string Orbad::version() {
    return orbad::kOrbadLibraryVersion;
}

void Orbad::startWithApplicationId(std::string_view applicationId) {
    plat::foundation::trace(kSvc, [&] { return "orbad start " + std::string(applicationId); });
    startOnce(std::string(applicationId));
}

void Orbad::start() {
    startOnce(std::nullopt);
}

void Orbad::startOnce(const std::optional<std::string>& applicationId) {
    // Held through the making, so two first starts make one controller; one that throws is no start.
    std::lock_guard lock(g_startMutex);
    if (g_started) return;
    orbad::OrbadController::sharedInstanceWithApplicationId(applicationId);
    g_started = true;
}

void Orbad::updateLocation(const orbad::OBLocation& location) {
    if (!orbad::OrbadController::hasBeenInstantiated() && !orbad::OrbadController::canBeAutoInstantiated()) return;
    orbad::OrbadController::sharedInstance().updateLocation(location);
}

void Orbad::resetForTesting() {
    orbad::OrbadController::shutdown();
    std::lock_guard lock(g_startMutex);
    g_started = false;
}
