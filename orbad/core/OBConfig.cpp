#include "orbad/core/OBConfig.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <mutex>

#include "orbad/core/OBConfigQuery.h"
#include "orbad/core/OBEnvironment.h"
#include "orbad/core/OrbadJSON.h"
#include "orbad/core/OrbadReachability.h"
#include "orbad/core/http/OBHTTPRequest.h"
#include "platform/foundation/Bundle.h"
#include "platform/foundation/Container.h"
#include "platform/foundation/DeviceFactsFile.h"
#include "platform/foundation/FileSystem.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/PropertyList.h"
#include "platform/foundation/RunLoop.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/net/Servers.h"
#include "platform/net/URLParsing.h"
#include "platform/sys/Excerpt.h"
#include "platform/ui/WebView.h"

namespace orbad {

namespace {

using plat::foundation::RunLoop;
using plat::foundation::Value;

constexpr const char* kFrequencyKey = "OBConfigFreq";
constexpr const char* kLastSystemVersionKey = "OBLastSystemVersion";

std::string serverURL(const char* name, std::string_view path) {
    std::string base = plat::net::serverBase(name);
    if (path.empty()) return base;
    while (base.ends_with('/')) base.pop_back();
    return base.append(path);
}

std::string systemVersion() {
    return plat::foundation::deviceFacts().systemVersion;
}

plat::foundation::UserDefaults* defaults() {
    return plat::foundation::UserDefaults::standard();
}

// The servers of the answer's "urls", in the order the properties take their defaults after.
constexpr const char* kServerKeys[8] = {"config", "oa",        "feedback", "vc",
                                        "ads",    "analytics", "debug",    "mraid"};

// What a "urls" entry names: nothing (absent, or no URL), a server, or a URL of another scheme.
struct ServerEntry {
    std::optional<std::string> url;
    bool refused = false;
};

// A host written plainly: a name, an IPv4 address or a bracketed IPv6 one. Escapes ("%00") and
// anything else a URL may hold name no server.
bool isPlainHost(std::string_view host) {
    constexpr std::string_view kName = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789-._~";
    if (host.starts_with('['))
        return host.size() > 2 && host.find_first_not_of("0123456789abcdefABCDEF:.", 1) == host.size() - 1;
    return host.find_first_not_of(kName) == std::string_view::npos;
}

// A value counts as a URL when its text is a non-empty URL with "://" in it. Only http and https
// may name a server: a file, script or ftp address would be fetched, or run, in place of one. An
// http or https address that names no host ("http:/x", "https:relative", "http://") or no plain
// one ("http://%00/") is refused too, and so is a text holding "://" that is no URL at all (a
// leading blank): each is meant as a server, and none can be reached at it.
ServerEntry serverFrom(const Value* urls, const char* key) {
    const Value* value = urls ? urls->find(key) : nullptr;
    if (!value || value->array() || value->dictionary() || value->isNull()) return {};
    std::string text = value->description();
    const std::size_t colon = text.find(':');
    std::string scheme = text.substr(0, colon);
    std::transform(scheme.begin(), scheme.end(), scheme.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (colon != std::string::npos && (scheme == "http" || scheme == "https")) {
        plat::net::ServerAddress server;
        if (!plat::net::isValidURLString(text) || !plat::net::parseServerAddress(text, 80, server) ||
            !isPlainHost(server.host))
            return {std::nullopt, true};
        return {std::move(text), false};
    }
    if (text.find("://") == std::string::npos) return {};
    return {std::nullopt, true};
}

// A configuration answer carries a few dozen ad units and addresses: far less than this. A larger
// one is refused whole (the cache in force stays), and so is a cache file that could not have
// come from an answer within it (an XML property list takes some ten times the JSON's bytes).
constexpr std::size_t kMaxAnswerLength = 256 * 1024;
constexpr std::uintmax_t kMaxCacheFileLength = 4 * 1024 * 1024;

std::optional<Value> readCache(const std::string& path) {
    std::error_code error;
    const std::uintmax_t length = std::filesystem::file_size(path, error);
    if (!error && length > kMaxCacheFileLength) return std::nullopt;
    std::optional<Value> file = plat::foundation::readPropertyList(path);
    if (file && !file->dictionary()) file.reset();
    return file;
}

}  // namespace

// What the request and posted work hold: the configuration while it lives (main thread only).
struct OBConfig::Link : OBHTTPRequestDelegate, std::enable_shared_from_this<OBConfig::Link> {
    OBConfig* owner = nullptr;

