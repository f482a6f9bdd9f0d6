#include "analytics/pagestats/PSDataDispatcher.h"

#include <algorithm>

#include "analytics/pagestats/PSUtils.h"
#include "analytics/trackwell/TrackwellEnvironment.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/DeviceFactsFile.h"
#include "platform/net/Servers.h"

using plat::foundation::RunLoop;

namespace {

struct Collector {
    std::string host;
    int port = PSDataDispatcher::kDefaultPort;
};

Collector collector() {
    Collector out;
    plat::net::ServerAddress address;
    if (plat::net::parseServerAddress(plat::net::serverBase(PSDataDispatcher::kServerName),
                                      PSDataDispatcher::kDefaultPort, address)) {
        out.host = address.host;
        out.port = address.port;
    }
    return out;
}

}  // namespace

PSDataDispatcher::PSDataDispatcher(PSDataDispatcherDelegate* delegate, const std::string& product,
                                   const std::string& version, RunLoop& loop)
    : m_delegate(delegate), m_loop(loop), m_responseParser(this),
      m_socketFactory([&loop](PSSocketDelegate& socketDelegate) { return PSTCPSocket::create(socketDelegate, loop); }),
      m_userAgent(userAgentFor(product, version, plat::foundation::deviceFacts(), PSUtils::systemLanguage(),
                               PSUtils::systemCountry())) {}

PSDataDispatcher::~PSDataDispatcher() {
    cancelDispatch();
}

std::string PSDataDispatcher::userAgentFor(const std::string& product, const std::string& version,
                                           const plat::sys::DeviceFacts& facts, const std::string& language,
                                           const std::string& country) {
    return product + "/" + version + " (" + facts.model + "; U; CPU " + facts.systemName + " " + facts.systemVersion +
           " like Mac OS X; " + language + "-" + country + ")";
}

std::string PSDataDispatcher::requestForHit(const PSHit& hit, const std::string& host, const std::string& userAgent,
                                            std::int64_t nowMillis) {
    // Always from the stored string: a hit written again carries one queue time, not two.
    return "GET " + PSUtils::addQueueTimeParameter(hit.hitString(), nowMillis) + " HTTP/1.1\r\nHost: " + host +
           "\r\nUser-Agent: " + userAgent + "\r\n\r\n";
}

void PSDataDispatcher::injectSocketFactory(SocketFactory factory) {
    m_socketFactory = std::move(factory);
    m_socketReplaced = true;
}

std::optional<double> PSDataDispatcher::nextDeadline() const {
    if (m_retry.isValid()) return m_retryDue;
    if (m_timeout.isValid()) return m_timeoutDue;
    return std::nullopt;
}

void PSDataDispatcher::dispatchHits(std::vector<PSHit> hits) {
    if (m_dispatching || m_socket) return;
    m_dispatching = true;
    m_pendingHits.assign(std::make_move_iterator(hits.begin()), std::make_move_iterator(hits.end()));
    m_sequentialRequests = 0;
    m_hitsDispatched = 0;
    double delay = 0;
    if (m_lastStatusCode == 500 || m_lastStatusCode == 503) {
        const float unit = static_cast<float>(dk::trackwell::random32() & 0x7FFFFFFF) * (1.0f / 2147483648.0f);
        delay = static_cast<float>(m_retryInterval) * unit;
        if (m_retryInterval < kMaxRetryInterval) m_retryInterval *= 2;
    } else {
        m_retryInterval = kInitialRetryInterval;
    }
    if (m_socketReplaced || delay == 0) {
        dispatchPendingHits();
        return;
    }
    m_retryDue = m_loop.now() + delay;
    m_retry = m_loop.addTimer(delay, [this] {
        m_retry.invalidate();
        dispatchPendingHits();
    });
}

void PSDataDispatcher::cancelDispatch() {
    m_retry.invalidate();
    closeConnection();
    m_pendingHits.clear();
    m_dispatching = false;
    ++m_generation;
}

void PSDataDispatcher::armTimeout() {
    m_timeoutDue = m_loop.now() + kProgressTimeout;
    m_timeout = m_loop.addTimer(kProgressTimeout, [this] {
        PSUtils::log("Dispatch timed out");
        finishDispatch();
    });
}

