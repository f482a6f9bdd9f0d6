#include "kiosk/KSAPIRequest.h"

#include <arpa/inet.h>
#include <netdb.h>

#include <algorithm>
#include <cstdio>
#include <mutex>

#include "kiosk/KSJsonParser.h"
#include "kiosk/KSStringUtil.h"
#include "platform/foundation/Bundle.h"
#include "platform/foundation/DeviceFactsFile.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/Pasteboard.h"
#include "platform/foundation/Queue.h"
#include "platform/foundation/UTF8.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/net/Reachability.h"
#include "platform/net/Servers.h"
#include "platform/net/URLCache.h"
#include "platform/sys/ClassRegistry.h"
#include "platform/sys/Device.h"
#include "platform/ui/Image.h"
#include "platform/ui/StatusBar.h"

namespace {

using plat::foundation::Error;

constexpr double kRequestTimeout = 10.0;
// The transfer's own limit on the whole exchange, in real time: a backstop behind the timer on
// the loop's clock.
constexpr double kTransferBackstop = 30.0;
// An answer is a JSON envelope of a few content units; one longer is refused before it is parsed.
constexpr std::size_t kMaxAnswerLength = 1024 * 1024;
constexpr const char* kGIDKey = "KioskGID";
constexpr const char* kOptOutKey = "KioskOptOutStatus";

std::vector<std::shared_ptr<KSAPIRequest>>& registry() {
    static std::vector<std::shared_ptr<KSAPIRequest>> requests;
    return requests;
}

constexpr const char* kSessionPasteboard = "com.drovik.kiosk.session";

std::mutex g_sessionMutex;
std::optional<std::string> g_session;
bool g_sessionRead = false;

std::function<std::string()> g_nonceSource;
// Never destroyed: the DNS diagnostic's lookups may still log while the process exits.
std::mutex& logMutex() {
    static auto* mutex = new std::mutex;
    return *mutex;
}
std::function<void(std::string_view)>& logHook() {
    static auto* hook = new std::function<void(std::string_view)>;
    return *hook;
}

// The class's first use starts the DNS diagnostic of its two servers, once.
void classFirstUsed() {
    static bool done = [] {
        plat::sys::registerClass("ASIdentifierManager",
                                 [] { return !plat::foundation::deviceFacts().advertisingIdentifier.empty(); });
        kiosk::checkDNSResolutionForURLPath(plat::net::serverBase("kiosk.api"));
        kiosk::checkDNSResolutionForURLPath(plat::net::serverBase("kiosk.media"));
        return true;
    }();
    (void)done;
}

KSDecimal decimal(double value) {
    return KSDecimal::fromDouble(value);
}

std::string bundleInfoString(std::string_view key) {
    const plat::foundation::Value* value = plat::foundation::Bundle::mainInfoValue(key);
    const std::string* text = value ? value->string() : nullptr;
    return text ? *text : std::string();
}

}  // namespace

KSAPIRequest::KSAPIRequest(std::string token, std::string secret)
    : m_token(std::move(token)), m_secret(std::move(secret)) {
    classFirstUsed();
}

KSAPIRequest::~KSAPIRequest() = default;

void KSAPIRequest::registerRequest(std::shared_ptr<KSAPIRequest> request) {
    registry().push_back(std::move(request));
}

std::string KSAPIRequest::urlPath() const {
    return plat::net::serverBase("kiosk.api");
}

