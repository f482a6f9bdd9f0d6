#include "platform/net/ReachabilityMonitor.h"

#include <arpa/inet.h>

#include <cassert>
#include <mutex>
#include <set>
#include <utility>

namespace plat::net {

namespace {

// The owners alive, by kind, so that a callback can tell its context is one of its own class.
std::mutex g_liveMutex;
std::set<std::pair<const void*, std::string_view>> g_live;

bool isLive(const void* info, std::string_view kind) {
    std::lock_guard lock(g_liveMutex);
    return g_live.count({info, kind}) != 0;
}

}  // namespace

NetworkStatus networkStatusForFlags(std::uint32_t flags) {
    if (!(flags & kReachable)) return NetworkStatus::NotReachable;
    if (flags & kIsWWAN) return NetworkStatus::ReachableViaWWAN;
    if (!(flags & kConnectionRequired)) return NetworkStatus::ReachableViaWiFi;
    // A connection made on demand or by traffic, with nobody asked to act, counts as Wi-Fi.
    if ((flags & (kConnectionOnTraffic | kConnectionOnDemand)) && !(flags & kInterventionRequired))
        return NetworkStatus::ReachableViaWiFi;
    return NetworkStatus::NotReachable;
}

NetworkStatus localWiFiStatusForFlags(std::uint32_t flags) {
    return (flags & kReachable) && (flags & kIsDirect) ? NetworkStatus::ReachableViaWiFi
                                                       : NetworkStatus::NotReachable;
}

std::optional<ReachabilityMonitor::Spec> ReachabilityMonitor::forHostName(std::string_view hostName) {
    // Nothing is resolved: a host counts as the internet.
    if (hostName.empty()) return std::nullopt;
    return Spec{ReachabilityTarget::Internet, false};
}

std::optional<ReachabilityMonitor::Spec> ReachabilityMonitor::forAddress(const sockaddr_in& hostAddress) {
    if (hostAddress.sin_family != AF_INET) return std::nullopt;
    return Spec{targetForAddress(hostAddress.sin_addr.s_addr), false};
}

ReachabilityMonitor::Spec ReachabilityMonitor::forInternetConnection() {
    return {targetForAddress(htonl(INADDR_ANY)), false};
}

ReachabilityMonitor::Spec ReachabilityMonitor::forLocalWiFi() {
    return {targetForAddress(htonl(kLinkLocalNet)), true};
}

ReachabilityMonitor::ReachabilityMonitor(Spec spec, void* owner, std::string_view kind)
    : m_localWiFi(spec.localWiFi), m_owner(owner), m_kind(kind), m_reachability(spec.target) {
    std::lock_guard lock(g_liveMutex);
    g_live.insert({m_owner, m_kind});
}

ReachabilityMonitor::~ReachabilityMonitor() {
    stop();
    std::lock_guard lock(g_liveMutex);
    g_live.erase({m_owner, m_kind});
}

bool ReachabilityMonitor::start(void (*callback)(std::uint32_t flags, void* info)) {
    return m_reachability.start([callback, owner = m_owner](std::uint32_t flags) { callback(flags, owner); });
}

void ReachabilityMonitor::stop() { m_reachability.stop(); }

NetworkStatus ReachabilityMonitor::currentStatus() const {
    std::optional<std::uint32_t> flags = m_reachability.flags();
    if (!flags) return NetworkStatus::NotReachable;
    return m_localWiFi ? localWiFiStatusForFlags(*flags) : networkStatusForFlags(*flags);
}

bool ReachabilityMonitor::connectionRequired() const {
    std::optional<std::uint32_t> flags = m_reachability.flags();
    return flags && (*flags & kConnectionRequired);
}

bool ReachabilityMonitor::checkContext(const void* info, std::string_view kind) {
    assert(info != nullptr && "info was NULL in ReachabilityCallback");
    assert(isLive(info, kind) && "info was wrong class in ReachabilityCallback");
    return info != nullptr && isLive(info, kind);
}

}  // namespace plat::net
