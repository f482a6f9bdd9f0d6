#include "orbad/core/OrbadReachability.h"

#include <arpa/inet.h>

#include <cassert>
#include <mutex>
#include <set>

#include "platform/foundation/NotificationCenter.h"
#include "platform/net/Reachability.h"

namespace orbad {

namespace {

// The objects alive, so the callback can tell its context is one.
std::mutex g_liveMutex;
std::set<const void*> g_live;

bool isLive(const void* info) {
    std::lock_guard lock(g_liveMutex);
    return g_live.count(info) != 0;
}

}  // namespace

void OrbadReachabilityCallback(std::uint32_t, void* info) {
    assert(info != nullptr && "info was NULL in ReachabilityCallback");
    assert(isLive(info) && "info was wrong class in ReachabilityCallback");
    if (!info || !isLive(info)) return;
    auto* reachability = static_cast<OrbadReachability*>(info);
    plat::foundation::NotificationCenter::defaultCenter().post(kNetworkReachabilityChangedNotification,
                                                               {reachability, "OrbadReachability"});
}

OrbadReachability::OrbadReachability(sockaddr_in address, bool localWiFi)
    : m_localWiFiRef(localWiFi),
      m_reachabilityRef(
          std::make_unique<plat::net::Reachability>(plat::net::targetForAddress(address.sin_addr.s_addr))) {
    std::lock_guard lock(g_liveMutex);
    g_live.insert(this);
}

OrbadReachability::~OrbadReachability() {
    stopNotifier();
    std::lock_guard lock(g_liveMutex);
    g_live.erase(this);
}

std::unique_ptr<OrbadReachability> OrbadReachability::reachabilityWithHostName(std::string_view hostName) {
    if (hostName.empty()) return nullptr;
    // Nothing is resolved: a host counts as the internet.
    sockaddr_in any{};
    any.sin_family = AF_INET;
    return std::unique_ptr<OrbadReachability>(new OrbadReachability(any, false));
}

std::unique_ptr<OrbadReachability> OrbadReachability::reachabilityWithAddress(
    const sockaddr_in& hostAddress) {
    if (hostAddress.sin_family != AF_INET) return nullptr;
    return std::unique_ptr<OrbadReachability>(new OrbadReachability(hostAddress, false));
}

std::unique_ptr<OrbadReachability> OrbadReachability::reachabilityForInternetConnection() {
    sockaddr_in zeroAddress{};
    zeroAddress.sin_family = AF_INET;
    return reachabilityWithAddress(zeroAddress);
}

std::unique_ptr<OrbadReachability> OrbadReachability::reachabilityForLocalWiFi() {
    sockaddr_in linkLocal{};
    linkLocal.sin_family = AF_INET;
    linkLocal.sin_addr.s_addr = htonl(plat::net::kLinkLocalNet);
    std::unique_ptr<OrbadReachability> reachability = reachabilityWithAddress(linkLocal);
    if (reachability) reachability->m_localWiFiRef = true;
    return reachability;
}

bool OrbadReachability::startNotifier() {
    return m_reachabilityRef->start([this](std::uint32_t flags) { OrbadReachabilityCallback(flags, this); });
}

void OrbadReachability::stopNotifier() {
    if (m_reachabilityRef) m_reachabilityRef->stop();
}

OrbadNetworkStatus OrbadReachability::currentReachabilityStatus() const {
    assert(m_reachabilityRef && "currentNetworkStatus called with NULL reachabilityRef");
    std::optional<std::uint32_t> flags = m_reachabilityRef->flags();
    if (!flags) return NotReachable;
    return m_localWiFiRef ? localWiFiStatusForFlags(*flags) : networkStatusForFlags(*flags);
}

bool OrbadReachability::connectionRequired() const {
    assert(m_reachabilityRef && "connectionRequired called with NULL reachabilityRef");
    std::optional<std::uint32_t> flags = m_reachabilityRef->flags();
    return flags && (*flags & plat::net::kConnectionRequired);
}

OrbadNetworkStatus OrbadReachability::localWiFiStatusForFlags(std::uint32_t flags) {
    using namespace plat::net;
    return (flags & kReachable) && (flags & kIsDirect) ? ReachableViaWiFi : NotReachable;
}

OrbadNetworkStatus OrbadReachability::networkStatusForFlags(std::uint32_t flags) {
    using namespace plat::net;
    if (!(flags & kReachable)) return NotReachable;
    if (flags & kIsWWAN) return ReachableViaWWAN;
    if (!(flags & kConnectionRequired)) return ReachableViaWiFi;
    // Made on demand or by traffic with nobody asked to act: as good as Wi-Fi.
    if ((flags & (kConnectionOnDemand | kConnectionOnTraffic)) && !(flags & kInterventionRequired))
        return ReachableViaWiFi;
    return NotReachable;
}

}  // namespace orbad
