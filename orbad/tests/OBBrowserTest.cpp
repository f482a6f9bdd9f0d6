// The in-app browser on the fake page engine and the virtual clock: its chromes, the link
// decision, "Open in Safari", orientation scripts, its notifications and preloading.
#include <gtest/gtest.h>

#include "orbad/OrbadAdView.h"
#include "orbad/ads/OBBrowserViewController.h"
#include "orbad/ads/OrbadAdViewInternal.h"
#include "orbad/tests/BannerTestSupport.h"
#include "orbad/tests/OrbadCreativeTestSupport.h"
#include "orbad/tests/OrbadTestSupport.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/RunLoop.h"
#include "platform/sys/Device.h"
#include "platform/ui/ActionSheet.h"
#include "platform/ui/Application.h"
#include "platform/ui/Bars.h"
#include "platform/ui/Button.h"
#include "platform/ui/StatusBar.h"
#include "platform/ui/Window.h"
#include "platform/web/FakeWebEngine.h"
#include "platform/web/PageEngine.h"

namespace {

using namespace plat::foundation;
using orbad::OBBrowserViewController;
using plat::ui::Rect;
using plat::ui::WebNavigationType;
using plat::web::FakeWebEngine;

// Each navigation a web view's delegate decided: "URL allowed|refused".
struct Decisions : plat::ui::WebViewObserver {
    std::vector<std::string> lines;
    void webViewDecided(plat::ui::WebView&, const plat::ui::WebRequest& r, WebNavigationType, bool allowed) override {
        lines.push_back(r.url + (allowed ? " allowed" : " refused"));
    }
};

struct PreloadDelegate : orbad::OBBrowserViewControllerDelegate {
    std::vector<std::string> heard;
    void browserFailedToPreload(OBBrowserViewController&, const Error& e) override {
        heard.push_back("failed " + e.domain);
    }
    void browserFinishedPreloading(OBBrowserViewController&) override { heard.push_back("finished"); }
};

// Launched on the 320 x 480 phone with a plain root controller, the fake page engine, and a host
// whose native URL handlers are "itunes.apple.com" and "maps.google".
class OBBrowserTest : public ::testing::Test {
protected:
    void SetUp() override {
        Clock::process().setVirtual(true);
        plat::sys::Device::current().reset();
        plat::sys::Device::current().setPreset("phone");
        ASSERT_TRUE(plat::web::useWebEngine("fake"));
        dktest::launchOnScreen(m_app, m_root, m_window);
        plat::ui::WebView::setObserver(&decisions);
        m_host->handlers = {"itunes.apple.com", "maps.google"};
        orbad::setBannerHost(m_host);
        for (const char* name : {orbad::kOBBrowserDidShowNotification, orbad::kOBBrowserDidHideNotification})
            m_observations.push_back(NotificationCenter::defaultCenter().observe(
                name, nullptr, [this](const Notification& n) { heard.push_back(fmt(n.name)); }));
    }
    void TearDown() override {
        m_observations.clear();
        plat::ui::WebView::setObserver(nullptr);
        orbad::setBannerHost(nullptr);
        orbad::OBCoreHTTPRequest::cancelAllAndWait(10);
        run(1);
        m_window.reset();
        m_app.reset();
        plat::web::useWebEngine("none");
    }
    std::string fmt(const std::string& what) const {
        char t[32];
        std::snprintf(t, sizeof t, "%.2f ", RunLoop::main().now() - m_origin);
        return t + what;
    }
    static void run(double seconds) { RunLoop::main().runFor(seconds); }
    std::shared_ptr<OBBrowserViewController> present(const std::string& url, int style = 0) {
        m_origin = RunLoop::main().now();
        auto browser = OBBrowserViewController::withURL(url, style);
        m_root->presentViewController(browser, true);
        run(0.01);
        return browser;
    }
    static FakeWebEngine& page(const OBBrowserViewController& b) { return *FakeWebEngine::of(*b.webView()); }

