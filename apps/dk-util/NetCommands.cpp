// dk-util reachability and fetch: the monitor's statuses, and one URL load with a line for each
// callback it makes.
#include <cerrno>
#include <cstdlib>
#include <optional>

#include "apps/dk-util/UtilCommands.h"
#include "platform/crypto/Crypto.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/RunLoop.h"
#include "platform/net/URLLoading.h"
#include "platform/util/DKReachability.h"

namespace dkutil {

using plat::foundation::RunLoop;

namespace {

// "0x..." or decimal, 32 bits.
bool parseFlags(const std::string& text, std::uint32_t& flags) {
    const bool hex = text.starts_with("0x") || text.starts_with("0X");
    const std::string digits = hex ? text.substr(2) : text;
    if (digits.empty() ||
        digits.find_first_not_of(hex ? "0123456789abcdefABCDEF" : "0123456789") != std::string::npos)
        return false;
    errno = 0;
    const unsigned long long value = std::strtoull(digits.c_str(), nullptr, hex ? 16 : 10);
    if (errno != 0 || value > UINT32_MAX) return false;
    flags = static_cast<std::uint32_t>(value);
    return true;
}

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
    if (!r.startNotifier()) return utilFailed("the network cannot be watched");
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

plat::net::ConnectionHandlers printing(Load& load) {
    plat::net::ConnectionHandlers h;
    h.didReceiveResponse = [](const plat::net::Response& r) {
        outputLine("response %d %s %s", r.status, r.url.c_str(), where());
    };
    h.didReceiveData = [&load](const std::uint8_t* data, std::size_t size) {
        load.body.append(reinterpret_cast<const char*>(data), size);
        outputLine("data %zu %s", size, where());
    };
    h.didFinish = [&load] {
        outputLine("finished %zu %s %s", load.body.size(), sha1Hex(load.body).c_str(), where());
        end(load, true);
    };
    h.didFail = [&load](const plat::net::Error& error) {
        outputLine("failed %d %s %s", error.code, error.message.c_str(), where());
        end(load, false);
    };
    return h;
}

int fetchSynchronously(const plat::net::Request& request) {
    plat::net::SyncResult result = plat::net::sendSynchronous(request);
    if (result.response)
        outputLine("response %d %s %s", result.response->status, result.response->url.c_str(), where());
    if (!result.data.empty()) outputLine("data %zu %s", result.data.size(), where());
    if (result.error) {
        outputLine("failed %d %s %s", result.error->code, result.error->message.c_str(), where());
        return kFailed;
    }
    const std::string body(result.data.begin(), result.data.end());
    outputLine("finished %zu %s %s", body.size(), sha1Hex(body).c_str(), where());
    return kOk;
}

}  // namespace

int reachabilityCommand(const Args& a) {
    if (a.empty()) return utilUsage();
    bool local = false;
    std::optional<double> seconds;
    std::optional<std::uint32_t> flags;
    for (std::size_t i = 1; i < a.size(); ++i) {
        if (a[i] == "--local") {
            local = true;
        } else if (a[i] == "--seconds" && a[0] == "watch" && i + 1 < a.size() &&
                   parseSeconds(a[i + 1], seconds.emplace())) {
            ++i;
        } else if (a[0] == "flags" && !flags && parseFlags(a[i], flags.emplace())) {
        } else {
            return utilUsage();
        }
    }
    if (a[0] == "watch") return watch(local, seconds);
    if (a[0] != "flags" || !flags) return utilUsage();
    const DKNetworkStatus status = local ? DKReachability::localWiFiStatusForFlags(*flags)
                                         : DKReachability::networkStatusForFlags(*flags);
    outputLine("status %d", static_cast<int>(status));
    return kOk;
}

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
            return utilUsage();
        }
    }
    // A synchronous send cannot be cancelled.
    if (!url || (mode == "sync" && cancelAfter)) return utilUsage();
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

}  // namespace dkutil
