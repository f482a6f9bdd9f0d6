#include "analytics/trackwell/UploaderThread.h"

#include <zlib.h>

#include <cctype>
#include <cstdio>
#include <memory>

#include "analytics/trackwell/TrackwellDatabase.h"
#include "analytics/trackwell/TrackwellEnvironment.h"
#include "platform/foundation/Log.h"
#include "platform/net/Servers.h"

namespace {

plat::foundation::TraceCategory kAnalytics("analytics");

constexpr const char* kCollectorNames[] = {"trackwell.collector.1", "trackwell.collector.2"};
constexpr int kCollectorPort = 8888;
constexpr std::size_t kDeflateChunk = 16384;

void logFormatted(const char* format, int code, const char* text = nullptr) {
    char line[512];
    if (text)
        std::snprintf(line, sizeof line, format, code, text);
    else
        std::snprintf(line, sizeof line, format, code);
    dk::trackwell::logMessage(line);
}

// A 2xx took the body. A collector that timed out the request (408) or is shedding load (429) has
// not taken it any more than one that failed (5xx): the events wait for the next upload. Other 4xx
// answers are final, so a body a collector will never take does not stay for ever. A 3xx (never
// followed: a portal or a login page would answer the POST made a GET), a 1xx and a status outside
// the protocol's range took nothing.
bool isDelivered(int status) {
    if (status >= 200 && status <= 299) return true;
    return status >= 400 && status <= 499 && status != 408 && status != 429;
}

}  // namespace

// One collector's request. It stays until the next upload begins: its connection or timer may be
// the caller on the stack when it finishes.
struct UploaderThread::Request {
    plat::net::Connection connection;
    plat::foundation::Timer timeout;
    int status = 0;  // its own answer's: the other collector may answer while this body still comes
    bool done = false;
};

UploaderThread::UploaderThread(TrackwellDatabase& database, plat::foundation::RunLoop& loop)
    : m_database(database), m_loop(loop) {}

UploaderThread::~UploaderThread() {
    m_loop.cancelPerforms(this);
}

std::vector<std::string> UploaderThread::collectorURLs() {
    std::vector<std::string> urls;
    for (const char* name : kCollectorNames) {
        std::string base = plat::net::serverBase(name);
        plat::net::ServerAddress address;
        urls.push_back(plat::net::parseServerAddress(base, kCollectorPort, address) ? address.origin() : base);
    }
    return urls;
}

void UploaderThread::uploaderThreadwithApplicationKey(std::string_view key) {
    // The requests, the timer and the counters belong to the loop: a start from elsewhere goes there.
    if (!m_loop.isCurrentThread()) {
        m_loop.performAfter(0, this, [this, key = std::string(key)] { uploaderThreadwithApplicationKey(key); });
        return;
    }
    if (m_sentRequest != 0 || isUploading() || !m_database.claimUpload()) {
        dk::trackwell::logMessage(kAlreadyInProgress);
        return;
    }
    dk::trackwell::logMessage(kBeginning);
    setIsUploading(true);
    m_requests.clear();

    // Staged rows only: they are what a delivery deletes. Rows another process sharing the store
    // added since this one staged would be sent now yet kept, and sent again by the next upload.
    std::string text = m_database.stagedUploadBlobString();
    if (text.empty()) {
        dk::trackwell::logMessage(kNoNewEvents);
        complete();
        return;
    }
    dk::trackwell::logMessage(kUploadData);
    dk::trackwell::logMessage(text);
    std::optional<Data> body = gzipDeflatedDataWithData(Data(text.begin(), text.end()));
    if (!body) {
        // An empty body would be answered, and a 4xx then counts as delivered: keep everything.
        dk::trackwell::logMessage("Abandoning upload. The upload data could not be compressed.");
        end();
        return;
    }
    m_starting = true;
    for (const std::string& url : collectorURLs()) uploadeTo(url, *body);
    m_starting = false;
    if (m_sentRequest <= 0) complete();
}

