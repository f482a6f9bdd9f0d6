// The ad client's remote configuration: server addresses, ad-unit settings, the hosts that open in
// native applications, the idle time-out, the log level and the browser user agent. It starts from
// the answer cached by the previous run and asks the configuration server for a fresh one.
//
// The answer is cached as an XML property list, replaced atomically. The request's thread only
// reads the status and decodes the body; the outcome (flags, counters, cache, reload, observers) is
// one waiting hop to the main loop, given up when the request is cancelled before the hop begins.
// An answer is bounded to 256 KB and a cache file over 4 MB is not read. A 200 body that is no JSON
// object counts as undecodable, and so does an answer refused for its length: the cache stays, as
// only a network failure deletes it; a request that cannot be sent is a failed attempt. Servers
// under ".invalid" (the built-in placeholders) fail at once, as a network failure would. Only http
// and https addresses with a host name a server: a "urls" entry of another scheme, or an http(s)
// one without a host ("http:/x", "http://"), is refused with a log line, and the server in force
// stays, in memory and in the cache written. The ad-unit table is built in
// OBConfigAdUnits.cpp, alerts shown from OBConfigAlerts.cpp. Log lines go to standard error.
#pragma once

#include <cstdarg>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "orbad/core/OBAdUnits.h"
#include "orbad/core/OBSessionTracking.h"
#include "platform/foundation/Value.h"

namespace orbad {

class OBEnvironment;

// Posted by a configuration (as sender) after every attempt to refresh it.
inline constexpr const char* kOrbadConfigObserverKey = "kOrbadConfigObserverKey";

// The servers' names in platform/net's table of server addresses.
inline constexpr const char* kOrbadDataServer = "orbad.data";      // config, feedback, oa, analytics, debug
inline constexpr const char* kOrbadVCServer = "orbad.vc";          // virtual currency
inline constexpr const char* kOrbadAdsServer = "orbad.ads";        // ads
inline constexpr const char* kOrbadScriptServer = "orbad.script";  // the MRAID loader
inline constexpr const char* kOrbadServerNames[] = {kOrbadDataServer, kOrbadVCServer, kOrbadAdsServer,
                                                    kOrbadScriptServer};

// Log bits.
inline constexpr unsigned long kOBLogVerbose = 1, kOBLogDebug = 2, kOBLogInfo = 4, kOBLogWarning = 8,
                               kOBLogError = 16;

// Application Support/<process name>/OrbadSDK, made when missing (errors ignored).
std::string orbadSupportDirectory();

// What an observer of the configuration hears.
class OBConfigObserver {
public:
    virtual ~OBConfigObserver() = default;
    virtual void orbadConfigurationUpdated(class OBConfig& config) = 0;
};

// Main thread only, but for the request's own callbacks, which hop to it.
class OBConfig : public OBSessionConfig {
public:
    // Caches/<process name>/OrbadConfig-<id>.plist is read, the session tracker made, the user
    // agent fixed and the configuration request scheduled 0.01 s later on the main loop.
    explicit OBConfig(std::shared_ptr<OBEnvironment> environment);
    ~OBConfig() override;
    OBConfig(const OBConfig&) = delete;
    OBConfig& operator=(const OBConfig&) = delete;

    // The defaults, from platform/net's server addresses.
    static std::string defaultConfigURL();
    static std::string defaultOABaseURL();
    static std::string defaultFeedbackURL();
    static std::string defaultVirtualCurrencyURL();
    static std::string defaultAdvertisingURL();
    static std::string defaultAnalyticsURL();
    static std::string defaultInstrumentationURL();
    static std::string defaultMraidURL();
    static std::vector<std::string> defaultNativeURLHandlers();
    // The log mask of a cached "debug_config.loglevel" (1 gives 31 ... 9 gives 0; others 24).
    static unsigned long logLevelForConfigValue(long long value);

    // Re-reads the cache file into the properties; what it lacks takes the defaults.
    void loadConfiguration();
    // Sends the configuration request unless one is under way.
    void updateConfigurationForEnvironment(OBEnvironment& environment) override;
    // After nine failed attempts or more, the cached "urls"."config" goes back to the default.
    void checkForRepeatedFailure();
    // Asks the web engine when the user agent is unknown or the system version changed.
    void updateUserAgent();
    // Server-pushed alerts of an answer ("app_alerts"); a non-empty array is shown.
    void handleAppAlerts(const plat::foundation::Value& alerts);

    // Registrations for kOrbadConfigObserverKey from this configuration; an observer must remove
    // itself before it goes.
    void addObserver(OBConfigObserver* observer);
    void removeObserver(OBConfigObserver* observer);
    void notifyObservers();

    // Written on standard error, prefixed ("ORBAD_ERROR: " ...), when the level has the bit.
    void logError(const char* format, ...) const __attribute__((format(printf, 2, 3)));
    void logWarning(const char* format, ...) const __attribute__((format(printf, 2, 3)));
    void logInfo(const char* format, ...) const __attribute__((format(printf, 2, 3)));
    void logDebug(const char* format, ...) const __attribute__((format(printf, 2, 3)));
    void logVerbose(const char* format, ...) const __attribute__((format(printf, 2, 3)));
    static void NSLOGForReals(const std::optional<std::string>& text);
    // The integer kept for `tag` in the user defaults' "OBConfigFreq"; -1 without one.
    static long long debugTagFrequency(const std::string& tag);

