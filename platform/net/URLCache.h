// The platform's URL cache: responses kept in memory (least recently used out first), consulted by
// URL loading for GET requests whose cache policy reads local data, and offered every complete
// answer to a GET. Subclasses add stores of their own by overriding the four operations.
//
// A GET whose policy reads the cache is answered from it (Response::fromCache set); with
// kReturnCacheDataDontLoad and nothing cached it fails with kURLErrorResourceUnavailable. Every
// complete GET whose body the caller reads is offered with storage allowed, or not allowed when a
// Cache-Control field says "no-store" (no cache keeps such an answer); the cache decides.
#pragma once

#include <cstddef>
#include <cstdint>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/Value.h"
#include "platform/net/URLLoading.h"

namespace plat::net {

// How a request uses the cache: the platform's numbers.
enum CachePolicy : int {
    kUseProtocolCachePolicy = 0,
    kReloadIgnoringLocalCacheData = 1,
    kReturnCacheDataElseLoad = 2,
    kReturnCacheDataDontLoad = 3,
    kReloadIgnoringLocalAndRemoteCacheData = 4,
    kReloadRevalidatingCacheData = 5,
};
// Whether a load with this policy asks the cache before the network.
inline bool cachePolicyReadsCache(int policy) {
    return policy == kReturnCacheDataElseLoad || policy == kReturnCacheDataDontLoad;
}

enum StoragePolicy : int { kStorageAllowed = 0, kStorageAllowedInMemoryOnly = 1, kStorageNotAllowed = 2 };

struct CachedURLResponse {
    Response response;  // URL, status, header fields
    std::string mimeType;
    std::vector<std::uint8_t> data;
    plat::foundation::Value userInfo;
    int storagePolicy = kStorageAllowed;

    std::size_t cost() const;
};

class URLCache {
public:
    URLCache(std::size_t memoryCapacity, std::size_t diskCapacity, std::string diskPath);
    virtual ~URLCache() = default;
    URLCache(const URLCache&) = delete;
    URLCache& operator=(const URLCache&) = delete;

    // The cache URL loading uses; a memory-only one of 4 MB until set. Null switches caching off.
    static std::shared_ptr<URLCache> shared();
    static void setShared(std::shared_ptr<URLCache> cache);

    virtual std::optional<CachedURLResponse> cachedResponseForRequest(const Request& request);
    virtual void storeCachedResponse(const CachedURLResponse& response, const Request& request);
    virtual void removeCachedResponseForRequest(const Request& request);
    virtual void removeAllCachedResponses();
    virtual std::size_t currentDiskUsage() const { return 0; }

    std::size_t currentMemoryUsage() const;
    std::size_t memoryCapacity() const { return m_memoryCapacity; }
    std::size_t diskCapacity() const { return m_diskCapacity; }
    const std::string& diskPath() const { return m_diskPath; }

private:
    using Order = std::list<std::string>;
    struct Entry {
        CachedURLResponse response;
        Order::iterator position;
    };

    std::size_t m_memoryCapacity, m_diskCapacity;
    std::string m_diskPath;
    mutable std::mutex m_mutex;
    std::map<std::string, Entry> m_entries;
    Order m_order;  // most recently used first
    std::size_t m_usage = 0;
};

}  // namespace plat::net
