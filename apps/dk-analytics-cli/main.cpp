// dk-analytics-cli: the analytics clients driven headless, one command a line, for tests and
// outside checks.
//
//   dk-analytics-cli --home DIR [--bundle DIR] [--clock virtual|real] [--start-time EPOCH] [--seed N]
//                    [--device-facts FILE] [--endpoint NAME=URL]... [--log] [--commands FILE]
//
// Commands come from FILE, else standard input; each runs to its end and prints one result line
// (flushed) before the next line is read. Exit status 0; 1 when the container cannot be made or
// the command file read; 2 for a bad command line, or when a command line was refused ("error ...").
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "analytics/trackwell/TrackwellDatabase.h"
#include "analytics/trackwell/TrackwellEnvironment.h"
#include "analytics/trackwell/UploaderThread.h"
#include "apps/cli-support/CommandLine.h"
#include "platform/foundation/Bundle.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/Container.h"
#include "platform/foundation/DeviceFactsFile.h"
#include "platform/foundation/RunLoop.h"
#include "platform/foundation/Value.h"
#include "platform/net/Servers.h"

namespace {

using plat::foundation::Clock;
using plat::foundation::RunLoop;
using plat::foundation::Value;

constexpr const char* kDefaultIdentifier = "com.drovik.analytics-cli";

int usage(const char* why) {
    std::fprintf(stderr,
                 "dk-analytics-cli: %s\n"
                 "usage: dk-analytics-cli --home DIR [--bundle DIR] [--clock virtual|real] [--start-time EPOCH]\n"
                 "         [--seed N] [--device-facts FILE] [--endpoint NAME=URL]... [--log] [--commands FILE]\n",
                 why);
    return 2;
}

using dk::cli::Arg;
using dk::cli::Line;
using dk::cli::parseDouble;
using dk::cli::parseInt;

class Cli {
public:
    int status = 0;

    // One result line for one command line.
    std::string run(std::string_view text) {
        Line line{text};
        std::string error;
        std::optional<Arg> command = line.next(error);
        if (!command) return "error " + error;
        if (command->quoted) return "error unknown command: " + std::string(text);
        const std::string& name = command->text;
        if (name == "store") return store(line);
        if (name == "uploader") return uploader(line);
        std::vector<Arg> args;
        while (std::optional<Arg> arg = line.next(error)) args.push_back(std::move(*arg));
        if (!error.empty()) return "error " + error;
        if (name == "run") {
            double seconds;
            if (args.size() != 1 || !parseDouble(args[0].text, seconds) || seconds < 0) return "error usage: run S";
            RunLoop::main().runFor(seconds);
            return "ok";
        }
        if (name == "settle") {
            double limit = 10;
            if (args.size() > 1 || (args.size() == 1 && (!parseDouble(args[0].text, limit) || limit < 0)))
                return "error usage: settle [MAX]";
            return settle(limit) ? "idle" : "busy";
        }
        if (name == "time") {
            if (!args.empty()) return "error usage: time";
            char out[64];
            std::snprintf(out, sizeof out, "%.3f", dk::trackwell::wallTime());
            return out;
        }
        return "error unknown command: " + name;
    }

private:
    static const char* okOrFail(bool ok) { return ok ? "ok" : "fail"; }

    static bool takeWord(Line& line, std::string& word) { return line.takeWord(word); }
    static std::string restOf(Line& line) { return line.restOf(); }

    std::string store(Line& line) {
        TrackwellDatabase& db = TrackwellDatabase::sharedTrackwellDatabase();
        std::string sub;
        if (!takeWord(line, sub)) return "error usage: store SUBCOMMAND";
        if (sub == "add") return okOrFail(db.addEventWithBlobString(restOf(line)));
        if (sub == "add-close") return okOrFail(db.addCloseEventWithBlobString(restOf(line)));
        if (sub == "add-flow") return okOrFail(db.addFlowEventWithBlobString(restOf(line)));
        if (sub == "header") {
            std::string word;
            long long n;
            if (!takeWord(line, word) || !parseInt(word, n)) return "error usage: store header N TEXT";
            return okOrFail(db.addHeaderWithSequenceNumber(static_cast<int>(n), restOf(line)));
        }
        std::string error;
        std::vector<Arg> args;
        while (std::optional<Arg> arg = line.next(error)) args.push_back(std::move(*arg));
        if (!error.empty()) return "error " + error;
        long long n;
        if (sub == "stage") {
            if (args.size() != 1 || !parseInt(args[0].text, n)) return "error usage: store stage N";
            return okOrFail(db.stageEventsForUpload(static_cast<int>(n)));
        }
        if (sub == "dim") {
            if (args.empty() || args.size() > 2 || !parseInt(args[0].text, n)) return "error usage: store dim SLOT [VALUE|null]";
            int slot = static_cast<int>(n);
            if (args.size() == 1) {
                std::optional<std::string> value = db.customDimension(slot);
                return value ? Value(*value).canonicalJSON() : "null";
            }
            if (args[1].object) return "error usage: store dim SLOT [VALUE|null]";
            if (!args[1].quoted && args[1].text == "null") return okOrFail(db.setCustomDimension(slot, std::nullopt));
            return okOrFail(db.setCustomDimension(slot, args[1].text));
        }
        if (!args.empty()) return "error usage: store " + sub;
        if (sub == "remove-last") return okOrFail(db.removeLastCloseAndFlowEvents());
        if (sub == "next-upload") {
            int next = 0;
            return db.getNextUploadNumber(next) ? std::to_string(next) : "fail";
        }
        if (sub == "count") return std::to_string(db.eventCount());
        if (sub == "unstaged") return std::to_string(db.unstagedEventCount());
        if (sub == "text") return db.uploadBlobString();
        if (sub == "delete-uploaded") return okOrFail(db.deleteUploadData());
        if (sub == "schema-version") return std::to_string(db.schemaVersion());
        return "error unknown command: store " + sub;
    }

