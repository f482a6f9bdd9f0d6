// The full-screen web creative on the fake page engine and the virtual clock: the page's choice of
// toolbar or close widget, what the controller's toolbar hears and when, and the native-handler
// links that may take the user to another application.
#include <gtest/gtest.h>

#include <cstdio>

#include "orbad/ads/OrbadAdViewInternal.h"
#include "orbad/ads/OrbadFullScreenWebAdView.h"
#include "orbad/core/OrbadController.h"
#include "orbad/core/http/OBCoreHTTPRequest.h"
#include "orbad/tests/BannerTestSupport.h"
#include "orbad/tests/OrbadCreativeTestSupport.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/Container.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/RunLoop.h"
#include "platform/net/Reachability.h"
#include "platform/ui/Application.h"
#include "platform/ui/ViewController.h"
#include "platform/web/FakeWebEngine.h"
#include "platform/web/PageEngine.h"
#include "tests/support/TestSupport.h"

namespace {

using orbad::OrbadFullScreenWebAdView;
using plat::foundation::RunLoop;
using plat::ui::WebNavigationType;
using Lines = std::vector<std::string>;

constexpr WebNavigationType kClick = WebNavigationType::LinkClicked;
constexpr WebNavigationType kOther = WebNavigationType::Other;

// Everything the system and the page engine's decisions tell, with what the toolbar hears, in one
// list, each line after the virtual time since the test's origin.
struct Heard : plat::ui::SystemServices, plat::ui::WebViewObserver {
    Lines lines;
    double origin = 0;
    void say(const std::string& line) {
        char t[32];
        std::snprintf(t, sizeof t, "%.3f ", RunLoop::main().now() - origin);
        lines.push_back(t + line);
    }
    void setIdleTimerDisabled(bool) override {}
    bool openURL(const std::string& url) override {
        say("open " + url);
        return true;
    }
    void webViewDecided(plat::ui::WebView&, const plat::ui::WebRequest& r, WebNavigationType, bool allowed) override {
        say((allowed ? "load " : "refuse ") + r.url);
    }
};

struct Toolbar : orbad::OrbadFullScreenWebAdToolbarDelegate {
    explicit Toolbar(Heard& heard) : heard(heard) {}
    void fullscreenWebAdViewShouldShowToolbar() override { heard.say("show"); }
    void fullscreenWebAdShouldUpdateToolbar() override { heard.say("update"); }
    void fullscreenWebAdViewCanHideToolbar() override { heard.say("hide"); }
    void fullWebAdViewIsLoading(bool loading) override { heard.say(loading ? "loading 1" : "loading 0"); }
    void fullWebAdViewCanAllowOpenInSafari(bool allow) override { heard.say(allow ? "file 1" : "file 0"); }
    Heard& heard;
};

Lines untimedLines(const Lines& lines) {
    Lines out;
    for (const auto& line : lines) out.push_back(line.substr(line.find(' ') + 1));
    return out;
}

struct AutoplayHost : dktest::NotingHost {
    bool autoplay = true;
    bool shouldAutoplay() const override { return autoplay; }
    double adWidth() const override { return 999; }
    double adHeight() const override { return 999; }
};

class FullScreenWebAdViewTest : public ::testing::Test {
protected:
    void SetUp() override {
        plat::foundation::Clock::process().setVirtual(true);
        ASSERT_TRUE(plat::web::useWebEngine("fake"));
        plat::foundation::Container::setMain(*plat::foundation::Container::open("com.test.full", m_dir.file("home")));
        plat::ui::WebView::setObserver(&heard);
        m_app.setSystemServices(&heard);
        m_app.setCanOpenURLCheck([](std::string_view) { return true; });
        m_banner->handlers = {"", "apps.store.invalid", "maps.places.invalid"};
        orbad::setBannerHost(m_banner);
    }
    void TearDown() override {
        orbad::setBannerHost(nullptr);
        plat::ui::WebView::setObserver(nullptr);
        view.reset();
        plat::web::useWebEngine("none");
    }
    // A new view with the toolbar, its page loaded; nothing heard yet.
    void load() {
        view = std::make_shared<OrbadFullScreenWebAdView>(plat::ui::Rect{0, 0, 320, 480});
        view->setMainAdView(host);
        view->setToolbarDelegate(toolbar);
        view->loadWithAd(dktest::adFrom(R"({"type":"html","props":{"html":"<p>ad</p>"}})"));
        ASSERT_TRUE(dktest::turnUntil([&] { return !host->lines.empty(); }));
        dktest::turn(0.1);
        forget();
    }
    void forget() {
        heard.lines.clear();
        heard.origin = RunLoop::main().now();
    }
    plat::web::FakeWebEngine& fake() { return *plat::web::FakeWebEngine::of(*view); }
    // A navigation of one of the page's frames: no load of the page follows.
    void navigate(const std::string& url, WebNavigationType type) {
        fake().injectNavigation(url, type, false);
        dktest::turn(0.1);
    }

