// The full-screen ad controller on the virtual clock against the recording server: its request,
// presentation, toolbar or close widget, dismissals and rotation, with a recording delegate.
#include <gtest/gtest.h>

#include <cairo.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>

#include "orbad/Orbad.h"
#include "orbad/OrbadFullScreenAdViewController.h"
#include "orbad/OrbadFullscreenAdController.h"
#include "orbad/ads/OBBrowserViewController.h"
#include "orbad/ads/OrbadAdViewInternal.h"
#include "orbad/ads/OrbadFullScreenWebAdView.h"
#include "orbad/core/OBConfig.h"
#include "orbad/core/OrbadHelper.h"
#include "orbad/core/http/OBCoreHTTPRequest.h"
#include "orbad/tests/BannerTestSupport.h"
#include "orbad/tests/OrbadCreativeTestSupport.h"
#include "platform/foundation/Bundle.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/Container.h"
#include "platform/foundation/DeviceFactsFile.h"
#include "platform/foundation/PropertyList.h"
#include "platform/foundation/RunLoop.h"
#include "platform/net/Reachability.h"
#include "platform/net/Servers.h"
#include "platform/sys/Device.h"
#include "platform/ui/Application.h"
#include "platform/ui/Bars.h"
#include "platform/ui/ScreenSnapshot.h"
#include "platform/ui/StatusBar.h"
#include "platform/ui/ViewController.h"
#include "platform/ui/Window.h"
#include "platform/web/FakeWebEngine.h"
#include "platform/web/PageEngine.h"
#include "platform/web/tests/WebProcesses.h"
#include "platform/web/tests/WebTestPages.h"

namespace {

using namespace plat::foundation;
using Lines = std::vector<std::string>;
using Hook = OrbadFullScreenAdDelegate::Hook;

// Writes down what it hears; at the dismissal also whether the controller was still presented.
class RecordingDelegate : public OrbadFullScreenAdDelegate {
public:
    bool answers(Hook hook) const override { return answered.count(hook) > 0; }
    void fullScreenAdViewControllerDidFinishLoad(OrbadFullScreenAdViewController& c) override {
        lines.push_back(std::string("didFinishLoad hasAd=") + (c.hasAd() ? "YES" : "NO"));
    }
    void fullScreenAdViewControllerDidFailToLoad(OrbadFullScreenAdViewController&,
                                                 const Error& error) override {
        lines.push_back("didFailToLoad " + std::to_string(error.code));
    }
    void fullScreenAdViewControllerWillPresentAd(OrbadFullScreenAdViewController&) override {
        lines.push_back("willPresent");
    }
    void fullScreenAdViewControllerDidDismissAd(OrbadFullScreenAdViewController& c) override {
        lines.push_back(std::string("didDismiss presented=") + (c.presentingViewController() ? "YES" : "NO"));
    }
    std::optional<std::string> requestedAdUrlForFullScreenAdViewController(
        OrbadFullScreenAdViewController&) override {
        lines.push_back("requestedAdUrl");
        return "http://ad.example/one";
    }
    std::optional<std::string> requestedVeltiMediaIdForFullScreenAdViewController(
        OrbadFullScreenAdViewController&) override {
        lines.push_back("requestedVeltiMediaId");
        return "media-7";
    }