const KSJsonObject& KSAPIRequest::signedParameters() {
    if (m_signedParameters) return *m_signedParameters;
    plat::sys::Rect frame = plat::ui::applicationFrame();
    int orientation = plat::sys::Device::current().orientation();
    bool landscape = orientation == plat::sys::kDeviceOrientationLandscapeLeft ||
                     orientation == plat::sys::kDeviceOrientationLandscapeRight;
    double width = landscape ? frame.height : frame.width;
    double height = landscape ? frame.width : frame.height;

    plat::sys::DeviceFacts facts = plat::foundation::deviceFacts();
    KSJsonObject parameters;
    if (plat::sys::hasClass("ASIdentifierManager")) {
        parameters.set("d_ifa", facts.advertisingIdentifier);
        parameters.set("tracking", facts.advertisingTrackingEnabled);
    }
    for (const auto& [key, value] : additionalParameters()) parameters.set(key, value);

    std::string nonce = KSStringUtil::uuid(g_nonceSource);
    std::string currentSession = session();
    std::string gid = KSGID();
    std::string version = bundleInfoString("CFBundleVersion");
    parameters.set("token", m_token);
    parameters.set("signature", signature(m_token, currentSession, gid, nonce, m_secret));
    parameters.set("nonce", nonce);
    parameters.set("app", bundleInfoString("CFBundleIdentifier"));
    parameters.set("app_version", version.empty() ? std::string("NA") : version);
    parameters.set("hardware", facts.machine);
    parameters.set("os", facts.systemName + " " + facts.systemVersion);
    parameters.set("idiom", plat::sys::Device::current().userInterfaceIdiom());
    parameters.set("connection", KSNetworkStatus());
    parameters.set("sdk-ios", kiosk::kVersion);
    if (!facts.languages.empty()) parameters.set("languages", facts.languages.front());
    parameters.set("session", currentSession);
    parameters.set("gid", gid);
    parameters.set("width", decimal(width));
    parameters.set("height", decimal(height));
    parameters.set("scale", decimal(plat::sys::Screen::main().scale()));
    m_signedParameters = std::move(parameters);
    return *m_signedParameters;
}

std::string KSAPIRequest::signedParameterString() {
    return kiosk::requestQueryString(signedParameters());
}

const std::string& KSAPIRequest::URL() {
    if (!m_url) m_url = urlPath() + "?" + signedParameterString();
    return *m_url;
}

void KSAPIRequest::send() {
    if (m_sent) return;
    m_sent = true;
    kiosk::log("Sending request: " + URL());
    plat::net::Request request;
    request.url = URL();
    request.timeout = kTransferBackstop;
    request.deadline = kTransferBackstop;
    request.maxBodyLength = kMaxAnswerLength;
    request.cachePolicy = plat::net::kReloadIgnoringLocalCacheData;
    std::weak_ptr<KSAPIRequest> weak = weak_from_this();
    if (plat::net::isPlaceholderURL(request.url)) {
        plat::foundation::RunLoop::current().perform([weak] {
            auto self = weak.lock();
            if (!self || self->m_finished) return;
            Error error{plat::net::kURLErrorDomain, plat::net::kURLErrorCannotFindHost,
                        plat::net::describeURLError(plat::net::kURLErrorCannotFindHost), {}};
            self->failed(error);
        });
        return;
    }
    plat::net::ConnectionHandlers handlers;
    handlers.didReceiveResponse = [weak](const plat::net::Response& response) {
        if (auto self = weak.lock()) self->receivedResponse(response);
    };
    handlers.didReceiveData = [weak](const std::uint8_t* data, std::size_t size) {
        if (auto self = weak.lock()) self->m_data.insert(self->m_data.end(), data, data + size);
    };
    handlers.didFinish = [weak] {
        if (auto self = weak.lock()) self->finishedLoading();
    };
    handlers.didFail = [weak](const Error& error) {
        if (auto self = weak.lock()) self->failed(error);
    };
    m_timeout = plat::foundation::RunLoop::current().addTimer(kRequestTimeout, [weak] {
        auto self = weak.lock();
        if (!self) return;
        self->m_connection.cancel();
        Error error{plat::net::kURLErrorDomain, plat::net::kURLErrorTimedOut,
                    plat::net::describeURLError(plat::net::kURLErrorTimedOut), {}};
        error.userInfo = plat::foundation::Value::Dictionary{
            {plat::net::kURLErrorFailingURLStringErrorKey, plat::foundation::Value(self->URL())}};
        self->failed(error);
    });
    kiosk::requestStarted(request.url);
    m_connection = plat::net::Connection::start(std::move(request), std::move(handlers));
}

void KSAPIRequest::receivedResponse(const plat::net::Response& response) {
    char line[64];
    std::snprintf(line, sizeof line, "Request recieved HTTP response: %d", response.status);
    kiosk::log(line);
    m_status = response.status;
    m_data.clear();
}

