// The ad client's start-up through Orbad: the first configuration request as the server sees it,
// the start notification's time, one start per process, the migrations, battery and location
// readings, and a session restarted after the idle time-out.
#include <gtest/gtest.h>

#include <filesystem>
#include <stdexcept>

#include "orbad/Orbad.h"
#include "orbad/core/OBConfig.h"
#include "orbad/core/OBEnvironment.h"
#include "orbad/core/OBSession.h"
#include "orbad/core/OBSessionTracking.h"
#include "orbad/core/OrbadController.h"
#include "orbad/core/OrbadHelper.h"
#include "orbad/core/OrbadVersionController.h"
#include "orbad/tests/OrbadTestSupport.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/PropertyList.h"
#include "platform/foundation/RunLoop.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/net/Reachability.h"
#include "platform/net/Servers.h"
#include "platform/sys/Device.h"
#include "platform/ui/Application.h"
#include "platform/web/FakeWebEngine.h"
#include "platform/web/PageEngine.h"

namespace {

using namespace plat::foundation;
using orbad::OrbadController;

// Counts the posts of one notification.
struct Count {
    explicit Count(const char* name)
        : m_seen(NotificationCenter::defaultCenter().observe(name, nullptr, [this](const Notification&) { ++n; })) {}
    int n = 0;

private:
    Observation m_seen;
};

class OrbadControllerTest : public dktest::OrbadClientTest {
protected:
    void SetUp() override {
        OrbadClientTest::SetUp();
        plat::web::useWebEngine("fake");
    }
    void TearDown() override {
        Orbad::resetForTesting();
        plat::sys::Device::current().reset();
        plat::web::useWebEngine("none");
        OrbadClientTest::TearDown();
    }
    void serve(const std::string& script = "") {
        m_server = std::make_unique<dktest::ScriptedServer>(script);
        for (const char* name : orbad::kOrbadServerNames) plat::net::setServerBaseOverride(name, m_server->url(""));
    }
    // Started, and the first configuration attempt over.
    void startAndAnswer(const char* id = "APP123") {
        Count told(orbad::kOrbadConfigObserverKey);
        Orbad::startWithApplicationId(id);
        ASSERT_TRUE(turnUntil([&] { return told.n == 1; }));
    }
    std::string support(const std::string& name) const {
        return home("Library/Application Support/PlayerTest/OrbadSDK/") + name;
    }
    std::unique_ptr<dktest::ScriptedServer> m_server;
};

TEST_F(OrbadControllerTest, TheFirstConfigurationRequestByteForByte) {
    serve(R"({"default": {"body": "{}"}})");
    startAndAnswer();
    std::vector<dktest::SeenRequest> seen = m_server->requests();
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].method, "GET");
    EXPECT_EQ(seen[0].path, "/post/config?a=APP123&p=iphone&rt=obnative&rtv=6.1&m=6.1.2&v=1.0.3&de=" +
                                orbad::orbadEncode(dktest::kTestAdvertisingId) +
                                "&lt=0&dm=iPhone4_1&dv=6_1&g=wifi&ll=null&off=0&st=0.000000&it=0.000000&new=true&");
    ASSERT_NE(seen[0].header("User-Agent"), nullptr);
    EXPECT_EQ(*seen[0].header("User-Agent"), plat::web::kFakeUserAgent);
    ASSERT_NE(seen[0].header("Accept-Encoding"), nullptr);
    EXPECT_NE(seen[0].header("Accept-Encoding")->find("gzip"), std::string::npos);

    // The next run has reported its first run already, and the cache keeps our user agent.
    std::optional<Value> cache = readPropertyList(OrbadController::sharedInstance().config().cacheFile());
    ASSERT_TRUE(cache);
    EXPECT_EQ(*cache->find("user_agent")->string(), plat::web::kFakeUserAgent);
    Orbad::resetForTesting();
    startAndAnswer();
    seen = m_server->requests();
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[1].path.find("new=true"), std::string::npos) << seen[1].path;
}

