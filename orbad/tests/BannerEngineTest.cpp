// The banner engine on the virtual clock against the recording server, through the public banner
// and a recording delegate: scenarios of the road of one banner ad.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <functional>
#include <set>
#include <thread>

#include "orbad/Orbad.h"
#include "orbad/ads/OrbadBannerAdView.h"
#include "orbad/ads/OrbadOpenAllocationAdViews.h"
#include "orbad/core/OBConfig.h"
#include "orbad/core/OBEnvironment.h"
#include "orbad/core/OBSessionTracking.h"
#include "orbad/core/OrbadController.h"
#include "orbad/core/OrbadHelper.h"
#include "orbad/core/http/OBCoreHTTPRequest.h"
#include "orbad/tests/BannerTestSupport.h"
#include "orbad/tests/OrbadCreativeTestSupport.h"
#include "platform/foundation/Bundle.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/DeviceFactsFile.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/PropertyList.h"
#include "platform/foundation/RunLoop.h"
#include "platform/net/Reachability.h"
#include "platform/net/Servers.h"
#include "platform/ui/Application.h"
#include "platform/ui/ViewController.h"
#include "platform/ui/Window.h"
#include "platform/web/PageEngine.h"

namespace {

using namespace plat::foundation;
using dktest::RecordingAdDelegate;
using Op = OrbadAdViewDelegate::Op;
using Lines = std::vector<std::string>;

// The lines without their times.
Lines untimed(const Lines& lines) {
    Lines out;
    for (const std::string& line : lines) out.push_back(line.substr(line.find(' ') + 1));
    return out;
}

std::string answer(const std::string& body, int status = 200) {
    return R"({"status": "HTTP/1.1 )" + std::to_string(status) + R"( X", "body": )" +
           Value(body).canonicalJSON() + "}";
}

class BannerEngineTest : public ::testing::Test {
protected:
    void SetUp() override {
        Clock::process().setVirtual(true);
        plat::net::setNetOverride(plat::net::NetOverride::WiFi);
        std::filesystem::create_directories(m_dir.file("Test.app"));
        ASSERT_TRUE(writePropertyList(
            m_dir.file("Test.app/Info.plist"),
            Value(Value::Dictionary{{"CFBundleExecutable", "Test"}, {"CFBundleVersion", "1.0.3"}}),
            PropertyListFormat::Xml));
        Bundle::setMain(*Bundle::open(m_dir.file("Test.app")));
        ASSERT_TRUE(writePropertyList(
            m_dir.file("facts.plist"),
            Value(Value::Dictionary{{"machine", "iPhone4,1"},
                                    {"systemVersion", "6.1"},
                                    {"screenWidth", 320.0},
                                    {"screenHeight", 480.0},
                                    {"screenScale", 1.0},
                                    {"locale", "fr_FR"},
                                    {"advertisingIdentifier", "6D92078A-8246-4BA4-AE5B-76104861E7DC"}}),
            PropertyListFormat::Xml));
        setDeviceFactsFile(m_dir.file("facts.plist"));
        m_container = Container::open("com.test.banner", m_dir.file("home"));
        Container::setMain(*m_container);
        m_delegate.origin = RunLoop::main().now();
    }
    void TearDown() override {
        m_banners.clear();
        dktest::endStartedClient();
        plat::net::setNetOverride(std::nullopt);
    }

    // The server answering every request with `defaultAnswer`, and request n with answers[n-1].
    void serve(const std::string& defaultAnswer, const std::vector<std::string>& answers = {}) {
        std::string script = R"({"default": )" + defaultAnswer + R"(, "requests": {)";
        for (size_t i = 0; i < answers.size(); ++i)
            script += (i ? ", \"" : "\"") + std::to_string(i + 1) + "\": " + answers[i];
        m_server = std::make_unique<dktest::ScriptedServer>(script + "}}");
        m_host = std::make_shared<dktest::FakeBannerHost>(m_server->url("/ads"));
    }
    void start() {
        orbad::setBannerHost(m_host);
        NotificationCenter::defaultCenter().post(orbad::kOrbadDidFinishStarting);
    }
    OrbadAdView& banner(const OrbadAdViewClass& cls = OrbadAdViewiPhone_320x50) {
        m_banners.push_back(cls.make());
        m_banners.back()->setDelegate(&m_delegate);
        return *m_banners.back();
    }
    static void run(double seconds) { RunLoop::main().runFor(seconds); }
    size_t adRequests() const { return dktest::queriesTo(*m_server, "/ads").size(); }
    size_t shows() const { return dktest::queriesTo(m_pings, "/show").size(); }

