// A network reachability monitor that posts DKNetworkReachabilityChangedNotification, with the
// monitor as sender (class "DKReachability"), on the run loop that started it whenever the network
// state changes, tracing "net status N". It is a plat::net::ReachabilityMonitor, sharing the
// factories' targets, the live-object registry and the status rules with the ad client's.
#pragma once

#include <netinet/in.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string_view>

#include "platform/net/ReachabilityMonitor.h"

inline constexpr const char* DKNetworkReachabilityChangedNotification =
    "DKNetworkReachabilityChangedNotification";

enum DKNetworkStatus : int {
    DKNotReachable = 0,
    DKReachableViaWiFi = 1,
    DKReachableViaWWAN = 2,
};

class DKReachability {
public:
    // Each null when no target can be made for the argument (an empty host name, an address that
    // is not IPv4). Host names and addresses other than 169.254.0.0 watch the internet.
    static std::unique_ptr<DKReachability> reachabilityWithHostName(std::string_view hostName);
    static std::unique_ptr<DKReachability> reachabilityWithAddress(const sockaddr_in& hostAddress);
    // 0.0.0.0.
    static std::unique_ptr<DKReachability> reachabilityForInternetConnection();
    // 169.254.0.0, with its status from localWiFiStatusForFlags.
    static std::unique_ptr<DKReachability> reachabilityForLocalWiFi();

    // Stops the notifier first.
    ~DKReachability();
    DKReachability(const DKReachability&) = delete;
    DKReachability& operator=(const DKReachability&) = delete;

    bool localWiFiRef() const { return m_monitor.localWiFi(); }

    // Watches on the calling thread's current run loop; false when the watch cannot be set up.
    bool startNotifier();
    void stopNotifier();

    // NotReachable when the flags cannot be read.
    DKNetworkStatus currentReachabilityStatus() const;
    // False when the flags cannot be read.
    bool connectionRequired() const;

    static DKNetworkStatus networkStatusForFlags(std::uint32_t flags);
    static DKNetworkStatus localWiFiStatusForFlags(std::uint32_t flags);

private:
    explicit DKReachability(plat::net::ReachabilityMonitor::Spec spec);
    static std::unique_ptr<DKReachability> make(std::optional<plat::net::ReachabilityMonitor::Spec> spec);

    plat::net::ReachabilityMonitor m_monitor;
};

// The watch's callback: `info` is the DKReachability whose state changed. It traces
// "net status <current status>" and posts the notification.
void ReachabilityCallback(std::uint32_t flags, void* info);
