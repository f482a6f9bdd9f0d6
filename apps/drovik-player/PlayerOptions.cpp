#include "apps/drovik-player/PlayerOptions.h"

#include <algorithm>
#include <string_view>

#include "platform/host/PlainNumbers.h"
#include "platform/net/Reachability.h"
#include "platform/sys/Device.h"

namespace {

using plat::host::ClockChoice;
using Refusal = std::optional<std::string>;

// Where --help's option lines start their text, and the width the trace categories fill.
constexpr size_t kHelpColumn = 25;
constexpr size_t kHelpWidth = 96;

template <auto Field>
Refusal setText(PlayerOptions& options, const std::string& value) {
    options.*Field = value;
    return std::nullopt;
}

template <auto Field>
Refusal setFlag(PlayerOptions& options, const std::string&) {
    options.*Field = true;
    return std::nullopt;
}

Refusal setBundle(PlayerOptions& options, const std::string& value) {
    if (!options.bundle.empty()) return "one bundle only: " + options.bundle + " and " + value;
    options.bundle = value;
    return std::nullopt;
}

Refusal setDevice(PlayerOptions& options, const std::string& value) {
    if (!plat::sys::findDevicePreset(value))
        return "--device takes phone, phone-retina, phone5, tablet or tablet-retina, not \"" + value + "\"";
    options.device = value;
    return std::nullopt;
}

Refusal setDeviceOrientation(PlayerOptions& options, const std::string& value) {
    long orientation = 0;
    if (!plat::host::parsePlainWhole(value, 1, 4, &orientation))
        return "--device-orientation takes 1, 2, 3 or 4, not \"" + value + "\"";
    options.deviceOrientation = static_cast<int>(orientation);
    return std::nullopt;
}

Refusal setClock(PlayerOptions& options, const std::string& value) {
    if (value == "virtual")
        options.clock = ClockChoice::Virtual;
    else if (value == "real")
        options.clock = ClockChoice::Real;
    else
        return "--clock takes virtual or real, not \"" + value + "\"";
    return std::nullopt;
}

Refusal setDuration(PlayerOptions& options, const std::string& value) {
    double seconds = 0;
    if (!plat::host::parsePlainDecimal(value, false, &seconds))
        return "--duration takes seconds, not \"" + value + "\"";
    options.duration = seconds;
    return std::nullopt;
}

Refusal setFrames(PlayerOptions& options, const std::string& value) {
    long frames = 0;
    if (!plat::host::parsePlainWhole(value, 1, 2'000'000'000, &frames))
        return "--frames takes a number of frames from 1, not \"" + value + "\"";
    options.frames = frames;
    return std::nullopt;
}

Refusal setNet(PlayerOptions& options, const std::string& value) {
    if (!plat::net::parseNetOverride(value)) return "--net takes wifi, wwan or none, not \"" + value + "\"";
    options.net = value;
    return std::nullopt;
}

Refusal setWeb(PlayerOptions& options, const std::string& value) {
    if (value != "wpe" && value != "fake" && value != "none")
        return "--web takes wpe, fake or none, not \"" + value + "\"";
    options.web = value;
    return std::nullopt;
}

Refusal setDrainSeconds(PlayerOptions& options, const std::string& value) {
    if (!plat::host::parsePlainDecimal(value, false, &options.drainSeconds))
        return "--drain-seconds takes seconds, not \"" + value + "\"";
    return std::nullopt;
}

Refusal setTrace(PlayerOptions& options, const std::string& value) {
    if (Refusal refusal = refusedTraceCategories("--trace", value)) return refusal;
    options.trace = value;
    return std::nullopt;
}

Refusal setZoom(PlayerOptions& options, const std::string& value) {
    double zoom = 0;
    if (!plat::host::parsePlainDecimal(value, false, &zoom) || zoom <= 0)
        return "--zoom takes a size above 0, not \"" + value + "\"";
    options.zoom = zoom;
    return std::nullopt;
}

// The categories as lines of the help, each filled up to the help's width.
std::string traceCategoryLines() {
    std::string out, line;
    for (std::string_view category : playerTraceCategories()) {
        if (!line.empty() && kHelpColumn + line.size() + 1 + category.size() > kHelpWidth) {
            out += "\n" + line;
            line.clear();
        }
        line += (line.empty() ? "" : " ") + std::string(category);
    }
    return out + "\n" + line;
}

// `help` with its later lines indented to the help's column.
std::string indented(std::string_view help) {
    std::string out;
    for (char c : help) {
        out += c;
        if (c == '\n') out.append(kHelpColumn, ' ');
    }
    return out;
}

}  // namespace

std::span<const PlayerOption> playerOptionTable() {
    using T = PlayerOption;
    static const PlayerOption table[] = {
        {"--bundle", T::Text, "DIR", "", setBundle},
        {"--home", T::Text, "DIR", "the container's root (else $DROVIK_HOME, else the XDG data folder)",
         setText<&PlayerOptions::home>},
        {"--headless", T::Flag, "",
         "no window (nor without a display): an offscreen screen, on the\nvirtual clock by default",
         setFlag<&PlayerOptions::headless>},
        {"--input", T::Text, "FILE", "the input script (\"-\": standard input)", setText<&PlayerOptions::input>},
        {"--screenshot", T::Text, "FILE.png", "the screen as a PNG, written at quit",
         setText<&PlayerOptions::screenshot>},
        {"--device", T::Value, "NAME", "phone|phone-retina|phone5|tablet|tablet-retina (phone-retina)", setDevice},
        {"--device-orientation", T::Value, "N", "1-4 (the first Info.plist orientation, else 1)",
         setDeviceOrientation},
        {"--system-version", T::Text, "V", "the system version the game sees (6.1)",
         setText<&PlayerOptions::systemVersion>},
        {"--clock", T::Value, "virtual|real", "headless: virtual by default; a window runs on the real clock",
         setClock},
        {"--duration", T::Value, "S", "quit after S clock seconds", setDuration},
        {"--frames", T::Value, "N", "quit after the Nth game frame", setFrames},
        {"--net", T::Value, "wifi|wwan|none", "what reachability reports", setNet},
        {"--web", T::Value, "wpe|fake|none",
         "the page engine behind web views: WPE WebKit (the default), the\n"
         "tests' scripted one, or none (a web view shows its address)",
         setWeb},
        {"--device-facts", T::Text, "FILE",
         "the device facts the analytics clients report (else\n$DROVIK_DEVICE_FACTS)",
         setText<&PlayerOptions::deviceFacts>},
        {"--drain-seconds", T::Value, "S", "at exit, wait up to S real seconds for the analytics clients (2)",
         setDrainSeconds},
        {"--trace", T::Value, "CATS",
         "trace categories, a comma list or \"all\" (else $DROVIK_TRACE):" + traceCategoryLines(), setTrace},
        {"--trace-file", T::Text, "FILE",
         "where trace lines go (\"-\": standard output; else $DROVIK_TRACE_FILE,\nelse standard error)",
         setText<&PlayerOptions::traceFile>},
        {"--zoom", T::Value, "Z", "the window's pixels per device pixel (1; halved until it fits)", setZoom},
        {"--probe-plugin", T::Flag, "", "probe the plugins and report them", setFlag<&PlayerOptions::probePlugin>},
        {"--help", T::Flag, "", "this text (also -h)", setFlag<&PlayerOptions::help>},
    };
    return table;
}

std::string playerUsage() {
    std::string out = "usage: drovik-player [OPTIONS] BUNDLE   (or --bundle DIR, else $DROVIK_BUNDLE)\n";
    for (const PlayerOption& option : playerOptionTable()) {
        if (option.help.empty()) continue;
        std::string line = "  " + std::string(option.name);
        if (!option.argument.empty()) line += " " + std::string(option.argument);
        line.resize(std::max(line.size() + 1, kHelpColumn), ' ');
        out += line + indented(option.help) + "\n";
    }
    return out +
           "Headless without --duration, --frames or an app.quit in the script, the run quits after 10 clock\n"
           "seconds; with --frames N alone (headless or in a window), after 10 + N/60 clock seconds if the\n"
           "game has not drawn them by then (it may have stopped drawing: resigned, held paused). SIGINT,\n"
           "SIGTERM and SIGHUP quit (a second ends the process at once), as does a lost display or window.\n"
           "A script call still running 3 s after the run's end is interrupted, else the process ends 2 s\n"
           "later. Exit status: 0 after a quit; 1 for a start-up failure, a lost window or a script call\n"
           "that did not return; 2 for a bad command line or input script. In the window: the left button\n"
           "or a finger touches; F1 memory warning, F2 audio interruption begin/end, F3 resign/active, F4\n"
           "background/foreground, Ctrl+arrows turn the device (Ctrl+PageUp/PageDown face up/down), arrows\n"
           "tilt the accelerometer, F12 a screenshot (drovik-SECONDS.png here; the path is said).\n";
}

// A comma list of categories; empty items and "all" are nothing to refuse.
std::optional<std::string> refusedTraceCategories(std::string_view source, std::string_view list) {
    const std::vector<std::string_view>& known = playerTraceCategories();
    for (size_t start = 0; start <= list.size();) {
        const size_t comma = std::min(list.find(',', start), list.size());
        const std::string_view category = list.substr(start, comma - start);
        if (!category.empty() && category != "all" && std::find(known.begin(), known.end(), category) == known.end())
            return std::string(source) + ": no category \"" + std::string(category) + "\"";
        start = comma + 1;
    }
    return std::nullopt;
}

const std::vector<std::string_view>& playerTraceCategories() {
    static const std::vector<std::string_view> categories = {
        "alert",  "analytics", "audio", "banner", "bridge", "engine", "frame", "gamenet", "gkbanner", "gl",
        "iap",    "input",     "launch", "lifecycle", "media", "movie", "net", "notify", "open", "pause", "plugin",
        "promo",  "sheet",     "social", "startup", "store", "svc", "text", "ui", "web", "window"};
    return categories;
}

bool parsePlayerOptions(const std::vector<std::string>& arguments, const char* environmentBundle,
                        PlayerOptions* options, std::string* error) {
    PlayerOptions o;
    std::vector<std::string> positional;
    auto fail = [&](std::string what) {
        if (error) *error = std::move(what);
        return false;
    };
    bool optionsEnded = false;
    for (size_t i = 0; i < arguments.size(); ++i) {
        // Every tool takes -h for --help.
        const std::string& argument = !optionsEnded && arguments[i] == "-h" ? "--help" : arguments[i];
        if (optionsEnded || argument.size() < 2 || argument.compare(0, 2, "--") != 0 || argument == "-") {
            if (!optionsEnded && argument.size() > 1 && argument[0] == '-')
                return fail("unknown option " + argument);
            positional.push_back(argument);
            continue;
        }
        if (argument == "--") {
            optionsEnded = true;
            continue;
        }
        std::string name = argument;
        std::optional<std::string> value;
        if (const size_t equals = argument.find('='); equals != std::string::npos) {
            name = argument.substr(0, equals);
            value = argument.substr(equals + 1);
        }
        const std::span<const PlayerOption> table = playerOptionTable();
        const auto option = std::find_if(table.begin(), table.end(), [&](const PlayerOption& o) { return o.name == name; });
        if (option == table.end()) return fail("unknown option " + name);
        if (option->takes == PlayerOption::Flag) {
            if (value) return fail(name + " takes no value");
            value = "";
        } else if (!value) {
            if (i + 1 >= arguments.size()) return fail(name + " needs a value");
            value = arguments[++i];
        }
        if (option->takes == PlayerOption::Text && value->empty()) return fail(name + " needs a value");
        if (Refusal refusal = option->set(o, *value)) return fail(std::move(*refusal));
    }
    // The bundle: the argument, else --bundle, else the environment.
    if (positional.size() > 1) return fail("one bundle only: " + positional[0] + " and " + positional[1]);
    if (!positional.empty() && !o.bundle.empty()) return fail("one bundle only: " + positional[0] + " and " + o.bundle);
    if (!positional.empty()) o.bundle = positional[0];
    if (o.bundle.empty() && environmentBundle) o.bundle = environmentBundle;
    if (o.bundle.empty() && !o.help) return fail("no BUNDLE: give its path, --bundle DIR or $DROVIK_BUNDLE");
    *options = std::move(o);
    return true;
}