    dktest::TempDir m_dir;
    std::optional<Container> m_container;
    std::unique_ptr<dktest::ScriptedServer> m_server;
    dktest::ScriptedServer m_pings;  // where the creatives' events go
    std::shared_ptr<dktest::FakeBannerHost> m_host;
    dktest::FakeCreatives m_creatives;
    RecordingAdDelegate m_delegate;
    std::vector<std::shared_ptr<OrbadAdView>> m_banners;
};

const std::string kOneAd = R"({"creative": {"id": "1", "type": "image"}})";

// Before start, requests are held: one failure 10 s after the first held request; a start at 9.9 s
// replays the held request once instead.
TEST_F(BannerEngineTest, HeldUntilStart) {
    serve(answer(kOneAd));
    m_host->refresh = 0;
    OrbadAdView& view = banner();
    view.resumeAdAutoRefresh();
    run(5);
    view.getAd();  // held too, and arms nothing more
    run(10);
    EXPECT_EQ(m_delegate.lines, (Lines{"10.0 adView:didFailLoadWithError: -8888888 No application id found.  "
                                       "Please be sure to start Orbad prior to requesting ads."}));
    EXPECT_EQ(adRequests(), 0u);

    m_delegate.lines.clear();
    banner().getAd();
    run(9.9);
    start();
    run(5);
    EXPECT_EQ(m_delegate.lines, (Lines{"24.9 adViewDidFinishLoad"}));
    EXPECT_EQ(adRequests(), 1u);
}

// Inactive, modal and loading states re-arm every 0.1 s without a request; the configuration's
// update releases a held request; a disabled size fails at once.
TEST_F(BannerEngineTest, GateStatesHoldTheRequest) {
    serve(answer(kOneAd));
    m_host->refresh = 0;
    start();
    m_host->modal = true;
    OrbadAdView& view = banner();
    view.resumeAdAutoRefresh();
    run(1.05);
    EXPECT_EQ(m_host->modalAsks, 11);  // the call and ten re-arms
    EXPECT_EQ(adRequests(), 0u);

    m_host->modal = false;
    NotificationCenter::defaultCenter().post(plat::ui::kApplicationWillResignActiveNotification,
                                             {plat::ui::Application::shared(), nullptr});
    run(1);
    EXPECT_EQ(adRequests(), 0u);
    NotificationCenter::defaultCenter().post(plat::ui::kApplicationDidBecomeActiveNotification,
                                             {plat::ui::Application::shared(), nullptr});
    m_host->updating = true;
    run(1);
    EXPECT_EQ(adRequests(), 0u);
    m_host->updating = false;
    m_host->updated();
    run(1);
    EXPECT_EQ(adRequests(), 1u);

    m_host->enabled = false;
    view.getAd();
    EXPECT_EQ(untimed(m_delegate.lines).back(),
              "adView:didFailLoadWithError: -9999999 This ad unit size has been "
              "remotely disabled in the developer dashboard.");
    EXPECT_EQ(m_host->logged,
              (Lines{"This ad unit size has been remotely disabled in the developer dashboard."}));
}

// The mended fault: an ad that fails at once and names parameters for a follow-up went straight
// back to the server, so a server answering so was asked again as fast as it answered.
TEST_F(BannerEngineTest, AFollowUpWithParametersWaitsTheRetryDelay) {
    const std::string failing = answer(R"({"creative": {"type": "image", "props": {"fail": 1, "params": {"k": "v"}}}})");
    serve(answer("", 503), std::vector<std::string>(20, failing));
    m_host->refresh = 0;
    start();
    banner().getAd();
    run(0.05);
    EXPECT_EQ(adRequests(), 1u);
    run(0.1);
    ASSERT_EQ(adRequests(), 2u);
    EXPECT_EQ(dktest::queriesTo(*m_server, "/ads")[1]["k"], "v");
}

TEST_F(BannerEngineTest, StatusesAndBodiesThatFail) {
    struct Case {
        std::string answer, heard;
    };
    const Case cases[] = {
        {answer("", 503), "-503 No ads available"},
        {answer("", 500), "-500 Server error"},
        {answer("", 512),
         "-9999999 Feed does not exist or has been stopped (disabled) see developer dashboard."},
        {answer("", 418), "0 Unknown error!"},
        {answer("[1, 2]"), "0 "},
        {answer(R"({"creatives": [1, "two"]})"), "0 "},
        {answer(R"({"nothing": 1})"), "0 "},
    };
    for (const Case& c : cases) {
        serve(c.answer);
        start();
        m_delegate.lines.clear();
        m_delegate.answered.insert(Op::adViewDidFailLoad);
        banner().getAd();
        run(0.5);
        EXPECT_EQ(untimed(m_delegate.lines),
                  (Lines{"adViewDidFailLoad", "adView:didFailLoadWithError: " + c.heard}))
            << c.answer;
        m_banners.clear();
        orbad::setBannerHost(nullptr);
    }
}

// "creative" wins over "creatives"; status 251 is success; non-dictionary members are skipped; the
// first of two creatives failing loads the second with one report; both failing report once; an
// HTML creative has no view yet.
TEST_F(BannerEngineTest, CreativeListsAndTheirOutcomes) {
    const std::string show = "/show";
    struct Case {
        std::string body;
        int status;
        Lines heard;
    };
    const Case cases[] = {
        {R"({"creative": {"type": "image"}, "creatives": [{"type": "nothing-loads-this"}]})",
         251,
         {"adViewDidFinishLoad"}},
        {R"({"creatives": [7, {"type": "text", "props": {"fail": 1}}, )" + dktest::imageCreative("2") + "]}",
         200,
         {"adViewDidFinishLoad"}},
        {R"({"creatives": [{"type": "html"}]})", 200, {"adView:didFailLoadWithError: 0 "}},
        {R"({"creatives": [)" + dktest::imageCreative("1", "", true) + ", " +
             dktest::imageCreative("2", "", true) + "]}",
         200,
         {"adView:didFailLoadWithError: 0 "}},
        // Fallback creatives load at once with no network left to try; when they fail in turn the
        // failure is reported once instead of loading them again.
        {R"({"creatives": [{"type": "image", "fallback": true}]})", 200, {"adViewDidFinishLoad"}},
        {R"({"creatives": [{"type": "html", "fallback": "yes"}]})", 200, {"adView:didFailLoadWithError: 0 "}},
        // A follow-up request's "params" that is no dictionary means none: the failure is reported.
        {R"({"creative": {"type": "image", "props": {"fail": 1, "params": "k=v"}}})",
         200,
         {"adView:didFailLoadWithError: 0 "}},
    };
    for (const Case& c : cases) {
        serve(answer(c.body, c.status));
        m_host->refresh = 0;
        start();
        m_delegate.lines.clear();
        banner().getAd();
        run(1);
        EXPECT_EQ(untimed(m_delegate.lines), c.heard) << c.body;
        EXPECT_EQ(adRequests(), 1u) << c.body;
        m_banners.clear();
        orbad::setBannerHost(nullptr);
    }
}

TEST_F(BannerEngineTest, RefreshAtExactlyRefreshTimeAndPauseInsideTheLoad) {
    serve(answer(kOneAd));
    m_host->refresh = 30;
    start();
    banner().resumeAdAutoRefresh();
    run(60.2);
    EXPECT_EQ(m_delegate.lines,
              (Lines{"0.0 adViewDidFinishLoad", "30.0 adViewDidFinishLoad", "60.0 adViewDidFinishLoad"}));

    // Paused inside the callback: neither banner requests again.
    m_delegate.lines.clear();
    m_delegate.pauseOnLoad = true;
    banner().resumeAdAutoRefresh();
    run(100);
    EXPECT_EQ(m_delegate.lines, (Lines{"60.2 adViewDidFinishLoad", "90.0 adViewDidFinishLoad"}));
    EXPECT_EQ(adRequests(), 5u);
}

// A prefetched ad waits off screen until displayAd; "show" is pinged once per display, and a
// display with nothing waiting leaves the shown creative as it is.
TEST_F(BannerEngineTest, PrefetchThenDisplayPingsShowOnce) {
    serve(answer(R"({"creative": )" + dktest::imageCreative("1", m_pings.url("/show")) + "}"));
    m_host->refresh = 0;
    start();
    OrbadAdView& view = banner();
    view.prefetchAd();
    run(1);
    EXPECT_EQ(m_delegate.lines, (Lines{"0.0 adViewDidFinishLoad"}));
    EXPECT_EQ(view.adView()->currentAdView(), nullptr);
    ASSERT_NE(view.adView()->nextAdView(), nullptr);
    EXPECT_LT(view.adView()->nextAdView()->adsView().frame().x, 0);

    view.displayAd();
    run(1);
    auto* shown = view.adView()->currentAdView();
    ASSERT_NE(shown, nullptr);
    EXPECT_EQ(shown->adsView().frame().x, 0);
    view.displayAd();
    run(1);
    EXPECT_EQ(view.adView()->currentAdView(), shown);
    EXPECT_EQ(shown->adsView().superview(), view.adView().get());
    EXPECT_EQ(shows(), 1u);
}

TEST_F(BannerEngineTest, OrdinalsPerEngineAndSharedFullScreenResetBySessionRestart) {
    serve(answer("", 503));
    m_host->refresh = 0;
    start();
    OrbadAdView& a = banner();
    OrbadAdView& b = banner();
    auto full1 = std::make_shared<orbad::OrbadAdViewInternal>(plat::ui::Rect{0, 0, 320, 480});
    auto full2 = std::make_shared<orbad::OrbadAdViewInternal>(plat::ui::Rect{0, 0, 320, 480});
    full1->setAdSize(orbad::kOBFullScreenAdSize);
    full2->setAdSize(orbad::kOBFullScreenAdSize);
    auto ask = [&](auto&&... getters) {
        (getters(), ...);
        run(0.5);
    };
    ask([&] { a.getAd(); }, [&] { b.getAd(); }, [&] { full1->getAd(); }, [&] { full2->getAd(); });
    ask([&] { a.getAd(); }, [&] { full1->getAd(); });
    NotificationCenter::defaultCenter().post(orbad::kOBSessionRestartedNotification);
    ask([&] { b.getAd(); }, [&] { full2->getAd(); });
    Lines seen;
    for (const auto& q : dktest::queriesTo(*m_server, "/ads")) seen.push_back(q.at("s") + " o=" + q.at("o"));
    ASSERT_EQ(seen.size(), 8u);
    // Requests of one round may arrive in any order.
    std::sort(seen.begin(), seen.begin() + 4);
    std::sort(seen.begin() + 4, seen.begin() + 6);
    std::sort(seen.begin() + 6, seen.end());
    EXPECT_EQ(seen, (Lines{"320x50 o=0", "320x50 o=0", "fullscreen o=0", "fullscreen o=1", "320x50 o=1",
                           "fullscreen o=2", "320x50 o=0", "fullscreen o=0"}));
}

// The take-over: the delegate of the public view hears it before the modal flag is set and after
// it is cleared; a second one meanwhile is refused.
TEST_F(BannerEngineTest, TouchThroughOrder) {
    serve(answer(kOneAd));
    start();
    m_delegate.host = m_host.get();
    OrbadAdView& view = banner();
    view.getAd();
    run(1);
    auto ad = view.adView()->currentAd();
    EXPECT_TRUE(view.adView()->adShouldTouchThrough(ad));
    EXPECT_FALSE(view.adView()->adShouldTouchThrough(ad));
    run(40);  // no refresh while the ad has the screen
    view.adView()->adDidFinishTouchThrough(ad);
    run(30.05);
    EXPECT_EQ(m_delegate.lines, (Lines{"0.0 adViewDidFinishLoad", "1.0 adViewWillTouchThrough",
                                       "41.0 adViewDidFinishTouchThrough", "71.0 adViewDidFinishLoad"}));

    // A browser's take-over: ended by its notification from that object only.
    m_delegate.lines.clear();
    int browser = 0, other = 0;
    view.adView()->willTouchThroughWithObject(&browser, "ORBAD_BROWSER_CLOSE");
    NotificationCenter::defaultCenter().post("ORBAD_BROWSER_CLOSE", {&other, nullptr});
    NotificationCenter::defaultCenter().post("ORBAD_BROWSER_CLOSE", {&browser, nullptr});
    NotificationCenter::defaultCenter().post("ORBAD_BROWSER_CLOSE", {&browser, nullptr});
    EXPECT_EQ(untimed(m_delegate.lines), (Lines{"adViewWillTouchThrough", "adViewDidFinishTouchThrough"}));
}

// The take-over is every banner's: an engine let go while it holds it gives it back.
TEST_F(BannerEngineTest, AnEngineGoneWithTheTakeOverGivesItBack) {
    serve(answer(kOneAd));
    start();
    std::weak_ptr<orbad::OrbadAdViewInternal> engine = banner().adView();
    m_banners.back()->getAd();
    run(1);
    ASSERT_TRUE(engine.lock()->adShouldTouchThrough(nullptr));
    m_banners.clear();
    ASSERT_TRUE(engine.expired());
    EXPECT_FALSE(m_host->modal) << "every other banner would stay stopped";
}

// A banner freed while the server holds its answer: the answer reaches nobody.
TEST_F(BannerEngineTest, EngineGoneWhileTheServerHoldsItsAnswer) {
    serve(R"({"delay": 0.5, "body": )" + Value(kOneAd).canonicalJSON() + "}");
    start();
    banner().getAd();
    ASSERT_TRUE(m_server->waitForRequests(1));
    m_banners.clear();
    EXPECT_TRUE(dktest::waitUntil([] {
        RunLoop::main().runFor(0);
        return orbad::OBCoreHTTPRequest::inFlightCount() == 0;
    }));
    run(1);
    EXPECT_TRUE(m_delegate.lines.empty());
}

// The way out of a tool: the main thread cancels the requests and waits for their threads while an
// answer waits for the main loop to take it; the answer gives way.
TEST_F(BannerEngineTest, WaitingForRequestsWhileAnAnswerWaitsForTheMainLoop) {
    serve(answer(kOneAd));
    start();
    banner().getAd();
    ASSERT_TRUE(m_server->waitForRequests(1));
    // The answer on its way to the main loop, which does not turn until the requests are ended.
    ASSERT_TRUE(dktest::waitUntil([] { return orbad::OBCoreHTTPRequest::waitingOnMainCount() == 1; }));
    EXPECT_TRUE(orbad::OBCoreHTTPRequest::cancelAllAndWait(5));
    run(1);
    EXPECT_TRUE(m_delegate.lines.empty());
}

TEST_F(BannerEngineTest, PublicViewSizesAndExplicitRefresh) {
    for (const OrbadAdViewClass* cls :
         {&OrbadAdViewPlain, &OrbadAdViewiPhone_300x250, &OrbadAdViewiPad_120x600}) {
        auto view = cls->makeWithFrame({10, 20, 1, 1});
        EXPECT_EQ(view->frame(), (plat::ui::Rect{10, 20, cls->size.width, cls->size.height}));
        EXPECT_EQ(view->adView()->frame().size(), cls->size);
    }
    serve(answer(kOneAd));
    start();
    OrbadAdView& view = banner();
    view.setRefreshTime(0);  // explicit from now on, and requests nothing
    m_host->refresh = 5;
    m_host->updated();
    view.resumeAdAutoRefresh();
    run(1);
    view.resumeAdAutoRefresh();  // the second only re-arms, with nothing to arm
    run(60);
    EXPECT_EQ(adRequests(), 1u);
}

std::string mapText(const std::map<std::string, std::string>& query) {
    std::string out;
    for (const auto& [key, value] : query) out += key + "=" + value + "\n";
    return out;
}

// The default request of a portrait banner, key by key, as tests/data/banner-default-request.txt.
TEST_F(BannerEngineTest, DefaultRequest) {
    serve(answer("", 503));
    start();
    auto controller = std::make_shared<plat::ui::ViewController>();
    OrbadAdView& view = banner();
    controller->view()->addSubview(view.shared_from_this());
    view.getAd();
    run(0.5);
    const auto queries = dktest::queriesTo(*m_server, "/ads");
    ASSERT_EQ(queries.size(), 1u);
    const std::string expected =
        dktest::readFile(std::string(DK_SOURCE_DIR) + "/orbad/tests/data/banner-default-request.txt");
    EXPECT_EQ(mapText(queries[0]), expected);
}

// Single keys of the query, each from one change to the default (absent: nullopt).
TEST_F(BannerEngineTest, RequestParameters) {
    using Keys = std::map<std::string, std::optional<std::string>>;
    struct Case {
        const char* name;
        std::function<void(OrbadAdView&, RecordingAdDelegate&, dktest::FakeBannerHost&)> change;
        Keys expected;
        int ordinal = 0;
        bool pii = true;
        Value additional = Value();
    };
    auto none = [](OrbadAdView&, RecordingAdDelegate&, dktest::FakeBannerHost&) {};
    const std::string astral = "\xF0\x9F\x98\x80";  // one character, two UTF-16 units
    const Case cases[] = {
        {"no controller: swapped", none, {{"sh", "320"}, {"sw", "480"}, {"as", {}}, {"t", {}}}},
        {"space name of 17, testing",
         [](auto& v, auto&, auto&) {
             v.setAdSpaceName("abcdefghijklmnopq");
             v.setTestingMode(true);
         },
         {{"as", "abcdefghijklmnop"}, {"t", "1"}}},
        {"pair across the cut",
         [&](auto& v, auto&, auto&) { v.setAdSpaceName("abcdefghijklmno" + astral + "z"); },
         {{"as", "abcdefghijklmno"}}},
        {"pair before the cut",
         [&](auto& v, auto&, auto&) { v.setAdSpaceName("abcdefghijklmn" + astral + "yz"); },
         {{"as", "abcdefghijklmn" + astral}}},
        {"pings", none, {{"o", "4294967295"}, {"ue", {}}}, -1, false, Value()},
        {"demographics",
         [](auto&, auto&, dktest::FakeBannerHost& h) {
             orbad::OrbadDemographicsRecord& d = h.demo;
             d.dec = 6, d.den = 7, d.drl = 7, d.dg = 3, d.ddg = 2, d.dac = 12, d.ddc = -1;
             d.dci = "Berlin", d.dpo = "10115", d.drg = "\xFF";
             h.birth = plat::foundation::Date{12 * 3600};  // noon: the same day in most zones
         },
         {{"e", "6"},
          {"r", {}},
          {"j", "7"},
          {"g", {}},
          {"db", "2"},
          {"x", {}},
          {"dc", "-1"},
          {"mc", {}},
          {"m", {}},
          {"c", "12"},
          {"ci", "Berlin"},
          {"co", {}},
          {"z", "10115"},
          {"re", {}},
          {"d", "19700101"}}},
        {"additional over the SDK's, nulls skipped",
         none,
         {{"s", "1x1"}, {"extra", "yes"}, {"ap", "0"}},
         0,
         true,
         Value(Value::Dictionary{{"s", "1x1"}, {"extra", "yes"}, {"ap", Value()}})},
        {"keywords and query over additional",
         [](auto&, RecordingAdDelegate& d, auto&) {
             d.answered.insert({Op::obKeywords, Op::query});
             d.keywords = "kw";
             d.searchQuery = "q1";
         },
         {{"k", "kw"}, {"q", "q1"}},
         0,
         true,
         Value(Value::Dictionary{{"k", "theirs"}})},
        {"the address wants both operations",
         [](auto&, RecordingAdDelegate& d, auto&) {
             d.answered.insert(Op::changeAdURL);
             d.ip = "10.1.2.3";
         },
         {{"ip", {}}}},
        {"the address",
         [](auto&, RecordingAdDelegate& d, auto&) {
             d.answered.insert({Op::changeAdURL, Op::getOverrideIPAddress});
             d.ip = "10.1.2.3";
         },
         {{"ip", "10.1.2.3"}}},
        {"ad URL hook ends the hooks",
         [](auto&, RecordingAdDelegate& d, auto&) {
             d.answered.insert({Op::requestedAdUrlForAdView, Op::requestedCreativeForAdView});
             d.adURL = "http://a/";
             d.creative = "c";
         },
         {{"adurl", "http://a/"}, {"cr", {}}, {"i", "APP123"}}},
        {"an empty ad URL lets the creative hook run",
         [](auto&, RecordingAdDelegate& d, auto&) {
             d.answered.insert({Op::requestedAdUrlForAdView, Op::requestedCreativeForAdView});
             d.adURL = "";
             d.creative = "c";
         },
         {{"adurl", {}}, {"cr", "c"}, {"i", {}}}},
        {"a null ad URL ends the hooks",
         [](auto&, RecordingAdDelegate& d, auto&) {
             d.answered.insert({Op::requestedAdUrlForAdView, Op::requestedCreativeForAdView});
             d.creative = "c";
         },
         {{"adurl", {}}, {"cr", {}}, {"i", "APP123"}}},
        {"the third hook",
         [](auto&, RecordingAdDelegate& d, auto&) {
             d.answered.insert({Op::requestedCreativeForAdView, Op::requestedVeltiMediaURL});
             d.creative = "";
             d.veltiURL = "http://v/";
         },
         {{"adurl", "http://v/"}, {"i", "APP123"}}},
    };
    serve(answer("", 503));
    start();
    for (const Case& c : cases) {
        RecordingAdDelegate delegate;
        auto view = OrbadAdViewiPhone_320x50.make();
        *m_host = dktest::FakeBannerHost(m_server->url("/ads"));
        c.change(*view, delegate, *m_host);
        view->setDelegate(&delegate);
        const Value* additional = c.additional.isNull() ? nullptr : &c.additional;
        const Value query(view->adView()->buildAdRequestParams(c.ordinal, additional, c.pii));
        std::map<std::string, std::string> got;
        for (const auto& [key, value] : orbad::obComponentsFromQueryString(orbad::obBuildQueryString(query)))
            got[key] = *value.string();
        for (const auto& [key, value] : c.expected) {
            auto it = got.find(key);
            EXPECT_EQ(it == got.end() ? std::nullopt : std::optional<std::string>(it->second), value)
                << c.name << ": " << key;
        }
    }
}

// The controller is the explicit one, else the first up the responder chain; without one the
// integration error goes to standard output.
TEST_F(BannerEngineTest, ViewControllerWalk) {
    serve(answer("", 503));
    start();
    OrbadAdView& view = banner();
    testing::internal::CaptureStdout();
    EXPECT_FALSE(view.adView()->verifyViewController());
    EXPECT_EQ(testing::internal::GetCapturedStdout(), std::string(orbad::kOrbadIntegrationErrorText) + "\n");

    auto outer = std::make_shared<plat::ui::ViewController>();
    auto holder = std::make_shared<plat::ui::View>(plat::ui::Rect{0, 0, 320, 480});
    outer->view()->addSubview(holder);
    holder->addSubview(view.shared_from_this());
    EXPECT_EQ(view.viewController(), outer.get());
    auto chosen = std::make_shared<plat::ui::ViewController>();
    view.setViewController(chosen.get());
    EXPECT_EQ(view.viewController(), chosen.get());
    view.setViewController(nullptr);
}

// The client's own image creative end to end: its picture fetched, the view swapped in at the
// engine's bounds, "show" pinged.
TEST_F(BannerEngineTest, ImageCreativeOnScreen) {
    orbad::registerCreativeClass("OrbadBannerAdView", {});
    dktest::ScriptedServer pictures(R"({"default": {"body_hex": ")" + dktest::pngHex(320, 50) + R"("}})");
    serve(answer(R"({"creative": {"type": "image", "props": {"images": [")" + pictures.url("/a.png") +
                 R"("]}, "eventUrls": {"show": [")" + m_pings.url("/show") + R"("]}}})"));
    m_host->refresh = 0;
    start();
    OrbadAdView& view = banner();
    view.getAd();
    EXPECT_TRUE(dktest::turnUntil([&] { return !m_delegate.lines.empty(); }));
    run(1);
    EXPECT_EQ(untimed(m_delegate.lines), (Lines{"adViewDidFinishLoad"}));
    orbad::OrbadAdsView* shown = view.adView()->currentAdView();
    ASSERT_NE(shown, nullptr);
    EXPECT_STREQ(shown->adsViewClassName(), "OrbadBannerAdView");
    EXPECT_EQ(shown->adsView().frame(), view.adView()->bounds());
    EXPECT_EQ(shows(), 1u);
}

