// Session tracking on the virtual clock: the file after each change, idle time and restarts on the
// lifecycle notifications, the close of a run that ended idle, the retry after a failed attempt.
#include <gtest/gtest.h>

#include <filesystem>

#include "orbad/core/OBEnvironment.h"
#include "orbad/core/OBSession.h"
#include "orbad/core/OBSessionTracking.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/PropertyList.h"
#include "platform/foundation/RunLoop.h"
#include "platform/ui/Application.h"
#include "tests/support/TestSupport.h"

namespace {

using namespace plat::foundation;
using orbad::OBSessionTracking;

const double kStart = 1700000000;

struct FakeConfig : orbad::OBSessionConfig {
    double idleTimeoutInterval() const override { return 120; }
    bool hasConfigFailed() const override { return failed; }
    void updateConfigurationForEnvironment(orbad::OBEnvironment&) override { ++updates; }
    bool failed = false;
    int updates = 0;
};

class OBSessionTrackingTest : public ::testing::Test {
protected:
    void SetUp() override {
        Clock::process().setVirtual(true);
        orbad::setStartWallTime(kStart);
        m_env = std::make_shared<orbad::OBEnvironment>("APP123");
    }
    void TearDown() override { orbad::OBSession::shutdown(); }
    std::string file() const { return m_dir.file(OBSessionTracking::dataFileName("APP123")); }
    std::unique_ptr<OBSessionTracking> track() { return std::make_unique<OBSessionTracking>(m_env, m_config, file()); }
    Value saved() const { return readPropertyList(file()).value_or(Value()); }
    void post(const char* name) { NotificationCenter::defaultCenter().post(name, {plat::ui::Application::shared()}); }
    // Leaves, stays away `seconds`, comes back.
    void away(double seconds) {
        post(plat::ui::kApplicationWillResignActiveNotification);
        RunLoop::main().runFor(seconds);
        post(plat::ui::kApplicationDidBecomeActiveNotification);
    }

    dktest::TempDir m_dir;
    FakeConfig m_config;
    std::shared_ptr<orbad::OBEnvironment> m_env;
};

TEST_F(OBSessionTrackingTest, AFirstRunSavesEachCounterItChanges) {
    auto tracking = track();
    EXPECT_TRUE(tracking->firstRun());
    EXPECT_FALSE(std::filesystem::exists(file()));  // nothing changed yet
    tracking->setFirstRun(false);
    tracking->setOriginalUDID("d5a9");
    const Value written = saved();
    EXPECT_EQ(written.find("firstRun")->boolValue(), false);
    EXPECT_EQ(*written.find("originalUDID")->string(), "d5a9");
    EXPECT_EQ(written.find("offlineSessionCount")->type(), Value::Type::Integer);
    EXPECT_EQ(written.find("idleSessionTime")->type(), Value::Type::Real);
    EXPECT_NE(written.find("sessionStartDate")->date(), nullptr);
    EXPECT_EQ(written.find("sessionWentIdleDate"), nullptr);
    // Read back by the next run.
    tracking.reset();
    EXPECT_FALSE(track()->firstRun());
}

TEST_F(OBSessionTrackingTest, BackWithinTheTimeOutAddsIdleTimeAfterItRestarts) {
    auto tracking = track();
    const std::string first = orbad::OBSession::currentSession()->identifier();
    int restarts = 0;
    Observation seen = NotificationCenter::defaultCenter().observe(orbad::kOBSessionRestartedNotification, nullptr,
                                                                   [&](const Notification&) { ++restarts; });
    RunLoop::main().runFor(60);
    away(119);
    EXPECT_EQ(tracking->idleSessionTime(), 119);
    EXPECT_EQ(restarts, 0);
    EXPECT_EQ(orbad::OBSession::currentSession()->identifier(), first);
    away(120);
    EXPECT_EQ(restarts, 1);
    EXPECT_EQ(m_config.updates, 1);
    EXPECT_NE(orbad::OBSession::currentSession()->identifier(), first);
    EXPECT_EQ(tracking->lastSessionLength(), 60 + 119);  // start to going idle
    EXPECT_EQ(tracking->sessionStartDate(), orbad::wallNow());
    EXPECT_EQ(tracking->sessionWentIdleDate(), std::nullopt);
    EXPECT_EQ(saved().find("lastSessionLength")->doubleValue(), 179);
}

TEST_F(OBSessionTrackingTest, ARunThatEndedIdleIsClosedAtTheNextStart) {
    auto tracking = track();
    RunLoop::main().runFor(30);
    post(plat::ui::kApplicationWillResignActiveNotification);
    tracking.reset();  // killed in the background
    RunLoop::main().runFor(1000);
    EXPECT_EQ(track()->lastSessionLength(), 30);

    // A terminated run keeps its own length.
    tracking = track();
    RunLoop::main().runFor(45);
    post(plat::ui::kApplicationWillTerminateNotification);
    tracking.reset();
    EXPECT_EQ(track()->lastSessionLength(), 45);
}

TEST_F(OBSessionTrackingTest, AFailedConfigurationIsRetriedWithTheCountLowered) {
    auto tracking = track();
    tracking->setOfflineSessionCount(3);
    m_config.failed = true;
    away(10);
    EXPECT_EQ(tracking->offlineSessionCount(), 2u);
    EXPECT_EQ(m_config.updates, 1);
    EXPECT_EQ(tracking->idleSessionTime(), 0);
    tracking->setOfflineSessionCount(0);
    away(10);
    EXPECT_EQ(tracking->offlineSessionCount(), 0u);  // never below 0
}

TEST_F(OBSessionTrackingTest, AClockSetBackCountsNoIdleTime) {
    auto tracking = track();
    post(plat::ui::kApplicationWillResignActiveNotification);
    orbad::setStartWallTime(kStart - 3600);
    post(plat::ui::kApplicationDidBecomeActiveNotification);
    EXPECT_EQ(tracking->idleSessionTime(), 0);
    EXPECT_EQ(m_config.updates, 0);
}

}  // namespace
