#include "platform/sys/DeviceFacts.h"

#include <sys/utsname.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string_view>

#include "platform/sys/Device.h"
#include "platform/sys/HardwareAddress.h"

namespace plat::sys {

namespace {

// "de_AT.UTF-8@euro" as "de_AT"; empty for the C locale and anything that names no language.
std::string_view localePart(std::string_view text) {
    text = text.substr(0, text.find_first_of(".@"));
    if (text.empty() || text == "C" || text == "POSIX") return {};
    return text;
}

std::string languageCode(std::string_view text) {
    return std::string(localePart(text).substr(0, localePart(text).find('_')));
}

// The first line of a small sysfs file, without its line break; nullopt when unreadable.
std::optional<std::string> firstLine(const std::filesystem::path& path) {
    std::ifstream in(path);
    std::string line;
    if (!in || !std::getline(in, line)) return std::nullopt;
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r' || line.back() == ' ')) line.pop_back();
    return line;
}

int batteryStateFromStatus(const std::string& status) {
    if (status == "Charging") return kBatteryStateCharging;
    if (status == "Full") return kBatteryStateFull;
    if (status == "Discharging" || status == "Not charging") return kBatteryStateUnplugged;
    return kBatteryStateUnknown;
}

}  // namespace

Battery readBattery(const std::string& powerSupplyDirectory) {
    std::error_code ec;
    std::vector<std::filesystem::path> supplies;
    for (std::filesystem::directory_iterator it(powerSupplyDirectory, ec), end; !ec && it != end; it.increment(ec))
        supplies.push_back(it->path());
    std::sort(supplies.begin(), supplies.end());  // the same battery on every call
    for (const std::filesystem::path& supply : supplies) {
        std::optional<std::string> type = firstLine(supply / "type");
        if (type && *type != "Battery") continue;
        std::optional<std::string> capacity = firstLine(supply / "capacity");
        if (!capacity) continue;
        char* end = nullptr;
        long percent = std::strtol(capacity->c_str(), &end, 10);
        if (end == capacity->c_str()) continue;
        Battery battery;
        battery.level = static_cast<double>(std::clamp(percent, 0L, 100L)) / 100.0;
        battery.state = batteryStateFromStatus(firstLine(supply / "status").value_or(""));
        return battery;
    }
    return {};
}

std::string timeZoneName(const char* tz, const std::string& localtime) {
    if (tz && *tz) {
        std::string_view name(tz);
        if (name.front() == ':') name.remove_prefix(1);
        if (!name.empty()) return std::string(name);
    }
    std::error_code ec;
    std::string target = std::filesystem::read_symlink(localtime, ec).string();
    const std::string marker = "zoneinfo/";
    std::size_t at = ec ? std::string::npos : target.rfind(marker);
    if (at != std::string::npos && at + marker.size() < target.size()) return target.substr(at + marker.size());
    return "GMT";
}

std::vector<std::string> preferredLanguages(const char* language, const char* lang) {
    std::vector<std::string> out;
    auto add = [&](std::string_view entry) {
        std::string code = languageCode(entry);
        if (!code.empty() && std::find(out.begin(), out.end(), code) == out.end()) out.push_back(code);
    };
    // GNU gettext ignores LANGUAGE under the C locale; so do we.
    if (language && !localePart(lang ? lang : "").empty()) {
        std::string_view list(language);
        for (std::size_t at = 0; at <= list.size();) {
            std::size_t end = std::min(list.find(':', at), list.size());
            add(list.substr(at, end - at));
            at = end + 1;
        }
    }
    if (lang) add(lang);
    if (out.empty()) out.push_back("en");
    return out;
}

std::string localeIdentifier(const char* lang) {
    std::string_view part = localePart(lang ? lang : "");
    return part.empty() ? "en" : std::string(part);
}

DeviceFacts systemDeviceFacts() {
    DeviceFacts facts;
    utsname names{};
    if (uname(&names) == 0) facts.machine = names.machine;
    const Device& device = Device::current();
    facts.model = device.model();
    facts.systemName = "iPhone OS";
    facts.systemVersion = device.systemVersion();
    facts.screenWidth = device.preset().width;
    facts.screenHeight = device.preset().height;
    facts.screenScale = device.preset().scale;
    facts.idiom = device.userInterfaceIdiom();
    Battery battery = device.battery();
    facts.batteryLevel = battery.level;
    facts.batteryState = battery.state;
    facts.timeZone = timeZoneName(std::getenv("TZ"));
    facts.languages = preferredLanguages(std::getenv("LANGUAGE"), std::getenv("LANG"));
    facts.locale = localeIdentifier(std::getenv("LANG"));
    for (std::uint8_t byte : ethernetAddress()) {
        char pair[4];
        std::snprintf(pair, sizeof pair, facts.macAddress.empty() ? "%02x" : ":%02x", byte);
        facts.macAddress += pair;
    }
    long pages = sysconf(_SC_AVPHYS_PAGES), pageSize = sysconf(_SC_PAGESIZE);
    if (pages > 0 && pageSize > 0) facts.freeMemory = static_cast<std::uint64_t>(pages) * static_cast<std::uint64_t>(pageSize);
    return facts;
}

}  // namespace plat::sys
