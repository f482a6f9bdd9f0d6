// The ad client's one HTTP transport: one-shot requests that report to a delegate, run on a thread
// of their own (or block the caller), and a class-wide registry of the requests under way, through
// which an owner cancels what it started.
//
// A started request is held by the registry until it is cleaned up, so fire-and-forget pings live
// to their end, each holding a task mark on the process clock meanwhile. startAsynchronous runs it
// on a thread of its own, turning that thread's run loop with a platform/net Connection on it;
// startSynchronous turns a private loop on the caller's thread. Delegates are weak, locked for the
// length of a callback. cancel sets atomics and posts a wake to the run's loop, which drops the
// connection. Threads file themselves as ended and are joined by the next start or by
// cancelAllAndWait, which the player and the client's tool call on their way out. Nothing is
// cached. Bodies are bounded by kOBMaxResponseLength (2 MB) unless set, and the whole run by the
// time-out (60 s by default).
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "orbad/core/OrbadJSON.h"
#include "platform/foundation/Clock.h"
#include "platform/net/URLLoading.h"

namespace plat::foundation {
class RunLoop;
}

namespace orbad {

class OBCoreHTTPRequest;

// What a request reports. Called on the thread that ran the request; an operation not overridden
// does nothing.
class OBHTTPRequestDelegate {
public:
    virtual ~OBHTTPRequestDelegate() = default;
    virtual void requestDidFinish(OBCoreHTTPRequest&) {}
    virtual void requestDidFail(OBCoreHTTPRequest&, const Error&) {}
};

// The status of a request without an HTTP response; no status code equals it.
inline constexpr int kOBNoResponseStatusCode = -2147483647;

// The most body, inflated, a request takes in unless set otherwise: an ad answer, a creative's
// picture, a page the browser preloads.
inline constexpr std::size_t kOBMaxResponseLength = std::size_t(2) << 20;

class OBCoreHTTPRequest : public std::enable_shared_from_this<OBCoreHTTPRequest> {
public:
    using FinishSelector = std::function<void(OBHTTPRequestDelegate&, OBCoreHTTPRequest&)>;
    using FailSelector = std::function<void(OBHTTPRequestDelegate&, OBCoreHTTPRequest&, const Error&)>;

    static std::shared_ptr<OBCoreHTTPRequest> create(
        std::string url, const std::shared_ptr<OBHTTPRequestDelegate>& delegate = {});
    virtual ~OBCoreHTTPRequest();
    OBCoreHTTPRequest(const OBCoreHTTPRequest&) = delete;
    OBCoreHTTPRequest& operator=(const OBCoreHTTPRequest&) = delete;

    const std::string& URL() const { return m_URL; }

    // Configuration, before the start. A later value for a header name replaces the earlier one.
    void addRequestHeader(const std::string& name, std::string value);
    const std::string& requestMethod() const { return m_requestMethod; }  // empty: GET
    void setRequestMethod(std::string method) { m_requestMethod = std::move(method); }
    const std::optional<Data>& requestBody() const { return m_requestBody; }
    void setRequestBody(std::optional<Data> body) { m_requestBody = std::move(body); }
    // Bounds the whole run, not only the time without progress: a server trickling bytes cannot
    // hold a request longer.
    double timeoutInterval() const { return m_timeoutInterval; }
    void setTimeoutInterval(double seconds) { m_timeoutInterval = seconds; }
    // Past this many body bytes (inflated) the run fails with kURLErrorDataLengthExceedsMaximum.
    std::size_t maxResponseLength() const { return m_maxResponseLength; }
    void setMaxResponseLength(std::size_t bytes) { m_maxResponseLength = bytes; }
    // For requests whose answer nobody reads (pings, reports): the body is neither inflated nor kept.
    void setIgnoresResponseBody(bool ignores) { m_ignoresResponseBody = ignores; }

    // Held weakly: a delegate that is gone is not called. Any thread.
    std::shared_ptr<OBHTTPRequestDelegate> delegate() const;
    void setDelegate(const std::shared_ptr<OBHTTPRequestDelegate>& delegate);

    // What is called on the delegate; by default requestDidFinish and requestDidFail.
    void setDidFinishSelector(FinishSelector fn);
    void setDidFailSelector(FailSelector fn);
    // A method of a delegate class, called only when the delegate is of that class.
    template <class D>
    void setDidFinishSelector(void (D::*method)(OBCoreHTTPRequest&)) {
        setDidFinishSelector([method](OBHTTPRequestDelegate& d, OBCoreHTTPRequest& r) {
            if (auto* target = dynamic_cast<D*>(&d)) (target->*method)(r);
        });
    }
    template <class D>
    void setDidFailSelector(void (D::*method)(OBCoreHTTPRequest&, const Error&)) {
        setDidFailSelector([method](OBHTTPRequestDelegate& d, OBCoreHTTPRequest& r, const Error& e) {
            if (auto* target = dynamic_cast<D*>(&d)) (target->*method)(r, e);
        });
    }

