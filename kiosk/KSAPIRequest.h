// The base of every content-ads request: a signed GET whose JSON envelope ({"error", "response"})
// comes back to a delegate, plus the class-wide facts each request carries (live requests, game
// id, session string, opt-out flag) and the client's small C functions. Main thread.
//
// The registry holds the only lasting reference to a request from requestForApp until finish (an
// unsent request stays). The URL and signed parameters are built at the first send and fixed: the
// application frame (the screen less a shown status bar) turned for the landscape orientations,
// scale, idiom, the device facts' machine, system and first language, "d_ifa" and "tracking" only
// while the facts hold an advertising identifier (the class registry's "ASIdentifierManager"),
// KSNetworkStatus (the --net override alone when set), the session, the game id and a nonce. One
// GET that bypasses the cache, ended by a 10 s timer on the loop's clock, the transfer's own 30 s
// of real time and 1 MB body bound (an answer is a few units) standing behind; a host under
// ".invalid" fails on the next turn; a 5xx answer fails (code 0) whatever its body, so the time in
// game stays counted. Entry points that reach finish hold a strong reference first, and a request
// its delegate cancels when the body arrives reports nothing more. The first use starts the DNS
// diagnostic of the "kiosk.api" and "kiosk.media" servers (a serial queue on the worker pool). The
// session string lives in the non-persistent pasteboard "com.drovik.kiosk.session".
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "kiosk/KSJsonValue.h"
#include "platform/foundation/Error.h"
#include "platform/foundation/RunLoop.h"
#include "platform/net/URLLoading.h"

class KSAPIRequest;

namespace plat::ui {
class Image;
}

// Every operation optional: the client calls only those whose bit the delegate's responds() holds.
class KSAPIRequestDelegate {
public:
    enum : unsigned {
        kRespondsDidSucceed = 1,
        kRespondsDidFail = 2,
        kRespondsDidFinishLoading = 4,
        kRespondsAll = 7,
    };
    virtual ~KSAPIRequestDelegate() = default;
    virtual unsigned responds() const { return kRespondsAll; }
    // `response` is null for nil (a body that is no JSON, or without "response").
    virtual void requestDidSucceedWithResponse(KSAPIRequest&, const KSJsonValue* /*response*/) {}
    virtual void requestDidFailWithError(KSAPIRequest&, const plat::foundation::Error&) {}
    // The whole body has arrived, before it is parsed.
    virtual void requestDidFinishLoading(KSAPIRequest&) {}
};

class KSAPIRequest : public std::enable_shared_from_this<KSAPIRequest> {
public:
    // A new request of class T, registered: the registry keeps it until finish().
    template <class T = KSAPIRequest>
    static std::shared_ptr<T> requestForApp(std::string token, std::string secret) {
        auto request = std::make_shared<T>(std::move(token), std::move(secret));
        registerRequest(request);
        return request;
    }
    KSAPIRequest(std::string token, std::string secret);
    virtual ~KSAPIRequest();
    KSAPIRequest(const KSAPIRequest&) = delete;
    KSAPIRequest& operator=(const KSAPIRequest&) = delete;

    // The class name the log lines and the CLI name.
    virtual const char* className() const { return "KSAPIRequest"; }

    const std::string& token() const { return m_token; }
    const std::string& secret() const { return m_secret; }
    KSAPIRequestDelegate* delegate() const { return m_delegate; }
    // Not owned: the delegate clears itself (cancelAllRequestsWithDelegate) before it goes.
    void setDelegate(KSAPIRequestDelegate* delegate) { m_delegate = delegate; }
    std::int64_t hashCode() const { return m_hashCode; }
    void setHashCode(std::int64_t code) { m_hashCode = code; }

    // Built on the first call (at send) and then fixed.
    virtual const std::string& URL();
    const KSJsonObject& signedParameters();
    std::string signedParameterString();

    // Once; a second send does nothing.
    virtual void send();
    virtual void cancel();
    // Cancels the transfer and leaves the registry; again is harmless.
    virtual void finish();
    bool isSent() const { return m_sent; }

