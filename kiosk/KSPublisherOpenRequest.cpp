#include "kiosk/KSPublisherOpenRequest.h"

#include <cctype>

#include "kiosk/KSTimeInGame.h"
#include "kiosk/cache/SDURLCache.h"
#include "kiosk/udid/SharedUDID.h"
#include "platform/foundation/DeviceFactsFile.h"
#include "platform/foundation/Log.h"
#include "platform/net/Servers.h"
#include "platform/net/URLCache.h"

namespace {

plat::foundation::TraceCategory kSvc("svc");

constexpr double kPrecacheTimeout = 10.0;
// What the shared cache keeps of one address at most (a tenth of its disk).
constexpr std::size_t kPrecacheMaxLength = 1024 * 1024;

void installURLCache() {
    static bool done = [] {
        plat::net::URLCache::setShared(std::make_shared<SDURLCache>(1048576, 10485760, SDURLCache::defaultCachePath(),
                                                                    nullptr, kiosk::wallNow));
        return true;
    }();
    (void)done;
}

// Precache loads: nothing reads them but the shared cache. They keep themselves until done.
void precache(const std::string& url) {
    plat::net::Request request;
    request.url = url;
    request.cachePolicy = plat::net::kReturnCacheDataElseLoad;
    request.timeout = kPrecacheTimeout;
    request.deadline = kPrecacheTimeout;
    request.maxBodyLength = kPrecacheMaxLength;
    auto connection = std::make_shared<plat::net::Connection>();
    std::weak_ptr<plat::net::Connection> weak = connection;
    auto keep = std::make_shared<std::shared_ptr<plat::net::Connection>>(connection);
    plat::net::ConnectionHandlers handlers;
    handlers.didFinish = [keep] { plat::foundation::mainAsync([keep] { keep->reset(); }); };
    handlers.didFail = [keep](const plat::foundation::Error&) { plat::foundation::mainAsync([keep] { keep->reset(); }); };
    kiosk::requestStarted(request.url);
    *connection = plat::net::Connection::start(std::move(request), std::move(handlers));
}

}  // namespace

std::shared_ptr<KSPublisherOpenRequest> KSPublisherOpenRequest::requestForApp(std::string token, std::string secret) {
    installURLCache();
    return KSAPIRequest::requestForApp<KSPublisherOpenRequest>(std::move(token), std::move(secret));
}

KSPublisherOpenRequest::KSPublisherOpenRequest(std::string token, std::string secret)
    : KSAPIRequest(std::move(token), std::move(secret)) {
    installURLCache();
}

std::string KSPublisherOpenRequest::urlPath() const {
    return plat::net::serverURL("kiosk.api", plat::net::serverBase("kiosk.api"), "/v3/publisher/open/");
}

KSJsonObject KSPublisherOpenRequest::additionalParameters() const {
    KSJsonObject parameters;
    if (m_customUDID) parameters.set("d_custom", *m_customUDID);
    parameters.set("d_odid", SharedUDID::value());
    if (!optOutStatus())
        if (std::optional<std::string> mac = getMACAddress()) parameters.set("d_mac", *mac);
    KSTimeInGame& time = KSTimeInGame::getInstance();
    parameters.set("scount", time.getCountSessions());
    parameters.set("ssum", static_cast<std::int64_t>(time.getSumSessionDuration()));
    return parameters;
}

void KSPublisherOpenRequest::send() {
    // The secret signs requests; it never appears in a trace.
    plat::foundation::trace(kSvc, [&] { return "kiosk open " + token(); });
    bool first = !isSent();
    KSAPIRequest::send();
    if (first) KSTimeInGame::getInstance().gameSessionStarted();
}

void KSPublisherOpenRequest::didSucceedWithResponse(const KSJsonValue* response) {
    std::shared_ptr<KSAPIRequest> self = shared_from_this();
    const KSJsonObject* object = response ? response->object() : nullptr;
    if (object) {
        if (const KSJsonValue* urls = object->find("precache"); urls && urls->array())
            for (const KSJsonValue& url : *urls->array())
                if (url.string()) precache(*url.string());
        if (const KSJsonValue* session = object->find("session"); session && session->string())
            setSession(*session->string());
    }
    if (delegate() && (delegate()->responds() & KSAPIRequestDelegate::kRespondsDidSucceed))
        delegate()->requestDidSucceedWithResponse(*this, response);
    // What the server never read (an error page parses to nothing) stays counted.
    if (object) KSTimeInGame::getInstance().resetCounters();
    finish();
}

std::optional<std::string> getMACAddress() {
    std::string mac = plat::foundation::deviceFacts().macAddress;
    std::string digits;
    for (char c : mac)
        if (std::isxdigit(static_cast<unsigned char>(c))) digits += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (digits.size() != 12) {
        kiosk::log("Error: if_nametoindex error\n");
        return std::nullopt;
    }
    return digits;
}
