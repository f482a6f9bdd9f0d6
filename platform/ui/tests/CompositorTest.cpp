// The compositor: known view trees composited and probed, when it commits and when it draws.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <numbers>
#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/Clock.h"
#include "platform/foundation/RunLoop.h"
#include "platform/gl/DisplayLink.h"
#include "platform/image/ImageCodec.h"
#include "platform/sys/Device.h"
#include "platform/ui/ImageView.h"
#include "platform/ui/Label.h"
#include "platform/ui/Window.h"
#include "platform/ui/tests/ComposeScenes.h"
#include "platform/ui/tests/UITestSupport.h"
#include "tests/support/TestSupport.h"

namespace {

using namespace plat::ui;
using namespace dktest;
using plat::foundation::Clock;
using plat::foundation::RunLoop;

constexpr Rgba kBlack{0, 0, 0, 255}, kRed{255, 0, 0, 255}, kGreen{0, 255, 0, 255}, kBlue{0, 0, 255, 255},
    kWhite{255, 255, 255, 255}, kYellow{255, 255, 0, 255};

std::shared_ptr<View> colored(Rect frame, Color color, double alpha = 1) {
    auto view = std::make_shared<View>(frame);
    view->setBackgroundColor(color);
    view->setAlpha(alpha);
    return view;
}

// A view that counts its drawings.
struct CountingView : View {
    using View::View;
    int draws = 0;
    bool drawsContent() const override { return true; }
    void draw(cairo_t*) override { ++draws; }
};

// A presenter that shows a GL layer alone on the screen its own way: it keeps the layer's picture.
struct LayerShowingScreen : TestScreen {
    using TestScreen::TestScreen;
    bool showLayer(plat::gl::GLLayer& layer) override {
        ++layersShown;
        shown = layer.readPixels();
        for (size_t i = 3; i < shown.size(); i += 4) shown[i] = 255;  // a layer shows opaque
        return accepts;
    }
    bool accepts = true;
    int layersShown = 0;
    std::vector<std::uint8_t> shown;
};

// The screens the compose scenes are pictured on: upright, turned, and framed in a larger target.
const struct ComposeTarget {
    const char* suffix;
    int width, height, glass;
    int picture[4];
} kComposeTargets[] = {{"", 320, 480, 1, {}}, {"-turned", 480, 320, 3, {}}, {"-framed", 400, 500, 1, {40, 10, 320, 480}}};

void expectPicture(const std::string& file, const ComposeTarget& t, const std::vector<std::uint8_t>& got) {
    int width = 0, height = 0;
    std::vector<std::uint8_t> rgba;
    std::string error;
    ASSERT_TRUE(plat::image::readPNG(file, &width, &height, &rgba, &error)) << error;
    ASSERT_EQ(width, t.width);
    ASSERT_EQ(height, t.height);
    ASSERT_EQ(got.size(), rgba.size());
    size_t differing = 0;
    for (size_t i = 0; i < got.size(); ++i) differing += got[i] != rgba[i];
    EXPECT_EQ(differing, 0u);
}

// An application on a loop of its own, on the 320 x 480 phone, showing an empty window.
class CompositorTest : public ::testing::Test {
protected:
    void SetUp() override {
        window.reset();
        app.reset();
        Clock::process().setVirtual(true);
        plat::sys::Device::current().reset();
        plat::sys::Device::current().setPreset("phone");
        app = std::make_unique<Application>(nullptr, &loop);
        window = std::make_shared<Window>(plat::sys::Screen::main().bounds());
        window->makeKeyAndVisible();
    }

