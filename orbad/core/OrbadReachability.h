// Whether the network is reachable now, over Wi-Fi or the cellular network, for a host, an
// address, the internet or the local Wi-Fi link; and a notification each time that changes.
#pragma once

#include <netinet/in.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string_view>

#include "platform/net/ReachabilityMonitor.h"

namespace orbad {

inline constexpr const char* kNetworkReachabilityChangedNotification =
    "kNetworkReachabilityChangedNotification";

enum OrbadNetworkStatus : int { NotReachable = 0, ReachableViaWiFi = 1, ReachableViaWWAN = 2 };

class OrbadReachability {
public:
    // Null when no target can be made: an empty host name, an address that is not IPv4.
    static std::unique_ptr<OrbadReachability> reachabilityWithHostName(std::string_view hostName);
    static std::unique_ptr<OrbadReachability> reachabilityWithAddress(const sockaddr_in& hostAddress);
    // 0.0.0.0.
    static std::unique_ptr<OrbadReachability> reachabilityForInternetConnection();
    // 169.254.0.0, its status by the local Wi-Fi rule.
    static std::unique_ptr<OrbadReachability> reachabilityForLocalWiFi();

    ~OrbadReachability();
    OrbadReachability(const OrbadReachability&) = delete;
    OrbadReachability& operator=(const OrbadReachability&) = delete;

    bool localWiFiRef() const { return m_monitor.localWiFi(); }

    // Watches on the calling thread's current run loop, which then posts
    // kNetworkReachabilityChangedNotification (this object as sender) at each change of the flags,
    // the network override's changes included. False when the watch cannot be set up.
    bool startNotifier();
    void stopNotifier();

    // NotReachable when the flags cannot be read.
    OrbadNetworkStatus currentReachabilityStatus() const;
    // False when the flags cannot be read.
    bool connectionRequired() const;

    static OrbadNetworkStatus localWiFiStatusForFlags(std::uint32_t flags);
    static OrbadNetworkStatus networkStatusForFlags(std::uint32_t flags);

private:
    explicit OrbadReachability(plat::net::ReachabilityMonitor::Spec spec);
    static std::unique_ptr<OrbadReachability> make(std::optional<plat::net::ReachabilityMonitor::Spec> spec);

    plat::net::ReachabilityMonitor m_monitor;
};

// The watch's callback; `info` must be the OrbadReachability that watches.
void OrbadReachabilityCallback(std::uint32_t flags, void* info);

}  // namespace orbad
