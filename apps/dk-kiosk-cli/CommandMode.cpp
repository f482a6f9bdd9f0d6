// dk-kiosk-cli's command mode: the content-ads client driven headless, one command a line.
#include "apps/dk-kiosk-cli/CommandMode.h"

#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "apps/cli-support/CommandLine.h"
#include "apps/dk-kiosk-cli/ContentCommands.h"
#include "apps/dk-kiosk-cli/UnitCommands.h"
#include "kiosk/KSAPIRequest.h"
#include "kiosk/KSPublisherOpenRequest.h"
#include "kiosk/KSTimeInGame.h"
#include "kiosk/KSURLLoader.h"
#include "kiosk/cache/SDURLCache.h"
#include "kiosk/udid/SharedUDID.h"
#include "platform/crypto/Crypto.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/Pasteboard.h"
#include "platform/foundation/PropertyList.h"
#include "platform/foundation/RunLoop.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/net/Reachability.h"
#include "platform/net/Servers.h"
#include "platform/net/URLLoading.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/sys/Device.h"
#include "platform/ui/Application.h"
#include "platform/ui/StatusBar.h"
#include "platform/sys/Random.h"
#include "platform/web/PageEngine.h"

namespace dk::tools::kioskcli {

namespace {

using dk::tools::Arg;
using dk::tools::escape;
using dk::tools::parseDouble;
using dk::tools::parseInt;
using plat::foundation::Clock;
using plat::foundation::Pasteboard;
using plat::foundation::RunLoop;
using plat::foundation::Value;

constexpr const char* kDefaultIdentifier = "com.drovik.kiosk-cli";

int usage(const std::string& why) {
    return dk::tools::refuseCommandLine(kioskUsage(), why);
}

void say(const std::string& line) {
    std::fprintf(stdout, "%s\n", line.c_str());
    std::fflush(stdout);
}

double g_startWall = 0;
double wallNow() { return g_startWall + Clock::process().now(); }

// A command's JSON argument: a quoted string or an object as decoded, a bare word as JSON text.
std::optional<Value> jsonArgument(const Arg& arg) {
    if (arg.object) return *arg.object;
    if (arg.quoted) return Value(arg.text);
    return Value::fromJSON(arg.text);
}

// The CLI is the delegate of the requests and loaders it makes: each call a happening.
class Happenings : public KSAPIRequestDelegate, public KSURLLoaderDelegate {
public:
    void requestDidSucceedWithResponse(KSAPIRequest& request, const KSJsonValue* response) override {
        say(std::string("delegate request:didSucceedWithResponse: ") + request.className() + " " +
            (response ? kiosk::agnosticText(response) : std::string("nil")));
    }
    void requestDidFailWithError(KSAPIRequest& request, const plat::foundation::Error& error) override {
        say(std::string("delegate request:didFailWithError: ") + request.className() + " " + error.domain + " " +
            std::to_string(error.code) + " " + escape(error.message));
    }
    void requestDidFinishLoading(KSAPIRequest& request) override {
        say(std::string("delegate requestDidFinishLoading: ") + request.className());
    }
    void loaderFinished(KSURLLoader& loader) override { say("delegate loaderFinished: " + escape(loader.targetURL())); }
    void loaderFailed(KSURLLoader& loader) override { say("delegate loaderFailed: " + escape(loader.targetURL())); }
};

class Cli {
public:
    bool run(std::string_view text) {
        std::string name, error;
        std::vector<Arg> args;
        if (!dk::tools::splitCommand(text, name, args, error)) return refuse(error);
        if (name == "run") return runFor(args);
        if (name == "settle") return settle(args);
        if (name == "time") {
            if (!args.empty()) return refuse("usage: time");
            char out[64];
            std::snprintf(out, sizeof out, "time %.3f", wallNow());
            say(out);
            return true;
        }
        if (std::string refusal; m_units.run(name, args, refusal)) return refusal.empty() || refuse(refusal);
        if (name == "defaults") return defaults(args);
        if (name == "cache") return cache(args);
        if (name == "udid") return udid(args);
        if (name == "pasteboard") return pasteboard(args);
        if (name == "open") return open(args);
        if (name == "optout") {
            if (args.size() != 1 || (args[0].text != "0" && args[0].text != "1")) return refuse("usage: optout 0|1");
            KSAPIRequest::setOptOutStatus(args[0].text == "1");
            say("ok");
            return true;
        }
        if (name == "session" && args.empty()) {
            say("session=" + escape(KSAPIRequest::session()));
            return true;
        }
        if (name == "gid" && args.empty()) {
            say(KSGID());
            return true;
        }
        if (name == "requests" && args.empty()) {
            std::string line;
            for (const auto& request : KSAPIRequest::allRequests())
                line += (line.empty() ? "" : " ") + std::string(request->className());
            say(line.empty() ? "none" : line);
            return true;
        }
        if (name == "timeingame") return timeInGame(args);
        if (name == "app") return app(args);
        if (name == "rotate") {
            long long orientation;
            if (args.size() != 1 || !parseInt(args[0].text, orientation) || orientation < 0 || orientation > 6)
                return refuse("usage: rotate N");
            plat::sys::Device::current().setOrientation(static_cast<int>(orientation));
            say("ok");
            return true;
        }
        if (name == "status-bar") {
            if (args.size() != 1 || (args[0].text != "0" && args[0].text != "1")) return refuse("usage: status-bar 0|1");
            plat::ui::setStatusBarHidden(args[0].text == "0");
            say("ok");
            return true;
        }
        if (bool ok; m_content.handles(name, args, ok)) return ok;
        if (name == "loader") {
            if (args.size() != 2 || (args[0].text != "open" && args[0].text != "ping"))
                return refuse("usage: loader open|ping URL");
            auto loader = KSURLLoader::create();
            loader->setTargetURL(args[1].text);
            loader->setOpensFinalURLOnDevice(args[0].text == "open");
            loader->setDelegate(&m_happenings);
            say("sent");
            loader->open();
            return true;
        }
        return refuse("unknown command: " + name);
    }

private:
    static bool refuse(const std::string& why) {
        say("error " + why);
        return false;
    }

