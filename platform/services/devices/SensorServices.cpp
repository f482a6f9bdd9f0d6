#include "platform/services/devices/SensorServices.h"

#include <mutex>

#include "platform/foundation/LocalServices.h"
#include "platform/services/devices/SensorStandIns.h"
#include "platform/sys/ClassRegistry.h"

namespace plat::sys {

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
        registerLocalServiceClass(sys::kMotionManagerClassName, sys::kMotionService);
        registerLocalServiceClass(sys::kLocationManagerClassName, sys::kLocationService);
        sys::registerClass(sys::kAccelerometerClassName, [] { return true; });
        sys::MotionManager::setConfigurationSource([]() -> std::optional<sys::MotionConfiguration> {
            const std::optional<Value> config = readLocalService(sys::kMotionService);
            if (!config) return std::nullopt;
            return sys::MotionConfiguration{flag(*config, "gyroAvailable"), flag(*config, "deviceMotionAvailable")};
        });
        sys::LocationManager::setConfigurationSource([]() -> std::optional<sys::LocationConfiguration> {
            const std::optional<Value> config = readLocalService(sys::kLocationService);
            if (!config) return std::nullopt;
            return sys::LocationConfiguration{flag(*config, "headingAvailable")};
        });
    });
}

}  // namespace plat::sys
