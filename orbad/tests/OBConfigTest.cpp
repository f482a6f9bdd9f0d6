// The remote configuration against the recording server: the defaults, what each kind of answer
// leaves in memory, in the cache file and in the counters, the log levels and the tag frequencies.
#include <gtest/gtest.h>

#include <filesystem>

#include "orbad/core/OBConfig.h"
#include "orbad/core/OBEnvironment.h"
#include "orbad/core/OBSession.h"
#include "orbad/tests/OrbadTestSupport.h"
#include "platform/foundation/PropertyList.h"
#include "platform/foundation/RunLoop.h"
#include "platform/net/Reachability.h"
#include "platform/net/Servers.h"

namespace {

using namespace plat::foundation;
using orbad::OBConfig;

struct Heard : orbad::OBConfigObserver {
    void orbadConfigurationUpdated(OBConfig&) override {
        ++count;
        onMain = onMain && RunLoop::main().isCurrentThread();
    }
    int count = 0;
    bool onMain = true;  // every outcome is handled there, never on the request's thread
};

class OBConfigTest : public dktest::OrbadClientTest {
protected:
    void SetUp() override {
        OrbadClientTest::SetUp();
        m_env = std::make_shared<orbad::OBEnvironment>("APP123");
    }
    void TearDown() override {
        if (m_config) m_config->removeObserver(&m_heard);
        m_config.reset();
        OrbadClientTest::TearDown();
    }
    std::string cacheFile() const { return home("Library/Caches/PlayerTest/OrbadConfig-APP123.plist"); }
    void cache(const Value& answer) {
        std::filesystem::create_directories(std::filesystem::path(cacheFile()).parent_path());
        ASSERT_TRUE(writePropertyList(cacheFile(), answer, PropertyListFormat::Xml));
    }
    // Made, its scheduled request let go and answered: observers told once.
    OBConfig& start() {
        m_config = std::make_unique<OBConfig>(m_env);
        m_config->addObserver(&m_heard);
        EXPECT_EQ(m_heard.count, 0);
        EXPECT_TRUE(turnUntil([&] { return m_heard.count == 1; }));
        return *m_config;
    }
    void serve(const std::string& script) {
        m_serverHolder = std::make_unique<dktest::ScriptedServer>(script);
        for (const char* name : orbad::kOrbadServerNames)
            plat::net::setServerBaseOverride(name, m_serverHolder->url(""));
    }
    std::string url(const std::string& path) const { return m_serverHolder->url(path); }

    std::shared_ptr<orbad::OBEnvironment> m_env;
    std::unique_ptr<OBConfig> m_config;
    std::unique_ptr<dktest::ScriptedServer> m_serverHolder;
    Heard m_heard;
};

TEST_F(OBConfigTest, AFirstRunOfflineHasEveryDefault) {
    plat::net::setNetOverride(plat::net::parseNetOverride("none"));
    OBConfig& config = start();
    EXPECT_EQ(config.configURL(), "http://data.orbad.invalid/post/config");
    EXPECT_EQ(config.getoaBaseURL(), "http://data.orbad.invalid/");
    EXPECT_EQ(config.feedbackURL(), "http://data.orbad.invalid/post/feedback");
    EXPECT_EQ(config.virtualCurrencyURL(), "http://vc.orbad.invalid");
    EXPECT_EQ(config.advertisingURL(), "http://ads.orbad.invalid/");
    EXPECT_EQ(config.analyticsURL(), "http://data.orbad.invalid/post/sendData");
    EXPECT_EQ(config.instrumentationURL(), "http://data.orbad.invalid/post/debug");
    EXPECT_EQ(config.mraidURL(), "http://script.orbad.invalid/js/mraid_boot_loader.js");
    EXPECT_EQ(config.nativeURLHandlers().size(), 5u);
    EXPECT_EQ(config.nativeURLHandlers().back(), "mailto:");
    EXPECT_TRUE(config.adUnits().empty());
    EXPECT_EQ(config.idleTimeoutInterval(), 120);
    EXPECT_EQ(config.loglevel(), 8u);  // the Info.plist's level, 8 without one
    EXPECT_EQ(config.sessionTracking().offlineSessionCount(), 1u);
    EXPECT_TRUE(config.hasConfigFailed());
    EXPECT_FALSE(config.isUpdating());
    EXPECT_EQ(OBConfig::debugTagFrequency("anything"), -1);
}

TEST_F(OBConfigTest, ThePlaceholderServersFailAtOnceAsTheNetworkWould) {
    OBConfig& config = start();
    EXPECT_EQ(config.sessionTracking().offlineSessionCount(), 1u);
    EXPECT_TRUE(config.hasConfigFailed());
    EXPECT_EQ(orbad::OBCoreHTTPRequest::inFlightCount(), 0u);
}

TEST_F(OBConfigTest, TheCachedAnswerIsReadKeyByKey) {
    plat::net::setNetOverride(plat::net::parseNetOverride("none"));
    cache(Value::Dictionary{
        {"urls", Value::Dictionary{{"config", "no-scheme/config"}, {"ads", "https://ads.example/x"}, {"vc", 5}}},
        {"debug_config", Value::Dictionary{{"loglevel", 9}, {"capture", "YES"}, {"impression", 40}}},
        {"native_urls", Value::Array{}},
        {"idle_timeout", 0},
        {"ad_units", "not an array"}});
    OBConfig& config = start();
    EXPECT_EQ(config.configURL(), OBConfig::defaultConfigURL());
    EXPECT_EQ(config.advertisingURL(), "https://ads.example/x");
    EXPECT_EQ(config.virtualCurrencyURL(), OBConfig::defaultVirtualCurrencyURL());
    EXPECT_EQ(config.loglevel(), 8u);  // silenced by the cache, then the Info.plist's level at start-up
    config.loadConfiguration();
    EXPECT_EQ(config.loglevel(), 0u);
    EXPECT_TRUE(config.shouldSendOrbadDebugData());
    EXPECT_EQ(config.nativeURLHandlers(), OBConfig::defaultNativeURLHandlers());
    EXPECT_EQ(config.idleTimeoutInterval(), 120);
    EXPECT_EQ(OBConfig::debugTagFrequency("impression"), 40);
    EXPECT_EQ(OBConfig::debugTagFrequency("click"), -1);

    testing::internal::CaptureStderr();
    config.logError("silenced %d", 1);
    config.setLoglevel(OBConfig::logLevelForConfigValue(4));
    config.logWarning("disk %s", "full");
    config.logInfo("not at 24");
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "ORBAD_WARN: disk full\n");

