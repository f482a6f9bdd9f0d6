// The content-ads client's URL cache: the platform's memory cache, plus a disk store under
// `diskCachePath` for responses that stay fresh longer than `minCacheInterval`, so content
// templates and precached files load again without the network.
//
// Disk layout: one file per response, named by its cache key, and "cacheInfo.plist", the index: a
// binary property list {"diskUsage": bytes, "accesses": {key: date}, "sizes": {key: bytes}}. A
// response file is a binary property list {"response": data, "sha1": hex digest of data}, the data
// being the binary property list of the response's URL, status, header fields, MIME type, body,
// userInfo and storage policy. Files are written under a temporary name and renamed; the index is
// replaced atomically after them, and reconciled with the directory when loaded, so a crash
// between the two loses nothing that was stored whole.
//
// Freshness is judged when a response is stored: by its status, then Pragma, Cache-Control and
// Expires, then a tenth (in single precision) of its age by Last-Modified. A lookup never checks
// expiry; one whose file fails its digest or names another URL is a miss that removes the entry.
// Disk writes run on a serial queue, each holding work on the loop's clock so a virtual clock waits
// for them. The store is kept whatever system version the device reports, as the platform's own
// cache keeps nothing on disk.
#pragma once

#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "platform/foundation/Queue.h"
#include "platform/foundation/RunLoop.h"
#include "platform/foundation/Value.h"
#include "platform/net/URLCache.h"

class SDURLCache : public plat::net::URLCache {
public:
    // `loop` runs the 5-second maintenance (the main loop when null); `wallClock` gives seconds
    // since 1970 for access dates and expirations (the loop's wall clock: the host's by default).
    SDURLCache(std::size_t memoryCapacity, std::size_t diskCapacity, std::string diskPath,
               plat::foundation::RunLoop* loop = nullptr, std::function<double()> wallClock = {});
    ~SDURLCache() override;

    // "SDURLCache" under the main container's Caches directory.
    static std::string defaultCachePath();
    // "V3_" and the MD5 of the URL text as 32 lower-case hex digits.
    static std::string cacheKeyForURL(std::string_view url);
    // The request without the URL's fragment: every lookup, store and removal uses it.
    static plat::net::Request canonicalRequestForRequest(const plat::net::Request& request);
    // Seconds since 1970 until which a response stays fresh; nullopt when it is not to be cached.
    static std::optional<double> expirationDateFromHeaders(const plat::net::Headers& headers, int status,
                                                           double now);
    // The three HTTP date forms (RFC 1123, asctime, RFC 850) in English and GMT; nullopt otherwise.
    // Two-digit years fall in the eighty years before and twenty after `now`.
    static std::optional<double> dateFromHttpDateString(std::string_view text, double now);

    std::optional<plat::net::CachedURLResponse> cachedResponseForRequest(const plat::net::Request& request) override;
    void storeCachedResponse(const plat::net::CachedURLResponse& response, const plat::net::Request& request) override;
    void removeCachedResponseForRequest(const plat::net::Request& request) override;
    void removeAllCachedResponses() override;
    std::size_t currentDiskUsage() const override;

    bool isCached(std::string_view url);
    // The maintenance step (the timer's): eviction when over capacity, else a dirty index saved.
    void periodicMaintenance();
    // Blocks until every disk job queued so far has run.
    void waitForIO();

    const std::string& diskCachePath() const { return m_diskCachePath; }
    double minCacheInterval() const { return m_minCacheInterval; }
    void setMinCacheInterval(double seconds) { m_minCacheInterval = seconds; }
    bool ignoreMemoryOnlyStoragePolicy() const { return m_ignoreMemoryOnlyStoragePolicy; }
    void setIgnoreMemoryOnlyStoragePolicy(bool ignore) { m_ignoreMemoryOnlyStoragePolicy = ignore; }
    // True only where the platform's own cache keeps responses on disk (none does here).
    bool disabled() const { return m_disabled; }

private:
    double now() const;
    std::string pathFor(const std::string& key) const;
    // The index, loaded (and reconciled with the directory) on first use; call with m_indexMutex.
    plat::foundation::Value::Dictionary& diskCacheInfo();
    void reconcile(plat::foundation::Value::Dictionary& info);
    void scheduleMaintenance();
    void saveCacheInfo();
    void storeToDisk(const plat::net::CachedURLResponse& response, const plat::net::Request& request);
    void removeCachedResponseForCachedKeys(const std::vector<std::string>& keys);
    void balanceDiskUsage();
    // The response in `key`'s file when it reads whole and belongs to `url` (any URL when empty).
    std::optional<plat::net::CachedURLResponse> readResponseFile(const std::string& key, const std::string& url) const;
    void queueIO(std::function<void()> job);

    std::string m_diskCachePath;
    plat::foundation::RunLoop& m_loop;
    std::function<double()> m_wallClock;
    double m_minCacheInterval = 300;
    bool m_ignoreMemoryOnlyStoragePolicy = true;
    bool m_disabled = false;

    mutable std::recursive_mutex m_indexMutex;
    std::optional<plat::foundation::Value::Dictionary> m_diskCacheInfo;
    bool m_diskCacheInfoDirty = false;
    std::size_t m_diskCacheUsage = 0;
    plat::foundation::Timer m_periodicMaintenanceTimer;

    std::mutex m_ioMutex;
    std::condition_variable m_ioIdle;
    int m_ioPending = 0;
    std::atomic<unsigned> m_tempCounter{0};
    std::unique_ptr<plat::foundation::SerialQueue> m_ioQueue;  // last: drained first on destruction
};
