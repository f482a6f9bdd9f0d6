// The rich-media display commands through the bridge on the fake page engine: growing the ad (to a
// frame, to the whole screen, with a second page), the frame rules and refusals, the close sequence,
// the display callbacks, viewability and the close widget, each by the scripts the page is given;
// and, on the banner engine, that a refused expansion leaves every banner refreshing.
#include <gtest/gtest.h>

#include "orbad/OrbadAdView.h"
#include "orbad/ads/OrbadRichMediaSecondPartView.h"
#include "orbad/ads/OrbadRichMediaWebAdView.h"
#include "orbad/ads/OrbadWidgetButtonController.h"
#include "orbad/core/OrbadController.h"
#include "orbad/richmedia/OrbadExpandableViewController.h"
#include "orbad/tests/BannerTestSupport.h"
#include "orbad/tests/OrbadCreativeTestSupport.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/Container.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/RunLoop.h"
#include "platform/sys/Device.h"
#include "platform/ui/Application.h"
#include "platform/ui/ViewController.h"
#include "platform/ui/Window.h"
#include "platform/web/FakeWebEngine.h"
#include "platform/web/PageEngine.h"
#include "tests/support/TestSupport.h"

namespace {

using orbad::OrbadRichMediaWebAdView;
using plat::ui::Rect;
using plat::ui::WebNavigationType;
using Lines = std::vector<std::string>;

const std::string kMissing =
    "', 'ERROR: did not set one or more of: x, y, width, or height when resizing ad');";
const std::string kPermission = std::string("', '") + orbad::kOrbadPermissionsErrorText + "');";

// An engine stand-in presenting from the test's root controller and noting the take-over.
struct DisplayHost : dktest::NotingHost {
    plat::ui::ViewController* root = nullptr;
    bool autoplay = false, free = true;
    plat::ui::ViewController* viewController() const override { return root; }
    bool shouldAutoplay() const override { return autoplay; }
    bool adShouldTouchThrough(const std::shared_ptr<orbad::OrbadAd>&) override {
        lines.push_back(free ? "take" : "take refused");
        return free;
    }
    void adDidFinishTouchThrough(const std::shared_ptr<orbad::OrbadAd>&) override { lines.push_back("release"); }
};

// Every navigation any web view let through.
struct Loads : plat::ui::WebViewObserver {
    Lines urls;
    void webViewDecided(plat::ui::WebView&, const plat::ui::WebRequest& request, WebNavigationType,
                        bool allowed) override {
        if (allowed) urls.push_back(request.url);
    }
};

// Launched on the 320 x 480 phone with a plain root controller holding the banner slot at
// (0, 430, 320, 50), the fake page engine, and a client whose native URL handler is "itunes".
class RichMediaDisplayTest : public ::testing::Test {
protected:
    void SetUp() override {
        plat::foundation::Clock::process().setVirtual(true);
        plat::sys::Device::current().reset();
        plat::sys::Device::current().setPreset("phone");
        ASSERT_TRUE(plat::web::useWebEngine("fake"));
        plat::foundation::Container::setMain(*plat::foundation::Container::open("com.test.display", m_dir.file("home")));
        dktest::launchOnScreen(m_app, m_root, m_window);
        m_slot = std::make_shared<plat::ui::View>(Rect{0, 430, 320, 50});
        m_root->view()->addSubview(m_slot);
        m_client->handlers = {"itunes"};
        orbad::setBannerHost(m_client);
        host->root = m_root.get();
        plat::ui::WebView::setObserver(&loads);
    }
    void TearDown() override {
        if (view && view->expandableViewController()) close();
        view.reset();
        if (m_banner) {
            m_banner->setDelegate(nullptr);
            m_banner->removeFromSuperview();
            m_banner.reset();
        }
        dktest::turn(0.1);
        plat::ui::WebView::setObserver(nullptr);
        orbad::setBannerHost(nullptr);
        m_window.reset();
        m_app.reset();
        plat::web::useWebEngine("none");
    }
    // A new banner page in the slot, loaded and touched by the user.
    void load() {
        if (view) view->removeFromSuperview();
        view = std::make_shared<OrbadRichMediaWebAdView>(Rect{0, 0, 320, 50});
        m_slot->addSubview(view);
        view->setMainAdView(host);
        view->loadWithAd(dktest::adFrom(R"({"type":"html","props":{"html":"<p>ad</p>"}})"));
        ASSERT_TRUE(dktest::turnUntil([&] { return !host->lines.empty(); }));
        navigate("madview://domReady");
        ASSERT_TRUE(dktest::tap(*m_app, *view));
        ASSERT_FALSE(view->adIsRestricted());
        m_seen = page().evaluated().size();
        host->lines.clear();
    }
    plat::web::FakeWebEngine& page() { return *plat::web::FakeWebEngine::of(*view); }
    void navigate(const std::string& url, WebNavigationType type = WebNavigationType::Other) {
        page().injectNavigation(url, type, false);
        dktest::turn(0.01);
    }
    // Scripts given since the last look, but for the permission check and the widget's questions.
    Lines scripts() {
        Lines out;
        for (size_t i = m_seen; i < page().evaluated().size(); ++i) {
            const std::string& script = page().evaluated()[i];
            if (!script.starts_with("document.querySelectorAll('meta"))
                out.push_back(script);
        }
        m_seen = page().evaluated().size();
        return out;
    }
    orbad::OrbadExpandableViewController* expanded() { return view->expandableViewController().get(); }
    void close() {
        view->contractAd(std::nullopt, 0.1);
        dktest::turn(0.2);
    }

