// The close widget on the virtual clock: fades, placement held inside the host, the page's
// orientation list and picture (read from a rich-media page on the fake engine), and taps.
#include <gtest/gtest.h>

#include <cmath>

#include "orbad/ads/OrbadRichMediaWebAdView.h"
#include "orbad/ads/OrbadWidgetButtonController.h"
#include "orbad/core/OBResourcesController.h"
#include "orbad/core/OrbadHelper.h"
#include "orbad/tests/OrbadCreativeTestSupport.h"
#include "platform/foundation/Clock.h"
#include "platform/image/ImageCodec.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/sys/Device.h"
#include "platform/sys/Report.h"
#include "platform/web/FakeWebEngine.h"
#include "platform/web/PageEngine.h"

namespace {

using orbad::OrbadWidgetButtonController;
using plat::ui::Point;
using plat::ui::Rect;
using plat::ui::Size;

std::string pngBase64(int width, int height) {
    std::vector<uint8_t> pixels(size_t(width) * height * 4, 200), png;
    EXPECT_TRUE(plat::image::encodePNG(width, height, pixels.data(), pixels.size(), 4, &png, nullptr));
    return orbad::orbadBase64EncodedString(orbad::Data(png.begin(), png.end()));
}

class WidgetTest : public ::testing::Test, public orbad::OrbadWidgetButtonControllerDelegate {
protected:
    void SetUp() override {
        plat::foundation::Clock::process().setVirtual(true);
        ASSERT_TRUE(plat::web::useWebEngine("fake"));
        // What an application connects: the device's turns reach the notification centre.
        plat::sys::setReportHooks({{}, [](const char* name, const void* sender, const char* className) {
                                       plat::foundation::NotificationCenter::defaultCenter().post(name, {sender, className});
                                   }});
        page = std::make_shared<orbad::OrbadRichMediaWebAdView>(Rect{0, 0, 320, 480});
        host->addSubview(page);
        // A page in place (a link the user follows in the view itself).
        fake().injectNavigation("http://ad.test/widget.html?shouldOpenInNewWindow=no",
                                plat::ui::WebNavigationType::LinkClicked);
        dktest::turn(0.1);
        widget.setDelegate(this);
        widget.viewDidLoad(*host);
    }
    void TearDown() override {
        plat::sys::Device::current().setOrientation(1);
        plat::sys::setReportHooks({});
        widget.setDelegate(nullptr);
        plat::web::useWebEngine("none");
    }
    void widgetButtonControllerDismissTriggered(OrbadWidgetButtonController&) override { ++dismissals; }
    plat::web::FakeWebEngine& fake() { return *plat::web::FakeWebEngine::of(*page); }
    orbad::OrbadCloseWidgetButton& button() { return *widget.closeButton(); }
    Size blank() { return orbad::OBResourcesController::sharedResources()->closeBlankImage()->size(); }

