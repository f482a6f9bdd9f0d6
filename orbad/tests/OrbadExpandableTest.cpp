// The expanded ad's screen on the virtual clock: an ad lifted out of its slot over a picture of the
// old screen, grown while the picture opens and darkens, closed again; composited and probed.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

#include "orbad/ads/OrbadRichMediaWebAdView.h"
#include "orbad/richmedia/OrbadExpandableViewController.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/RunLoop.h"
#include "platform/sys/Device.h"
#include "platform/ui/StatusBar.h"
#include "platform/ui/Window.h"
#include "platform/ui/tests/UITestSupport.h"

namespace {

using orbad::OrbadExpandableViewController;
using plat::foundation::RunLoop;
using plat::ui::Rect;
using dktest::Rgba;

constexpr Rgba kRed{255, 0, 0, 255}, kBlue{0, 0, 255, 255}, kGreen{0, 255, 0, 255}, kYellow{255, 255, 0, 255};
constexpr Rgba kDarkRed{128, 0, 0, 255}, kDarkBlue{0, 0, 128, 255}, kDarkYellow{128, 128, 0, 255};

std::shared_ptr<plat::ui::View> colored(const Rect& frame, plat::ui::Color color) {
    auto view = std::make_shared<plat::ui::View>(frame);
    view->setBackgroundColor(color);
    return view;
}

double now() {
    return RunLoop::main().now();
}

void turn(double seconds) {
    RunLoop::main().runFor(seconds);
}

// Half of a channel under a veil of alpha 0.5 may round either way.
::testing::AssertionResult near(const Rgba& shown, const Rgba& expected) {
    for (size_t i = 0; i < shown.size(); ++i)
        if (std::abs(shown[i] - expected[i]) > 1)
            return ::testing::AssertionFailure() << "shown " << shown[0] << "," << shown[1] << "," << shown[2] << ","
                                                 << shown[3];
    return ::testing::AssertionSuccess();
}

// What the delegate hears, each with the seconds since the ad was presented.
struct Recorder : orbad::OrbadExpandableViewControllerDelegate {
    double start = 0;
    std::vector<std::string> heard;
    void add(const char* what) {
        char line[64];
        std::snprintf(line, sizeof line, "%s %.2f", what, now() - start);
        heard.emplace_back(line);
    }
    void obExpandableViewControllerDidCloseAdView(OrbadExpandableViewController&, plat::ui::View&) override {
        add("didClose");
    }
    void obExpandableViewControllerWillCloseAdView(OrbadExpandableViewController&, plat::ui::View&) override {
        add("willClose");
    }
    void obExpandableViewControllerDidFinishResizingAdView(OrbadExpandableViewController&, plat::ui::View&) override {
        add("didFinishResizing");
    }
};

class ExpandTest : public ::testing::Test {
protected:
    void TearDown() override {
        if (controller) controller->setDelegate(nullptr);
        controller.reset();
        window.reset();
        root.reset();
        app.reset();
        plat::ui::setStatusBarHidden(true);
        plat::sys::Device::current().reset();
    }

    // An application held in `orientation` showing the old screen: a yellow corner, red above, the
    // game's blue GL layer below, and the green ad in `slot`.
    void start(int orientation, const Rect& slot) {
        recorder.heard.clear();
        plat::foundation::Clock::process().setVirtual(true);
        plat::sys::Device::current().reset();
        plat::sys::Device::current().setPreset("phone");
        plat::sys::Device::current().setOrientation(orientation);
        app = std::make_unique<plat::ui::Application>();
        root = std::make_shared<plat::ui::ViewController>();
        window = dktest::showWindow(root);
        app->launch();
        ASSERT_EQ(app->interfaceOrientation(), orientation);
        const Rect b = app->interfaceBounds();
        plat::ui::View& old = *root->view();
        old.addSubview(colored({0, 0, b.width, b.height / 2}, {1, 0, 0, 1}));
        old.addSubview(std::make_shared<dktest::GLView>(Rect{0, b.height / 2, b.width, b.height / 2}, kBlue));
        old.addSubview(colored({0, 0, 40, 40}, {1, 1, 0, 1}));
        ad = colored(slot, {0, 1, 0, 1});
        old.addSubview(ad);
    }

    // The ad expanded to `target` over `duration` seconds (presented: its first resize starts).
    void expand(const Rect& target, double duration) {
        controller = std::make_shared<OrbadExpandableViewController>(ad, target, duration, app->interfaceOrientation());
        controller->setDelegate(&recorder);
        recorder.start = now();
        root->presentViewController(controller, false);
    }

