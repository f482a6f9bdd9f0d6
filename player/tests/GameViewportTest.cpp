// The viewport that fits the game's intended size into the frame buffer, and touches mapped back.
#include <gtest/gtest.h>

#include "player/view/GameViewport.h"

namespace {

using dk::player::fitGameViewport;
using dk::player::GameViewport;
using dk::player::mapToGame;

TEST(GameViewportTest, TheIntendedSizeIsLetterboxedOrCroppedIntoTheBuffer) {
    struct Case {
        int width, height, gameWidth, gameHeight;
        bool crop;
        GameViewport expected;
    };
    const Case cases[] = {
        {640, 960, 480, 320, false, {0, 0, 640, 960, 320, 480}},         // swapped to the buffer's way
        {640, 1136, 320, 480, false, {0, 88, 640, 960, 320, 480}},       // 960 in float, not 959
        {640, 1136, 320, 480, true, {-58, 0, 757, 1136, 320, 480}},      // "DKOverscan"
        {1136, 640, 320, 480, false, {88, 0, 960, 640, 480, 320}},       // turned to landscape
        {1136, 640, 320, 480, true, {0, -58, 1136, 757, 480, 320}},
        {640, 1136, 0, 480, false, {0, 0, 640, 1136, 0, 0}},             // no intended size
        {0, 0, 320, 480, false, {0, 0, 0, 0, 0, 0}},                     // no buffer
        // Absurd, and held inside int's range.
        {960, 640, 2147483647, 1, true, {-1073741280.0f, 0, 2147483520.0f, 640, 2147483648.0f, 1}},
    };
    for (const Case& c : cases) {
        const GameViewport v = fitGameViewport(c.width, c.height, c.gameWidth, c.gameHeight, c.crop);
        const GameViewport& e = c.expected;
        EXPECT_EQ((std::vector<float>{v.x, v.y, v.width, v.height, v.gameWidth, v.gameHeight}),
                  (std::vector<float>{e.x, e.y, e.width, e.height, e.gameWidth, e.gameHeight}))
            << c.width << "x" << c.height << " game " << c.gameWidth << "x" << c.gameHeight << " crop " << c.crop;
    }
}

TEST(GameViewportTest, TouchesMapBackThroughTheViewport) {
    struct Case {
        GameViewport viewport;
        double x, y;
        float gameX, gameY;
    };
    const GameViewport letterbox{0, 88, 640, 960, 320, 480};
    const Case cases[] = {
        {letterbox, 160, 284, 160, 240},
        {letterbox, 0, 44, 0, 0},
        {letterbox, 320, 0, 320, -44},  // in the bar: outside the game
        {{-58, 0, 757, 1136, 320, 480}, 160, 284, 159.788635f, 240},
        {{88, 0, 960, 640, 480, 320}, 284, 160, 240, 160},
        {{0, 0, 640, 1136, 0, 0}, 100, 100, 0, 0},       // no intended size
        {{0, 0, 0, 0, 320, 480}, 100, 100, 0, 0},        // no viewport: (0, 0), never NaN
        {{0, 88, 640, 0, 320, 480}, 100, 100, 0, 0},
    };
    for (const Case& c : cases) {
        const dk::player::GamePoint p = mapToGame(c.x, c.y, 2.0, c.viewport);
        EXPECT_FLOAT_EQ(p.x, c.gameX) << c.x << "," << c.y;
        EXPECT_FLOAT_EQ(p.y, c.gameY) << c.x << "," << c.y;
    }
}

}  // namespace
