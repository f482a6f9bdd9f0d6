// Content units on the real page engine as a user meets them: shown on a screen of either scale, in
// either device orientation (the view turns itself where the interface stays portrait, and is
// upright in an interface turned with the device), a finger pressing what the page shows under it,
// and a picture of the screen showing the page as it is now.
#include <gtest/gtest.h>

#include <cairo.h>

#include <string>
#include <vector>

#include "kiosk/KSContentView.h"
#include "kiosk/KSJsonParser.h"
#include "platform/foundation/RunLoop.h"
#include "platform/sys/Device.h"
#include "platform/ui/Application.h"
#include "platform/ui/Orientation.h"
#include "platform/ui/ScreenSnapshot.h"
#include "platform/ui/StatusBar.h"
#include "platform/ui/ViewController.h"
#include "platform/ui/Window.h"
#include "platform/web/PageEngine.h"
#include "platform/web/tests/WebTestPages.h"
#include "platform/web/tests/WebTestSupport.h"
#include "tests/support/RecordingServer.h"
#include "tests/support/TestSupport.h"

namespace {

using plat::ui::Point;
using plat::ui::TouchPhase;

constexpr double kCap = 60;  // seconds for what is awaited, on a machine under load

// White, with a red box over the top left quarter that turns green on a timer after the load; once
// a frame with the green box has gone out, the page says so by asking for an address the view
// refuses.
const char* const kTurning =
    "<html><body style='margin:0;background:#fff'>"
    "<div id=box style='position:fixed;left:0;top:0;width:50%;height:50%;background:#f00'></div><script>"
    "window.onload = function () { setTimeout(function () {"
    "  document.getElementById('box').style.background = '#0f0';"
    "  requestAnimationFrame(function () { requestAnimationFrame(function () { location.href = 'ks://turned'; }); });"
    "}, 300); };"
    "</script></body></html>";

std::string answer(const std::string& html) {
    std::string body = "\"";
    for (char c : html) body += c == '"' ? std::string("\\\"") : std::string(1, c);
    return R"({"headers": [["Content-Type", "text/html; charset=utf-8"]], "body": )" + body + "\"}";
}

// Portrait only unless a test lets the interface follow the device.
struct Orientations : plat::ui::ApplicationDelegate {
    unsigned mask = plat::ui::kInterfaceOrientationMaskPortrait;
    std::optional<unsigned> supportedInterfaceOrientationsForWindow(plat::ui::Application&, plat::ui::Window*) override {
        return mask;
    }
};

// The corner page with a colour of its own in each corner button.
const uint32_t kCornerColours[] = {0xff0000, 0x00ff00, 0xffff00, 0x00ffff};
std::string colouredCornersPage() {
    return dktest::cornerButtonsPage(
        "<style>#tl{background:#f00} #tr{background:#0f0} #bl{background:#ff0} #br{background:#0ff}</style>");
}

struct Watch : plat::ui::WebViewObserver, KSContentViewDelegate {
    std::vector<std::string> lines;
    void webViewDecided(plat::ui::WebView&, const plat::ui::WebRequest& request, plat::ui::WebNavigationType,
                        bool allowed) override {
        lines.push_back(std::string(allowed ? "allow " : "refuse ") + request.url);
    }
    void contentViewDidLoad(KSContentView&) override { lines.push_back("load"); }
    void contentViewDidFail(KSContentView&, const plat::foundation::Error& e) override {
        lines.push_back("fail " + std::to_string(e.code));
    }
    bool has(const std::string& line) const { return std::find(lines.begin(), lines.end(), line) != lines.end(); }
};

class KSContentViewScreenTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(server.running());
        ASSERT_TRUE(plat::web::useWebEngine("wpe"));
        plat::ui::WebView::setObserver(&watch);
        app.launch();
        window->setRootViewController(root);
        window->makeKeyAndVisible();
    }
    void TearDown() override {
        plat::ui::WebView::setObserver(nullptr);
        if (view) view->setDelegate(nullptr);
        view.reset();
        KSContentView::clearContentViews();
        plat::sys::Device::current().reset();
        plat::web::useWebEngine("none");
    }

    // A unit of `transition` and `frame` (JSON) showing the page at `path`, loaded.
    void show(const std::string& path, const char* transition, const std::string& frame = "\"KS_FULLSCREEN\"") {
        watch.lines.clear();
        auto unit = KSJsonParser().objectWithString(R"({"url":")" + server.url() + path + R"(","transition":")" +
                                                    transition + R"(","frame":)" + frame + "}");
        view = KSContentView::make(KSContent::contentWithDictionary(*unit->object()));
        view->setDelegate(&watch);
        view->setTargetView(root->view().get());
        view->show(false);
        ASSERT_TRUE(dktest::turnUntil([&] { return watch.has("load") || watch.has("fail 2"); }, kCap)) << path;
        ASSERT_TRUE(watch.has("load"));
    }
    std::string js(const std::string& script) { return view->webView().stringByEvaluatingJavaScript(script); }

    dktest::TempDir dir;
    dktest::RecordingServer server{dir.path(),
                                   R"({"paths": {"/corners.html": )" + answer(dktest::cornerButtonsPage()) +
                                       R"(, "/coloured.html": )" + answer(colouredCornersPage()) + R"(, "/turning.html": )" +
                                       answer(kTurning) + R"(}, "default": {"status": "HTTP/1.1 404 Not Found"}})",
                                   120, DK_KIOSK_API_SERVER};
    Watch watch;
    plat::foundation::RunLoop loop{std::make_shared<plat::foundation::Clock>(plat::foundation::Clock::Kind::Virtual)};
    std::unique_ptr<Orientations> madeOrientations = std::make_unique<Orientations>();
    Orientations& orientations = *madeOrientations;
    plat::ui::Application app{std::move(madeOrientations), &loop};
    std::shared_ptr<plat::ui::ViewController> root = std::make_shared<plat::ui::ViewController>();
    std::shared_ptr<plat::ui::Window> window = std::make_shared<plat::ui::Window>(plat::sys::Screen::main().bounds());
    std::shared_ptr<KSContentView> view;
};