    const std::pair<long long, unsigned long> levels[] = {{1, 31}, {2, 30}, {3, 28}, {4, 24},
                                                          {5, 16}, {9, 0},  {0, 24}, {7, 24}};
    for (const auto& [value, mask] : levels) EXPECT_EQ(OBConfig::logLevelForConfigValue(value), mask) << value;
}

// One attempt, from a cache holding `urls.config` and a count of `offlineBefore`.
struct AnswerCase {
    const char* name;
    const char* answer;  // the server's script for the request
    unsigned long offlineBefore;
    unsigned long offlineAfter;
    bool failed;
    const char* cachedConfig;  // "urls"."config" of the cache file afterwards; null: no file
};

const std::string kGzipAnswer =
    R"({"status": "HTTP/1.1 200 OK", "headers": [["Content-Encoding", "gzip"]],
        "body_hex": "1f8b08000000000002ffab56ca4cc9498d2fc9cc4dcd2f2d51b2523036a80500beeb58eb14000000"})";

TEST_F(OBConfigTest, EachAnswerLeavesItsCountsAndCache) {
    const AnswerCase cases[] = {
        {"good", R"({"body": "{\"urls\": {\"config\": \"http://next.example/config\"}, \"user_agent\": \"theirs\", \"idle_timeout\": 45}"})",
         3, 0, false, "http://next.example/config"},
        {"gzip", kGzipAnswer.c_str(), 0, 0, false, nullptr},
        {"500 at eight", R"({"status": "HTTP/1.1 500 Oops"})", 8, 9, true, "@/post/config"},
        {"500 at two", R"({"status": "HTTP/1.1 500 Oops"})", 2, 3, true, "@/cached"},
        {"an array", R"({"body": "[1,2]"})", 0, 1, true, "@/cached"},
        {"not JSON", R"({"body": "<html>"})", 0, 1, true, "@/cached"},
    };
    for (const AnswerCase& c : cases) {
        SCOPED_TRACE(c.name);
        std::string answer = c.answer;
        auto replace = [&](std::string text) {
            for (std::size_t at; (at = text.find('@')) != std::string::npos;) text.replace(at, 1, url(""));
            return text;
        };
        serve(R"({"default": )" + answer + "}");
        std::filesystem::remove_all(home("Library"));
        cache(Value::Dictionary{{"urls", Value::Dictionary{{"config", url("/cached")}}}});
        OBConfig config(m_env);
        config.setUserAgent("PlayerTest/1.0");
        config.sessionTracking().setOfflineSessionCount(c.offlineBefore);
        Heard heard;
        config.addObserver(&heard);
        ASSERT_TRUE(turnUntil([&] { return heard.count == 1; }));
        config.removeObserver(&heard);
        EXPECT_TRUE(heard.onMain);
        EXPECT_EQ(config.sessionTracking().offlineSessionCount(), c.offlineAfter);
        EXPECT_EQ(config.hasConfigFailed(), c.failed);
        EXPECT_FALSE(config.isUpdating());
        std::optional<Value> file = readPropertyList(cacheFile());
        if (std::string(c.name) == "gzip") {
            ASSERT_TRUE(file);
            EXPECT_EQ(file->find("idle_timeout")->doubleValue(), 30);
            EXPECT_EQ(config.idleTimeoutInterval(), 30);
            continue;
        }
        ASSERT_TRUE(file);
        EXPECT_EQ(*file->find("urls")->find("config")->string(), replace(c.cachedConfig));
        if (!c.failed) {
            EXPECT_EQ(*file->find("user_agent")->string(), "PlayerTest/1.0");  // ours, not theirs
            EXPECT_EQ(config.configURL(), replace(c.cachedConfig));
            EXPECT_EQ(config.idleTimeoutInterval(), 45);
        }
    }
}