// Behaviours kept as they were: no refresh time before start, a failure re-arms the refresh, and a
// load finishing for an ad no longer current is removed and refused.
TEST_F(BannerEngineTest, KeptBehaviours) {
    serve(answer("", 503));
    OrbadAdView& early = banner();
    EXPECT_EQ(early.refreshTime(), 0);
    start();
    EXPECT_EQ(early.refreshTime(), 0);
    m_host->updated();
    EXPECT_EQ(early.refreshTime(), 30);

    early.resumeAdAutoRefresh();
    run(60.05);
    EXPECT_EQ(m_delegate.lines, (Lines{"0.0 adView:didFailLoadWithError: -503 No ads available",
                                       "30.0 adView:didFailLoadWithError: -503 No ads available",
                                       "60.0 adView:didFailLoadWithError: -503 No ads available"}));

    auto stale = std::make_shared<orbad::OrbadBannerAdView>(plat::ui::Rect{0, 0, 320, 50});
    early.adView()->addSubview(stale);
    EXPECT_FALSE(early.adView()->adsViewFinishedLoading(*stale, dktest::adFrom(R"({"type": "image"})")));
    EXPECT_EQ(stale->superview(), nullptr);
}

// The player's road: once the client has started, `init` gives the client's banner, which waits
// for the start-up's end and asks the configured ad server; before, the stand-in.
TEST_F(BannerEngineTest, PlayerInitAfterStart) {
    plat::web::useWebEngine("fake");
    serve(answer(kOneAd));
    dktest::ScriptedServer data(R"({"default": {"status": "HTTP/1.1 503 X"}})");
    for (const char* name : orbad::kOrbadServerNames) plat::net::setServerBaseOverride(name, data.url(""));
    plat::net::setServerBaseOverride(orbad::kOrbadAdsServer, m_server->url(""));

    auto before = OrbadAdViewiPhone_320x50.init();
    EXPECT_EQ(before->adView(), nullptr);
    Orbad::startWithApplicationId("APP9");
    auto view = OrbadAdViewiPhone_320x50.init();
    ASSERT_NE(view->adView(), nullptr);
    view->setDelegate(&m_delegate);
    view->resumeAdAutoRefresh();
    EXPECT_TRUE(dktest::turnUntil([&] { return !m_delegate.lines.empty(); }));
    EXPECT_EQ(untimed(m_delegate.lines), (Lines{"adViewDidFinishLoad"}));
    const auto asked = dktest::queriesTo(*m_server, "/");
    ASSERT_EQ(asked.size(), 1u);
    EXPECT_EQ(asked[0].at("i"), "APP9");
    m_banners.push_back(std::move(view));
}