    bool runFor(const std::vector<Arg>& args) {
        double seconds;
        if (args.size() != 1 || !parseDouble(args[0].text, seconds) || seconds < 0) return refuse("usage: run S");
        RunLoop::main().runFor(seconds);
        say("ok");
        return true;
    }

    bool busy() const { return Clock::process().hasWorkInFlight(); }

    bool settle(const std::vector<Arg>& args) {
        double limit = 10;
        if (args.size() > 1 || (args.size() == 1 && (!parseDouble(args[0].text, limit) || limit < 0)))
            return refuse("usage: settle [MAX]");
        say(dk::tools::turnWhileBusy([this] { return busy(); }, limit) ? "idle" : "busy");
        return true;
    }

    bool defaults(const std::vector<Arg>& args) {
        plat::foundation::UserDefaults* store = plat::foundation::UserDefaults::standard();
        if (args.size() == 2 && args[0].text == "get") {
            std::optional<Value> value = store->objectForKey(args[1].text);
            say(value ? value->canonicalJSON() : "none");
            return true;
        }
        if (args.size() == 3 && args[0].text == "set") {
            std::optional<Value> value = jsonArgument(args[2]);
            if (!value) return refuse("malformed JSON: " + args[2].text);
            if (!store->setObject(*value, args[1].text)) return refuse("not a property-list value");
            store->synchronize();
            say("ok");
            return true;
        }
        if (args.size() == 2 && args[0].text == "remove") {
            store->removeObjectForKey(args[1].text);
            store->synchronize();
            say("ok");
            return true;
        }
        return refuse("usage: defaults get KEY | set KEY JSON | remove KEY");
    }

    SDURLCache& installCache(std::size_t memory = 1048576, std::size_t disk = 10485760) {
        if (!m_cache) m_cache = std::dynamic_pointer_cast<SDURLCache>(plat::net::URLCache::shared());
        if (!m_cache) {
            m_cache = std::make_shared<SDURLCache>(memory, disk, SDURLCache::defaultCachePath(), &RunLoop::main(), wallNow);
            plat::net::URLCache::setShared(m_cache);
        }
        return *m_cache;
    }

