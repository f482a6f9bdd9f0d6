#include "platform/util/DKHardwareInfo.h"

#include "platform/crypto/Crypto.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/sys/HardwareAddress.h"
#include "platform/sys/Uuid.h"
#include "platform/util/DKCrypto.h"

DKHardwareInfo& DKHardwareInfo::sharedHardwareInfo() {
    static DKHardwareInfo* shared = new DKHardwareInfo;
    return *shared;
}

std::string DKHardwareInfo::macAddress() const {
    return plat::crypto::hex(plat::sys::ethernetAddress(), false, ':');
}

std::string DKHardwareInfo::deviceIdentifier() const {
    return DKCrypto::createDigestStringForString(macAddress()).value_or(std::string());
}

std::string DKHardwareInfo::deviceIdentifierAppleRecomended() const {
    plat::foundation::UserDefaults* defaults = plat::foundation::UserDefaults::standard();
    if (!defaults) return {};
    if (std::optional<std::string> stored = defaults->stringForKey(kDKDeviceIdentifierKey)) return *stored;
    std::string identifier = plat::sys::newUUIDString();
    defaults->setObject(identifier, kDKDeviceIdentifierKey);
    defaults->synchronize();
    return identifier;
}
