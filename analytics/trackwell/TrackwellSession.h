// The metrics client's session: one analytics session per run, recorded as JSON text blobs in the
// store (opens and closes, tagged events, screen and event flows, opt changes) and handed to the
// uploader under an upload header that carries the application key and the device facts.
// Called on the main thread; every refusal goes to the log hook, nothing is reported back.
//
// The player's calls (startSession, resume, close, upload, two-argument tagEvent) write their
// "svc metrics ..." trace line; the inner calls they make write none. An event's custom dimensions
// are read in its insert's own savepoint (one lock and commit per event). A close that writes no
// flow blob clears last_flow_event in its savepoint, so a resume that undoes the close cannot delete
// an earlier upload's flow blob. "du" is the advertising identifier from system 6.0 on, else (and
// whenever there is none) the hardware address's digest. Language and country names are ICU's in
// "en_US".
#pragma once

#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "analytics/trackwell/TrackwellBlobs.h"
#include "platform/sys/DeviceFacts.h"

namespace plat::foundation {
class Bundle;
class UserDefaults;
}  // namespace plat::foundation

class TrackwellDatabase;
class UploaderThread;

class TrackwellSession {
public:
    using AttributeValue = dk::trackwell::AttributeValue;
    // Attributes in the order they were given; a key given again keeps its first value.
    class Attributes : public dk::trackwell::AttributeList {
    public:
        using Base = dk::trackwell::AttributeList;
        using Base::Base;
        bool emplace(std::string key, AttributeValue value);
    };

    // What the session reads of its surroundings for the upload header.
    struct Host {
        const plat::foundation::Bundle* bundle = nullptr;    // Info.plist, embedded.mobileprovision
        plat::foundation::UserDefaults* defaults = nullptr;  // the installation id
        std::function<plat::sys::DeviceFacts()> deviceFacts;
        std::string deviceCheckPath = kDeviceCheckPath;
    };

    // A file no ordinary system has; its presence marks a modified device.
    static constexpr const char* kDeviceCheckPath = "/usr/libexec/drovik-device-check/modified";
    static constexpr const char* kInstallIdKey = "_trackwell_install_id";
    static constexpr double kBackgroundSessionTimeout = 15;
    static constexpr int kMaximumStoredEvents = 1000;

    // The session over the shared store and uploader, the main bundle and defaults: one for each main
    // container, bundle and defaults the process has started with (SharedTrackwell.cpp).
    static TrackwellSession& sharedTrackwellSession();

    TrackwellSession(TrackwellDatabase& database, UploaderThread& uploader, Host host);
    TrackwellSession(const TrackwellSession&) = delete;
    TrackwellSession& operator=(const TrackwellSession&) = delete;

    // The player's calls. startSession = initialize, open, upload.
    void startSession(std::string_view applicationKey);
    void resume();
    void close();
    void upload();
    // True when the event was stored.
    bool tagEvent(std::string_view name, const Attributes& attributes = {});
    bool tagEvent(std::string_view name, const std::optional<Attributes>& attributes,
                  const std::optional<Attributes>& reportAttributes);

    // Accepts the application key, once: dashes are dropped, the rest must be letters and digits.
    void initialize(std::string_view applicationKey);
    void open();
    void reopenPreviousSession();
    void tagScreen(std::string_view name);
    void setOptIn(bool optIn);
    bool isOptedIn();
    void setCustomDimension(int slot, const std::optional<std::string>& value);

    bool hasInitialized() const { return m_hasInitialized; }
    bool isSessionOpen() const { return m_isSessionOpen; }
    const std::optional<std::string>& applicationKey() const { return m_applicationKey; }
    const std::optional<std::string>& sessionUUID() const { return m_sessionUUID; }
    double backgroundSessionTimeout() const { return m_backgroundSessionTimeout; }
    void setBackgroundSessionTimeout(double seconds) { m_backgroundSessionTimeout = seconds; }

    // The upload header blob and its facts, as the next upload would write them.
    std::string blobHeaderStringWithSequenceNumber(int sequence);
    std::string blobHeaderStringWithSequenceNumber(int sequence, const dk::trackwell::HeaderFacts& facts);
    dk::trackwell::HeaderFacts headerFacts(bool withInstallationId = true);
    std::string installationId();
    std::string systemIdentifier(const plat::sys::DeviceFacts& facts);
    bool isLiveApp() const;
    bool isDeviceJailbroken() const;

private:
    void resumeSession();
    void closeSession();
    void stageAndUpload();
    bool createOptEvent(bool optIn);
    void customDimensions(std::optional<std::string> (&values)[4]);
    bool saveApplicationFlow();
    void addFlowEvent(std::string_view name, std::string_view type);

    TrackwellDatabase& m_database;
    UploaderThread& m_uploader;
    Host m_host;

    std::optional<std::string> m_sessionUUID;
    std::optional<std::string> m_applicationKey;
    bool m_hasInitialized = false;
    bool m_isSessionOpen = false;
    bool m_sessionHasBeenOpen = false;
    double m_backgroundSessionTimeout = kBackgroundSessionTimeout;
    double m_lastSessionStartTimestamp = 0;
    double m_sessionResumeTime = 0;
    std::optional<double> m_sessionCloseTime;
    double m_sessionActiveDuration = 0;
    std::recursive_mutex m_flowLock;  // the flow lists; upload holds it throughout
    std::string m_unstagedFlowEvents;
    std::string m_stagedFlowEvents;
    std::string m_screens;
    bool m_liveIOSApp = false;
};
