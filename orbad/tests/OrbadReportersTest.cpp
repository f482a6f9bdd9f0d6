// Instrumentation, demographics and feedback against the recording server: sampling, benchmark
// paths and deferred finishing, the posts' fields (order is free), and the feedback's results on
// the main thread.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <map>
#include <set>

#include "orbad/core/OBEnvironment.h"
#include "orbad/core/OBReporting.h"
#include "orbad/core/OrbadFeedback.h"
#include "orbad/core/OrbadHelper.h"
#include "orbad/core/OrbadInstrumentation.h"
#include "orbad/tests/OrbadTestSupport.h"
#include "platform/foundation/Bundle.h"
#include "platform/foundation/Container.h"
#include "platform/foundation/RunLoop.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/sys/Device.h"

namespace {

using namespace plat::foundation;
using dktest::ScriptedServer;
using dktest::SeenRequest;
using orbad::OrbadFeedback;
using orbad::OrbadInstrumentation;

// A post's form fields.
Value::Dictionary form(const SeenRequest& request) {
    return orbad::obComponentsFromQueryString(request.body);
}

std::vector<std::string> keysOf(const Value::Dictionary& dictionary) {
    std::vector<std::string> keys;
    for (const auto& [key, value] : dictionary) keys.push_back(key);
    return keys;
}

// A running client whose endpoints are the server's.
class OrbadReportersTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_container = Container::open("com.test.reporters", m_dir.file("home"));
        Container::setMain(*m_container);
        plat::sys::Device::current().setSystemVersion("6.1");
        orbad::setOBReportingSource([this] {
            return orbad::OBReportingContext{m_server.url("/post/debug"),
                                             m_server.url("/post/feedback"),
                                             m_capture,
                                             "APP123",
                                             "1.0.3",
                                             "iPhone4_1",
                                             "wifi"};
        });
    }
    void TearDown() override {
        orbad::setOBReportingSource(nullptr);
        OrbadInstrumentation::shutdown();
        OrbadFeedback::shutdown();
        EXPECT_TRUE(orbad::OBCoreHTTPRequest::cancelAllAndWait(10));
    }
    // Every post so far, once there are `count`.
    std::vector<SeenRequest> posts(size_t count) {
        EXPECT_TRUE(m_server.waitForRequests(count));
        orbad::OBCoreHTTPRequest::cancelAllAndWait(10);
        return m_server.requests();
    }

    dktest::TempDir m_dir;
    std::optional<Container> m_container;
    ScriptedServer m_server{R"({"requests": {"2": {"status": "HTTP/1.1 404 Not Found"}}})"};
    bool m_capture = true;
};

// ---- instrumentation ----

TEST_F(OrbadReportersTest, GroupsStartBySamplingTheirTag) {
    UserDefaults::standard()->setObject(Value(Value::Dictionary{{"every", 0}, {"third", 3}}), "OBConfigFreq");
    auto instr = OrbadInstrumentation::currentInstrumentation();
    std::string started;
    for (int attempt = 1; attempt <= 10; ++attempt) {
        const std::string group = "g" + std::to_string(attempt);
        if (instr->startGroup(group, "third")) started += std::to_string(attempt) + " ";
        if (attempt == 5) {
            EXPECT_EQ(instr->startGroup("g4", "third"), "g4") << "running: no attempt counted";
        }
    }
    EXPECT_EQ(started, "1 4 7 10 ");
    EXPECT_EQ(instr->startGroup("untagged"), std::nullopt) << "no frequency for the tag";
    EXPECT_EQ(instr->startGroup("every"), "every") << "the group's name is the tag";
    EXPECT_EQ(instr->startGroup(std::nullopt), std::nullopt);
}