    std::set<Hook> answered;
    Lines lines;
};

std::string answer(const std::string& body, int status = 200) {
    return R"({"status": "HTTP/1.1 )" + std::to_string(status) + R"( X", "body": )" +
           Value(body).canonicalJSON() + "}";
}

const std::string kImageAd = R"({"creative": {"id": "1", "type": "image"}})";
const std::string kToolbarPage =
    R"({"creative": {"id": "2", "type": "html", "props": {"html": "<p>toolbar</p>"}}})";
const std::string kWidgetPage =
    R"({"creative": {"id": "3", "type": "html", "props": {"html": "<p>widget</p>"}}})";

class FullScreenAdTest : public ::testing::Test {
protected:
    void SetUp() override {
        Clock::process().setVirtual(true);
        plat::net::setNetOverride(plat::net::NetOverride::WiFi);
        std::filesystem::create_directories(m_dir.file("Test.app"));
        ASSERT_TRUE(writePropertyList(m_dir.file("Test.app/Info.plist"),
                                      Value(Value::Dictionary{{"CFBundleExecutable", "Test"}}),
                                      PropertyListFormat::Xml));
        Bundle::setMain(*Bundle::open(m_dir.file("Test.app")));
        ASSERT_TRUE(writePropertyList(m_dir.file("facts.plist"),
                                      Value(Value::Dictionary{{"machine", "iPhone4,1"},
                                                              {"systemVersion", "6.1"},
                                                              {"screenWidth", 320.0},
                                                              {"screenHeight", 480.0},
                                                              {"screenScale", 1.0}}),
                                      PropertyListFormat::Xml));
        setDeviceFactsFile(m_dir.file("facts.plist"));
        m_container = Container::open("com.test.fullscreen", m_dir.file("home"));
        Container::setMain(*m_container);
        ASSERT_TRUE(plat::web::useWebEngine("fake"));
        // The page's widget-style tag as the next page made will read it.
        orbad::registerCreativeClass("OrbadFullScreenWebAdView", [this](const plat::ui::Rect& frame) {
            auto page = std::make_shared<orbad::OrbadFullScreenWebAdView>(frame);
            plat::web::FakeWebEngine::of(*page)->answer(orbad::kOrbadWidgetStyleScript, m_widgetStyle);
            return page;
        });
        dktest::launchOnScreen(m_app, m_root, m_window);
        plat::ui::setStatusBarHidden(false);
    }
    void TearDown() override {
        if (m_controller) m_controller->setDelegate(nullptr);
        m_controller.reset();
        m_window.reset();
        m_root.reset();
        m_app.reset();
        orbad::registerCreativeClass("OrbadFullScreenWebAdView", {});
        dktest::endStartedClient();
        plat::ui::setStatusBarHidden(true);
        plat::net::setNetOverride(std::nullopt);
    }

    // The started client whose server answers request n with answers[n-1], later ones with the last.
    void serve(const std::vector<std::string>& answers) {
        std::string script = R"({"default": )" + answers.back() + R"(, "requests": {)";
        for (size_t i = 0; i < answers.size(); ++i)
            script += (i ? ", \"" : "\"") + std::to_string(i + 1) + "\": " + answers[i];
        m_server = std::make_unique<dktest::ScriptedServer>(script + "}}");
        m_host = std::make_shared<dktest::FakeBannerHost>(m_server->url("/ads"));
        orbad::setBannerHost(m_host);
        m_controller = OrbadFullScreenAdViewController::make();
        m_controller->setDelegate(&m_delegate);
    }
    // A request answered and run to its end. The server is real: its answer is waited for however
    // long a loaded machine takes, not a fixed stretch of the virtual clock.
    void requested() {
        const size_t heard = loadReports();
        m_controller->requestAd();
        answered(heard);
    }
    void answered(size_t heard) {
        EXPECT_TRUE(dktest::turnUntil([&] { return loadReports() > heard; }, 60));
        run(1);
    }
    size_t loadReports() const {
        return std::count_if(m_delegate.lines.begin(), m_delegate.lines.end(), [](const std::string& line) {
            return line.starts_with("didFinishLoad") || line.starts_with("didFailToLoad");
        });
    }
    void presented() {
        requested();
        ASSERT_TRUE(m_controller->displayRequestedAdFromViewController(*m_root));
    }
    static void run(double seconds) { RunLoop::main().runFor(seconds); }
    std::vector<std::map<std::string, std::string>> asked() const {
        return dktest::queriesTo(*m_server, "/ads");
    }
    bool onScreen() const { return m_root->presentedViewController() == m_controller.get(); }