void PSDataDispatcher::dispatchPendingHits() {
    m_pendingRequest = constructRequest();
    m_responseParser.reset();
    if (++m_sequentialRequests == 1)
        m_dispatchEnd = plat::foundation::Clock::monotonicSeconds() + m_dispatchDeadline;
    if (m_socket) {
        sendData();
        return;
    }
    const Collector target = collector();
    m_socket = m_socketFactory(*this);
    armTimeout();
    m_socket->connect(target.host, target.port);
}

std::string PSDataDispatcher::constructRequest() {
    const std::string host = collector().host;
    const std::size_t count = std::min(m_pendingHits.size(), m_pipelineMode ? kMaxHitsPerWrite : std::size_t{1});
    const std::int64_t now = PSUtils::currentTimeMillis();
    std::string text;
    for (std::size_t i = 0; i < count; ++i) {
        std::string request = requestForHit(m_pendingHits[i], host, m_userAgent, now);
        if (m_debug) PSUtils::log(request);
        text += request;
    }
    return text;
}

void PSDataDispatcher::sendData() {
    if (m_dryRun) {
        const std::uint64_t generation = m_generation;
        const std::size_t count = std::min(m_pendingHits.size(), m_pipelineMode ? kMaxHitsPerWrite : std::size_t{1});
        for (std::size_t i = 0; i < count; ++i) {
            PSHit hit = std::move(m_pendingHits.front());
            m_pendingHits.pop_front();
            m_delegate->dataDispatcherDispatched(*this, hit);
            if (generation != m_generation) return;
        }
        if (!m_pendingHits.empty() && m_sequentialRequests < kMaxWritesPerDispatch)
            dispatchPendingHits();
        else
            finishDispatch();
        return;
    }
    if (m_socket->send(m_pendingRequest.data(), m_pendingRequest.size()) < 0) finishDispatch();
}

// Real time, checked as the collector is heard: a trickle of bytes, each in time for the progress
// time-out, holds a virtual clock still (nothing is ever due) and would hold the dispatch for as
// long as the collector likes.
bool PSDataDispatcher::pastDeadline() {
    if (plat::foundation::Clock::monotonicSeconds() < m_dispatchEnd) return false;
    PSUtils::log("Dispatch ran past its deadline");
    finishDispatch();
    return true;
}

void PSDataDispatcher::socketConnectDidSucceed(PSSocket&) {
    if (pastDeadline()) return;
    armTimeout();
    sendData();
}

void PSDataDispatcher::socketConnectDidFail(PSSocket&) {
    finishDispatch();
}

void PSDataDispatcher::socketBecameReadable(PSSocket& socket) {
    if (pastDeadline()) return;
    char buffer[1024];
    const long n = socket.read(buffer, sizeof buffer);
    if (n == PSSocket::kNothingYet) return;
    if (n <= 0) {
        finishDispatch();
        return;
    }
    armTimeout();
    m_responseParser.parseResponse(buffer, static_cast<std::size_t>(n));
}

void PSDataDispatcher::parseError(PSHTTPResponseParser&, int statusCode) {
    m_lastStatusCode = statusCode;
    finishDispatch();
}

void PSDataDispatcher::responseParsed(PSHTTPResponseParser&, bool persistentConnection) {
    m_lastStatusCode = 200;
    ++m_hitsDispatched;
    if (!m_pendingHits.empty()) {
        const std::uint64_t generation = m_generation;
        PSHit hit = std::move(m_pendingHits.front());
        m_pendingHits.pop_front();
        m_delegate->dataDispatcherDispatched(*this, hit);
        if (generation != m_generation) return;
    }
    if (!persistentConnection) m_pipelineMode = false;
    if (m_pendingHits.empty()) {
        finishDispatch();
        return;
    }
    if (m_pipelineMode) {
        if (m_hitsDispatched % kMaxHitsPerWrite != 0) return;
    } else {
        closeConnection();
    }
    if (m_sequentialRequests < kMaxWritesPerDispatch)
        dispatchPendingHits();
    else
        finishDispatch();
}

void PSDataDispatcher::closeConnection() {
    m_timeout.invalidate();
    if (m_socket) {
        m_socket->close();
        m_socket.reset();
    }
    m_pendingRequest.clear();
}

void PSDataDispatcher::finishDispatch() {
    closeConnection();
    m_responseParser.reset();
    m_pendingHits.clear();
    m_dispatching = false;
    ++m_generation;
    m_delegate->dataDispatcherDidComplete(*this);
}