    RunLoop loop{std::make_shared<Clock>(Clock::Kind::Virtual)};
    TempDir tmp;
    std::unique_ptr<Application> app;
    std::shared_ptr<Window> window;
};

TEST_F(CompositorTest, KnownTreesShowOnTheirProbePixels) {
    struct Probe {
        int x, y;
        Rgba rgba;
    };
    const std::string picture = tmp.file("quads.png");
    std::string error;
    // Red, green on top; blue, white below.
    ASSERT_TRUE(plat::image::writePNG(picture, 2, 2,
                                      {255, 0, 0, 255, 0, 255, 0, 255, 0, 0, 255, 255, 255, 255, 255, 255}, &error))
        << error;
    const struct Scene {
        const char* what;
        std::function<void(Window&)> build;
        std::vector<Probe> probes;
        int width = 320, height = 480, glass = 1;
    } scenes[] = {
        {"alpha, colour alpha and an ancestor's alpha over a GL layer",
         [](Window& w) {
             w.addSubview(std::make_shared<GLView>(Rect{0, 0, 320, 480}, kBlue));
             w.addSubview(colored({0, 0, 100, 100}, {1, 0, 0, 1}, 0.5));
             w.addSubview(colored({100, 0, 100, 100}, {0, 1, 0, 0.5}));
             auto half = std::make_shared<View>(Rect{200, 0, 100, 100});
             half->setAlpha(0.5);
             half->addSubview(colored({0, 0, 100, 100}, {1, 1, 1, 1}, 0.5));
             w.addSubview(half);
         },
         {{50, 50, {128, 0, 128, 255}}, {150, 50, {0, 128, 128, 255}}, {250, 50, {64, 64, 255, 255}}, {50, 300, kBlue}}},
        {"a GL layer keeps its top rows on top, where its view is",
         [](Window& w) { w.addSubview(std::make_shared<GLView>(Rect{20, 40, 100, 100}, kBlue, kYellow)); },
         {{25, 45, kYellow}, {115, 135, kBlue}, {15, 45, kBlack}, {25, 145, kBlack}}},
        {"an image stretched to its frame",
         [&picture](Window& w) { w.addSubview(std::make_shared<ImageView>(Rect{10, 10, 100, 100}, picture)); },
         {{12, 12, kRed}, {108, 12, kGreen}, {12, 108, kBlue}, {108, 108, kWhite}, {5, 5, kBlack}, {150, 150, kBlack}}},
        {"a missing image draws nothing over the background",
         [&](Window& w) {
             auto view = std::make_shared<ImageView>(Rect{0, 0, 100, 100}, tmp.file("missing.png"));
             view->setBackgroundColor(Color{1, 0, 0, 1});
             w.addSubview(view);
         },
         {{50, 50, kRed}}},
        {"hidden views and the subviews of one",
         [](Window& w) {
             w.addSubview(colored({0, 0, 100, 100}, {0, 1, 0, 1}));
             w.addSubview(colored({0, 0, 100, 100}, {1, 0, 0, 1}));
             w.subviews().back()->setHidden(true);
             auto hidden = std::make_shared<View>(Rect{100, 0, 100, 100});
             hidden->setHidden(true);
             hidden->addSubview(colored({0, 0, 100, 100}, {1, 0, 0, 1}));
             w.addSubview(hidden);
         },
         {{50, 50, kGreen}, {150, 50, kBlack}}},
        {"a game layer at opacity 0 under a view",
         [](Window& w) {
             auto game = std::make_shared<GLView>(Rect{0, 0, 320, 480}, kRed);
             game->setLayerOpacity(0);
             w.addSubview(game);
             w.addSubview(colored({0, 0, 320, 100}, {1, 1, 1, 1}));
         },
         {{50, 50, kWhite}, {50, 300, kBlack}}},
        {"a portrait interface on landscape glass (device turned left)",
         [](Window& w) {
             w.addSubview(colored({0, 0, 50, 50}, {1, 0, 0, 1}));     // top left
             w.addSubview(colored({270, 0, 50, 50}, {0, 1, 0, 1}));   // top right
             w.addSubview(colored({0, 430, 320, 50}, {0, 0, 1, 1}));  // bottom
         },
         {{25, 295, kRed}, {25, 25, kGreen}, {470, 160, kBlue}, {400, 160, kBlack}},
         480, 320, 3},
        {"a layer turned a quarter about its centre",
         [](Window& w) {
             auto bar = colored({100, 100, 100, 20}, {1, 0, 0, 1});
             bar->setLayerTransform({std::numbers::pi / 2});
             w.addSubview(bar);
         },
         {{150, 70, kRed}, {150, 150, kRed}, {110, 110, kBlack}, {190, 110, kBlack}}},
        {"a border inside the bounds, over a subview, scaled and moved with its layer",
         [](Window& w) {
             auto framed = colored({100, 100, 100, 100}, {0, 0, 1, 1});
             framed->addSubview(colored({0, 0, 100, 100}, {0, 1, 0, 1}));
             framed->setBorderWidth(4);
             framed->setBorderColor({1, 0, 0, 1});
             // Twice the size about its centre, 10 points lower: (50, 60) to (250, 260).
             framed->setLayerTransform({0, 2, 2, 0, 10});
             w.addSubview(framed);
         },
         {{52, 150, kRed}, {248, 150, kRed}, {150, 62, kRed}, {150, 258, kRed}, {60, 150, kGreen},
          {150, 150, kGreen}, {45, 150, kBlack}, {150, 55, kBlack}}},
    };
    for (const Scene& scene : scenes) {
        SetUp();
        scene.build(*window);
        TestScreen screen(scene.width, scene.height, scene.glass);
        ASSERT_TRUE(app->compositor().composite(screen)) << scene.what;
        for (const Probe& p : scene.probes) {
            const Rgba got = screen.pixel(p.x, p.y);
            for (int i = 0; i < 4; ++i)
                EXPECT_NEAR(got[i], p.rgba[i], 2) << scene.what << " at " << p.x << "," << p.y << " channel " << i;
        }
    }
}

TEST_F(CompositorTest, ALabelsInkStaysInsideItsFrame) {
    auto label = std::make_shared<Label>(Rect{40, 200, 240, 40});
    label->setText("Drovik Drovik Drovik Drovik Drovik");  // longer than the frame: cut, not spilled
    label->setTextColor({1, 1, 1, 1});
    label->setFont({"NoSuchFont-Bold", 24});
    window->addSubview(label);
    TestScreen screen(320, 480);
    ASSERT_TRUE(app->compositor().composite(screen));
    const std::vector<std::uint8_t> pixels = screen.pixels();
    int inside = 0, outside = 0;
    for (int y = 0; y < 480; ++y)
        for (int x = 0; x < 320; ++x) {
            if (pixels[(static_cast<size_t>(y) * 320 + x) * 4] < 64) continue;
            (label->frame().contains({x + 0.5, y + 0.5}) ? inside : outside)++;
        }
    EXPECT_GT(inside, 500);
    EXPECT_EQ(outside, 0);
}

TEST_F(CompositorTest, ViewsAreDrawnAgainOnlyWhenMarkedOrResized) {
    auto view = std::make_shared<CountingView>(Rect{0, 0, 50, 50});
    window->addSubview(view);
    TestScreen screen(320, 480);
    const struct {
        const char* what;
        std::function<void()> change;
        int draws;
    } steps[] = {
        {"first frame", [] {}, 1},
        {"nothing changed", [] {}, 1},
        {"moved", [&] { view->setFrame({10, 10, 50, 50}); }, 1},
        {"faded", [&] { view->setAlpha(0.5); }, 1},
        {"marked", [&] { view->setNeedsDisplay(); }, 2},
        {"resized", [&] { view->setFrame({10, 10, 60, 50}); }, 3},
        {"hidden and marked", [&] { view->setHidden(true), view->setNeedsDisplay(); }, 3},
        {"shown", [&] { view->setHidden(false); }, 4},
    };
    for (const auto& step : steps) {
        step.change();
        app->compositor().composite(screen);
        EXPECT_EQ(view->draws, step.draws) << step.what;
    }
}

TEST_F(CompositorTest, CommitsAfterTurnsThatChangedSomethingWhileTheDisplayLinkIsStopped) {
    auto view = colored({0, 0, 50, 50}, {1, 0, 0, 1});
    auto game = std::make_shared<GLView>(Rect{0, 0, 320, 480}, kBlue);
    window->addSubview(game);
    window->addSubview(view);
    plat::gl::DisplayLink link([] {});
    link.addToRunLoop(loop);
    link.setPaused(true);
    TestScreen screen(320, 480);
    app->compositor().setPresenter(&screen);
    const auto commits = [&] { return app->compositor().commitCount(); };

    loop.runFor(1);
    EXPECT_EQ(commits(), 1u) << "the new screen shows everything once";
    loop.runFor(1);
    EXPECT_EQ(commits(), 1u) << "nothing changed";

    std::uint64_t insideTheLoad = 0;
    auto load = loop.addTimer(0.5, [&] {
        view->setBackgroundColor(Color{0, 1, 0, 1});
        loop.runOnce(0.1);  // the loading indicator's turn, nested
        insideTheLoad = commits();
    });
    loop.runFor(1);
    EXPECT_EQ(insideTheLoad, 2u) << "committed inside the nested run";
    EXPECT_EQ(commits(), 2u);
    EXPECT_EQ(screen.pixel(25, 25), kGreen);

    auto frame = loop.addTimer(0.5, [&] { game->fill(kRed, kRed); });
    loop.runFor(1);
    EXPECT_EQ(commits(), 3u) << "a GL layer presented";
    EXPECT_EQ(screen.pixel(100, 100), kRed);

    app->compositor().setPresenter(nullptr);
    view->setAlpha(0.5);
    loop.runFor(1);
    EXPECT_EQ(commits(), 3u) << "no presenter";
    EXPECT_EQ(screen.frames, 3);
}

TEST_F(CompositorTest, WithoutAPresenterNothingIsDrawnUntilAScreenshot) {
    auto view = std::make_shared<CountingView>(Rect{0, 0, 50, 50});
    auto game = std::make_shared<GLView>(Rect{0, 0, 320, 480}, kBlue);
    window->addSubview(game);
    window->addSubview(view);
    // A game's frames and the views' changes, headless.
    plat::gl::DisplayLink link([&] {
        game->fill(kRed, kBlue);
        view->setNeedsDisplay();
    });
    link.addToRunLoop(loop);
    loop.runFor(1);
    EXPECT_EQ(view->draws, 0);
    EXPECT_EQ(app->compositor().commitCount(), 0u);
    TestScreen screen(320, 480);
    ASSERT_TRUE(app->compositor().composite(screen));
    EXPECT_EQ(view->draws, 1);
    EXPECT_EQ(screen.pixel(100, 400), kRed);
}

TEST_F(CompositorTest, AnimationsKeepCommittingUntilTheyEnd) {
    auto view = colored({0, 0, 50, 50}, {1, 0, 0, 1});
    window->addSubview(view);
    TestScreen screen(320, 480);
    app->compositor().setPresenter(&screen);
    loop.runFor(0.5);
    const std::uint64_t before = app->compositor().commitCount();
    View::animate({"fade", 1}, [&] { view->setAlpha(0); });
    loop.runFor(0.5);
    EXPECT_NEAR(screen.pixel(25, 25)[0], 128, 8) << "half way";
    loop.runFor(0.6);
    const std::uint64_t during = app->compositor().commitCount() - before;
    EXPECT_GE(during, 55u) << "about one a refresh";
    EXPECT_LE(during, 70u);
    EXPECT_EQ(screen.pixel(25, 25), kBlack);
    loop.runFor(1);
    EXPECT_EQ(app->compositor().commitCount() - before, during) << "over";
}

// The screens the player shows over its game, composited upright, on glass turned under the
// interface, and framed by bars in a wider target: each the same picture, byte for byte, as
// data/compose-<scene>[-turned|-framed].png. DK_UPDATE_EXPECTED=1 writes them instead.
TEST_F(CompositorTest, ThePlayersScreensComeOutByteForByte) {
    const bool write = dktest::updatingExpected();
    for (const std::string& name : composeSceneNames())
        for (const ComposeTarget& t : kComposeTargets) {
            const std::string shot = name + t.suffix;
            SCOPED_TRACE(shot);
            SetUp();
            buildComposeScene(name, *window, tmp.path());
            TestScreen screen(t.width, t.height, t.glass);
            std::copy(t.picture, t.picture + 4, screen.picture);
            ASSERT_TRUE(app->compositor().composite(screen));
            const std::vector<std::uint8_t> got = screen.pixels();
            const std::string expected = composeScenePicture(shot);
            std::string error;
            if (write) {
                ASSERT_TRUE(plat::image::writePNG(expected, t.width, t.height, got, &error)) << error;
                continue;
            }
            expectPicture(expected, t, got);
        }
}

// What an opaque GL layer over the whole screen hides is not drawn at all; anything that lets
// some of it through (an opacity below 1, a turn, a smaller frame) leaves it drawn.
TEST_F(CompositorTest, WhatAnOpaqueLayerOverTheScreenHidesIsNotDrawn) {
    const struct Case {
        const char* what;
        std::function<void(View&)> change;
        bool underDrawn;
        std::optional<Rgba> lastRow = std::nullopt;  // the screen's, where the short frame ends
    } cases[] = {
        {"opaque over all", [](View&) {}, false, kBlue},
        {"fading in", [](View& game) { game.setAlpha(0.99); }, true},
        {"turned a little", [](View& game) { game.setLayerTransform({0.1}); }, true},
        {"a point short", [](View& game) { game.setFrame({0, 0, 320, 479}); }, true, kBlack},
        {"turned a half about its centre", [](View& game) { game.setLayerTransform({std::numbers::pi}); }, false, kBlue},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        SetUp();
        auto under = std::make_shared<CountingView>(Rect{0, 0, 100, 100});
        window->addSubview(under);
        auto game = std::make_shared<GLView>(Rect{0, 0, 320, 480}, kBlue);
        window->addSubview(game);
        auto over = std::make_shared<CountingView>(Rect{0, 0, 100, 100});
        game->addSubview(over);
        c.change(*game);
        TestScreen screen(320, 480);
        ASSERT_TRUE(app->compositor().composite(screen));
        EXPECT_EQ(under->draws, c.underDrawn ? 1 : 0);
        EXPECT_EQ(over->draws, 1);
        if (c.lastRow) {
            EXPECT_EQ(screen.pixel(200, 479), *c.lastRow);
        }
    }
}

TEST(ImageTest, FilesThatCannotBeReadGiveNoImageAndSayWhy) {
    TempDir tmp;
    writeFile(tmp.file("crushed.png"), std::string("\x89PNG\r\n\x1a\n\0\0\0\4CgBI\x50\0\x20\2", 20));
    writeFile(tmp.file("text.png"), "not a picture");
    const struct {
        const char* name;
        const char* says;
    } cases[] = {{"missing.png", "file not found"}, {"crushed.png", "crushed PNG (CgBI)"}, {"text.png", "not a PNG"}};
    for (const auto& c : cases) {
        std::string error;
        EXPECT_EQ(Image::fromFile(tmp.file(c.name), &error), nullptr) << c.name;
        EXPECT_NE(error.find(c.says), std::string::npos) << error;
    }
}

}  // namespace

