// dk-orbad-cli: the ad network client driven headless, one command a line, for tests and outside
// checks.
//
//   dk-orbad-cli --home DIR [--bundle DIR] [--pasteboards DIR] [--clock virtual|real]
//                [--start-time EPOCH] [--seed N] [--device-facts FILE] [--device PRESET]
//                [--endpoint NAME=VALUE]... [--net wifi|wwan|none] [--web wpe|fake|none] [--log]
//                [--commands FILE]
//   dk-orbad-cli --help         (the usage with every command)
//
// The commands, by area: the client's data routines (DataCommands.h), its network parts
// (NetCommands.h), its start and what it reads of the device (SetupCommands.h), ad units, alerts,
// instrumentation and feedback (ClientCommands.h), ads as the engine shows them (CreativeCommands.h),
// the last rich-media view's page (RichMediaCommands.h) and device input (DeviceCommands.h), the
// media stand-ins' screens (MediaCommands.h), banners, actions and full-screen ads
// (BannerCommands.h, ActionCommands.h, FullscreenCommands.h); run, settle and time are every tool's.
//
// Commands come from FILE, else standard input. What happens prints as it happens; each command
// prints its own result lines. Texts are escaped (\\ \r \n \t, other controls \xHH); `json` results
// print as the client writes them. Exit status 0 after an orderly shutdown; 1 when the container
// cannot be made or the command file read; 2 for a bad command line, or when a command was refused
// ("error ...").
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "apps/cli-support/CommandLine.h"
#include "apps/cli-support/CommandTable.h"
#include "apps/dk-orbad-cli/ActionCommands.h"
#include "apps/dk-orbad-cli/BannerCommands.h"
#include "apps/dk-orbad-cli/ClientCommands.h"
#include "apps/dk-orbad-cli/CreativeCommands.h"
#include "apps/dk-orbad-cli/DataCommands.h"
#include "apps/dk-orbad-cli/DeviceCommands.h"
#include "apps/dk-orbad-cli/FullscreenCommands.h"
#include "apps/dk-orbad-cli/MediaCommands.h"
#include "apps/dk-orbad-cli/NetCommands.h"
#include "apps/dk-orbad-cli/RichMediaCommands.h"
#include "apps/dk-orbad-cli/SetupCommands.h"
#include "orbad/core/OBConfig.h"
#include "orbad/core/OBResourcesController.h"
#include "orbad/core/OBSessionTracking.h"
#include "orbad/core/OrbadController.h"
#include "orbad/core/OrbadHelper.h"
#include "orbad/core/http/OBHTTPRequest.h"
#include "orbad/Orbad.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/Pasteboard.h"
#include "platform/media/MoviePlayer.h"
#include "platform/net/Reachability.h"
#include "platform/net/Servers.h"
#include "platform/sys/Device.h"
#include "platform/sys/FileModes.h"
#include "platform/ui/Application.h"
#include "platform/web/PageEngine.h"
#include "orbad/ads/OrbadRichMediaWebAdView.h"