    // --- class-wide ---
    static std::vector<std::shared_ptr<KSAPIRequest>> allRequests();
    static void cancelAllRequestsWithDelegate(const KSAPIRequestDelegate* delegate);
    static std::shared_ptr<KSAPIRequest> requestWithHashCode(std::int64_t code);
    static bool cancelRequestWithHashCode(std::int64_t code);

    static std::string session();
    // nullopt for nil.
    static void setSession(std::optional<std::string> session);
    static bool optOutStatus();
    static void setOptOutStatus(bool optOut);
    static std::string base64SignatureWithString(std::string_view text);
    // The "signature" parameter: the digest of "token:session:gid:nonce:secret".
    static std::string signature(std::string_view token, std::string_view session, std::string_view gid,
                                 std::string_view nonce, std::string_view secret);
    // Where nonces come from (empty: KSStringUtil::uuid()); tests fix them.
    static void setNonceSource(std::function<std::string()> source);

protected:
    // Hooks of the subclasses.
    virtual std::string urlPath() const;
    virtual KSJsonObject additionalParameters() const { return {}; }
    virtual void didSucceedWithResponse(const KSJsonValue* response);
    virtual void didFailWithError(const plat::foundation::Error& error);
    void processRequestResponse(const std::optional<KSJsonValue>& parsed);

private:
    static void registerRequest(std::shared_ptr<KSAPIRequest> request);
    void receivedResponse(const plat::net::Response& response);
    void finishedLoading();
    void failed(const plat::foundation::Error& error);

    std::string m_token;
    std::string m_secret;
    std::optional<std::string> m_url;
    std::optional<KSJsonObject> m_signedParameters;
    plat::net::Connection m_connection;
    plat::foundation::Timer m_timeout;
    std::vector<std::uint8_t> m_data;
    int m_status = 0;  // the HTTP status of the answer being received
    bool m_sent = false;
    bool m_finished = false;
    KSAPIRequestDelegate* m_delegate = nullptr;
    std::int64_t m_hashCode = 0;
};

// The error domain and texts of the client's own errors.
inline constexpr const char* kKioskErrorDomain = "KioskSDK";
plat::foundation::Error KSCreateError(int code);
// The game id of the installation ("KioskGID" in the standard defaults, made at the first call
// for them).
std::string KSGID();
// 0 none, 1 cellular, 2 Wi-Fi.
int KSNetworkStatus();
// An embedded image record (little-endian 32-bit width, height and byte count, then premultiplied
// RGBA rows, top first) as an image of scale 1; null when the record is short or inconsistent.
std::shared_ptr<plat::ui::Image> convertByteDataToUIImage(const std::uint8_t* record, std::size_t size);
// nil (nullptr) stays nil; else "%@" of the value.
std::optional<std::string> KSAgnosticStringValue(const KSJsonValue* value);

namespace kiosk {

inline constexpr const char* kVersion = "1.12.1";

// "[Kiosk-1.12.1] message" on standard error, or to the hook when one is set (tests, the CLI);
// logRaw writes without the prefix.
void log(std::string_view message);
void logRaw(std::string_view line);
void setLogHook(std::function<void(std::string_view line)> hook);

// Seconds since 1970 as the client reads them: the host's wall clock, or the one set (a tool
// on virtual time).
double wallNow();
void setWallClock(std::function<double()> clock);

// Told of every HTTP request the client starts (method, address): a tool's trace.
void setRequestHook(std::function<void(const std::string& method, const std::string& url)> hook);
void requestStarted(const std::string& url);

// The device's "hw.machine".
std::string hardware();

// The query string of a request: like stringFromQueryComponents, but "&", "=", "+" and ";" of
// keys and values escaped too, so a value carries no parameter of its own and a "+" is no blank.
std::string requestQueryString(const KSJsonObject& query);

// Resolves the host of the address on a background thread and logs what it finds.
void checkDNSResolutionForURLPath(const std::string& address);
// The host the diagnostic resolves.
std::string dnsHostForURLPath(std::string_view address);

}  // namespace kiosk
