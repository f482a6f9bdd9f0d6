// dk-orbad-cli: the ad network client driven headless, one command a line, for tests and outside
// checks.
//
//   dk-orbad-cli --home DIR [--bundle DIR] [--pasteboards DIR] [--clock virtual|real]
//                [--start-time EPOCH] [--seed N] [--device-facts FILE] [--device PRESET]
//                [--endpoint NAME=VALUE]... [--net wifi|wwan|none] [--web wpe|fake|none] [--log]
//                [--commands FILE]
//   dk-orbad-cli --help         (the usage with every command)
//
// Besides the client's parts (json, b64, aes, image, get, form, event...), its ads:
//   model FILE             the model of a response entry {"creative":{...}}: "model CLASS type=N id=ID",
//                          then "field NAME VALUE" per field (orbad/ads/OrbadAdDump.h)
//   creative FILE [WxH]    its creative view in a stand-in engine view of that size (320x50), on a
//                          window of that size: "creative finished" or "creative failed [CODE]"
//   views                  that window's view tree, one JSON line a view (without a creative, the
//                          banners' window, with the screens their actions present)
//   screenshot FILE.png    that window as the compositor draws it
// and, on the last rich-media view (the creative's, a banner's or a full-screen ad's), the commands
// of RichMediaCommands.h (web ..., rotate N) and the device input of DeviceCommands.h (motion, gps,
// heading, accel, shake); the media screens of
// MediaCommands.h (camera pick|cancel, compose done); banners, actions and full-screen ads:
// BannerCommands.h, ActionCommands.h, FullscreenCommands.h.
//
// Commands come from FILE, else standard input. What happens prints as it happens; each command
// prints its own result lines. Texts are escaped (\\ \r \n \t, other controls \xHH); `json` results
// print as the client writes them. Exit status 0 after an orderly shutdown; 1 when the container
// cannot be made or the command file read; 2 for a bad command line, or when a command was refused
// ("error ...").
#include <GLES2/gl2.h>
#include <cairo.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "apps/cli-support/CommandLine.h"
#include "apps/dk-orbad-cli/ActionCommands.h"
#include "apps/dk-orbad-cli/ClientCommands.h"
#include "apps/dk-orbad-cli/DeviceCommands.h"
#include "apps/dk-orbad-cli/MediaCommands.h"
#include "apps/dk-orbad-cli/RichMediaCommands.h"
#include "apps/dk-orbad-cli/BannerCommands.h"
#include "apps/dk-orbad-cli/FullscreenCommands.h"
#include "orbad/Orbad.h"
#include "orbad/ads/OrbadAd.h"
#include "orbad/ads/OrbadAdDump.h"
#include "orbad/ads/OrbadBannerAdView.h"
#include "orbad/ads/OrbadWebAdView.h"
#include "orbad/core/AESCrypt.h"
#include "orbad/core/OBConfig.h"
#include "orbad/core/OBEnvironment.h"
#include "orbad/core/OBResourcesController.h"
#include "orbad/core/OBSession.h"
#include "orbad/core/OBSessionTracking.h"
#include "orbad/core/OrbadAdEvents.h"
#include "orbad/core/OrbadController.h"
#include "orbad/core/OrbadHelper.h"
#include "orbad/core/OrbadJSON.h"
#include "orbad/core/OrbadReachability.h"
#include "orbad/core/http/OBHTTPRequest.h"
#include "platform/crypto/Crypto.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/Pasteboard.h"
#include "platform/foundation/RunLoop.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/gl/GLContext.h"
#include "platform/gl/GLLayer.h"
#include "platform/image/ImageCodec.h"
#include "platform/media/MoviePlayer.h"
#include "platform/net/Reachability.h"
#include "platform/net/Servers.h"
#include "platform/sys/Device.h"
#include "platform/sys/FileModes.h"
#include "platform/ui/Application.h"
#include "platform/ui/Compositor.h"
#include "platform/ui/ViewDump.h"
#include "platform/ui/Window.h"
#include "platform/web/PageEngine.h"
#include "orbad/ads/OrbadRichMediaWebAdView.h"
#include "platform/sys/Device.h"

