// The image, text and HTML creatives: downloads against the recording server, what shows and what
// the engine is told; the HTML view on the fake page engine.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "orbad/ads/OrbadBannerAdView.h"
#include "orbad/ads/OrbadImageDownloads.h"
#include "orbad/ads/OrbadWebAdView.h"
#include "orbad/core/http/OBCoreHTTPRequest.h"
#include "orbad/tests/OrbadCreativeTestSupport.h"
#include "orbad/tests/OrbadTestSupport.h"
#include "platform/foundation/Clock.h"
#include "platform/net/Reachability.h"
#include "platform/ui/ImageView.h"
#include "platform/ui/Label.h"
#include "platform/ui/TextMeasure.h"
#include "platform/web/FakeWebEngine.h"
#include "platform/web/PageEngine.h"

namespace {

using orbad::OrbadBannerAdView;
using orbad::OrbadTextAdView;
using plat::ui::ImageView;
using plat::ui::Rect;
using plat::ui::View;

class CreativeTest : public ::testing::Test {
protected:
    void SetUp() override {
        plat::foundation::Clock::process().setVirtual(true);
        plat::net::setNetOverride(plat::net::NetOverride::WiFi);
    }
    void TearDown() override { orbad::OBCoreHTTPRequest::cancelAllAndWait(5); }