    bool cache(const std::vector<Arg>& args) {
        const std::string sub = args.empty() ? "" : args[0].text;
        if (sub == "install" && (args.size() == 1 || args.size() == 3)) {
            long long memory = 1048576, disk = 10485760;
            if (args.size() == 3 && (!parseInt(args[1].text, memory) || !parseInt(args[2].text, disk) || memory < 0 ||
                                     disk < 0))
                return refuse("usage: cache install [MEMORY DISK]");
            if (m_cache) return refuse("cache already installed");
            installCache(static_cast<std::size_t>(memory), static_cast<std::size_t>(disk));
            say("ok");
            return true;
        }
        if (sub == "get" && (args.size() == 2 || args.size() == 3)) {
            long long policy = plat::net::kReturnCacheDataElseLoad;
            if (args.size() == 3 && (!parseInt(args[2].text, policy) || policy < 0 || policy > 5))
                return refuse("usage: cache get URL [POLICY]");
            installCache();
            return get(args[1].text, static_cast<int>(policy));
        }
        // What a command reads of the disk store waits for the writes queued before it.
        if (sub == "has" && args.size() == 2) {
            installCache().waitForIO();
            say(m_cache->isCached(args[1].text) ? "yes" : "no");
            return true;
        }
        if (sub == "remove" && args.size() == 2) {
            plat::net::Request request;
            request.url = args[1].text;
            installCache().removeCachedResponseForRequest(request);
            say("ok");
            return true;
        }
        if (sub == "clear" && args.size() == 1) {
            installCache().removeAllCachedResponses();
            say("ok");
            return true;
        }
        if (sub == "maintain" && args.size() == 1) {
            SDURLCache& cache = installCache();
            cache.periodicMaintenance();
            cache.waitForIO();
            say("ok");
            return true;
        }
        if (sub == "usage" && args.size() == 1) {
            SDURLCache& cache = installCache();
            cache.waitForIO();
            say("disk=" + std::to_string(cache.currentDiskUsage()) + " memory=" +
                std::to_string(cache.currentMemoryUsage()));
            return true;
        }
        return refuse(
            "usage: cache install [MEMORY DISK] | get URL [POLICY] | has URL | remove URL | clear | maintain | usage");
    }

    bool get(const std::string& url, int policy) {
        plat::net::Request request;
        request.url = url;
        request.cachePolicy = policy;
        std::optional<plat::net::Response> response;
        std::vector<std::uint8_t> body;
        std::optional<plat::net::Error> failure;
        bool done = false;
        plat::net::ConnectionHandlers handlers;
        handlers.didReceiveResponse = [&](const plat::net::Response& r) {
            response = r;
            if (!r.fromCache) say("http GET " + escape(url));
        };
        handlers.didReceiveData = [&](const std::uint8_t* data, std::size_t size) { body.insert(body.end(), data, data + size); };
        // A posted no-op ends the runOnce below: an answer from the cache comes from a timer,
        // which would not.
        handlers.didFinish = [&] {
            done = true;
            RunLoop::main().perform([] {});
        };
        handlers.didFail = [&](const plat::net::Error& error) {
            failure = error;
            done = true;
            RunLoop::main().perform([] {});
        };
        plat::net::Connection connection = plat::net::Connection::start(request, std::move(handlers), &RunLoop::main());
        while (!done) RunLoop::main().runOnce(3600);
        if (failure) {
            say("failed " + std::to_string(failure->code) + " " + escape(failure->message));
            return true;
        }
        const std::optional<plat::crypto::Bytes> digest = plat::crypto::digest(plat::crypto::Algorithm::SHA1, body.data(), body.size());
        say("status=" + std::to_string(response ? response->status : 0) + " bytes=" + std::to_string(body.size()) +
            " sha1=" + plat::crypto::hex(digest.value_or(plat::crypto::Bytes{})) +
            " source=" + (response && response->fromCache ? "cache" : "network"));
        return true;
    }

    bool udid(const std::vector<Arg>& args) {
        if (args.empty()) {
            plat::foundation::Error error;
            const std::string value = SharedUDID::valueWithError(&error);
            say(value + " " + std::to_string(error.code) + " " + escape(error.message));
            return true;
        }
        if (args.size() == 2 && args[0].text == "optout" && (args[1].text == "0" || args[1].text == "1")) {
            SharedUDID::setOptOut(args[1].text == "1");
            say("ok");
            return true;
        }
        return refuse("usage: udid | udid optout 0|1");
    }

    bool pasteboard(const std::vector<Arg>& args) {
        const std::string sub = args.empty() ? "" : args[0].text;
        if (sub == "put" && args.size() == 4) {
            std::optional<Value> value = jsonArgument(args[3]);
            std::optional<std::string> bytes =
                value ? plat::foundation::serializePropertyList(*value, plat::foundation::PropertyListFormat::Binary)
                      : std::nullopt;
            if (!bytes) return refuse("not a property-list JSON value: " + args[3].text);
            std::unique_ptr<Pasteboard> board = Pasteboard::named(args[1].text, true);
            if (!board) return refuse("cannot make pasteboard " + args[1].text);
            board->setPersistent(true);
            if (!board->setData(plat::foundation::Data(bytes->begin(), bytes->end()), args[2].text))
                return refuse("cannot write pasteboard " + args[1].text);
            say("ok");
            return true;
        }
        if (sub == "get" && args.size() == 3) {
            std::unique_ptr<Pasteboard> board = Pasteboard::named(args[1].text, false);
            std::optional<plat::foundation::Data> data = board ? board->dataForType(args[2].text) : std::nullopt;
            std::optional<Value> value =
                data ? plat::foundation::parsePropertyList(std::string_view(reinterpret_cast<const char*>(data->data()), data->size()))
                     : std::nullopt;
            say(value ? value->canonicalJSON() : "none");
            return true;
        }
        if (sub == "string" && args.size() == 2) {
            std::unique_ptr<Pasteboard> board = Pasteboard::named(args[1].text, false);
            std::optional<std::string> text = board ? board->string() : std::nullopt;
            say(text ? "text " + escape(*text) : "none");
            return true;
        }
        if (sub == "names" && args.size() == 1) {
            std::string line;
            for (const std::string& name : Pasteboard::names()) line += (line.empty() ? "" : " ") + escape(name);
            say(line.empty() ? "none" : line);
            return true;
        }
        return refuse("usage: pasteboard put NAME TYPE JSON | get NAME TYPE | string NAME | names");
    }

