#include "platform/net/URLCache.h"

namespace plat::net {

namespace {

std::mutex g_sharedMutex;

std::shared_ptr<URLCache>& sharedSlot() {
    static std::shared_ptr<URLCache> cache = std::make_shared<URLCache>(4 * 1024 * 1024, 0, std::string());
    return cache;
}

}  // namespace

std::size_t CachedURLResponse::cost() const {
    std::size_t total = data.size() + response.url.size() + mimeType.size();
    for (const auto& [name, value] : response.headers) total += name.size() + value.size();
    return total;
}

URLCache::URLCache(std::size_t memoryCapacity, std::size_t diskCapacity, std::string diskPath)
    : m_memoryCapacity(memoryCapacity), m_diskCapacity(diskCapacity), m_diskPath(std::move(diskPath)) {}

std::shared_ptr<URLCache> URLCache::shared() {
    std::lock_guard lock(g_sharedMutex);
    return sharedSlot();
}

void URLCache::setShared(std::shared_ptr<URLCache> cache) {
    std::lock_guard lock(g_sharedMutex);
    sharedSlot() = std::move(cache);
}

std::optional<CachedURLResponse> URLCache::cachedResponseForRequest(const Request& request) {
    std::lock_guard lock(m_mutex);
    auto it = m_entries.find(request.url);
    if (it == m_entries.end()) return std::nullopt;
    m_order.splice(m_order.begin(), m_order, it->second.position);
    return it->second.response;
}

void URLCache::storeCachedResponse(const CachedURLResponse& response, const Request& request) {
    if (response.storagePolicy == kStorageNotAllowed) return;
    const std::size_t cost = response.cost();
    std::lock_guard lock(m_mutex);
    if (auto it = m_entries.find(request.url); it != m_entries.end()) {
        m_usage -= it->second.response.cost();
        m_order.erase(it->second.position);
        m_entries.erase(it);
    }
    // One answer larger than the whole cache would only push everything else out.
    if (cost > m_memoryCapacity) return;
    while (m_usage + cost > m_memoryCapacity && !m_order.empty()) {
        auto oldest = m_entries.find(m_order.back());
        m_usage -= oldest->second.response.cost();
        m_entries.erase(oldest);
        m_order.pop_back();
    }
    m_order.push_front(request.url);
    m_entries.emplace(request.url, Entry{response, m_order.begin()});
    m_usage += cost;
}

void URLCache::removeCachedResponseForRequest(const Request& request) {
    std::lock_guard lock(m_mutex);
    auto it = m_entries.find(request.url);
    if (it == m_entries.end()) return;
    m_usage -= it->second.response.cost();
    m_order.erase(it->second.position);
    m_entries.erase(it);
}

void URLCache::removeAllCachedResponses() {
    std::lock_guard lock(m_mutex);
    m_entries.clear();
    m_order.clear();
    m_usage = 0;
}

std::size_t URLCache::currentMemoryUsage() const {
    std::lock_guard lock(m_mutex);
    return m_usage;
}

}  // namespace plat::net