void KSAPIRequest::finishedLoading() {
    // The delegate may cancel this request from any of its calls: keep it alive to the end.
    std::shared_ptr<KSAPIRequest> self = shared_from_this();
    m_timeout.invalidate();
    kiosk::log("Request finished!");
    if (m_delegate && (m_delegate->responds() & KSAPIRequestDelegate::kRespondsDidFinishLoading)) {
        m_delegate->requestDidFinishLoading(*this);
        // Cancelled there: no outcome follows.
        if (m_finished) return;
    }
    // A server error is no answer, whatever its body says (an error page may well parse).
    if (m_status >= 500 && m_status <= 599) {
        kiosk::log("Error response: HTTP " + std::to_string(m_status));
        didFailWithError(KSCreateError(0));
        return;
    }
    const std::string_view text(reinterpret_cast<const char*>(m_data.data()), m_data.size());
    KSJsonParser parser;
    std::optional<KSJsonValue> parsed =
        plat::foundation::utf8::valid(text) ? parser.objectWithString(text) : std::nullopt;
    processRequestResponse(parsed);
}

void KSAPIRequest::processRequestResponse(const std::optional<KSJsonValue>& parsed) {
    const KSJsonObject* envelope = parsed ? parsed->object() : nullptr;
    const KSJsonValue* error = envelope ? envelope->find("error") : nullptr;
    if (error && !error->isNull()) {
        kiosk::log("Error response: " + kiosk::agnosticText(error));
        didFailWithError(KSCreateError(0));
        return;
    }
    const KSJsonValue* response = envelope ? envelope->find("response") : nullptr;
    didSucceedWithResponse(response && !response->isNull() ? response : nullptr);
}

void KSAPIRequest::failed(const Error& error) {
    std::shared_ptr<KSAPIRequest> self = shared_from_this();
    m_timeout.invalidate();
    kiosk::log("Request failed with error: " + error.message);
    didFailWithError(error);
    finish();
}

void KSAPIRequest::didSucceedWithResponse(const KSJsonValue* response) {
    std::shared_ptr<KSAPIRequest> self = shared_from_this();
    if (m_delegate && (m_delegate->responds() & KSAPIRequestDelegate::kRespondsDidSucceed))
        m_delegate->requestDidSucceedWithResponse(*this, response);
    finish();
}

void KSAPIRequest::didFailWithError(const Error& error) {
    std::shared_ptr<KSAPIRequest> self = shared_from_this();
    if (m_delegate && (m_delegate->responds() & KSAPIRequestDelegate::kRespondsDidFail))
        m_delegate->requestDidFailWithError(*this, error);
    finish();
}

void KSAPIRequest::cancel() {
    kiosk::log(std::string(className()) + " canceled!");
    finish();
}

void KSAPIRequest::finish() {
    m_finished = true;
    m_connection.cancel();
    m_timeout.invalidate();
    auto& requests = registry();
    auto at = std::find_if(requests.begin(), requests.end(), [this](const auto& r) { return r.get() == this; });
    if (at == requests.end()) return;
    // The registry's reference may be the last: let it go after the erase has finished.
    std::shared_ptr<KSAPIRequest> last = std::move(*at);
    requests.erase(at);
}

std::vector<std::shared_ptr<KSAPIRequest>> KSAPIRequest::allRequests() {
    return registry();
}

void KSAPIRequest::cancelAllRequestsWithDelegate(const KSAPIRequestDelegate* delegate) {
    std::vector<std::shared_ptr<KSAPIRequest>> matching;
    for (const auto& request : registry())
        if (request->m_delegate == delegate) matching.push_back(request);
    for (const auto& request : matching) request->cancel();
}

std::shared_ptr<KSAPIRequest> KSAPIRequest::requestWithHashCode(std::int64_t code) {
    for (const auto& request : registry())
        if (request->m_hashCode == code) return request;
    return nullptr;
}

bool KSAPIRequest::cancelRequestWithHashCode(std::int64_t code) {
    std::shared_ptr<KSAPIRequest> request = requestWithHashCode(code);
    if (!request) return false;
    request->cancel();
    return true;
}

