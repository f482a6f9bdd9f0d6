// The content-ads URL cache: expiration rules and HTTP dates, the disk store and its index, eviction
// and maintenance on a virtual clock, and what a damaged or half-written store turns into.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cmath>
#include <cstdio>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "kiosk/cache/SDURLCache.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/PropertyList.h"
#include "platform/foundation/RunLoop.h"
#include "tests/support/TestSupport.h"

namespace {

using plat::foundation::Clock;
using plat::foundation::RunLoop;
using plat::foundation::Value;
using plat::net::CachedURLResponse;
using plat::net::Headers;
using plat::net::Request;

constexpr double kNow = 1700000000;  // 2023-11-14 22:13:20 GMT
const std::string kNowText = "Tue, 14 Nov 2023 22:13:20 GMT";

TEST(SDURLCacheDates, ThreeFormatsInEnglishAndGMTOnly) {
    struct Case {
        const char* text;
        std::optional<double> seconds;
    };
    const Case cases[] = {
        {"Sun, 06 Nov 1994 08:49:37 GMT", 784111777},
        {"sun, 06 nov 1994 08:49:37 gmt", 784111777},
        {"Sun Nov  6 08:49:37 1994", 784111777},
        {"Sun Nov 6 08:49:37 1994", 784111777},
        {"Sunday, 06-Nov-94 08:49:37 GMT", 784111777},
        {"Monday, 01-Jan-40 00:00:00 GMT", 2208988800},  // within twenty years ahead
        {"Monday, 01-Jan-50 00:00:00 GMT", -631152000},  // further ahead: the last century
        {"Thu, 29 Feb 2024 00:00:00 GMT", 1709164800},
        {"Wed, 29 Feb 2023 00:00:00 GMT", std::nullopt},
        {"Sun, 06 Nov 1994 08:49:37 PST", std::nullopt},
        {"Sun, 06 Nov 1994 08:49:37", std::nullopt},
        {"Son, 06 Nov 1994 08:49:37 GMT", std::nullopt},
        {"Sun, 06 Nov 1994 25:49:37 GMT", std::nullopt},
        {"Sun, 06 Nov 1994 08:49:37 GMT trailing", std::nullopt},
        {"1994-11-06T08:49:37Z", std::nullopt},
        {"", std::nullopt},
    };
    for (const Case& c : cases)
        EXPECT_EQ(SDURLCache::dateFromHttpDateString(c.text, kNow), c.seconds) << c.text;
}

TEST(SDURLCacheExpiration, EachRuleAndItsEdges) {
    struct Case {
        const char* name;
        int status;
        Headers headers;
        std::optional<double> expires;
    };
    const double hourAgo = kNow - 3600;
    const Case cases[] = {
        {"no headers: an hour from now", 200, {}, kNow + 3600},
        {"no headers: an hour from Date", 200, {{"Date", "Tue, 14 Nov 2023 21:13:20 GMT"}}, hourAgo + 3600},
        {"unparsable Date: now", 200, {{"Date", "yesterday"}}, kNow + 3600},
        {"404 never", 404, {{"Cache-Control", "max-age=3600"}}, std::nullopt},
        {"410 cached", 410, {}, kNow + 3600},
        {"203", 203, {}, kNow + 3600},
        {"Pragma no-cache", 200, {{"Pragma", "no-cache"}}, std::nullopt},
        {"no-store", 200, {{"Cache-Control", "public, No-Store"}}, std::nullopt},
        {"max-age", 200, {{"Date", kNowText}, {"Cache-Control", "max-age=60"}}, kNow + 60},
        {"max-age without =", 200, {{"Cache-Control", "MAX-AGE 120"}}, kNow + 120},
        {"max-age 0", 200, {{"Cache-Control", "max-age=0"}}, std::nullopt},
        {"max-age negative", 200, {{"Cache-Control", "max-age=-5"}}, std::nullopt},
        {"max-age unreadable goes on", 200, {{"Cache-Control", "max-age=soon"}}, kNow + 3600},
        {"max-age over Expires", 200, {{"Cache-Control", "max-age=10"}, {"Expires", "garbage"}}, kNow + 10},
        {"Expires after Date", 200, {{"Date", "Tue, 14 Nov 2023 21:13:20 GMT"}, {"Expires", kNowText}}, kNow + 3600},
        {"Expires equal to Date", 200, {{"Date", kNowText}, {"Expires", kNowText}}, std::nullopt},
        {"Expires unparsable", 200, {{"Expires", "0"}}, std::nullopt},
        {"302 without Expires", 302, {}, std::nullopt},
        {"307 with max-age", 307, {{"Cache-Control", "max-age=900"}}, kNow + 900},
        {"Last-Modified ten days ago", 200, {{"Last-Modified", "Sat, 04 Nov 2023 22:13:20 GMT"}},
         kNow + static_cast<double>(0.1f) * 864000},
        {"Last-Modified equal to Date", 200, {{"Last-Modified", kNowText}}, std::nullopt},
        {"Last-Modified unparsable", 200, {{"Last-Modified", "long ago"}}, std::nullopt},
    };
    for (const Case& c : cases)
        EXPECT_EQ(SDURLCache::expirationDateFromHeaders(c.headers, c.status, kNow), c.expires) << c.name;
    // The heuristic keeps the single-precision factor: not exactly a tenth.
    EXPECT_NE(*SDURLCache::expirationDateFromHeaders(cases[19].headers, 200, kNow), kNow + 86400.0);
}

Request requestFor(const std::string& url, int policy = 0) {
    Request request;
    request.url = url;
    request.cachePolicy = policy;
    return request;
}

CachedURLResponse responseFor(const std::string& url, const std::string& body,
                              Headers headers = {{"Cache-Control", "max-age=3600"}}, int status = 200) {
    CachedURLResponse r;
    r.response.url = url;
    r.response.status = status;
    r.response.headers = std::move(headers);
    r.mimeType = "text/html";
    r.data.assign(body.begin(), body.end());
    return r;
}

std::string bodyOf(const std::optional<CachedURLResponse>& r) {
    return r ? std::string(r->data.begin(), r->data.end()) : "(miss)";
}

TEST(SDURLCacheKeys, KeyIsTheDigestOfTheURLWithoutItsFragment) {
    EXPECT_EQ(SDURLCache::cacheKeyForURL("http://a/x"), "V3_d84b21f2273fee2c45076e52451bc4a7");
    EXPECT_EQ(SDURLCache::canonicalRequestForRequest(requestFor("http://a/x#top#more")).url, "http://a/x");
    EXPECT_EQ(SDURLCache::canonicalRequestForRequest(requestFor("http://a/x?q")).url, "http://a/x?q");
}

class SDURLCacheStore : public ::testing::Test {
protected:
    void open(std::size_t disk = 100000) {
        cache = std::make_unique<SDURLCache>(100000, disk, path, &loop, [this] { return kNow + clock->now(); });
    }
    void SetUp() override { open(); }

