#include "orbad/core/OBEnvironment.h"

#include <strings.h>

#include <cstdio>
#include <mutex>
#include <stdexcept>

#include "orbad/core/OBSession.h"
#include "orbad/core/OrbadReachability.h"
#include "platform/crypto/Crypto.h"
#include "platform/foundation/Bundle.h"
#include "platform/foundation/Carrier.h"
#include "platform/foundation/DeviceFactsFile.h"
#include "platform/foundation/Pasteboard.h"
#include "platform/sys/ClassRegistry.h"
#include "platform/sys/Device.h"

namespace orbad {

namespace {

using plat::foundation::Bundle;
using plat::foundation::Value;

bool systemAtLeastSix() {
    return plat::sys::compareVersions(plat::foundation::deviceFacts().systemVersion, "6.0") >= 0;
}

}  // namespace

std::string OBDeviceHardwareType() {
    std::string machine = plat::foundation::deviceFacts().machine;
    for (char& c : machine)
        if (c == ',') c = '_';
    return machine;
}

std::string OBODIN1() {
    const std::string mac = plat::foundation::deviceFacts().macAddress;
    unsigned bytes[6];
    char tail = 0;
    if (std::sscanf(mac.c_str(), "%2x:%2x:%2x:%2x:%2x:%2x%c", &bytes[0], &bytes[1], &bytes[2], &bytes[3], &bytes[4],
                    &bytes[5], &tail) != 6)
        return "";
    std::string raw;
    for (unsigned b : bytes) raw.push_back(static_cast<char>(b));
    std::optional<plat::crypto::Bytes> digest = plat::crypto::sha1(raw);
    return digest ? plat::crypto::hex(*digest) : "";
}

unsigned long OBEnvironment::logLevelFor(const Value* value) {
    unsigned long level = 8;
    if (value) {
        switch (value->type()) {
            case Value::Type::Integer:
            case Value::Type::Real:
            case Value::Type::Bool:
            case Value::Type::String:
                level = static_cast<unsigned long>(value->intValue());
                break;
            default:
                break;
        }
    }
    if (level == 0) level = 1;
    if (level >= 17) level = 16;
    return level;
}

OBEnvironment::OBEnvironment(std::optional<std::string> applicationId) {
    m_deviceType = OBDeviceHardwareType();
    plat::foundation::registerCarrierClasses();
    if (plat::sys::hasClass(plat::foundation::kTelephonyNetworkInfoClassName) &&
        plat::sys::hasClass(plat::foundation::kCarrierClassName)) {
        m_telephony = true;
        if (std::optional<plat::foundation::Carrier> carrier = plat::foundation::subscriberCarrier()) {
            m_mobileCountryCode = carrier->mobileCountryCode;
            m_mobileNetworkCode = carrier->mobileNetworkCode;
            m_isoCountryCode = carrier->isoCountryCode;
        }
    }
    if (applicationId) {
        m_applicationId = *applicationId;
    } else if (const Value* id = Bundle::mainInfoValue("OBApplicationId")) {
        m_applicationId = id->description();
    } else {
        throw std::logic_error("Orbad: Application Id not specified in Info.plist for application.");
    }
    if (const Value* version = Bundle::mainInfoValue("CFBundleVersion")) m_applicationVersion = version->description();
    m_initialLogLevel = logLevelFor(Bundle::mainInfoValue("OBLogLevel"));
    const plat::sys::DeviceFacts facts = plat::foundation::deviceFacts();
    if (!facts.languages.empty()) m_language = facts.languages.front();
    m_locale = facts.locale;
    const Value* crashes = Bundle::mainInfoValue("OBAutoReportCrashes");
    m_autoReportCrashes = crashes && crashes->boolValue();
    if (strcasecmp(facts.timeZone.c_str(), "gmt") != 0) m_timeZone = facts.timeZone;
}

std::string OBEnvironment::deviceIdentifier() {
    // Our advertising identifier is always there, so the missing-framework exception never comes.
    return systemAtLeastSix() ? plat::foundation::deviceFacts().advertisingIdentifier : OBODIN1();
}

bool OBEnvironment::limitTracking() {
    return systemAtLeastSix() && !plat::foundation::deviceFacts().advertisingTrackingEnabled;
}

std::string OBEnvironment::platformName() {
    static std::mutex mutex;
    static std::optional<std::string> name;
    std::lock_guard lock(mutex);
    if (!name) name = plat::foundation::deviceFacts().idiom == plat::sys::kUserInterfaceIdiomPad ? "ipad" : "iphone";
    return *name;
}

std::optional<std::string> OBEnvironment::getFacebookAttributionId() {
    std::unique_ptr<plat::foundation::Pasteboard> board = plat::foundation::Pasteboard::named("fb_app_attribution", false);
    return board ? board->string() : std::nullopt;
}

std::optional<std::string> OBEnvironment::getFacebookAttributionKeyword() {
    std::optional<std::string> id = getFacebookAttributionId();
    return id ? std::optional("FBATTRID:" + *id) : std::nullopt;
}

std::string OBEnvironment::connectionType() const {
    switch (OrbadReachability::reachabilityForInternetConnection()->currentReachabilityStatus()) {
        case ReachableViaWiFi:
            return "wifi";
        case ReachableViaWWAN:
            return "carrier";
        default:
            return "none";
    }
}

std::string OBEnvironment::location() const {
    const std::optional<OBLocation> where = OBSession::currentSession()->location();
    if (!where || where->horizontalAccuracy < 0) return "null";
    return fixedSix(where->latitude) + "," + fixedSix(where->longitude);
}

}  // namespace orbad
