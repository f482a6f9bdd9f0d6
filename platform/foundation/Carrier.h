// The subscriber's cellular provider. A desktop has none; a container that holds
// Library/LocalServices/carrier.plist pretends to (mobileCountryCode, mobileNetworkCode,
// isoCountryCode, each a string), and only then do the telephony classes exist.
#pragma once

#include <optional>
#include <string>

#include "platform/foundation/Container.h"

namespace plat::foundation {

inline constexpr const char* kTelephonyNetworkInfoClassName = "CTTelephonyNetworkInfo";
inline constexpr const char* kCarrierClassName = "CTCarrier";
inline constexpr const char* kCarrierService = "carrier";

struct Carrier {
    std::optional<std::string> mobileCountryCode;  // "310"
    std::optional<std::string> mobileNetworkCode;  // "410"
    std::optional<std::string> isoCountryCode;     // "us"
};

// Registers both telephony classes with the class look-up (once; later calls do nothing).
void registerCarrierClasses();

// The carrier of `container` (null: the main one); nullopt without its file. An entry that is
// missing or not a string is absent, as the platform's nil.
std::optional<Carrier> subscriberCarrier(const Container* container = nullptr);

}  // namespace plat::foundation