// The mended fault: the controller's host outlived its controller (engines hold it), so a live
// engine reached freed memory, and a new controller at the same address got the stale host.
TEST_F(BannerEngineTest, TheControllersHostOutlivesItsController) {
    plat::net::setNetOverride(plat::net::parseNetOverride("none"));
    Orbad::startWithApplicationId("APP9");
    const std::shared_ptr<orbad::OBBannerHost> first = orbad::bannerHost();
    ASSERT_NE(first, nullptr);
    const plat::ui::Size unit{320, 50};
    orbad::OrbadController::shutdown();
    EXPECT_FALSE(first->adUnitEnabled(unit)) << "no controller: no unit";
    EXPECT_FALSE(first->isUpdating());
    EXPECT_EQ(first->advertisingURL(), "");
    Orbad::resetForTesting();
    Orbad::startWithApplicationId("APP10");
    const std::shared_ptr<orbad::OBBannerHost> second = orbad::bannerHost();
    ASSERT_NE(second, nullptr);
    EXPECT_NE(second, first);
    EXPECT_EQ(second->environment().applicationId(), "APP10");
}

// A creative whose action preloads is shown once the action says so: a URL page fetched (before
// the time-out, one notification), or an HTML page whose browser never reports, at 10 s and not
// before.
TEST_F(BannerEngineTest, PreloadingActionHoldsTheCreative) {
    plat::web::useWebEngine("fake");
    struct Case {
        std::string action;
        Lines lines;
    };
    const std::string page = m_pings.url("/landing");
    for (const Case& c : {Case{R"({"type": "url", "preload": "true", "url": ")" + page + R"("})", {"0.0 adViewDidFinishLoad"}},
                          Case{R"({"type": "html", "preload": "true", "html": "<p>ad</p>"})", {"10.0 adViewDidFinishLoad"}}}) {
        SCOPED_TRACE(c.action);
        serve(answer(R"({"creative": {"id": "1", "type": "image", "action": )" + c.action + "}}"));
        m_host->refresh = 0;
        start();
        int posted = 0;
        Observation counting = NotificationCenter::defaultCenter().observe(
            orbad::kOrbadAdActionPreloaded, nullptr, [&](const auto&) { ++posted; });
        m_delegate.lines.clear();
        m_delegate.origin = RunLoop::main().now();
        banner().getAd();
        run(9.95);
        run(0.1);
        run(5);
        EXPECT_EQ(m_delegate.lines, c.lines);
        EXPECT_EQ(posted, 1);
        m_banners.clear();
    }
}

