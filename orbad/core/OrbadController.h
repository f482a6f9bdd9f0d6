// The ad client's one controller: it owns the environment, the configuration and the reachability
// notifier, feeds battery, connection and location readings into the current session, and
// announces the end of start-up. Every other part reaches the shared state through it.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "orbad/core/OBSession.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/RunLoop.h"

namespace orbad {

class OBConfig;
class OBEnvironment;
class OrbadReachability;

// Posted (the controller as sender) from the run loop 0.05 s after the controller was made.
inline constexpr const char* kOrbadDidFinishStarting = "kOrbadDidFinishStarting";

class OrbadController {
public:
    // Made under a lock when there is none. A non-null id that differs from the environment's
    // replaces it. Without any id (none given, no "OBApplicationId"): std::logic_error.
    static OrbadController& sharedInstanceWithApplicationId(const std::optional<std::string>& applicationId);
    static OrbadController& sharedInstance() { return sharedInstanceWithApplicationId(std::nullopt); }
    static bool hasBeenInstantiated();
    // The Info.plist has an "OBApplicationId".
    static bool canBeAutoInstantiated();
    // Lets the controller go, under the same lock.
    static void shutdown();
    // Changes whenever a controller is made or let go: what holds the controller by address holds
    // this with it, and the address is good while the two agree.
    static std::uint64_t instanceGeneration();
    // Application Support/<process name>/OrbadSDK, made when missing.
    static std::string supportDirectory();

    // Start-up, in order: the session, the environment, the version migrations, the configuration,
    // reachability on the analytics host, the connection and battery observations, a first battery
    // reading, and kOrbadDidFinishStarting scheduled 0.05 s later on the current run loop.
    explicit OrbadController(const std::optional<std::string>& applicationId);
    ~OrbadController();
    OrbadController(const OrbadController&) = delete;
    OrbadController& operator=(const OrbadController&) = delete;

    OBConfig& config() { return *m_config; }
    OBEnvironment& environment() { return *m_environment; }
    // Null when the analytics URL has no host.
    OrbadReachability* reachability() { return m_reachability.get(); }
    bool inModalAd() const { return m_inModalAd; }
    void setInModalAd(bool inModalAd) { m_inModalAd = inModalAd; }

    void connectionStateDidChange();
    // The device's battery into the session: the level's whole part (0 unknown), and the state.
    void updateBattery();
    // A location with a negative horizontal accuracy clears the session's.
    void updateLocation(const std::optional<OBLocation>& location);
    void willTerminate() {}

private:
    void didFinishStarting();

    std::shared_ptr<OBEnvironment> m_environment;
    std::unique_ptr<OBConfig> m_config;
    std::unique_ptr<OrbadReachability> m_reachability;
    bool m_inModalAd = false;
    plat::foundation::RunLoop* m_loop = &plat::foundation::RunLoop::current();
    plat::foundation::Observation m_connection, m_battery;
};

}  // namespace orbad