    bool open(const std::vector<Arg>& args) {
        if (args.size() < 2 || args.size() > 3) return refuse("usage: open TOKEN SECRET [CUSTOM_UDID]");
        auto request = KSPublisherOpenRequest::requestForApp(args[0].text, args[1].text);
        if (args.size() == 3) request->setCustomUDID(args[2].text);
        request->setDelegate(&m_happenings);
        say("sent");
        request->send();
        return true;
    }

    bool timeInGame(const std::vector<Arg>& args) {
        KSTimeInGame& time = KSTimeInGame::getInstance();
        if (args.empty()) {
            char out[128];
            std::snprintf(out, sizeof out, "count=%lld sum=%.3f current=%.3f",
                          static_cast<long long>(time.getCountSessions()), time.getSumSessionDuration(),
                          time.getCurrentSessionDuration());
            say(out);
            return true;
        }
        const std::string& sub = args[0].text;
        if (args.size() == 1 && sub == "start") time.gameSessionStarted();
        else if (args.size() == 1 && sub == "stop") time.gameSessionStopped();
        else if (args.size() == 1 && sub == "restart") time.gameSessionRestart();
        else if (args.size() == 1 && sub == "reset") time.resetCounters();
        else return refuse("usage: timeingame [start|stop|restart|reset]");
        say("ok");
        return true;
    }

    // The application's notifications, as the lifecycle posts them.
    bool app(const std::vector<Arg>& args) {
        static const std::pair<const char*, std::vector<const char*>> kEvents[] = {
            {"background", {plat::ui::kApplicationWillResignActiveNotification, plat::ui::kApplicationDidEnterBackgroundNotification}},
            {"foreground", {plat::ui::kApplicationWillEnterForegroundNotification}},
            {"active", {plat::ui::kApplicationDidBecomeActiveNotification}},
            {"terminate", {plat::ui::kApplicationWillTerminateNotification}},
        };
        for (const auto& [event, names] : kEvents) {
            if (args.size() != 1 || args[0].text != event) continue;
            for (const char* notification : names) plat::foundation::NotificationCenter::defaultCenter().post(notification);
            say("ok");
            return true;
        }
        return refuse("usage: app background|foreground|active|terminate");
    }

