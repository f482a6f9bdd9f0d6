#include "orbad/core/OBConfigQuery.h"

#include <cstdio>
#include <optional>

#include "orbad/core/OBEnvironment.h"
#include "orbad/core/OBSession.h"
#include "orbad/core/OBSessionTracking.h"
#include "orbad/core/OrbadHelper.h"
#include "platform/sys/Device.h"

namespace orbad {

std::string obQueryComponent(std::string_view value) {
    static constexpr std::string_view kUnsafe = " \"#%&+<>\\^`{|}";
    std::string out;
    for (char c : value) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte >= 0x7f || kUnsafe.find(c) != std::string_view::npos) {
            char escaped[4];
            std::snprintf(escaped, sizeof escaped, "%%%02X", byte);
            out += escaped;
        } else {
            out += c;
        }
    }
    return out;
}

std::string configurationQuery(const OBEnvironment& environment, OBSessionTracking& tracking,
                               const std::string& systemVersion) {
    const bool sixOrLater = plat::sys::compareVersions(systemVersion, "6.0") >= 0;
    const std::string identifier = OBEnvironment::deviceIdentifier();
    std::string query = "?";
    auto add = [&](std::string_view name, std::string_view value) {
        query.append(name).append("=").append(value).append("&");
    };
    add("a", obQueryComponent(environment.applicationId()));
    add("p", obQueryComponent(OBEnvironment::platformName()));
    add("rt", "obnative");
    add("rtv", obQueryComponent(systemVersion));
    add("m", kOrbadLibraryVersion);
    add("v", obURLEncodedString(environment.applicationVersion()));
    add("de", orbadEncode(identifier));
    if (sixOrLater) add("lt", OBEnvironment::limitTracking() ? "1" : "0");
    if (std::optional<std::string> fb = OBEnvironment::getFacebookAttributionId()) add("fb", obQueryComponent(*fb));
    add("dm", obURLEncodedString(environment.deviceType()));
    std::string dv = systemVersion;
    for (char& c : dv)
        if (c == '.') c = '_';
    add("dv", obQueryComponent(dv));
    add("g", obQueryComponent(environment.connectionType()));
    add("ll", obQueryComponent(environment.location()));
    add("off", std::to_string(static_cast<unsigned>(tracking.offlineSessionCount())));
    add("st", fixedSix(tracking.lastSessionLength()));
    add("it", fixedSix(tracking.idleSessionTime()));
    if (tracking.firstRun()) {
        query += "new=true&";
        tracking.setFirstRun(false);
    }
    if (!sixOrLater) {
        if (!tracking.originalUDID())
            tracking.setOriginalUDID(identifier);
        else if (*tracking.originalUDID() != identifier)
            add("pd", obQueryComponent(*tracking.originalUDID()));
    }
    if (environment.mobileCountryCode()) add("mcc", obQueryComponent(*environment.mobileCountryCode()));
    if (environment.mobileNetworkCode()) add("mnc", obQueryComponent(*environment.mobileNetworkCode()));
    return query;
}

}  // namespace orbad
