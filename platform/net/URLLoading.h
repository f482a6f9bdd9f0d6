// URL loading on libcurl: requests, responses, errors with the platform's codes, asynchronous
// connections on a run loop, and a synchronous send.
//
// Connection::start runs one load on a curl multi handle of its own: curl's sockets and its timer (a
// timerfd of real time) are fd sources of the loop (the starting thread's by default), and the load
// holds a WorkInFlight on that loop's clock. curl's callbacks only queue events; they are handed to
// the handlers once curl has returned, checking before each that the load was not cancelled, so a
// handler may cancel or drop its own connection, and nothing is called after cancel() on the loop's
// thread. Redirects are followed here, not by curl (303, and 301/302 after a POST, become GETs;
// Authorization stays with its host), so willRedirect can stop at one, whose response is then the
// final one. The time-out is idle time and the deadline (300 s unless set) bounds the whole load,
// redirects included; both are real time, so a virtual clock's jumps never time a load out (-1001).
// curl's defaults the platform lacks are removed ("Expect: 100-continue", a form content type on
// bodies sent without one). Responses are inflated but never past maxBodyLength (32 MB unless set):
// the first byte over stops curl and fails the load with -1103; a request that ignoresBody asks for
// no decoding, so a gzip bomb costs only its compressed bytes. Inflating is done here, not by curl,
// which takes a gzip or deflate stream cut before its end for a whole one. A response head over
// 256 KB, or a header line over curl's bound, fails with -1011; so does what would hand out a cut,
// misread or unreadable body as a whole one: a Content-Length that is not one decimal number a
// length holds, or fields that disagree; a body short of its length or its last chunk, a coded
// body without its end (gzip without its trailer), a coding other than gzip and deflate, and an
// answer without a status line. A failure found before curl
// runs (-1000 for an address that is not absolute) is handed out by posted work, not a timer, so a
// thread turning its loop once per input wakes for it. Cookies are never kept; peers are always
// verified, DROVIK_CA_FILE adding certificates to the system's.
//
// sendSynchronous runs a load on a private loop with a real clock; networkLoop() is a LoopThread for
// loads whose handlers must not run on the caller's thread. Codes: -1 unknown, -999 cancelled, -1000
// bad URL, -1001 timed out, -1002 unsupported, -1003 host not found, -1004 cannot connect, -1005
// connection lost, -1007 redirect loop, -1011 bad response, -1103 body past its bound, -1200/-1202
// TLS.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/foundation/Error.h"

namespace plat::foundation {
class RunLoop;
}

namespace plat::net {

// Header fields in the order given or received; names compare without regard to case.
using Headers = std::vector<std::pair<std::string, std::string>>;
// The value of the first field of that name; null when there is none.
const std::string* findHeader(const Headers& headers, std::string_view name);
// Replaces every field of that name with one field (appended when there was none).
void setHeader(Headers& headers, std::string_view name, std::string value);
void removeHeader(Headers& headers, std::string_view name);

inline constexpr double kDefaultTimeout = 60.0;
// What a load may take as a whole, and the body it may deliver, when its request names no bound of
// its own. Clients set theirs from what their answers carry (docs/ARCHITECTURE.md lists them).
inline constexpr double kDefaultDeadline = 300.0;
inline constexpr std::size_t kDefaultMaxBodyLength = std::size_t(32) << 20;

struct Request {
    std::string url;
    std::string method;  // empty: GET
    Headers headers;
    std::vector<std::uint8_t> body;  // sent unless the method is GET or HEAD
    // Seconds without progress (connecting, sending, receiving) before the load fails with
    // kURLErrorTimedOut, measured in real time whatever the run loop's clock; 0 or less: 60.
    double timeout = kDefaultTimeout;
    // Real seconds from the start to the end of the whole load, redirects included, however
    // steadily bytes arrive; past it the load fails with kURLErrorTimedOut. 0 or less: the default.
    double deadline = kDefaultDeadline;
    // The most body bytes, counted after inflation, that the load takes in (a redirect's body held
    // for the hook included); one more fails it with kURLErrorDataLengthExceedsMaximum.
    std::size_t maxBodyLength = kDefaultMaxBodyLength;
    // The caller reads no body: it is not inflated, delivered, held or cached, only read to its end.
    bool ignoresBody = false;
    // The platform's cache policy (URLCache.h): 2 and 3 answer a GET from the shared cache when it
    // holds one, 3 failing with kURLErrorResourceUnavailable when it does not.
    int cachePolicy = 0;

    void setBody(std::string_view text) { body.assign(text.begin(), text.end()); }
};

struct Response {
    int status = 0;
    std::string url;  // the address that gave this response: the last of a redirect chain
    Headers headers;
    bool fromCache = false;  // answered by the shared URL cache, no request made