TEST_F(OrbadControllerTest, AnOldSystemSendsTheRecordedIdentifierOnceItDiffers) {
    serve(R"({"default": {"body": "{}"}})");
    facts({{"systemVersion", "5.1"}, {"advertisingTrackingEnabled", false}});
    startAndAnswer();
    const std::string odin = orbad::OBODIN1();
    Orbad::resetForTesting();
    facts({{"systemVersion", "5.1"}, {"macAddress", "00:1a:2b:3c:4d:5f"}});
    startAndAnswer();
    std::vector<dktest::SeenRequest> seen = m_server->requests();
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0].path.find("&lt="), std::string::npos) << "no tracking limit below 6.0";
    EXPECT_EQ(seen[0].path.find("&pd="), std::string::npos) << "recorded, not sent";
    EXPECT_NE(seen[0].path.find("&de=" + orbad::orbadEncode(odin) + "&"), std::string::npos);
    EXPECT_NE(seen[1].path.find("&pd=" + odin + "&"), std::string::npos) << seen[1].path;

    // From 6.0 on the advertising identifier goes, with its tracking limit.
    Orbad::resetForTesting();
    facts({{"advertisingTrackingEnabled", false}});
    startAndAnswer();
    seen = m_server->requests();
    ASSERT_EQ(seen.size(), 3u);
    EXPECT_NE(seen[2].path.find("&de=" + orbad::orbadEncode(dktest::kTestAdvertisingId) + "&lt=1&"),
              std::string::npos)
        << seen[2].path;
}

TEST_F(OrbadControllerTest, StartingIsAnnouncedFromTheLoopAfterFiftyMilliseconds) {
    plat::net::setNetOverride(plat::net::parseNetOverride("none"));
    Count started(orbad::kOrbadDidFinishStarting);
    Orbad::startWithApplicationId("APP123");
    EXPECT_EQ(started.n, 0) << "never inside the start";
    RunLoop::main().runFor(0.049);
    EXPECT_EQ(started.n, 0);
    RunLoop::main().runFor(0.002);
    EXPECT_EQ(started.n, 1);
}

TEST_F(OrbadControllerTest, OneStartPerProcessKeepsTheFirstId) {
    plat::net::setNetOverride(plat::net::parseNetOverride("none"));
    Orbad::startWithApplicationId("FIRST");
    Orbad::startWithApplicationId("SECOND");
    EXPECT_EQ(OrbadController::sharedInstance().environment().applicationId(), "FIRST");
    // Asking the controller itself for another id changes the environment's; nil changes nothing.
    OrbadController::sharedInstanceWithApplicationId("THIRD");
    OrbadController::sharedInstanceWithApplicationId(std::nullopt);
    EXPECT_EQ(OrbadController::sharedInstance().environment().applicationId(), "THIRD");
    OrbadController::shutdown();
    EXPECT_FALSE(OrbadController::hasBeenInstantiated());
    Orbad::startWithApplicationId("FOURTH");
    EXPECT_FALSE(OrbadController::hasBeenInstantiated()) << "the start flag never clears";
}

// A start that could not make its controller (no id anywhere) is no start: the next one counts.
TEST_F(OrbadControllerTest, AStartWithoutAnIdLeavesTheNextStartItsTurn) {
    plat::net::setNetOverride(plat::net::parseNetOverride("none"));
    EXPECT_THROW(Orbad::start(), std::logic_error);
    EXPECT_FALSE(OrbadController::hasBeenInstantiated());
    Orbad::startWithApplicationId("LATER");
    ASSERT_TRUE(OrbadController::hasBeenInstantiated());
    EXPECT_EQ(OrbadController::sharedInstance().environment().applicationId(), "LATER");
}

