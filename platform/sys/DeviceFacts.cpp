#include "platform/sys/DeviceFacts.h"

#include <sys/utsname.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
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

}  // namespace

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