    std::unique_ptr<plat::ui::Application> m_app;
    std::shared_ptr<plat::ui::ViewController> m_root;
    std::shared_ptr<plat::ui::Window> m_window;
    std::shared_ptr<dktest::FakeBannerHost> m_host = std::make_shared<dktest::FakeBannerHost>("http://127.0.0.1:1/ads");
    std::vector<Observation> m_observations;
    std::vector<std::string> heard;
    Decisions decisions;
    double m_origin = 0;
};

TEST_F(OBBrowserTest, ChromeOfEachStyle) {
    struct Case {
        int style;
        std::optional<Rect> navigation, toolbar, close;
        Rect web;
        size_t items;
    };
    const Rect top{0, 0, 320, 44}, bottom{0, 436, 320, 44};
    for (const Case& c : {Case{0, std::nullopt, bottom, std::nullopt, {0, 0, 320, 436}, 9},
                          Case{1, top, std::nullopt, std::nullopt, {0, 44, 320, 436}, 0},
                          Case{2, std::nullopt, std::nullopt, Rect{2, 2, 30, 30}, {0, 0, 320, 480}, 0},
                          Case{3, top, bottom, std::nullopt, {0, 44, 320, 392}, 7}}) {
        SCOPED_TRACE(c.style);
        auto browser = OBBrowserViewController::withURL("http://a.test/", c.style);
        browser->view();
        auto frameOf = [](const auto& v) { return v ? std::optional<Rect>(v->frame()) : std::nullopt; };
        EXPECT_EQ(frameOf(browser->navigationBar()), c.navigation);
        EXPECT_EQ(frameOf(browser->toolbar()), c.toolbar);
        EXPECT_EQ(frameOf(browser->closeBox()).has_value(), c.close.has_value());
        if (c.close) {
            EXPECT_EQ(browser->closeBox()->frame().origin(), c.close->origin());
        }
        EXPECT_EQ(browser->webView()->frame(), c.web);
        EXPECT_EQ(browser->toolbar() ? browser->toolbar()->items().size() : 0, c.items);
        EXPECT_EQ(browser->doneItem() != nullptr, c.style != 2);
        if (browser->navigationBar()) {
            EXPECT_EQ(browser->navigationBar()->topItem()->title(), "Advertisement");
        }
    }
}

// Blank preload page allowed, video:// rewritten in place, native handlers handed to the system
// with the browser closing a second later, clicked links becoming the request.
TEST_F(OBBrowserTest, LinkDecisionOrder) {
    auto browser = present("http://a.test/start");
    FakeWebEngine& fake = page(*browser);
    fake.injectNavigation("about:blank?preloaded=true", WebNavigationType::Other);
    fake.injectNavigation("VIDEO://v.test/clip.mp4", WebNavigationType::LinkClicked);
    run(0.1);
    EXPECT_EQ(decisions.lines, (std::vector<std::string>{"http://a.test/start allowed",
                                                         "about:blank?preloaded=true allowed",
                                                         "VIDEO://v.test/clip.mp4 refused",
                                                         "http://v.test/clip.mp4 allowed"}));
    EXPECT_EQ(browser->requestURL(), "http://a.test/start");  // the rewrite is no click
    fake.injectNavigation("http://b.test/next", WebNavigationType::LinkClicked);
    fake.injectNavigation("http://c.test/form", WebNavigationType::FormSubmitted);
    run(0.1);
    EXPECT_EQ(browser->requestURL(), "http://b.test/next");
    fake.injectNavigation("https://ITUNES.apple.com/app/id1", WebNavigationType::LinkClicked);
    run(0.9);
    EXPECT_EQ(m_app->openedURLs(), std::vector<std::string>{"https://ITUNES.apple.com/app/id1"});
    EXPECT_EQ(m_root->presentedViewController(), browser.get());
    run(0.2);
    EXPECT_EQ(m_root->presentedViewController(), nullptr);
    EXPECT_EQ(browser->requestURL(), "http://b.test/next");
}

// The mended fault: the browser loaded local files, data and script addresses, and offered them to
// open outside. Only the web, and the blank page embedded HTML starts from, load now.
TEST_F(OBBrowserTest, OnlyWebAddressesLoadOrOpenOutside) {
    for (const std::string start : {"file:///etc/passwd", "javascript:alert(1)", "data:text/html,x"}) {
        decisions.lines.clear();
        auto browser = present(start);
        run(0.1);
        EXPECT_EQ(decisions.lines, std::vector<std::string>{start + " refused"});
        browser->actionItem()->press();
        ASSERT_TRUE(plat::ui::ActionSheet::onScreen());
        plat::ui::ActionSheet::onScreen()->pressButton(0);
        EXPECT_EQ(m_app->openedURLs(), std::vector<std::string>{}) << start;
        browser->done();
        run(0.5);
    }
    decisions.lines.clear();
    auto browser = present("http://a.test/start");
    FakeWebEngine& fake = page(*browser);
    for (const char* url : {"file:///etc/passwd", "FILE:///x", "javascript:alert(1)", "data:text/html,x",
                            "ftp://f.test/x", "about:blank", "HTTPS://b.test/"})
        fake.injectNavigation(url, WebNavigationType::LinkClicked);
    run(0.1);
    EXPECT_EQ(decisions.lines,
              (std::vector<std::string>{"http://a.test/start allowed", "file:///etc/passwd refused", "FILE:///x refused",
                                        "javascript:alert(1) refused", "data:text/html,x refused",
                                        "ftp://f.test/x refused", "about:blank allowed", "HTTPS://b.test/ allowed"}));
    EXPECT_EQ(browser->requestURL(), "HTTPS://b.test/");
    // Embedded HTML without a base starts from the blank page.
    auto html = OBBrowserViewController::withHTML("<p>x</p>", std::nullopt, 0);
    decisions.lines.clear();
    m_root->dismissViewController(false);
    run(0.5);
    m_root->presentViewController(html, false);
    run(0.1);
    EXPECT_EQ(decisions.lines, std::vector<std::string>{"about:blank allowed"});
}

TEST_F(OBBrowserTest, OpenInSafariOpensTheLastClickedLink) {
    auto browser = present("http://a.test/start");
    page(*browser).injectNavigation("http://b.test/clicked", WebNavigationType::LinkClicked);
    run(0.1);
    browser->actionItem()->press();
    ASSERT_TRUE(browser->actionSheet() && browser->actionSheet()->isVisible());
    EXPECT_EQ(browser->actionSheet()->buttonTitles(), (std::vector<std::string>{"Open in Safari", "Cancel"}));
    browser->actionItem()->press();  // toggles it away
    EXPECT_FALSE(browser->actionSheet()->isVisible());
    EXPECT_TRUE(m_app->openedURLs().empty());
    browser->actionItem()->press();
    ASSERT_TRUE(plat::ui::ActionSheet::onScreen());
    plat::ui::ActionSheet::onScreen()->pressButton(0);
    EXPECT_EQ(m_app->openedURLs(), std::vector<std::string>{"http://b.test/clicked"});
}

TEST_F(OBBrowserTest, OrientationScripts) {
    auto browser = OBBrowserViewController::withHTML("<p>ad</p>", std::nullopt);
    m_root->presentViewController(browser, true);
    run(0.5);
    const std::string getter = "window.__defineGetter__('orientation',function() {return ";
    const std::string event =
        "var e = document.createEvent('Events'); e.initEvent('orientationChanged', 'false', 'false'); "
        "document.dispatchEvent(e);";
    EXPECT_EQ(page(*browser).evaluated(), std::vector<std::string>{getter + "0;});"});
    for (auto [orientation, degrees] : {std::pair{3, "90"}, std::pair{4, "-90"}, std::pair{2, "180"}}) {
        const size_t before = page(*browser).evaluated().size();
        m_app->setStatusBarOrientation(orientation);
        browser->didRotateFromInterfaceOrientation(1);
        EXPECT_EQ(std::vector<std::string>(page(*browser).evaluated().begin() + before, page(*browser).evaluated().end()),
                  (std::vector<std::string>{getter + degrees + ";});", event}));
    }
    EXPECT_EQ(browser->supportedInterfaceOrientations(), plat::ui::kInterfaceOrientationMaskAll);
}

// Open as it is about to appear, close 0.1 s after it has gone, though nothing else holds it; the
// modal flag and the status bar follow.
TEST_F(OBBrowserTest, NotificationsAndFlags) {
    plat::ui::setStatusBarHidden(false);
    std::weak_ptr<OBBrowserViewController> weak;
    {
        auto browser = present("http://a.test/start", 2);
        weak = browser;
        EXPECT_TRUE(m_host->modal);
        EXPECT_TRUE(plat::ui::isStatusBarHidden());
        browser->closeBox()->sendActions();
    }
    EXPECT_FALSE(m_host->modal);
    EXPECT_FALSE(plat::ui::isStatusBarHidden());
    run(0.09);
    EXPECT_FALSE(weak.expired());
    run(0.02);
    EXPECT_EQ(heard, (std::vector<std::string>{"0.00 ORBAD_BROWSER_OPEN", "0.11 ORBAD_BROWSER_CLOSE"}));
    EXPECT_TRUE(weak.expired());
}

TEST_F(OBBrowserTest, ResignActiveDismissesOnlyWhenAsked) {
    for (bool autoDismiss : {false, true}) {
        auto browser = present("http://a.test/start");
        browser->setAutoDismissOnResignActive(autoDismiss);
        m_app->resignActive();
        EXPECT_EQ(m_root->presentedViewController() == nullptr, autoDismiss);
        m_app->becomeActive();
        if (!autoDismiss) browser->done();
        run(0.2);
    }
}

// A native handler met while preloading, off screen: refused, nothing opened, nothing closed.
TEST_F(OBBrowserTest, NativeHandlerRefusedWhilePreloading) {
    auto browser = OBBrowserViewController::withHTML("<p>ad</p>", std::string("http://a.test/base"));
    browser->preloadRequest();
    run(0.1);
    page(*browser).injectNavigation("http://maps.google.com/?q=x", WebNavigationType::Other);
    run(1.5);
    EXPECT_TRUE(m_app->openedURLs().empty());
    EXPECT_EQ(decisions.lines.back(), "http://maps.google.com/?q=x refused");
    EXPECT_EQ(m_root->presentedViewController(), nullptr);
}

// The preload's HTML comes back with the request's address as base, so relative links resolve.
TEST_F(OBBrowserTest, PreloadBlankPageReinjectsWithBase) {
    auto browser = OBBrowserViewController::withHTML("<a href='x'>x</a>", std::string("http://a.test/base/"));
    browser->preloadRequest();
    run(0.5);
    EXPECT_EQ(page(*browser).document(), "<a href='x'>x</a>");
    EXPECT_EQ(browser->webView()->currentURL(), "http://a.test/base/");
}

// 200 gives the page's text, 404 and a refused connection leave the web view loading the address
// itself; the delegate hears each once.
TEST_F(OBBrowserTest, PreloadAnswers) {
    dktest::ScriptedServer server(
        R"({"default": {"status": "HTTP/1.1 200 OK", "body": "<b>landing</b>"}, "requests": {"2": {"status": "HTTP/1.1 404 Not Found", "body": "gone"}}})");
    struct Case {
        std::string url, heard, document;
    };
    for (const Case& c : {Case{server.url("/one"), "finished", "<b>landing</b>"},
                          Case{server.url("/two"), "finished", ""},
                          Case{"http://127.0.0.1:1/refused", "failed", ""}}) {
        SCOPED_TRACE(c.url);
        auto delegate = std::make_shared<PreloadDelegate>();
        decisions.lines.clear();
        auto browser = OBBrowserViewController::withURL(c.url);
        browser->setDelegate(delegate);
        browser->preloadRequest();
        EXPECT_TRUE(dktest::waitUntil([&] {
            run(0.05);
            return !delegate->heard.empty();
        }));
        run(0.5);
        ASSERT_EQ(delegate->heard.size(), 1u);
        EXPECT_EQ(delegate->heard[0].substr(0, c.heard.size()), c.heard);
        EXPECT_EQ(browser->isPreloaded(), c.heard == "finished");
        if (!c.document.empty()) {
            EXPECT_EQ(page(*browser).document(), c.document);
        } else {
            EXPECT_EQ(decisions.lines.back(), c.url + " allowed");
        }
    }
}

// The banner's browser: the take-over begins before it is presented and ends with its close.
TEST_F(OBBrowserTest, BannerOpensTheBrowser) {
    dktest::RecordingAdDelegate delegate;
    delegate.answered = {OrbadAdViewDelegate::Op::adViewWillTouchThrough,
                         OrbadAdViewDelegate::Op::adViewDidFinishTouchThrough};
    delegate.origin = RunLoop::main().now();
    auto banner = OrbadAdViewiPhone_320x50.make();
    banner->setDelegate(&delegate);
    banner->setViewController(m_root.get());
    banner->adView()->openURLInBrowser("http://a.test/landing", 3);
    auto browser = banner->adView()->lastBrowser();
    ASSERT_EQ(m_root->presentedViewController(), browser.get());
    EXPECT_EQ(browser->browserStyle(), 3);
    EXPECT_TRUE(browser->autoDismissOnResignActive());
    EXPECT_EQ(delegate.lines, std::vector<std::string>{"0.0 adViewWillTouchThrough"});
    run(1);
    browser->done();
    browser.reset();
    run(0.05);
    EXPECT_EQ(delegate.lines.size(), 1u);
    run(0.1);
    EXPECT_EQ(delegate.lines, (std::vector<std::string>{"0.0 adViewWillTouchThrough", "1.1 adViewDidFinishTouchThrough"}));
    EXPECT_EQ(banner->adView()->lastBrowser(), nullptr);
}

// The mended fault: a browser for a local file, data or script address refused its page but was
// presented all the same, blank, with the take-over announced. Whichever road it comes by (a link,
// an ad's URL action, a browser made ahead), it is refused before either now.
TEST_F(OBBrowserTest, ABrowserWithNoPageItMayLoadIsNeverPresented) {
    dktest::RecordingAdDelegate delegate;
    delegate.answered = {OrbadAdViewDelegate::Op::adViewWillTouchThrough,
                         OrbadAdViewDelegate::Op::adViewDidFinishTouchThrough};
    auto banner = OrbadAdViewiPhone_320x50.make();
    banner->setDelegate(&delegate);
    banner->setViewController(m_root.get());
    orbad::OrbadAdViewInternal& engine = *banner->adView();
    for (const std::string url : {"file:///etc/passwd", "FILE:///x", "javascript:alert(1)", "data:text/html,x"}) {
        engine.openActionURL(url, nullptr);
        engine.openURLInBrowser(url, 3);
        engine.openBrowser(OBBrowserViewController::withURL(url, 0));
        run(0.2);
        EXPECT_EQ(m_root->presentedViewController(), nullptr) << url;
        EXPECT_EQ(engine.lastBrowser(), nullptr) << url;
    }
    EXPECT_EQ(delegate.lines, std::vector<std::string>{});
    EXPECT_EQ(heard, std::vector<std::string>{});
    EXPECT_EQ(decisions.lines, std::vector<std::string>{});
    // The web, and embedded HTML whatever its base, are still shown.
    engine.openBrowser(OBBrowserViewController::withHTML("<p>x</p>", std::nullopt, 0));
    ASSERT_NE(engine.lastBrowser(), nullptr);
    EXPECT_EQ(m_root->presentedViewController(), engine.lastBrowser().get());
    EXPECT_EQ(delegate.lines.size(), 1u);
}

}  // namespace