    template <class V>
    std::shared_ptr<V> creative(const std::string& json) {
        auto view = std::make_shared<V>(Rect{0, 0, 320, 50});
        view->setMainAdView(host);
        view->loadWithAd(dktest::adFrom(json));
        return view;
    }
    bool reported() {
        return dktest::turnUntil([&] { return !host->lines.empty(); });
    }
    std::shared_ptr<dktest::NotingHost> host = std::make_shared<dktest::NotingHost>();
};

std::string images(const std::vector<std::string>& urls, const std::string& more = "") {
    std::string list;
    for (const auto& url : urls) list += (list.empty() ? "\"" : ",\"") + url + "\"";
    return R"({"id":"b","type":"banner","props":{"images":[)" + list + "]" + more + "}}";
}

TEST_F(CreativeTest, RepeatedImagesDownloadOnceAndPlayAsEndlessFrames) {
    dktest::ScriptedServer server(R"({"default":{"body_hex":")" + dktest::pngHex(4, 4) + R"("}})");
    const std::string u1 = server.url("/1.png"), u2 = server.url("/2.png");
    auto view = creative<OrbadBannerAdView>(
        images({u1, u2, u1}, R"(,"transitionType":"none","durationTime":2,"loop":true)"));
    ASSERT_TRUE(reported());
    dktest::turn(0.1);
    EXPECT_EQ(host->lines, std::vector<std::string>{"finished"});
    EXPECT_EQ(server.requests().size(), 2u);
    ASSERT_EQ(view->subviews().size(), 1u);
    auto* shown = dynamic_cast<ImageView*>(view->subviews()[0].get());
    ASSERT_TRUE(shown);
    EXPECT_EQ(shown->animationImages().size(), 3u);
    EXPECT_EQ(shown->animationDuration(), 6);
    EXPECT_EQ(shown->animationRepeatCount(), 0);
    EXPECT_TRUE(shown->isAnimating());
    EXPECT_EQ(shown->contentMode(), plat::ui::kContentModeScaleAspectFit);
}

TEST_F(CreativeTest, AFailedImageShowsBlankAndTheAdStillShows) {
    dktest::ScriptedServer good(R"({"default":{"body_hex":")" + dktest::pngHex(4, 4) + R"("}})");
    dktest::ScriptedServer missing(R"({"default":{"status":"HTTP/1.1 404 Not Found","body":"gone"}})");
    auto view = creative<OrbadBannerAdView>(
        images({missing.url("/x.png"), good.url("/y.png")}, R"(,"transitionType":"fade","durationTime":1,"loop":true)"));
    ASSERT_TRUE(reported());
    EXPECT_EQ(host->lines, std::vector<std::string>{"finished"});
    auto* first = dynamic_cast<ImageView*>(view->subviews().at(0).get());
    ASSERT_TRUE(first);
    EXPECT_EQ(first->image(), nullptr);
    dktest::turn(1.05);
    auto* second = dynamic_cast<ImageView*>(view->subviews().back().get());
    ASSERT_TRUE(second && second->image());
    EXPECT_EQ(second->contentMode(), plat::ui::kContentModeCenter) << "rotated-in images are centred";
    dktest::turn(1.0);
    EXPECT_EQ(view->currentIndex(), 0u) << "looping";
}

// The mended faults: no image URL never reported; a duration of 0 rotated with no pause for ever.
TEST_F(CreativeTest, ABannerWithoutImagesFailsAndAZeroDurationDoesNotRotate) {
    auto none = creative<OrbadBannerAdView>(images({"a.png"}));
    dktest::turn(0.01);
    EXPECT_EQ(host->lines, std::vector<std::string>{"failed nil"});

    host->lines.clear();
    dktest::ScriptedServer server(R"({"default":{"body_hex":")" + dktest::pngHex(4, 4) + R"("}})");
    auto still = creative<OrbadBannerAdView>(images({server.url("/1"), server.url("/2")}, R"(,"transitionType":"fade")"));
    ASSERT_TRUE(reported());
    dktest::turn(5);
    EXPECT_EQ(still->currentIndex(), 0u);
    EXPECT_EQ(still->subviews().size(), 1u);
}

// The mended fault: an answer that came after prepareForReuse changed the reused view.
TEST_F(CreativeTest, PrepareForReuseCancelsDownloadsAndRotations) {
    dktest::ScriptedServer slow(R"({"default":{"delay":0.5,"body_hex":")" + dktest::pngHex(4, 4) + R"("}})");
    auto view = creative<OrbadBannerAdView>(images({slow.url("/1"), slow.url("/2")}, R"(,"durationTime":1)"));
    EXPECT_EQ(view->downloads().outstanding(), 2u);
    ASSERT_TRUE(slow.waitForRequests(2));
    view->prepareForReuse();
    EXPECT_FALSE(view->downloads().isLoading());
    dktest::turnUntil([] { return orbad::OBCoreHTTPRequest::inFlightCount() == 0; });
    dktest::turn(2);
    EXPECT_TRUE(host->lines.empty());
    EXPECT_TRUE(view->subviews().empty());

    dktest::ScriptedServer quick(R"({"default":{"body_hex":")" + dktest::pngHex(4, 4) + R"("}})");
    // Every picture in and the main-thread step posted, but not yet run: a stop must still win.
    view->loadWithAd(dktest::adFrom(images({quick.url("/1"), quick.url("/2")})));
    ASSERT_TRUE(dktest::waitUntil([&] { return view->downloads().outstanding() == 0; }));
    view->stopLoading();
    dktest::turn(0.5);
    EXPECT_TRUE(host->lines.empty());
    EXPECT_TRUE(view->subviews().empty());

    view->loadWithAd(dktest::adFrom(images({quick.url("/1"), quick.url("/2")}, R"(,"durationTime":1,"loop":1)")));
    ASSERT_TRUE(reported());
    view->prepareForReuse();
    dktest::turn(3);
    EXPECT_TRUE(view->subviews().empty()) << "no rotation after the reset";
}

// The way out of a tool: the main thread cancels the requests and waits for their threads while the
// last picture's answer is on its way to the main loop; the answer waits for no one, and still counts.
TEST_F(CreativeTest, WaitingForRequestsWhileTheLastPictureWaitsForTheMainLoop) {
    dktest::ScriptedServer server(R"({"default":{"body_hex":")" + dktest::pngHex(4, 4) + R"("}})");
    orbad::OrbadImageDownloads downloads;
    int done = 0;
    downloads.start({server.url("/1.png")}, [&] { ++done; });
    ASSERT_TRUE(dktest::waitUntil([&] { return downloads.outstanding() == 0; }));
    EXPECT_TRUE(orbad::OBCoreHTTPRequest::cancelAllAndWait(5));
    dktest::turn(0.1);
    EXPECT_EQ(done, 1);
    EXPECT_NE(downloads.image(server.url("/1.png")), nullptr);
}

// The mended fault: one thread per picture, however many an answer listed.
TEST_F(CreativeTest, ManyPicturesDownloadAFewAtATimeEachOnce) {
    const auto urls = [](const dktest::ScriptedServer& server, int count) {
        std::vector<std::string> list;
        for (int i = 0; i < count; ++i) list.push_back(server.url("/" + std::to_string(i) + ".png"));
        list.push_back(list.front());
        return list;
    };
    constexpr unsigned kLimit = orbad::OrbadImageDownloads::kMaxRunning;
    dktest::ScriptedServer silent(R"({"default":{"silent":true}})");
    orbad::OrbadImageDownloads downloads;
    downloads.start(urls(silent, 300), [] {});
    EXPECT_EQ(downloads.outstanding(), 300u);
    EXPECT_EQ(orbad::OBCoreHTTPRequest::inFlightCount(), kLimit);
    downloads.cancel();

    dktest::ScriptedServer server(R"({"default":{"body_hex":")" + dktest::pngHex(4, 4) + R"("}})");
    int done = 0;
    downloads.start(urls(server, 40), [&] { ++done; });
    ASSERT_TRUE(dktest::turnUntil([&] { return done > 0; }, 30));
    EXPECT_EQ(server.requests().size(), 40u);
    EXPECT_NE(downloads.image(server.url("/39.png")), nullptr);
    dktest::turn(0.1);
    EXPECT_EQ(done, 1);
}

TEST_F(CreativeTest, ATextAdWithoutPicturesShowsWithoutARequest) {
    auto view = creative<OrbadTextAdView>(R"({"type":"text","props":{"texts":[{"headerText":{"text":"Hi"}}]}})");
    EXPECT_FALSE(view->downloads().isLoading());
    dktest::turn(0.01);
    EXPECT_EQ(host->lines, std::vector<std::string>{"finished"});
    ASSERT_EQ(view->subviews().size(), 1u);
    EXPECT_EQ(view->subviews()[0]->subviews()[0]->frame(), (Rect{5, 5, 310, 40}));
}

TEST_F(CreativeTest, APanelWithALeftIconHeaderAndBodyIsLaidOutAroundTheIcon) {
    dktest::ScriptedServer server(R"({"default":{"body_hex":")" + dktest::pngHex(20, 20) + R"("}})");
    auto view = creative<OrbadTextAdView>(R"({"type":"text","props":{"texts":[{"leftIcon":")" + server.url("/i.png") +
                                          R"(","headerText":{"text":"Header"},"bodyText":{"text":"Body text"}}]}})");
    ASSERT_TRUE(reported());
    ASSERT_EQ(view->subviews().size(), 1u);
    const auto& parts = view->subviews()[0]->subviews();
    ASSERT_EQ(parts.size(), 3u);
    auto* icon = dynamic_cast<ImageView*>(parts[0].get());
    ASSERT_TRUE(icon && icon->image());
    EXPECT_EQ(icon->frame(), (Rect{5, 5, 40, 40}));
    EXPECT_EQ(icon->contentMode(), plat::ui::kContentModeCenter);
    const double h1 = std::min(15.0, plat::ui::textHeight("Header", {"Helvetica-Bold", 13}, 265, 1));
    const double h2 = std::min(22.0, plat::ui::textHeight("Body text", {"Helvetica", 13}, 265, 0));
    const double y = std::floor((50 - (h1 + h2)) * 0.5);
    EXPECT_EQ(parts[1]->frame(), (Rect{50, y, 265, h1}));
    EXPECT_EQ(parts[2]->frame(), (Rect{50, y + h1, 265, h2}));
    EXPECT_GT(h1, 10) << "measured, not zero";
}