TEST_F(OBConfigTest, ServersOfOtherSchemesAreRefusedAndThePreviousKept) {
    serve(R"({"default": {"body": "{\"urls\": {)"
          R"(\"config\": \"file:///etc/passwd\", \"ads\": \"javascript://x%0Aalert(1)\", )"
          R"(\"feedback\": \"ftp://files.example/f\", \"mraid\": \"FILE:///tmp/boot.js\", )"
          R"(\"oa\": \"data://text/plain,x\", \"analytics\": \"HTTPS://good.example/a\", )"
          R"(\"debug\": \"http://good.example/d\"}}"}})");
    cache(Value::Dictionary{{"urls", Value::Dictionary{{"config", url("/cached")},
                                                       {"ads", "https://ads.example/x"},
                                                       {"mraid", "http://script.example/boot.js"}}}});
    OBConfig& config = start();
    ASSERT_EQ(m_serverHolder->requests().size(), 1u);
    EXPECT_FALSE(config.hasConfigFailed()) << "the answer itself is good";
    const struct {
        const char* key;
        std::string (*now)(const OBConfig&);
        std::string kept;
    } servers[] = {
        {"config", [](const OBConfig& c) { return c.configURL(); }, url("/cached")},
        {"ads", [](const OBConfig& c) { return c.advertisingURL(); }, "https://ads.example/x"},
        {"mraid", [](const OBConfig& c) { return c.mraidURL(); }, "http://script.example/boot.js"},
        {"feedback", [](const OBConfig& c) { return c.feedbackURL(); }, OBConfig::defaultFeedbackURL()},
        {"oa", [](const OBConfig& c) { return c.oaBaseURL(); }, OBConfig::defaultOABaseURL()},
        {"analytics", [](const OBConfig& c) { return c.analyticsURL(); }, "HTTPS://good.example/a"},
        {"debug", [](const OBConfig& c) { return c.instrumentationURL(); }, "http://good.example/d"},
    };
    std::optional<Value> file = readPropertyList(cacheFile());
    ASSERT_TRUE(file && file->find("urls"));
    for (const auto& server : servers) {
        EXPECT_EQ(server.now(config), server.kept) << server.key;
        const Value* cached = file->find("urls")->find(server.key);
        EXPECT_EQ(cached ? cached->description() : "", server.kept) << server.key << ": in the cache too";
    }

    // A cache that names such a server all the same (written by hand, or before) gives the default.
    m_config->removeObserver(&m_heard);
    m_config.reset();
    cache(Value::Dictionary{
        {"urls", Value::Dictionary{{"config", "file:///etc/passwd"}, {"ads", "ftp://x.example/"}}}});
    plat::net::setNetOverride(plat::net::parseNetOverride("none"));
    m_heard.count = 0;
    OBConfig& again = start();
    EXPECT_EQ(again.configURL(), OBConfig::defaultConfigURL());
    EXPECT_EQ(again.advertisingURL(), OBConfig::defaultAdvertisingURL());
}