// A creative that never reports is given up 30 s after it was handed its ad: the next one of the
// list loads, and after the last the failure is heard and the refresh goes on. What the given-up
// creative says later changes nothing; one that answered in time is never failed afterwards.
TEST_F(BannerEngineTest, ACreativeThatNeverAnswersFailsAtTheLoadTimeOut) {
    const std::string silent = R"({"type": "image", "props": {"silent": 1}})";
    struct Case {
        std::string body;
        double refresh;
        Lines lines;
        size_t requests;
        bool lateWord;  // the given-up creative speaks once its ad has failed
    };
    const Case cases[] = {
        {R"({"creatives": [)" + silent + ", " + dktest::imageCreative("2") + "]}", 0,
         {"30.0 adViewDidFinishLoad"}, 1, false},
        {R"({"creative": )" + silent + "}", 0, {"30.0 adView:didFailLoadWithError: 0 "}, 1, true},
        {R"({"creative": )" + silent + "}",
         40,
         {"30.0 adView:didFailLoadWithError: 0 ", "100.0 adView:didFailLoadWithError: 0 "},
         2,
         false},
        {R"({"creatives": [)" + dktest::imageCreative("1") + ", " + silent + "]}", 0,
         {"0.0 adViewDidFinishLoad"}, 1, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.body);
        serve(answer(c.body));
        m_host->refresh = c.refresh;
        start();
        m_delegate.lines.clear();
        m_delegate.origin = RunLoop::main().now();
        OrbadAdView& view = banner();
        view.getAd();
        run(29.9);
        const std::shared_ptr<orbad::OrbadAdsView> waiting = view.adView()->nextAdView();
        const std::shared_ptr<orbad::OrbadAd> ad = view.adView()->currentAd();
        run(100.1 - 29.9);
        EXPECT_EQ(m_delegate.lines, c.lines);
        EXPECT_EQ(adRequests(), c.requests);
        if (c.lateWord) {
            ASSERT_NE(waiting, nullptr);
            EXPECT_EQ(waiting->adsView().superview(), nullptr);
            EXPECT_EQ(view.adView()->currentAd(), ad);
            EXPECT_FALSE(view.adView()->adsViewFinishedLoading(*waiting, ad));
            view.adView()->adsViewFailedToLoad(*waiting, ad, std::nullopt);
            run(1);
            EXPECT_EQ(m_delegate.lines, c.lines);
            EXPECT_EQ(view.adView()->currentAdView(), nullptr);
        }
        m_banners.clear();
        orbad::setBannerHost(nullptr);
    }
}