std::string KSAPIRequest::session() {
    std::lock_guard lock(g_sessionMutex);
    if (!g_sessionRead) {
        g_sessionRead = true;
        std::unique_ptr<plat::foundation::Pasteboard> board = plat::foundation::Pasteboard::named(kSessionPasteboard, false);
        g_session = board ? board->string().value_or(std::string()) : std::string();
    }
    return g_session.value_or(std::string());
}

void KSAPIRequest::setSession(std::optional<std::string> value) {
    std::lock_guard lock(g_sessionMutex);
    g_sessionRead = true;
    if (value == g_session) return;
    // Not persistent: the session lasts as long as the process that opened it.
    if (std::unique_ptr<plat::foundation::Pasteboard> board = plat::foundation::Pasteboard::named(kSessionPasteboard, true))
        board->setString(value.value_or(std::string()));
    g_session = std::move(value);
}

bool KSAPIRequest::optOutStatus() {
    plat::foundation::UserDefaults* defaults = plat::foundation::UserDefaults::standard();
    return defaults && defaults->boolForKey(kOptOutKey);
}

void KSAPIRequest::setOptOutStatus(bool optOut) {
    if (plat::foundation::UserDefaults* defaults = plat::foundation::UserDefaults::standard()) {
        defaults->setBool(optOut, kOptOutKey);
        defaults->synchronize();
    }
}

std::string KSAPIRequest::base64SignatureWithString(std::string_view text) {
    return KSStringUtil::b64DigestForString(text);
}

std::string KSAPIRequest::signature(std::string_view token, std::string_view session, std::string_view gid,
                                    std::string_view nonce, std::string_view secret) {
    std::string text;
    for (std::string_view part : {token, session, gid, nonce}) {
        text += part;
        text += ':';
    }
    text += secret;
    return base64SignatureWithString(text);
}

void KSAPIRequest::setNonceSource(std::function<std::string()> source) {
    g_nonceSource = std::move(source);
}

Error KSCreateError(int code) {
    static const char* const kTexts[] = {
        "Kiosk received an error response from the API. Please check your token and secret values and try again.",
        "Response was successful, but did not contain a response object.",
        "The content you requested was not able to be shown because it is missing required orientation data.",
        "The content you requested has been dismissed because Kiosk was not able to load content data.",
        "Kiosk was not able to create the content unit overlay",
        "Kiosk was not able to get product information from Apple",
        "This error is for simulating an IAP error in the simulator",
    };
    std::string text = code >= 0 && code < static_cast<int>(std::size(kTexts)) ? kTexts[code] : "";
    return Error{kKioskErrorDomain, code, std::move(text), {}};
}

std::string KSGID() {
    // Read once for each defaults: a second start on another home has the id of its own.
    static plat::foundation::UserDefaults* cachedFrom = nullptr;
    static std::optional<std::string> cached;
    plat::foundation::UserDefaults* defaults = plat::foundation::UserDefaults::standard();
    if (cached && cachedFrom == defaults) return *cached;
    std::optional<std::string> stored = defaults ? defaults->stringForKey(kGIDKey) : std::nullopt;
    if (!stored) {
        stored = KSStringUtil::uuid();
        if (defaults) {
            defaults->setObject(plat::foundation::Value(*stored), kGIDKey);
            defaults->synchronize();
        }
    }
    cached = stored;
    cachedFrom = defaults;
    return *cached;
}

int KSNetworkStatus() {
    using namespace plat::net;
    if (std::optional<NetOverride> over = netOverride())
        return *over == NetOverride::WiFi ? 2 : *over == NetOverride::WWAN ? 1 : 0;
    std::uint32_t flags = Reachability(ReachabilityTarget::Internet).flags().value_or(0);
    if (!(flags & kReachable) || (flags & kConnectionRequired)) return 0;
    if (flags & kIsWWAN) return 1;
    NetworkState state;
    if (!readNetworkState(state)) return 0;
    for (const NetworkInterface& interface : state.interfaces)
        if (interface.up && !interface.loopback && !interface.ipv4.empty()) return 2;
    return 0;
}