namespace {

using dk::tools::Arg;
using dk::tools::escape;
using dk::tools::parseDouble;
using dk::tools::parseInt;
using orbad::OBCoreHTTPRequest;
using plat::foundation::Clock;
using plat::foundation::RunLoop;
using plat::foundation::Value;

constexpr const char* kDefaultIdentifier = "com.drovik.orbad-cli";

const dk::tools::Usage kUsage = {
    "dk-orbad-cli",
    "usage: dk-orbad-cli --home DIR [--bundle DIR] [--pasteboards DIR] [--clock virtual|real]\n"
    "         [--start-time EPOCH] [--seed N] [--device-facts FILE] [--device PRESET]\n"
    "         [--endpoint NAME=VALUE]... [--net wifi|wwan|none] [--web wpe|fake|none] [--log]\n"
    "         [--commands FILE]\n",
    "\n"
    "--web: the page engine behind the ads' web views, WPE WebKit (wpe, the default), the tests'\n"
    "  scripted one (fake), or none (a web view shows its address)\n"
    "\n"
    "Commands, one a line from FILE or standard input (# comments); happenings print as they come:\n"
    "  run S                     S seconds of the clock, none passing while a request is in flight\n"
    "                            (up to 10 s of real time at each step of the clock)\n"
    "  settle [MAX]              no clock moved: up to MAX real seconds (10) until no request is\n"
    "                            in flight -> idle | busy\n"
    "  time                      the tool's wall time\n"
    "  json FILE [nsnull] [strict] | b64 encode FILE [lines] | b64 decode TEXT\n"
    "  b64x encode FILE [LINELEN] | b64x decode TEXT | encode-id TEXT | sha1 FILE | query TEXT\n"
    "  aes encrypt|decrypt KEY FILE | aes encrypt-text|decrypt-text KEY TEXT | image NAME [2x] OUT.png\n"
    "  net wifi|wwan|none | reach [HOST]\n"
    "  get URL [timeout=S] [NAME:VALUE]... | form URL [core] NAME=VALUE... | cancel | event FILE NAME\n"
    "  start [APPID] | app resign|active|terminate | location LAT LON [ACCURACY]\n"
    "  battery LEVEL STATE | config | env | session | defaults KEY | pasteboard NAME TEXT\n"
    "  adunit WxH | candidates WxH | pick WxH N | alert press N | alert cancel\n"
    "  instr start GROUP [TAG] | instr bench NAME PATH | instr end PATH\n"
    "  instr info GROUP DESCRIPTION VALUE | instr finish GROUP\n"
    "  demographics JSON [YYYY-MM-DD] | feedback comment TEXT | feedback ratings A B C D E\n"
    "  model FILE | creative FILE [WxH] | views | screenshot FILE.png\n"
    "  web nav URL [click] | web click | web wait TEXT | web meta NAME CONTENT [WIDTH HEIGHT]\n"
    "  web answer SCRIPT RESULT | web fail | rotate N\n"
    "  banner CLASS [X Y] | banner delegate [OPTION]...\n"
    "  banner resume|pause|cancel|get|prefetch|display|continue|free\n"
    "  banner refresh S | banner space NAME | banner testing on|off | banner orphan\n"
    "  tap X Y | memory-warning | browser URL [STYLE] | browser nav URL [click]\n"
    "  browser done|actions | sheet press N\n"
    "  video URL | movie | movie finish\n"
    "  fullscreen delegate [OPTION]... | fullscreen request|display|request-display|done|state\n"
    "  widget tap\n"
    "  camera pick|cancel | compose done\n"
    "  motion accel|gyro|attitude X Y Z | gps LAT LON [ALT COURSE SPEED HACC VACC]\n"
    "  heading DEGREES | accel X Y Z | shake\n"
    "Exit status 0 after an orderly shutdown; 1 when the container or the command file cannot be\n"
    "had; 2 for a bad command line or a refused command (\"error ...\").\n",
};

// What the options set that later commands use.
struct Settings {
    std::string pasteboards, net = "wifi", web = "wpe";
    std::vector<std::pair<std::string, std::string>> endpoints;
    std::optional<long long> seed;
    double startWall = 0;
    bool log = false;
};

void say(const std::string& line) {
    std::fprintf(stdout, "%s\n", line.c_str());
    std::fflush(stdout);
}

bool readFile(const std::string& path, orbad::Data& out) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    out.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return !in.bad();
}

std::string hexOf(const orbad::Data& bytes) {
    return "bytes " + plat::crypto::hex(bytes);
}

// The requests' delegate: outcomes print from the main loop, as it handles them.
class CliDelegate : public orbad::OBHTTPRequestDelegate {
public:
    void requestDidFinish(OBCoreHTTPRequest& request) override {
        tell("delegate requestDidFinish " + std::to_string(request.responseStatusCode()) + " " +
             escape(request.responseString()));
    }
    void requestDidFail(OBCoreHTTPRequest&, const orbad::Error& error) override {
        tell("delegate requestDidFail " + std::to_string(error.code));
    }

private:
    static void tell(std::string line) {
        RunLoop::main().perform([line = std::move(line)] { say(line); });
    }
};

// The engine's stand-in for `creative`: it takes every ad and says how the load ended.
class StandInHost : public orbad::OrbadAdsViewHost {
public:
    std::optional<std::string> outcome;
    bool adsViewFinishedLoading(orbad::OrbadAdsView&, const std::shared_ptr<orbad::OrbadAd>&) override {
        if (!outcome) outcome = "creative finished";
        return true;
    }
    void adsViewFailedToLoad(orbad::OrbadAdsView&, const std::shared_ptr<orbad::OrbadAd>&,
                             const std::optional<orbad::Error>& error) override {
        if (!outcome) outcome = error ? "creative failed " + std::to_string(error->code) : "creative failed";
    }
    void openActionForAd(const std::shared_ptr<orbad::OrbadAd>&) override { say("host action"); }
    void openActionURL(const std::string& url, const std::shared_ptr<orbad::OrbadAd>&) override {
        say("host url " + escape(url));
    }
    void openURLInBrowser(const std::string& url, int style) override {
        say("host browser " + escape(url) + " " + std::to_string(style));
    }
    void logInfo(const std::string& text) const override { say("host log " + escape(text)); }
    int interfaceOrientation() const override { return plat::sys::Device::current().orientation(); }
    double adWidth() const override { return size.width; }
    double adHeight() const override { return size.height; }
    plat::ui::Size size{};
    // The bridge's covering screens (picker, composers): a controller over the engine view, made
    // when one is first shown, and a touch-through the tool always grants.
    plat::ui::ViewController* viewController() const override {
        auto view = engineView.lock();
        if (view && !controller) {
            controller = std::make_shared<plat::ui::ViewController>();
            controller->setView(view);
        }
        return controller.get();
    }
    bool adShouldTouchThrough(const std::shared_ptr<orbad::OrbadAd>&) override {
        say("host touch");
        return true;
    }
    void adDidFinishTouchThrough(const std::shared_ptr<orbad::OrbadAd>&) override { say("host finish"); }
    std::weak_ptr<plat::ui::View> engineView;
    mutable std::shared_ptr<plat::ui::ViewController> controller;
};