// The same on the real page engine: a rich-media page whose picture and script arrive a byte each
// half second never finishes loading, and fails at the time-out, not before.
TEST_F(BannerEngineTest, ATricklingPageOnTheEngineFailsAtTheLoadTimeOut) {
    ASSERT_TRUE(plat::web::useWebEngine("wpe"));
    dktest::HostileServer slow(m_dir.file("slow"),
                               R"({"attack": "trickle", "headers": [["Content-Type", "image/png"]]})");
    ASSERT_TRUE(slow.running());
    const std::string page = "<html><head><script src='" + slow.url() +
                             "/slow.js'></script></head><body><img src='" + slow.url() + "/slow.png'>ad</body></html>";
    serve(answer(R"({"creative": {"type": "html", "props": {"html": )" + Value(page).canonicalJSON() +
                 "}}}"));
    m_host->refresh = 0;
    start();
    OrbadAdView& view = banner();
    view.getAd();
    run(29.9);
    EXPECT_EQ(m_delegate.lines, Lines{});
    ASSERT_NE(view.adView()->nextAdView(), nullptr);
    EXPECT_STREQ(view.adView()->nextAdView()->adsViewClassName(), "OrbadRichMediaWebAdView");
    // Both were asked for, and neither has ended: the page was still loading.
    std::set<std::string> asked;
    for (const std::string& line : slow.requestLines())
        for (const char* path : {"/slow.js", "/slow.png"})
            if (line.find(std::string("GET ") + path + " ") != std::string::npos) asked.insert(path);
    EXPECT_EQ(asked, (std::set<std::string>{"/slow.js", "/slow.png"}));
    run(0.2);
    EXPECT_EQ(m_delegate.lines, (Lines{"30.0 adView:didFailLoadWithError: 0 "}));
    EXPECT_EQ(view.adView()->nextAdView(), nullptr);
}

// A creative whose page never yields fails at the time-out, and the next creative of the list loads:
// the stuck page's web process is not the next one's. On the real clock: a page that never ends its
// load holds a virtual one back at every jump.
TEST_F(BannerEngineTest, ACreativeThatNeverYieldsLeavesTheNextCreativeToLoad) {
    Clock::process().setVirtual(false);
    ASSERT_TRUE(plat::web::useWebEngine("wpe"));
    auto html = [](const std::string& page) {
        return R"({"type": "html", "props": {"html": )" + Value(page).canonicalJSON() + "}}";
    };
    serve(answer(R"({"creatives": [)" + html("<html><body>ad<script>while (true) {}</script></body></html>") + ", " +
                 html("<html><body>ad</body></html>") + "]}"));
    m_host->refresh = 0;
    start();
    OrbadAdView& view = banner();
    view.getAd();
    // Past the time-out, with the wait on the engine besides, however loaded the machine.
    for (int i = 0; i < 900 && m_delegate.lines.empty(); ++i) run(0.1);
    Clock::process().setVirtual(true);
    EXPECT_EQ(untimed(m_delegate.lines), Lines{"adViewDidFinishLoad"});
    plat::web::useWebEngine("none");
}

// ---- the open-allocation waterfall ----

class WaterfallTest : public BannerEngineTest {
protected:
    // The server answers one image ad; the host's list is `names` by priority, pinged at /oa/.
    void waterfall(const std::vector<std::string>& names) {
        serve(answer(kOneAd));
        Value::Array list;
        int priority = 1;
        for (const std::string& name : names)
            list.push_back(Value(Value::Dictionary{{"name", name}, {"priority", priority++}}));
        m_host->candidates = list;
        m_host->oaBase = m_pings.url("/oa/");
        start();
    }
    // The pings in the order the server saw them: "oanoad", "oadev", ...
    Lines pings() const {
        Lines out;
        for (const auto& seen : m_pings.requests())
            if (seen.path.starts_with("/oa/")) out.push_back(seen.path.substr(4, seen.path.find('?') - 4));
        return out;
    }
};