    dktest::TempDir m_dir;
    std::optional<Container> m_container;
    std::unique_ptr<dktest::ScriptedServer> m_server;
    std::shared_ptr<dktest::FakeBannerHost> m_host;
    dktest::FakeCreatives m_creatives;
    std::unique_ptr<plat::ui::Application> m_app;
    std::shared_ptr<plat::ui::ViewController> m_root;
    std::shared_ptr<plat::ui::Window> m_window;
    RecordingDelegate m_delegate;
    std::shared_ptr<OrbadFullScreenAdViewController> m_controller;
    std::string m_widgetStyle;
};

// One full-screen request, no refresh after it; a second requestAd while the ad waits keeps the
// engine and its ad; display then YES once and NO again.
TEST_F(FullScreenAdTest, RequestThenDisplayOnce) {
    serve({answer(kImageAd)});
    requested();
    const auto engine = m_controller->internalAdView();
    ASSERT_NE(engine, nullptr);
    EXPECT_EQ(engine->frame(), (plat::ui::Rect{0, 0, 320, 480}));
    EXPECT_EQ(m_delegate.lines, (Lines{"didFinishLoad hasAd=YES"}));
    m_controller->requestAd();
    run(120);
    ASSERT_EQ(asked().size(), 1u);
    EXPECT_EQ(asked()[0].at("s"), "fullscreen");
    EXPECT_EQ(m_controller->internalAdView(), engine);
    EXPECT_TRUE(m_controller->hasAd());

    EXPECT_TRUE(m_controller->displayRequestedAdFromViewController(*m_root));
    EXPECT_TRUE(onScreen());
    EXPECT_FALSE(m_controller->displayRequestedAdFromViewController(*m_root));
    EXPECT_EQ(m_delegate.lines, (Lines{"didFinishLoad hasAd=YES", "willPresent"}));
}

// Request and display with an ad already waiting presents it at once: the engine keeps the waiting
// ad without loading again, so no load would ever come to present it (and a later one would come
// up unasked).
TEST_F(FullScreenAdTest, RequestAndDisplayWithAnAdWaitingPresentsAtOnce) {
    serve({answer(kImageAd)});
    requested();
    m_controller->requestAndDisplayAdFromViewController(*m_root);
    EXPECT_TRUE(onScreen());
    EXPECT_EQ(asked().size(), 1u);
}

// A presenter that cannot show it (its view in no window) leaves the ad waiting for one that can:
// a display taken as granted would refuse every later one.
TEST_F(FullScreenAdTest, ARefusedPresentationLeavesTheAdForTheNextDisplay) {
    serve({answer(kImageAd)});
    requested();
    auto offscreen = std::make_shared<plat::ui::ViewController>();
    EXPECT_FALSE(m_controller->displayRequestedAdFromViewController(*offscreen));
    EXPECT_FALSE(m_controller->isDisplayingAd());
    EXPECT_TRUE(m_controller->hasAd());
    EXPECT_TRUE(m_controller->displayRequestedAdFromViewController(*m_root));
    EXPECT_TRUE(onScreen());
}

// A failed request reaches the delegate with the engine's error and nothing displays; a request
// and display that failed presents nothing when a later request loads.
TEST_F(FullScreenAdTest, FailureDisplaysNothing) {
    serve({answer("", 503), answer(kImageAd)});
    m_controller->requestAndDisplayAdFromViewController(*m_root);
    answered(0);
    ASSERT_EQ(m_delegate.lines.size(), 1u);
    EXPECT_EQ(m_delegate.lines[0].rfind("didFailToLoad ", 0), 0u) << m_delegate.lines[0];
    EXPECT_FALSE(m_controller->hasAd());
    EXPECT_FALSE(m_controller->displayRequestedAdFromViewController(*m_root));
    requested();
    EXPECT_TRUE(m_controller->hasAd());
    EXPECT_FALSE(onScreen());
}

// Request and display presents the ad as soon as it loads.
TEST_F(FullScreenAdTest, RequestAndDisplayPresentsOnLoad) {
    serve({answer(kImageAd)});
    m_controller->requestAndDisplayAdFromViewController(*m_root);
    answered(0);
    EXPECT_TRUE(onScreen());
    EXPECT_EQ(m_delegate.lines, (Lines{"didFinishLoad hasAd=YES", "willPresent"}));
}

// A page with the widget tag shows the close widget and no toolbar, any other page the toolbar and
// no widget: on a controller's first presentation too, in either order after it, and a toolbar
// page after a toolbar page (its new engine ran under the toolbar that stayed up).
TEST_F(FullScreenAdTest, ToolbarOrWidgetByPage) {
    struct Case {
        const char* name;
        std::vector<std::string> pages;
    };
    for (const Case& c : {Case{"toolbar first", {kToolbarPage, kWidgetPage}},
                          Case{"widget first", {kWidgetPage, kToolbarPage}},
                          Case{"toolbar twice", {kToolbarPage, kToolbarPage}}}) {
        serve({answer(c.pages[0]), answer(c.pages[1])});
        for (const std::string& page : c.pages) {
            const bool widget = page == kWidgetPage;
            m_widgetStyle = widget ? "YES" : "";
            presented();
            const double height = m_controller->view()->bounds().height;
            const plat::ui::Toolbar& toolbar = *m_controller->toolbar();
            EXPECT_EQ(m_controller->toolbarHidden(), widget) << c.name;
            EXPECT_EQ(!toolbar.isHidden() && toolbar.frame().y < height, !widget) << c.name;
            EXPECT_EQ(m_controller->internalAdView()->frame().height,
                      widget ? height : height - toolbar.frame().height)
                << c.name;
            EXPECT_EQ(m_controller->widgetButtonController()->getButtonVisible(), widget) << c.name;
            m_controller->dismissAd();
            run(1);
        }
    }
}

// While the page loads, slot 0 holds the spinner (30 points), else a 40-point space; the widget
// hears the same.
TEST_F(FullScreenAdTest, LoadingSlot) {
    serve({answer(kToolbarPage)});
    presented();
    plat::ui::Toolbar& toolbar = *m_controller->toolbar();
    for (bool loading : {true, false, true}) {
        m_controller->setLoading(loading);
        const auto& item = loading ? m_controller->loadingItem() : m_controller->notLoadingItem();
        EXPECT_EQ(toolbar.items()[0], item) << loading;
        EXPECT_EQ(toolbar.frameOfItem(*item).width, loading ? 30 : 40) << loading;
        EXPECT_EQ(m_controller->loadingItem()->customView()->superview() == &toolbar, loading);
        EXPECT_EQ(m_controller->widgetButtonController()->isLoading(), loading);
    }
}

// Done and the close widget: the engine let go and the delegate told while the controller is still
// presented, the status bar back as it was; a new request asks the server again.
TEST_F(FullScreenAdTest, DismissalsInOrder) {
    struct Case {
        const char* name;
        const std::string& page;
        bool statusBarHidden;
        std::function<void(OrbadFullScreenAdViewController&)> close;
    };
    const Case cases[] = {
        {"Done", kToolbarPage, false,
         [](OrbadFullScreenAdViewController& c) { EXPECT_TRUE(c.doneItem()->press()); }},
        {"widget", kWidgetPage, true,
         [](OrbadFullScreenAdViewController& c) {
             c.widgetButtonController()->closeButton()->sendActions();
         }},
    };
    for (const Case& c : cases) {
        serve({answer(c.page)});
        m_widgetStyle = &c.page == &kWidgetPage ? "1" : "0";
        plat::ui::setStatusBarHidden(c.statusBarHidden);
        presented();
        EXPECT_TRUE(plat::ui::isStatusBarHidden()) << c.name;
        c.close(*m_controller);
        EXPECT_EQ(m_delegate.lines.back(), "didDismiss presented=YES") << c.name;
        EXPECT_FALSE(onScreen()) << c.name;
        EXPECT_EQ(m_controller->internalAdView(), nullptr) << c.name;
        EXPECT_FALSE(m_controller->hasAd()) << c.name;
        EXPECT_FALSE(m_controller->isDisplayingAd()) << c.name;
        EXPECT_EQ(plat::ui::isStatusBarHidden(), c.statusBarHidden) << c.name;
        requested();
        EXPECT_EQ(asked().size(), 2u) << c.name;
        EXPECT_TRUE(m_controller->hasAd()) << c.name;
        m_delegate.lines.clear();
    }
}

// A browser the ad opens covers and uncovers the controller: one will-present, the ad still
// displayed, and the status bar still comes back as it was before the ad.
TEST_F(FullScreenAdTest, BrowserCoversWithoutNewPresentation) {
    serve({answer(kImageAd)});
    presented();
    m_controller->internalAdView()->openURLInBrowser("http://landing.example/", 0);
    auto browser = m_controller->internalAdView()->lastBrowser();
    ASSERT_TRUE(browser && browser->presentingViewController() == m_controller.get());
    EXPECT_FALSE(m_controller->adIsVisible());
    browser->done();
    run(1);
    EXPECT_TRUE(m_controller->adIsVisible());
    EXPECT_TRUE(m_controller->isDisplayingAd());
    EXPECT_EQ(m_delegate.lines, (Lines{"didFinishLoad hasAd=YES", "willPresent"}));
    m_controller->dismissAd();
    EXPECT_FALSE(plat::ui::isStatusBarHidden());
}

// Resigning active while the ad is visible dismisses it, without animation.
TEST_F(FullScreenAdTest, ResignActiveDismisses) {
    serve({answer(kImageAd)});
    presented();
    m_app->resignActive();
    EXPECT_FALSE(onScreen());
    EXPECT_EQ(m_delegate.lines.back(), "didDismiss presented=YES");
    EXPECT_FALSE(m_controller->isDisplayingAd());
}

// The engine asks the delegate's URL hook only when the delegate says it has one.
TEST_F(FullScreenAdTest, RequestHooksUnderAnswers) {
    serve({answer(kImageAd)});
    requested();
    EXPECT_EQ(asked()[0].count("adurl"), 0u);
    m_delegate.answered = {Hook::requestedAdUrl};
    m_controller->setDelegate(&m_delegate);
    m_controller->dismissAd();
    requested();
    ASSERT_EQ(asked().size(), 2u);
    EXPECT_EQ(asked()[1].at("adurl"), "http://ad.example/one");
    EXPECT_EQ(std::count(m_delegate.lines.begin(), m_delegate.lines.end(), "requestedAdUrl"), 1);
}

// The media-identifier hook reaches the delegate that has it, and only that one: the engine sees
// the hook exactly when the delegate answers it.
TEST_F(FullScreenAdTest, MediaIdentifierHookPassesToTheDelegate) {
    using Op = OrbadAdViewDelegate::Op;
    serve({answer(kImageAd)});
    requested();
    OrbadAdViewDelegate* engineDelegate = m_controller->internalAdView()->delegate();
    ASSERT_NE(engineDelegate, nullptr);
    EXPECT_FALSE(engineDelegate->answers(Op::requestedVeltiMediaIdForAdView));
    EXPECT_EQ(engineDelegate->requestedVeltiMediaIdForAdView(nullptr), std::nullopt);
    EXPECT_EQ(std::count(m_delegate.lines.begin(), m_delegate.lines.end(), "requestedVeltiMediaId"), 0);
    m_delegate.answered = {Hook::requestedVeltiMediaId};
    EXPECT_TRUE(engineDelegate->answers(Op::requestedVeltiMediaIdForAdView));
    EXPECT_FALSE(engineDelegate->answers(Op::requestedAdUrlForAdView));
    EXPECT_EQ(engineDelegate->requestedVeltiMediaIdForAdView(nullptr), "media-7");
    EXPECT_EQ(std::count(m_delegate.lines.begin(), m_delegate.lines.end(), "requestedVeltiMediaId"), 1);
}

// The controller turns only to the orientation of its last request.
TEST_F(FullScreenAdTest, RotationToRequestOrientation) {
    serve({answer(kImageAd)});
    m_app->setStatusBarOrientation(plat::ui::kInterfaceOrientationLandscapeRight);
    requested();
    EXPECT_EQ(m_controller->supportedInterfaceOrientations(), plat::ui::kInterfaceOrientationMaskLandscapeRight);
    EXPECT_FALSE(m_controller->shouldAutorotateToInterfaceOrientation(plat::ui::kInterfaceOrientationPortrait));
}

// The HTML ad's page drives the toolbar: back and forward follow its history after each load, and
// a link of a native handler on a widget page keeps the page, brings the toolbar and opens the
// other application (the ad is on screen: no click needed).
TEST_F(FullScreenAdTest, PageHistoryAndNativeLinksDriveTheToolbar) {
    serve({answer(kToolbarPage), answer(kWidgetPage)});
    m_host->handlers = {"apps.store.invalid"};
    presented();
    auto page = [&] { return m_controller->internalAdView()->currentAdView(); };
    auto engine = [&] { return plat::web::FakeWebEngine::of(dynamic_cast<plat::ui::WebView&>(page()->adsView())); };
    auto arrows = [&] {
        const auto& items = m_controller->toolbar()->items();
        return std::to_string(items[2]->isEnabled()) + std::to_string(items[4]->isEnabled());
    };
    run(1);
    EXPECT_EQ(arrows(), "00");
    // The page's own file again (no other local file loads).
    const std::string own = dynamic_cast<orbad::OrbadRichMediaWebAdView&>(page()->adsView()).cacheLocation();
    engine()->injectNavigation("file://" + own + "?second", plat::ui::WebNavigationType::LinkClicked);
    run(1);
    EXPECT_EQ(arrows(), "10");
    m_controller->goBack();
    run(1);
    EXPECT_EQ(arrows(), "01");
    m_controller->dismissAd();
    run(1);

    m_widgetStyle = "YES";
    presented();
    run(1);
    ASSERT_TRUE(m_controller->toolbarHidden());
    const std::string shown = engine()->document();
    engine()->injectNavigation("https://apps.store.invalid/app/1", plat::ui::WebNavigationType::Other);
    run(1);
    EXPECT_FALSE(m_controller->toolbarHidden());
    EXPECT_FALSE(m_controller->widgetButtonController()->getButtonVisible());
    EXPECT_EQ(m_app->openedURLs(), Lines{"https://apps.store.invalid/app/1"});
    EXPECT_EQ(engine()->document(), shown);
}

// The player's road: once the client has started, `init` gives the client's controller, which asks
// the configured ad server for a full-screen ad; before, the stand-in.
TEST_F(FullScreenAdTest, PlayerInitAfterStart) {
    m_server = std::make_unique<dktest::ScriptedServer>(R"({"default": )" + answer(kImageAd) + "}");
    dktest::ScriptedServer data(R"({"default": {"status": "HTTP/1.1 503 X"}})");
    for (const char* name : orbad::kOrbadServerNames) plat::net::setServerBaseOverride(name, data.url(""));
    plat::net::setServerBaseOverride(orbad::kOrbadAdsServer, m_server->url(""));

    EXPECT_NE(
        dynamic_cast<OrbadFullScreenAdViewControllerStandIn*>(OrbadFullScreenAdViewController::init().get()),
        nullptr);
    Orbad::startWithApplicationId("APP9");
    m_controller = OrbadFullScreenAdViewController::init();
    EXPECT_EQ(dynamic_cast<OrbadFullScreenAdViewControllerStandIn*>(m_controller.get()), nullptr);
    m_controller->setDelegate(&m_delegate);
    m_controller->requestAd();
    EXPECT_TRUE(dktest::turnUntil([&] { return !m_delegate.lines.empty(); }));
    EXPECT_EQ(m_delegate.lines, (Lines{"didFinishLoad hasAd=YES"}));
    const auto seen = dktest::queriesTo(*m_server, "/");
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].at("i"), "APP9");
    EXPECT_EQ(seen[0].at("s"), "fullscreen");
}

}  // namespace

