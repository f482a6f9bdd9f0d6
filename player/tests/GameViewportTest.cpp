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

// Mapping through real viewports is checked in the view's runs; here what they cannot reach.
TEST(GameViewportTest, WithoutAViewportTouchesMapToTheOriginNeverNaN) {
    for (const GameViewport& v : {GameViewport{0, 0, 0, 0, 320, 480}, GameViewport{0, 88, 640, 0, 320, 480},
                                  GameViewport{0, 0, 640, 1136, 0, 0}}) {
        const dk::player::GamePoint p = mapToGame(100, 100, 2.0, v);
        EXPECT_EQ(p.x, 0);
        EXPECT_EQ(p.y, 0);
    }
}

}  // namespace