    // A banner on the real engine in the root's view, its rich-media page loaded and touched by
    // the user; `client` set up first (a refresh time, say).
    OrbadRichMediaWebAdView* engineBanner(const std::shared_ptr<dktest::FakeBannerHost>& client) {
        orbad::setBannerHost(client);
        plat::foundation::NotificationCenter::defaultCenter().post(orbad::kOrbadDidFinishStarting);
        m_banner = OrbadAdViewiPhone_320x50.make();
        m_banner->setDelegate(&m_bannerDelegate);
        m_banner->setViewController(m_root.get());
        m_root->view()->addSubview(m_banner);
        m_banner->getAd();
        if (!dktest::turnUntil([&] { return !m_bannerDelegate.lines.empty(); })) return nullptr;
        auto* rich = dynamic_cast<OrbadRichMediaWebAdView*>(m_banner->adView()->currentAdView());
        if (!rich) return nullptr;
        auto& page = *plat::web::FakeWebEngine::of(*rich);
        page.injectNavigation("madview://domReady", WebNavigationType::Other, false);
        dktest::turn(0.01);
        if (!dktest::tap(*m_app, *rich)) return nullptr;
        return rich;
    }
    static constexpr const char* kHTMLAd =
        R"({"default": {"status": "HTTP/1.1 200 X", "body": "{\"creative\": {\"type\": \"html\", \"props\": {\"html\": \"<p>ad</p>\"}}}"}})";

    dktest::TempDir m_dir;
    std::unique_ptr<plat::ui::Application> m_app;
    std::shared_ptr<plat::ui::ViewController> m_root;
    std::shared_ptr<plat::ui::Window> m_window;
    std::shared_ptr<plat::ui::View> m_slot;
    std::shared_ptr<dktest::FakeBannerHost> m_client = std::make_shared<dktest::FakeBannerHost>("http://127.0.0.1:1/ads");
    std::shared_ptr<DisplayHost> host = std::make_shared<DisplayHost>();
    std::shared_ptr<OrbadRichMediaWebAdView> view;
    size_t m_seen = 0;
    Loads loads;
    std::shared_ptr<OrbadAdView> m_banner;
    dktest::RecordingAdDelegate m_bannerDelegate;
};