    dktest::TempDir m_dir;
    Heard heard;
    plat::ui::Application m_app;
    std::shared_ptr<dktest::FakeBannerHost> m_banner = std::make_shared<dktest::FakeBannerHost>("http://127.0.0.1:1/ads");
    std::shared_ptr<AutoplayHost> host = std::make_shared<AutoplayHost>();
    std::shared_ptr<Toolbar> toolbar = std::make_shared<Toolbar>(heard);
    std::shared_ptr<OrbadFullScreenWebAdView> view;
};

// The meta tag's content read as the platform reads a text as a truth value: true shows the
// close widget, anything else (or no tag) the toolbar.
TEST_F(FullScreenWebAdViewTest, TheMetaTagChoosesTheWidgetOrTheToolbar) {
    const Lines toolbarLines{"0.000 show", "0.000 update", "0.000 loading 0", "0.000 file 1"};
    const Lines widgetLines{"0.000 hide", "0.000 loading 0", "0.000 file 1"};
    // (A page without the tag answers "" here; the real engine's answer is checked on WPE.)
    const struct {
        const char* content;
        bool widget;
    } cases[] = {
        {"true", true}, {"YES", true}, {"1", true}, {" +007", true}, {"0", false}, {"", false}, {"no", false},
    };
    load();
    for (const auto& c : cases) {
        fake().answer(orbad::kOrbadWidgetStyleScript, c.content);
        forget();
        view->updateToolbar();
        EXPECT_EQ(heard.lines, c.widget ? widgetLines : toolbarLines) << c.content;
        EXPECT_EQ(view->needsToolbar(), !c.widget);
    }
}

// Loads the view allows update the toolbar a hundredth of a second after the decision; refused
// ones do not, and an update due after the controller has gone reaches nobody.
TEST_F(FullScreenWebAdViewTest, AnAllowedLoadUpdatesTheToolbarAMomentLater) {
    load();
    navigate("http://a/in-place", kOther);
    navigate("tel:123", kOther);
    EXPECT_EQ(heard.lines, (Lines{"0.000 load http://a/in-place", "0.010 show", "0.010 update", "0.010 loading 0",
                                  "0.010 file 1", "0.100 refuse tel:123"}));
    forget();
    fake().injectNavigation("http://a/late", kOther, false);
    toolbar.reset();
    dktest::turn(0.1);
    EXPECT_EQ(heard.lines, Lines{"0.000 load http://a/late"});
    // Without a controller, nothing happens at all.
    view->updateToolbar();
    EXPECT_EQ(heard.lines.size(), 1u);
}

// A link matching a native handler (in any letter case) never loads. It opens the other
// application, after showing the toolbar, only on the user's click or for an ad that may act by
// itself: autoplay allowed and the ad on screen.
TEST_F(FullScreenWebAdViewTest, NativeHandlerLinksOpenOnlyOnAClickOrForAnAdOnScreen) {
    const std::string app = "https://APPS.Store.invalid/app/1";
    const struct {
        const char* name;
        bool autoplay, displayed;
        WebNavigationType type;
        Lines heard;
    } cases[] = {
        {"clicked", false, false, kClick, {"show", "open " + app, "refuse " + app}},
        {"scripted before display", true, false, kOther, {"refuse " + app}},
        {"scripted, no autoplay", false, true, kOther, {"refuse " + app}},
        {"scripted on screen", true, true, kOther, {"show", "open " + app, "refuse " + app}},
    };
    for (const auto& c : cases) {
        host->autoplay = c.autoplay;
        load();
        if (c.displayed) view->adHasBeenDisplayed();
        forget();
        navigate(app, c.type);
        EXPECT_EQ(untimedLines(heard.lines), c.heard) << c.name;
    }
}

// The page behaves as an expanded ad of the full-screen unit, fitted to the screen and scrolling.
TEST_F(FullScreenWebAdViewTest, AnExpandedScrollingPage) {
    load();
    EXPECT_TRUE(view->isScrollEnabled());
    EXPECT_TRUE(view->scalesPageToFit());
    EXPECT_NE(view->stubScript().find("_obIsExpanded: true, _obAdUnitType: 'fullscreen'"), std::string::npos);
}


// The meta tag as WPE WebKit reads it: a page without one makes the script throw, which answers
// "" (the toolbar) like empty content.
TEST(FullScreenWebAdViewOnTheEngine, TheMetaTagAsThePageHasIt) {
    ASSERT_TRUE(plat::web::useWebEngine("wpe"));
    dktest::TempDir dir;
    plat::foundation::Container::setMain(*plat::foundation::Container::open("com.test.wpe", dir.file("home")));
    auto host = std::make_shared<AutoplayHost>();
    const std::pair<const char*, bool> cases[] = {
        {"<meta name='OrbadUseWidgetStyle' content='YES'>", false},
        {"<meta name='OrbadUseWidgetStyle' content='0'>", true},
        {"<meta name='OrbadUseWidgetStyle'>", true},
        {"<meta name='viewport' content='1'>", true},
    };
    for (const auto& [head, needsToolbar] : cases) {
        auto view = std::make_shared<OrbadFullScreenWebAdView>(plat::ui::Rect{0, 0, 320, 480});
        view->setMainAdView(host);
        host->lines.clear();
        view->loadWithAd(dktest::adFrom(std::string(R"({"type":"html","props":{"html":"<html><head>)") + head +
                                        R"(</head><body>ad</body></html>"}})"));
        ASSERT_TRUE(dktest::turnUntil([&] { return !host->lines.empty(); }, 30));
        EXPECT_EQ(view->needsToolbar(), needsToolbar) << head;
    }
    plat::web::useWebEngine("none");
}

