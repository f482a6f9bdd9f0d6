// What the compositor cuts and shifts: clipping to the bounds, rounded corners, a scroll view's
// content offset, and pattern backgrounds.
#include <gtest/gtest.h>

#include <functional>

#include "platform/foundation/Clock.h"
#include "platform/foundation/RunLoop.h"
#include "platform/image/ImageCodec.h"
#include "platform/sys/Device.h"
#include "platform/ui/Image.h"
#include "platform/ui/ScrollView.h"
#include "platform/ui/Window.h"
#include "platform/ui/tests/UITestSupport.h"

namespace {

using namespace plat::ui;
using namespace dktest;
using plat::foundation::Clock;
using plat::foundation::RunLoop;

constexpr Rgba kBlack{0, 0, 0, 255}, kRed{255, 0, 0, 255}, kGreen{0, 255, 0, 255}, kBlue{0, 0, 255, 255},
    kWhite{255, 255, 255, 255};

std::shared_ptr<View> colored(Rect frame, Color color) {
    auto view = std::make_shared<View>(frame);
    view->setBackgroundColor(color);
    return view;
}

TEST(Clipping, CutsAndShiftsWhatShows) {
    RunLoop loop{std::make_shared<Clock>(Clock::Kind::Virtual)};
    Clock::process().setVirtual(true);
    plat::sys::Device::current().reset();
    plat::sys::Device::current().setPreset("phone");
    TempDir tmp;
    // Red, green on top; blue, white below.
    ASSERT_TRUE(plat::image::writePNG(tmp.file("tile.png"), 2, 2,
                                      {255, 0, 0, 255, 0, 255, 0, 255, 0, 0, 255, 255, 255, 255, 255, 255}, nullptr));
    struct Probe {
        int x, y;
        Rgba rgba;
    };
    const struct {
        const char* what;
        std::function<void(Window&)> build;
        std::vector<Probe> probes;
    } scenes[] = {
        {"a clipping view cuts its subviews, nested ones within both",
         [](Window& w) {
             auto outer = colored({20, 20, 100, 100}, {1, 0, 0, 1});
             outer->setClipsToBounds(true);
             auto inner = colored({50, 50, 100, 100}, {0, 0, 1, 1});
             inner->setClipsToBounds(true);
             inner->addSubview(colored({-200, -200, 400, 400}, {0, 1, 0, 1}));
             outer->addSubview(inner);
             w.addSubview(outer);
         },
         {{30, 30, kRed}, {100, 100, kGreen}, {125, 100, kBlack}, {100, 125, kBlack}, {10, 10, kBlack}}},
        {"a corner radius rounds the background, and with clipping the subviews",
         [](Window& w) {
             auto round = colored({100, 200, 100, 100}, {1, 1, 1, 1});
             round->setCornerRadius(30);
             w.addSubview(round);
             auto cut = colored({0, 200, 100, 100}, {0, 0, 0, 0});
             cut->setCornerRadius(30);
             cut->setClipsToBounds(true);
             cut->addSubview(colored({0, 0, 100, 100}, {0, 0, 1, 1}));
             // Rounded inside rounded: both corners cut.
             auto inner = colored({50, -20, 100, 100}, {0, 1, 0, 1});
             inner->setCornerRadius(10);
             cut->addSubview(inner);
             w.addSubview(cut);
         },
         {{102, 202, kBlack}, {150, 250, kWhite}, {150, 201, kWhite}, {102, 250, kWhite}, {2, 202, kBlack},
          {30, 250, kBlue}, {97, 297, kBlack}, {97, 202, kBlack}, {75, 250, kGreen}}},
        {"a scroll view's content offset moves its content under its clip",
         [](Window& w) {
             auto scroll = std::make_shared<ScrollView>(Rect{0, 350, 100, 50});
             scroll->setClipsToBounds(true);
             scroll->setContentSize({200, 50});
             scroll->addSubview(colored({0, 0, 100, 50}, {1, 0, 0, 1}));
             scroll->addSubview(colored({100, 0, 100, 50}, {0, 0, 1, 1}));
             scroll->setContentOffset({100, 0});
             w.addSubview(scroll);
         },
         {{50, 375, kBlue}, {150, 375, kBlack}}},
        {"a pattern repeats its image from the top left corner",
         [&tmp](Window& w) {
             auto view = std::make_shared<View>(Rect{200, 20, 40, 40});
             view->setBackgroundPattern(Image::fromFile(tmp.file("tile.png")));
             w.addSubview(view);
         },
         {{200, 20, kRed}, {201, 20, kGreen}, {202, 20, kRed}, {200, 21, kBlue}, {203, 23, kWhite}}},
    };
    for (const auto& scene : scenes) {
        auto app = std::make_unique<Application>(nullptr, &loop);
        auto window = std::make_shared<Window>(plat::sys::Screen::main().bounds());
        window->makeKeyAndVisible();
        scene.build(*window);
        TestScreen screen(320, 480);
        ASSERT_TRUE(app->compositor().composite(screen)) << scene.what;
        for (const Probe& p : scene.probes) {
            const Rgba got = screen.pixel(p.x, p.y);
            for (int i = 0; i < 4; ++i)
                EXPECT_NEAR(got[i], p.rgba[i], 2) << scene.what << " at " << p.x << "," << p.y << " channel " << i;
        }
    }
    plat::sys::Device::current().reset();
}

}  // namespace
