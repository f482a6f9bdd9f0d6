// drovik-player's command line, which configures the host that runs the application.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/sys/Device.h"

namespace plat::host {

enum class ClockChoice { Default, Virtual, Real };

struct HostOptions {
    std::string bundle;  // the argument, else --bundle, else $DROVIK_BUNDLE
    std::string home;    // --home: the container's root (empty: $DROVIK_HOME or XDG)
    bool headless = false;
    std::string input;       // --input: the input script ("-": standard input; empty: none)
    std::string screenshot;  // --screenshot: a PNG of the screen, written at quit
    std::string device{sys::kDefaultDevicePreset};
    int deviceOrientation = 0;  // 1-4; 0: the first Info.plist orientation, else portrait
    std::string systemVersion = sys::kDefaultSystemVersion;
    ClockChoice clock = ClockChoice::Default;
    std::optional<double> duration;  // clock seconds, then quit
    std::optional<long> frames;      // game frames, then quit
    std::string net;                 // wifi|wwan|none: the reachability override (empty: none)
    std::string web = "wpe";         // wpe|fake|none: the page engine behind web views
    std::string deviceFacts;         // --device-facts: the device facts file (empty: $DROVIK_DEVICE_FACTS)
    double drainSeconds = 2;         // real seconds to wait at exit for the analytics clients
    std::optional<std::string> trace;
    std::optional<std::string> traceFile;
    double zoom = 1;  // the window's pixels per device pixel, halved until the window fits
    bool probePlugin = false;
    bool help = false;

    // Headless runs on the virtual clock unless told otherwise; a window on the real one.
    bool virtualClock() const {
        return clock == ClockChoice::Virtual || (clock == ClockChoice::Default && headless);
    }
};

// Reads the arguments after the program's name. False, with `error` saying what is wrong, for a
// bad command line. `environmentBundle` is $DROVIK_BUNDLE (null when unset); --help needs no bundle.
bool parseHostOptions(const std::vector<std::string>& arguments, const char* environmentBundle,
                      HostOptions* options, std::string* error);

// The trace categories of the player's code, which --trace accepts besides "all"; the help lists
// them.
const std::vector<std::string_view>& hostTraceCategories();

// The --help text.
const char* hostUsage();

}  // namespace plat::host
