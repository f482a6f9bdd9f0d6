// Views: hit testing, autoresizing, subview order and the view dump (with what the drawn views show).
#include <gtest/gtest.h>

#include <functional>

#include "platform/image/ImageCodec.h"
#include "platform/sys/Device.h"
#include "platform/ui/ActivityIndicator.h"
#include "platform/ui/Button.h"
#include "platform/ui/ImageView.h"
#include "platform/ui/Label.h"
#include "platform/ui/ViewDump.h"
#include "platform/ui/Window.h"
#include "platform/ui/tests/UITestSupport.h"

namespace {

using namespace plat::ui;
using namespace dktest;

// window 320x480 > panel (10,10,100,100) > wide (60,60,50,50), which reaches out of the panel, and
// button (20,20,50,50) in front of it.
struct Tree {
    std::shared_ptr<Window> window = std::make_shared<Window>(Rect{0, 0, 320, 480});
    std::shared_ptr<View> panel = std::make_shared<View>(Rect{10, 10, 100, 100});
    std::shared_ptr<View> button = std::make_shared<View>(Rect{20, 20, 50, 50});
    std::shared_ptr<View> wide = std::make_shared<View>(Rect{60, 60, 50, 50});
    Tree() {
        window->addSubview(panel);
        panel->addSubview(wide);
        panel->addSubview(button);
    }
};

TEST(ViewTest, HitTestsSkipHiddenTransparentAndInertViewsAndLookFrontToBack) {
    const struct {
        const char* what;
        std::function<void(Tree&)> change;
        Point point;
        const char* hit;
    } cases[] = {
        {"button", [](Tree&) {}, {35, 35}, "button"},
        {"hidden", [](Tree& t) { t.button->setHidden(true); }, {35, 35}, "panel"},
        {"alpha below 0.01", [](Tree& t) { t.button->setAlpha(0.009); }, {35, 35}, "panel"},
        {"alpha 0.01", [](Tree& t) { t.button->setAlpha(0.01); }, {35, 35}, "button"},
        {"not interactive", [](Tree& t) { t.button->setUserInteractionEnabled(false); }, {35, 35}, "panel"},
        {"panel not interactive", [](Tree& t) { t.panel->setUserInteractionEnabled(false); }, {35, 35}, "window"},
        {"right edge is outside", [](Tree&) {}, {80, 35}, "panel"},
        {"left edge is inside", [](Tree&) {}, {30, 35}, "button"},
        {"inside wide and panel", [](Tree&) {}, {105, 105}, "wide"},
        {"wide beyond its superview", [](Tree&) {}, {115, 115}, "window"},
        {"front first", [](Tree&) {}, {75, 75}, "button"},
        {"brought to front", [](Tree& t) { t.panel->bringSubviewToFront(t.wide.get()); }, {75, 75}, "wide"},
        {"sent to back", [](Tree& t) { t.panel->sendSubviewToBack(t.button.get()); }, {75, 75}, "wide"},
        {"outside the window", [](Tree&) {}, {-1, 10}, nullptr},
    };
    for (const auto& c : cases) {
        Tree t;
        c.change(t);
        View* hit = t.window->hitTest(c.point, nullptr);
        const char* name = hit == t.button.get()   ? "button"
                           : hit == t.panel.get()  ? "panel"
                           : hit == t.wide.get()   ? "wide"
                           : hit == t.window.get() ? "window"
                                                   : nullptr;
        EXPECT_STREQ(name, c.hit) << c.what;
    }
}

TEST(ViewTest, SubviewsMoveBetweenSuperviewsAndConvertPoints) {
    Tree t;
    EXPECT_EQ(t.button->window(), t.window.get());
    EXPECT_EQ(t.button->convertPointToView({1, 2}, nullptr), (Point{31, 32}));
    EXPECT_EQ(t.button->convertPointFromView({1, 2}, t.wide.get()), (Point{41, 42}));
    t.window->addSubview(t.button);  // moves it
    EXPECT_EQ(t.panel->subviews().size(), 1u);
    EXPECT_EQ(t.button->superview(), t.window.get());
    t.button->addSubview(t.window);  // an ancestor: refused
    EXPECT_TRUE(t.button->subviews().empty());
    t.panel->removeFromSuperview();
    EXPECT_EQ(t.wide->window(), nullptr);
    EXPECT_EQ(t.wide->convertPointToView({0, 0}, nullptr), (Point{70, 70}));  // from its own root
}

TEST(ViewTest, AutoresizingSharesTheSuperviewsChangeAmongFlexibleParts) {
    // A 100x100 view becomes 200x300; its subview is (25,25,50,50).
    const struct {
        unsigned mask;
        Rect expected;
    } cases[] = {
        {kAutoresizingNone, {25, 25, 50, 50}},
        {kAutoresizingFlexibleWidth, {25, 25, 150, 50}},
        {kAutoresizingFlexibleLeftMargin, {125, 25, 50, 50}},
        {kAutoresizingFlexibleLeftMargin | kAutoresizingFlexibleRightMargin, {75, 25, 50, 50}},
        {kAutoresizingFlexibleLeftMargin | kAutoresizingFlexibleWidth | kAutoresizingFlexibleRightMargin, {50, 25, 100, 50}},
        {kAutoresizingFlexibleHeight, {25, 25, 50, 250}},
        {kAutoresizingFlexibleTopMargin | kAutoresizingFlexibleBottomMargin, {25, 125, 50, 50}},
    };
    for (const auto& c : cases) {
        auto outer = std::make_shared<View>(Rect{0, 0, 100, 100});
        auto inner = std::make_shared<View>(Rect{25, 25, 50, 50});
        auto innermost = std::make_shared<View>(Rect{0, 0, 50, 50});
        innermost->setAutoresizingMask(kAutoresizingFlexibleWidth | kAutoresizingFlexibleHeight);
        inner->setAutoresizingMask(c.mask);
        outer->addSubview(inner);
        inner->addSubview(innermost);
        outer->setFrame({0, 0, 200, 300});
        EXPECT_EQ(inner->frame(), c.expected) << c.mask;
        EXPECT_EQ(innermost->frame(), (Rect{0, 0, c.expected.width, c.expected.height})) << c.mask;
        outer->setAutoresizesSubviews(false);
        outer->setFrame({0, 0, 10, 10});
        EXPECT_EQ(inner->frame(), c.expected) << c.mask;
    }
}

// A start-up screen that is never composited (headless) must not pay for decoding its picture: the
// file is read at the first draw or question, not when the view is made.
TEST(ViewTest, ImageViewReadsItsFileWhenFirstUsed) {
    TempDir tmp;
    const std::string picture = tmp.file("Default.png");
    ImageView view(Rect{0, 0, 10, 10}, picture);
    std::string error;
    ASSERT_TRUE(plat::image::writePNG(picture, 1, 1, {255, 255, 255, 255}, &error)) << error;
    ASSERT_NE(view.image(), nullptr);
    EXPECT_EQ(view.image()->pixelWidth(), 1);
}

TEST(ViewTest, DumpListsTheTreeDepthFirstInWindowCoordinates) {
    struct Spinner : ImageView {
        using ImageView::ImageView;
        const char* className() const override { return "DKLoadingSpinner"; }
    };
    TempDir tmp;
    const std::string picture = tmp.file("loading_spinner.png");
    std::string error;
    ASSERT_TRUE(plat::image::writePNG(picture, 1, 1, {255, 255, 255, 255}, &error)) << error;
    plat::sys::Device::current().reset();
    Tree t;
    t.window->setBackgroundColor(Color{0, 0, 0, 1});
    auto root = std::make_shared<NotingController>("DKGameViewController");
    t.window->setRootViewController(root);
    t.button->setAlpha(0.5);
    t.button->setHidden(true);
    t.wide->setUserInteractionEnabled(false);
    t.wide->setBackgroundColor(Color{1, 0.25, 0, 0.5});
    auto spinner = std::make_shared<Spinner>(Rect{1, 1, 37, 37}, picture);
    t.button->addSubview(spinner);
    BasicAnimation turn;
    turn.keyPath = "transform.rotation.z";
    turn.by = 6.2831855;
    turn.repeatCount = kRepeatForever;
    spinner->addAnimation(turn, "rotationAnimation");
    auto label = std::make_shared<Label>(Rect{0, 0, 100, 20});
    label->setText("say \"hi\"\n");
    t.wide->addSubview(label);
    auto more = std::make_shared<Button>(Rect{0, 20, 50, 20});
    more->setTitle("More");
    more->setImage(picture);
    t.wide->addSubview(more);
    auto indicator = std::make_shared<ActivityIndicator>();
    indicator->startAnimating();
    t.wide->addSubview(indicator);
    View::animate({}, [&] { indicator->setAlpha(0.5); });
    EXPECT_EQ(dumpViewTree(*t.window), readFile(DK_TEST_DATA_DIR "/views.jsonl"));
}

}  // namespace
