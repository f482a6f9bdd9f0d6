// dk-kiosk-cli's command mode: the content-ads client driven headless, one command a line.
#include "apps/dk-kiosk-cli/CommandMode.h"

#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "apps/cli-support/CommandLine.h"
#include "apps/cli-support/CommandTable.h"
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
using dk::tools::Call;
using dk::tools::escape;
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

// The command mode's own commands; the units' and the content requests' are in their areas.
class Cli {
public:
    static const std::vector<dk::tools::AreaCommand<Cli>>& commands();

    UnitCommands& units() { return m_units; }
    ContentCommands& content() { return m_content; }

private:
    static bool refuse(const std::string& why) {
        say("error " + why);
        return false;
    }

    bool optout(Call& call) {
        const std::vector<Arg>& args = call.args;
        if (args.size() != 1 || (args[0].text != "0" && args[0].text != "1")) return refuse("usage: optout 0|1");
        KSAPIRequest::setOptOutStatus(args[0].text == "1");
        say("ok");
        return true;
    }

    bool session(Call& call) {
        if (!call.args.empty()) return refuse("unknown command: session");
        say("session=" + escape(KSAPIRequest::session()));
        return true;
    }

    bool gid(Call& call) {
        if (!call.args.empty()) return refuse("unknown command: gid");
        say(KSGID());
        return true;
    }

    bool requests(Call& call) {
        if (!call.args.empty()) return refuse("unknown command: requests");
        std::string line;
        for (const auto& request : KSAPIRequest::allRequests())
            line += (line.empty() ? "" : " ") + std::string(request->className());
        say(line.empty() ? "none" : line);
        return true;
    }

    bool rotate(Call& call) {
        const std::vector<Arg>& args = call.args;
        long long orientation;
        if (args.size() != 1 || !parseInt(args[0].text, orientation) || orientation < 0 || orientation > 6)
            return refuse("usage: rotate N");
        plat::sys::Device::current().setOrientation(static_cast<int>(orientation));
        say("ok");
        return true;
    }

    bool statusBar(Call& call) {
        const std::vector<Arg>& args = call.args;
        if (args.size() != 1 || (args[0].text != "0" && args[0].text != "1")) return refuse("usage: status-bar 0|1");
        plat::ui::setStatusBarHidden(args[0].text == "0");
        say("ok");
        return true;
    }

