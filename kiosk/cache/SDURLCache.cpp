#include "kiosk/cache/SDURLCache.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <ctime>
#include <vector>

#include "platform/crypto/Crypto.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/Container.h"
#include "platform/foundation/FileSystem.h"
#include "platform/foundation/PropertyList.h"
#include "platform/sys/AtomicFile.h"
#include "platform/sys/FileModes.h"

using plat::foundation::Data;
using plat::foundation::Date;
using plat::foundation::PropertyListFormat;
using plat::foundation::Value;
using plat::net::CachedURLResponse;
using plat::net::Headers;
using plat::net::Request;

namespace {

constexpr const char* kIndexName = "cacheInfo.plist";
constexpr const char* kTempMark = ".partial-";

std::string lower(std::string_view text) {
    std::string out(text);
    for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

// ---- HTTP dates ----

struct DateReader {
    std::string_view text;
    std::size_t at = 0;

    bool literal(std::string_view what) {
        if (text.substr(at, what.size()) != what) return false;
        at += what.size();
        return true;
    }
    bool blanks(bool required = true) {
        std::size_t start = at;
        while (at < text.size() && text[at] == ' ') ++at;
        return !required || at > start;
    }
    // Exactly `min` to `max` digits.
    bool number(int min, int max, int& out) {
        int count = 0;
        out = 0;
        while (at < text.size() && count < max && std::isdigit(static_cast<unsigned char>(text[at]))) {
            out = out * 10 + (text[at++] - '0');
            ++count;
        }
        return count >= min;
    }
    // One of `names` (whole, without regard to case); its index.
    bool name(const char* const* names, int count, int& out) {
        std::size_t end = at;
        while (end < text.size() && std::isalpha(static_cast<unsigned char>(text[end]))) ++end;
        const std::string word = lower(text.substr(at, end - at));
        for (int i = 0; i < count; ++i)
            if (word == lower(names[i])) {
                out = i;
                at = end;
                return true;
            }
        return false;
    }
    bool time(int& h, int& m, int& s) {
        return number(2, 2, h) && literal(":") && number(2, 2, m) && literal(":") && number(2, 2, s) && h < 24 &&
               m < 60 && s < 61;
    }
    // GMT and its synonyms only: every HTTP date is in GMT.
    bool zone() { return name(kZones, 3, ignored) && at == text.size(); }
    bool done() const { return at == text.size(); }

    int ignored = 0;
    static constexpr const char* kZones[] = {"GMT", "UTC", "UT"};
};

constexpr const char* kShortDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
constexpr const char* kLongDays[] = {"Sunday", "Monday", "Tuesday", "Wednesday", "Thursday", "Friday", "Saturday"};
constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                   "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

std::optional<double> makeDate(int year, int month, int day, int h, int m, int s) {
    static constexpr int kDays[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (day < 1 || day > kDays[month]) return std::nullopt;
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    if (month == 1 && day == 29 && !leap) return std::nullopt;
    std::tm tm{};
    tm.tm_year = year - 1900;
    tm.tm_mon = month;
    tm.tm_mday = day;
    tm.tm_hour = h;
    tm.tm_min = m;
    tm.tm_sec = s;
    return static_cast<double>(timegm(&tm));
}

// ---- response files ----

Value encodeResponse(const CachedURLResponse& cached) {
    Value::Array headers;
    for (const auto& [name, value] : cached.response.headers) headers.push_back(Value(Value::Array{Value(name), Value(value)}));
    Value::Dictionary dict{{"url", Value(cached.response.url)},
                           {"status", Value(static_cast<int64_t>(cached.response.status))},
                           {"headers", Value(std::move(headers))},
                           {"mimeType", Value(cached.mimeType)},
                           {"body", Value(cached.data)},
                           {"storagePolicy", Value(static_cast<int64_t>(cached.storagePolicy))}};
    if (plat::foundation::isPropertyListValue(cached.userInfo)) dict["userInfo"] = cached.userInfo;
    return Value(std::move(dict));
}

std::optional<CachedURLResponse> decodeResponse(const Value& value) {
    const Value* url = value.find("url");
    const Value* status = value.find("status");
    const Value* headers = value.find("headers");
    const Value* mime = value.find("mimeType");
    const Value* body = value.find("body");
    const Value* policy = value.find("storagePolicy");
    if (!url || !url->string() || !status || !headers || !headers->array() || !mime || !mime->string() || !body ||
        !body->data() || !policy)
        return std::nullopt;
    CachedURLResponse out;
    out.response.url = *url->string();
    out.response.status = static_cast<int>(status->intValue());
    for (const Value& field : *headers->array()) {
        const Value::Array* pair = field.array();
        if (!pair || pair->size() != 2 || !(*pair)[0].string() || !(*pair)[1].string()) return std::nullopt;
        out.response.headers.emplace_back(*(*pair)[0].string(), *(*pair)[1].string());
    }
    out.mimeType = *mime->string();
    out.data = *body->data();
    if (const Value* info = value.find("userInfo")) out.userInfo = *info;
    out.storagePolicy = static_cast<int>(policy->intValue());
    return out;
}

Request requestFor(std::string url) {
    Request request;
    request.url = std::move(url);
    return request;
}

bool isCacheKey(const std::string& name) {
    if (name.size() != 35 || !name.starts_with("V3_")) return false;
    return std::all_of(name.begin() + 3, name.end(), [](char c) { return std::isdigit(static_cast<unsigned char>(c)) || (c >= 'a' && c <= 'f'); });
}

}  // namespace

SDURLCache::SDURLCache(std::size_t memoryCapacity, std::size_t diskCapacity, std::string diskPath,
                       plat::foundation::RunLoop* loop, std::function<double()> wallClock)
    : URLCache(memoryCapacity, diskCapacity, diskPath),
      m_diskCachePath(std::move(diskPath)),
      m_loop(loop ? *loop : plat::foundation::RunLoop::main()),
      m_wallClock(std::move(wallClock)),
      // Decided by what the platform's cache can do, not by the system version a device reports:
      // this platform's cache keeps nothing on disk, so the disk store is always ours.
      m_disabled(false),
      m_ioQueue(std::make_unique<plat::foundation::SerialQueue>("SDURLCache.io")) {}

SDURLCache::~SDURLCache() {
    m_ioQueue.reset();  // waits for the queued writes
    m_periodicMaintenanceTimer.invalidate();
}

double SDURLCache::now() const { return m_wallClock ? m_wallClock() : plat::foundation::Clock::wallSeconds(); }

std::string SDURLCache::defaultCachePath() {
    const plat::foundation::Container* container = plat::foundation::Container::main();
    if (!container) return "./SDURLCache";
    // A Caches folder that cannot be made leaves the cache failing in the home, never at the root.
    const std::string caches = container->cachesPath();
    return (caches.empty() ? container->path() + "/Library/Caches" : caches) + "/SDURLCache";
}

std::string SDURLCache::cacheKeyForURL(std::string_view url) {
    return "V3_" + plat::crypto::hex(plat::crypto::md5(url).value_or(plat::crypto::Bytes(16, 0)));
}

Request SDURLCache::canonicalRequestForRequest(const Request& request) {
    const std::size_t hash = request.url.find('#');
    if (hash == std::string::npos) return request;
    Request copy = request;
    copy.url.resize(hash);
    return copy;
}

std::optional<double> SDURLCache::dateFromHttpDateString(std::string_view text, double now) {
    int weekday, day, month, year, h, m, s;
    {  // "Sun, 06 Nov 1994 08:49:37 GMT"
        DateReader r{text};
        if (r.name(kShortDays, 7, weekday) && r.literal(",") && r.blanks() && r.number(1, 2, day) && r.blanks() &&
            r.name(kMonths, 12, month) && r.blanks() && r.number(4, 4, year) && r.blanks() && r.time(h, m, s) &&
            r.blanks() && r.zone())
            return makeDate(year, month, day, h, m, s);
    }
    {  // "Sun Nov  6 08:49:37 1994"
        DateReader r{text};
        if (r.name(kShortDays, 7, weekday) && r.blanks() && r.name(kMonths, 12, month) && r.blanks() &&
            r.number(1, 2, day) && r.blanks() && r.time(h, m, s) && r.blanks() && r.number(4, 4, year) && r.done())
            return makeDate(year, month, day, h, m, s);
    }
    {  // "Sunday, 06-Nov-94 08:49:37 GMT"
        DateReader r{text};
        if (r.name(kLongDays, 7, weekday) && r.literal(",") && r.blanks() && r.number(2, 2, day) && r.literal("-") &&
            r.name(kMonths, 12, month) && r.literal("-") && r.number(2, 2, year) && r.blanks() && r.time(h, m, s) &&
            r.blanks() && r.zone()) {
            const std::time_t t = static_cast<std::time_t>(now);
            std::tm tm{};
            gmtime_r(&t, &tm);
            const int thisYear = tm.tm_year + 1900;
            const int low = thisYear - 80;  // the century window two-digit years fall in
            int full = low - low % 100 + year;
            if (full < low) full += 100;
            return makeDate(full, month, day, h, m, s);
        }
    }
    return std::nullopt;
}

std::optional<double> SDURLCache::expirationDateFromHeaders(const Headers& headers, int status, double now) {
    static constexpr int kCacheable[] = {200, 203, 300, 301, 302, 307, 410};
    if (std::find(std::begin(kCacheable), std::end(kCacheable), status) == std::end(kCacheable)) return std::nullopt;
    if (const std::string* pragma = plat::net::findHeader(headers, "Pragma"); pragma && *pragma == "no-cache")
        return std::nullopt;

    double base = now;
    if (const std::string* date = plat::net::findHeader(headers, "Date"))
        if (std::optional<double> parsed = dateFromHttpDateString(*date, now)) base = *parsed;

    if (const std::string* control = plat::net::findHeader(headers, "Cache-Control")) {
        const std::string text = lower(*control);
        if (text.find("no-store") != std::string::npos) return std::nullopt;
        if (std::size_t at = text.find("max-age"); at != std::string::npos) {
            at += 7;
            if (at < text.size() && text[at] == '=') ++at;
            while (at < text.size() && std::isspace(static_cast<unsigned char>(text[at]))) ++at;
            const char* start = text.c_str() + at;
            char* end = nullptr;
            const long long maxAge = std::strtoll(start, &end, 10);
            if (end != start && (std::isdigit(static_cast<unsigned char>(*start)) || *start == '-' || *start == '+')) {
                if (maxAge < 1) return std::nullopt;
                return base + static_cast<double>(maxAge);
            }
        }
    }

    if (const std::string* expires = plat::net::findHeader(headers, "Expires")) {
        std::optional<double> when = dateFromHttpDateString(*expires, now);
        if (!when || *when <= base) return std::nullopt;
        return now + (*when - base);
    }
    if (status == 302 || status == 307) return std::nullopt;
    const std::string* modified = plat::net::findHeader(headers, "Last-Modified");
    if (!modified) return base + 3600;
    std::optional<double> lastModified = dateFromHttpDateString(*modified, now);
    if (!lastModified || *lastModified >= base) return std::nullopt;
    // The heuristic's factor is a single-precision 0.1, as it always was.
    return now + static_cast<double>(0.1f) * (base - *lastModified);
}

std::string SDURLCache::pathFor(const std::string& key) const { return m_diskCachePath + "/" + key; }

void SDURLCache::queueIO(std::function<void()> job) {
    {
        std::lock_guard lock(m_ioMutex);
        ++m_ioPending;
    }
    // A virtual clock does not jump past a write under way.
    auto work = std::make_shared<plat::foundation::WorkInFlight>(m_loop.clock().beginWork());
    m_ioQueue->async([this, job = std::move(job), work] {
        job();
        work->end();
        std::lock_guard lock(m_ioMutex);
        if (--m_ioPending == 0) m_ioIdle.notify_all();
    });
}

void SDURLCache::waitForIO() {
    std::unique_lock lock(m_ioMutex);
    m_ioIdle.wait(lock, [&] { return m_ioPending == 0; });
}

Value::Dictionary& SDURLCache::diskCacheInfo() {
    if (!m_diskCacheInfo) {
        std::optional<Value> stored = plat::foundation::readPropertyList(m_diskCachePath + "/" + kIndexName);
        Value::Dictionary info;
        if (stored && stored->dictionary()) info = *stored->dictionary();
        if (!info["accesses"].dictionary()) info["accesses"] = Value(Value::Dictionary{});
        if (!info["sizes"].dictionary()) info["sizes"] = Value(Value::Dictionary{});
        reconcile(info);
        m_diskCacheInfo = std::move(info);
        m_diskCacheUsage = static_cast<std::size_t>((*m_diskCacheInfo)["diskUsage"].intValue());
        scheduleMaintenance();
    }
    return *m_diskCacheInfo;
}

// The index against the directory: a lost index, or a crash between a file's rename and the index
// save, would otherwise leave files never served, never evicted, past the capacity.
void SDURLCache::reconcile(Value::Dictionary& info) {
    Value::Dictionary& accesses = *info["accesses"].dictionary();
    Value::Dictionary& sizes = *info["sizes"].dictionary();
    Value::Dictionary keptAccesses, keptSizes;
    const std::int64_t oldUsage = info["diskUsage"].intValue();
    bool changed = false;
    if (DIR* dir = opendir(m_diskCachePath.c_str())) {
        while (dirent* entry = readdir(dir)) {
            const std::string name = entry->d_name;
            if (name == "." || name == ".." || name == kIndexName) continue;
            const std::string path = pathFor(name);
            struct stat st {};
            if (stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
            if (!isCacheKey(name) || !readResponseFile(name, {})) {
                // Temporaries of writes that never finished, and files that do not read whole.
                std::remove(path.c_str());
                changed = true;
                continue;
            }
            auto access = accesses.find(name);
            if (access != accesses.end() && access->second.date()) {
                keptAccesses[name] = access->second;
            } else {
                keptAccesses[name] = Value(Date{static_cast<double>(st.st_mtim.tv_sec) + st.st_mtim.tv_nsec / 1e9});
                changed = true;
            }
            keptSizes[name] = Value(static_cast<int64_t>(st.st_size));
            auto size = sizes.find(name);
            if (size == sizes.end() || size->second.intValue() != st.st_size) changed = true;
        }
        closedir(dir);
    }
    if (keptAccesses.size() != accesses.size()) changed = true;
    std::int64_t usage = 0;
    for (const auto& [key, size] : keptSizes) usage += size.intValue();
    if (usage != oldUsage) changed = true;
    accesses = std::move(keptAccesses);
    sizes = std::move(keptSizes);
    info["diskUsage"] = Value(usage);
    if (changed) m_diskCacheInfoDirty = true;
}

void SDURLCache::scheduleMaintenance() {
    if (m_periodicMaintenanceTimer.isValid() || !m_loop.isCurrentThread()) return;
    m_periodicMaintenanceTimer = m_loop.addRepeatingTimer(5.0, [this] { periodicMaintenance(); });
}

void SDURLCache::saveCacheInfo() {
    plat::foundation::makeDirectories(m_diskCachePath);
    std::lock_guard lock(m_indexMutex);
    plat::foundation::writePropertyList(m_diskCachePath + "/" + kIndexName, Value(diskCacheInfo()),
                                        PropertyListFormat::Binary);
    m_diskCacheInfoDirty = false;
}

std::optional<CachedURLResponse> SDURLCache::readResponseFile(const std::string& key, const std::string& url) const {
    std::optional<std::string> bytes = plat::foundation::readFile(pathFor(key));
    if (!bytes) return std::nullopt;
    std::optional<Value> outer = plat::foundation::parsePropertyList(*bytes);
    const Value* data = outer ? outer->find("response") : nullptr;
    const Value* digest = outer ? outer->find("sha1") : nullptr;
    if (!data || !data->data() || !digest || !digest->string()) return std::nullopt;
    const Data& inner = *data->data();
    std::optional<plat::crypto::Bytes> sum = plat::crypto::digest(plat::crypto::Algorithm::SHA1, inner.data(), inner.size());
    if (!sum || plat::crypto::hex(*sum) != *digest->string()) return std::nullopt;
    std::optional<Value> value =
        plat::foundation::parsePropertyList(std::string_view(reinterpret_cast<const char*>(inner.data()), inner.size()));
    std::optional<CachedURLResponse> response = value ? decodeResponse(*value) : std::nullopt;
    if (!response) return std::nullopt;
    // The file must be the one its name promises: a key is the digest of the canonical URL.
    const std::string canonical = canonicalRequestForRequest(requestFor(response->response.url)).url;
    if (cacheKeyForURL(canonical) != key || (!url.empty() && canonical != url)) return std::nullopt;
    return response;
}

void SDURLCache::storeCachedResponse(const CachedURLResponse& response, const Request& request) {
    if (request.cachePolicy == plat::net::kReloadIgnoringLocalCacheData ||
        request.cachePolicy == plat::net::kReloadIgnoringLocalAndRemoteCacheData)
        return;
    const Request canonical = canonicalRequestForRequest(request);
    URLCache::storeCachedResponse(response, canonical);
    if (m_disabled) return;
    const bool storable = response.storagePolicy == plat::net::kStorageAllowed ||
                          (response.storagePolicy == plat::net::kStorageAllowedInMemoryOnly && m_ignoreMemoryOnlyStoragePolicy);
    const bool http = response.response.url.starts_with("http:") || response.response.url.starts_with("https:");
    if (!storable || !http || response.data.size() >= diskCapacity()) return;
    if (!plat::net::findHeader(response.response.headers, "Etag")) {
        const double at = now();
        std::optional<double> expires = expirationDateFromHeaders(response.response.headers, response.response.status, at);
        if (!expires || *expires - at <= m_minCacheInterval) return;
    }
    {
        std::lock_guard lock(m_indexMutex);
        diskCacheInfo();  // loaded here, on the caller's loop, which then runs its maintenance
    }
    queueIO([this, response, canonical] { storeToDisk(response, canonical); });
}

void SDURLCache::storeToDisk(const CachedURLResponse& response, const Request& request) {
    const std::string key = cacheKeyForURL(request.url);
    std::optional<std::string> inner = plat::foundation::serializePropertyList(encodeResponse(response), PropertyListFormat::Binary);
    if (!inner) return;
    std::optional<plat::crypto::Bytes> sum = plat::crypto::sha1(*inner);
    std::optional<std::string> outer = plat::foundation::serializePropertyList(
        Value(Value::Dictionary{{"response", Value(Data(inner->begin(), inner->end()))},
                                {"sha1", Value(plat::crypto::hex(sum.value_or(plat::crypto::Bytes{})))}}),
        PropertyListFormat::Binary);
    if (!outer || !plat::foundation::makeDirectories(m_diskCachePath)) return;
    // Written whole under a name no reader takes for an entry, then renamed into place.
    const std::string temp = pathFor(key + kTempMark + std::to_string(getpid()) + "-" + std::to_string(m_tempCounter++));
    bool written = false;
    const int fd =
        ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, plat::sys::kPrivateFileMode);
    std::FILE* out = fd < 0 ? nullptr : ::fdopen(fd, "wb");
    if (fd >= 0 && !out) ::close(fd);
    if (out) {
        written = std::fwrite(outer->data(), 1, outer->size(), out) == outer->size();
        written = std::fflush(out) == 0 && written;
        written = fsync(fileno(out)) == 0 && written;
        written = std::fclose(out) == 0 && written;
    }
    if (!written || std::rename(temp.c_str(), pathFor(key).c_str()) != 0) {
        std::remove(temp.c_str());
        return;
    }
    {
        std::lock_guard lock(m_indexMutex);
        Value::Dictionary& info = diskCacheInfo();
        Value::Dictionary& sizes = *info["sizes"].dictionary();
        if (auto old = sizes.find(key); old != sizes.end()) m_diskCacheUsage -= static_cast<std::size_t>(old->second.intValue());
        m_diskCacheUsage += outer->size();
        info["diskUsage"] = Value(static_cast<int64_t>(m_diskCacheUsage));
        (*info["accesses"].dictionary())[key] = Value(Date{now()});
        sizes[key] = Value(static_cast<int64_t>(outer->size()));
    }
    saveCacheInfo();
}

std::optional<CachedURLResponse> SDURLCache::cachedResponseForRequest(const Request& request) {
    const Request canonical = canonicalRequestForRequest(request);
    if (std::optional<CachedURLResponse> memory = URLCache::cachedResponseForRequest(canonical)) return memory;
    if (m_disabled) return std::nullopt;
    const std::string key = cacheKeyForURL(canonical.url);
    std::unique_lock lock(m_indexMutex);
    Value::Dictionary& info = diskCacheInfo();
    Value::Dictionary& accesses = *info["accesses"].dictionary();
    if (!accesses.contains(key)) return std::nullopt;
    std::optional<CachedURLResponse> response = readResponseFile(key, canonical.url);
    if (!response) {
        // A damaged file, or one of another URL: never served as it is.
        removeCachedResponseForCachedKeys({key});
        lock.unlock();
        saveCacheInfo();
        return std::nullopt;
    }
    accesses[key] = Value(Date{now()});
    m_diskCacheInfoDirty = true;
    lock.unlock();
    URLCache::storeCachedResponse(*response, canonical);
    return response;
}

bool SDURLCache::isCached(std::string_view url) {
    const Request canonical = canonicalRequestForRequest(requestFor(std::string(url)));
    if (URLCache::cachedResponseForRequest(canonical)) return true;
    if (m_disabled) return false;
    return access(pathFor(cacheKeyForURL(canonical.url)).c_str(), F_OK) == 0;
}

void SDURLCache::removeCachedResponseForRequest(const Request& request) {
    const Request canonical = canonicalRequestForRequest(request);
    URLCache::removeCachedResponseForRequest(canonical);
    if (m_disabled) return;
    removeCachedResponseForCachedKeys({cacheKeyForURL(canonical.url)});
    saveCacheInfo();
}

void SDURLCache::removeCachedResponseForCachedKeys(const std::vector<std::string>& keys) {
    std::lock_guard lock(m_indexMutex);
    Value::Dictionary& info = diskCacheInfo();
    Value::Dictionary& accesses = *info["accesses"].dictionary();
    Value::Dictionary& sizes = *info["sizes"].dictionary();
    for (const std::string& key : keys) {
        std::size_t size = 0;
        if (auto it = sizes.find(key); it != sizes.end()) {
            size = static_cast<std::size_t>(it->second.intValue());
            sizes.erase(it);
        }
        accesses.erase(key);
        std::remove(pathFor(key).c_str());
        m_diskCacheUsage -= std::min(size, m_diskCacheUsage);
        info["diskUsage"] = Value(static_cast<int64_t>(m_diskCacheUsage));
    }
}

void SDURLCache::removeAllCachedResponses() {
    URLCache::removeAllCachedResponses();
    if (m_disabled) return;
    waitForIO();
    std::lock_guard lock(m_indexMutex);
    if (DIR* dir = opendir(m_diskCachePath.c_str())) {
        while (dirent* entry = readdir(dir)) {
            const std::string name = entry->d_name;
            if (name != "." && name != "..") std::remove(pathFor(name).c_str());
        }
        closedir(dir);
    }
    rmdir(m_diskCachePath.c_str());
    m_diskCacheInfo.reset();
    m_diskCacheUsage = 0;
    m_diskCacheInfoDirty = false;
}

std::size_t SDURLCache::currentDiskUsage() const {
    std::lock_guard lock(m_indexMutex);
    if (!m_disabled) const_cast<SDURLCache*>(this)->diskCacheInfo();  // the usage is the index's
    return m_diskCacheUsage;
}

void SDURLCache::periodicMaintenance() {
    std::lock_guard lock(m_indexMutex);
    if (m_diskCacheUsage > diskCapacity())
        queueIO([this] { balanceDiskUsage(); });
    else if (m_diskCacheInfoDirty)
        queueIO([this] { saveCacheInfo(); });
}

void SDURLCache::balanceDiskUsage() {
    std::vector<std::string> victims;
    {
        std::lock_guard lock(m_indexMutex);
        if (m_diskCacheUsage <= diskCapacity()) return;
        Value::Dictionary& info = diskCacheInfo();
        std::vector<std::pair<double, std::string>> byAge;
        for (const auto& [key, date] : *info["accesses"].dictionary())
            byAge.emplace_back(date.date() ? date.date()->seconds : 0, key);
        std::stable_sort(byAge.begin(), byAge.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
        const Value::Dictionary& sizes = *info["sizes"].dictionary();
        long long excess = static_cast<long long>(m_diskCacheUsage) - static_cast<long long>(diskCapacity());
        for (const auto& [when, key] : byAge) {
            if (excess <= 0) break;
            victims.push_back(key);
            if (auto it = sizes.find(key); it != sizes.end()) excess -= it->second.intValue();
        }
        removeCachedResponseForCachedKeys(victims);
    }
    saveCacheInfo();
}
