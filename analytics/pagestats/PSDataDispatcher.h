// Sends stored hits to the page-view collector as HTTP/1.1 GETs on one connection, up to 30 in a
// write and 5 writes a dispatch, reads the answers with its own parser, and reports each
// acknowledged hit to its delegate (the tracker), which deletes it. After a 500 or 503 the next
// dispatch waits a random, doubling back-off. Runs on one run loop; no locks.
//
// Every request is built from the stored hit string (one "utmqt="). An HTTP/1.0 status or
// "Connection: close" turns pipelining off for the dispatcher's life. A dispatch ends after
// kProgressTimeout without progress, or at the first thing heard past kDispatchDeadline (real
// time) from its first connection, its unacknowledged hits kept; after a 500 or 503 the next waits
// a share of 2, 4 ... 256 s drawn from the client's seedable random source (a cancellable timer,
// none with an injected socket factory), and dispatchHits is ignored meanwhile.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "analytics/pagestats/PSHTTPResponseParser.h"
#include "analytics/pagestats/PSRecords.h"
#include "analytics/pagestats/PSTCPSocket.h"
#include "platform/foundation/RunLoop.h"
#include "platform/sys/DeviceFacts.h"

class PSDataDispatcher;

class PSDataDispatcherDelegate {
public:
    virtual ~PSDataDispatcherDelegate() = default;
    virtual void dataDispatcherDispatched(PSDataDispatcher& dispatcher, const PSHit& hit) = 0;
    virtual void dataDispatcherDidComplete(PSDataDispatcher& dispatcher) = 0;
};

class PSDataDispatcher : private PSSocketDelegate, private PSHTTPResponseParserDelegate {
public:
    static constexpr std::size_t kMaxHitsPerWrite = 30;
    static constexpr unsigned kMaxWritesPerDispatch = 5;
    static constexpr double kInitialRetryInterval = 2.0;
    static constexpr double kMaxRetryInterval = 256.0;
    // A dispatch that hears nothing for this long (connecting, writing or reading) is finished.
    static constexpr double kProgressTimeout = 60.0;
    // Real seconds a dispatch may take in all, from its first connection, however steadily its
    // answers trickle in.
    static constexpr double kDispatchDeadline = 120.0;
    static constexpr int kDefaultPort = 80;
    static constexpr const char* kServerName = "pagestats.collector";

    using SocketFactory = std::function<std::shared_ptr<PSSocket>(PSSocketDelegate& delegate)>;

    // Reports to `delegate` (not owned) on `loop`; the User-Agent is fixed here.
    PSDataDispatcher(PSDataDispatcherDelegate* delegate, const std::string& product, const std::string& version,
                     plat::foundation::RunLoop& loop = plat::foundation::RunLoop::current());
    ~PSDataDispatcher() override;
    PSDataDispatcher(const PSDataDispatcher&) = delete;
    PSDataDispatcher& operator=(const PSDataDispatcher&) = delete;

    // Starts a dispatch of `hits` (oldest first); ignored while one runs or waits out its retry.
    void dispatchHits(std::vector<PSHit> hits);
    // Ends the running dispatch, or the retry it waits for, without telling the delegate.
    void cancelDispatch();
    // A dispatch runs or waits for its retry.
    bool isBusy() const { return m_dispatching; }
    bool isWaitingToRetry() const { return m_retry.isValid(); }
    // When the dispatch's next timed step is due on the loop's clock (its retry, or its time-out).
    std::optional<double> nextDeadline() const;

    bool pipelineMode() const { return m_pipelineMode; }
    void setPipelineMode(bool on) { m_pipelineMode = on; }
    bool dryRun() const { return m_dryRun; }
    void setDryRun(bool on) { m_dryRun = on; }
    void setDebug(bool on) { m_debug = on; }
    const std::string& userAgent() const { return m_userAgent; }
    int lastStatusCode() const { return m_lastStatusCode; }
    double retryInterval() const { return m_retryInterval; }
    unsigned sequentialRequests() const { return m_sequentialRequests; }
    // The deadline of the dispatches started from now on (tests shorten it).
    void setDispatchDeadline(double seconds) { m_dispatchDeadline = seconds; }
    // Sockets from `factory` from now on; the back-off then waits no time.
    void injectSocketFactory(SocketFactory factory);

    // "PageStats/1.3 (iPhone; U; CPU iPhone OS 6.1 like Mac OS X; en-us)".
    static std::string userAgentFor(const std::string& product, const std::string& version,
                                    const plat::sys::DeviceFacts& facts, const std::string& language,
                                    const std::string& country);
    // The GET of one stored hit, with its queue time as of `nowMillis`.
    static std::string requestForHit(const PSHit& hit, const std::string& host, const std::string& userAgent,
                                     std::int64_t nowMillis);

private:
    void dispatchPendingHits();
    std::string constructRequest();
    void sendData();
    void finishDispatch();
    void closeConnection();
    void armTimeout();
    // Finishes the dispatch when its deadline has passed.
    bool pastDeadline();

    void socketBecameReadable(PSSocket& socket) override;
    void socketConnectDidFail(PSSocket& socket) override;
    void socketConnectDidSucceed(PSSocket& socket) override;
    void parseError(PSHTTPResponseParser& parser, int statusCode) override;
    void responseParsed(PSHTTPResponseParser& parser, bool persistentConnection) override;

    PSDataDispatcherDelegate* m_delegate;
    plat::foundation::RunLoop& m_loop;
    std::shared_ptr<PSSocket> m_socket;
    bool m_pipelineMode = true;
    std::deque<PSHit> m_pendingHits;
    std::string m_pendingRequest;
    unsigned m_hitsDispatched = 0;
    PSHTTPResponseParser m_responseParser;
    SocketFactory m_socketFactory;
    bool m_socketReplaced = false;
    std::string m_userAgent;
    unsigned m_sequentialRequests = 0;
    int m_lastStatusCode = 0;
    double m_retryInterval = kInitialRetryInterval;
    bool m_dryRun = false;
    bool m_debug = false;
    bool m_dispatching = false;
    // Moves whenever a dispatch ends, so a call that returns from the delegate can tell.
    std::uint64_t m_generation = 0;
    plat::foundation::Timer m_retry;
    double m_retryDue = 0;
    plat::foundation::Timer m_timeout;
    double m_timeoutDue = 0;
    double m_dispatchDeadline = kDispatchDeadline;
    double m_dispatchEnd = 0;  // monotonic seconds past which the running dispatch reads no more
};