// Each row from a new page: what the page hears, and the frame the ad grows to (none: the ad stays
// in its slot and the engine is never asked for the screen).
TEST_F(RichMediaDisplayTest, TheFrameRulesAndTheRefusals) {
    const std::string ok = "mAdViewCallbackHandler('ok');";
    const struct {
        std::string query;
        std::string heard;
        std::optional<Rect> frame;
    } cases[] = {
        {"displayResizeTo?x=100&y=0&width=300&height=250", ok, Rect{100, 0, 220, 250}},
        {"displayResizeTo?x=-10&y=400&width=320&height=100", ok, Rect{0, 400, 320, 80}},
        {"displayResizeTo?x=+5.5e1xyz&y=0&width=10&height=10", ok, Rect{55, 0, 10, 10}},
        {"displayResizeTo?x=0&y=0&width=320", "mAdViewCallbackHandler('err" + kMissing, std::nullopt},
        {"displayResizeTo?x=inf&y=0&width=320&height=50", "mAdViewCallbackHandler('err" + kMissing, std::nullopt},
        {"displayResizeTo?x=0&y=0&width=1e999&height=50", "mAdViewCallbackHandler('err" + kMissing, std::nullopt},
        {"displayResizeTo?x=0&y=0&width=320&height=NaN", "mAdViewCallbackHandler('err" + kMissing, std::nullopt},
        {"displayExpandToFullScreen", ok, Rect{0, 0, 320, 480}},
        {"displayExpandToFullScreen?expandURL=file:///etc/passwd",
         "mAdViewCallbackHandler('err', 'ERROR: The expand URL ->file:///etc/passwd<- was not valid.');", std::nullopt},
        {"displayExpandToFullScreen?expandURL=not a url",
         "mAdViewCallbackHandler('err', 'ERROR: The expand URL ->not a url<- was not valid.');", std::nullopt},
        {"displayExpandToFullScreen?expandURL=javascript:alert('x')",
         "mAdViewCallbackHandler('err', 'ERROR: The expand URL ->javascript:alert(\\'x\\')<- was not valid.');",
         std::nullopt},
    };
    for (const auto& c : cases) {
        load();
        const Rect slot = view->frame();
        navigate("madview://" + c.query + (c.query.find('?') == std::string::npos ? "?" : "&") +
                 "successCallbackFunctionName=ok&errorCallbackFunctionName=err");
        EXPECT_EQ(scripts(), Lines{c.heard}) << c.query;
        EXPECT_EQ(host->lines, c.frame ? Lines{"take"} : Lines{}) << c.query;
        EXPECT_EQ(m_root->presentedViewController(), expanded()) << c.query;
        if (!c.frame) {
            EXPECT_EQ(expanded(), nullptr) << c.query;
            EXPECT_EQ(view->frame(), slot);
            continue;
        }
        ASSERT_NE(expanded(), nullptr) << c.query;
        EXPECT_EQ(expanded()->targetRect(), *c.frame) << c.query;
        close();
    }
}

TEST_F(RichMediaDisplayTest, ARefusedTakeOverAnswersNothing) {
    load();
    host->free = false;
    navigate("madview://displayExpandToFullScreen?successCallbackFunctionName=ok&errorCallbackFunctionName=err");
    EXPECT_EQ(host->lines, Lines{"take refused"});
    EXPECT_EQ(scripts(), Lines{});
    EXPECT_EQ(expanded(), nullptr);
    // A controller that cannot present (its view in no window) gives the screen straight back,
    // the ad in its slot; without a controller the engine is not even asked.
    host->free = true;
    auto offscreen = std::make_shared<plat::ui::ViewController>();
    host->root = offscreen.get();
    navigate("madview://displayExpandToFullScreen?successCallbackFunctionName=ok");
    host->root = nullptr;
    navigate("madview://displayExpandToFullScreen?successCallbackFunctionName=ok");
    EXPECT_EQ(host->lines, (Lines{"take refused", "take", "release"}));
    EXPECT_EQ(scripts(), Lines{});
    EXPECT_EQ(expanded(), nullptr);
    EXPECT_EQ(view->superview(), m_slot.get());
    EXPECT_EQ(view->frame(), (Rect{0, 0, 320, 50}));
}

