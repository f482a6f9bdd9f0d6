// What the ad client reports about the application and the device: gathered once at start-up,
// except the identifier, tracking limit, platform, connection and location, answered on demand.
// The device comes from platform/foundation's device facts (so a tool's device facts decide the
// machine, system version, MAC address, advertising identifier, idiom and time zone); the carrier
// from Library/LocalServices/carrier.plist (the telephony classes exist only with it).
#pragma once

#include <optional>
#include <string>

#include "platform/foundation/Value.h"

namespace orbad {

inline constexpr const char* kOrbadLibraryVersion = "6.1.2";

// The hardware model with every "," as "_" ("iPhone4,1" gives "iPhone4_1").
std::string OBDeviceHardwareType();
// SHA-1 over the six bytes of the device's MAC address, 40 lower-case hexadecimal digits; "" when
// the device has none.
std::string OBODIN1();

class OBEnvironment {
public:
    // `applicationId` null: the Info.plist's "OBApplicationId". Neither: std::logic_error (the
    // host's programming error; the player always passes one).
    explicit OBEnvironment(std::optional<std::string> applicationId = std::nullopt);

    // The Info.plist's "OBLogLevel" as a log mask: 8 without one; a number's unsigned value, a
    // string's integer value; then 0 gives 1 and anything from 17 up (negatives too) gives 16.
    static unsigned long logLevelFor(const plat::foundation::Value* value);

    // System 6.0 or later: the advertising identifier; below: OBODIN1().
    static std::string deviceIdentifier();
    // Below 6.0: false; else true when advertising tracking is off.
    static bool limitTracking();
    // "ipad" on the pad idiom, else "iphone"; decided at the first ask for the whole process.
    static std::string platformName();
    // The persistent pasteboard "fb_app_attribution"'s text (the pasteboard is never made here).
    static std::optional<std::string> getFacebookAttributionId();
    // "FBATTRID:" and that id.
    static std::optional<std::string> getFacebookAttributionKeyword();

    // "wifi", "carrier" or "none", from the internet connection's reachability.
    std::string connectionType() const;
    // The current session's location as "%f,%f" (C locale); "null" without one or its coordinate.
    std::string location() const;

    const std::string& applicationId() const { return m_applicationId; }
    void setApplicationId(std::string id) { m_applicationId = std::move(id); }
    const std::string& applicationVersion() const { return m_applicationVersion; }
    const std::string& deviceType() const { return m_deviceType; }
    std::string libaryVersion() const { return kOrbadLibraryVersion; }
    bool hasTelephonyNetworkInfo() const { return m_telephony; }
    const std::optional<std::string>& mobileCountryCode() const { return m_mobileCountryCode; }
    const std::optional<std::string>& mobileNetworkCode() const { return m_mobileNetworkCode; }
    const std::optional<std::string>& isoCountryCode() const { return m_isoCountryCode; }
    const std::optional<std::string>& language() const { return m_language; }
    const std::string& locale() const { return m_locale; }
    const std::optional<std::string>& timeZone() const { return m_timeZone; }
    unsigned long initialLogLevel() const { return m_initialLogLevel; }
    bool shouldAutoReportCrashes() const { return m_autoReportCrashes; }
    void setAutoReportCrashes(bool report) { m_autoReportCrashes = report; }

private:
    std::string m_applicationId;
    std::string m_applicationVersion;
    std::string m_deviceType;
    bool m_telephony = false;
    std::optional<std::string> m_mobileCountryCode, m_mobileNetworkCode, m_isoCountryCode;
    std::optional<std::string> m_language;
    std::string m_locale;
    std::optional<std::string> m_timeZone;
    unsigned long m_initialLogLevel = 8;
    bool m_autoReportCrashes = false;
};

}  // namespace orbad
