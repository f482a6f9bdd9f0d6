// The shared URL cache as URL loading uses it, and its memory limit.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "platform/foundation/RunLoop.h"
#include "platform/net/URLCache.h"
#include "platform/net/URLLoading.h"
#include "platform/net/tests/NetTestSupport.h"

namespace {

using namespace plat::net;
using dktest::ReceivedRequest;
using dktest::Reply;


class URLCacheLoading : public ::testing::Test {
protected:
    void SetUp() override { URLCache::setShared(cache); }
    void TearDown() override { URLCache::setShared(std::make_shared<URLCache>(4 << 20, 0, "")); }

    std::string load(const std::string& path, int policy, const std::string& method = "") {
        Request request;
        request.url = m_server.url(path);
        request.method = method;
        request.cachePolicy = policy;
        std::string out, body;
        bool done = false;
        ConnectionHandlers h;
        h.didReceiveResponse = [&](const Response& r) {
            out = std::to_string(r.status) + (r.fromCache ? " cache " : " network ");
        };
        h.didReceiveData = [&](const std::uint8_t* d, std::size_t n) { body.append(reinterpret_cast<const char*>(d), n); };
        h.didFinish = [&] { done = true; };
        h.didFail = [&](const Error& e) {
            out = "failed " + std::to_string(e.code) + " ";
            done = true;
        };
        Connection connection = Connection::start(request, std::move(h));
        EXPECT_TRUE(dktest::runUntil(plat::foundation::RunLoop::current(), [&] { return done; }));
        return out + body;
    }

    std::shared_ptr<URLCache> cache = std::make_shared<URLCache>(100, 0, "");
    int m_count = 0;
    dktest::TestServer m_server{[this](const ReceivedRequest& r) {
        plat::net::Headers headers;
        if (r.target == "/r") headers = {{"Location", "/a"}};
        if (r.target == "/ns") headers = {{"cache-control", "max-age=60 , No-Store"}};
        if (r.target == "/ns2") headers = {{"Cache-Control", "public"}, {"Cache-Control", "no-store"}};
        return Reply{r.target == "/r" ? 302 : 200, headers, r.target + "#" + std::to_string(++m_count)};
    }};
};

TEST_F(URLCacheLoading, PoliciesTwoAndThreeReadEveryGetIsOffered) {
    EXPECT_EQ(load("/a", 3), "failed -1008 ");
    EXPECT_EQ(load("/a", 0), "200 network /a#1");
    EXPECT_EQ(load("/a", 2), "200 cache /a#1");
    EXPECT_EQ(load("/a", 3), "200 cache /a#1");
    for (int policy : {0, 1, 4, 5}) EXPECT_EQ(load("/a", policy).substr(0, 11), "200 network") << policy;
    EXPECT_EQ(load("/a", 2), "200 cache /a#5");  // the latest answer replaced the entry
    EXPECT_EQ(load("/p", 0, "POST"), "200 network /p#6");
    EXPECT_EQ(load("/p", 3), "failed -1008 ");
    EXPECT_EQ(load("/r", 0), "200 network /a#8");  // kept under the address asked for
    EXPECT_EQ(load("/r", 3), "200 cache /a#8");
    EXPECT_EQ(m_server.requests().size(), 8u);
}

// The mended fault: an answer marked no-store was kept and served again. Wherever the directive
// stands, the loader offers it as not to be stored and no read finds it.
TEST_F(URLCacheLoading, ANoStoreAnswerIsNeverKept) {
    EXPECT_EQ(load("/ns", 0), "200 network /ns#1");
    EXPECT_EQ(load("/ns", 2), "200 network /ns#2");
    EXPECT_EQ(load("/ns", 3), "failed -1008 ");
    EXPECT_EQ(load("/ns2", 2), "200 network /ns2#3");
    EXPECT_EQ(load("/ns2", 2), "200 network /ns2#4");
    EXPECT_EQ(cache->currentMemoryUsage(), 0u);
    EXPECT_EQ(m_server.requests().size(), 4u);
}

TEST_F(URLCacheLoading, MemoryKeepsTheRecentlyUsedWithinItsCapacity) {
    auto store = [&](const std::string& url, std::size_t size) {
        CachedURLResponse r;
        r.response.url = url;
        r.data.assign(size - url.size(), 'x');
        Request request;
        request.url = url;
        cache->storeCachedResponse(r, request);
    };
    auto has = [&](const std::string& url) {
        Request request;
        request.url = url;
        return cache->cachedResponseForRequest(request).has_value();
    };
    store("a", 40);
    store("b", 40);
    EXPECT_TRUE(has("a"));  // b is now the least recently used
    store("c", 40);
    EXPECT_TRUE(has("a"));
    EXPECT_FALSE(has("b"));
    EXPECT_EQ(cache->currentMemoryUsage(), 80u);
    store("huge", 101);  // larger than the whole cache: kept out, nothing pushed out
    EXPECT_FALSE(has("huge"));
    EXPECT_TRUE(has("c"));
}

}  // namespace