// The window's pixels, for `screenshot`: an offscreen frame buffer of its size.
class Screen : public plat::ui::Presenter {
public:
    static std::unique_ptr<Screen> create(int width, int height, std::string* error) {
        std::unique_ptr<Screen> screen(new Screen);
        plat::gl::CurrentContextScope keep;
        screen->m_context = plat::gl::GLContext::create(error);
        if (!screen->m_context || !screen->m_context->makeCurrent()) return nullptr;
        screen->m_width = width;
        screen->m_height = height;
        screen->m_layer.setBounds(width, height);
        glGenFramebuffers(1, &screen->m_framebuffer);
        glBindFramebuffer(GL_FRAMEBUFFER, screen->m_framebuffer);
        if (!screen->m_layer.allocateStorage()) {
            *error = "no frame buffer";
            return nullptr;
        }
        return screen;
    }
    ~Screen() override {
        if (m_context && m_context->makeCurrent()) {
            m_layer.releaseStorage();
            glDeleteFramebuffers(1, &m_framebuffer);
        }
    }
    bool beginFrame(Target* target) override {
        m_context->makeCurrent();
        glBindFramebuffer(GL_FRAMEBUFFER, m_framebuffer);
        *target = {m_width, m_height, 1};
        return true;
    }
    void endFrame() override {}
    // The top left `width` x `height` pixels.
    bool write(const std::string& path, int width, int height, std::string* error) {
        plat::gl::CurrentContextScope keep;
        m_context->makeCurrent();
        const std::vector<std::uint8_t> all = m_layer.readPixels();
        width = std::min(width, m_width);
        height = std::min(height, m_height);
        std::vector<std::uint8_t> part;
        for (int y = 0; y < height; ++y) {
            const auto row = all.begin() + static_cast<std::ptrdiff_t>(y) * m_width * 4;
            part.insert(part.end(), row, row + static_cast<std::ptrdiff_t>(width) * 4);
        }
        return plat::image::writePNG(path, width, height, part, error);
    }

private:
    Screen() = default;
    std::unique_ptr<plat::gl::GLContext> m_context;
    plat::gl::GLLayer m_layer;
    unsigned m_framebuffer = 0;
    int m_width = 0, m_height = 0;
};

bool requestsInFlight() {
    return OBCoreHTTPRequest::inFlightCount() > 0;
}

class Cli {
public:
    explicit Cli(Settings settings) : m_settings(std::move(settings)), m_client(say, m_settings.seed) {
        // The device input goes to the same rich-media view as the page commands.
        m_richMedia.setViewHook([this](const std::shared_ptr<orbad::OrbadRichMediaWebAdView>& view) {
            m_device.setView(view);
        });
    }

