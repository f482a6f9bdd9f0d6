// What the host runs and how: the bundle and its container, the device it shows, the clock, the
// input script, the trace. drovik-player's command line fills it.
#pragma once

#include <optional>
#include <string>

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
    std::optional<std::string> trace;
    std::optional<std::string> traceFile;
    double zoom = 1;  // the window's pixels per device pixel, halved until the window fits

    // Headless runs on the virtual clock unless told otherwise; a window on the real one.
    bool virtualClock() const {
        return clock == ClockChoice::Virtual || (clock == ClockChoice::Default && headless);
    }
};

}  // namespace plat::host