TEST_F(KSContentViewScreenTest, EachCornerOfAUnitIsPressedAtEitherScaleAndInEitherOrientation) {
    // Dialogs at a frame of their own for each orientation; modal units over the whole screen.
    const char* const kDialogFrames = R"({"KS_PORTRAIT":{"x":20,"y":40,"w":240,"h":300},)"
                                      R"("KS_LANDSCAPE":{"x":40,"y":30,"w":300,"h":200}})";
    const struct {
        const char* preset;
        int orientation;  // the device's; the interface stays portrait and the unit turns itself
        bool dialog;
    } cases[] = {
        {"phone", 1, false}, {"phone-retina", 1, true}, {"phone", 3, true},
        {"phone-retina", 3, false}, {"phone-retina", 4, false}, {"phone-retina", 4, true},
    };
    int finger = 1;
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.preset) + " " + std::to_string(c.orientation) + (c.dialog ? " dialog" : " modal"));
        ASSERT_TRUE(plat::sys::Device::current().setPreset(c.preset));
        plat::sys::Device::current().setOrientation(c.orientation);
        ASSERT_EQ(app.interfaceOrientation(), 1);
        show("/corners.html", c.dialog ? "KS_DIALOG" : "KS_MODAL", c.dialog ? kDialogFrames : "\"KS_FULLSCREEN\"");
        const double b = plat::ui::isStatusBarHidden() ? 0 : 20;
        const bool landscape = c.orientation >= 3;
        // The page's box in the unit as the user holds the device: the dialog's frame, or the whole
        // screen less the status bar along its top; both moved down by the status bar.
        const double ox = c.dialog ? (landscape ? 40 : 20) : 0;
        const double oy = b + (c.dialog ? (landscape ? 30 : 40) : 0);
        const double w = c.dialog ? (landscape ? 300 : 240) : (landscape ? 480 : 320);
        const double h = c.dialog ? (landscape ? 200 : 300) : (landscape ? 320 : 480) - b;
        ASSERT_EQ(js("innerWidth + 'x' + innerHeight"), std::to_string(static_cast<int>(w)) + "x" +
                                                           std::to_string(static_cast<int>(h)));
        // Where a page point shows on the portrait screen: the unit's top runs down the right edge
        // when the device is turned left (3), down the left edge when turned right (4).
        auto screen = [&](Point p) -> Point {
            const double x = p.x + ox, y = p.y + oy;
            if (c.orientation == 3) return {320 - y, x};
            if (c.orientation == 4) return {y, 480 - x};
            return {x, y};
        };
        const Point targets[] = {{10, 10}, {w - 10, 10}, {10, h - 10}, {w - 10, h - 10}, {w / 2, h / 2}};
        for (const Point& p : targets) {
            const int id = finger++;
            ASSERT_TRUE(app.injectTouches({{TouchPhase::Began, id, screen(p)}}));
            ASSERT_TRUE(app.injectTouches({{TouchPhase::Ended, id, screen(p)}}));
        }
        ASSERT_TRUE(dktest::turnUntil([&] { return js("String(got.length)") == "5"; }, kCap)) << js("got.join('|')");
        EXPECT_EQ(js("got.join('|')"), dktest::cornerClicks(w, h) + "|" + dktest::clickRecord("page", w / 2, h / 2));
        view->dismiss(false);
        view.reset();
    }
}