class WebAdTest : public CreativeTest {
protected:
    void SetUp() override {
        CreativeTest::SetUp();
        ASSERT_TRUE(plat::web::useWebEngine("fake"));
        view = std::make_shared<orbad::OrbadWebAdView>(Rect{0, 0, 320, 50});
        view->setMainAdView(host);
        fake().answer(orbad::kOrbadShouldOpenScript, "http://h/open");
    }
    void TearDown() override {
        view.reset();
        plat::web::useWebEngine("none");
        CreativeTest::TearDown();
    }
    plat::web::FakeWebEngine& fake() { return *plat::web::FakeWebEngine::of(*view); }
    std::shared_ptr<orbad::OrbadWebAdView> view;
};

// The mended fault: every later load of the page reported a finished ad again.
TEST_F(WebAdTest, LoadsOnceHandsClicksOnAndOpensWhatTheAdAsks) {
    EXPECT_FALSE(fake().settings().opaque);
    // The mended fault: the ads' accept-all policy was set for the whole application.
    EXPECT_EQ(fake().settings().cookies, plat::ui::WebCookieAcceptPolicy::Always);
    auto plain = std::make_shared<plat::ui::WebView>(Rect{0, 0, 10, 10});
    EXPECT_EQ(plat::web::FakeWebEngine::of(*plain)->settings().cookies, std::nullopt);
    view->loadWithAd(dktest::adFrom(R"({"type":"html","props":{"html":"<a href=x>ad</a>"}})"));
    ASSERT_TRUE(reported());
    dktest::turn(0.1);
    EXPECT_EQ(fake().document(), "<a href=x>ad</a>");
    fake().injectNavigation("http://h/click", plat::ui::WebNavigationType::LinkClicked);
    fake().injectNavigation("http://h/next", plat::ui::WebNavigationType::Other);
    dktest::turn(0.5);
    EXPECT_EQ(host->lines, (std::vector<std::string>{"finished", "browser http://h/open 0", "url http://h/click"}));
}