    const std::string& configURL() const { return m_configURL; }
    void setConfigURL(std::string url) { m_configURL = std::move(url); }
    const std::string& oaBaseURL() const { return m_oaBaseURL; }
    // oaBaseURL with a "/" after it when it has none.
    std::string getoaBaseURL() const;
    void setOABaseURL(std::string url) { m_oaBaseURL = std::move(url); }
    const std::string& feedbackURL() const { return m_feedbackURL; }
    void setFeedbackURL(std::string url) { m_feedbackURL = std::move(url); }
    const std::string& virtualCurrencyURL() const { return m_virtualCurrencyURL; }
    void setVirtualCurrencyURL(std::string url) { m_virtualCurrencyURL = std::move(url); }
    const std::string& advertisingURL() const { return m_advertisingURL; }
    void setAdvertisingURL(std::string url) { m_advertisingURL = std::move(url); }
    const std::string& analyticsURL() const { return m_analyticsURL; }
    void setAnalyticsURL(std::string url) { m_analyticsURL = std::move(url); }
    const std::string& instrumentationURL() const { return m_instrumentationURL; }
    void setInstrumentationURL(std::string url) { m_instrumentationURL = std::move(url); }
    const std::string& mraidURL() const { return m_mraidURL; }
    void setMraidURL(std::string url) { m_mraidURL = std::move(url); }

    // Size key ("320x50", "fullscreen") to the unit's properties.
    plat::foundation::Value::Dictionary& adUnits() { return m_adUnits; }
    const plat::foundation::Value::Dictionary& adUnits() const { return m_adUnits; }
    void setAdUnits(plat::foundation::Value::Dictionary units) { m_adUnits = std::move(units); }
    // The per-size lookups and the open-allocation choice over adUnits() (see OBAdUnits.h).
    const plat::foundation::Value::Dictionary* propertiesForAdUnit(OBAdSize size) const;
    bool adUnitEnabled(OBAdSize size) const;
    bool autoPlayEnabled(OBAdSize size) const;
    bool richMediaRequiresUserInteraction(OBAdSize size) const;
    double refreshInteveralForAdUnit(OBAdSize size) const;
    // The unit's own "autoplay_timeout" when it has one; else by the platform's name.
    double autoplayTimeoutInteveralForAdUnit(OBAdSize size) const;
    std::optional<std::string> currentSelectionMethod(OBAdSize size) const;
    std::optional<plat::foundation::Value::Array> getOpenAllocationCandidates(OBAdSize size) const;
    std::optional<plat::foundation::Value> getNextCandidate(
        OBAdSize size, const std::optional<plat::foundation::Value::Array>& candidates) const;
    std::optional<plat::foundation::Value> getRandomWeightedCandidate(
        const plat::foundation::Value::Array& candidates) const;
    std::optional<std::string> openAllocationKey(long n, std::string_view network, OBAdSize size) const;
    // Where the weighted draws come from (the system's generator unless set).
    void setRandomSource(OBRandomSource source) { m_adUnitTable.setRandomSource(std::move(source)); }
    const std::vector<std::string>& nativeURLHandlers() const { return m_nativeURLHandlers; }
    void setNativeURLHandlers(std::vector<std::string> handlers) { m_nativeURLHandlers = std::move(handlers); }
    double idleTimeoutInterval() const override { return m_idleTimeoutInterval; }
    void setIdleTimeoutInterval(double seconds) { m_idleTimeoutInterval = seconds; }
    unsigned long loglevel() const { return m_loglevel; }
    void setLoglevel(unsigned long level) { m_loglevel = level; }
    // Empty: none.
    const std::string& userAgent() const { return m_userAgent; }
    void setUserAgent(std::string agent) { m_userAgent = std::move(agent); }
    const std::string& cacheFile() const { return m_cacheFile; }
    void setCacheFile(std::string path) { m_cacheFile = std::move(path); }
    bool isUpdating() const { return m_isUpdating; }
    bool hasConfigFailed() const override { return m_hasConfigFailed; }
    bool shouldSendOrbadDebugData() const { return m_capture; }
    void setShouldSendOrbadDebugData(bool capture) { m_capture = capture; }

    OBSessionTracking& sessionTracking() { return *m_tracking; }
    OBEnvironment& environment() { return *m_environment; }

private:
    struct Link;
    // One element of "ad_units" into adUnits() (OBConfigAdUnits.cpp).
    void addAdUnit(const plat::foundation::Value& element);
    // The request's outcome, on the main thread: the status (kOBNoResponseStatusCode when it
    // failed) and, for a 200, the decoded body.
    void requestEnded(int status, std::optional<plat::foundation::Value> decoded, bool failed);
    // An attempt that failed before or without a request: offline +1, failed, observers told.
    void attemptFailed(bool deleteCache);
    // Puts the server in force in place of each "urls" entry that names no http(s) server.
    void keepServersIn(plat::foundation::Value::Dictionary& answer) const;
    void log(unsigned long bit, const char* prefix, const char* format, va_list args) const
        __attribute__((format(printf, 4, 0)));

    std::shared_ptr<OBEnvironment> m_environment;
    std::shared_ptr<Link> m_link;  // what requests and posted work reach this through
    std::string m_configURL, m_oaBaseURL, m_feedbackURL, m_virtualCurrencyURL, m_advertisingURL, m_analyticsURL,
        m_instrumentationURL, m_mraidURL;
    plat::foundation::Value::Dictionary m_adUnits;
    OBAdUnits m_adUnitTable{m_adUnits};
    std::vector<std::string> m_nativeURLHandlers;
    double m_idleTimeoutInterval = 120.0;
    unsigned long m_loglevel = 0;
    std::string m_userAgent;
    std::string m_cacheFile;
    bool m_isUpdating = false;
    bool m_hasConfigFailed = false;
    bool m_capture = false;
    std::unique_ptr<OBSessionTracking> m_tracking;
};

}  // namespace orbad
