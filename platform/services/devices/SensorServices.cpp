#include "platform/services/devices/SensorServices.h"

#include <mutex>

#include "platform/foundation/LocalServices.h"
#include "platform/services/devices/SensorStandIns.h"
#include "platform/sys/ClassRegistry.h"

namespace plat::devices {

using foundation::readLocalService;
using foundation::registerLocalServiceClass;
using foundation::Value;

namespace {

bool flag(const Value& config, const char* key) {
    const Value* value = config.find(key);
    return value && value->boolValue();
}

}  // namespace

void registerSensorClasses() {
    static std::once_flag once;
    std::call_once(once, [] {
        registerLocalServiceClass(kMotionManagerClassName, kMotionService);
        registerLocalServiceClass(kLocationManagerClassName, kLocationService);
        sys::registerClass(kAccelerometerClassName, [] { return true; });
        MotionManager::setConfigurationSource([]() -> std::optional<MotionConfiguration> {
            const std::optional<Value> config = readLocalService(kMotionService);
            if (!config) return std::nullopt;
            return MotionConfiguration{flag(*config, "gyroAvailable"),
                                       flag(*config, "deviceMotionAvailable")};
        });
        LocationManager::setConfigurationSource([]() -> std::optional<LocationConfiguration> {
            const std::optional<Value> config = readLocalService(kLocationService);
            if (!config) return std::nullopt;
            return LocationConfiguration{flag(*config, "headingAvailable")};
        });
    });
}

}  // namespace plat::devices
