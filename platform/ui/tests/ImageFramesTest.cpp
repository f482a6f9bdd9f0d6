// Image views' content modes and frames, and text fitted to a width: drawn through the compositor
// and timed on the virtual clock.
#include <gtest/gtest.h>

#include "platform/foundation/Clock.h"
#include "platform/foundation/RunLoop.h"
#include "platform/ui/ImageView.h"
#include "platform/ui/TextMeasure.h"
#include "platform/ui/ViewDump.h"
#include "platform/ui/Window.h"
#include "platform/ui/tests/UITestSupport.h"

namespace {

using plat::ui::ImageView;
using plat::ui::Rect;

std::shared_ptr<plat::ui::Image> solid(int w, int h, uint8_t r, uint8_t g, uint8_t b) {
    std::vector<uint8_t> rgba;
    for (int i = 0; i < w * h; ++i) rgba.insert(rgba.end(), {r, g, b, 255});
    return plat::ui::Image::fromPremultipliedRGBA(w, h, rgba.data(), "solid");
}

TEST(ImageFrames, PlayInTurnAndStopAfterTheRepeatCount) {
    plat::foundation::Clock::process().setVirtual(true);
    auto view = std::make_shared<ImageView>(Rect{0, 0, 10, 10});
    view->setAnimationImages({solid(1, 1, 255, 0, 0), solid(1, 1, 0, 255, 0), solid(1, 1, 0, 0, 255)});
    view->setAnimationDuration(3);
    view->setAnimationRepeatCount(2);
    EXPECT_NE(plat::ui::dumpViewTree(*view).find("\"frames\":3,\"frameDuration\":1,"), std::string::npos);
    view->startAnimating();
    std::vector<int> seen;
    for (int i = 0; i < 7; ++i) {
        seen.push_back(view->currentFrame());
        plat::foundation::RunLoop::main().runFor(1);
    }
    EXPECT_EQ(seen, (std::vector<int>{0, 1, 2, 0, 1, 2, -1}));
    EXPECT_FALSE(view->isAnimating());
}

TEST(ImageFrames, ContentModesPlaceThePicture) {
    struct Case {
        int mode;
        int x, y;        // a probe
        bool coloured;   // the picture there
    } cases[] = {
        {plat::ui::kContentModeScaleToFill, 2, 2, true},
        {plat::ui::kContentModeScaleAspectFit, 50, 10, false},  // 2:1 picture in a square: bands above and below
        {plat::ui::kContentModeScaleAspectFit, 50, 50, true},
        {plat::ui::kContentModeCenter, 40, 50, false},          // 10 x 5 at the centre
        {plat::ui::kContentModeCenter, 50, 50, true},
    };
    plat::ui::Application app;
    for (const Case& c : cases) {
        auto window = std::make_shared<plat::ui::Window>(Rect{0, 0, 320, 480});
        window->makeKeyAndVisible();
        auto view = std::make_shared<ImageView>(Rect{0, 0, 100, 100});
        view->setImage(solid(10, 5, 255, 0, 0));
        view->setContentMode(c.mode);
        window->addSubview(view);
        dktest::TestScreen screen(320, 480);
        ASSERT_TRUE(app.compositor().composite(screen));
        EXPECT_EQ(screen.pixel(c.x, c.y)[0] > 128, c.coloured) << c.mode << " at " << c.x << "," << c.y;
    }
}

TEST(TextMeasure, AFontShrinksToFitDownToItsMinimum) {
    const plat::ui::Font bold{"Helvetica-Bold", 13};
    const std::string text = "A header rather longer than it should be";
    const double natural = plat::ui::textWidth(text, bold);
    EXPECT_EQ(plat::ui::fittingFont(text, bold, natural + 1, 11).size, 13) << "fits: unchanged";
    const plat::ui::Font fitted = plat::ui::fittingFont(text, bold, natural * 0.9, 11);
    EXPECT_LT(fitted.size, 13);
    EXPECT_GE(fitted.size, 11.7);
    EXPECT_LE(plat::ui::textWidth(text, fitted), natural * 0.9);
    EXPECT_EQ(plat::ui::fittingFont(text, bold, 20, 11).size, 11) << "no smaller than the minimum";
    const plat::ui::Size box = plat::ui::measureText(text, {"Helvetica", 13}, {100, 30}, 0);
    EXPECT_EQ(box.height, 30) << "wrapped past the box's height";
    EXPECT_LE(box.width, 100);
}

// Hinting rounds Pango's widths, so the proportional guess can land below the largest size that
// fits: the size fitted is that largest, a tenth of a point larger no longer fits.
TEST(TextMeasure, TheFittedSizeIsTheLargestThatFits) {
    for (const char* text : {"Collected ten coins in one go", "You beat the level fast!", "Illinois lily"}) {
        for (double width = 60; width < 200; width += 3.7) {
            SCOPED_TRACE(testing::Message() << text << " in " << width);
            const plat::ui::Font natural{"HelveticaNeue", 11};
            const plat::ui::Font fitted = plat::ui::fittingFont(text, natural, width, 5);
            if (fitted.size <= 5 || fitted.size >= 11) continue;
            EXPECT_LE(plat::ui::textWidth(text, fitted), width);
            plat::ui::Font larger = fitted;
            larger.size += 0.1;
            EXPECT_GT(plat::ui::textWidth(text, larger), width);
        }
    }
}

}  // namespace