    std::shared_ptr<plat::ui::View> host = std::make_shared<plat::ui::View>(Rect{0, 0, 320, 480});
    std::shared_ptr<orbad::OrbadRichMediaWebAdView> page;
    OrbadWidgetButtonController widget;
    int dismissals = 0;
};

TEST_F(WidgetTest, WithoutAButtonTheGettersAnswerNone) {
    widget.viewDidUnload();
    EXPECT_EQ(widget.getButtonPoint(), (Point{-1, -1}));
    EXPECT_EQ(widget.getButtonAngle(), -1);
    EXPECT_FALSE(widget.getButtonVisible());
    widget.setButtonPosition({5, 5}, 10);
    widget.setButtonVisible(true);
    EXPECT_EQ(host->subviews().size(), 1u);
}

TEST_F(WidgetTest, PlacementIsHeldInsideTheHost) {
    const Size b = blank();
    ASSERT_GT(b.width, 0);
    EXPECT_EQ(button().frame(), (Rect{2, 2, b.width, b.height}));
    EXPECT_EQ(button().viewWithTag(orbad::kOrbadCloseIconTag), &button().closeView());
    const struct {
        Point asked, origin;
    } cases[] = {{{500, 900}, {320 - b.width, 480 - b.height}}, {{-4, -1}, {0, 0}}, {{10, 20}, {10, 20}}};
    for (const auto& c : cases) {
        widget.setButtonPosition(c.asked, 90);
        EXPECT_EQ(widget.getButtonPoint(), c.asked);
        EXPECT_EQ(widget.getButtonAngle(), 90);
        // The layer's centre is the whole-point half of its size in from the corner.
        EXPECT_EQ(button().frame().x + b.width / 2, c.origin.x + std::floor(b.width / 2));
        EXPECT_EQ(button().frame().y + b.height / 2, c.origin.y + std::floor(b.height / 2));
        EXPECT_DOUBLE_EQ(button().layerTransform().rotation, M_PI / 2);
    }
    EXPECT_EQ(host->subviews().back().get(), &button()) << "brought to the front";
}

TEST_F(WidgetTest, FadesAndAHideNeverOutlivesALaterShow) {
    widget.setButtonVisible(false, true);
    EXPECT_FALSE(widget.getButtonVisible());
    dktest::turn(0.35);
    EXPECT_FALSE(button().isHidden());
    dktest::turn(0.1);
    EXPECT_TRUE(button().isHidden());
    // Hidden and shown again within 0.4 s: the first hide must not land on the shown button.
    widget.setButtonVisible(true, true);
    widget.setButtonVisible(false, true);
    dktest::turn(0.2);
    widget.setButtonVisible(true, true);
    dktest::turn(1);
    EXPECT_FALSE(button().isHidden());
    EXPECT_TRUE(widget.getButtonVisible());
    widget.setButtonVisible(false, true);
    dktest::turn(0.2);
    widget.resetButton();
    widget.setButtonVisible(true);
    dktest::turn(1);
    EXPECT_FALSE(button().isHidden());
}

TEST_F(WidgetTest, ThePagesPictureIsSizedClampedAndDecodedOnce) {
    fake().answer(orbad::kOrbadImageTagScript, pngBase64(40, 300));
    fake().answer(orbad::kOrbadImageWidthScript, "10");
    fake().answer(orbad::kOrbadImageHeightScript, "300");
    widget.setButtonPosition({400, 400}, 0);
    widget.buttonImageChanged();
    EXPECT_EQ(button().frame().size(), (Size{25, 200}));
    EXPECT_EQ(button().frame().y, 480 - 200) << "placed anew in its new size";
    EXPECT_TRUE(button().closeView().isHidden());
    widget.handleCustomImage();
    EXPECT_EQ(widget.decodedImages(), 1u);
    // No size asked: the picture's own, clamped the same way.
    fake().answer(orbad::kOrbadImageTagScript, pngBase64(300, 10));
    fake().answer(orbad::kOrbadImageWidthScript, "");
    fake().answer(orbad::kOrbadImageHeightScript, "");
    widget.handleCustomImage();
    EXPECT_EQ(button().frame().size(), (Size{200, 25}));
    // Too large to decode, or no picture at all: the built-in look.
    for (const std::string& text : {pngBase64(orbad::kOrbadWidgetImageMaxSide + 1, 1), std::string("bm90IGFuIGltYWdl")}) {
        widget.handleCustomImage();
        fake().answer(orbad::kOrbadImageTagScript, text);
        widget.handleCustomImage();
        EXPECT_EQ(button().frame().size(), blank()) << text.size();
        EXPECT_FALSE(button().closeView().isHidden());
        fake().answer(orbad::kOrbadImageTagScript, pngBase64(30, 30));
    }
    fake().answer(orbad::kOrbadImageTagScript, "");
    widget.handleCustomImage();
    EXPECT_EQ(widget.lastImage(), "");
    EXPECT_EQ(button().frame().size(), blank());
}

TEST_F(WidgetTest, TheDevicesTurnPlacesTheButtonByThePagesList) {
    const Size b = blank();
    const struct {
        const char* list;
        int orientation;
        Point point;
        double angle;
    } cases[] = {
        {"Portrait,LandscapeLeft", 3, {320 - b.width - 2, 2}, 90},
        {"portrait", 3, {2, 2}, 0},
        {"portrait, landscapeleft", 3, {2, 2}, 0},
        {"landscaperight", 4, {2, 480 - b.height - 2}, -90},
        {"portraitupsidedown", 2, {320 - b.width - 2, 480 - b.height - 2}, 180},
    };
    for (const auto& c : cases) {
        fake().answer(orbad::kOrbadOrientationsTagScript, c.list);
        plat::sys::Device::current().setOrientation(1);
        widget.setButtonPosition({50, 50}, 45);
        plat::sys::Device::current().setOrientation(c.orientation);
        EXPECT_EQ(widget.getButtonPoint(), c.point) << c.list;
        EXPECT_EQ(widget.getButtonAngle(), c.angle) << c.list;
    }
    EXPECT_TRUE(widget.supportsAutorotation());
    // No list: the owner's placement stands.
    fake().answer(orbad::kOrbadOrientationsTagScript, "");
    widget.setButtonPosition({50, 50}, 45);
    plat::sys::Device::current().setOrientation(4);
    EXPECT_EQ(widget.getButtonPoint(), (Point{50, 50}));
    EXPECT_FALSE(widget.supportsAutorotation());
}

TEST_F(WidgetTest, ATapDismissesOnceAndTheIconSpins) {
    widget.viewDidLoad(*host);
    ASSERT_EQ(host->subviews().size(), 2u) << "the page and one button";
    button().sendActions();
    EXPECT_EQ(dismissals, 1);
    button().startAnimating();
    button().startAnimating();
    EXPECT_EQ(button().closeView().animationKeys(), std::vector<std::string>{"transform"});
    dktest::turn(10);
    EXPECT_TRUE(button().isAnimating());
    EXPECT_EQ(button().closeView().animationKeys().size(), 1u);
    button().stopAnimating();
    EXPECT_TRUE(button().closeView().animationKeys().empty());
    EXPECT_EQ(OrbadWidgetButtonController::findRichMediaWebView(host.get()), page.get());
}

TEST_F(WidgetTest, TheCrossDimsWhileHighlightedOrSelected) {
    const struct {
        void (orbad::OrbadCloseWidgetButton::*set)(bool);
        bool on;
        double alpha;
    } steps[] = {
        {&orbad::OrbadCloseWidgetButton::setHighlighted, true, 0.5},
        {&orbad::OrbadCloseWidgetButton::setHighlighted, false, 1.0},
        {&orbad::OrbadCloseWidgetButton::setSelected, true, 0.5},
        {&orbad::OrbadCloseWidgetButton::setSelected, false, 1.0},
    };
    EXPECT_EQ(button().closeView().alpha(), 1.0);
    for (const auto& s : steps) {
        (button().*s.set)(s.on);
        EXPECT_EQ(button().closeView().alpha(), s.alpha);
    }
    EXPECT_FALSE(button().isHighlighted());
    EXPECT_FALSE(button().isSelected());
}

}  // namespace