    void tap(plat::ui::Point point) {
        ASSERT_TRUE(app->injectTouches({{plat::ui::TouchPhase::Began, 1, point}}));
        ASSERT_TRUE(app->injectTouches({{plat::ui::TouchPhase::Ended, 1, point}}));
    }

    // The screen as the interface shows it now.
    std::unique_ptr<dktest::TestScreen> composite() {
        const Rect b = app->interfaceBounds();
        auto screen = std::make_unique<dktest::TestScreen>(int(b.width), int(b.height), app->interfaceOrientation());
        EXPECT_TRUE(app->compositor().composite(*screen));
        return screen;
    }

    std::unique_ptr<plat::ui::Application> app;
    std::shared_ptr<plat::ui::ViewController> root;
    std::shared_ptr<plat::ui::Window> window;
    std::shared_ptr<plat::ui::View> ad;
    std::shared_ptr<OrbadExpandableViewController> controller;
    Recorder recorder;
};

TEST_F(ExpandTest, ABannerGoesFullScreenOverItsOldScreen) {
    start(1, {0, 430, 320, 50});
    plat::ui::setStatusBarHidden(false);
    expand({0, 0, 320, 480}, 0);
    turn(0.75);
    EXPECT_TRUE(recorder.heard.empty());
    EXPECT_NE(ad->presentationFrame(), (Rect{0, 0, 320, 480}));
    turn(0.25);
    EXPECT_EQ(recorder.heard, (dktest::Lines{"didFinishResizing 1.00"}));
    EXPECT_EQ(ad->frame(), (Rect{0, 0, 320, 480}));
    EXPECT_EQ(ad->presentationFrame(), (Rect{0, 0, 320, 480}));
    EXPECT_TRUE(controller->widgetButtonController()->getButtonVisible());
    EXPECT_EQ(controller->widgetButtonController()->closeButton()->presentationAlpha(), 1);
    ASSERT_TRUE(controller->topView());
    EXPECT_EQ(controller->topView()->frame(), (Rect{0, -430, 320, 430}));
    EXPECT_EQ(controller->topView()->darkener().presentationAlpha(), 0.5);
    EXPECT_EQ(controller->bottomView()->frame().height, 0);
    EXPECT_FALSE(controller->backingView());
    EXPECT_TRUE(plat::ui::isStatusBarHidden());
}

TEST_F(ExpandTest, DurationsAreHeldBetweenOneDefaultAndThreeSeconds) {
    const struct {
        double asked, lasts;
    } cases[] = {{0, 1}, {-2, 1}, {2, 2}, {5, 3}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.asked);
        start(1, {0, 430, 320, 50});
        expand({0, 0, 320, 480}, c.asked);
        turn(c.lasts - 0.25);
        EXPECT_TRUE(recorder.heard.empty());
        turn(0.25);
        EXPECT_EQ(recorder.heard.size(), 1u);
        // A later resize animates by its own duration, held the same way.
        recorder.heard.clear();
        recorder.start = now();
        controller->resizeToFrame({0, 100, 320, 200}, c.asked);
        turn(c.lasts);
        EXPECT_EQ(recorder.heard, (dktest::Lines{"didFinishResizing " + std::to_string(int(c.lasts)) + ".00"}));
        TearDown();
    }
}

TEST_F(ExpandTest, TheWidgetShowsFromFourFifthsOfTheScreen) {
    const struct {
        Rect target;
        bool shown;
    } cases[] = {
        {{0, 0, 320, 384}, true},     // 80 %
        {{0, 0, 320, 379.2}, false},  // 79 %
        {{0, 0, 0, 480}, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.target.height);
        start(1, {0, 430, 320, 50});
        expand(c.target, 0);
        turn(1);
        EXPECT_EQ(controller->widgetButtonController()->getButtonVisible(), c.shown);
        TearDown();
    }
}

TEST_F(ExpandTest, AViewOfNoAreaIsCoveredByNothing) {
    start(1, {0, 430, 320, 50});
    expand({0, 0, 320, 480}, 0);
    turn(1);
    controller->view()->setFrame({0, 0, 0, 0});
    controller->resizeToFrame({0, 0, 320, 480}, 0);
    turn(1);
    EXPECT_FALSE(controller->widgetButtonController()->getButtonVisible());
}