void UploaderThread::uploadeTo(const std::string& url, const Data& body) {
    plat::net::Request request;
    request.url = url;
    request.method = "POST";
    request.timeout = kRequestTimeout;  // a backstop: the uploader's own timer ends the request first
    request.deadline = kRequestTimeout;
    request.ignoresBody = true;  // only the status counts
    request.headers = {{"Content-Type", "application/x-gzip"},
                       {"Content-Encoding", "gzip"},
                       {"Content-Length", std::to_string(body.size())}};
    request.body = body;

    auto owned = std::make_unique<Request>();
    Request* r = owned.get();
    m_requests.push_back(std::move(owned));
    ++m_sentRequest;

    plat::net::ConnectionHandlers handlers;
    // Only the collector's own answer counts: its redirect is the final answer, not followed.
    handlers.willRedirect = [](const plat::net::Request&, const plat::net::Response&) { return false; };
    handlers.didReceiveResponse = [this, r](const plat::net::Response& response) {
        m_responseStatusCode = r->status = response.status;
    };
    handlers.didFinish = [this, r] {
        const int status = r->status;
        if (!isDelivered(status)) {
            logFormatted("Upload failed with response status code %d", status);
            finished(r, false);
        } else {
            logFormatted("Upload completed successfully. Response code %d", status);
            finished(r, true);
        }
    };
    handlers.didFail = [this, r](const plat::net::Error& error) {
        logFormatted("Error Uploading.  Code: %d,  Description: %s", error.code, error.message.c_str());
        finished(r, false);
    };
    dk::trackwell::logMessage(kSpawning);
    // Names under .invalid never resolve (RFC 6761): such a collector (the built-in placeholders)
    // fails at once, with nothing left in flight on the loop.
    plat::net::ServerAddress address;
    if (plat::net::parseServerAddress(url, kCollectorPort, address) && plat::net::isPlaceholderHost(address.host)) {
        logFormatted("Error Uploading.  Code: %d,  Description: %s", plat::net::kURLErrorCannotFindHost,
                     plat::net::describeURLError(plat::net::kURLErrorCannotFindHost).c_str());
        finished(r, false);
        return;
    }
    r->timeout = m_loop.addTimer(kRequestTimeout, [this, r] {
        r->connection.cancel();
        logFormatted("Error Uploading.  Code: %d,  Description: %s", plat::net::kURLErrorTimedOut,
                     plat::net::describeURLError(plat::net::kURLErrorTimedOut).c_str());
        finished(r, false);
    });
    r->connection = plat::net::Connection::start(std::move(request), std::move(handlers), &m_loop);
}

void UploaderThread::finished(Request* request, bool success) {
    if (request->done) return;
    request->done = true;
    request->connection.cancel();
    request->timeout.invalidate();
    if (success) ++m_successRecivedRequests;
    if (--m_sentRequest <= 0 && !m_starting) complete();
}

void UploaderThread::complete() {
    // An upload with nothing to send reached no collector: nothing to report.
    if (!m_requests.empty())
        plat::foundation::tracef(kAnalytics, "upload accepted=%d failed=%d", m_successRecivedRequests,
                                 static_cast<int>(m_requests.size()) - m_successRecivedRequests);
    m_responseStatusCode = 0;
    const bool delivered = m_successRecivedRequests > 0;
    m_sentRequest = 0;
    m_successRecivedRequests = 0;
    if (delivered)
        deleteDelivered(kDeletionAttempts);
    else
        end();
}

// Delivered rows left stored (the store busy past its time-out) would go again with the next
// upload of any process sharing the store: the upload keeps its claim and tries again. A store
// that keeps refusing is let go; its rows are then sent again rather than held back for ever.
void UploaderThread::deleteDelivered(int attemptsLeft) {
    if (m_database.deleteUploadData() || attemptsLeft <= 1) {
        end();
        return;
    }
    dk::trackwell::logMessage(kDeletionDeferred);
    m_deletionRetry =
        m_loop.addTimer(kDeletionRetryDelay, [this, attemptsLeft] { deleteDelivered(attemptsLeft - 1); });
}

void UploaderThread::end() {
    m_database.releaseUpload();
    setIsUploading(false);
}

std::optional<UploaderThread::Data> UploaderThread::gzipDeflatedDataWithData(const Data& data) {
    if (data.empty()) return data;
    z_stream stream{};
    stream.next_in = const_cast<Bytef*>(data.data());
    stream.avail_in = static_cast<uInt>(data.size());
    if (deflateInit2(&stream, Z_DEFAULT_COMPRESSION, Z_DEFLATED, 31, 8, Z_DEFAULT_STRATEGY) != Z_OK)
        return std::nullopt;
    Data out(kDeflateChunk);
    do {
        if (stream.total_out >= out.size()) out.resize(out.size() + kDeflateChunk);
        stream.next_out = out.data() + stream.total_out;
        stream.avail_out = static_cast<uInt>(out.size() - stream.total_out);
        deflate(&stream, Z_FINISH);
    } while (stream.avail_out == 0);
    deflateEnd(&stream);
    out.resize(stream.total_out);
    return out;
}
