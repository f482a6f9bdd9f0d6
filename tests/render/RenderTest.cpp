// The renderers on real pixels (llvmpipe): the scene of every node path drawn by the ES2 renderer
// batched and one call per sprite and by the ES1 renderer must each equal one reviewed picture,
// byte for byte, with the ES2 renderer's half-pixel starting offset zeroed; then probes of
// direction and blending at each renderer's own placement, and the ES1 renderer's known
// difference. DK_UPDATE_PICTURES=1 rewrites the picture.
#include <GLES2/gl2.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>

#include "scenegraph/es2/SGRenderManagerES2.h"
#include "tests/render/RenderHarness.h"

using namespace dktest;

namespace {

const Renderer kAll[] = {Renderer::ES2Batched, Renderer::ES2OneCallPerSprite, Renderer::ES1};

class EachRenderer : public ::testing::TestWithParam<Renderer> {
protected:
    void SetUp() override { ASSERT_TRUE(t.context) << t.failure; }
    void TearDown() override { EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR)); }

    RenderTarget t{GetParam(), 128, 128};
};

std::string name(const ::testing::TestParamInfo<Renderer>& info) {
    return rendererName(info.param);
}

// Each colour channel within 2 of the expected 0-255 value (the blend equations round).
::testing::AssertionResult near(const RGBA& actual, const RGBA& expected) {
    for (int i = 0; i < 3; ++i)
        if (std::abs(actual[i] - expected[i]) > 2)
            return ::testing::AssertionFailure()
                   << "got (" << actual[0] << ", " << actual[1] << ", " << actual[2] << "), expected ("
                   << expected[0] << ", " << expected[1] << ", " << expected[2] << ")";
    return ::testing::AssertionSuccess();
}

}  // namespace

TEST_P(EachRenderer, EveryPathEqualsTheReviewedPicture) {
    if (GetParam() != Renderer::ES1)
        static_cast<SGRenderManagerES2&>(t.s->scene.renderManager()).setOffsets({{0, 0}});
    everyPath(t);
    t.frame();
    t.frame();  // particles on, and the tiles and caches reused
    const std::string path = std::string(DK_TEST_DATA_DIR) + "/every-path.png";
    std::string error;
    if (std::getenv("DK_UPDATE_PICTURES") && GetParam() == Renderer::ES2Batched) {
        ASSERT_TRUE(plat::gl::writePNG(path, 128, 128, t.pixels, &error)) << error;
    }
    int width = 0, height = 0;
    std::vector<uint8_t> expected;
    ASSERT_TRUE(plat::gl::readPNG(path, &width, &height, &expected, &error)) << error;
    EXPECT_TRUE(expected == t.pixels) << "differs from " << path;
}

// What each probe draws, and the colours expected at points well inside the shapes.
struct Probe {
    const char* what;
    std::function<void(RenderTarget&)> draw;
    struct Point {
        int x, y;
        RGBA colour;
    };
    std::vector<Point> expected;
};

const RGBA kBack{51, 102, 153, 255}, kRed{255, 0, 0, 255}, kGreen{0, 255, 0, 255}, kBlue{0, 0, 255, 255};