TEST_F(ExpandTest, ATouchOnThePictureClosesTheAd) {
    for (const bool barShown : {true, false}) {
        SCOPED_TRACE(barShown);
        start(1, {0, 200, 320, 50});
        plat::ui::setStatusBarHidden(!barShown);
        expand({0, 100, 320, 250}, 0);
        turn(1);
        // The upper part of the picture, darkened over the old screen's top.
        tap({160, 50});
        EXPECT_EQ(recorder.heard, (dktest::Lines{"didFinishResizing 1.00", "willClose 1.00"}));
        EXPECT_EQ(plat::ui::isStatusBarHidden(), !barShown);
        turn(0.75);
        EXPECT_EQ(recorder.heard.size(), 2u);
        turn(0.25);
        EXPECT_EQ(recorder.heard.back(), "didClose 2.00");
        EXPECT_EQ(ad->frame(), (Rect{0, 200, 320, 50}));
        EXPECT_EQ(controller->topView()->frame(), (Rect{0, 0, 320, 200}));
        EXPECT_EQ(controller->bottomView()->frame(), (Rect{0, 250, 320, 230}));
        EXPECT_EQ(controller->topView()->darkener().presentationAlpha(), 0);
        // The side panels fade out after it.
        EXPECT_EQ(controller->rightView()->presentationAlpha(), 1);
        turn(0.3);
        EXPECT_EQ(controller->rightView()->presentationAlpha(), 0);
        // It closes once.
        controller->contractAndClose();
        turn(1);
        EXPECT_EQ(recorder.heard.size(), 3u);
        TearDown();
    }
}

TEST_F(ExpandTest, PixelsShowThePreviousScreenBehindTheAd) {
    start(1, {0, 200, 320, 50});
    expand({0, 100, 320, 250}, 0);
    {
        // As it begins, nothing seems to have changed.
        auto screen = composite();
        EXPECT_TRUE(near(screen->pixel(20, 20), kYellow));
        EXPECT_TRUE(near(screen->pixel(300, 20), kRed));
        EXPECT_TRUE(near(screen->pixel(300, 460), kBlue));
        EXPECT_TRUE(near(screen->pixel(160, 225), kGreen));
    }
    turn(1);
    // The parts moved apart by the ad's growth and darkened: row 150 of the old screen shows at 50,
    // row 300 at 400.
    auto screen = composite();
    EXPECT_TRUE(near(screen->pixel(300, 50), kDarkRed));
    EXPECT_TRUE(near(screen->pixel(300, 400), kDarkBlue));
    EXPECT_TRUE(near(screen->pixel(160, 225), kGreen));
    EXPECT_TRUE(near(screen->pixel(160, 120), kGreen));
}

TEST_F(ExpandTest, ALandscapeStartLaysOneWholePictureBehindTheAd) {
    start(3, {0, 270, 480, 50});
    expand({0, 0, 480, 320}, 0);
    EXPECT_EQ(controller->originalAdLocation(), (Rect{0, 270, 480, 50}));
    ASSERT_TRUE(controller->backingView());
    EXPECT_FALSE(controller->topView() || controller->bottomView() || controller->leftView() || controller->rightView());
    {
        auto screen = composite();
        EXPECT_TRUE(near(screen->pixel(20, 20), kYellow));
        EXPECT_TRUE(near(screen->pixel(460, 20), kRed));
        EXPECT_TRUE(near(screen->pixel(20, 200), kBlue));
        EXPECT_TRUE(near(screen->pixel(240, 300), kGreen));
    }
    controller->resizeToFrame({0, 270, 480, 50}, 0);
    turn(1);
    auto screen = composite();
    EXPECT_TRUE(near(screen->pixel(20, 20), kDarkYellow));
    EXPECT_TRUE(near(screen->pixel(20, 200), kDarkBlue));
    EXPECT_EQ(app->interfaceOrientation(), 3);
}

TEST_F(ExpandTest, ARichMediaAdBorrowsTheWidgetWhileExpanded) {
    start(1, {0, 430, 320, 50});
    auto page = std::make_shared<orbad::OrbadRichMediaWebAdView>(Rect{0, 430, 320, 50});
    root->view()->addSubview(page);
    ad = page;
    expand({0, 0, 320, 480}, 0);
    EXPECT_EQ(page->widgetButtonController(), controller->widgetButtonController());
    // Its delegate goes first, clearing itself; the ad still closes.
    controller->setDelegate(nullptr);
    turn(1);
    controller->widgetButtonController()->dismissWidget();
    turn(1);
    EXPECT_EQ(page->frame(), (Rect{0, 430, 320, 50}));
    EXPECT_TRUE(recorder.heard.empty());
    root->dismissViewController(false);
    controller.reset();
    EXPECT_FALSE(page->widgetButtonController());
}

}  // namespace
