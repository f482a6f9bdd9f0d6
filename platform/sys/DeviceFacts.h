// What the analytics clients report about the device: the configured device's model, system and
// screen in points, and this machine's uname machine, languages and locale (from LANGUAGE/LANG: "en"
// under C/POSIX; LANGUAGE only outside it, as gettext reads it), first Ethernet-type address, and
// free memory (available pages times page size).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/sys/Device.h"

namespace plat::sys {

struct DeviceFacts {
    std::string machine;        // hw.machine
    std::string model;          // "iPhone"
    std::string systemName;     // "iPhone OS"
    std::string systemVersion;  // "6.1"
    double screenWidth = 0;     // points, portrait
    double screenHeight = 0;
    std::vector<std::string> languages;  // preferred first: "en", "fr"
    std::string locale;                  // "en_US"; "en" without a country
    std::string macAddress;              // first Ethernet-type interface, "00:1a:..."; "" if none
    std::string advertisingIdentifier;   // upper-case UUID; "" for none
    bool advertisingTrackingEnabled = true;
    std::uint64_t freeMemory = 0;  // bytes
    int idiom = 0;                 // kUserInterfaceIdiomPhone or kUserInterfaceIdiomPad
    double screenScale = 1;
    double batteryLevel = -1;      // -1 unknown, else 0 to 1
    int batteryState = 0;          // kBatteryState...
    std::string timeZone;          // "Europe/Berlin"; "GMT" when nothing names one
};

// The time-zone name: TZ ("Europe/Paris", ":Europe/Paris"), else what `localtime` links to below a
// "zoneinfo/" directory, else "GMT".
std::string timeZoneName(const char* tz, const std::string& localtime = "/etc/localtime");

// The facts as this process finds them: the machine from uname, model, system version, screen,
// scale and idiom from the current Device, the battery and the time zone as above, languages and locale from LANGUAGE and LANG, the interfaces, available
// pages. The advertising identifier is left empty: it is kept in the container, above this layer.
DeviceFacts systemDeviceFacts();

// LANGUAGE ("fr:de_AT") then LANG ("en_US.UTF-8") as language codes, each once; "en" when neither
// names one (unset, "C", "POSIX").
std::vector<std::string> preferredLanguages(const char* language, const char* lang);
// LANG as a locale identifier: "en_US.UTF-8@euro" gives "en_US"; "C", "POSIX" or unset give "en".
std::string localeIdentifier(const char* lang);

}  // namespace plat::sys
