#include "platform/sys/Device.h"

#include <array>
#include <charconv>

#include "platform/sys/Report.h"

namespace plat::sys {

namespace {

constexpr std::array<DevicePreset, 5> kPresets{{
    {"phone", 320, 480, 1, kUserInterfaceIdiomPhone},
    {"phone-retina", 320, 480, 2, kUserInterfaceIdiomPhone},
    {"phone5", 320, 568, 2, kUserInterfaceIdiomPhone},
    {"tablet", 768, 1024, 1, kUserInterfaceIdiomPad},
    {"tablet-retina", 768, 1024, 2, kUserInterfaceIdiomPad},
}};

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

}  // namespace

std::span<const DevicePreset> devicePresets() {
    return kPresets;
}

const DevicePreset* findDevicePreset(std::string_view name) {
    for (const DevicePreset& p : kPresets)
        if (p.name == name) return &p;
    return nullptr;
}

int compareVersions(std::string_view a, std::string_view b) {
    size_t i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        if (isDigit(a[i]) && isDigit(b[j])) {
            while (i < a.size() && a[i] == '0') ++i;
            while (j < b.size() && b[j] == '0') ++j;
            size_t ei = i, ej = j;
            while (ei < a.size() && isDigit(a[ei])) ++ei;
            while (ej < b.size() && isDigit(b[ej])) ++ej;
            // Without leading zeros the longer run is the larger number.
            if (ei - i != ej - j) return ei - i < ej - j ? -1 : 1;
            if (int c = a.substr(i, ei - i).compare(b.substr(j, ej - j)); c != 0) return c < 0 ? -1 : 1;
            i = ei;
            j = ej;
            continue;
        }
        if (a[i] != b[j]) return a[i] < b[j] ? -1 : 1;
        ++i;
        ++j;
    }
    if (i < a.size()) return 1;
    if (j < b.size()) return -1;
    return 0;
}

float versionFloat(std::string_view text) {
    size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t' || text[i] == '\n')) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    float value = 0;
    // from_chars reads the C locale's decimal point whatever the process locale says.
    auto [end, ec] = std::from_chars(text.data() + i, text.data() + text.size(), value, std::chars_format::fixed);
    if (ec != std::errc() || end == text.data() + i) return 0;
    return negative ? -value : value;
}

Device& Device::current() {
    static Device device;
    return device;
}

Device::Device() {
    reset();
}

void Device::reset() {
    m_preset = findDevicePreset(kDefaultDevicePreset);
    m_systemVersion = kDefaultSystemVersion;
    m_orientation = kDeviceOrientationPortrait;
    m_generating = 0;
    m_observer = nullptr;
    m_battery.reset();
    m_batteryMonitoring = false;
}

bool Device::setBattery(double level, int state) {
    if (!(level == -1 || (level >= 0 && level <= 1)) || state < kBatteryStateUnknown || state > kBatteryStateFull)
        return false;
    const Battery before = battery();
    m_battery = Battery{level, state};
    if (!m_batteryMonitoring) return true;
    if (level != before.level) reportPost(kDeviceBatteryLevelDidChangeNotification, this, "UIDevice");
    if (state != before.state) reportPost(kDeviceBatteryStateDidChangeNotification, this, "UIDevice");
    return true;
}

bool Device::setPreset(std::string_view name) {
    const DevicePreset* p = findDevicePreset(name);
    if (!p) return false;
    m_preset = p;
    return true;
}

std::string Device::model() const {
    return m_preset->idiom == kUserInterfaceIdiomPad ? "iPad" : "iPhone";
}

bool Device::setOrientation(int orientation) {
    if (orientation < kDeviceOrientationUnknown || orientation > kDeviceOrientationFaceDown) return false;
    if (orientation == m_orientation) return false;
    m_orientation = orientation;
    if (m_observer) m_observer(orientation);
    if (m_generating > 0) reportPost(kDeviceOrientationDidChangeNotification, this, "UIDevice");
    return true;
}

const Screen& Screen::main() {
    static const Screen screen;
    return screen;
}

Rect Screen::bounds() const {
    const DevicePreset& p = Device::current().preset();
    return {0, 0, p.width, p.height};
}

double Screen::scale() const {
    return Device::current().preset().scale;
}

}  // namespace plat::sys