TEST_F(OrbadReportersTest, BenchmarksDeferTheirGroupsReport) {
    UserDefaults::standard()->setObject(Value(Value::Dictionary{{"t", 0}}), "OBConfigFreq");
    auto instr = OrbadInstrumentation::currentInstrumentation();
    ASSERT_EQ(instr->startGroup("load", "t"), "load");
    EXPECT_EQ(instr->benchmarkStart("ads", "load"), "load/ads");
    EXPECT_EQ(instr->benchmarkStart("parse", "load/ads/"), "load/ads/parse");
    EXPECT_EQ(instr->benchmarkStart("x", "other"), std::nullopt);
    instr->addInfo(Value("320x50"), "size", "load");
    instr->finishGroup("load");
    EXPECT_TRUE(instr->hasPathStarted("load/ads")) << "a benchmark runs: the report waits";
    EXPECT_FALSE(instr->hasPathFinishedBenchmarks("load"));
    EXPECT_EQ(instr->benchmarkFinishPath("load/ads/parse"), "load/ads");
    EXPECT_EQ(instr->benchmarkFinishPath("load/ads/parse"), std::nullopt) << "no longer running";
    EXPECT_EQ(instr->benchmarkFinishPath("load"), std::nullopt) << "a group is no benchmark";
    EXPECT_EQ(instr->benchmarkFinishPath("load/ads"), "load");
    EXPECT_FALSE(instr->hasPathStarted("load")) << "reported with its last benchmark";

    m_capture = false;
    ASSERT_EQ(instr->startGroup("quiet", "t"), "quiet");
    instr->finishGroup("quiet");
    EXPECT_FALSE(instr->hasPathStarted("quiet")) << "finished without a report";

    const std::vector<SeenRequest> seen = posts(1);
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].method + " " + seen[0].path, "POST /post/debug");
    EXPECT_EQ(seen[0].header("User-Agent"), nullptr);
    const Value::Dictionary fields = form(seen[0]);
    EXPECT_EQ(keysOf(fields), (std::vector<std::string>{"cat", "payload"}));
    EXPECT_EQ(fields.at("cat"), Value("load"));
    const std::optional<Value> payload = orbad::OrbadJSON::decodeData(*fields.at("payload").string());
    ASSERT_TRUE(payload && payload->dictionary());
    EXPECT_EQ(keysOf(*payload->dictionary()),
              (std::vector<std::string>{"benchmarks", "data", "endDate", "environment", "startDate",
                                        "totalElapsedTime"}));
    EXPECT_EQ(keysOf(*payload->find("benchmarks")->dictionary()),
              (std::vector<std::string>{"load/ads", "load/ads/parse"}));
    EXPECT_EQ(payload->find("benchmarks")->find("load/ads")->string()->size(),
              std::string("0.0000000000").size());
    EXPECT_EQ(*payload->find("data"), Value(Value::Dictionary{{"size", "320x50"}}));
    EXPECT_EQ(payload->find("startDate")->string()->size(), std::string("2023-11-14T22:13:20+0000").size());
    const Value::Dictionary environment{
        {"app_id", "APP123"},
        {"platform", Value(orbad::OBEnvironment::platformName())},
        {"sdk_ver", "6.1.2"},
        {"app_ver", "1.0.3"},
        {"udide", Value(orbad::orbadEncode(orbad::OBEnvironment::deviceIdentifier()))},
        {"lt", Value(orbad::OBEnvironment::limitTracking() ? "1" : "0")},
        {"dev_model", Value(plat::sys::Device::current().model())},
        {"dev_vers", "6.1"},
        {"hw_dev_model", "iPhone4_1"},
        {"conn", "wifi"}};
    EXPECT_EQ(*payload->find("environment"), Value(environment));
}

TEST(OrbadPathComponents, JoinAsFilePathsDo) {
    for (const auto& [path, component, joined] :
         std::vector<std::array<const char*, 3>>{{"g", "b", "g/b"},
                                                 {"g/", "b", "g/b"},
                                                 {"g", "/b/", "g/b"},
                                                 {"g", "", "g"},
                                                 {"", "b", "b"},
                                                 {"a//b", "c", "a/b/c"}})
        EXPECT_EQ(orbad::obAppendPathComponent(path, component), joined) << path << " + " << component;
}

// ---- demographics ----

TEST_F(OrbadReportersTest, DemographicsSendWhatIsInRange) {
    setenv("TZ", "UTC", 1);
    tzset();
    struct Case {
        const char* system;
        orbad::OrbadDemographicsRecord record;
        std::optional<Date> birthday;
        std::vector<std::string> sent;  // beyond the common fields, "lt" aside
    };
    const Case cases[] = {
        {"6.1",
         {6, 1, 7, 2, 3, 1, 4000000000u, 1, -2, 3, "Köln", "", "10115", "BE", 52.5, 13.4},
         Date{86399},
         {"dac=1", "dbd=1970-01-01", "dci=Köln", "dco=", "ddc=-2", "ddg=3", "dec=6", "den=1", "dg=2",
          "dic=4000000000", "dmc=3", "dms=1", "dpo=10115", "drg=BE", "drl=7", "gps=52.500000,13.400000",
          "lt=0"}},
        // Out of range, a text that is no UTF-8, one coordinate 0; below 6.0 no "lt".
        {"5.1",
         {7, 0, 8, 3, 4, 0, 0, 0, 0, 0, std::nullopt, "\xff\xfe", std::nullopt, std::nullopt, 0.0, 10.5},
         std::nullopt,
         {}},
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        plat::sys::Device::current().setSystemVersion(cases[i].system);
        orbad::OrbadDemographics::updateDemographics(cases[i].record, cases[i].birthday);
        const Value::Dictionary fields = form(posts(i + 1).at(i));
        std::vector<std::string> sent;
        for (const auto& [key, value] : fields)
            if (!std::set<std::string>{"a", "p", "v", "m", "de", "dt", "os", "t"}.contains(key))
                sent.push_back(key + "=" + *value.string());
        EXPECT_EQ(sent, cases[i].sent) << cases[i].system;
        EXPECT_EQ(fields.at("os"), Value(cases[i].system));
        for (const auto& [key, value] : std::map<std::string, std::string>{
                 {"a", "APP123"},
                 {"v", "1.0.3"},
                 {"m", "6.1.2"},
                 {"dt", "iPhone4_1"},
                 {"t", "demo"},
                 {"de", orbad::orbadEncode(orbad::OBEnvironment::deviceIdentifier())}})
            EXPECT_EQ(fields.at(key), Value(value)) << key;
    }
    EXPECT_EQ(orbad::OrbadDemographics::demographics().dco, "\xff\xfe");
    EXPECT_EQ(orbad::OrbadDemographics::birthday(), std::nullopt);
}

