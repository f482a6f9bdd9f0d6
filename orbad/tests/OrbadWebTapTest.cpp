// The ad client's web views on the real page engine (WPE, headless), pressed by a finger on the
// screen: a banner's rich-media page, a full-screen ad's page and the in-app browser, on a screen
// of either scale, the interface upright or turned. Each page records every click it hears with the
// element and its own coordinates; a click listener that calls a function runs, and the rich-media
// page's call reaches the view as a bridge navigation.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "orbad/ads/OBBrowserViewController.h"
#include "orbad/ads/OrbadFullScreenWebAdView.h"
#include "orbad/ads/OrbadRichMediaWebAdView.h"
#include "orbad/tests/OrbadCreativeTestSupport.h"
#include "platform/foundation/Container.h"
#include "platform/foundation/RunLoop.h"
#include "platform/sys/Device.h"
#include "platform/ui/Application.h"
#include "platform/ui/Orientation.h"
#include "platform/web/PageEngine.h"
#include "platform/web/tests/WebTestPages.h"
#include "tests/support/TestSupport.h"

namespace {

using plat::ui::Point;
using plat::ui::Rect;
using plat::ui::TouchPhase;

constexpr double kCap = 60;  // seconds for what is awaited, on a machine under load

// The corner buttons, and one in the middle whose listener calls a function; on a rich-media page
// (the stub beside it marks it) that function calls the bridge.
const std::string kPage = dktest::cornerButtonsPage(
    "<script src='mraid.js'></script>",
    "<b id=mid style='left:calc(50% - 10px);top:calc(50% - 10px)'></b><script>"
    "function tapped() { got.push('called'); if (window.isOrbad) location.href = 'madview://tappedElement'; }"
    "document.getElementById('mid').addEventListener('click', function () { tapped(); });</script>");

std::string adJSON() {
    std::string html;
    for (char c : kPage) html += c == '"' ? std::string("\\\"") : std::string(1, c);
    return R"({"type":"html","props":{"html":")" + html + "\"}}";
}

struct AnyOrientation : plat::ui::ApplicationDelegate {
    std::optional<unsigned> supportedInterfaceOrientationsForWindow(plat::ui::Application&, plat::ui::Window*) override {
        return plat::ui::kInterfaceOrientationMaskAll;
    }
};

struct Decisions : plat::ui::WebViewObserver {
    std::vector<std::string> urls;
    void webViewDecided(plat::ui::WebView&, const plat::ui::WebRequest& r, plat::ui::WebNavigationType, bool) override {
        urls.push_back(r.url);
    }
};

enum class Kind { Banner, FullScreen, Browser };

class OrbadWebTapTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(plat::web::useWebEngine("wpe"));
        plat::foundation::Container::setMain(*plat::foundation::Container::open("com.test.wpe", dir.file("home")));
        plat::ui::WebView::setObserver(&decisions);
        app.launch();
        window->setRootViewController(root);
        window->makeKeyAndVisible();
    }
    void TearDown() override {
        plat::ui::WebView::setObserver(nullptr);
        shown.reset();
        browser.reset();
        plat::sys::Device::current().reset();
        plat::web::useWebEngine("none");
    }

    // Shows the page in a view of `kind` over the root view's bounds (a banner along their
    // bottom); the web view and its top left corner on the screen.
    std::pair<plat::ui::WebView*, Point> show(Kind kind) {
        const Rect screen = root->view()->bounds();
        host->lines.clear();
        if (kind == Kind::Browser) {
            browser = orbad::OBBrowserViewController::withHTML(kPage, std::string("http://127.0.0.1/"), 3);
            root->presentViewController(browser, false);
            plat::ui::WebView* web = browser->webView().get();
            EXPECT_TRUE(dktest::turnUntil([&] { return web->stringByEvaluatingJavaScript("typeof got") == "object"; }, kCap));
            const Rect outer = browser->view()->frame(), inner = web->frame();
            return {web, {outer.x + inner.x, outer.y + inner.y}};
        }
        std::shared_ptr<orbad::OrbadRichMediaWebAdView> view;
        if (kind == Kind::Banner)
            view = std::make_shared<orbad::OrbadRichMediaWebAdView>(Rect{0, screen.height - 50, screen.width, 50});
        else
            view = std::make_shared<orbad::OrbadFullScreenWebAdView>(screen);
        view->setMainAdView(host);
        root->view()->addSubview(view);
        view->loadWithAd(dktest::adFrom(adJSON()));
        EXPECT_TRUE(dktest::turnUntil([&] { return !host->lines.empty(); }, kCap));
        EXPECT_EQ(host->lines, std::vector<std::string>{"finished"});
        shown = view;
        return {view.get(), view->frame().origin()};
    }

    void tap(Point at) {
        const int id = nextFinger++;
        ASSERT_TRUE(app.injectTouches({{TouchPhase::Began, id, at}}));
        ASSERT_TRUE(app.injectTouches({{TouchPhase::Ended, id, at}}));
    }

    dktest::TempDir dir;
    Decisions decisions;
    std::shared_ptr<dktest::NotingHost> host = std::make_shared<dktest::NotingHost>();
    plat::ui::Application app{std::make_unique<AnyOrientation>()};
    std::shared_ptr<plat::ui::ViewController> root = std::make_shared<plat::ui::ViewController>();
    std::shared_ptr<plat::ui::Window> window = std::make_shared<plat::ui::Window>(plat::sys::Screen::main().bounds());
    std::shared_ptr<plat::ui::View> shown;
    std::shared_ptr<orbad::OBBrowserViewController> browser;
    int nextFinger = 1;
};

TEST_F(OrbadWebTapTest, EachCornerAndTheCallingButtonArePressedInEveryViewScaleAndOrientation) {
    const struct {
        Kind kind;
        const char* preset;
        int orientation;
    } cases[] = {
        {Kind::Banner, "phone", 1},         {Kind::Banner, "phone-retina", 1},     {Kind::Banner, "phone-retina", 3},
        {Kind::Banner, "phone", 4},         {Kind::FullScreen, "phone-retina", 1}, {Kind::FullScreen, "phone", 3},
        {Kind::Browser, "phone", 1},        {Kind::Browser, "phone-retina", 4},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE("kind " + std::to_string(static_cast<int>(c.kind)) + " " + c.preset + " orientation " +
                     std::to_string(c.orientation));
        ASSERT_TRUE(plat::sys::Device::current().setPreset(c.preset));
        plat::sys::Device::current().setOrientation(c.orientation);
        ASSERT_EQ(app.interfaceOrientation(), c.orientation);
        decisions.urls.clear();
        auto [web, origin] = show(c.kind);
        const double w = web->bounds().width, h = web->bounds().height;
        ASSERT_EQ(web->stringByEvaluatingJavaScript("innerWidth + 'x' + innerHeight"),
                  std::to_string(static_cast<int>(w)) + "x" + std::to_string(static_cast<int>(h)));
        const Point targets[] = {{10, 10}, {w - 10, 10}, {10, h - 10}, {w - 10, h - 10}, {w / 2, h / 2}};
        for (const Point& p : targets) tap({origin.x + p.x, origin.y + p.y});
        ASSERT_TRUE(dktest::turnUntil([&] { return web->stringByEvaluatingJavaScript("String(got.length)") == "6"; }, kCap))
            << web->stringByEvaluatingJavaScript("got.join('|')");
        EXPECT_EQ(web->stringByEvaluatingJavaScript("got.join('|')"),
                  dktest::cornerClicks(w, h) + "|called|" + dktest::clickRecord("mid", w / 2, h / 2));
        if (c.kind != Kind::Browser) {
            ASSERT_TRUE(dktest::turnUntil([&] {
                return std::find(decisions.urls.begin(), decisions.urls.end(), "madview://tappedElement") != decisions.urls.end();
            }, kCap)) << ::testing::PrintToString(decisions.urls);
        }
        if (browser) {
            root->dismissViewController(false);
            dktest::turnUntil([&] { return !root->presentedViewController(); }, kCap);
            browser.reset();
        }
        if (shown) shown->removeFromSuperview();
        shown.reset();
    }
}

}  // namespace
