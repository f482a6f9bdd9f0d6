// Pictures of the key window: the game's GL layer and the views as the glass of a portrait screen
// shows them, the overlays left out; and the image views' top and bottom content modes.
#include <gtest/gtest.h>

#include <cairo.h>

#include "platform/foundation/Clock.h"
#include "platform/sys/Device.h"
#include "platform/ui/ImageView.h"
#include "platform/ui/ScreenSnapshot.h"
#include "platform/ui/Window.h"
#include "platform/ui/tests/UITestSupport.h"

namespace {

using namespace plat::ui;
using dktest::Rgba;

constexpr Rgba kRed{255, 0, 0, 255}, kBlue{0, 0, 255, 255}, kYellow{255, 255, 0, 255};

std::shared_ptr<View> colored(const Rect& frame, Color color) {
    auto view = std::make_shared<View>(frame);
    view->setBackgroundColor(color);
    return view;
}

Rgba pixelOf(const Image& image, int x, int y) {
    cairo_surface_t* s = image.surface();
    const unsigned char* row = cairo_image_surface_get_data(s) + y * cairo_image_surface_get_stride(s);
    const auto argb = reinterpret_cast<const std::uint32_t*>(row)[x];
    return {int(argb >> 16 & 255), int(argb >> 8 & 255), int(argb & 255), int(argb >> 24)};
}

class SnapshotTest : public ::testing::Test {
protected:
    void SetUp() override {
        plat::foundation::Clock::process().setVirtual(true);
        plat::sys::Device::current().reset();
        plat::sys::Device::current().setPreset("phone");
    }
    void TearDown() override {
        window.reset();
        app.reset();
        plat::sys::Device::current().reset();
    }
    void show(int orientation) {
        plat::sys::Device::current().setOrientation(orientation);
        app = std::make_unique<Application>();
        auto root = std::make_shared<ViewController>();
        window = dktest::showWindow(root);
        app->launch();
    }
    std::unique_ptr<Application> app;
    std::shared_ptr<Window> window;
};

TEST_F(SnapshotTest, TheInterfaceComesOutOnPortraitGlassWithoutTheOverlays) {
    for (const int orientation : {1, 3, 4}) {  // a phone is never upside down
        SCOPED_TRACE(orientation);
        show(orientation);
        ASSERT_EQ(app->interfaceOrientation(), orientation);
        const Rect b = app->interfaceBounds();
        View& root = *window->rootViewController()->view();
        root.addSubview(colored({0, 0, b.width, b.height / 2}, {1, 0, 0, 1}));
        root.addSubview(std::make_shared<dktest::GLView>(Rect{0, b.height / 2, b.width, b.height / 2}, kBlue));
        root.addSubview(colored({0, 0, 40, 40}, {1, 1, 0, 1}));
        app->addOverlay(colored(b, {1, 1, 1, 1}));
        const std::shared_ptr<Image> picture = snapshotKeyWindow(*app, 2);
        ASSERT_TRUE(picture);
        EXPECT_EQ(picture->size(), (Size{320, 480}));
        ASSERT_EQ(picture->pixelWidth(), 640);
        // Each glass point shows the interface point the window driver would map it to.
        for (const Point glass : {Point{10, 10}, Point{310, 10}, Point{10, 470}, Point{310, 470}, Point{150, 230}}) {
            const Point at = interfacePointFromGlass(glass, {320, 480}, 1, orientation);
            const Rgba expected = at.x < 40 && at.y < 40 ? kYellow : at.y < b.height / 2 ? kRed : kBlue;
            EXPECT_EQ(pixelOf(*picture, int(glass.x * 2), int(glass.y * 2)), expected) << glass.x << "," << glass.y;
        }
        TearDown();
    }
}

TEST_F(SnapshotTest, TopAndBottomPinThePictureToThatEdge) {
    show(1);
    // Red above blue, 20 x 40, in a view 20 x 10.
    std::vector<std::uint8_t> rgba(20 * 40 * 4, 255);
    for (int i = 0; i < 20 * 40; ++i) {
        rgba[size_t(i) * 4 + 1] = 0;
        rgba[size_t(i) * 4 + (i < 20 * 20 ? 2 : 0)] = 0;
    }
    const struct {
        int mode;
        Rgba shown;
    } cases[] = {{kContentModeTop, kRed}, {kContentModeBottom, kBlue}};
    for (const auto& c : cases) {
        auto view = std::make_shared<ImageView>(Rect{0, 0, 20, 10});
        view->setImage(Image::fromPremultipliedRGBA(20, 40, rgba.data(), "halves"));
        view->setContentMode(c.mode);
        window->rootViewController()->view()->addSubview(view);
        dktest::TestScreen screen(320, 480);
        ASSERT_TRUE(app->compositor().composite(screen));
        EXPECT_EQ(screen.pixel(10, 1), c.shown);
        EXPECT_EQ(screen.pixel(10, 9), c.shown);
        view->removeFromSuperview();
    }
}

}  // namespace