// Full screen without a duration grows over 1.0 s; a second resize moves the expanded ad without a
// new screen; closing calls will-contract, then finished-resizing, gives the screen back to the
// engine and leaves the ad restricted, in its slot, its callbacks forgotten.
TEST_F(RichMediaDisplayTest, ExpandResizeAgainAndClose) {
    load();
    navigate("madview://displaySetAllCallbacks?adFinishedResizingCallbackFunctionName=fr&"
             "adWillContractCallbackFunctionName=wc&successCallbackFunctionName=ok");
    navigate("madview://displayExpandToFullScreen?successCallbackFunctionName=ok");
    EXPECT_EQ(scripts(), (Lines{"mAdViewCallbackHandler('ok');", "mAdViewCallbackHandler('ok');"}));
    auto* controller = expanded();
    ASSERT_NE(controller, nullptr);
    EXPECT_TRUE(view->isExpanded());
    EXPECT_EQ(view->attachedViewController(), controller);
    dktest::turn(0.98);
    EXPECT_EQ(scripts(), Lines{});
    dktest::turn(0.03);
    EXPECT_EQ(scripts(), Lines{"mAdViewCallbackHandler('fr');"});

    navigate("madview://displayResizeTo?x=0&y=0&width=320&height=240&animationDuration=2&successCallbackFunctionName=ok");
    EXPECT_EQ(scripts(), Lines{"mAdViewCallbackHandler('ok');"});
    EXPECT_EQ(m_root->presentedViewController(), controller);
    EXPECT_EQ(expanded(), controller);
    dktest::turn(2.01);
    EXPECT_EQ(scripts(), Lines{"mAdViewCallbackHandler('fr');"});
    EXPECT_EQ(host->lines, Lines{"take"});

    navigate("madview://displayContractAd?animationDuration=0.5&successCallbackFunctionName=ok");
    EXPECT_EQ(scripts(), (Lines{"mAdViewCallbackHandler('wc');", "mAdViewCallbackHandler('ok');"}));
    dktest::turn(0.51);
    EXPECT_EQ(scripts(), Lines{"mAdViewCallbackHandler('fr');"});
    EXPECT_EQ(host->lines, (Lines{"take", "release"}));
    EXPECT_EQ(expanded(), nullptr);
    EXPECT_EQ(m_root->presentedViewController(), nullptr);
    EXPECT_EQ(view->superview(), m_slot.get());
    EXPECT_EQ(view->frame(), (Rect{0, 0, 320, 50}));
    EXPECT_FALSE(view->displayCallbacks().finishedResizing);
    EXPECT_TRUE(view->adIsRestricted());
    navigate("madview://displayExpandToFullScreen?errorCallbackFunctionName=err");
    EXPECT_EQ(scripts(), Lines{"mAdViewCallbackHandler('err" + kPermission});
    // Contracting what is not expanded only answers.
    navigate("madview://displayContractAd?successCallbackFunctionName=ok");
    EXPECT_EQ(scripts(), Lines{"mAdViewCallbackHandler('ok');"});
}

// A page that asks for a new size while its ad closes (from its will-contract callback, say) must
// not cut the closing short: the ad would stay over the screen, every banner stopped under it.
TEST_F(RichMediaDisplayTest, AResizeWhileClosingLetsTheCloseFinish) {
    load();
    navigate("madview://displayExpandToFullScreen?animationDuration=0.5");
    dktest::turn(0.51);
    navigate("madview://displayContractAd?animationDuration=0.5");
    navigate("madview://displayResizeTo?x=0&y=0&width=320&height=240&animationDuration=2");
    dktest::turn(0.51);
    EXPECT_EQ(expanded(), nullptr);
    EXPECT_EQ(host->lines, (Lines{"take", "release"}));
    EXPECT_EQ(view->frame(), (Rect{0, 0, 320, 50}));
}

// The second page: on the banner's engine, never loaded as an ad (free, displayed, no load
// reports), its widget placed before its button exists (so not at all), presenting from the
// engine's controller; its native-handler links open only for a click or an autoplaying ad.
TEST_F(RichMediaDisplayTest, TheSecondPage) {
    for (bool autoplay : {false, true}) {
        host->autoplay = autoplay;
        load();
        navigate("madview://displayExpandToFullScreen?expandURL=http://a.test/second&successCallbackFunctionName=ok");
        EXPECT_EQ(scripts(), Lines{"mAdViewCallbackHandler('ok');"});
        ASSERT_NE(expanded(), nullptr);
        auto second = std::dynamic_pointer_cast<orbad::OrbadRichMediaSecondPartView>(expanded()->adView());
        ASSERT_NE(second, nullptr);
        EXPECT_EQ(view->superview(), m_slot.get()) << "the banner stays in its slot";
        EXPECT_EQ(second->mainAdView(), host);
        EXPECT_FALSE(second->adIsRestricted());
        EXPECT_EQ(second->isAutoplayable(), autoplay);
        EXPECT_EQ(second->attachedViewController(), m_root.get());
        ASSERT_NE(second->widgetButtonController(), nullptr);
        EXPECT_NE(second->widgetButtonController()->getButtonPoint(), (plat::ui::Point{318, 2}));
        dktest::turn(1.1);
        EXPECT_EQ(loads.urls.back(), "http://a.test/second");
        EXPECT_EQ(host->lines, Lines{"take"}) << "the second page reports no load";

        const size_t before = m_app->openedURLs().size();
        auto& secondPage = *plat::web::FakeWebEngine::of(*second);
        secondPage.injectNavigation("http://ITUNES.test/app?1", WebNavigationType::Other);
        secondPage.injectNavigation("http://itunes.test/app?2", WebNavigationType::LinkClicked);
        dktest::turn(0.1);
        const Lines opened = autoplay ? Lines{"http://ITUNES.test/app?1", "http://itunes.test/app?2"}
                                      : Lines{"http://itunes.test/app?2"};
        EXPECT_EQ(Lines(m_app->openedURLs().begin() + before, m_app->openedURLs().end()), opened);
        close();
        EXPECT_EQ(host->lines, (Lines{"take", "release"}));
    }
}

