#include "platform/util/DKReachability.h"

#include <arpa/inet.h>

#include <cassert>
#include <mutex>
#include <set>

#include "platform/foundation/Log.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/net/Reachability.h"

using plat::net::ReachabilityTarget;

namespace {

plat::foundation::TraceCategory kNetTrace("net");

// The monitors alive, so that the callback can tell its context is one.
std::mutex g_liveMutex;
std::set<const void*> g_live;

bool isLive(const void* info) {
    std::lock_guard lock(g_liveMutex);
    return g_live.count(info) != 0;
}

}  // namespace

void ReachabilityCallback(std::uint32_t, void* info) {
    assert(info != nullptr && "info was NULL in ReachabilityCallback");
    assert(isLive(info) && "info was wrong class in ReachabilityCallback");
    if (!info || !isLive(info)) return;
    auto* reachability = static_cast<DKReachability*>(info);
    // Observers ask for the status themselves; the flags are not passed on.
    plat::foundation::tracef(kNetTrace, "status %d",
                             static_cast<int>(reachability->currentReachabilityStatus()));
    plat::foundation::NotificationCenter::defaultCenter().post(DKNetworkReachabilityChangedNotification,
                                                               {reachability, "DKReachability"});
}

DKReachability::DKReachability(ReachabilityTarget target, bool localWiFi)
    : m_localWiFiRef(localWiFi), m_reachabilityRef(std::make_unique<plat::net::Reachability>(target)) {
    std::lock_guard lock(g_liveMutex);
    g_live.insert(this);
}

DKReachability::~DKReachability() {
    stopNotifier();
    std::lock_guard lock(g_liveMutex);
    g_live.erase(this);
}

std::unique_ptr<DKReachability> DKReachability::reachabilityWithHostName(std::string_view hostName) {
    if (hostName.empty()) return nullptr;
    return std::unique_ptr<DKReachability>(new DKReachability(ReachabilityTarget::Internet, false));
}

std::unique_ptr<DKReachability> DKReachability::reachabilityWithAddress(const sockaddr_in& hostAddress) {
    if (hostAddress.sin_family != AF_INET) return nullptr;
    return std::unique_ptr<DKReachability>(
        new DKReachability(plat::net::targetForAddress(hostAddress.sin_addr.s_addr), false));
}

std::unique_ptr<DKReachability> DKReachability::reachabilityForInternetConnection() {
    sockaddr_in zeroAddress{};
    zeroAddress.sin_family = AF_INET;
    return reachabilityWithAddress(zeroAddress);
}

std::unique_ptr<DKReachability> DKReachability::reachabilityForLocalWiFi() {
    sockaddr_in linkLocal{};
    linkLocal.sin_family = AF_INET;
    linkLocal.sin_addr.s_addr = htonl(plat::net::kLinkLocalNet);
    std::unique_ptr<DKReachability> reachability = reachabilityWithAddress(linkLocal);
    if (reachability) reachability->m_localWiFiRef = true;
    return reachability;
}

bool DKReachability::startNotifier() {
    return m_reachabilityRef->start([this](std::uint32_t flags) { ReachabilityCallback(flags, this); });
}

void DKReachability::stopNotifier() {
    if (m_reachabilityRef) m_reachabilityRef->stop();
}

DKNetworkStatus DKReachability::currentReachabilityStatus() const {
    assert(m_reachabilityRef && "currentNetworkStatus called with NULL reachabilityRef");
    std::optional<std::uint32_t> flags = m_reachabilityRef->flags();
    if (!flags) return DKNotReachable;
    return m_localWiFiRef ? localWiFiStatusForFlags(*flags) : networkStatusForFlags(*flags);
}

bool DKReachability::connectionRequired() const {
    assert(m_reachabilityRef && "connectionRequired called with NULL reachabilityRef");
    std::optional<std::uint32_t> flags = m_reachabilityRef->flags();
    return flags && (*flags & plat::net::kConnectionRequired);
}

DKNetworkStatus DKReachability::networkStatusForFlags(std::uint32_t flags) {
    using namespace plat::net;
    if (!(flags & kReachable)) return DKNotReachable;
    if (flags & kIsWWAN) return DKReachableViaWWAN;
    if (!(flags & kConnectionRequired)) return DKReachableViaWiFi;
    // A connection made on demand or by traffic, with nobody asked to act, counts as Wi-Fi.
    if ((flags & (kConnectionOnTraffic | kConnectionOnDemand)) && !(flags & kInterventionRequired))
        return DKReachableViaWiFi;
    return DKNotReachable;
}

DKNetworkStatus DKReachability::localWiFiStatusForFlags(std::uint32_t flags) {
    using namespace plat::net;
    return (flags & kReachable) && (flags & kIsDirect) ? DKReachableViaWiFi : DKNotReachable;
}
