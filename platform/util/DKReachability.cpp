#include "platform/util/DKReachability.h"

#include "platform/foundation/Log.h"
#include "platform/foundation/NotificationCenter.h"

using plat::net::ReachabilityMonitor;

namespace {

plat::foundation::TraceCategory kNetTrace("net");

DKNetworkStatus toStatus(plat::net::NetworkStatus status) { return static_cast<DKNetworkStatus>(status); }

}  // namespace

void ReachabilityCallback(std::uint32_t, void* info) {
    if (!ReachabilityMonitor::checkContext(info, "DKReachability")) return;
    auto* reachability = static_cast<DKReachability*>(info);
    // Observers ask for the status themselves; the flags are not passed on.
    plat::foundation::tracef(kNetTrace, "status %d",
                             static_cast<int>(reachability->currentReachabilityStatus()));
    plat::foundation::NotificationCenter::defaultCenter().post(DKNetworkReachabilityChangedNotification,
                                                               {reachability, "DKReachability"});
}

DKReachability::DKReachability(ReachabilityMonitor::Spec spec) : m_monitor(spec, this, "DKReachability") {}

DKReachability::~DKReachability() = default;

std::unique_ptr<DKReachability> DKReachability::make(std::optional<ReachabilityMonitor::Spec> spec) {
    return spec ? std::unique_ptr<DKReachability>(new DKReachability(*spec)) : nullptr;
}

std::unique_ptr<DKReachability> DKReachability::reachabilityWithHostName(std::string_view hostName) {
    return make(ReachabilityMonitor::forHostName(hostName));
}

std::unique_ptr<DKReachability> DKReachability::reachabilityWithAddress(const sockaddr_in& hostAddress) {
    return make(ReachabilityMonitor::forAddress(hostAddress));
}

std::unique_ptr<DKReachability> DKReachability::reachabilityForInternetConnection() {
    return make(ReachabilityMonitor::forInternetConnection());
}

std::unique_ptr<DKReachability> DKReachability::reachabilityForLocalWiFi() {
    return make(ReachabilityMonitor::forLocalWiFi());
}

bool DKReachability::startNotifier() { return m_monitor.start(ReachabilityCallback); }

void DKReachability::stopNotifier() { m_monitor.stop(); }

DKNetworkStatus DKReachability::currentReachabilityStatus() const { return toStatus(m_monitor.currentStatus()); }

bool DKReachability::connectionRequired() const { return m_monitor.connectionRequired(); }

DKNetworkStatus DKReachability::networkStatusForFlags(std::uint32_t flags) {
    return toStatus(plat::net::networkStatusForFlags(flags));
}

DKNetworkStatus DKReachability::localWiFiStatusForFlags(std::uint32_t flags) {
    return toStatus(plat::net::localWiFiStatusForFlags(flags));
}