namespace {

// Only a layer that makes the whole frame by itself, texel for pixel, goes to the presenter whole;
// what it hands over is the picture the compositor would have drawn, byte for byte.
TEST_F(CompositorTest, AGLLayerAloneOnTheScreenIsHandedToThePresenterAsThePicture) {
    for (const std::string& name : composeSceneNames())
        for (const ComposeTarget& t : kComposeTargets)
            for (const bool accepts : {true, false}) {
                const std::string shot = name + t.suffix;
                SCOPED_TRACE(shot + (accepts ? "" : ", declined"));
                SetUp();
                buildComposeScene(name, *window, tmp.path());
                LayerShowingScreen screen(t.width, t.height, t.glass);
                std::copy(t.picture, t.picture + 4, screen.picture);
                screen.accepts = accepts;
                ASSERT_TRUE(app->compositor().composite(screen));
                const bool alone = name == "game" && !*t.suffix;
                EXPECT_EQ(screen.layersShown, alone ? 1 : 0);
                EXPECT_EQ(screen.frames, alone && accepts ? 0 : 1);
                expectPicture(composeScenePicture(shot), t, alone && accepts ? screen.shown : screen.pixels());
            }
}

// Anything that would draw over the layer keeps the frame the compositor's; what draws nothing
// does not.
TEST_F(CompositorTest, AGLLayerIsAloneOnlyWhenNothingShowsOverIt) {
    const struct Case {
        const char* what;
        std::function<void(Window&, View& game)> add;
        bool alone;
    } cases[] = {
        {"nothing", [](Window&, View&) {}, true},
        {"a subview drawing", [](Window&, View& game) { game.addSubview(std::make_shared<CountingView>(Rect{0, 0, 10, 10})); }, false},
        {"a hidden subview",
         [](Window&, View& game) {
             auto v = std::make_shared<CountingView>(Rect{0, 0, 10, 10});
             v->setHidden(true);
             game.addSubview(v);
         },
         true},
        {"a clear view after it", [](Window& w, View&) { w.addSubview(std::make_shared<View>(Rect{0, 0, 10, 10})); }, true},
        {"a transparent colour after it", [](Window& w, View&) { w.addSubview(colored({0, 0, 10, 10}, {1, 0, 0, 1}, 0)); }, true},
        {"a colour after it", [](Window& w, View&) { w.addSubview(colored({0, 0, 10, 10}, {1, 0, 0, 0.1})); }, false},
        {"a border on it", [](Window&, View& game) { game.setBorderWidth(1), game.setBorderColor({1, 1, 1, 1}); }, false},
        {"rounded corners", [](Window&, View& game) { game.setCornerRadius(4); }, false},
        {"a point to the right", [](Window&, View& game) { game.setFrame({1, 0, 320, 480}); }, false},
        {"larger than the screen", [](Window&, View& game) { game.setFrame({0, 0, 330, 480}); }, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        SetUp();
        auto game = std::make_shared<GLView>(Rect{0, 0, 320, 480}, kBlue);
        window->addSubview(game);
        c.add(*window, *game);
        LayerShowingScreen screen(320, 480);
        ASSERT_TRUE(app->compositor().composite(screen));
        EXPECT_EQ(screen.layersShown, c.alone ? 1 : 0);
        EXPECT_EQ(screen.frames, c.alone ? 0 : 1);
    }
}

}  // namespace