// The mended fault: in an interface turned to landscape the unit turned itself for the device as
// well, drawn a quarter sideways and cut off, the taps at the screen's corners missing their
// buttons. Shown in landscape or turned there after it was shown, full-screen and dialog units lie
// upright in the interface's bounds: each corner's colour in that corner of the screen, and a tap
// there pressing its button.
TEST_F(KSContentViewScreenTest, InALandscapeInterfaceAUnitIsUprightAndEachCornerIsPressed) {
    orientations.mask = plat::ui::kInterfaceOrientationMaskAllButUpsideDown;
    const char* const kDialogFrames = R"({"KS_PORTRAIT":{"x":20,"y":40,"w":240,"h":300},)"
                                      R"("KS_LANDSCAPE":{"x":70,"y":20,"w":250,"h":120}})";
    const struct {
        const char* preset;
        int orientation;  // the device's, which the interface follows
        bool dialog;
        bool turnedAfterShow;
    } cases[] = {
        {"phone", 3, false, false}, {"phone-retina", 4, false, true},
        {"phone", 4, true, false},  {"phone-retina", 3, true, true},
    };
    int finger = 1;
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.preset) + " " + std::to_string(c.orientation) + (c.dialog ? " dialog" : " modal") +
                     (c.turnedAfterShow ? " turned after show" : ""));
        ASSERT_TRUE(plat::sys::Device::current().setPreset(c.preset));
        plat::sys::Device::current().setOrientation(c.turnedAfterShow ? 1 : c.orientation);
        show("/coloured.html", c.dialog ? "KS_DIALOG" : "KS_MODAL", c.dialog ? kDialogFrames : "\"KS_FULLSCREEN\"");
        if (c.turnedAfterShow) plat::sys::Device::current().setOrientation(c.orientation);
        ASSERT_EQ(app.interfaceOrientation(), c.orientation);
        // The page's box in the interface's points: the dialog's landscape frame, or the whole
        // screen less the status bar; both moved down by the status bar.
        const double b = plat::ui::isStatusBarHidden() ? 0 : 20;
        const double ox = c.dialog ? 70 : 0, oy = b + (c.dialog ? 20 : 0);
        const double w = c.dialog ? 250 : 480, h = c.dialog ? 120 : 320 - b;
        const std::string size = std::to_string(static_cast<int>(w)) + "x" + std::to_string(static_cast<int>(h));
        ASSERT_TRUE(dktest::turnUntil([&] { return js("innerWidth + 'x' + innerHeight") == size; }, kCap))
            << js("innerWidth + 'x' + innerHeight");
        const Point targets[] = {{10, 10}, {w - 10, 10}, {10, h - 10}, {w - 10, h - 10}, {w / 2, h / 2}};

        // The screen as the device shows it (the interface turned on the portrait glass), once the
        // page has drawn at its size and the turn has run its course: each corner's colour where
        // that corner of the interface lies.
        const double scale = plat::sys::Screen::main().scale();
        auto colours = [&] {
            std::vector<uint32_t> seen;
            std::shared_ptr<plat::ui::Image> shot = plat::ui::snapshotKeyWindow(app, scale);
            if (!shot) return seen;
            cairo_surface_t* surface = shot->surface();
            cairo_surface_flush(surface);
            const int stride = cairo_image_surface_get_stride(surface);
            const auto* data = cairo_image_surface_get_data(surface);
            for (int corner = 0; corner < 4; ++corner) {
                const Point in{ox + targets[corner].x, oy + targets[corner].y};
                // Landscape right (3) lies a quarter turn clockwise on the glass, left (4) against it.
                const Point glass = c.orientation == 3 ? Point{320 - in.y, in.x} : Point{in.y, 480 - in.x};
                const int px = static_cast<int>(glass.x * scale), py = static_cast<int>(glass.y * scale);
                seen.push_back(reinterpret_cast<const uint32_t*>(data + py * stride)[px] & 0xffffffu);
            }
            return seen;
        };
        const std::vector<uint32_t> wanted(std::begin(kCornerColours), std::end(kCornerColours));
        EXPECT_TRUE(dktest::turnUntil([&] { return colours() == wanted; }, kCap)) << [&] {
            std::string text;
            char hex[16];
            for (uint32_t rgb : colours()) text += (std::snprintf(hex, sizeof hex, "%06x ", rgb), hex);
            return "corners show " + text;
        }();

        for (const Point& p : targets) {
            const int id = finger++;
            const Point at{ox + p.x, oy + p.y};
            ASSERT_TRUE(app.injectTouches({{TouchPhase::Began, id, at}}));
            ASSERT_TRUE(app.injectTouches({{TouchPhase::Ended, id, at}}));
        }
        ASSERT_TRUE(dktest::turnUntil([&] { return js("String(got.length)") == "5"; }, kCap)) << js("got.join('|')");
        EXPECT_EQ(js("got.join('|')"), dktest::cornerClicks(w, h) + "|" + dktest::clickRecord("page", w / 2, h / 2));
        view->dismiss(false);
        view.reset();
    }
}