    // Runs one command line; false when it was refused (after saying why). What came up on
    // screen meanwhile follows its lines.
    bool run(std::string_view text) {
        const bool accepted = runCommand(text);
        m_client.noticeScreen();
        return accepted;
    }

private:
    bool runCommand(std::string_view text) {
        std::string name, error;
        std::vector<Arg> args;
        if (!dk::tools::splitCommand(text, name, args, error)) return refuse(error);
        if (name == "run") return runFor(args);
        if (name == "settle") return settle(args);
        if (name == "time") {
            if (!args.empty()) return refuse("usage: time");
            char out[64];
            std::snprintf(out, sizeof out, "time %.3f", m_settings.startWall + Clock::process().now());
            say(out);
            return true;
        }
        if (name == "json") return json(args);
        if (name == "b64") return base64(args, false);
        if (name == "b64x") return base64(args, true);
        if (name == "encode-id") {
            if (args.size() != 1) return refuse("usage: encode-id TEXT");
            say("text " + escape(orbad::orbadEncode(args[0].text)));
            return true;
        }
        if (name == "sha1") {
            orbad::Data data;
            if (args.size() != 1) return refuse("usage: sha1 FILE");
            if (!readFile(args[0].text, data)) return refuse("cannot read " + args[0].text);
            say("text " + orbad::OBConvertDataToSHA1String(data));
            return true;
        }
        if (name == "query") {
            if (args.size() != 1) return refuse("usage: query TEXT");
            for (const auto& [key, value] : orbad::obComponentsFromQueryString(args[0].text))
                say("query " + escape(key) + "=" + escape(*value.string()));
            return true;
        }
        if (name == "aes") return aes(args);
        if (name == "image") return image(args);
        if (name == "net") {
            std::optional<plat::net::NetOverride> value;
            if (args.size() != 1 || !(value = plat::net::parseNetOverride(args[0].text)))
                return refuse("usage: net wifi|wwan|none");
            plat::net::setNetOverride(value);
            say("ok");
            return true;
        }
        if (name == "reach") return reach(args);
        if (name == "get") return get(args);
        if (name == "form") return form(args);
        if (name == "cancel") {
            if (!args.empty()) return refuse("usage: cancel");
            OBCoreHTTPRequest::cancelRequestsForDelegate(m_delegate.get());
            say("ok");
            return true;
        }
        if (name == "event") return event(args);
        if (name == "start") {
            if (args.size() > 1) return refuse("usage: start [APPID]");
            if (args.empty()) {
                if (!orbad::OrbadController::hasBeenInstantiated() && !orbad::OrbadController::canBeAutoInstantiated())
                    return refuse("no application id");
                Orbad::start();
            } else {
                Orbad::startWithApplicationId(args[0].text);
            }
            say("ok");
            return true;
        }
        if (name == "app") return app(args);
        if (name == "location") return location(args);
        if (name == "battery") {
            double level;
            long long state;
            if (args.size() != 2 || !parseDouble(args[0].text, level) || !parseInt(args[1].text, state) ||
                !plat::sys::Device::current().setBattery(level, static_cast<int>(state)))
                return refuse("usage: battery LEVEL STATE (LEVEL -1 or 0 to 1, STATE 0-3)");
            say("ok");
            return true;
        }
        if (name == "config") return config(args);
        if (name == "env") return env(args);
        if (name == "session") return session(args);
        if (name == "defaults") {
            if (args.size() != 1) return refuse("usage: defaults KEY");
            auto* defaults = plat::foundation::UserDefaults::standard();
            std::optional<Value> value = defaults ? defaults->objectForKey(args[0].text) : std::nullopt;
            say("defaults " + escape(args[0].text) + " " + (value ? value->canonicalJSON() : "nil"));
            return true;
        }
        if (name == "pasteboard") {
            if (args.size() != 2) return refuse("usage: pasteboard NAME TEXT");
            std::unique_ptr<plat::foundation::Pasteboard> board =
                plat::foundation::Pasteboard::named(args[0].text, true);
            if (!board) return refuse("cannot make pasteboard " + args[0].text);
            board->setPersistent(true);
            if (!board->setString(args[1].text)) return refuse("cannot write pasteboard " + args[0].text);
            say("ok");
            return true;
        }
        if (name == "model") return model(args);
        if (name == "creative") return creative(args);
        if (name == "views") {
            if (!args.empty()) return refuse("usage: views");
            // Without a creative, the key window: the banners' with the screens they present.
            plat::ui::Application* application = plat::ui::Application::shared();
            plat::ui::Window* window = m_window ? m_window.get() : application ? application->keyWindow() : nullptr;
            if (!window) return refuse("no creative shown");
            std::fputs(plat::ui::dumpViewTree(*window).c_str(), stdout);
            std::fflush(stdout);
            return true;
        }
        if (name == "screenshot") return screenshot(args);
        if (std::optional<bool> accepted = m_client.run(name, args)) return *accepted;
        if (auto ran = m_richMedia.run(name, args)) return *ran;
        if (std::optional<bool> done = m_banners.run(name, args)) return *done;
        if (std::optional<bool> accepted = m_actions.run(name, args)) return *accepted;
        if (std::optional<bool> accepted = m_fullscreen.run(name, args)) return *accepted;
        if (std::optional<bool> done = m_media.run(name, args)) return *done;
        if (std::optional<bool> accepted = m_device.run(name, args)) return *accepted;
        return refuse("unknown command: " + name);
    }

    static bool refuse(const std::string& why) {
        say("error " + why);
        return false;
    }

    // No virtual time passes while a request is in flight, for up to 10 s of real time at each
    // step of the clock: the main loop holds a virtual clock so for any work under way (a request
    // is), so a silent server holds the run no longer than that, rather than until its time-out.
    bool runFor(const std::vector<Arg>& args) {
        double seconds;
        if (args.size() != 1 || !parseDouble(args[0].text, seconds) || seconds < 0)
            return refuse("usage: run S");
        RunLoop::main().runFor(seconds);
        m_client.noticeScreen();
        say("ok");
        return true;
    }

    bool settle(const std::vector<Arg>& args) {
        double limit = 10;
        if (args.size() > 1 || (args.size() == 1 && (!parseDouble(args[0].text, limit) || limit < 0)))
            return refuse("usage: settle [MAX]");
        say(dk::tools::turnWhileBusy(requestsInFlight, limit) ? "idle" : "busy");
        return true;
    }

    static bool reach(const std::vector<Arg>& args) {
        if (args.size() > 1) return refuse("usage: reach [HOST]");
        auto reachability = args.empty() ? orbad::OrbadReachability::reachabilityForInternetConnection()
                                         : orbad::OrbadReachability::reachabilityWithHostName(args[0].text);
        if (!reachability) {
            say("reach NIL");
            return true;
        }
        say("reach " + std::to_string(reachability->currentReachabilityStatus()) +
            (reachability->connectionRequired() ? " required" : " notrequired"));
        return true;
    }

    bool get(const std::vector<Arg>& args) {
        constexpr const char* kUsage = "usage: get URL [timeout=S] [NAME:VALUE]...";
        if (args.empty()) return refuse(kUsage);
        auto request = orbad::OBHTTPRequest::create(args[0].text, m_delegate);
        for (std::size_t i = 1; i < args.size(); ++i) {
            const std::string& text = args[i].text;
            double timeout;
            if (text.starts_with("timeout=")) {
                if (!parseDouble(text.substr(8), timeout)) return refuse(kUsage);
                request->setTimeoutInterval(timeout);
                continue;
            }
            const std::size_t colon = text.find(':');
            if (colon == std::string::npos || colon == 0) return refuse(kUsage);
            request->addRequestHeader(text.substr(0, colon), text.substr(colon + 1));
        }
        say("http GET " + escape(args[0].text));
        request->startAsynchronous();
        return true;
    }

