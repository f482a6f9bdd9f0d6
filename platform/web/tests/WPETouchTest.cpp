// Taps on web views on WPE WebKit, headless: a finger on the screen presses what the page shows
// under it, at every screen scale, in either interface orientation, and in a view its container
// turns a quarter (as a content unit turns itself for a landscape device).
#include <gtest/gtest.h>

#include <cairo.h>

#include <numbers>
#include <string>
#include <vector>

#include "platform/foundation/RunLoop.h"
#include "platform/sys/Device.h"
#include "platform/ui/Application.h"
#include "platform/ui/Orientation.h"
#include "platform/ui/ViewController.h"
#include "platform/ui/Window.h"
#include "platform/web/PageEngine.h"
#include "platform/web/tests/WebTestPages.h"
#include "platform/web/tests/WebTestSupport.h"
#include "tests/support/TestSupport.h"

namespace {

using dktest::turnUntil;
using plat::ui::Point;
using plat::ui::Rect;
using plat::ui::TouchPhase;

struct AnyOrientation : plat::ui::ApplicationDelegate {
    std::optional<unsigned> supportedInterfaceOrientationsForWindow(plat::ui::Application&, plat::ui::Window*) override {
        return plat::ui::kInterfaceOrientationMaskAll;
    }
};

// How the web view sits: straight in the root view, or in a container turned a quarter either way.
enum class Hosting { Straight, TurnedClockwise, TurnedAnticlockwise };

struct Case {
    const char* preset;  // its scale: phone 1, phone-retina 2
    int orientation;     // the device's, which the interface follows
    Hosting hosting;
};

// Seconds the page is given for what is awaited, on a machine under load.
constexpr double kCap = 60;
constexpr double kWidth = 200, kHeight = 150;
// The container's centre in the root view, whatever the interface's orientation.
constexpr Point kCentre{150, 140};

// Where the finger goes on the screen (root view points) to touch the view-local point `p`.
Point finger(Hosting hosting, Point p) {
    const double dx = p.x - kWidth / 2, dy = p.y - kHeight / 2;
    switch (hosting) {
    case Hosting::TurnedClockwise: return {kCentre.x - dy, kCentre.y + dx};
    case Hosting::TurnedAnticlockwise: return {kCentre.x + dy, kCentre.y - dx};
    default: return {kCentre.x + dx, kCentre.y + dy};
    }
}

class WPETouchTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(plat::web::useWebEngine("wpe"));
        app.launch();
        window->setRootViewController(root);
        window->makeKeyAndVisible();
    }
    void TearDown() override {
        plat::sys::Device::current().reset();
        plat::web::useWebEngine("none");
    }

    // A web view showing `html`, placed as `hosting` says, its page laid out for its size.
    std::shared_ptr<plat::ui::WebView> show(Hosting hosting, const std::string& html) {
        auto container = std::make_shared<plat::ui::View>(
            Rect{kCentre.x - kWidth / 2, kCentre.y - kHeight / 2, kWidth, kHeight});
        if (hosting != Hosting::Straight)
            container->setLayerTransform({hosting == Hosting::TurnedClockwise ? std::numbers::pi / 2 : -std::numbers::pi / 2});
        root->view()->addSubview(container);
        auto view = dktest::makeWebView(delegate, 0, 0);
        container->addSubview(view);
        view->setFrame({0, 0, kWidth, kHeight});
        view->loadHTMLString(html, "http://127.0.0.1/");
        EXPECT_TRUE(dktest::turnUntilLine(delegate, "finish", kCap));
        delegate.take();
        EXPECT_TRUE(turnUntil([&] { return view->stringByEvaluatingJavaScript("innerWidth + 'x' + innerHeight") == "200x150"; }, kCap));
        return view;
    }

    void tap(Point at) {
        const int id = nextFinger++;
        ASSERT_TRUE(app.injectTouches({{TouchPhase::Began, id, at}}));
        ASSERT_TRUE(app.injectTouches({{TouchPhase::Ended, id, at}}));
    }

    // What the page recorded, once it holds `count` clicks.
    std::vector<std::string> clicks(plat::ui::WebView& view, std::size_t count) {
        const std::string wanted = std::to_string(count);
        EXPECT_TRUE(turnUntil([&] { return view.stringByEvaluatingJavaScript("String(got.length)") == wanted; }, kCap));
        std::vector<std::string> out;
        for (std::size_t i = 0; i < count; ++i)
            out.push_back(view.stringByEvaluatingJavaScript("got[" + std::to_string(i) + "]"));
        return out;
    }

    dktest::NotingWebDelegate delegate;
    plat::foundation::RunLoop loop{std::make_shared<plat::foundation::Clock>(plat::foundation::Clock::Kind::Virtual)};
    plat::ui::Application app{std::make_unique<AnyOrientation>(), &loop};
    std::shared_ptr<plat::ui::ViewController> root = std::make_shared<plat::ui::ViewController>();
    std::shared_ptr<plat::ui::Window> window = std::make_shared<plat::ui::Window>(plat::sys::Screen::main().bounds());
    int nextFinger = 1;
};

