// The device a run pretends to be: one of five presets (phone, phone-retina, phone5, tablet,
// tablet-retina: portrait points and a scale; tablets idiom 1), a system version text ("6.1";
// versionFloat reads it as the platform's floatValue, compareVersions numerically) and an orientation
// 0-6 that the driver turns. This layer stands below the foundation, so it reports through
// ReportHooks (Report.h): "UIDeviceOrientationDidChangeNotification" is posted only while more begins
// than ends of its notifications were made; a turn reaches the application's own rotation first,
// through the device's observer, whether or not notifications are on.
#pragma once

#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "platform/sys/Geometry.h"

namespace plat::sys {

// Device orientations, as the platform numbers them (interface orientations share 1 to 4).
inline constexpr int kDeviceOrientationUnknown = 0;
inline constexpr int kDeviceOrientationPortrait = 1;
inline constexpr int kDeviceOrientationPortraitUpsideDown = 2;
inline constexpr int kDeviceOrientationLandscapeLeft = 3;
inline constexpr int kDeviceOrientationLandscapeRight = 4;
inline constexpr int kDeviceOrientationFaceUp = 5;
inline constexpr int kDeviceOrientationFaceDown = 6;

inline constexpr int kUserInterfaceIdiomPhone = 0;
inline constexpr int kUserInterfaceIdiomPad = 1;

inline constexpr const char* kDeviceOrientationDidChangeNotification = "UIDeviceOrientationDidChangeNotification";
inline constexpr const char* kDeviceBatteryLevelDidChangeNotification = "UIDeviceBatteryLevelDidChangeNotification";
inline constexpr const char* kDeviceBatteryStateDidChangeNotification = "UIDeviceBatteryStateDidChangeNotification";
inline constexpr const char* kDefaultSystemVersion = "6.1";
inline constexpr std::string_view kDefaultDevicePreset = "phone-retina";

inline constexpr int kBatteryStateUnknown = 0;
inline constexpr int kBatteryStateUnplugged = 1;
inline constexpr int kBatteryStateCharging = 2;
inline constexpr int kBatteryStateFull = 3;

struct Battery {
    double level = -1;
    int state = kBatteryStateUnknown;
};

// The first battery under `powerSupplyDirectory` (/sys/class/power_supply): a supply whose `type`
// is "Battery" (or, without a type, one that has a `capacity`). `capacity` 0-100 gives the level,
// `status` the state ("Discharging"/"Not charging" unplugged, "Charging", "Full"). No battery,
// or an unreadable capacity: level -1 and state unknown.
Battery readBattery(const std::string& powerSupplyDirectory = "/sys/class/power_supply");

// A screen in points (portrait: width < height) and its scale, and the idiom.
struct DevicePreset {
    std::string_view name;
    double width, height, scale;
    int idiom;
};

// phone, phone-retina, phone5, tablet, tablet-retina.
std::span<const DevicePreset> devicePresets();
const DevicePreset* findDevicePreset(std::string_view name);

// The platform's numeric comparison of version texts: runs of digits compare as numbers, other
// characters one by one, and a text that is a prefix of the other is the lower ("6.1" < "6.1.0").
int compareVersions(std::string_view a, std::string_view b);
// The platform's floatValue of a text: leading blanks, a sign, then the longest decimal number
// ("5.1.1" reads 5.1); 0 when there is none.
float versionFloat(std::string_view text);

// One per process, used on the main thread. The driver configures it before launch and turns it.
class Device {
public:
    static Device& current();

    const DevicePreset& preset() const { return *m_preset; }
    bool setPreset(std::string_view name);
    // "iPhone" or "iPad".
    std::string model() const;
    int userInterfaceIdiom() const { return m_preset->idiom; }

    const std::string& systemVersion() const { return m_systemVersion; }
    void setSystemVersion(std::string version) { m_systemVersion = std::move(version); }
    float systemVersionFloat() const { return versionFloat(m_systemVersion); }
    bool systemVersionAtLeast(std::string_view version) const {
        return compareVersions(m_systemVersion, version) >= 0;
    }

    // 0 to 6; portrait until turned.
    int orientation() const { return m_orientation; }
    // The driver's turn: false for a value outside 0-6 or the orientation the device already has.
    // A change goes first to the orientation observer (the application's own rotation), then, while
    // notifications are generated, out as kDeviceOrientationDidChangeNotification.
    bool setOrientation(int orientation);
    void setOrientationObserver(std::function<void(int orientation)> observer) {
        m_observer = std::move(observer);
    }

    // Counted: notifications flow while more begins than ends have been made (an extra end does
    // nothing).
    void beginGeneratingDeviceOrientationNotifications() { ++m_generating; }
    void endGeneratingDeviceOrientationNotifications() {
        if (m_generating > 0) --m_generating;
    }
    bool isGeneratingDeviceOrientationNotifications() const { return m_generating > 0; }

    // The battery: the driver's once set, else what readBattery() finds now.
    Battery battery() const { return m_battery ? *m_battery : readBattery(); }
    // As the platform answers them: -1 and unknown while monitoring is off.
    double batteryLevel() const { return m_batteryMonitoring ? battery().level : -1; }
    int batteryState() const { return m_batteryMonitoring ? battery().state : kBatteryStateUnknown; }
    bool isBatteryMonitoringEnabled() const { return m_batteryMonitoring; }
    void setBatteryMonitoringEnabled(bool enabled) { m_batteryMonitoring = enabled; }
    // The driver's battery: false for a level other than -1 or 0 to 1, or a state outside 0-3.
    // While monitoring, a changed level posts kDeviceBatteryLevelDidChangeNotification and a
    // changed state kDeviceBatteryStateDidChangeNotification.
    bool setBattery(double level, int state);

    // Back to the defaults (phone-retina, "6.1", portrait, no observer, not generating, the
    // machine's battery unmonitored).
    void reset();

private:
    Device();
    const DevicePreset* m_preset;
    std::string m_systemVersion;
    int m_orientation = kDeviceOrientationPortrait;
    int m_generating = 0;
    std::function<void(int)> m_observer;
    std::optional<Battery> m_battery;
    bool m_batteryMonitoring = false;
};

// The main screen of the current device.
class Screen {
public:
    static const Screen& main();
    // In points, always portrait.
    Rect bounds() const;
    double scale() const;
};

}  // namespace plat::sys
