// The notification view and its badge: sizes about a kept centre, "0" and unknown types taking no
// room, only renderers registered, and the pixels drawn.
#include <cairo.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>

#include "kiosk/content/KSNotificationView.h"
#include "platform/ui/Label.h"

namespace {

KSJsonObject badge(const char* value, const char* type = "badge") {
    KSJsonObject data;
    data.set("type", type);
    data.set("value", value);
    return data;
}

struct Tagged : KSNotificationRenderer {
    plat::sys::Size sizeForNotification(const KSJsonObject&) override { return {7, 9}; }
};

TEST(KSNotificationView, SizesAboutTheCentreZeroAndUnknownTypesTakeNoRoom) {
    auto view = KSNotificationView::make("tok", "sec", "more_games");
    view->setFrame({100, 200, 0, 0});
    const plat::ui::Font bold{"DejaVu Sans-Bold", 17};
    struct Case {
        KSJsonObject data;
        double width, height;
    };
    const Case cases[] = {
        {badge("1"), plat::ui::textWidth("1", bold) + 20, 35},
        {badge("12"), plat::ui::textWidth("12", bold) + 20, 35},
        {badge("0"), 0, 0},
        {badge("5", "banner"), 0, 0},
    };
    for (const Case& c : cases) {
        view->setNotificationData(c.data);
        EXPECT_DOUBLE_EQ(view->frame().width, c.width);
        EXPECT_DOUBLE_EQ(view->frame().height, c.height);
        EXPECT_DOUBLE_EQ(view->frame().x + view->frame().width / 2, 100);
        EXPECT_DOUBLE_EQ(view->frame().y + view->frame().height / 2, 200);
    }
    EXPECT_GT(cases[1].width, cases[0].width);
    view->test();
    EXPECT_DOUBLE_EQ(view->frame().width, cases[0].width);
    view->clear();
    EXPECT_DOUBLE_EQ(view->frame().width, 0);
    // A type takes the renderer registered for it; registering again replaces.
    KSNotificationView::setRendererClass<Tagged>("tagged");
    view->setNotificationData(badge("3", "tagged"));
    EXPECT_DOUBLE_EQ(view->frame().width, 7);
}

TEST(KSNotificationView, TheBadgeStretchesThroughItsMiddleUnderWhiteText) {
    auto view = KSNotificationView::make("tok", "sec", "p");
    view->setNotificationData(badge("88"));
    const int w = static_cast<int>(std::ceil(view->frame().width)), h = 35;
    cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, w, h);
    cairo_t* cr = cairo_create(surface);
    view->draw(cr);
    cairo_destroy(cr);
    cairo_surface_flush(surface);
    const unsigned char* data = cairo_image_surface_get_data(surface);
    const int stride = cairo_image_surface_get_stride(surface);
    auto pixel = [&](int x, int y) {
        return *reinterpret_cast<const std::uint32_t*>(data + y * stride + x * 4);
    };
    auto red = [](std::uint32_t p) { return (p >> 16) & 0xff; };
    auto green = [](std::uint32_t p) { return (p >> 8) & 0xff; };
    // The corners stay clear; the stretched middle is the badge's red at both ends of the text.
    EXPECT_EQ(pixel(0, 0) >> 24, 0u);
    EXPECT_EQ(pixel(w - 1, 0) >> 24, 0u);
    EXPECT_GT(red(pixel(w / 2, 26)), 150u);
    EXPECT_LT(green(pixel(w / 2, 26)), 60u);
    // Somewhere in the text's box a white pixel.
    bool white = false;
    for (int y = 4; y < 22 && !white; ++y)
        for (int x = 10; x < w - 10 && !white; ++x)
            white = red(pixel(x, y)) > 240 && green(pixel(x, y)) > 240;
    EXPECT_TRUE(white);
    cairo_surface_destroy(surface);
    // "0" draws nothing.
    view->setNotificationData(badge("0"));
    surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, 40, 35);
    cr = cairo_create(surface);
    view->draw(cr);
    cairo_destroy(cr);
    cairo_surface_flush(surface);
    data = cairo_image_surface_get_data(surface);
    EXPECT_EQ(pixel(20, 17), 0u);
    cairo_surface_destroy(surface);
}

}  // namespace

// Fontconfig, behind the badge's text, keeps its caches for the life of the process.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libfontconfig.so\n";
}