namespace {

// The mended fault: an ad's page, closed or replaced, went on off screen (in the creatives' pool)
// asking its server and using the processor. Whichever road takes it off, nothing of it runs
// afterwards: while a later page beats twenty times the server hears nothing of it and the web
// processes stay all but idle.
TEST_F(FullScreenAdTest, NothingOfAnAdPageTakenOffRunsAfterwards) {
    orbad::registerCreativeClass("OrbadFullScreenWebAdView", {});
    ASSERT_TRUE(plat::web::useWebEngine("wpe"));
    // Every answer is the browser's page; the beats' answers go unread.
    dktest::ScriptedServer beats(R"({"default": {"body": )" +
                                 Value(dktest::busyPage("timer", "/beat-browser")).canonicalJSON() + "}}");
    auto busyAd = [&](const std::string& road) {
        return answer(R"({"creative": {"type": "html", "props": {"html": )" +
                      Value(dktest::busyPage("timer", beats.url("/beat-" + road))).canonicalJSON() + "}}}");
    };
    auto count = [&](const std::string& path, size_t from = 0) {
        const std::vector<dktest::SeenRequest> seen = beats.requests();
        return static_cast<size_t>(std::count_if(seen.begin() + std::min(from, seen.size()), seen.end(),
                                                 [&](const auto& r) { return r.path.starts_with(path); }));
    };
    std::shared_ptr<OrbadAdView> banner;
    const struct {
        const char* road;
        std::function<void()> open, takeOff;
    } roads[] = {
        {"fullscreen", [&] { serve({busyAd("fullscreen")}); presented(); }, [&] { m_controller->dismissAd(); }},
        {"banner",
         [&] {
             serve({busyAd("banner"),
                    answer(R"({"creative": {"type": "html", "props": {"html": "<p>next</p>"}}})")});
             m_host->refresh = 0;
             banner = OrbadAdViewiPhone_320x50.make();
             m_root->view()->addSubview(banner);
             banner->getAd();
         },
         [&] {
             auto* shown = banner->adView()->currentAdView();
             banner->getAd();
             ASSERT_TRUE(dktest::turnUntil([&] { return banner->adView()->currentAdView() != shown; }, 60));
         }},
        {"browser",
         [&] {
             m_root->presentViewController(orbad::OBBrowserViewController::withURL(beats.url("/busy.html")), false);
         },
         [&] {
             static_cast<orbad::OBBrowserViewController*>(m_root->presentedViewController())->done();
             run(1);
         }},
    };
    for (const auto& road : roads) {
        SCOPED_TRACE(road.road);
        road.open();
        ASSERT_TRUE(dktest::turnUntil([&] { return count(std::string("/beat-") + road.road) >= 2; }, 60));
        road.takeOff();
        const size_t takenOff = beats.requests().size();
        auto later = std::make_shared<plat::ui::WebView>(plat::ui::Rect{0, 0, 10, 10});
        later->loadHTMLString(dktest::busyPage("timer", "/later"), beats.url("/"));
        // The empty page takes a moment to come in (in another web process than the later page's):
        // what was sent before it is not counted.
        ASSERT_TRUE(dktest::turnUntil([&] { return count("/later", takenOff) >= 5; }, 60));
        const size_t from = beats.requests().size();
        const double cpu = dktest::webProcessesCpuSeconds();
        const auto start = std::chrono::steady_clock::now();
        ASSERT_TRUE(dktest::turnUntil([&] { return count("/later", from) >= 20; }, 60));
        const double spent = dktest::webProcessesCpuSeconds() - cpu;
        const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
        EXPECT_EQ(count(std::string("/beat-") + road.road, from), 0u);
        EXPECT_LT(spent, elapsed.count() / 2);
    }
    banner.reset();
    plat::web::useWebEngine("fake");
}

// The mended fault: an ad whose page ended after it had loaded (its web process gone: past its
// memory, stuck, or crashed as here) said nothing: a banner stayed blank until its refresh, a
// full-screen ad stayed up blank until closed. The banner asks for its next ad at once; the
// full-screen ad on screen closes as Done closes it, and one waiting to be shown fails.
TEST_F(FullScreenAdTest, AnAdWhosePageEndsIsNotLeftBlank) {
    orbad::registerCreativeClass("OrbadFullScreenWebAdView", {});
    ASSERT_TRUE(plat::web::useWebEngine("wpe"));
    const std::string ad = answer(R"({"creative": {"type": "html", "props": {"html": "<p>ad</p>"}}})");
    std::shared_ptr<OrbadAdView> banner;
    const struct {
        const char* road;
        std::function<void()> open;
        std::function<bool()> heard;
    } roads[] = {
        {"shown", [&] { serve({ad}); presented(); },
         [&] { return m_delegate.lines.back() == "didDismiss presented=YES" && !onScreen(); }},
        {"waiting", [&] { serve({ad}); requested(); },
         [&] { return m_delegate.lines.back().starts_with("didFailToLoad 0") && !m_controller->hasAd(); }},
        {"banner",
         [&] {
             serve({ad});
             m_host->refresh = 0;  // only the ended page asks again
             banner = OrbadAdViewiPhone_320x50.make();
             m_root->view()->addSubview(banner);
             banner->getAd();
             ASSERT_TRUE(dktest::turnUntil([&] { return banner->adView()->currentAdView(); }, 60));
         },
         [&] { return asked().size() == 2 && banner->adView()->currentAdView(); }},
    };
    for (const auto& road : roads) {
        SCOPED_TRACE(road.road);
        m_delegate.lines.clear();
        road.open();
        ASSERT_GT(dktest::killWebProcesses(), 0u);
        EXPECT_TRUE(dktest::turnUntil(road.heard, 60)) << ::testing::PrintToString(m_delegate.lines);
    }
    banner.reset();
    plat::web::useWebEngine("fake");
}

// Where the ad client's full-screen ad comes up in a landscape interface: over the whole turned
// screen and not turned again (the content client's units once were, in the same window): its page
// upright above the toolbar on the real page engine, each corner's colour in that corner of the
// screen and each corner pressed by a tap there.
TEST_F(FullScreenAdTest, InLandscapeThePageLiesUprightAboveTheToolbar) {
    orbad::registerCreativeClass("OrbadFullScreenWebAdView", {});
    ASSERT_TRUE(plat::web::useWebEngine("wpe"));
    plat::sys::Device::current().setOrientation(plat::sys::kDeviceOrientationLandscapeLeft);
    ASSERT_EQ(m_app->interfaceOrientation(), plat::ui::kInterfaceOrientationLandscapeRight);
    const std::string page = dktest::cornerButtonsPage(
        "<style>#tl{background:#f00} #tr{background:#0f0} #bl{background:#ff0} #br{background:#0ff}</style>");
    serve({answer(R"({"creative": {"id": "4", "type": "html", "props": {"html": )" + Value(page).canonicalJSON() +
                  "}}}")});
    presented();
    auto* web = dynamic_cast<orbad::OrbadFullScreenWebAdView*>(m_controller->internalAdView()->currentAdView());
    ASSERT_TRUE(web);
    const double w = 480, h = 320 - m_controller->toolbar()->frame().height;
    const std::string size = std::to_string(static_cast<int>(w)) + "x" + std::to_string(static_cast<int>(h));
    ASSERT_TRUE(dktest::turnUntil([&] { return web->stringByEvaluatingJavaScript("innerWidth + 'x' + innerHeight") == size; }, 60))
        << web->stringByEvaluatingJavaScript("innerWidth + 'x' + innerHeight");
    const plat::ui::Point targets[] = {{10, 10}, {w - 10, 10}, {10, h - 10}, {w - 10, h - 10}};

    // The screen as the device shows it: the interface a quarter turn clockwise on the portrait glass.
    const uint32_t wanted[] = {0xff0000, 0x00ff00, 0xffff00, 0x00ffff};
    auto colours = [&] {
        std::vector<uint32_t> seen;
        std::shared_ptr<plat::ui::Image> shot = plat::ui::snapshotKeyWindow(*m_app, 1);
        if (!shot) return seen;
        cairo_surface_t* surface = shot->surface();
        cairo_surface_flush(surface);
        const int stride = cairo_image_surface_get_stride(surface);
        const auto* data = cairo_image_surface_get_data(surface);
        for (const plat::ui::Point& in : targets) {
            const int x = static_cast<int>(320 - in.y), y = static_cast<int>(in.x);
            seen.push_back(reinterpret_cast<const uint32_t*>(data + y * stride)[x] & 0xffffffu);
        }
        return seen;
    };
    EXPECT_TRUE(dktest::turnUntil([&] { return colours() == std::vector<uint32_t>(std::begin(wanted), std::end(wanted)); }, 60))
        << ::testing::PrintToString(colours());

    int finger = 1;
    for (const plat::ui::Point& p : targets) {
        ASSERT_TRUE(m_app->injectTouches({{plat::ui::TouchPhase::Began, finger, p}}));
        ASSERT_TRUE(m_app->injectTouches({{plat::ui::TouchPhase::Ended, finger++, p}}));
    }
    ASSERT_TRUE(dktest::turnUntil([&] { return web->stringByEvaluatingJavaScript("String(got.length)") == "4"; }, 60))
        << web->stringByEvaluatingJavaScript("got.join('|')");
    EXPECT_EQ(web->stringByEvaluatingJavaScript("got.join('|')"), dktest::cornerClicks(w, h));
    m_controller->dismissAd();
    run(1);
    plat::web::useWebEngine("fake");
}

}  // namespace