// iAd has no library here: it fails at once, pings no-ad, and 0.1 s later the ad server is asked.
TEST_F(WaterfallTest, FailedNetworkMovesOnToTheServer) {
    waterfall({"openiad", "orbad"});
    OrbadAdView& view = banner();
    view.getAd();
    run(1);
    EXPECT_EQ(m_delegate.lines, (Lines{"0.1 adViewDidFinishLoad"}));
    ASSERT_EQ(adRequests(), 1u);
    EXPECT_EQ(dktest::queriesTo(*m_server, "/ads")[0].at("o"), "0");
    EXPECT_EQ(pings(), (Lines{"oanoad"}));
    const auto noAd = dktest::queriesTo(m_pings, "/oa/oanoad").at(0);
    EXPECT_EQ(noAd.at("o"), "4294967295");
    EXPECT_EQ(noAd.count("ue"), 0u);
    EXPECT_EQ(noAd.at("oa"), "openiad");
    EXPECT_EQ(noAd.at("oam"), "priority");
    EXPECT_EQ(noAd.at("oav"), "1");
    EXPECT_EQ(view.adView()->oacandidates(), std::nullopt);  // a loaded creative ends the list
}

TEST_F(WaterfallTest, UsedUpListReports) {
    waterfall({});
    banner().getAd();
    run(0.5);
    EXPECT_EQ(m_delegate.lines,
              (Lines{"0.0 adView:didFailLoadWithError: -503 \t\tNo ads available, all OA candidates exhausted."}));
    EXPECT_EQ(adRequests(), 0u);
}

// Fallback creatives wait while the list lasts and show instead of the used-up report.
TEST_F(WaterfallTest, FallbackCreativesInsteadOfTheReport) {
    waterfall({"orbad", "openiad"});
    serve(answer(R"({"creative": {"id": "1", "type": "image", "fallback": "true"}})"));
    m_host->oaBase = m_pings.url("/oa/");
    m_host->candidates = Value::Array{Value(Value::Dictionary{{"name", "orbad"}, {"priority", 1}}),
                                      Value(Value::Dictionary{{"name", "openiad"}, {"priority", 2}})};
    start();
    banner().getAd();
    run(1);
    EXPECT_EQ(m_delegate.lines, (Lines{"0.2 adViewDidFinishLoad"}));
    EXPECT_EQ(pings(), (Lines{"oanoad"}));
}

// Refused and received by the delegate: its code, the developer ping, no banner, the refresh
// re-armed; the refresh then draws a fresh list.
TEST_F(WaterfallTest, DelegateTakesAdMob) {
    waterfall({"openadmob", "orbad"});
    m_delegate.answered.insert({Op::adViewShouldHandleSuballocationRequest, Op::adViewDidReceiveSuballocationRequest});
    m_delegate.handle = false;
    OrbadAdView& view = banner();
    view.getAd();
    run(1);
    EXPECT_EQ(m_delegate.lines, (Lines{"0.0 shouldHandle -750", "0.0 didReceive -750"}));
    EXPECT_EQ(pings(), (Lines{"oadev"}));
    EXPECT_EQ(view.adView()->currentAdView(), nullptr);
    m_host->candidates = Value::Array{Value(Value::Dictionary{{"name", "orbad"}, {"priority", 1}})};
    run(29.5);
    EXPECT_EQ(untimed(m_delegate.lines).back(), "adViewDidFinishLoad");
    EXPECT_EQ(m_delegate.lines.back().substr(0, 4), "30.0");
}

// continueRequest keeps the list the delegate's request came from.
TEST_F(WaterfallTest, ContinueRequestKeepsTheList) {
    waterfall({"openadmob", "orbad"});
    m_delegate.answered.insert({Op::adViewShouldHandleSuballocationRequest, Op::adViewDidReceiveSuballocationRequest});
    m_delegate.handle = false;
    m_host->refresh = 0;
    OrbadAdView& view = banner();
    view.getAd();
    run(0.5);
    m_host->candidates = Value::Array{};
    view.continueRequest();
    run(0.5);
    EXPECT_EQ(untimed(m_delegate.lines),
              (Lines{"shouldHandle -750", "didReceive -750", "shouldHandle -750", "didReceive -750"}));
}

// "empty" with no hooks: no-ad, then the developer ping with the same query; 0.1 s later the
// next candidate; no delegate failure.
TEST_F(WaterfallTest, EmptySlotWithoutHooks) {
    waterfall({"empty", "orbad"});
    banner().getAd();
    run(1);
    EXPECT_EQ(m_delegate.lines, (Lines{"0.1 adViewDidFinishLoad"}));
    Lines seen = pings();  // sent in order, but each on a thread of its own
    std::sort(seen.begin(), seen.end());
    EXPECT_EQ(seen, (Lines{"oadev", "oanoad"}));
    EXPECT_EQ(dktest::queriesTo(m_pings, "/oa/oanoad"), dktest::queriesTo(m_pings, "/oa/oadev"));
}

// Names no network answers to, and fabricated creatives that cannot be read, drop their candidate
// and try the next 0.1 s later instead of leaving the slot silent.
TEST_F(WaterfallTest, UnusableCandidatesMoveOn) {
    for (const std::string& base : {std::string(), std::string("http://h.test/\xff/")}) {
        SCOPED_TRACE(base);
        waterfall({base.empty() ? "bogus" : "openiad", "orbad"});
        if (!base.empty()) m_host->oaBase = base;
        m_delegate.lines.clear();
        m_delegate.origin = RunLoop::main().now();
        banner().getAd();
        run(1);
        EXPECT_EQ(m_delegate.lines, (Lines{"0.1 adViewDidFinishLoad"}));
        EXPECT_EQ(adRequests(), 1u);
        m_banners.clear();
    }
}

// A base URL holding a quote still makes a readable creative: the delegate gets the empty slot.
TEST_F(WaterfallTest, PingBaseIsEscaped) {
    waterfall({"empty"});
    m_host->oaBase = "http://h.test/a\"b\\c/";
    m_delegate.answered.insert(Op::adViewDidReceiveSuballocationRequest);
    banner().getAd();
    run(0.5);
    EXPECT_EQ(m_delegate.lines, (Lines{"0.0 didReceive -1006"}));
}

// ---- the adapters, over fake network libraries ----

