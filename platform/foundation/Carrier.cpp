#include "platform/foundation/Carrier.h"

#include <mutex>

#include "platform/foundation/LocalServices.h"

namespace plat::foundation {

void registerCarrierClasses() {
    static std::once_flag once;
    std::call_once(once, [] {
        registerLocalServiceClass(kTelephonyNetworkInfoClassName, kCarrierService);
        registerLocalServiceClass(kCarrierClassName, kCarrierService);
    });
}

std::optional<Carrier> subscriberCarrier(const Container* container) {
    std::optional<Value> config = readLocalService(kCarrierService, container);
    if (!config) return std::nullopt;
    auto text = [&](const char* key) -> std::optional<std::string> {
        const Value* value = config->find(key);
        const std::string* s = value ? value->string() : nullptr;
        return s ? std::optional(*s) : std::nullopt;
    };
    return Carrier{text("mobileCountryCode"), text("mobileNetworkCode"), text("isoCountryCode")};
}

}  // namespace plat::foundation
