// dk-util reachability and fetch: the monitor's statuses, and one URL load with a line for each
// callback it makes.
#include <optional>

#include "apps/dk-util/UtilCommands.h"
#include "platform/crypto/Crypto.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/RunLoop.h"
#include "platform/net/URLLoading.h"
#include "platform/util/DKReachability.h"

namespace dk::tools::util {

using plat::foundation::RunLoop;

namespace {

int watch(bool local, std::optional<double> seconds) {
    std::unique_ptr<DKReachability> reachability = local
                                                       ? DKReachability::reachabilityForLocalWiFi()
                                                       : DKReachability::reachabilityForInternetConnection();
    DKReachability& r = *reachability;
    outputLine("status %d", static_cast<int>(r.currentReachabilityStatus()));
    plat::foundation::Observation observation = plat::foundation::NotificationCenter::defaultCenter().observe(
        DKNetworkReachabilityChangedNotification, &r, [&r](const plat::foundation::Notification&) {
            outputLine("status %d", static_cast<int>(r.currentReachabilityStatus()));
        });
    if (!r.startNotifier()) return failed("the network cannot be watched");
    if (seconds) {
        RunLoop::main().runFor(*seconds);
    } else {
        RunLoop::main().run();
    }
    return kOk;
}

const char* where() {
    return RunLoop::main().isCurrentThread() ? "main" : "thread";
}

std::string sha1Hex(const std::string& body) {
    std::optional<plat::crypto::Bytes> digest = plat::crypto::sha1(body);
    return digest ? plat::crypto::hex(*digest) : std::string();
}

// What a load has done. `body` and `ended` belong to the loop the load runs on; `done` and
// `finished` to the main loop, which waits.
struct Load {
    std::string body;
    bool ended = false;
    bool done = false;
    bool finished = false;
};

void end(Load& load, bool finished) {
    load.ended = true;
    RunLoop::main().perform([&load, finished] {
        load.finished = finished;
        load.done = true;
    });
}

// One line a callback; the synchronous form prints the same lines for what it gathered.
void printResponse(const plat::net::Response& r) {
    outputLine("response %d %s %s", r.status, r.url.c_str(), where());
}

void printData(std::size_t size) {
    outputLine("data %zu %s", size, where());
}

void printFinished(const std::string& body) {
    outputLine("finished %zu %s %s", body.size(), sha1Hex(body).c_str(), where());
}

void printFailed(const plat::net::Error& error) {
    outputLine("failed %d %s %s", error.code, error.message.c_str(), where());
}

plat::net::ConnectionHandlers printing(Load& load) {
    plat::net::ConnectionHandlers h;
    h.didReceiveResponse = printResponse;
    h.didReceiveData = [&load](const std::uint8_t* data, std::size_t size) {
        load.body.append(reinterpret_cast<const char*>(data), size);
        printData(size);
    };
    h.didFinish = [&load] {
        printFinished(load.body);
        end(load, true);
    };
    h.didFail = [&load](const plat::net::Error& error) {
        printFailed(error);
        end(load, false);
    };
    return h;
}

int fetchSynchronously(const plat::net::Request& request) {
    plat::net::SyncResult result = plat::net::sendSynchronous(request);
    if (result.response) printResponse(*result.response);
    if (!result.data.empty()) printData(result.data.size());
    if (result.error) {
        printFailed(*result.error);
        return kFailed;
    }
    printFinished(std::string(result.data.begin(), result.data.end()));
    return kOk;
}

}  // namespace

int reachabilityCommand(const Args& a) {
    if (a.empty()) return usage("reachability takes flags FLAGS [--local] or watch [--local] [--seconds S]");
    bool local = false;
    std::optional<double> seconds;
    std::optional<std::uint32_t> flags;
    for (std::size_t i = 1; i < a.size(); ++i) {
        if (a[i] == "--local") {
            local = true;
        } else if (a[i] == "--seconds" && a[0] == "watch" && i + 1 < a.size() &&
                   parseSeconds(a[i + 1], seconds.emplace())) {
            ++i;
        } else if (a[0] == "flags" && !flags && parseUnsigned(a[i], flags.emplace(), true)) {
        } else {
            return usage("reachability: cannot read \"" + a[i] + "\"");
        }
    }
    if (a[0] == "watch") return watch(local, seconds);
    if (a[0] != "flags") return usage("reachability: no subcommand \"" + a[0] + "\" (flags or watch)");
    if (!flags) return usage("reachability flags takes FLAGS");
    const DKNetworkStatus status = local ? DKReachability::localWiFiStatusForFlags(*flags)
                                         : DKReachability::networkStatusForFlags(*flags);
    outputLine("status %d", static_cast<int>(status));
    return kOk;
}

namespace {

// What is wrong with fetch's argument `word`, followed by `value` (null at the end of the line).
std::string fetchRefusal(const std::string& word, const std::string* value) {
    static const std::pair<const char*, const char*> kTakes[] = {
        {"--mode", "async, sync or thread"},       {"--method", "a method"},
        {"--data", "a text"},                      {"--header", "\"NAME: VALUE\""},
        {"--timeout", "seconds"},                  {"--cancel-after", "seconds"}};
    for (const auto& [option, takes] : kTakes) {
        if (word != option) continue;
        if (!value) return "fetch: missing value for " + word;
        return "fetch: " + word + " takes " + takes + ", not \"" + *value + "\"";
    }
    if (word.starts_with("--")) return "fetch: unknown option " + word;
    return "fetch: one URL only, not also \"" + word + "\"";
}

}  // namespace

int fetchCommand(const Args& a) {
    std::string mode = "async";
    std::optional<double> cancelAfter;
    plat::net::Request request;
    std::optional<std::string> url;
    for (std::size_t i = 0; i < a.size(); ++i) {
        const bool valued = i + 1 < a.size();
        if (a[i] == "--mode" && valued &&
            (a[i + 1] == "async" || a[i + 1] == "sync" || a[i + 1] == "thread")) {
            mode = a[++i];
        } else if (a[i] == "--method" && valued && !a[i + 1].empty()) {
            request.method = a[++i];
        } else if (a[i] == "--data" && valued) {
            request.setBody(a[++i]);
            if (request.method.empty()) request.method = "POST";
        } else if (a[i] == "--header" && valued && a[i + 1].find(':') != std::string::npos &&
                   a[i + 1][0] != ':') {
            const std::string& field = a[++i];
            const std::size_t colon = field.find(':');
            const std::size_t value = field.find_first_not_of(" \t", colon + 1);
            request.headers.emplace_back(field.substr(0, colon),
                                         value == std::string::npos ? "" : field.substr(value));
        } else if (a[i] == "--timeout" && valued && parseSeconds(a[i + 1], request.timeout)) {
            ++i;
        } else if (a[i] == "--cancel-after" && valued && parseSeconds(a[i + 1], cancelAfter.emplace())) {
            ++i;
        } else if (!a[i].starts_with("--") && !url) {
            url = a[i];
        } else {
            return usage(fetchRefusal(a[i], valued ? &a[i + 1] : nullptr));
        }
    }
    if (!url) return usage("fetch needs a URL");
    // A synchronous send cannot be cancelled.
    if (mode == "sync" && cancelAfter) return usage("fetch: --cancel-after cannot cancel --mode sync");
    request.url = *url;
    if (mode == "sync") return fetchSynchronously(request);

    RunLoop& main = RunLoop::main();
    RunLoop& loop = mode == "thread" ? plat::net::networkLoop() : main;
    Load load;
    plat::net::Connection connection = plat::net::Connection::start(request, printing(load), &loop);
    plat::foundation::Timer cancelling;
    if (cancelAfter) {
        cancelling = main.addTimer(*cancelAfter, [&] {
            // On the load's own loop, so that nothing can be called after the line.
            bool cancelled = false;
            loop.performAndWait([&] {
                if (load.ended) return;
                connection.cancel();
                load.ended = cancelled = true;
                outputLine("cancelled");
            });
            if (cancelled) {
                load.done = true;
                main.stop();  // a timer alone does not end a turn
            }
        });
    }
    while (!load.done) main.runOnce(3600);
    return load.finished ? kOk : kFailed;
}

}  // namespace dk::tools::util