TEST_F(WebAdTest, AShortAnswerOpensNothingAndTheAdNeverScrolls) {
    fake().answer(orbad::kOrbadShouldOpenScript, "http:/");
    view->loadWithAd(dktest::adFrom(R"({"type":"html","props":{"html":"<p>"}})"));
    ASSERT_TRUE(reported());
    dktest::turn(0.1);
    EXPECT_EQ(host->lines, std::vector<std::string>{"finished"});
    fake().injectScroll({0, 30});
    dktest::turn(0.1);
    EXPECT_FALSE(view->isScrollEnabled());
    EXPECT_EQ(fake().settings().offset.y, 0);
}

}  // namespace

namespace {

// The same view on WPE WebKit: the page's own shouldOpen() answered by the engine.
TEST(WebAdOnTheEngine, OpensWhatThePageAsksOnceItHasLoaded) {
    ASSERT_TRUE(plat::web::useWebEngine("wpe"));
    auto host = std::make_shared<dktest::NotingHost>();
    {
        auto view = std::make_shared<orbad::OrbadWebAdView>(Rect{0, 0, 320, 50});
        view->setMainAdView(host);
        view->loadWithAd(dktest::adFrom(
            R"({"type":"html","props":{"html":"<script>function shouldOpen(){return 'http://h/landing'}</script>"}})"));
        ASSERT_TRUE(dktest::turnUntil([&] { return host->lines.size() >= 2; }, 30));
        dktest::turnUntil([] { return false; }, 0.3);
        EXPECT_EQ(host->lines, (std::vector<std::string>{"finished", "browser http://h/landing 0"}));
    }
    plat::web::useWebEngine("none");
}

}  // namespace
