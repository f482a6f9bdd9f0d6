// The tracker: its checks and limits, custom variables, transactions, sampling, the dispatch
// timer with power save, and stops that come while a dispatch runs or waits to retry.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>

#include "analytics/pagestats/PSTracker.h"
#include "analytics/pagestats/tests/PagestatsTestSupport.h"
#include "platform/foundation/Container.h"
#include "platform/foundation/RunLoop.h"
#include "tests/support/RecordingServer.h"
#include "tests/support/TestSupport.h"

namespace {

using plat::foundation::RunLoop;

class TrackerTest : public ::testing::Test {
protected:
    void SetUp() override {
        dktest::fixedBuilder();
        tracker.stopTracker();
        plat::foundation::Container::setMain(*plat::foundation::Container::open("com.test.tracker", dir.file("home")));
        tracker.setSampleRate(100);
        tracker.setDispatchHook([this](unsigned dispatched, unsigned failed) {
            ++completions;
            lastDispatched = dispatched;
            lastFailed = failed;
        });
    }
    void TearDown() override {
        tracker.stopTracker();
        tracker.setDispatchHook(nullptr);
        dktest::setCollector("");
    }
    dktest::RecordingServer& serve(const std::string& script) {
        server = std::make_unique<dktest::RecordingServer>(dir.file("server"), script);
        dktest::setCollector(server->url());
        return *server;
    }
    unsigned stored() { return tracker.persistentHitStore()->storedHits(); }
    std::uint32_t pageError(const std::string& page) {
        PSError error;
        return tracker.trackPageview(page, &error) ? 0 : error.code;
    }