    bool form(const std::vector<Arg>& args) {
        constexpr const char* kUsage = "usage: form URL [core] NAME=VALUE...";
        if (args.empty()) return refuse(kUsage);
        const bool core = args.size() > 1 && !args[1].quoted && args[1].text == "core";
        std::shared_ptr<orbad::OBCoreHTTPFormRequest> request =
            core ? orbad::OBCoreHTTPFormRequest::create(args[0].text, m_delegate)
                 : orbad::OBHTTPFormRequest::create(args[0].text, m_delegate);
        for (std::size_t i = core ? 2 : 1; i < args.size(); ++i) {
            const std::string& text = args[i].text;
            const std::size_t eq = text.find('=');
            if (eq == std::string::npos || eq == 0) return refuse(kUsage);
            request->setPostValue(Value(text.substr(eq + 1)), text.substr(0, eq));
        }
        say("http POST " + escape(args[0].text));
        request->startAsynchronous();
        return true;
    }

    static bool event(const std::vector<Arg>& args) {
        if (args.size() != 2) return refuse("usage: event FILE NAME");
        orbad::Data data;
        if (!readFile(args[0].text, data)) return refuse("cannot read " + args[0].text);
        std::optional<Value> table = orbad::OrbadJSON::decodeData(data);
        if (!table || !table->dictionary()) return refuse("not a JSON object: " + args[0].text);
        orbad::OrbadAdEvents events(*table);
        const std::string name = orbad::OrbadAdEvents::eventName(args[1].text);
        auto urls = events.events().find(name);
        say("event " + escape(name) + " " +
            std::to_string(urls == events.events().end() ? 0 : urls->second.size()));
        events.triggerEvent(args[1].text);
        return true;
    }

    bool json(const std::vector<Arg>& args) {
        if (args.empty() || args.size() > 3) return refuse("usage: json FILE [nsnull] [strict]");
        bool nsnull = false, strict = false;
        for (size_t i = 1; i < args.size(); ++i) {
            if (args[i].text == "nsnull")
                nsnull = true;
            else if (args[i].text == "strict")
                strict = true;
            else
                return refuse("usage: json FILE [nsnull] [strict]");
        }
        orbad::Data data;
        if (!readFile(args[0].text, data)) return refuse("cannot read " + args[0].text);
        orbad::OrbadJSONScanner scanner(std::move(data));
        if (!nsnull) scanner.setNullObject(std::nullopt);
        scanner.setStrictEscapeCodes(strict);
        std::optional<Value> value;
        orbad::Error error;
        if (!scanner.scanJSONObject(&value, &error)) {
            say("json ERROR " + error.domain + " " + std::to_string(error.code) + " " +
                escape(error.message));
            return true;
        }
        if (!value) {
            say("json NIL");
            return true;
        }
        std::optional<std::string> text = orbad::OBJSONSerializer().serializeObject(*value, &error);
        say(text ? "json " + *text
                 : "json ERROR " + error.domain + " " + std::to_string(error.code) + " " +
                       escape(error.message));
        return true;
    }

    bool base64(const std::vector<Arg>& args, bool second) {
        const char* usageText = second ? "usage: b64x encode FILE [LINELEN] | b64x decode TEXT"
                                       : "usage: b64 encode FILE [lines] | b64 decode TEXT";
        if (args.size() < 2) return refuse(usageText);
        if (args[0].text == "decode" && args.size() == 2) {
            const std::string& text = args[1].text;
            say(hexOf(second ? orbad::dataWithBase64EncodedString(text)
                             : orbad::OBNewBase64Decode(text.data(), text.size())));
            return true;
        }
        if (args[0].text != "encode" || args.size() > 3) return refuse(usageText);
        long long lineLength = 0;
        if (args.size() == 3) {
            if (second ? !parseInt(args[2].text, lineLength) || lineLength < 0 : args[2].text != "lines")
                return refuse(usageText);
        }
        orbad::Data data;
        if (!readFile(args[1].text, data)) return refuse("cannot read " + args[1].text);
        const std::string text = second
                                     ? orbad::base64Encoding(data, static_cast<size_t>(lineLength))
                                     : orbad::OBNewBase64Encode(data.data(), data.size(), args.size() == 3);
        say("text " + escape(text));
        return true;
    }

    bool aes(const std::vector<Arg>& args) {
        constexpr const char* kUsage =
            "usage: aes encrypt|decrypt KEY FILE | aes encrypt-text|decrypt-text KEY TEXT";
        if (args.size() != 3) return refuse(kUsage);
        const std::string& op = args[0].text;
        const std::string& key = args[1].text;
        if (op == "encrypt" || op == "decrypt") {
            orbad::Data data;
            if (!readFile(args[2].text, data)) return refuse("cannot read " + args[2].text);
            std::optional<orbad::Data> out = op == "encrypt" ? orbad::AES256EncryptWithKey(data, key)
                                                             : orbad::AES256DecryptWithKey(data, key);
            say(out ? hexOf(*out) : "NIL");
            return true;
        }
        if (op == "encrypt-text" || op == "decrypt-text") {
            std::optional<std::string> out = op == "encrypt-text"
                                                 ? orbad::AES256EncryptStringWithKey(args[2].text, key)
                                                 : orbad::AES256DecryptStringWithKey(args[2].text, key);
            say(out ? "text " + escape(*out) : "NIL");
            return true;
        }
        return refuse(kUsage);
    }