TEST_F(WPETouchTest, EachCornerButtonIsPressedAtEveryScaleOrientationAndTurn) {
    const Case cases[] = {
        {"phone", 1, Hosting::Straight},          {"phone-retina", 1, Hosting::Straight},
        {"phone", 3, Hosting::Straight},          {"phone-retina", 4, Hosting::Straight},
        {"phone", 1, Hosting::TurnedClockwise},   {"phone-retina", 1, Hosting::TurnedClockwise},
        {"phone", 3, Hosting::TurnedAnticlockwise}, {"phone-retina", 1, Hosting::TurnedAnticlockwise},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.preset) + " orientation " + std::to_string(c.orientation) + " hosting " +
                     std::to_string(static_cast<int>(c.hosting)));
        ASSERT_TRUE(plat::sys::Device::current().setPreset(c.preset));
        plat::sys::Device::current().setOrientation(c.orientation);
        ASSERT_EQ(app.interfaceOrientation(), c.orientation);
        auto view = show(c.hosting, dktest::cornerButtonsPage());
        // The page's pixels are the screen's.
        EXPECT_EQ(view->stringByEvaluatingJavaScript("String(devicePixelRatio)"),
                  std::string(c.preset) == "phone" ? "1" : "2");
        // The centres of the corner buttons, then a point between them.
        const Point corners[] = {{10, 10}, {kWidth - 10, 10}, {10, kHeight - 10}, {kWidth - 10, kHeight - 10}, {100, 75}};
        for (const Point& p : corners) tap(finger(c.hosting, p));
        EXPECT_EQ(clicks(*view, 5),
                  (std::vector<std::string>{"tl 10,10", "tr 190,10", "bl 10,140", "br 190,140", "page 100,75"}))
            << "clicks on a page of 200 x 150 points";
        view->superview()->removeFromSuperview();
    }
}

// A finger that moves off the button before it lifts presses nothing; one that lifts where it went
// down (after wandering) clicks there.
TEST_F(WPETouchTest, AClickIsWhereTheFingerWentDownAndCameUp) {
    auto view = show(Hosting::TurnedClockwise, dktest::cornerButtonsPage());
    const int away = nextFinger++;
    ASSERT_TRUE(app.injectTouches({{TouchPhase::Began, away, finger(Hosting::TurnedClockwise, {10, 10})}}));
    ASSERT_TRUE(app.injectTouches({{TouchPhase::Moved, away, finger(Hosting::TurnedClockwise, {100, 75})}}));
    ASSERT_TRUE(app.injectTouches({{TouchPhase::Ended, away, finger(Hosting::TurnedClockwise, {100, 75})}}));
    tap(finger(Hosting::TurnedClockwise, {kWidth - 10, kHeight - 10}));
    // The wandering press ends on the page: its click (if any) is the page's, never the corner's.
    ASSERT_TRUE(turnUntil([&] { return view->stringByEvaluatingJavaScript("got.join('|')").find("br 190,140") != std::string::npos; }, kCap));
    EXPECT_EQ(view->stringByEvaluatingJavaScript("got.join('|')").find("tl"), std::string::npos);
}

}  // namespace