// The picture of the screen once the page says it changed: the new colour, at the page's full
// size (the box a quarter of the page, the rest white), not a first small frame stretched.
TEST_F(KSContentViewScreenTest, AScreenPictureShowsThePageAsItIsNow) {
    ASSERT_TRUE(plat::sys::Device::current().setPreset("phone-retina"));
    show("/turning.html", "KS_MODAL");
    ASSERT_TRUE(dktest::turnUntil([&] { return watch.has("refuse ks://turned"); }, kCap));
    std::shared_ptr<plat::ui::Image> shot = plat::ui::snapshotKeyWindow(app, 2);
    ASSERT_TRUE(shot);
    cairo_surface_t* surface = shot->surface();
    cairo_surface_flush(surface);
    const int stride = cairo_image_surface_get_stride(surface);
    const auto* data = cairo_image_surface_get_data(surface);
    auto pixel = [&](double x, double y) {  // points of the portrait screen
        const int px = static_cast<int>(x * 2), py = static_cast<int>(y * 2);
        return reinterpret_cast<const uint32_t*>(data + py * stride)[px] & 0xffffffu;
    };
    const double b = plat::ui::isStatusBarHidden() ? 0 : 20;
    const double h = 480 - b;
    const struct {
        double x, y;
        uint32_t rgb;
        const char* where;
    } expected[] = {
        {10, b + 10, 0x00ff00, "the box's top left"},
        {150, b + h / 2 - 10, 0x00ff00, "the box's bottom right"},
        {170, b + 10, 0xffffff, "right of the box"},
        {10, b + h / 2 + 10, 0xffffff, "below the box"},
        {310, 470, 0xffffff, "the page's bottom right"},
    };
    for (const auto& e : expected)
        EXPECT_EQ(pixel(e.x, e.y), e.rgb) << e.where << " at " << e.x << "," << e.y;
}

}  // namespace