// ---- feedback ----

// Notes what it hears, and whether it heard it on the main thread.
struct NotingFeedbackDelegate : orbad::OrbadFeedbackDelegate {
    std::vector<std::string> heard;
    void note(const std::string& what, const OrbadFeedback& feedback) {
        heard.push_back(what + (RunLoop::main().isCurrentThread() ? "" : " OFF MAIN") +
                        (feedback.isSendingComment() || feedback.isSendingRatings() ? " still sending" : ""));
    }
    void orbadFeedbackSentComment(OrbadFeedback& f) override { note("sent comment", f); }
    void orbadFeedbackFailedToSendComment(OrbadFeedback& f, const orbad::Error& e) override {
        note("comment failed " + std::to_string(e.code) + " " + e.message, f);
    }
    void orbadFeedbackSentRatings(OrbadFeedback& f) override { note("sent ratings", f); }
    void orbadFeedbackFailedToSendRatings(OrbadFeedback& f, const orbad::Error& e) override {
        note("ratings failed " + std::to_string(e.code) + " " + e.message, f);
    }
};

std::string reasonOf(const std::function<void()>& call) {
    try {
        call();
    } catch (const orbad::OrbadException& e) {
        return e.name() + ": " + e.reason();
    }
    return "no exception";
}

// dk-orbad-cli's test covers the comment's guard and the posts; here: the thread and the flags.
TEST_F(OrbadReportersTest, ResultsReachTheDelegateOnTheMainThreadWithTheFlagsCleared) {
    auto delegate = std::make_shared<NotingFeedbackDelegate>();
    auto feedback = OrbadFeedback::sharedInstance();
    feedback->setDelegate(delegate);
    auto hear = [&](size_t count) {
        dktest::waitUntil([&] {
            RunLoop::main().runOnce(0);
            return delegate->heard.size() >= count;
        });
    };
    EXPECT_EQ(reasonOf([] { OrbadFeedback::sendComment(std::nullopt); }),
              "error: A blank comment can not be sent.");
    OrbadFeedback::sendComment("Great game");
    hear(1);
    OrbadFeedback::sendRatings({5, 4, 3, 2, 1});  // the server's second request: a 404
    EXPECT_TRUE(feedback->isSendingRatings()) << "in flight until the main loop hears";
    OrbadFeedback::sendRatings({1, 1, 1, 1, 1});  // no guard
    hear(3);
    feedback->setSendingRatings(true);
    orbad::setOBReportingSource([] {
        return orbad::OBReportingContext{
            "", "http://127.0.0.1:9/post/feedback", false, "APP123", "1.0.3", "x", "wifi"};
    });
    OrbadFeedback::sendRatings({});  // nothing listens there
    hear(4);
    EXPECT_FALSE(feedback->isSendingRatings());
    OrbadFeedback::sendComment("lost");
    hear(5);

    ASSERT_EQ(delegate->heard.size(), 5u);
    std::sort(delegate->heard.begin() + 1, delegate->heard.begin() + 3);  // the two ratings race
    EXPECT_EQ(delegate->heard[0], "sent comment");
    EXPECT_EQ(delegate->heard[1], "ratings failed 500 Unknown error occurred.");
    EXPECT_EQ(delegate->heard[2], "sent ratings");
    EXPECT_TRUE(delegate->heard[3].starts_with("ratings failed ")) << delegate->heard[3];
    EXPECT_TRUE(delegate->heard[4].starts_with("comment failed ")) << delegate->heard[4];
    for (const std::string& line : delegate->heard)
        EXPECT_FALSE(line.ends_with("OFF MAIN") || line.ends_with("still sending")) << line;
}

}  // namespace
