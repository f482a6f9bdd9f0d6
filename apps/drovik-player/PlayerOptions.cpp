#include "apps/drovik-player/PlayerOptions.h"

#include <algorithm>
#include <string>
#include <string_view>

#include "platform/host/PlainNumbers.h"
#include "platform/net/Reachability.h"
#include "platform/sys/Device.h"

using plat::host::ClockChoice;
using plat::host::parsePlainDecimal;
using plat::host::parsePlainWhole;

std::string playerUsage() {
    return "usage: drovik-player [OPTIONS] BUNDLE   (or --bundle DIR, else $DROVIK_BUNDLE)\n"
           "  --home DIR             the container's root (else $DROVIK_HOME, else the XDG data folder)\n"
           "  --headless             no window (nor without a display): an offscreen screen, on the\n"
           "                         virtual clock by default\n"
           "  --input FILE           the input script (\"-\": standard input)\n"
           "  --screenshot FILE.png  the screen as a PNG, written at quit\n"
           "  --device NAME          phone|phone-retina|phone5|tablet|tablet-retina (phone-retina)\n"
           "  --device-orientation N 1-4 (the first Info.plist orientation, else 1)\n"
           "  --system-version V     the system version the game sees (6.1)\n"
           "  --clock virtual|real   headless: virtual by default; a window runs on the real clock\n"
           "  --duration S           quit after S clock seconds\n"
           "  --frames N             quit after the Nth game frame\n"
           "  --net wifi|wwan|none   what reachability reports\n"
           "  --web wpe|fake|none    the page engine behind web views: WPE WebKit (the default), the\n"
           "                         tests' scripted one, or none (a web view shows its address)\n"
           "  --device-facts FILE    the device facts the analytics clients report (else\n"
           "                         $DROVIK_DEVICE_FACTS)\n"
           "  --drain-seconds S      at exit, wait up to S real seconds for the analytics clients (2)\n"
           "  --trace CATS           trace categories, a comma list or \"all\" (else $DROVIK_TRACE):\n"
           "                         alert analytics audio banner bridge engine frame gamenet gkbanner gl\n"
           "                         iap input launch lifecycle media movie net notify open pause plugin\n"
           "                         promo sheet social startup store svc text ui web window\n"
           "  --trace-file FILE      where trace lines go (\"-\": standard output; else $DROVIK_TRACE_FILE,\n"
           "                         else standard error)\n"
           "  --zoom Z               the window's pixels per device pixel (1; halved until it fits)\n"
           "  --probe-plugin         probe the plugins and report them\n"
           "  --help                 this text\n"
           "Headless without --duration, --frames or an app.quit in the script, the run quits after 10 clock\n"
           "seconds; with --frames N alone, after 10 + N/60 clock seconds if the game has not drawn them by\n"
           "then (it may have stopped drawing: resigned, held paused). Exit status: 0 after a quit, 1 for a start-up failure, 2 for a bad command line or\n"
           "input script. In the window: the left button or a finger touches; F1 memory warning, F2 audio\n"
           "interruption begin/end, F3 resign/active, F4 background/foreground, Ctrl+arrows turn the device\n"
           "(Ctrl+PageUp/PageDown face up/down), arrows tilt the accelerometer, F12 a screenshot.\n";
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
    std::string fromOption;
    std::vector<std::string> positional;
    auto fail = [&](std::string what) {
        if (error) *error = std::move(what);
        return false;
    };
    bool optionsEnded = false;
    for (size_t i = 0; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
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
        std::optional<std::string> inlineValue;
        if (const size_t equals = argument.find('='); equals != std::string::npos) {
            name = argument.substr(0, equals);
            inlineValue = argument.substr(equals + 1);
        }
        auto flag = [&](bool* target) {
            if (inlineValue) return fail(name + " takes no value");
            *target = true;
            return true;
        };
        std::string value;
        auto takeValue = [&]() {
            if (inlineValue) {
                value = *inlineValue;
                return true;
            }
            if (i + 1 >= arguments.size()) return fail(name + " needs a value");
            value = arguments[++i];
            return true;
        };
        if (name == "--headless") {
            if (!flag(&o.headless)) return false;
        } else if (name == "--probe-plugin") {
            if (!flag(&o.probePlugin)) return false;
        } else if (name == "--help") {
            if (!flag(&o.help)) return false;
        } else if (name == "--bundle" || name == "--home" || name == "--input" || name == "--screenshot" ||
                   name == "--system-version" || name == "--trace" || name == "--trace-file" || name == "--device-facts") {
            if (!takeValue()) return false;
            if (value.empty() && name != "--trace") return fail(name + " needs a value");
            if (name == "--bundle") {
                if (!fromOption.empty()) return fail("one bundle only: " + fromOption + " and " + value);
                fromOption = value;
            } else if (name == "--home") {
                o.home = value;
            } else if (name == "--input") {
                o.input = value;
            } else if (name == "--screenshot") {
                o.screenshot = value;
            } else if (name == "--system-version") {
                o.systemVersion = value;
            } else if (name == "--trace") {
                for (size_t start = 0; start <= value.size();) {
                    const size_t comma = std::min(value.find(',', start), value.size());
                    const std::string_view category = std::string_view(value).substr(start, comma - start);
                    const std::vector<std::string_view>& known = playerTraceCategories();
                    if (!category.empty() && category != "all" &&
                        std::find(known.begin(), known.end(), category) == known.end())
                        return fail("--trace: no category \"" + std::string(category) + "\"");
                    start = comma + 1;
                }
                o.trace = value;
            } else if (name == "--device-facts") {
                o.deviceFacts = value;
            } else {
                o.traceFile = value;
            }
        } else if (name == "--device") {
            if (!takeValue()) return false;
            if (!plat::sys::findDevicePreset(value)) return fail("--device takes phone, phone-retina, phone5, tablet or tablet-retina, not \"" + value + "\"");
            o.device = value;
        } else if (name == "--device-orientation") {
            if (!takeValue()) return false;
            long orientation = 0;
            if (!parsePlainWhole(value, 1, 4, &orientation))
                return fail("--device-orientation takes 1, 2, 3 or 4, not \"" + value + "\"");
            o.deviceOrientation = static_cast<int>(orientation);
        } else if (name == "--clock") {
            if (!takeValue()) return false;
            if (value == "virtual")
                o.clock = ClockChoice::Virtual;
            else if (value == "real")
                o.clock = ClockChoice::Real;
            else
                return fail("--clock takes virtual or real, not \"" + value + "\"");
        } else if (name == "--duration") {
            if (!takeValue()) return false;
            double seconds = 0;
            if (!parsePlainDecimal(value, false, &seconds))
                return fail("--duration takes seconds, not \"" + value + "\"");
            o.duration = seconds;
        } else if (name == "--drain-seconds") {
            if (!takeValue()) return false;
            if (!parsePlainDecimal(value, false, &o.drainSeconds))
                return fail("--drain-seconds takes seconds, not \"" + value + "\"");
        } else if (name == "--frames") {
            if (!takeValue()) return false;
            long frames = 0;
            if (!parsePlainWhole(value, 1, 2'000'000'000, &frames))
                return fail("--frames takes a number of frames from 1, not \"" + value + "\"");
            o.frames = frames;
        } else if (name == "--net") {
            if (!takeValue()) return false;
            if (!plat::net::parseNetOverride(value))
                return fail("--net takes wifi, wwan or none, not \"" + value + "\"");
            o.net = value;
        } else if (name == "--web") {
            if (!takeValue()) return false;
            if (value != "wpe" && value != "fake" && value != "none")
                return fail("--web takes wpe, fake or none, not \"" + value + "\"");
            o.web = value;
        } else if (name == "--zoom") {
            if (!takeValue()) return false;
            double zoom = 0;
            if (!parsePlainDecimal(value, false, &zoom) || zoom <= 0)
                return fail("--zoom takes a size above 0, not \"" + value + "\"");
            o.zoom = zoom;
        } else {
            return fail("unknown option " + name);
        }
    }
    if (positional.size() > 1) return fail("one bundle only: " + positional[0] + " and " + positional[1]);
    if (!positional.empty() && !fromOption.empty())
        return fail("one bundle only: " + positional[0] + " and " + fromOption);
    o.bundle = !positional.empty() ? positional[0] : fromOption;
    if (o.bundle.empty() && environmentBundle) o.bundle = environmentBundle;
    if (o.bundle.empty() && !o.help) return fail("no BUNDLE: give its path, --bundle DIR or $DROVIK_BUNDLE");
    *options = std::move(o);
    return true;
}
