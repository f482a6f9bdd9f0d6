// The counters the configuration request reports (failed attempts, last session length, idle time,
// first run, the identifier first seen on old systems), kept in a property list after every
// change; and the decision, on each return to the foreground, whether a new session has begun.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "platform/foundation/NotificationCenter.h"

namespace orbad {

class OBEnvironment;

inline constexpr const char* kOBSessionRestartedNotification = "OBSessionRestarted";

// What the tracker asks of the configuration that owns it.
class OBSessionConfig {
public:
    virtual ~OBSessionConfig() = default;
    virtual double idleTimeoutInterval() const = 0;
    virtual bool hasConfigFailed() const = 0;
    virtual void updateConfigurationForEnvironment(OBEnvironment& environment) = 0;
};

class OBSessionTracking {
public:
    // Loads `dataFile`, closes a previous run that ended while idle, starts a new session and
    // follows the application's resign, become-active and terminate notifications (main thread).
    OBSessionTracking(std::shared_ptr<OBEnvironment> environment, OBSessionConfig& config, std::string dataFile);
    OBSessionTracking(const OBSessionTracking&) = delete;
    OBSessionTracking& operator=(const OBSessionTracking&) = delete;

    // Support directory / "OrbadSessionTracking-<id>.plist".
    static std::string dataFileName(const std::string& applicationId);

    void loadSessionTrackingData();
    // Written atomically as XML; write failures are ignored.
    void saveSessionTrackingData() const;
    void startNewSession();
    void applicationWillResignActive();
    void applicationDidBecomeActive();
    void applicationWillTerminate();

    // The five counters: each setter saves the file (the platform's self-observation).
    unsigned long offlineSessionCount() const { return m_offlineSessionCount; }
    void setOfflineSessionCount(unsigned long count);
    double idleSessionTime() const { return m_idleSessionTime; }
    void setIdleSessionTime(double seconds);
    double lastSessionLength() const { return m_lastSessionLength; }
    void setLastSessionLength(double seconds);
    bool firstRun() const { return m_firstRun; }
    void setFirstRun(bool firstRun);
    const std::optional<std::string>& originalUDID() const { return m_originalUDID; }
    void setOriginalUDID(std::optional<std::string> udid);

    // Seconds since 1970 (orbad::wallNow()); nullopt when unset.
    const std::optional<double>& sessionStartDate() const { return m_sessionStartDate; }
    const std::optional<double>& sessionWentIdleDate() const { return m_sessionWentIdleDate; }
    const std::optional<double>& sessionEndDate() const { return m_sessionEndDate; }
    const std::string& dataFile() const { return m_dataFile; }

private:
    void changed();

    std::shared_ptr<OBEnvironment> m_environment;
    OBSessionConfig& m_config;
    std::string m_dataFile;
    unsigned long m_offlineSessionCount = 0;
    double m_idleSessionTime = 0;
    double m_lastSessionLength = 0;
    bool m_firstRun = true;
    std::optional<std::string> m_originalUDID;
    std::optional<double> m_sessionStartDate, m_sessionWentIdleDate, m_sessionEndDate;
    bool m_saving = false;  // from the end of start-up on
    plat::foundation::Observation m_resign, m_active, m_terminate;
};

}  // namespace orbad