    std::string uploader(Line& line) {
        std::string sub;
        if (!takeWord(line, sub) || !restOf(line).empty()) return "error usage: uploader start|state";
        UploaderThread& uploader = UploaderThread::sharedUploaderThread();
        if (sub == "start") {
            uploader.uploaderThreadwithApplicationKey("");
            return "ok";
        }
        if (sub == "state") return uploader.isUploading() ? "uploading" : "idle";
        return "error unknown command: uploader " + sub;
    }

    // Turns the main loop without moving a virtual clock until nothing is in flight.
    static bool busy() { return UploaderThread::sharedUploaderThread().isUploading(); }
    bool settle(double limit) {
        RunLoop& loop = RunLoop::main();
        const double start = Clock::monotonicSeconds();
        loop.runOnce(0);
        while (busy() && Clock::monotonicSeconds() - start < limit) {
            usleep(500);
            loop.runOnce(0);
        }
        return !busy();
    }
};

}  // namespace

int main(int argc, char** argv) {
    std::string home, bundlePath, clock = "virtual", commands, deviceFacts;
    std::optional<double> startTime;
    std::optional<long long> seed;
    bool log = false;
    std::vector<std::pair<std::string, std::string>> endpoints;

    for (int i = 1; i < argc; ++i) {
        std::string option = argv[i], value;
        if (option == "--log") {
            log = true;
            continue;
        }
        if (std::size_t eq = option.find('='); option.starts_with("--") && eq != std::string::npos) {
            value = option.substr(eq + 1);
            option.resize(eq);
        } else if (i + 1 < argc) {
            value = argv[++i];
        } else {
            return usage(("missing value for " + option).c_str());
        }
        if (option == "--home") {
            home = value;
        } else if (option == "--bundle") {
            bundlePath = value;
        } else if (option == "--clock") {
            if (value != "virtual" && value != "real") return usage("--clock takes virtual or real");
            clock = value;
        } else if (option == "--start-time") {
            double t;
            if (!parseDouble(value, t)) return usage("--start-time takes seconds since 1970");
            startTime = t;
        } else if (option == "--seed") {
            long long n;
            if (!parseInt(value, n)) return usage("--seed takes an integer");
            seed = n;
        } else if (option == "--device-facts") {
            deviceFacts = value;
        } else if (option == "--endpoint") {
            std::size_t eq = value.find('=');
            if (eq == std::string::npos || eq == 0 || eq + 1 == value.size()) return usage("--endpoint takes NAME=URL");
            endpoints.emplace_back(value.substr(0, eq), value.substr(eq + 1));
        } else if (option == "--commands") {
            commands = value;
        } else {
            return usage(("unknown option " + option).c_str());
        }
    }
    if (home.empty()) return usage("--home is required");

    if (clock == "virtual") Clock::process().startVirtualAt(0);
    std::string identifier = kDefaultIdentifier;
    if (!bundlePath.empty()) {
        plat::foundation::Error error;
        std::optional<plat::foundation::Bundle> bundle = plat::foundation::Bundle::open(bundlePath, &error);
        if (!bundle) {
            std::fprintf(stderr, "dk-analytics-cli: %s\n", error.message.c_str());
            return 1;
        }
        if (!bundle->identifier().empty()) identifier = bundle->identifier();
        plat::foundation::Bundle::setMain(std::move(*bundle));
    }
    plat::foundation::Error error;
    std::optional<plat::foundation::Container> container = plat::foundation::Container::open(identifier, home, &error);
    if (!container) {
        std::fprintf(stderr, "dk-analytics-cli: %s\n", error.message.c_str());
        return 1;
    }
    plat::foundation::Container::setMain(std::move(*container));
    if (startTime) dk::trackwell::setStartWallTime(*startTime);
    if (seed) dk::trackwell::seedRandom(static_cast<std::uint64_t>(*seed));
    if (!deviceFacts.empty()) plat::foundation::setDeviceFactsFile(deviceFacts);
    for (auto& [name, url] : endpoints) plat::net::setServerBaseOverride(name, url);
    if (log) {
        dk::trackwell::setLogHook([](std::string_view message) {
            std::fprintf(stderr, "trackwell: %.*s\n", static_cast<int>(message.size()), message.data());
            std::fflush(stderr);
        });
    }

    std::FILE* in = stdin;
    if (!commands.empty()) {
        in = std::fopen(commands.c_str(), "r");
        if (!in) {
            std::fprintf(stderr, "dk-analytics-cli: cannot read %s: %s\n", commands.c_str(), std::strerror(errno));
            return 1;
        }
    }
    Cli cli;
    cli.status = dk::cli::runCommands(in, [&](std::string_view line) {
        std::string result = cli.run(line);
        std::fprintf(stdout, "%s\n", result.c_str());
        return !result.starts_with("error ");
    });
    // Nothing more is called: what a client would do on its way out is not this tool's to do.
    std::fflush(nullptr);
    std::_Exit(cli.status);
}