// An http or https address without a plain host, or a text holding "://" that is no URL (a leading
// blank), names no server: refused like another scheme, the server in force kept, in memory and in
// the cache; a cache naming one all the same gives the default.
TEST_F(OBConfigTest, AddressesWithoutAHostAreRefusedAndThePreviousKept) {
    const struct {
        const char* key;
        const char* answer;  // JSON string contents
        std::string cached;
        std::string (*now)(const OBConfig&);
        std::string (*fallback)();
    } servers[] = {
        {"ads", "http:/x", "https://ads.example/x", [](const OBConfig& c) { return c.advertisingURL(); },
         OBConfig::defaultAdvertisingURL},
        {"mraid", "https:relative", "http://script.example/boot.js",
         [](const OBConfig& c) { return c.mraidURL(); }, OBConfig::defaultMraidURL},
        {"feedback", "http://", "http://fb.example/f", [](const OBConfig& c) { return c.feedbackURL(); },
         OBConfig::defaultFeedbackURL},
        {"debug", "HTTPS:///path", "http://dbg.example/d",
         [](const OBConfig& c) { return c.instrumentationURL(); }, OBConfig::defaultInstrumentationURL},
        {"analytics", "http://:8080/a", "http://an.example/a",
         [](const OBConfig& c) { return c.analyticsURL(); }, OBConfig::defaultAnalyticsURL},
        {"oa", " http://127.0.0.1:9/y", "http://oa.example/", [](const OBConfig& c) { return c.oaBaseURL(); },
         OBConfig::defaultOABaseURL},
        {"vc", "http://%00/", "http://vc.example/v", [](const OBConfig& c) { return c.virtualCurrencyURL(); },
         OBConfig::defaultVirtualCurrencyURL},
    };
    std::string answer = R"({"default": {"body": "{\"urls\": {)";
    Value::Dictionary cached;
    for (const auto& server : servers) {
        answer += std::string(R"(\")") + server.key + R"(\": \")" + server.answer + R"(\", )";
        cached[server.key] = server.cached;
    }
    serve(answer + R"(\"config\": \"http://next.example/c\"}}"}})");
    cached["config"] = url("/cached");
    cache(Value::Dictionary{{"urls", cached}});
    OBConfig& config = start();
    ASSERT_EQ(m_serverHolder->requests().size(), 1u);
    EXPECT_EQ(config.configURL(), "http://next.example/c") << "the answer itself is taken";
    std::optional<Value> file = readPropertyList(cacheFile());
    ASSERT_TRUE(file && file->find("urls"));
    for (const auto& server : servers) {
        EXPECT_EQ(server.now(config), server.cached) << server.answer;
        const Value* kept = file->find("urls")->find(server.key);
        EXPECT_EQ(kept ? kept->description() : "", server.cached) << server.answer << ": in the cache too";
    }

    m_config->removeObserver(&m_heard);
    m_config.reset();
    Value::Dictionary named;
    for (const auto& server : servers) named[server.key] = server.answer;
    cache(Value::Dictionary{{"urls", named}});
    plat::net::setNetOverride(plat::net::parseNetOverride("none"));
    m_heard.count = 0;
    OBConfig& again = start();
    for (const auto& server : servers) EXPECT_EQ(server.now(again), server.fallback()) << server.answer;
}

TEST_F(OBConfigTest, ANetworkFailureDeletesTheCacheButKeepsWhatWasLoaded) {
    cache(Value::Dictionary{{"urls", Value::Dictionary{{"config", "http://127.0.0.1:1/post/config"}}},
                            {"idle_timeout", 300}});
    OBConfig& config = start();
    EXPECT_FALSE(std::filesystem::exists(cacheFile()));
    EXPECT_EQ(config.idleTimeoutInterval(), 300);
    EXPECT_EQ(config.sessionTracking().offlineSessionCount(), 1u);
    EXPECT_TRUE(config.hasConfigFailed());
}

TEST_F(OBConfigTest, UnreachableSendsNothingAndTellsObserversLater) {
    serve("");
    plat::net::setNetOverride(plat::net::parseNetOverride("none"));
    OBConfig& config = start();
    config.updateConfigurationForEnvironment(*m_env);
    EXPECT_EQ(m_heard.count, 1) << "not inside the call";
    EXPECT_TRUE(turnUntil([&] { return m_heard.count == 2; }));
    EXPECT_EQ(config.sessionTracking().offlineSessionCount(), 2u);
    EXPECT_TRUE(m_serverHolder->requests().empty());
}

TEST_F(OBConfigTest, AQueryThatCannotBeSentIsAFailedAttempt) {
    plat::net::setNetOverride(plat::net::parseNetOverride("none"));
    OBConfig& config = start();
    plat::net::setNetOverride(plat::net::parseNetOverride("wifi"));
    config.setConfigURL("http://127.0.0.1:1/a b");  // no request can carry it
    config.updateConfigurationForEnvironment(*m_env);
    EXPECT_FALSE(config.isUpdating()) << "banners would wait for good";
    EXPECT_EQ(m_heard.count, 2);
    EXPECT_EQ(config.sessionTracking().offlineSessionCount(), 2u);
}

}  // namespace