    bool image(const std::vector<Arg>& args) {
        constexpr const char* kUsage = "usage: image NAME [2x] OUT.png";
        if (args.size() < 2 || args.size() > 3 || (args.size() == 3 && args[1].text != "2x"))
            return refuse(kUsage);
        auto picture =
            orbad::OBResourcesController::sharedResources()->imageNamed(args[0].text, args.size() == 3);
        if (!picture) return refuse("unknown image: " + args[0].text);
        if (cairo_surface_write_to_png(picture->surface(), args.back().text.c_str()) != CAIRO_STATUS_SUCCESS)
            return refuse("cannot write " + args.back().text);
        char out[96];
        std::snprintf(out, sizeof out, "image %dx%d scale=%g", picture->pixelWidth(), picture->pixelHeight(),
                      picture->scale());
        say(out);
        return true;
    }

    static bool app(const std::vector<Arg>& args) {
        static const std::map<std::string, const char*> kNotifications = {
            {"resign", plat::ui::kApplicationWillResignActiveNotification},
            {"active", plat::ui::kApplicationDidBecomeActiveNotification},
            {"terminate", plat::ui::kApplicationWillTerminateNotification}};
        auto found = args.size() == 1 ? kNotifications.find(args[0].text) : kNotifications.end();
        if (found == kNotifications.end()) return refuse("usage: app resign|active|terminate");
        plat::foundation::NotificationCenter::defaultCenter().post(found->second, {plat::ui::Application::shared()});
        say("ok");
        return true;
    }

    static bool location(const std::vector<Arg>& args) {
        orbad::OBLocation where;
        where.horizontalAccuracy = 10;
        if (args.size() < 2 || args.size() > 3 || !parseDouble(args[0].text, where.latitude) ||
            !parseDouble(args[1].text, where.longitude) ||
            (args.size() == 3 && !parseDouble(args[2].text, where.horizontalAccuracy)))
            return refuse("usage: location LAT LON [ACCURACY]");
        Orbad::updateLocation(where);
        say("ok");
        return true;
    }

    static std::string text(const std::optional<std::string>& value) { return value ? escape(*value) : "nil"; }
    static std::string text(bool value) { return value ? "YES" : "NO"; }
    static std::string date(const std::optional<double>& seconds) {
        if (!seconds) return "nil";
        char out[64];
        std::snprintf(out, sizeof out, "%.3f", *seconds);
        return out;
    }

    static bool config(const std::vector<Arg>& args) {
        if (!args.empty()) return refuse("usage: config");
        if (!orbad::OrbadController::hasBeenInstantiated()) return refuse("not started");
        orbad::OBConfig& c = orbad::OrbadController::sharedInstance().config();
        std::string handlers;
        for (const std::string& handler : c.nativeURLHandlers()) handlers += (handlers.empty() ? "" : " ") + handler;
        const std::pair<const char*, std::string> lines[] = {
            {"configURL", c.configURL()},
            {"oaBaseURL", c.getoaBaseURL()},
            {"feedbackURL", c.feedbackURL()},
            {"virtualCurrencyURL", c.virtualCurrencyURL()},
            {"advertisingURL", c.advertisingURL()},
            {"analyticsURL", c.analyticsURL()},
            {"instrumentationURL", c.instrumentationURL()},
            {"mraidURL", c.mraidURL()},
            {"loglevel", std::to_string(c.loglevel())},
            {"idleTimeout", orbad::fixedSix(c.idleTimeoutInterval())},
            {"nativeURLHandlers", handlers},
            {"userAgent", c.userAgent().empty() ? "nil" : c.userAgent()},
            {"isUpdating", text(c.isUpdating())},
            {"hasConfigFailed", text(c.hasConfigFailed())},
            {"capture", text(c.shouldSendOrbadDebugData())},
        };
        for (const auto& [key, value] : lines) say(std::string("config ") + key + " " + escape(value));
        return true;
    }

    static bool env(const std::vector<Arg>& args) {
        if (!args.empty()) return refuse("usage: env");
        if (!orbad::OrbadController::hasBeenInstantiated()) return refuse("not started");
        const orbad::OBEnvironment& e = orbad::OrbadController::sharedInstance().environment();
        using orbad::OBEnvironment;
        const std::pair<const char*, std::string> lines[] = {
            {"applicationId", escape(e.applicationId())},
            {"applicationVersion", escape(e.applicationVersion())},
            {"deviceType", escape(e.deviceType())},
            {"libaryVersion", e.libaryVersion()},
            {"telephonyNetworkInfo", text(e.hasTelephonyNetworkInfo())},
            {"mobileCountryCode", text(e.mobileCountryCode())},
            {"mobileNetworkCode", text(e.mobileNetworkCode())},
            {"isoCountryCode", text(e.isoCountryCode())},
            {"language", text(e.language())},
            {"locale", escape(e.locale())},
            {"timeZone", text(e.timeZone())},
            {"initialLogLevel", std::to_string(e.initialLogLevel())},
            {"shouldAutoReportCrashes", text(e.shouldAutoReportCrashes())},
            {"deviceIdentifier", escape(OBEnvironment::deviceIdentifier())},
            {"limitTracking", text(OBEnvironment::limitTracking())},
            {"platformName", OBEnvironment::platformName()},
            {"facebookAttributionId", text(OBEnvironment::getFacebookAttributionId())},
            {"facebookAttributionKeyword", text(OBEnvironment::getFacebookAttributionKeyword())},
            {"connectionType", e.connectionType()},
            {"location", e.location()},
        };
        for (const auto& [key, value] : lines) say(std::string("env ") + key + " " + value);
        return true;
    }

