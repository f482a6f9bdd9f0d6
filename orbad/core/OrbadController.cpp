#include "orbad/core/OrbadController.h"

#include <atomic>
#include <mutex>
#include <utility>

#include "orbad/core/OBConfig.h"
#include "orbad/core/OBEnvironment.h"
#include "orbad/core/OBResourcesController.h"
#include "orbad/core/OrbadReachability.h"
#include "orbad/core/OrbadVersionController.h"
#include "orbad/core/http/OBHTTPRequest.h"
#include "platform/foundation/Bundle.h"
#include "platform/foundation/RunLoop.h"
#include "platform/net/Servers.h"
#include "platform/sys/Device.h"

namespace orbad {

namespace {

std::mutex g_instanceMutex;
// Never destroyed with the process's statics: what it observes and schedules on may be gone by
// then. Only shutdown lets it go.
OrbadController* g_instance = nullptr;
std::atomic<std::uint64_t> g_generation{0};

std::string hostOf(const std::string& url) {
    plat::net::ServerAddress address;
    return plat::net::parseServerAddress(url, 80, address) ? address.host : std::string();
}

}  // namespace

OrbadController& OrbadController::sharedInstanceWithApplicationId(const std::optional<std::string>& applicationId) {
    OrbadController* controller;
    {
        std::lock_guard lock(g_instanceMutex);
        if (!g_instance) {
            g_instance = new OrbadController(applicationId);
            ++g_generation;
        }
        controller = g_instance;
    }
    if (applicationId && *applicationId != controller->environment().applicationId())
        controller->environment().setApplicationId(*applicationId);
    return *controller;
}

bool OrbadController::hasBeenInstantiated() {
    std::lock_guard lock(g_instanceMutex);
    return g_instance != nullptr;
}

bool OrbadController::canBeAutoInstantiated() {
    return plat::foundation::Bundle::mainInfoValue("OBApplicationId") != nullptr;
}

void OrbadController::shutdown() {
    std::lock_guard lock(g_instanceMutex);
    if (g_instance) ++g_generation;
    delete std::exchange(g_instance, nullptr);
}

std::uint64_t OrbadController::instanceGeneration() {
    return g_generation.load();
}

std::string OrbadController::supportDirectory() {
    return orbadSupportDirectory();
}

OrbadController::OrbadController(const std::optional<std::string>& applicationId) {
    OBSession::currentSession();
    m_environment = std::make_shared<OBEnvironment>(applicationId);
    OrbadVersionController::handleVersionChangeInEnvironment(*m_environment);
    m_config = std::make_unique<OBConfig>(m_environment);
    setOBUserAgentSource([config = m_config.get()]() -> std::optional<std::string> {
        if (config->userAgent().empty()) return std::nullopt;
        return config->userAgent();
    });
    m_reachability = OrbadReachability::reachabilityWithHostName(hostOf(m_config->analyticsURL()));
    if (m_reachability) m_reachability->startNotifier();
    auto& center = plat::foundation::NotificationCenter::defaultCenter();
    m_connection = center.observe(kNetworkReachabilityChangedNotification, nullptr,
                                  [this](const plat::foundation::Notification&) { connectionStateDidChange(); });
    plat::sys::Device& device = plat::sys::Device::current();
    device.setBatteryMonitoringEnabled(true);
    m_battery = center.observe(plat::sys::kDeviceBatteryLevelDidChangeNotification, &device,
                               [this](const plat::foundation::Notification&) { updateBattery(); });
    updateBattery();
    m_loop->performAfter(0.05, this, [this] { didFinishStarting(); });
}

OrbadController::~OrbadController() {
    m_loop->cancelPerforms(this);
    m_connection.remove();
    m_battery.remove();
    setOBUserAgentSource({});
    m_reachability.reset();
    m_environment.reset();
    m_config.reset();
    OBResourcesController::shutdown();
    OBSession::shutdown();
}

void OrbadController::connectionStateDidChange() {
    OBSession::currentSession()->setConnectionType(m_reachability ? m_reachability->currentReachabilityStatus()
                                                                  : NotReachable);
}

void OrbadController::updateBattery() {
    const plat::sys::Device& device = plat::sys::Device::current();
    // Unknown (-1) counts as empty: a negative fraction has no whole part to report.
    const double level = device.batteryLevel();
    std::shared_ptr<OBSession> session = OBSession::currentSession();
    session->setBatteryLevel(level >= 1 ? 1 : 0);
    session->setBatteryState(static_cast<unsigned long>(device.batteryState()));
}

void OrbadController::updateLocation(const std::optional<OBLocation>& location) {
    OBSession::currentSession()->setLocation(location && location->horizontalAccuracy >= 0 ? location
                                                                                             : std::nullopt);
}

void OrbadController::didFinishStarting() {
    plat::foundation::NotificationCenter::defaultCenter().post(kOrbadDidFinishStarting, {this, "OrbadController"});
}

}  // namespace orbad