// A network banner that only records what it was asked; tests play the network's callbacks.
struct FakeNetworkBanner : orbad::OBNetworkBanner {
    explicit FakeNetworkBanner(orbad::OBNetworkBannerRequest r) : OBNetworkBanner(r.frame), request(std::move(r)) {}
    void load() override { ++loads; }
    orbad::OBNetworkBannerRequest request;
    int loads = 0;
};

class AdapterTest : public WaterfallTest {
protected:
    void TearDown() override {
        for (const char* name : {"ADBannerView", "AdMobView", "GADBannerView", "MMAdView"})
            orbad::registerNetworkBannerClass(name, {});
        WaterfallTest::TearDown();
    }
    void network(const std::string& name) {
        orbad::registerNetworkBannerClass(name, [this](const orbad::OBNetworkBannerRequest& r) {
            made.push_back(std::make_shared<FakeNetworkBanner>(r));
            return made.back();
        });
    }
    // One request of `cls` for `candidate`, the fake banners made meanwhile in `made`.
    OrbadAdView& request(const std::string& candidate, const OrbadAdViewClass& cls = OrbadAdViewiPhone_320x50) {
        waterfall({candidate, "orbad"});
        OrbadAdView& view = banner(cls);
        view.getAd();
        run(0.05);
        return view;
    }
    std::vector<std::shared_ptr<FakeNetworkBanner>> made;
};

TEST_F(AdapterTest, DeliveredTwiceReportedOnce) {
    network("ADBannerView");
    request("openiad");
    ASSERT_EQ(made.size(), 1u);
    EXPECT_EQ(made[0]->loads, 1);
    EXPECT_EQ(made[0]->request.frame, (plat::ui::Rect{0, 0, 320, 50}));
    made[0]->delegate()->networkDidReceiveAd();
    made[0]->delegate()->networkDidReceiveAd();
    run(1);
    EXPECT_EQ(untimed(m_delegate.lines), (Lines{"adViewDidFinishLoad"}));
    EXPECT_EQ(adRequests(), 0u);
}

TEST_F(AdapterTest, AdMobSizeByHeight) {
    network("AdMobView");
    m_delegate.answered.insert(Op::adViewPublisherKeyForSuballocationRequest);
    m_delegate.publisherKey = "PUB";
    for (auto [cls, size] : {std::pair{&OrbadAdViewiPhone_320x50, plat::ui::Size{320, 48}},
                             std::pair{&OrbadAdViewiPad_468x60, plat::ui::Size{488, 80}},
                             std::pair{&OrbadAdViewiPad_728x90, plat::ui::Size{748, 110}},
                             std::pair{&OrbadAdViewiPhone_300x250, plat::ui::Size{320, 270}}}) {
        made.clear();
        request("openadmob", *cls);
        ASSERT_EQ(made.size(), 1u) << cls->name;
        EXPECT_EQ(made[0]->request.requestedSize, size) << cls->name;
        EXPECT_EQ(made[0]->request.key, "PUB");
        m_banners.clear();
    }
}

// Google without a publisher key: nothing made, the no-ad ping, the next candidate.
TEST_F(AdapterTest, GoogleWithoutKeyFails) {
    network("GADBannerView");
    request("openadmob");
    run(1);
    EXPECT_TRUE(made.empty());
    EXPECT_EQ(pings(), (Lines{"oanoad"}));
    EXPECT_EQ(adRequests(), 1u);
}

TEST_F(AdapterTest, MillennialPlacementAndKeys) {
    network("MMAdView");
    auto window = std::make_shared<plat::ui::Window>(plat::ui::Rect{0, 0, 320, 480});
    struct Case {
        const OrbadAdViewClass* cls;
        std::optional<double> y;  // in the window at this height; none: not in one
        int type;
    };
    for (const Case& c : {Case{&OrbadAdViewiPhone_320x50, std::nullopt, 1}, Case{&OrbadAdViewiPhone_320x50, 10, 1},
                          Case{&OrbadAdViewiPhone_320x50, 400, 2}, Case{&OrbadAdViewiPhone_300x250, 400, 3}}) {
        made.clear();
        waterfall({"openmillennial"});
        m_host->oaKeys = {{"openmillennial:1", "APID"}, {"openmillennial:2", "age=25"}};
        OrbadAdView& view = banner(*c.cls);
        if (c.y) {
            view.setFrame({0, *c.y, view.frame().width, view.frame().height});
            window->addSubview(view.shared_from_this());
        }
        view.getAd();
        run(0.05);
        ASSERT_EQ(made.size(), 1u);
        EXPECT_EQ(made[0]->request.placementType, c.type);
        EXPECT_EQ(made[0]->request.key, "APID");
        EXPECT_EQ(made[0]->request.requestData, (std::map<std::string, std::string>{{"age", "25"}}));
        view.removeFromSuperview();
        m_banners.clear();
    }
    using Data = std::optional<std::map<std::string, std::string>>;
    EXPECT_EQ(orbad::OrbadMillennialAdView::requestData("25"), (Data{{{"vendor", "25"}}}));
    EXPECT_EQ(orbad::OrbadMillennialAdView::requestData("a=b=c"), (Data{{{"a", "b=c"}}}));
    EXPECT_EQ(orbad::OrbadMillennialAdView::requestData(std::nullopt), Data{});
}

TEST_F(AdapterTest, MillennialRefusesFullScreenAndMissingKey) {
    network("MMAdView");
    for (bool fullScreen : {true, false}) {
        made.clear();
        waterfall({"openmillennial"});
        if (fullScreen) m_host->oaKeys = {{"openmillennial:1", "APID"}};
        OrbadAdView& view = banner();
        if (fullScreen) view.adView()->setAdSize({999, 999});
        view.getAd();
        run(0.05);
        EXPECT_TRUE(made.empty());
        m_banners.clear();
    }
}

// A tap of another Millennial banner is not this adapter's: only its own opens the take-over.
TEST_F(AdapterTest, MillennialTapOfItsOwnBannerOnly) {
    network("MMAdView");
    waterfall({"openmillennial"});
    m_host->refresh = 0;
    m_host->oaKeys = {{"openmillennial:1", "APID"}};
    OrbadAdView& view = banner();
    view.getAd();
    run(0.05);
    ASSERT_EQ(made.size(), 1u);
    made[0]->delegate()->networkDidReceiveAd();
    int other = 0;
    NotificationCenter::defaultCenter().post(orbad::kMillennialMediaAdWasTapped, {&other, nullptr});
    EXPECT_EQ(untimed(m_delegate.lines), (Lines{"adViewDidFinishLoad"}));
    NotificationCenter::defaultCenter().post(orbad::kMillennialMediaAdWasTapped, {made[0].get(), nullptr});
    EXPECT_EQ(untimed(m_delegate.lines),
              (Lines{"adViewDidFinishLoad", "adViewWillTouchThrough", "adViewDidFinishTouchThrough"}));
}

}  // namespace
