#include "orbad/core/OrbadReachability.h"

#include "platform/foundation/NotificationCenter.h"

namespace orbad {

using plat::net::ReachabilityMonitor;

namespace {

OrbadNetworkStatus toStatus(plat::net::NetworkStatus status) { return static_cast<OrbadNetworkStatus>(status); }

}  // namespace

void OrbadReachabilityCallback(std::uint32_t, void* info) {
    if (!ReachabilityMonitor::checkContext(info, "OrbadReachability")) return;
    auto* reachability = static_cast<OrbadReachability*>(info);
    plat::foundation::NotificationCenter::defaultCenter().post(kNetworkReachabilityChangedNotification,
                                                               {reachability, "OrbadReachability"});
}

OrbadReachability::OrbadReachability(ReachabilityMonitor::Spec spec) : m_monitor(spec, this, "OrbadReachability") {}

OrbadReachability::~OrbadReachability() = default;

std::unique_ptr<OrbadReachability> OrbadReachability::make(std::optional<ReachabilityMonitor::Spec> spec) {
    return spec ? std::unique_ptr<OrbadReachability>(new OrbadReachability(*spec)) : nullptr;
}

std::unique_ptr<OrbadReachability> OrbadReachability::reachabilityWithHostName(std::string_view hostName) {
    return make(ReachabilityMonitor::forHostName(hostName));
}

std::unique_ptr<OrbadReachability> OrbadReachability::reachabilityWithAddress(const sockaddr_in& hostAddress) {
    return make(ReachabilityMonitor::forAddress(hostAddress));
}

std::unique_ptr<OrbadReachability> OrbadReachability::reachabilityForInternetConnection() {
    return make(ReachabilityMonitor::forInternetConnection());
}

std::unique_ptr<OrbadReachability> OrbadReachability::reachabilityForLocalWiFi() {
    return make(ReachabilityMonitor::forLocalWiFi());
}

bool OrbadReachability::startNotifier() { return m_monitor.start(OrbadReachabilityCallback); }

void OrbadReachability::stopNotifier() { m_monitor.stop(); }

OrbadNetworkStatus OrbadReachability::currentReachabilityStatus() const {
    return toStatus(m_monitor.currentStatus());
}

bool OrbadReachability::connectionRequired() const { return m_monitor.connectionRequired(); }

OrbadNetworkStatus OrbadReachability::localWiFiStatusForFlags(std::uint32_t flags) {
    return toStatus(plat::net::localWiFiStatusForFlags(flags));
}

OrbadNetworkStatus OrbadReachability::networkStatusForFlags(std::uint32_t flags) {
    return toStatus(plat::net::networkStatusForFlags(flags));
}

}  // namespace orbad