// The engine of the full-screen unit whose delegate lets ads play by themselves, as the full-screen
// controller's does.
struct FullScreenDelegate : dktest::RecordingAdDelegate {
    FullScreenDelegate() { answered = {Op::adViewDidFinishLoad, Op::adViewDidFailLoadWithError, Op::adViewCanAutoplay}; }
    bool adViewCanAutoplay(OrbadAdView*) override { return true; }
};

TEST_F(FullScreenWebAdViewTest, TheFullScreenEngineShowsHTMLAdsInThisViewAndNeverPoolsIt) {
    plat::net::setNetOverride(plat::net::NetOverride::WiFi);
    dktest::ScriptedServer server(
        R"({"default": {"status": "HTTP/1.1 200 OK", "body": "{\"creative\": {\"type\": \"html\", )"
        R"(\"props\": {\"html\": \"<p>ad</p>\"}}}"}})");
    auto banner = std::make_shared<dktest::FakeBannerHost>(server.url("/ads"));
    banner->handlers = m_banner->handlers;
    orbad::setBannerHost(banner);
    plat::foundation::NotificationCenter::defaultCenter().post(orbad::kOrbadDidFinishStarting);
    FullScreenDelegate delegate;
    auto engine = std::make_shared<orbad::OrbadAdViewInternal>(plat::ui::Rect{0, 0, 320, 480});
    engine->setAdSize(orbad::kOBFullScreenAdSize);
    engine->setDelegate(&delegate);
    engine->setRefreshTime(-1);

    std::vector<orbad::OrbadAdsView*> shown;
    for (int round = 0; round < 2; ++round) {
        delegate.lines.clear();
        engine->prefetchAd();
        ASSERT_TRUE(dktest::turnUntil([&] { return !delegate.lines.empty(); }));
        ASSERT_EQ(untimedLines(delegate.lines), Lines{"adViewDidFinishLoad (no view)"});
        ASSERT_NE(engine->nextAdView(), nullptr);
        EXPECT_STREQ(engine->nextAdView()->adsViewClassName(), "OrbadFullScreenWebAdView");
        engine->displayAd();
        shown.push_back(engine->currentAdView());
        EXPECT_EQ(engine->pool().waitingCount(), 0u);
    }
    EXPECT_NE(shown[0], shown[1]) << "a new view for every ad";

    // On screen, the ad may take the user to another application by itself.
    auto* full = dynamic_cast<OrbadFullScreenWebAdView*>(shown[1]);
    ASSERT_NE(full, nullptr);
    EXPECT_TRUE(full->isAutoplayable());
    // Its screens come from the engine's controller: the ad is expanded without an expand screen.
    auto controller = std::make_shared<plat::ui::ViewController>();
    engine->setViewController(controller.get());
    EXPECT_EQ(full->attachedViewController(), controller.get());
    forget();
    plat::web::FakeWebEngine::of(*full)->injectNavigation("http://maps.places.invalid/?q=1", kOther, false);
    dktest::turn(0.1);
    EXPECT_EQ(heard.lines, (Lines{"0.000 open http://maps.places.invalid/?q=1",
                                  "0.000 refuse http://maps.places.invalid/?q=1"}));

    engine->cancelAd();
    engine.reset();
    orbad::OBCoreHTTPRequest::cancelAllAndWait(10);
    plat::net::setNetOverride(std::nullopt);
}

}  // namespace