TEST_F(OrbadControllerTest, MigrationsRunFromTheLastLevelReached) {
    plat::net::setNetOverride(plat::net::parseNetOverride("none"));
    struct Case {
        long long from;
        bool trackingMoved, documentsLogsMoved, supportLogsKept;
    };
    const Case cases[] = {{0, true, true, false}, {40200, false, false, false}, {40340, false, false, true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.from);
        std::filesystem::remove_all(home("Documents"));
        std::filesystem::remove_all(home("Library/Application Support"));
        const std::string documents = home("Documents/");
        std::filesystem::create_directories(documents + "PlayerTest");
        std::filesystem::create_directories(support(""));
        ASSERT_TRUE(writePropertyList(documents + "PlayerTest/OrbadSessionTracking-APP123.plist",
                                      Value::Dictionary{{"offlineSessionCount", 4}}, PropertyListFormat::Xml));
        dktest::writeFile(documents + "OrbadLogs-APP123.plist", "old logs");
        dktest::writeFile(support("OrbadLogs-APP123.plist"), "kept logs");
        orbad::OrbadVersionController::setLastRanVersion(c.from);
        Orbad::startWithApplicationId("APP123");
        EXPECT_EQ(std::filesystem::exists(documents + "PlayerTest/OrbadSessionTracking-APP123.plist"),
                  !c.trackingMoved);
        EXPECT_EQ(std::filesystem::exists(documents + "OrbadLogs-APP123.plist"), !c.documentsLogsMoved);
        EXPECT_EQ(std::filesystem::exists(support("OrbadLogs-APP123.plist")), c.supportLogsKept);
        // The moved tracking file is the one the tracker reads (plus this run's failed attempt).
        RunLoop::main().runFor(0.02);
        EXPECT_EQ(OrbadController::sharedInstance().config().sessionTracking().offlineSessionCount(),
                  c.trackingMoved ? 5u : 1u);
        EXPECT_EQ(orbad::OrbadVersionController::lastRanVersion(), 40340);
        Orbad::resetForTesting();
    }
}

TEST_F(OrbadControllerTest, LocationsAndBatteryGoIntoTheSession) {
    plat::net::setNetOverride(plat::net::parseNetOverride("none"));
    // No controller and no "OBApplicationId": dropped, nothing made.
    Orbad::updateLocation(orbad::OBLocation{1.5, -2.25, 10});
    EXPECT_FALSE(OrbadController::hasBeenInstantiated());
    EXPECT_FALSE(orbad::OBSession::currentSession()->location());

    info({{"OBApplicationId", "PLIST9"}});
    Orbad::updateLocation(orbad::OBLocation{1.5, -2.25, 10});
    ASSERT_TRUE(OrbadController::hasBeenInstantiated());
    EXPECT_EQ(OrbadController::sharedInstance().environment().applicationId(), "PLIST9");
    EXPECT_EQ(OrbadController::sharedInstance().environment().location(), "1.500000,-2.250000");
    Orbad::updateLocation(orbad::OBLocation{1.5, -2.25, -1});
    EXPECT_EQ(OrbadController::sharedInstance().environment().location(), "null");

    const std::tuple<double, int, unsigned long, unsigned long> readings[] = {
        {-1, 0, 0, 0}, {0.5, 1, 0, 1}, {1, 3, 1, 3}, {0.99, 2, 0, 2}};
    for (const auto& [level, state, sessionLevel, sessionState] : readings) {
        ASSERT_TRUE(plat::sys::Device::current().setBattery(level, state));
        OrbadController::sharedInstance().updateBattery();
        EXPECT_EQ(orbad::OBSession::currentSession()->batteryLevel(), sessionLevel) << level;
        EXPECT_EQ(orbad::OBSession::currentSession()->batteryState(), sessionState) << level;
    }
}

TEST_F(OrbadControllerTest, ASessionBackAfterTheTimeOutRestartsAndReportsItsLength) {
    serve(R"({"default": {"body": "{}"}})");
    startAndAnswer();
    const std::string first = orbad::OBSession::currentSession()->identifier();
    Count restarted(orbad::kOBSessionRestartedNotification);
    Count told(orbad::kOrbadConfigObserverKey);
    auto post = [](const char* name) { NotificationCenter::defaultCenter().post(name, {plat::ui::Application::shared()}); };
    const orbad::OBSessionTracking& tracking = OrbadController::sharedInstance().config().sessionTracking();
    RunLoop::main().runFor(60 - (orbad::wallNow() - *tracking.sessionStartDate()));
    post(plat::ui::kApplicationWillResignActiveNotification);
    RunLoop::main().runFor(120);
    post(plat::ui::kApplicationDidBecomeActiveNotification);
    ASSERT_TRUE(turnUntil([&] { return told.n == 1; }));
    EXPECT_EQ(restarted.n, 1);
    EXPECT_NE(orbad::OBSession::currentSession()->identifier(), first);
    std::vector<dktest::SeenRequest> seen = m_server->requests();
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_NE(seen[1].path.find("&off=0&st=60.000000&it=0.000000&"), std::string::npos) << seen[1].path;
}

}  // namespace