namespace dk::tools::orbadcli {
namespace {

using plat::foundation::Clock;

constexpr const char* kDefaultIdentifier = "com.drovik.orbad-cli";

constexpr const char* kSynopsis =
    "usage: dk-orbad-cli --home DIR [--bundle DIR] [--pasteboards DIR] [--clock virtual|real]\n"
    "         [--start-time EPOCH] [--seed N] [--device-facts FILE] [--device PRESET]\n"
    "         [--endpoint NAME=VALUE]... [--net wifi|wwan|none] [--web wpe|fake|none] [--log]\n"
    "         [--commands FILE]\n";

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

// The areas' state, made when the commands start and gone when they end.
struct Areas {
    explicit Areas(const Settings& settings) : richMedia(settings.web == "wpe"), client(say, settings.seed) {
        // The device input goes to the same rich-media view as the page commands.
        richMedia.setViewHook([this](const std::shared_ptr<orbad::OrbadRichMediaWebAdView>& view) { device.setView(view); });
    }
    RichMediaCommands richMedia;
    CreativeCommands creative{say, richMedia};
    NetCommands net{say};
    DataCommands data{say};
    SetupCommands setup{say};
    ClientCommands client;
    BannerCommands banners{say};
    ActionCommands actions{say};
    FullscreenCommands fullscreen{say, [this]() -> plat::ui::ViewController& { return banners.rootViewController(); }};
    MediaCommands media{say};
    DeviceCommands device{say};
};

// Every command in one table, made before the areas: --help reads it without them.
class Tool {
public:
    explicit Tool(Settings settings) : m_settings(std::move(settings)) {
        // No virtual time passes while a request is in flight, for up to 10 s of real time at each
        // step of the clock: the main loop holds a virtual clock so for any work under way (a
        // request is), so a silent server holds the run no longer than that, rather than until its
        // time-out.
        addSharedCommands(m_table,
                          {requestsInFlight, "no request is in flight",
                           "the clock, none passing while a request is in flight (up to 10 s of real time at each step "
                           "of the clock)",
                           [this] {
                               char out[64];
                               std::snprintf(out, sizeof out, "time %.3f", m_settings.startWall + Clock::process().now());
                               return std::string(out);
                           },
                           "the tool's wall time", [this] { m_areas->client.noticeScreen(); }});
        add<DataCommands>([](Areas& a) -> DataCommands& { return a.data; });
        add<NetCommands>([](Areas& a) -> NetCommands& { return a.net; });
        add<SetupCommands>([](Areas& a) -> SetupCommands& { return a.setup; });
        add<ClientCommands>([](Areas& a) -> ClientCommands& { return a.client; });
        add<CreativeCommands>([](Areas& a) -> CreativeCommands& { return a.creative; });
        add<RichMediaCommands>([](Areas& a) -> RichMediaCommands& { return a.richMedia; });
        add<BannerCommands>([](Areas& a) -> BannerCommands& { return a.banners; });
        add<ActionCommands>([](Areas& a) -> ActionCommands& { return a.actions; });
        add<FullscreenCommands>([](Areas& a) -> FullscreenCommands& { return a.fullscreen; });
        add<MediaCommands>([](Areas& a) -> MediaCommands& { return a.media; });
        add<DeviceCommands>([](Areas& a) -> DeviceCommands& { return a.device; });
    }

    std::string help() const { return m_table.help(); }

    // Runs the command lines of `in`. What came up on screen during a command follows its lines.
    int run(std::FILE* in) {
        m_areas = std::make_unique<Areas>(m_settings);
        const int status = runCommands(in, [this](std::string_view line) {
            const bool accepted = m_table.run(line);
            m_areas->client.noticeScreen();
            return accepted;
        });
        m_areas.reset();
        return status;
    }

private:
    template <class Area>
    void add(Area& (*area)(Areas&)) {
        addArea<Area>(m_table, Area::commands(), [this, area]() -> Area& { return area(*m_areas); });
    }

    Settings m_settings;
    CommandTable m_table{say};
    std::unique_ptr<Areas> m_areas;
};

Usage usage() {
    static const std::string commands =
        "\n"
        "--web: the page engine behind the ads' web views, WPE WebKit (wpe, the default), the tests'\n"
        "  scripted one (fake), or none (a web view shows its address)\n"
        "\n"
        "Commands, one a line from FILE or standard input (# comments); happenings print as they come:\n" +
        Tool(Settings{}).help() +
        "Exit status 0 after an orderly shutdown; 1 when the container or the command file cannot be\n"
        "had; 2 for a bad command line or a refused command (\"error ...\").\n";
    return {"dk-orbad-cli", kSynopsis, commands.c_str()};
}

}  // namespace
}  // namespace dk::tools::orbadcli

using namespace dk::tools::orbadcli;
using plat::foundation::Clock;
using orbad::OBCoreHTTPRequest;

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
        argc, argv, options,
        {{"--pasteboards", "--device", "--net", "--web"},
         [&](const std::string& option, const std::string& value, std::string& error) {
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
            }
         }});
    if (!why.empty()) return dk::tools::refuseCommandLine({"dk-orbad-cli", kSynopsis, ""}, why);
    if (options.help) return dk::tools::printHelp(usage());
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

    const int status = Tool(std::move(settings)).run(in);
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