    std::shared_ptr<SDURLCache> m_cache;
    Happenings m_happenings;
    dk::tools::kioskcli::ContentCommands m_content{say};
    dk::tools::kioskcli::UnitCommands m_units{say};
};

}  // namespace

const dk::tools::Usage& kioskUsage() {
    static const dk::tools::Usage usage = {
        "dk-kiosk-cli",
        "usage: dk-kiosk-cli json parse [--max-depth N]\n"
        "       dk-kiosk-cli json write [--human-readable] [--sort-keys] [--max-depth N]\n"
        "       dk-kiosk-cli util NAME ARG...\n"
        "       dk-kiosk-cli --home DIR [--bundle DIR] [--pasteboards DIR] [--clock virtual|real]\n"
        "         [--start-time EPOCH] [--seed N] [--device-facts FILE] [--device PRESET]\n"
        "         [--endpoint NAME=VALUE]... [--net wifi|wwan|none] [--web wpe|fake|none] [--log]\n"
        "         [--commands FILE]\n",
        "\n"
        "--web: the page engine behind the units' web views, WPE WebKit (wpe, the default), the\n"
        "  tests' scripted one (fake), or none (a web view shows its address)\n"
        "\n"
        "util NAME: sha1-hex T, sha1-b64 T, base64 T, hex T, uuid, url-encode T, url-decode T,\n"
        "  form-encode T, form-decode T, query-read T, query-string-read T, query-write JSON,\n"
        "  query-with JSON, query-quirky JSON, html-escape T, agnostic JSON\n"
        "\n"
        "With --home, commands one a line from FILE or standard input (# comments):\n"
        "  run S                     S seconds of the clock, none passing while the client works\n"
        "                            (up to 10 s of real time at each step of the clock)\n"
        "  settle [MAX]              no clock moved: up to MAX real seconds (10) until the client's\n"
        "                            work is done -> idle | busy\n"
        "  time                      the tool's wall time\n"
        "  defaults get KEY | defaults set KEY JSON | defaults remove KEY\n"
        "  cache install [MEMORY DISK] | cache get URL [POLICY] | cache has URL | cache remove URL\n"
        "  cache clear | cache maintain | cache usage\n"
        "  udid | udid optout 0|1\n"
        "  pasteboard put NAME TYPE JSON | pasteboard get NAME TYPE | pasteboard string NAME\n"
        "  pasteboard names\n"
        "  open TOKEN SECRET [CUSTOM_UDID]\n"
        "  optout 0|1 | session | gid | requests\n"
        "  timeingame [start|stop|restart|reset]\n"
        "  app background|foreground|active|terminate\n"
        "  rotate N | status-bar 0|1\n"
        "  loader open|ping URL\n"
        "  unit show [ANIMATED] JSON | unit dismiss [0|1] | unit eval SCRIPT | unit frames\n"
        "  tap X Y | memory.warning | screenshot FILE.png\n"
        "  content request PLACEMENT TOKEN SECRET | content send|preload|cancel PLACEMENT\n"
        "  content state PLACEMENT | content overlay-now PLACEMENT 0|1 | content animated PLACEMENT 0|1\n"
        "  content omit OP[,OP...]\n"
        "  close-button | purchase resolve CODE\n"
        "  badge make TOKEN SECRET PLACEMENT | badge refresh|clear|test | badge size\n"
        "Exit status 0; 1 when the container or the command file cannot be had (json: a value that\n"
        "does not parse or write); 2 for a bad command line or a refused command (\"error ...\").\n",
    };
    return usage;
}

int runCommandMode(int argc, char** argv) {
    dk::tools::ToolOptions options;
    std::string device, pasteboards, web = "wpe";
    const std::string why = dk::tools::parseToolOptions(
        argc, argv, options, [&](const std::string& option, const std::string& value, std::string& error) {
            if (option == "--pasteboards") {
                pasteboards = value;
            } else if (option == "--device") {
                if (!plat::sys::findDevicePreset(value)) error = "unknown device preset " + value;
                device = value;
            } else if (option == "--net") {
                std::optional<plat::net::NetOverride> net = plat::net::parseNetOverride(value);
                if (!net) error = "--net takes wifi, wwan or none";
                plat::net::setNetOverride(net);
            } else if (option == "--web") {
                if (value != "wpe" && value != "fake" && value != "none") error = "--web takes wpe, fake or none";
                web = value;
            } else {
                return false;
            }
            return true;
        });
    if (!why.empty()) return usage(why);
    if (options.help) return dk::tools::printHelp(kioskUsage());
    if (options.seed) plat::sys::seedRandom(static_cast<std::uint64_t>(*options.seed));
    for (const auto& [name, base] : options.endpoints) plat::net::setServerBaseOverride(name, base);
    if (!pasteboards.empty()) Pasteboard::setDirectory(pasteboards);
    kiosk::setLogHook([log = options.log](std::string_view line) {
        if (log) say("log " + escape(line));
    });
    kiosk::setRequestHook([](const std::string& method, const std::string& url) { say("http " + method + " " + escape(url)); });
    KSURLLoader::setSystemOpener([](const std::string& url) {
        say("open " + escape(url));
        return true;
    });

    std::FILE* in = dk::tools::startTool("dk-kiosk-cli", kDefaultIdentifier, options);
    if (!in) return 1;
    g_startWall = options.startTime ? *options.startTime : Clock::wallSeconds() - Clock::process().now();
    SharedUDID::setWallClock(wallNow);
    kiosk::setWallClock(wallNow);
    if (!device.empty()) plat::sys::Device::current().setPreset(device);
    // The page engine's data lives in the container, so it starts after it.
    plat::web::useWebEngine(web);

    int status;
    {
        Cli cli;
        status = dk::tools::runCommands(in, [&](std::string_view line) { return cli.run(line); });
    }
    if (in != stdin) std::fclose(in);
    plat::web::useWebEngine("none");
    plat::net::URLCache::setShared(nullptr);
    std::fflush(nullptr);
    return status;
}

}  // namespace dk::tools::kioskcli
