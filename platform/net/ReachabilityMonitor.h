// What the reachability classes of the player and the clients share: the targets their factories
// watch, the live-object registry their callbacks check, the notifier, and the status rules. Each
// class keeps its own names, notification and trace, and holds one of these.
#pragma once

#include <netinet/in.h>

#include <cstdint>
#include <optional>
#include <string_view>

#include "platform/net/Reachability.h"

namespace plat::net {

enum class NetworkStatus : int { NotReachable = 0, ReachableViaWiFi = 1, ReachableViaWWAN = 2 };

// Reachable over the cellular network, else Wi-Fi unless a connection is required that nothing
// makes by itself.
NetworkStatus networkStatusForFlags(std::uint32_t flags);
// Wi-Fi when reachable and direct.
NetworkStatus localWiFiStatusForFlags(std::uint32_t flags);

class ReachabilityMonitor {
public:
    // What a factory watches; nothing when no target can be made for its argument (an empty host
    // name, an address that is not IPv4). Host names and addresses other than 169.254.0.0 watch
    // the internet; only forLocalWiFi takes its status from localWiFiStatusForFlags.
    struct Spec {
        ReachabilityTarget target;
        bool localWiFi;
    };
    static std::optional<Spec> forHostName(std::string_view hostName);
    static std::optional<Spec> forAddress(const sockaddr_in& hostAddress);
    static Spec forInternetConnection();  // 0.0.0.0
    static Spec forLocalWiFi();           // 169.254.0.0

    // `owner` (the object holding this) is live as a `kind` (its class name, a literal) until
    // this is destroyed, and is what the notifier's callback is given.
    ReachabilityMonitor(Spec spec, void* owner, std::string_view kind);
    // Stops the notifier first.
    ~ReachabilityMonitor();
    ReachabilityMonitor(const ReachabilityMonitor&) = delete;
    ReachabilityMonitor& operator=(const ReachabilityMonitor&) = delete;

    bool localWiFi() const { return m_localWiFi; }

    // Watches on the calling thread's current run loop, calling `callback(flags, owner)` there at
    // each change; false when the watch cannot be set up.
    bool start(void (*callback)(std::uint32_t flags, void* info));
    void stop();

    // NotReachable when the flags cannot be read.
    NetworkStatus currentStatus() const;
    // False when the flags cannot be read.
    bool connectionRequired() const;

    // Whether a callback's `info` is a live owner of that kind; asserts so in debug builds.
    static bool checkContext(const void* info, std::string_view kind);

private:
    bool m_localWiFi;
    void* m_owner;
    std::string_view m_kind;
    Reachability m_reachability;
};

}  // namespace plat::net
