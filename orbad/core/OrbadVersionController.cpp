#include "orbad/core/OrbadVersionController.h"

#include <filesystem>

#include "orbad/core/OBConfig.h"
#include "orbad/core/OBEnvironment.h"
#include "orbad/core/OBSessionTracking.h"
#include "platform/foundation/Bundle.h"
#include "platform/foundation/Container.h"
#include "platform/foundation/UserDefaults.h"

namespace orbad {

namespace {

constexpr const char* kLastRanVersionKey = "kOrbadLastRanVersion";

std::string logsFileName(const OBEnvironment& environment) {
    return "OrbadLogs-" + environment.applicationId() + ".plist";
}

// Errors are ignored: a file that cannot move stays where it was.
void moveInto(const std::string& from, const std::string& directory, const std::string& name) {
    std::error_code ignored;
    if (std::filesystem::exists(from, ignored)) std::filesystem::rename(from, directory + "/" + name, ignored);
}

}  // namespace

long long OrbadVersionController::lastRanVersion() {
    auto* defaults = plat::foundation::UserDefaults::standard();
    return defaults ? defaults->integerForKey(kLastRanVersionKey) : 0;
}

void OrbadVersionController::setLastRanVersion(long long version) {
    if (auto* defaults = plat::foundation::UserDefaults::standard()) {
        defaults->setInteger(version, kLastRanVersionKey);
        defaults->synchronize();
    }
}

void OrbadVersionController::handleVersionChangeInEnvironment(OBEnvironment& environment) {
    const long long version = lastRanVersion();
    if (version < 40200) updateTo420InEnvironment(environment);
    if (version < 40340) updateTo434InEnvironment(environment);
}

void OrbadVersionController::updateTo420InEnvironment(OBEnvironment& environment) {
    const plat::foundation::Container* container = plat::foundation::Container::main();
    const std::string documents = container ? container->documentsPath() : std::string();
    const std::string support = orbadSupportDirectory();
    const std::string tracking = OBSessionTracking::dataFileName(environment.applicationId());
    if (!documents.empty()) {  // else nothing to move, and never from the root
        moveInto(documents + "/" + plat::foundation::processName() + "/" + tracking, support, tracking);
        moveInto(documents + "/" + logsFileName(environment), support, logsFileName(environment));
    }
    setLastRanVersion(40200);
}

void OrbadVersionController::updateTo434InEnvironment(OBEnvironment& environment) {
    std::error_code ignored;
    std::filesystem::remove(orbadSupportDirectory() + "/" + logsFileName(environment), ignored);
    setLastRanVersion(40340);
}

}  // namespace orbad