    // On the request's thread only the status is read and the body decoded; the rest waits for
    // one hop to the main loop. A request cancelled before that hop begins gives up on it, so a
    // main thread joining request threads is never waited on.
    void requestDidFinish(OBCoreHTTPRequest& request) override {
        const int status = request.responseStatusCode();
        std::optional<Value> decoded;
        if (status == 200) decoded = OrbadJSON::decodeData(request.responseData());
        hop(request, status, std::move(decoded), false);
    }
    // A network failure deletes the cache; an answer refused for its length is a bad answer,
    // which keeps it.
    void requestDidFail(OBCoreHTTPRequest& request, const Error& error) override {
        const bool refused = error.code == plat::net::kURLErrorDataLengthExceedsMaximum;
        hop(request, kOBNoResponseStatusCode, std::nullopt, !refused);
    }

    void hop(OBCoreHTTPRequest& request, int status, std::optional<Value> decoded, bool failed) {
        request.performOnMainAndWait([&, self = shared_from_this()] {
            if (self->owner) self->owner->requestEnded(status, std::move(decoded), failed);
        });
    }

    // Posted work that runs only while the configuration lives.
    void later(std::function<void(OBConfig&)> fn) {
        RunLoop::main().perform([self = shared_from_this(), fn = std::move(fn)] {
            if (self->owner) fn(*self->owner);
        });
    }
};

std::string orbadSupportDirectory() {
    const plat::foundation::Container* container = plat::foundation::Container::main();
    std::string base = container ? container->applicationSupportPath() : std::string();
    // A folder that cannot be made leaves the files failing in the home, never at the root.
    if (container && base.empty()) base = container->path() + "/Library/Application Support";
    std::string path = base + "/" + plat::foundation::processName() + "/OrbadSDK";
    plat::foundation::makeDirectories(path);
    return path;
}

std::string OBConfig::defaultConfigURL() { return serverURL(kOrbadDataServer, "/post/config"); }
std::string OBConfig::defaultOABaseURL() { return serverURL(kOrbadDataServer, "/"); }
std::string OBConfig::defaultFeedbackURL() { return serverURL(kOrbadDataServer, "/post/feedback"); }
std::string OBConfig::defaultVirtualCurrencyURL() { return serverURL(kOrbadVCServer, ""); }
std::string OBConfig::defaultAdvertisingURL() { return serverURL(kOrbadAdsServer, "/"); }
std::string OBConfig::defaultAnalyticsURL() { return serverURL(kOrbadDataServer, "/post/sendData"); }
std::string OBConfig::defaultInstrumentationURL() { return serverURL(kOrbadDataServer, "/post/debug"); }
std::string OBConfig::defaultMraidURL() { return serverURL(kOrbadScriptServer, "/js/mraid_boot_loader.js"); }

std::vector<std::string> OBConfig::defaultNativeURLHandlers() {
    // The store's two web hosts, the maps host and the video site's host: placeholders of ours.
    return {"apps.store.invalid", "itunes.store.invalid", "maps.places.invalid", "www.videos.invalid", "mailto:"};
}

unsigned long OBConfig::logLevelForConfigValue(long long value) {
    switch (value) {
        case 1: return 31;
        case 2: return 30;
        case 3: return 28;
        case 4: return 24;
        case 5: return 16;
        case 9: return 0;
        default: return 24;
    }
}

OBConfig::OBConfig(std::shared_ptr<OBEnvironment> environment)
    : m_environment(std::move(environment)), m_link(std::make_shared<Link>()) {
    m_link->owner = this;
    m_capture = false;
    const plat::foundation::Container* container = plat::foundation::Container::main();
    std::string cachesFolder = container ? container->cachesPath() : std::string();
    if (container && cachesFolder.empty()) cachesFolder = container->path() + "/Library/Caches";
    const std::string caches = cachesFolder + "/" + plat::foundation::processName();
    plat::foundation::makeDirectories(caches);
    m_cacheFile = caches + "/OrbadConfig-" + m_environment->applicationId() + ".plist";
    loadConfiguration();
    m_tracking = std::make_unique<OBSessionTracking>(
        m_environment, *this,
        orbadSupportDirectory() + "/" + OBSessionTracking::dataFileName(m_environment->applicationId()));
    updateUserAgent();
    if (m_loglevel == 0) m_loglevel = m_environment->initialLogLevel();
    std::weak_ptr<Link> link = m_link;
    RunLoop::main().performAfter(0.01, m_link.get(), [link] {
        if (auto self = link.lock(); self && self->owner)
            self->owner->updateConfigurationForEnvironment(*self->owner->m_environment);
    });
}

OBConfig::~OBConfig() {
    RunLoop::main().cancelPerforms(m_link.get());
    m_link->owner = nullptr;
    OBCoreHTTPRequest::cancelRequestsForDelegate(m_link.get());
}

std::string OBConfig::getoaBaseURL() const {
    return m_oaBaseURL.ends_with('/') ? m_oaBaseURL : m_oaBaseURL + "/";
}

void OBConfig::loadConfiguration() {
    std::optional<Value> cache = readCache(m_cacheFile);
    if (auto* d = defaults()) d->removeObjectForKey(kFrequencyKey);
    ServerEntry urls[8];
    if (cache) {
        const Value* debug = cache->find("debug_config");
        const Value* level = debug ? debug->find("loglevel") : nullptr;
        m_loglevel = logLevelForConfigValue(level ? level->intValue() : 0);
        if (const Value* capture = debug ? debug->find("capture") : nullptr) m_capture = capture->boolValue();
        const Value* table = cache->find("urls");
        for (int i = 0; i < 8; ++i) urls[i] = serverFrom(table, kServerKeys[i]);
        m_adUnits.clear();
        m_nativeURLHandlers.clear();
        if (debug && debug->dictionary()) {
            if (auto* d = defaults()) {
                d->setObject(*debug, kFrequencyKey);
                d->synchronize();
            }
        }
        if (const Value* units = cache->find("ad_units"); units && units->array())
            for (const Value& element : *units->array()) addAdUnit(element);
        if (const Value* native = cache->find("native_urls"); native && native->array()) {
            for (const Value& handler : *native->array()) m_nativeURLHandlers.push_back(handler.description());
        }
        if (const Value* idle = cache->find("idle_timeout");
            idle && (idle->type() == Value::Type::Integer || idle->type() == Value::Type::Real))
            m_idleTimeoutInterval = idle->doubleValue();
    }
    // Absent or not a URL: the default, in the order the defaults are taken. A refused scheme
    // leaves the server in force (the default when there is none yet).
    auto take = [&](std::string& property, const ServerEntry& cached, std::string (*fallback)()) {
        if (cached.url)
            property = *cached.url;
        else if ((cache && !cached.refused) || property.empty())
            property = fallback();
    };
    take(m_feedbackURL, urls[2], defaultFeedbackURL);
    take(m_configURL, urls[0], defaultConfigURL);
    take(m_oaBaseURL, urls[1], defaultOABaseURL);
    take(m_virtualCurrencyURL, urls[3], defaultVirtualCurrencyURL);
    take(m_advertisingURL, urls[4], defaultAdvertisingURL);
    take(m_analyticsURL, urls[5], defaultAnalyticsURL);
    take(m_instrumentationURL, urls[6], defaultInstrumentationURL);
    take(m_mraidURL, urls[7], defaultMraidURL);
    if (m_nativeURLHandlers.empty()) m_nativeURLHandlers = defaultNativeURLHandlers();
    if (m_idleTimeoutInterval <= 0) m_idleTimeoutInterval = 120.0;
}

void OBConfig::updateConfigurationForEnvironment(OBEnvironment& environment) {
    if (m_isUpdating) return;
    m_isUpdating = true;
    if (OrbadReachability::reachabilityForInternetConnection()->currentReachabilityStatus() == NotReachable) {
        m_isUpdating = false;
        m_tracking->setOfflineSessionCount(m_tracking->offlineSessionCount() + 1);
        m_hasConfigFailed = true;
        m_link->later([](OBConfig& config) { config.notifyObservers(); });
        return;
    }
    const std::string url = m_configURL + configurationQuery(environment, *m_tracking, systemVersion());
    if (!plat::net::isValidURLString(url)) {
        // Never sent: a failed attempt all the same, so nothing waits on it for good.
        requestEnded(kOBNoResponseStatusCode, std::nullopt, false);
        return;
    }
    if (plat::net::isPlaceholderURL(url)) {
        requestEnded(kOBNoResponseStatusCode, std::nullopt, true);
        return;
    }
    auto request = OBHTTPRequest::create(url, m_link);
    request->setMaxResponseLength(kMaxAnswerLength);
    request->startAsynchronous();
}

void OBConfig::requestEnded(int status, std::optional<Value> decoded, bool failed) {
    m_isUpdating = false;
    if (failed) {
        m_tracking->setOfflineSessionCount(m_tracking->offlineSessionCount() + 1);
        m_hasConfigFailed = true;
        std::error_code ignored;
        std::filesystem::remove(m_cacheFile, ignored);
        notifyObservers();
        return;
    }
    // A body that is no object cannot have a key replaced: it counts as undecodable.
    if (status == 200 && decoded && decoded->dictionary()) {
        Value::Dictionary& answer = *decoded->dictionary();
        if (auto alerts = answer.find("app_alerts"); alerts != answer.end())
            m_link->later([alerts = alerts->second](OBConfig& config) { config.handleAppAlerts(alerts); });
        answer.erase("user_agent");
        if (!m_userAgent.empty()) answer["user_agent"] = m_userAgent;
        keepServersIn(answer);
        m_hasConfigFailed = false;
        m_tracking->setIdleSessionTime(0);
        m_tracking->setLastSessionLength(0);
        m_tracking->setOfflineSessionCount(0);
        plat::foundation::writePropertyList(m_cacheFile, *decoded, plat::foundation::PropertyListFormat::Xml);
        loadConfiguration();
    } else {
        m_tracking->setOfflineSessionCount(m_tracking->offlineSessionCount() + 1);
        m_hasConfigFailed = true;
        checkForRepeatedFailure();
    }
    notifyObservers();
}

// The cache keeps the server in force in place of a refused one, so a later start has it too.
void OBConfig::keepServersIn(Value::Dictionary& answer) const {
    auto urls = answer.find("urls");
    if (urls == answer.end() || !urls->second.dictionary()) return;
    const std::string* current[8] = {&m_configURL,      &m_oaBaseURL,    &m_feedbackURL,
                                     &m_virtualCurrencyURL, &m_advertisingURL, &m_analyticsURL,
                                     &m_instrumentationURL, &m_mraidURL};
    for (int i = 0; i < 8; ++i) {
        if (!serverFrom(&urls->second, kServerKeys[i]).refused) continue;
        Value& entry = (*urls->second.dictionary())[kServerKeys[i]];
        plat::foundation::log(
            "orbad: configuration refused: urls.%s is no http or https address (%s); "
            "keeping %s",
            kServerKeys[i], plat::sys::excerpt(entry.description()).c_str(), current[i]->c_str());
        entry = Value(*current[i]);
    }
}

void OBConfig::checkForRepeatedFailure() {
    if (m_tracking->offlineSessionCount() < 9) return;
    std::optional<Value> cache = readCache(m_cacheFile);
    if (!cache) return;
    if (auto urls = cache->dictionary()->find("urls"); urls != cache->dictionary()->end() && urls->second.dictionary())
        (*urls->second.dictionary())["config"] = defaultConfigURL();
    plat::foundation::writePropertyList(m_cacheFile, *cache, plat::foundation::PropertyListFormat::Xml);
    loadConfiguration();
}

void OBConfig::updateUserAgent() {
    RunLoop& main = RunLoop::main();
    if (!main.isCurrentThread()) {
        main.performAndWait([this] { updateUserAgent(); });
        return;
    }
    const std::string version = systemVersion();
    auto* d = defaults();
    if (!m_userAgent.empty() && d && d->stringForKey(kLastSystemVersionKey) == version) return;
    auto view = std::make_shared<plat::ui::WebView>(plat::ui::Rect{0, 0, 10, 10});
    m_userAgent = view->userAgent();
    view.reset();
    if (d) d->setObject(Value(version), kLastSystemVersionKey);
}

void OBConfig::addObserver(OBConfigObserver* observer) {
    plat::foundation::NotificationCenter::defaultCenter().addObserver(
        observer, kOrbadConfigObserverKey, this, [this, observer](const plat::foundation::Notification&) {
            observer->orbadConfigurationUpdated(*this);
        });
}

void OBConfig::removeObserver(OBConfigObserver* observer) {
    plat::foundation::NotificationCenter::defaultCenter().removeObserver(observer, kOrbadConfigObserverKey, this);
}

void OBConfig::notifyObservers() {
    plat::foundation::NotificationCenter::defaultCenter().post(kOrbadConfigObserverKey, {this, "OBConfig"});
}

void OBConfig::log(unsigned long bit, const char* prefix, const char* format, va_list args) const {
    if (!(m_loglevel & bit)) return;
    char small[512];
    va_list copy;
    va_copy(copy, args);
    const int length = std::vsnprintf(small, sizeof small, format, copy);
    va_end(copy);
    if (length < 0) return;
    std::string text(static_cast<std::size_t>(length), '\0');
    if (static_cast<std::size_t>(length) < sizeof small)
        text.assign(small, static_cast<std::size_t>(length));
    else
        std::vsnprintf(text.data(), text.size() + 1, format, args);
    NSLOGForReals(prefix + text);
}

#define OB_LOG_METHOD(name, bit, prefix)                 \
    void OBConfig::name(const char* format, ...) const { \
        va_list args;                                    \
        va_start(args, format);                          \
        log(bit, prefix, format, args);                  \
        va_end(args);                                    \
    }
OB_LOG_METHOD(logError, kOBLogError, "ORBAD_ERROR: ")
OB_LOG_METHOD(logWarning, kOBLogWarning, "ORBAD_WARN: ")
OB_LOG_METHOD(logInfo, kOBLogInfo, "ORBAD_INFO: ")
OB_LOG_METHOD(logDebug, kOBLogDebug, "ORBAD_DEBUG: ")
OB_LOG_METHOD(logVerbose, kOBLogVerbose, "ORBAD_VERBOSE: ")
#undef OB_LOG_METHOD

void OBConfig::NSLOGForReals(const std::optional<std::string>& text) {
    if (text) plat::foundation::logText(*text);
}

long long OBConfig::debugTagFrequency(const std::string& tag) {
    auto* d = defaults();
    std::optional<Value> table = d ? d->objectForKey(kFrequencyKey) : std::nullopt;
    const Value* frequency = table ? table->find(tag) : nullptr;
    return frequency ? frequency->intValue() : -1;
}

}  // namespace orbad
