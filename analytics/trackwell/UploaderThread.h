// Sends the metrics store's staged blobs, gzip-compressed, to the two collectors, and has the store
// delete what was sent once at least one of them accepted it. One upload at a time, on the main
// run loop.
//
// The body is the staged rows alone (exactly what a delivery deletes), gzip (zlib, window bits 31)
// with a fixed Content-Length. The answer's body is ignored; the uploader's own kRequestTimeout
// timer on the loop's clock cancels a request, the request's real-time deadline being a backstop.
// A collector's 2xx, or a 4xx other than 408 and 429, took the body, and one taker suffices; a
// redirect is never followed (the answer counts only from the collector's own address), so a 3xx,
// like a 1xx, a status past 599, a 408, 429 or 5xx or a failure, took nothing. A body that cannot
// be compressed is not sent: everything stays stored. A delivered upload whose deletion the store
// refuses keeps its claim and retries each second on the loop's clock, kDeletionAttempts times,
// then lets go (its rows go again: at least once). Collectors under ".invalid" (the built-in
// placeholders) fail at once, leaving nothing in flight on a loop whose virtual clock would wait
// for it. The completion traces "upload accepted=N failed=M" under "analytics" when a collector
// was tried.
#pragma once

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/foundation/RunLoop.h"
#include "platform/net/URLLoading.h"

class TrackwellDatabase;

class UploaderThread {
public:
    using Data = std::vector<std::uint8_t>;

    // Log texts, as the hook receives them.
    static constexpr const char* kAlreadyInProgress = "Upload already in progress.  Aborting.";
    static constexpr const char* kBeginning = "Beginning upload process";
    static constexpr const char* kNoNewEvents = "Abandoning upload. There are no new events.";
    static constexpr const char* kUploadData = "Upload data:";
    static constexpr const char* kSpawning = "Spawning new thread for upload";
    static constexpr const char* kDeletionDeferred = "Uploaded data could not be deleted yet; trying again.";
    // Seconds an upload's request may take before the uploader gives it up.
    static constexpr double kRequestTimeout = 60.0;
    // Tries at deleting what was delivered, and the seconds between them.
    static constexpr int kDeletionAttempts = 10;
    static constexpr double kDeletionRetryDelay = 1.0;

    // The uploader of the shared store (the main container's), on the main run loop.
    static UploaderThread& sharedUploaderThread();

    // `database` outlives the uploader; connections run and report on `loop`.
    UploaderThread(TrackwellDatabase& database, plat::foundation::RunLoop& loop);
    virtual ~UploaderThread();
    UploaderThread(const UploaderThread&) = delete;
    UploaderThread& operator=(const UploaderThread&) = delete;

    // Starts an upload unless one is under way; the key travels in the header blob, not here. From
    // another thread than the loop's, the start is posted to the loop.
    void uploaderThreadwithApplicationKey(std::string_view key);
    // Posts `body` to one collector (an origin such as "http://host:8888").
    void uploadeTo(const std::string& url, const Data& body);
    // gzip of `data` (empty stays empty); nullopt when the deflate stream cannot be set up.
    virtual std::optional<Data> gzipDeflatedDataWithData(const Data& data);

    bool isUploading() const { return m_isUploading.load(); }
    void setIsUploading(bool uploading) { m_isUploading.store(uploading); }
    int responseStatusCode() const { return m_responseStatusCode; }
    int sentRequest() const { return m_sentRequest; }

    // The collectors' origins, in posting order, from platform/net's server bases.
    static std::vector<std::string> collectorURLs();

private:
    struct Request;
    void finished(Request* request, bool success);
    void complete();
    void deleteDelivered(int attemptsLeft);
    void end();

    TrackwellDatabase& m_database;
    plat::foundation::RunLoop& m_loop;
    std::atomic<bool> m_isUploading{false};
    int m_responseStatusCode = 0;
    int m_sentRequest = 0;
    int m_successRecivedRequests = 0;
    bool m_starting = false;  // the requests are being started: none completes the upload yet
    std::vector<std::unique_ptr<Request>> m_requests;
    plat::foundation::Timer m_deletionRetry;
};