    static bool session(const std::vector<Arg>& args) {
        if (!args.empty()) return refuse("usage: session");
        if (!orbad::OrbadController::hasBeenInstantiated()) return refuse("not started");
        std::shared_ptr<orbad::OBSession> s = orbad::OBSession::currentSession();
        orbad::OBSessionTracking& t = orbad::OrbadController::sharedInstance().config().sessionTracking();
        const std::pair<const char*, std::string> lines[] = {
            {"identifier", s->identifier()},
            {"date", date(s->date())},
            {"connectionType", std::to_string(s->connectionType())},
            {"batteryLevel", std::to_string(s->batteryLevel())},
            {"batteryState", std::to_string(s->batteryState())},
            {"location", s->location() && s->location()->horizontalAccuracy >= 0
                             ? orbad::fixedSix(s->location()->latitude) + "," + orbad::fixedSix(s->location()->longitude)
                             : "nil"},
            {"offlineSessionCount", std::to_string(t.offlineSessionCount())},
            {"idleSessionTime", orbad::fixedSix(t.idleSessionTime())},
            {"lastSessionLength", orbad::fixedSix(t.lastSessionLength())},
            {"firstRun", text(t.firstRun())},
            {"originalUDID", text(t.originalUDID())},
            {"sessionStartDate", date(t.sessionStartDate())},
            {"sessionWentIdleDate", date(t.sessionWentIdleDate())},
            {"sessionEndDate", date(t.sessionEndDate())},
        };
        for (const auto& [key, value] : lines) say(std::string("session ") + key + " " + value);
        return true;
    }

    static std::shared_ptr<orbad::OrbadAd> readModel(const std::string& path, std::string& error) {
        orbad::Data data;
        if (!readFile(path, data)) {
            error = "cannot read " + path;
            return nullptr;
        }
        std::optional<Value> entry = orbad::OrbadJSON::decodeData(data);
        if (!entry || !entry->dictionary()) {
            error = "not a JSON object: " + path;
            return nullptr;
        }
        return orbad::OrbadAd::adWithJSONDictionary(*entry);
    }

    static bool model(const std::vector<Arg>& args) {
        if (args.size() != 1) return refuse("usage: model FILE");
        std::string error;
        auto ad = readModel(args[0].text, error);
        if (!ad) return refuse(error);
        for (const std::string& line : orbad::describeAd(*ad)) say(line);
        return true;
    }

    // The creative view of the model in a stand-in engine view of the given size, on a window of
    // that size; the main loop turns (its clock moving) until the view has answered.
    bool creative(const std::vector<Arg>& args) {
        constexpr const char* kUsage = "usage: creative FILE [WxH]";
        if (args.empty() || args.size() > 2) return refuse(kUsage);
        int width = 320, height = 50;
        if (args.size() == 2 && (std::sscanf(args[1].text.c_str(), "%dx%d", &width, &height) != 2 || width <= 0 ||
                                 height <= 0 || width > 4096 || height > 4096))
            return refuse(kUsage);
        std::string error;
        auto ad = readModel(args[0].text, error);
        if (!ad) return refuse(error);
        if (m_creative) m_creative->adsView().removeFromSuperview();
        m_window = std::make_shared<plat::ui::Window>(plat::ui::Rect{0, 0, double(width), double(height)});
        m_window->makeKeyAndVisible();
        auto engineView = std::make_shared<plat::ui::View>(plat::ui::Rect{0, 0, double(width), double(height)});
        m_window->addSubview(engineView);
        const plat::ui::Rect frame{0, 0, double(width), double(height)};
        if (dynamic_cast<orbad::OrbadBannerAd*>(ad.get()))
            m_creative = std::make_shared<orbad::OrbadBannerAdView>(frame);
        else if (dynamic_cast<orbad::OrbadTextAd*>(ad.get()))
            m_creative = std::make_shared<orbad::OrbadTextAdView>(frame);
        else if (dynamic_cast<orbad::OrbadWebAd*>(ad.get()))
            m_richMedia.setView(std::static_pointer_cast<orbad::OrbadRichMediaWebAdView>(
                m_creative = std::make_shared<orbad::OrbadRichMediaWebAdView>(frame)));
        else
            return refuse(std::string("no creative view for ") + ad->className());
        m_host = std::make_shared<StandInHost>();
        m_host->size = frame.size();
        m_host->engineView = engineView;
        m_creative->setMainAdView(m_host);
        engineView->addSubview(std::dynamic_pointer_cast<plat::ui::View>(m_creative));
        m_creative->loadWithAd(ad);
        RunLoop& loop = RunLoop::main();
        const double start = Clock::monotonicSeconds();
        while (!m_host->outcome && Clock::monotonicSeconds() - start < 30) {
            dk::tools::turnWhileBusy(requestsInFlight, 1);
            loop.runOnce(0.05);
        }
        say(m_host->outcome.value_or("creative failed timeout"));
        return true;
    }