// A banner let go while its second page is expanded: the screen it held must not stay up with
// nothing to close it, and the engine gets back the take-over it gave.
TEST_F(RichMediaDisplayTest, ASecondPageOutlivingItsBannerLeavesTheScreen) {
    load();
    navigate("madview://displayExpandToFullScreen?expandURL=http://a.test/second");
    ASSERT_NE(expanded(), nullptr);
    std::weak_ptr<orbad::OrbadExpandableViewController> controller = view->expandableViewController();
    std::weak_ptr<OrbadRichMediaWebAdView> banner = view;
    view->removeFromSuperview();
    view.reset();
    dktest::turn(0.1);
    ASSERT_TRUE(banner.expired());
    EXPECT_EQ(m_root->presentedViewController(), nullptr);
    EXPECT_TRUE(controller.expired());
    EXPECT_EQ(host->lines, (Lines{"take", "release"}));
}

// The setters, each into its own field, ok answered, a name left out keeping the stored one; the
// did-display callback registered once the ad is on screen is called at once; viewability is the
// bare word.
TEST_F(RichMediaDisplayTest, CallbacksAndViewability) {
    using C = orbad::OrbadDisplayCallbacks;
    const struct {
        const char* command;
        const char* parameter;
        std::optional<std::string> C::*field;
    } setters[] = {
        {"displaySetAdFinishedResizingCallback", "adFinishedResizingCallbackFunctionName", &C::finishedResizing},
        {"displaySetAdWillContractCallback", "adWillContractCallbackFunctionName", &C::willContract},
        {"displaySetAdWillTerminateCallback", "adWillTerminateCallbackFunctionName", &C::willTerminate},
        {"displaySetAdWillBecomeHiddenCallback", "adWillBecomeHiddenCallbackFunctionName", &C::willBecomeHidden},
        {"displaySetAdDidReturnFromHiddenCallback", "adDidReturnFromHiddenCallbackFunctionName", &C::didReturnFromHidden},
        {"displaySetAdDidDisplayCallback", "adDidDisplayCallbackFunctionName", &C::didDisplay},
        {"displaySetAdHasBeenDismissedCallback", "adHasBeenDismissedCallbackFunctionName", &C::hasBeenDismissed},
    };
    load();
    navigate("madview://displayGetIsViewable?callbackFunctionName=v'");
    EXPECT_EQ(scripts(), Lines{"mAdViewCallbackHandler('v\\'', false);"});
    for (const auto& s : setters) {
        navigate(std::string("madview://") + s.command + "?" + s.parameter + "=f&successCallbackFunctionName=ok");
        navigate(std::string("madview://") + s.command + "?errorCallbackFunctionName=e");
        EXPECT_EQ(view->displayCallbacks().*s.field, "f") << s.command;
        view->displayCallbacks().*s.field = std::nullopt;
    }
    EXPECT_EQ(scripts(), Lines(7, "mAdViewCallbackHandler('ok');"));

    navigate("madview://displaySetAllCallbacks?adWillTerminateCallbackFunctionName=t&"
             "adDidDisplayCallbackFunctionName=d&successCallbackFunctionName=ok");
    EXPECT_EQ(scripts(), Lines{"mAdViewCallbackHandler('ok');"});
    EXPECT_EQ(view->displayCallbacks().willTerminate, "t");
    EXPECT_FALSE(view->displayCallbacks().didDisplay) << "not one of the five";

    view->adHasBeenDisplayed();
    scripts();
    navigate("madview://displaySetAdDidDisplayCallback?adDidDisplayCallbackFunctionName=d&successCallbackFunctionName=ok");
    navigate("madview://displayGetIsViewable?callbackFunctionName=v");
    EXPECT_EQ(scripts(), (Lines{"mAdViewCallbackHandler('ok');", "mAdViewCallbackHandler('d');",
                                "mAdViewCallbackHandler('v', true);"}));
}

