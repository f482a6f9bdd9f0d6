// The URL loader against a redirecting server: where it stops, what it requests, what it opens.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "kiosk/KSAPIRequest.h"
#include "kiosk/KSURLLoader.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/RunLoop.h"
#include "platform/net/Servers.h"
#include "platform/net/tests/NetTestSupport.h"

namespace {

using plat::foundation::RunLoop;

constexpr const char* kStore = "https://itunes.apps.store.invalid/app/1";

// "/r/N" redirects to "/r/N-1", "/r/0" answers 200; "/store" redirects to the store; "/gone" is 404;
// "/loop" redirects to itself, "/ping" and "/pong" to each other, "/three" to "/ping".
dktest::Reply answer(const dktest::ReceivedRequest& request) {
    dktest::Reply reply;
    const std::pair<const char*, const char*> loops[] = {
        {"/loop", "/loop"}, {"/ping", "/pong"}, {"/pong", "/ping"}, {"/three", "/ping"}};
    for (const auto& [from, to] : loops) {
        if (request.target == from) return {302, {{"Location", to}}, ""};
    }
    if (request.target.rfind("/r/", 0) == 0) {
        int n = std::stoi(request.target.substr(3));
        if (n > 0) {
            reply.status = 302;
            reply.headers = {{"Location", "/r/" + std::to_string(n - 1)}};
        }
    } else if (request.target == "/store") {
        reply.status = 302;
        reply.headers = {{"Location", kStore}};
    } else if (request.target == "/gone") {
        reply.status = 404;
    }
    return reply;
}

struct Heard : KSURLLoaderDelegate {
    std::vector<std::string> lines;
    std::function<void()> onCall;
    void loaderFinished(KSURLLoader& loader) override {
        lines.push_back("finished " + loader.targetURL());
        if (onCall) onCall();
    }
    void loaderFailed(KSURLLoader& loader) override {
        lines.push_back("failed " + loader.targetURL());
        if (onCall) onCall();
    }
};

class KSURLLoaderTest : public ::testing::Test {
protected:
    void SetUp() override {
        plat::foundation::Clock::process().setVirtual(true);
        KSURLLoader::setSystemOpener([this](const std::string& url) {
            opened.push_back(url);
            return true;
        });
        kiosk::setLogHook([](std::string_view) {});
    }
    void TearDown() override {
        KSURLLoader::setSystemOpener(nullptr);
        kiosk::setLogHook(nullptr);
    }
    // Opens `url` with the test as delegate and waits for the outcome.
    void load(const std::string& url, bool opens = true, KSURLLoaderDelegate* delegate = nullptr) {
        auto loader = KSURLLoader::create();
        loader->setTargetURL(url);
        loader->setOpensFinalURLOnDevice(opens);
        loader->setDelegate(delegate ? delegate : &heard);
        loader->open();
        loader.reset();
        ASSERT_TRUE(dktest::runUntil(RunLoop::main(), [] { return KSURLLoader::allLoaders().empty(); }));
    }

    dktest::TestServer server{answer};
    Heard heard;
    std::vector<std::string> opened;
};

TEST_F(KSURLLoaderTest, RedirectChainsStopAtTheTenthAddress) {
    struct Case {
        int redirects;
        std::size_t requests;
        const char* final;
    } cases[] = {{8, 9, "/r/0"}, {9, 9, "/r/0"}, {10, 9, "/r/1"}, {12, 9, "/r/3"}};
    std::size_t before = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.redirects);
        heard.lines.clear();
        opened.clear();
        load(server.url("/r/" + std::to_string(c.redirects)));
        EXPECT_EQ(server.requests().size() - before, c.requests);
        before = server.requests().size();
        EXPECT_EQ(heard.lines, std::vector<std::string>{"finished " + server.url(c.final)});
        EXPECT_EQ(opened, std::vector<std::string>{server.url(c.final)});
    }
}

// An address met again goes round for ever: a failure, never a final address to open.
TEST_F(KSURLLoaderTest, ARedirectLoopFails) {
    const struct {
        const char* start;
        std::size_t requests;
        const char* failedAt;
    } cases[] = {{"/loop", 1, "/loop"}, {"/ping", 2, "/ping"}, {"/three", 3, "/ping"}};
    std::size_t before = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.start);
        heard.lines.clear();
        load(server.url(c.start));
        EXPECT_EQ(server.requests().size() - before, c.requests);
        before = server.requests().size();
        EXPECT_EQ(heard.lines, std::vector<std::string>{"failed " + server.url(c.failedAt)});
    }
    EXPECT_TRUE(opened.empty());
}

TEST_F(KSURLLoaderTest, StorePagesAreNeverRequested) {
    load(kStore);
    load(server.url("/store"));
    EXPECT_EQ(server.requests().size(), 1u);
    EXPECT_EQ(heard.lines, (std::vector<std::string>{std::string("finished ") + kStore, std::string("finished ") + kStore}));
    EXPECT_EQ(opened, (std::vector<std::string>{kStore, kStore}));
}

TEST_F(KSURLLoaderTest, FailuresOpenNothing) {
    load(server.url("/gone"));
    load(dktest::refusedURL());
    load("ftp://example.invalid/file");  // nothing the system opens
    ASSERT_EQ(heard.lines.size(), 3u);
    EXPECT_EQ(heard.lines[0], "failed " + server.url("/gone"));
    EXPECT_EQ(heard.lines[1].rfind("failed ", 0), 0u);
    EXPECT_EQ(heard.lines[2], "failed ftp://example.invalid/file");
    EXPECT_TRUE(opened.empty());
}

TEST_F(KSURLLoaderTest, APingLoaderFollowsAndOpensNothing) {
    auto loader = KSURLLoader::create();
    loader->setTargetURL(server.url("/r/2"));
    loader->setOpensFinalURLOnDevice(false);
    loader->open();
    loader.reset();
    ASSERT_TRUE(dktest::runUntil(RunLoop::main(), [] { return KSURLLoader::allLoaders().empty(); }));
    EXPECT_EQ(server.requests().size(), 3u);
    EXPECT_TRUE(opened.empty());
}

TEST_F(KSURLLoaderTest, InvalidatingFromInsideACallback) {
    Heard other;
    heard.onCall = [this] { KSURLLoader::invalidateAllLoadersWithDelegate(&heard); };
    auto second = KSURLLoader::create();
    second->setTargetURL(server.url("/r/3"));
    second->setDelegate(&heard);
    second->open();
    auto third = KSURLLoader::create();
    third->setTargetURL(server.url("/r/0"));
    third->setDelegate(&other);
    third->open();
    second.reset();
    third.reset();
    load(server.url("/r/0"));
    EXPECT_EQ(heard.lines.size(), 1u);
    EXPECT_EQ(other.lines, std::vector<std::string>{"finished " + server.url("/r/0")});
}

}  // namespace