    void store(const std::string& url, const std::string& body, Headers headers = {{"Cache-Control", "max-age=3600"}},
               int status = 200, int policy = 0) {
        cache->storeCachedResponse(responseFor(url, body, std::move(headers), status), requestFor(url, policy));
        cache->waitForIO();
    }
    std::string get(const std::string& url) { return bodyOf(cache->cachedResponseForRequest(requestFor(url))); }
    // Another process's view: nothing in memory.
    std::string getFresh(const std::string& url) {
        open(cache->diskCapacity());
        return get(url);
    }
    std::string fileOf(const std::string& url) const { return path + "/" + SDURLCache::cacheKeyForURL(url); }
    Value index() const {
        return plat::foundation::readPropertyList(path + "/cacheInfo.plist").value_or(Value());
    }
    static long long fileSize(const std::string& file) {
        struct stat st {};
        return stat(file.c_str(), &st) == 0 ? st.st_size : -1;
    }
    // The index says what the directory holds: its keys' files, sizes and their sum.
    void expectIndexMatchesFiles(const std::vector<std::string>& urls) {
        Value info = index();
        ASSERT_TRUE(info.dictionary());
        long long sum = 0;
        for (const std::string& url : urls) {
            const std::string key = SDURLCache::cacheKeyForURL(url);
            ASSERT_TRUE(info.find("sizes")->find(key)) << url;
            EXPECT_EQ(info.find("sizes")->find(key)->intValue(), fileSize(fileOf(url))) << url;
            EXPECT_TRUE(info.find("accesses")->find(key) && info.find("accesses")->find(key)->date()) << url;
            sum += fileSize(fileOf(url));
        }
        EXPECT_EQ(info.find("sizes")->dictionary()->size(), urls.size());
        EXPECT_EQ(info.find("diskUsage")->intValue(), sum);
        EXPECT_EQ(cache->currentDiskUsage(), static_cast<std::size_t>(sum));
    }