// The widget is the expand controller's: placed and turned on request, refused while the page's
// orientations tag governs it, and re-dressed when the page says its image changed. Without one
// the place is dropped but answered.
TEST_F(RichMediaDisplayTest, TheCloseWidgetCommands) {
    load();
    const std::string place = "madview://deviceSetCloseWidgetButtonPosition?x=10&y=20&angle=90&"
                              "successCallbackFunctionName=ok&errorCallbackFunctionName=err";
    navigate(place);
    EXPECT_EQ(scripts(), Lines{"mAdViewCallbackHandler('ok');"});
    navigate("madview://displayExpandToFullScreen");
    dktest::turn(1.1);
    auto widget = view->widgetButtonController();
    ASSERT_NE(widget, nullptr);
    scripts();
    navigate(place);
    EXPECT_EQ(scripts(), Lines{"mAdViewCallbackHandler('ok');"});
    EXPECT_EQ(widget->getButtonPoint(), (plat::ui::Point{10, 20}));
    EXPECT_EQ(widget->getButtonAngle(), 90);

    page().answer(orbad::kOrbadImageTagScript, "bm90IGFuIGltYWdl");
    navigate("madview://deviceNotifyCloseWidgetButtonImageChanged");
    EXPECT_EQ(widget->lastImage(), "bm90IGFuIGltYWdl");
    EXPECT_EQ(widget->getButtonPoint(), (plat::ui::Point{10, 20}));

    page().answer(orbad::kOrbadOrientationsTagScript, "portrait,landscapeleft");
    navigate(place);
    EXPECT_EQ(scripts(), Lines{"mAdViewCallbackHandler('err', 'Setting the position of the close widget button is not "
                               "supported when using the MobileAdSupportedInterfaceOrientations meta tag.');"});
}

// On the banner engine, an application that lets its banner go while the ad is expanded: the
// engine, kept only by the ad's way back to its slot, still gets its take-over back on close.
TEST_F(RichMediaDisplayTest, ABannerLetGoWhileExpandedFreesTheTakeOverOnClose) {
    dktest::ScriptedServer server(kHTMLAd);
    auto client = std::make_shared<dktest::FakeBannerHost>(server.url("/ads"));
    auto* rich = engineBanner(client);
    ASSERT_NE(rich, nullptr);
    auto& page = *plat::web::FakeWebEngine::of(*rich);
    page.injectNavigation("madview://displayExpandToFullScreen?animationDuration=0.1", WebNavigationType::Other, false);
    dktest::turn(0.2);
    ASSERT_TRUE(client->modal);
    const auto expanded = std::static_pointer_cast<OrbadRichMediaWebAdView>(rich->shared_from_this());
    m_banner->setDelegate(nullptr);
    m_banner->removeFromSuperview();
    m_banner.reset();
    expanded->contractAd(std::nullopt, 0.1);
    dktest::turn(0.2);
    EXPECT_EQ(expanded->expandableViewController(), nullptr);
    EXPECT_FALSE(client->modal);
}

// On the banner engine: a page's errors leave the take-over free, so the banner keeps refreshing.
TEST_F(RichMediaDisplayTest, ErrorsLeaveTheBannerRefreshing) {
    dktest::ScriptedServer server(kHTMLAd);
    auto client = std::make_shared<dktest::FakeBannerHost>(server.url("/ads"));
    client->refresh = 30;
    auto* rich = engineBanner(client);
    ASSERT_NE(rich, nullptr);
    auto& page = *plat::web::FakeWebEngine::of(*rich);
    for (const char* query : {"displayExpandToFullScreen?expandURL=file:///etc/passwd",
                              "displayExpandToFullScreen?expandURL=ftp://a.test/x", "displayResizeTo?x=0&y=0&width=9"})
        page.injectNavigation(std::string("madview://") + query, WebNavigationType::Other, false);
    dktest::turn(0.1);
    EXPECT_FALSE(client->modal);
    EXPECT_EQ(rich->expandableViewController(), nullptr);
    dktest::turn(30.05);
    EXPECT_TRUE(server.waitForRequests(2));
}

}  // namespace