    PSTracker& tracker = PSTracker::sharedTracker();
    dktest::TempDir dir;
    std::unique_ptr<dktest::RecordingServer> server;
    int completions = 0;
    unsigned lastDispatched = 0, lastFailed = 0;
};

// Sampled out, the hits pass the checks and count without being stored.
TEST_F(TrackerTest, FiveHundredHitsPassUntilStopAndStart) {
    tracker.startTrackerWithAccountID("UA-1-2", 0, nullptr);
    tracker.setSampleRate(0);
    for (int i = 0; i < 499; ++i) ASSERT_EQ(pageError("/p"), 0u) << i;
    ASSERT_TRUE(tracker.trackEvent("c", "a", std::nullopt, -1));
    EXPECT_EQ(stored(), 0u);
    EXPECT_EQ(pageError("/p"), kPSTrackerHitsPerSessionLimitError);
    tracker.startTrackerWithAccountID("UA-1-2", 0, nullptr);
    EXPECT_EQ(pageError("/p"), kPSTrackerHitsPerSessionLimitError);
    tracker.stopTracker();
    tracker.startTrackerWithAccountID("UA-1-2", 0, nullptr);
    EXPECT_EQ(pageError("/p"), 0u);
}

TEST_F(TrackerTest, BeforeStartCallsFailOrAnswerNothing) {
    PSError error;
    EXPECT_EQ(pageError("/p"), kPSTrackerNotStartedError);
    EXPECT_FALSE(tracker.trackEvent("c", "a", "l", 1, &error));
    EXPECT_EQ(error.code, kPSTrackerNotStartedError);
    EXPECT_FALSE(tracker.setCustomVariableAtIndex(1, "n", "v", &error));
    EXPECT_EQ(error.code, kPSTrackerNotStartedError);
    EXPECT_FALSE(tracker.setReferrer("gclid=1", &error));
    EXPECT_EQ(error.code, kPSTrackerNotStartedError);
    EXPECT_EQ(error.domain, kPSTrackerErrorDomain);
    EXPECT_FALSE(tracker.dispatch());
    EXPECT_FALSE(tracker.visitorIDForAfma() || tracker.sessionIDForAfma() || tracker.accountIDForAfma());
    EXPECT_FALSE(tracker.getVisitorCustomVarAtIndex(1));
    // The variable refused before start does not ride on the first page.
    tracker.startTrackerWithAccountID("UA-1-2", 0, nullptr);
    ASSERT_EQ(pageError(""), 0u);
    const std::string hit = tracker.persistentHitStore()->peekHits(-1)->front().hitString();
    EXPECT_EQ(dktest::param(hit, "utme"), "");
    EXPECT_EQ(dktest::param(hit, "utmp"), "%2F");
}

TEST_F(TrackerTest, CustomVariableBounds) {
    tracker.startTrackerWithAccountID("UA-1-2", 0, nullptr);
    const std::string s64(64, 'n'), s65(65, 'n');
    struct Case {
        unsigned index;
        std::optional<std::string> name, value;
        unsigned scope;
        bool ok;
    } cases[] = {
        {1, s64, s64, 1, true},      {5, "n", "v", 3, true},        {0, "n", "v", 3, false},
        {6, "n", "v", 3, false},     {1, s65, "v", 3, false},       {1, "n", s65, 3, false},
        {1, "n", "v", 0, false},     {1, "n", "v", 4, false},       {1, std::nullopt, "v", 3, false},
        {1, "n", std::nullopt, 3, false},
    };
    for (const Case& c : cases) {
        PSError error;
        EXPECT_EQ(tracker.setCustomVariableAtIndex(c.index, c.name, c.value, c.scope, &error), c.ok) << c.index;
        EXPECT_EQ(error.code, c.ok ? 0u : kPSTrackerInvalidInputError);
    }
}

TEST_F(TrackerTest, AnItemForAnOrderWithoutTransactionBringsAnEmptyOne) {
    tracker.startTrackerWithAccountID("UA-1-2", 0, nullptr);
    ASSERT_TRUE(tracker.addItem("o1", "sku", 2.5, 3.7, "name", std::nullopt));
    ASSERT_TRUE(tracker.trackTransactions());
    const std::vector<PSHit> hits = *tracker.persistentHitStore()->peekHits(-1);
    ASSERT_EQ(hits.size(), 2u);
    EXPECT_EQ(dktest::param(hits[0].hitString(), "utmt"), "tran");
    EXPECT_EQ(dktest::param(hits[0].hitString(), "utmtid"), "o1");
    EXPECT_EQ(dktest::param(hits[0].hitString(), "utmtto"), "");
    EXPECT_EQ(dktest::param(hits[1].hitString(), "utmt"), "item");
    EXPECT_EQ(dktest::param(hits[1].hitString(), "utmiqt"), "3");
    EXPECT_TRUE(tracker.trackTransactions());  // emptied
    EXPECT_EQ(stored(), 2u);
}

TEST_F(TrackerTest, ASampleRateOverAHundredIsRefused) {
    tracker.setSampleRate(40);
    tracker.setSampleRate(101);
    EXPECT_EQ(tracker.sampleRate(), 40u);
}

// Power save stops the timer when a timed dispatch finds nothing; the next page view restarts it.
TEST_F(TrackerTest, TheTimerDispatchesAndPowerSaveStopsIt) {
    serve(R"({"default": )" + dktest::okAnswer() + "}");
    RunLoop& loop = RunLoop::main();
    tracker.startTrackerWithAccountID("UA-1-2", 10, nullptr);
    loop.runFor(10.5);  // a timed dispatch with nothing stored
    PSEvent direct = dktest::pageView("/direct");
    ASSERT_TRUE(tracker.persistentHitStore()->putEvent(direct));
    loop.runFor(30);
    EXPECT_EQ(completions, 0);
    ASSERT_TRUE(tracker.trackPageview("/b"));
    ASSERT_TRUE(dktest::runMainUntil([&] { return completions == 1; }));
    EXPECT_EQ(lastDispatched, 2u);
    EXPECT_EQ(lastFailed, 0u);
    // From 0 no period starts the timer.
    tracker.setDispatchPeriod(0);
    tracker.setDispatchPeriod(10);
    ASSERT_TRUE(tracker.trackPageview("/c"));
    loop.runFor(30);
    EXPECT_EQ(completions, 1);
}

TEST_F(TrackerTest, StopDuringADispatchOrItsRetryCallsNothingBack) {
    serve(R"({"default": {"silent": true}, "requests": {"2": {"silent": false, "status": "HTTP/1.1 503 Busy"}}})");
    tracker.startTrackerWithAccountID("UA-1-2", 0, nullptr);
    ASSERT_TRUE(tracker.trackPageview("/a"));
    ASSERT_TRUE(tracker.dispatch());
    EXPECT_FALSE(tracker.dispatch());
    // The request is out; the clock stays short of the time-out.
    while (server->requestLines().empty()) RunLoop::main().runOnce(0.001);
    tracker.stopTracker();
    RunLoop::main().runFor(120);
    EXPECT_EQ(completions, 0);

    tracker.startTrackerWithAccountID("UA-1-2", 0, nullptr);
    ASSERT_TRUE(tracker.dispatch());  // answered 503
    ASSERT_TRUE(dktest::runMainUntil([&] { return completions == 1; }));
    ASSERT_TRUE(tracker.dispatch());
    EXPECT_TRUE(tracker.getDispatcher()->isWaitingToRetry());
    EXPECT_FALSE(tracker.dispatch());
    tracker.stopTracker();
    RunLoop::main().runFor(300);
    EXPECT_EQ(completions, 1);
    server->stop();
    EXPECT_EQ(server->requestLines().size(), 2u);
}

// A delegate that stops the tracker from inside a dispatch's call: the dispatch ends there.
TEST_F(TrackerTest, ADelegateMayStopTheTrackerFromItsCall) {
    struct Stopper : PSTrackerDelegate {
        int hits = 0, completed = 0;
        void trackerDispatchDidComplete(PSTracker&, unsigned, unsigned) override { ++completed; }
        void hitDispatched(const std::string&) override {
            ++hits;
            PSTracker::sharedTracker().stopTracker();
        }
    } stopper;
    serve(R"({"default": )" + dktest::okAnswer() + "}");
    tracker.startTrackerWithAccountID("UA-1-2", 0, &stopper);
    for (const char* page : {"/a", "/b", "/c"}) ASSERT_TRUE(tracker.trackPageview(page));
    ASSERT_TRUE(tracker.dispatch());
    ASSERT_TRUE(dktest::runMainUntil([&] { return !tracker.isStarted(); }));
    RunLoop::main().runFor(5);
    EXPECT_EQ(stopper.hits, 1);
    EXPECT_EQ(stopper.completed, 0);
    EXPECT_EQ(completions, 0);
}

}  // namespace