std::shared_ptr<plat::ui::Image> convertByteDataToUIImage(const std::uint8_t* record, std::size_t size) {
    auto word = [&](std::size_t at) {
        return std::uint32_t(record[at]) | std::uint32_t(record[at + 1]) << 8 | std::uint32_t(record[at + 2]) << 16 |
               std::uint32_t(record[at + 3]) << 24;
    };
    if (!record || size < 12) return nullptr;
    const std::uint64_t width = word(0), height = word(4), bytes = word(8);
    if (width == 0 || height == 0 || width > 4096 || height > 4096 || bytes != width * height * 4 || size - 12 < bytes)
        return nullptr;
    return plat::ui::Image::fromPremultipliedRGBA(static_cast<int>(width), static_cast<int>(height), record + 12,
                                                  "embedded");
}

std::optional<std::string> KSAgnosticStringValue(const KSJsonValue* value) {
    if (!value) return std::nullopt;
    return kiosk::agnosticText(value);
}

namespace kiosk {

void log(std::string_view message) {
    logRaw(std::string("[Kiosk-") + kVersion + "] " + std::string(message));
}

void logRaw(std::string_view line) {
    std::lock_guard lock(logMutex());
    if (logHook()) {
        logHook()(line);
        return;
    }
    // The platform's log: one whole line on standard error, seen by whoever waits for a line.
    plat::foundation::logText(line);
}

void setLogHook(std::function<void(std::string_view line)> hook) {
    std::lock_guard lock(logMutex());
    logHook() = std::move(hook);
}

namespace {
std::function<double()> g_wallClock;
std::function<void(const std::string&, const std::string&)> g_requestHook;
}

void setRequestHook(std::function<void(const std::string& method, const std::string& url)> hook) {
    g_requestHook = std::move(hook);
}

void requestStarted(const std::string& url) {
    if (g_requestHook) g_requestHook("GET", url);
}

double wallNow() {
    return g_wallClock ? g_wallClock() : plat::foundation::Clock::wallSeconds();
}

void setWallClock(std::function<double()> clock) {
    g_wallClock = std::move(clock);
}

std::string hardware() {
    return plat::foundation::deviceFacts().machine;
}

std::string requestQueryString(const KSJsonObject& query) {
    auto encode = [](std::string_view text) {
        std::string out;
        for (char c : text) {
            switch (c) {
                case '&': out += "%26"; break;
                case '=': out += "%3D"; break;
                case '+': out += "%2B"; break;
                case ';': out += "%3B"; break;
                default: out += stringByEncodingURLFormat(std::string_view(&c, 1));
            }
        }
        return out;
    };
    std::string out;
    for (const auto& [key, value] : query) {
        auto pair = [&](const KSJsonValue& element) {
            if (!out.empty()) out += '&';
            out += encode(key);
            out += '=';
            out += encode(agnosticText(&element));
        };
        if (const KSJsonArray* values = value.array())
            for (const KSJsonValue& element : *values) pair(element);
        else
            pair(value);
    }
    return out;
}

std::string dnsHostForURLPath(std::string_view address) {
    plat::net::ServerAddress parsed;
    if (!plat::net::parseServerAddress(address, 80, parsed)) return std::string();
    std::string host = parsed.host;
    if (host.size() >= 2 && host.front() == '[' && host.back() == ']') host = host.substr(1, host.size() - 2);
    return host;
}

void checkDNSResolutionForURLPath(const std::string& address) {
    std::string host = dnsHostForURLPath(address);
    if (host.empty()) return;
    // One lookup at a time: a silent resolver holds a single worker of the pool, never all of them.
    static auto* lookups = new plat::foundation::SerialQueue("kiosk.dns");
    lookups->async([host] {
        addrinfo hints{};
        hints.ai_family = AF_INET;
        hints.ai_socktype = SOCK_STREAM;
        addrinfo* found = nullptr;
        if (getaddrinfo(host.c_str(), nullptr, &hints, &found) != 0 || !found) {
            logRaw("Could not resolve " + host);
            return;
        }
        for (addrinfo* at = found; at; at = at->ai_next) {
            char dotted[INET_ADDRSTRLEN] = "";
            inet_ntop(AF_INET, &reinterpret_cast<sockaddr_in*>(at->ai_addr)->sin_addr, dotted, sizeof dotted);
            logRaw("Resolved " + host + " -> " + dotted);
        }
        freeaddrinfo(found);
    });
}

}  // namespace kiosk