    // A request runs once: a second start, or one after cancel(), does nothing. The asynchronous
    // start returns at once and calls back on the request's own thread; the registry keeps the
    // request alive until it has ended, so nobody need hold it.
    virtual void startAsynchronous();
    virtual void startSynchronous();
    // Silent: no callback begins afterwards. Any thread; the run ends at its loop's next turn.
    void cancel();

    // From a callback on the request's own thread: runs `fn` on the main run loop and waits for it,
    // the one hand-over of an answer to main-thread state. Given up (`fn` never runs) once the request
    // is cancelled before the main loop has begun it, so a main thread that cancels requests and
    // joins their threads never waits on itself. On the main thread `fn` runs at once.
    void performOnMainAndWait(const std::function<void()>& fn);

    bool isStarted() const { return m_isStarted.load(); }
    bool isFinished() const { return m_isFinished.load(); }
    bool isCancelled() const { return m_isCancelled.load(); }

    // The outcome: written by the run, so read in the callbacks, or once the request has left the
    // registry.
    const std::optional<Error>& error() const { return m_error; }
    const std::optional<plat::net::Response>& response() const { return m_response; }
    const Data& responseData() const { return m_responseData; }
    // The body decoded by the response's charset (UTF-8 when it names none, or one that cannot be
    // converted); bytes that do not decode become U+FFFD.
    std::string responseString() const;
    int responseStatusCode() const { return m_response ? m_response->status : kOBNoResponseStatusCode; }
    const plat::net::Headers* responseHeaders() const { return m_response ? &m_response->headers : nullptr; }

    // ---- the registry ----
    // Every running request with that delegate loses it, then is cancelled.
    static void cancelRequestsForDelegate(const OBHTTPRequestDelegate* delegate);
    // Started and not yet cleaned up.
    static std::vector<std::shared_ptr<OBCoreHTTPRequest>> currentRequests();
    static std::size_t inFlightCount();
    // Request threads waiting in performOnMainAndWait for the main loop to take their call.
    static std::size_t waitingOnMainCount();
    // Cancels every request and joins their threads; false when some thread was still running at
    // the limit (real seconds). For the end of the process.
    static bool cancelAllAndWait(double timeout);

protected:
    explicit OBCoreHTTPRequest(std::string url);

private:
    // Fixes what goes out and enters the registry; false when the request has started or been
    // cancelled already.
    bool buildURLRequest();
    void runOn(plat::foundation::RunLoop& loop);
    void finished();
    void failed(const Error& error);
    void cleanUp();
    // Clears the delegate when it is `delegate`; true when it was.
    bool clearDelegateIf(const OBHTTPRequestDelegate* delegate);

    std::string m_URL;
    std::optional<Error> m_error;
    std::optional<plat::net::Response> m_response;
    Data m_responseData;
    plat::net::Headers m_requestHeaders;
    double m_timeoutInterval = plat::net::kDefaultTimeout;
    std::size_t m_maxResponseLength = kOBMaxResponseLength;
    bool m_ignoresResponseBody = false;
    std::string m_requestMethod;
    std::optional<Data> m_requestBody;

    std::atomic<bool> m_isStarted{false};
    std::atomic<bool> m_isFinished{false};
    std::atomic<bool> m_isCancelled{false};

    // The delegate, the selectors and the loop a run turns, shared with other threads.
    mutable std::mutex m_mutex;
    std::weak_ptr<OBHTTPRequestDelegate> m_delegate;
    const OBHTTPRequestDelegate* m_delegateKey = nullptr;  // identity, still there once it is gone
    FinishSelector m_didFinish;
    FailSelector m_didFail;
    plat::foundation::RunLoop* m_loop = nullptr;

    plat::net::Request m_urlRequest;
    plat::foundation::WorkInFlight m_work;  // from the build to the clean-up
};

// Form posts: "application/x-www-form-urlencoded" bodies.
class OBCoreHTTPFormRequest : public OBCoreHTTPRequest {
public:
    static std::shared_ptr<OBCoreHTTPFormRequest> create(
        std::string url, const std::shared_ptr<OBHTTPRequestDelegate>& delegate = {});

    // A value's description is sent; a later value for a key replaces the earlier in its place.
    void setPostValue(const Value& value, const std::string& key);
    // The body's charset (IANA name); empty until set, then "utf-8" when the body is built.
    const std::string& stringEncoding() const { return m_stringEncoding; }
    void setStringEncoding(std::string charset) { m_stringEncoding = std::move(charset); }

    // POST; without posted values no body and no Content-Type.
    void buildFormDataPostBody();
    void startAsynchronous() override;
    void startSynchronous() override;

protected:
    using OBCoreHTTPRequest::OBCoreHTTPRequest;

private:
    std::optional<std::vector<std::pair<std::string, std::string>>> m_formData;
    std::string m_stringEncoding;
};

// The form encoding of a key or value: its bytes in `charset`, every byte but letters, digits and
// "-._" percent-escaped; empty when the text has no form in that charset.
std::string obURLEncodedStringWithEncoding(std::string_view text, const std::string& charset);

}  // namespace orbad