    bool loader(Call& call) {
        const std::vector<Arg>& args = call.args;
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

    bool defaults(Call& call) {

        const std::vector<Arg>& args = call.args;
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

    bool cache(Call& call) {

        const std::vector<Arg>& args = call.args;
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

    bool udid(Call& call) {

        const std::vector<Arg>& args = call.args;
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

    bool pasteboard(Call& call) {

        const std::vector<Arg>& args = call.args;
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

    bool open(Call& call) {

        const std::vector<Arg>& args = call.args;
        if (args.size() < 2 || args.size() > 3) return refuse("usage: open TOKEN SECRET [CUSTOM_UDID]");
        auto request = KSPublisherOpenRequest::requestForApp(args[0].text, args[1].text);
        if (args.size() == 3) request->setCustomUDID(args[2].text);
        request->setDelegate(&m_happenings);
        say("sent");
        request->send();
        return true;
    }

    bool timeInGame(Call& call) {

        const std::vector<Arg>& args = call.args;
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
    bool app(Call& call) {
        const std::vector<Arg>& args = call.args;
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
    ContentCommands m_content{say};
    UnitCommands m_units{say};
};

const std::vector<dk::tools::AreaCommand<Cli>>& Cli::commands() {
    static const std::vector<dk::tools::AreaCommand<Cli>> table = {
        {"defaults", {"defaults get KEY | defaults set KEY JSON | defaults remove KEY"}, &Cli::defaults},
        {"cache",
         {"cache install [MEMORY DISK] | cache get URL [POLICY] | cache has URL | cache remove URL",
          "cache clear | cache maintain | cache usage"},
         &Cli::cache},
        {"udid", {"udid | udid optout 0|1"}, &Cli::udid},
        {"pasteboard",
         {"pasteboard put NAME TYPE JSON | pasteboard get NAME TYPE | pasteboard string NAME",
          "pasteboard names"},
         &Cli::pasteboard},
        {"open", {"open TOKEN SECRET [CUSTOM_UDID]"}, &Cli::open},
        {"optout", {"optout 0|1"}, &Cli::optout},
        {"session", {"session"}, &Cli::session},
        {"gid", {"gid"}, &Cli::gid},
        {"requests", {"requests"}, &Cli::requests},
        {"timeingame", {"timeingame [start|stop|restart|reset]"}, &Cli::timeInGame},
        {"app", {"app background|foreground|active|terminate"}, &Cli::app},
        {"rotate", {"rotate N"}, &Cli::rotate},
        {"status-bar", {"status-bar 0|1"}, &Cli::statusBar},
        {"loader", {"loader open|ping URL"}, &Cli::loader},
    };
    return table;
}

// The table of every command, made before the tool's areas: --help reads it without them.
class Tool {
public:
    dk::tools::CommandTable table{say};

    Tool() {
        dk::tools::addSharedCommands(
            table, {[] { return Clock::process().hasWorkInFlight(); }, "the client's work is done",
                    "the clock, none passing while the client works (up to 10 s of real time at each step of the clock)",
                    [] {
                        char out[64];
                        std::snprintf(out, sizeof out, "time %.3f", wallNow());
                        return std::string(out);
                    },
                    "the tool's wall time", {}});
        dk::tools::addArea<Cli>(table, Cli::commands(), [this]() -> Cli& { return *m_cli; });
        dk::tools::addArea<UnitCommands>(table, UnitCommands::commands(),
                                         [this]() -> UnitCommands& { return m_cli->units(); });
        dk::tools::addArea<ContentCommands>(table, ContentCommands::commands(),
                                            [this]() -> ContentCommands& { return m_cli->content(); });
    }

    // Runs the command lines of `in`, the areas made first and gone after.
    int run(std::FILE* in) {
        m_cli = std::make_unique<Cli>();
        const int status = dk::tools::runCommands(in, [this](std::string_view line) { return table.run(line); });
        m_cli.reset();
        return status;
    }

private:
    std::unique_ptr<Cli> m_cli;
};

}  // namespace

const dk::tools::Usage& kioskUsage() {
    static const char* const kSynopsis =
        "usage: dk-kiosk-cli json parse [--max-depth N]\n"
        "       dk-kiosk-cli json write [--human-readable] [--sort-keys] [--max-depth N]\n"
        "       dk-kiosk-cli util NAME ARG...\n"
        "       dk-kiosk-cli --home DIR [--bundle DIR] [--pasteboards DIR] [--clock virtual|real]\n"
        "         [--start-time EPOCH] [--seed N] [--device-facts FILE] [--device PRESET]\n"
        "         [--endpoint NAME=VALUE]... [--net wifi|wwan|none] [--web wpe|fake|none] [--log]\n"
        "         [--commands FILE]\n";
    static const char* const kModes =
        "\n"
        "--web: the page engine behind the units' web views, WPE WebKit (wpe, the default), the\n"
        "  tests' scripted one (fake), or none (a web view shows its address)\n"
        "\n"
        "util NAME: sha1-hex T, sha1-b64 T, base64 T, hex T, uuid, url-encode T, url-decode T,\n"
        "  form-encode T, form-decode T, query-read T, query-string-read T, query-write JSON,\n"
        "  query-with JSON, query-quirky JSON, html-escape T, agnostic JSON\n"
        "\n"
        "With --home, commands one a line from FILE or standard input (# comments):\n";
    static const std::string commands = std::string(kModes) + Tool().table.help() +
        "Exit status 0; 1 when the container or the command file cannot be had (json: a value that\n"
        "does not parse or write); 2 for a bad command line or a refused command (\"error ...\").\n";
    static const dk::tools::Usage usage = {"dk-kiosk-cli", kSynopsis, commands.c_str()};
    return usage;
}

int runCommandMode(int argc, char** argv) {
    dk::tools::ToolOptions options;
    std::string device, pasteboards, web = "wpe";
    const std::string why = dk::tools::parseToolOptions(
        argc, argv, options,
        {{"--pasteboards", "--device", "--net", "--web"},
         [&](const std::string& option, const std::string& value, std::string& error) {
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
            }
         }});
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

    const int status = Tool().run(in);
    if (in != stdin) std::fclose(in);
    plat::web::useWebEngine("none");
    plat::net::URLCache::setShared(nullptr);
    std::fflush(nullptr);
    return status;
}

}  // namespace dk::tools::kioskcli