    dktest::TempDir dir;
    std::string path = dir.file("SDURLCache");
    std::shared_ptr<Clock> clock = std::make_shared<Clock>(Clock::Kind::Virtual);
    RunLoop loop{clock};
    std::unique_ptr<SDURLCache> cache;
};

TEST_F(SDURLCacheStore, WhatGoesToDisk) {
    struct Case {
        const char* name;
        Headers headers;
        int status, policy, storage;
        bool memory, disk;
    };
    const Case cases[] = {
        {"max-age 3600", {{"Cache-Control", "max-age=3600"}}, 200, 0, 0, true, true},
        {"max-age 60: memory only", {{"Cache-Control", "max-age=60"}}, 200, 0, 0, true, false},
        {"max-age 300 is not more than 300", {{"Cache-Control", "max-age=300"}}, 200, 0, 0, true, false},
        {"404 never", {{"Cache-Control", "max-age=3600"}}, 404, 0, 0, true, false},
        {"410", {}, 410, 0, 0, true, true},
        {"ETag whatever the rest", {{"ETag", "\"v1\""}, {"Cache-Control", "no-store"}}, 200, 0, 0, true, true},
        {"policy 1 stores nothing", {}, 200, 1, 0, false, false},
        {"policy 4 stores nothing", {}, 200, 4, 0, false, false},
        {"memory-only storage still written", {}, 200, 0, 1, true, true},
        {"storage not allowed", {}, 200, 0, 2, false, false},
    };
    int n = 0;
    for (const Case& c : cases) {
        const std::string url = "http://h/" + std::to_string(n++);
        CachedURLResponse r = responseFor(url, c.name, c.headers, c.status);
        r.storagePolicy = c.storage;
        cache->storeCachedResponse(r, requestFor(url, c.policy));
        cache->waitForIO();
        EXPECT_EQ(get(url) == c.name, c.memory) << c.name;
        EXPECT_EQ(fileSize(fileOf(url)) > 0, c.disk) << c.name;
    }
}

TEST_F(SDURLCacheStore, DiskStoreOnEveryReportedSystemVersion) {
    // The default device reports "6.1"; the platform's cache here keeps nothing on disk.
    EXPECT_FALSE(cache->disabled());
    store("http://h/a", "body");
    EXPECT_GT(fileSize(fileOf("http://h/a")), 0);
    EXPECT_GT(fileSize(path + "/cacheInfo.plist"), 0);
}

TEST_F(SDURLCacheStore, ANewInstanceServesFromDiskAndFragmentsShareAnEntry) {
    store("http://h/page#one", "page");
    store("http://h/other", "other");
    expectIndexMatchesFiles({"http://h/page", "http://h/other"});
    EXPECT_EQ(getFresh("http://h/page#two"), "page");
    EXPECT_TRUE(cache->isCached("http://h/other#x"));
    EXPECT_FALSE(cache->isCached("http://h/none"));
    cache->removeCachedResponseForRequest(requestFor("http://h/page#three"));
    EXPECT_EQ(getFresh("http://h/page"), "(miss)");
    expectIndexMatchesFiles({"http://h/other"});
    cache->removeAllCachedResponses();
    EXPECT_EQ(fileSize(path), -1);
    store("http://h/again", "again");
    expectIndexMatchesFiles({"http://h/again"});
}

TEST_F(SDURLCacheStore, MaintenanceEvictsTheLeastRecentlyUsedAndSavesReads) {
    store("http://h/a", std::string(1000, 'a'));
    loop.runFor(1);
    store("http://h/b", std::string(1000, 'b'));
    loop.runFor(1);
    store("http://h/c", std::string(1000, 'c'));
    const long long each = fileSize(fileOf("http://h/a"));
    // A fresh instance, capacity for two entries, reads a: b is now the oldest.
    cache = std::make_unique<SDURLCache>(100000, static_cast<std::size_t>(2 * each + 10), path, &loop,
                                         [this] { return kNow + clock->now(); });
    loop.runFor(1);
    EXPECT_EQ(get("http://h/a"), std::string(1000, 'a'));
    const double readAt = kNow + clock->now();
    EXPECT_LT(index().find("accesses")->find(SDURLCache::cacheKeyForURL("http://h/a"))->date()->seconds, readAt);
    loop.runFor(5.5);  // one maintenance turn
    cache->waitForIO();
    EXPECT_EQ(fileSize(fileOf("http://h/b")), -1);
    expectIndexMatchesFiles({"http://h/a", "http://h/c"});
    loop.runFor(5);  // within capacity now: the next turn saves the read's access date
    cache->waitForIO();
    EXPECT_EQ(index().find("accesses")->find(SDURLCache::cacheKeyForURL("http://h/a"))->date()->seconds, readAt);
}

TEST_F(SDURLCacheStore, LoadingReconcilesTheIndexWithTheDirectory) {
    store("http://h/a", "a");
    store("http://h/b", "b");
    store("http://h/gone", "gone");
    const std::string saved = dktest::readFile(path + "/cacheInfo.plist");
    store("http://h/late", "late");  // as if killed before this index save
    dktest::writeFile(path + "/cacheInfo.plist", saved);
    std::remove(fileOf("http://h/gone").c_str());
    dktest::writeFile(fileOf("http://h/junk"), "not a response");
    dktest::writeFile(fileOf("http://h/a") + ".partial-1-0", "half");
    dktest::writeFile(path + "/.dk-0-1-0.tmp", "half an index");

    EXPECT_EQ(getFresh("http://h/late"), "late");
    EXPECT_EQ(get("http://h/a"), "a");
    EXPECT_EQ(fileSize(fileOf("http://h/junk")), -1);
    EXPECT_EQ(fileSize(fileOf("http://h/a") + ".partial-1-0"), -1);
    EXPECT_EQ(fileSize(path + "/.dk-0-1-0.tmp"), -1);
    cache->periodicMaintenance();
    cache->waitForIO();
    expectIndexMatchesFiles({"http://h/a", "http://h/b", "http://h/late"});

    // No index at all: every whole file is adopted.
    std::remove((path + "/cacheInfo.plist").c_str());
    EXPECT_EQ(getFresh("http://h/b"), "b");
    cache->periodicMaintenance();
    cache->waitForIO();
    expectIndexMatchesFiles({"http://h/a", "http://h/b", "http://h/late"});
}

TEST_F(SDURLCacheStore, ADamagedEntryIsAMissAndGoes) {
    store("http://h/other", "other body");
    const std::string other = dktest::readFile(fileOf("http://h/other"));
    struct Case {
        const char* name;
        std::function<std::string(const std::string&)> damage;
    };
    const Case cases[] = {
        {"a flipped byte", [](std::string bytes) { bytes[bytes.size() / 2] ^= 0x20; return bytes; }},
        {"cut short", [](const std::string& bytes) { return bytes.substr(0, bytes.size() - 7); }},
        {"another URL's file", [&](const std::string&) { return other; }},
    };
    for (const Case& c : cases) {
        open();
        store("http://h/x", "the body of x");
        open();  // memory empty, the index loaded while the file was whole; then the damage
        EXPECT_EQ(get("http://h/other"), "other body");
        dktest::writeFile(fileOf("http://h/x"), c.damage(dktest::readFile(fileOf("http://h/x"))));
        EXPECT_EQ(get("http://h/x"), "(miss)") << c.name;
        EXPECT_EQ(fileSize(fileOf("http://h/x")), -1) << c.name;
        expectIndexMatchesFiles({"http://h/other"});
    }
}

}  // namespace