    bool screenshot(const std::vector<Arg>& args) {
        if (args.size() != 1) return refuse("usage: screenshot FILE.png");
        plat::ui::Application* application = plat::ui::Application::shared();
        if (!m_window || !application) return refuse("no creative shown");
        // The whole interface is drawn, one pixel a point, and the window's part of it kept.
        std::string error;
        const plat::ui::Rect interface = application->interfaceBounds();
        auto screen = Screen::create(int(interface.width), int(interface.height), &error);
        if (!screen) return refuse("no screen: " + error);
        if (!application->compositor().composite(*screen)) return refuse("nothing composited");
        const plat::ui::Rect frame = m_window->frame();
        if (!screen->write(args[0].text, int(frame.width), int(frame.height), &error))
            return refuse("cannot write " + args[0].text + ": " + error);
        say("screenshot " + escape(args[0].text));
        return true;
    }

    Settings m_settings;
    dk::tools::orbadcli::RichMediaCommands m_richMedia{m_settings.web == "wpe"};
    std::shared_ptr<plat::ui::Window> m_window;
    std::shared_ptr<orbad::OrbadAdsView> m_creative;
    std::shared_ptr<StandInHost> m_host;
    std::shared_ptr<CliDelegate> m_delegate = std::make_shared<CliDelegate>();
    dk::tools::orbadcli::ClientCommands m_client;
    dk::tools::orbadcli::BannerCommands m_banners{say};
    dk::tools::orbadcli::ActionCommands m_actions{[](const std::string& line) { say(line); }};
    dk::tools::orbadcli::FullscreenCommands m_fullscreen{
        [](const std::string& line) { say(line); },
        [this]() -> plat::ui::ViewController& { return m_banners.rootViewController(); }};
    dk::tools::orbadcli::MediaCommands m_media{[](const std::string& line) { say(line); }};
    dk::tools::orbadcli::DeviceCommands m_device{[](const std::string& line) { say(line); }};
};

}  // namespace

// Fontconfig (behind the alerts' text) keeps its configuration and caches for the life of the
// process, and so do GLib and WebKit (behind `--web wpe`); not ours to report in sanitizer builds.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libfontconfig.so\nleak:libglib-2.0.so\nleak:libgobject-2.0.so\nleak:libgio-2.0.so\n"
           "leak:libWPEWebKit-1.1.so\nleak:libwpe-1.0.so\nleak:libWPEBackend-fdo-1.0.so\n";
}

// Quietly: tests read the program's standard error.
extern "C" const char* __lsan_default_options() {
    return "print_suppressions=0";
}

int main(int argc, char** argv) {
    plat::sys::keepNewFilesPrivate();  // the home is the user's alone, the page engine's files too
    dk::tools::ToolOptions options;
    Settings settings;
    std::string device;
    const std::string why = dk::tools::parseToolOptions(
        argc, argv, options, [&](const std::string& option, const std::string& value, std::string& error) {
            if (option == "--pasteboards") {
                settings.pasteboards = value;
            } else if (option == "--device") {
                if (!plat::sys::findDevicePreset(value)) error = "unknown device preset " + value;
                device = value;
            } else if (option == "--net") {
                if (value != "wifi" && value != "wwan" && value != "none") error = "--net takes wifi, wwan or none";
                settings.net = value;
            } else if (option == "--web") {
                if (value != "wpe" && value != "fake" && value != "none") error = "--web takes wpe, fake or none";
                settings.web = value;
            } else {
                return false;
            }
            return true;
        });
    if (!why.empty()) return dk::tools::refuseCommandLine(kUsage, why);
    if (options.help) return dk::tools::printHelp(kUsage);
    settings.log = options.log;
    settings.seed = options.seed;
    settings.endpoints = options.endpoints;

    std::FILE* in = dk::tools::startTool("dk-orbad-cli", kDefaultIdentifier, options);
    if (!in) return 1;
    settings.startWall = options.startTime ? *options.startTime : Clock::wallSeconds() - Clock::process().now();
    if (!device.empty()) plat::sys::Device::current().setPreset(device);
    plat::net::setNetOverride(plat::net::parseNetOverride(settings.net));
    orbad::setStartWallTime(settings.startWall + Clock::process().now());
    if (!settings.pasteboards.empty()) plat::foundation::Pasteboard::setDirectory(settings.pasteboards);
    plat::web::useWebEngine(settings.web);
    for (const auto& [name, base] : settings.endpoints) {
        if (name == "orbad")
            for (const char* server : orbad::kOrbadServerNames) plat::net::setServerBaseOverride(server, base);
        else
            plat::net::setServerBaseOverride(name, base);
    }
    // The application the lifecycle and device notifications come from, the only one: every
    // command's screens show on it.
    plat::ui::Application application;
    // Happenings of the client, printed as they are posted.
    auto& center = plat::foundation::NotificationCenter::defaultCenter();
    std::vector<plat::foundation::Observation> heard;
    for (const char* name : {orbad::kOrbadDidFinishStarting, orbad::kOrbadConfigObserverKey,
                             orbad::kOBSessionRestartedNotification})
        heard.push_back(center.observe(name, nullptr, [](const plat::foundation::Notification& n) {
            say("notify " + n.name);
        }));

    Cli cli(std::move(settings));
    const int status = dk::tools::runCommands(in, [&](std::string_view line) { return cli.run(line); });
    if (in != stdin) std::fclose(in);
    dk::tools::turnWhileBusy(requestsInFlight, 10);
    heard.clear();
    orbad::OrbadController::shutdown();
    if (!OBCoreHTTPRequest::cancelAllAndWait(10))
        std::fprintf(stderr, "dk-orbad-cli: request threads still running at exit\n");
    orbad::OBResourcesController::shutdown();
    plat::media::closeMovieAudio();
    std::fflush(nullptr);
    return status;
}