// clang-format off
const Probe kProbes[] = {
    {"y runs up; rotation is counter-clockwise in degrees",
     [](RenderTarget& t) {
         t.s->sprite(20, 12, 16, 8, {1, 0, 0, 1});
         t.s->sprite(20, 40, 20, 4, {0, 1, 0, 1}, {.angle = 90});
         t.s->sprite(46, 32, 24, 2, {0, 0, 1, 1}, {.angle = 45});
     },
     {{27, 15, kRed}, {20, 18, kBack}, {20, 48, kGreen}, {28, 40, kBack}, {51, 37, kBlue}, {51, 27, kBack}}},
    {"textures: top row up; flips mirror",
     [](RenderTarget& t) {
         SGImage image = t.texture(2, 2, {0xff0000ff, 0x00ff00ff, 0x0000ffff, 0xffffffff});
         t.s->sprite(16, 48, 24, 24, SGWhiteColor, {.image = image});
         image.textureRect.flipHorizontally();
         t.s->sprite(48, 48, 24, 24, SGWhiteColor, {.image = image});
         image.textureRect = {0, 1, 1, 0};
         t.s->sprite(16, 16, 24, 24, SGWhiteColor, {.image = image});
     },
     {{10, 54, kRed}, {22, 54, kGreen}, {10, 42, kBlue}, {42, 54, kGreen}, {10, 10, kRed}}},
    {"blend modes: (1, 0.5, 0, 0.5) over the background, any other mode over; premultiplied like straight",
     [](RenderTarget& t) {
         const int modes[] = {0, 1, 2, 3, 4, 9};
         for (int i = 0; i < 6; ++i)
             t.s->sprite(5.0f + 10 * i, 32, 8, 8, {1, 0.5f, 0, 0.5f}, {.blend = modes[i]});
         SGImage straight = t.texture(1, 1, {0xff000080});
         SGImage premultiplied = t.texture(1, 1, {0x80000080}, {.premultiplied = true});
         for (float x : {8.0f, 24.0f, 40.0f, 56.0f})  // straight, premultiplied; opaque, then half
             t.s->sprite(x, 52, 8, 8, {1, 1, 1, x < 30 ? 1 : 0.5f},
                         {.image = int(x) % 32 == 8 ? straight : premultiplied});
     },
     {{5, 32, {153, 115, 77, 255}}, {15, 32, {255, 128, 0, 255}}, {25, 32, {179, 166, 153, 255}},
      {35, 32, {128, 115, 153, 255}}, {45, 32, {51, 51, 0, 255}}, {55, 32, {153, 115, 77, 255}},
      {8, 52, {153, 51, 77, 255}}, {24, 52, {153, 51, 77, 255}}, {40, 52, {102, 77, 115, 255}},
      {56, 52, {102, 77, 115, 255}}}},
};
// clang-format on

TEST_P(EachRenderer, Probes) {
    for (const Probe& probe : kProbes) {
        RenderTarget fresh(GetParam(), 64, 64);
        fresh.s->clear->color.value = {0.2f, 0.4f, 0.6f, 1.0f};
        probe.draw(fresh);
        fresh.frame();
        for (const auto& [x, y, colour] : probe.expected)
            EXPECT_TRUE(near(fresh.at(x, y), colour)) << probe.what << " at (" << x << ", " << y << ")";
    }
}

INSTANTIATE_TEST_SUITE_P(Renderers, EachRenderer, ::testing::ValuesIn(kAll), name);

// The ES1 renderer places tiled sprites from their centre rounded down to whole units, and has
// no half-pixel starting offset; stretched sprites land alike. A sprite of x 6.7 to 14.7:
TEST(ES1Differs, TiledSpritesFromTheirCentreRoundedDown) {
    struct Case {
        Renderer renderer;
        bool tiled;
        bool pixel6, pixel14;  // white at x 6 and at x 14
    } cases[] = {
        {Renderer::ES1, true, true, false},
        {Renderer::ES1, false, false, true},
        {Renderer::ES2Batched, true, false, true},
        {Renderer::ES2Batched, false, false, true},
    };
    for (const Case& c : cases) {
        RenderTarget t(c.renderer, 32, 32);
        ASSERT_TRUE(t.context) << t.failure;
        SGSpriteNode* sprite = t.s->sprite(10.7f, 8, 8, 4);
        sprite->image.value = t.texture(1, 1, {0xffffffff});
        if (c.tiled) {
            sprite->horizontalWrapping.setValue(SGSpriteTiled);
            sprite->tileWidth.setValue(4);
        }
        t.s->clear->color.value = SGBlackColor;
        t.frame();
        EXPECT_EQ(t.at(6, 8)[0] == 255, c.pixel6) << rendererName(c.renderer) << (c.tiled ? " tiled" : "");
        EXPECT_EQ(t.at(14, 8)[0] == 255, c.pixel14) << rendererName(c.renderer) << (c.tiled ? " tiled" : "");
    }
}