    const std::string* header(std::string_view name) const { return findHeader(headers, name); }
    // From Content-Type: "text/html" and its charset ("utf-8"); empty when not given.
    std::string mimeType() const;
    std::string textEncodingName() const;
};

// The platform's URL error domain and codes.
inline constexpr const char* kURLErrorDomain = "NSURLErrorDomain";
enum URLErrorCode : int {
    kURLErrorUnknown = -1,
    kURLErrorCancelled = -999,
    kURLErrorBadURL = -1000,
    kURLErrorTimedOut = -1001,
    kURLErrorUnsupportedURL = -1002,
    kURLErrorCannotFindHost = -1003,
    kURLErrorCannotConnectToHost = -1004,
    kURLErrorNetworkConnectionLost = -1005,
    kURLErrorHTTPTooManyRedirects = -1007,
    kURLErrorResourceUnavailable = -1008,
    kURLErrorBadServerResponse = -1011,
    kURLErrorFileDoesNotExist = -1100,
    kURLErrorDataLengthExceedsMaximum = -1103,
    kURLErrorSecureConnectionFailed = -1200,
    kURLErrorServerCertificateUntrusted = -1202,
};

// A failed load's error: this domain, one of these codes, the platform's wording for the code as
// its message, and the address that failed in userInfo under this key.
using Error = plat::foundation::Error;
inline constexpr const char* kURLErrorFailingURLStringErrorKey = "NSErrorFailingURLStringKey";
inline std::string failingURL(const Error& error) {
    const std::string* url = error.infoString(kURLErrorFailingURLStringErrorKey);
    return url ? *url : std::string();
}

// The platform's description of a URL error code ("The request timed out.").
std::string describeURLError(int code);

// What a connection reports. Every member may be empty. A load ends with exactly one of
// didFinish and didFail, after at most one didReceiveResponse and any number of didReceiveData.
struct ConnectionHandlers {
    // Before a redirect is followed, with the request that would be sent and the redirect
    // response; false stops there: that response and its body are delivered as the final ones.
    // Redirects are followed without asking when this is empty.
    std::function<bool(const Request& next, const Response& redirect)> willRedirect;
    std::function<void(const Response&)> didReceiveResponse;
    std::function<void(const std::uint8_t* data, std::size_t size)> didReceiveData;
    std::function<void()> didFinish;
    std::function<void(const Error&)> didFail;
};

// A running load; destroying the handle cancels it. A GET that completes is offered to the shared
// URL cache (storage allowed), whatever its status: the cache decides. Cookies are never stored or sent; TLS
// peers are always verified, against the system's certificates plus those of the PEM file
// named by DROVIK_CA_FILE (for tests); responses in gzip or deflate arrive inflated (unless the
// request ignores its body), never more of it than the request's bound. While a
// load runs it counts as work in flight on its run loop's clock, so a virtual clock waits for it.
class [[nodiscard]] Connection {
public:
    // Starts the load on `loop` (null: the calling thread's current loop); the handlers are
    // called there, never from inside start(). From another thread than the loop's, the start
    // is posted to the loop, which must be alive then.
    static Connection start(Request request, ConnectionHandlers handlers, plat::foundation::RunLoop* loop = nullptr);

    Connection() = default;
    Connection(Connection&&) noexcept;
    Connection& operator=(Connection&&) noexcept;
    ~Connection() { cancel(); }

    // No handler is called after this returns, when called on the loop's thread (from inside a
    // handler too). From another thread, handlers not yet begun are not called, and the loop
    // (which must still be alive) releases the transfer on its next turn.
    void cancel();
    // Started and not yet finished, failed or cancelled.
    bool isRunning() const;

    struct Impl;

private:
    explicit Connection(std::shared_ptr<Impl> impl) : m_impl(std::move(impl)) {}
    std::shared_ptr<Impl> m_impl;
};

// A run loop on a thread of its own, for connections whose handlers must not run on the
// caller's thread. Made on first use; lives as long as the process.
plat::foundation::RunLoop& networkLoop();

struct SyncResult {
    std::optional<Response> response;  // when one arrived (also with a 404)
    std::vector<std::uint8_t> data;
    std::optional<Error> error;  // set when the load failed
};

// Sends the request on the calling thread and blocks until it has finished or failed (the
// request's timeout applies between arrivals). Runs a private loop: nothing else of the caller's
// loop runs. `limit` bounds the whole exchange in real seconds, so a server trickling a byte now
// and then cannot hold the caller either; past it the load fails as timed out.
SyncResult sendSynchronous(const Request& request,
                           std::function<bool(const Request& next, const Response& redirect)> willRedirect = {},
                           double limit = std::numeric_limits<double>::infinity());

}  // namespace plat::net
