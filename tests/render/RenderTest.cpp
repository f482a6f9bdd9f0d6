// The renderers on real pixels (llvmpipe): the scene of every node path drawn by the ES2 renderer
// batched and one call per sprite and by the ES1 renderer must each equal one reviewed picture,
// byte for byte, with the ES2 renderer's half-pixel starting offset zeroed; then probes of
// direction and blending, with colours worked out by hand, at each renderer's own placement; then
// the ES1 renderer's known difference. DK_UPDATE_EXPECTED=1 rewrites the picture.
#include <GLES2/gl2.h>
#include <gtest/gtest.h>

#include <functional>

#include "platform/image/ImageCodec.h"
#include "scenegraph/es2/SGRenderManagerES2.h"
#include "tests/render/RenderHarness.h"
#include "tests/support/TestSupport.h"

using namespace dktest;

namespace {

class EachRenderer : public ::testing::TestWithParam<Renderer> {};

// What a probe draws over a (0.2, 0.4, 0.6) background, and colours at points well inside shapes.
struct Probe {
    const char* what;
    std::function<void(RenderTarget&)> draw;
    std::vector<std::tuple<int, int, RGBA>> expected;
};

const RGBA kBack{51, 102, 153, 255}, kRed{255, 0, 0, 255}, kGreen{0, 255, 0, 255}, kBlue{0, 0, 255, 255};

// clang-format off
const Probe kProbes[] = {
    {"y runs up; rotation is counter-clockwise in degrees",
     [](RenderTarget& t) {
         t.s->sprite(20, 12, 16, 8, {1, 0, 0, 1});
         t.s->sprite(20, 40, 20, 4, {0, 1, 0, 1}, {.angle = 90});
     },
     {{27, 15, kRed}, {20, 18, kBack}, {20, 48, kGreen}, {28, 40, kBack}}},
    {"textures: top row up; flips mirror",
     [](RenderTarget& t) {
         SGImage image = t.texture(2, 2, {0xff0000ff, 0x00ff00ff, 0x0000ffff, 0xffffffff});
         t.s->sprite(16, 48, 24, 24, SGWhiteColor, {.image = image});
         image.textureRect.flipHorizontally();
         t.s->sprite(48, 48, 24, 24, SGWhiteColor, {.image = image});
     },
     {{10, 54, kRed}, {22, 54, kGreen}, {10, 42, kBlue}, {42, 54, kGreen}}},
    {"blend modes of (1, 0.5, 0, 0.5): over, copy, add, screen, multiply, any other over",
     [](RenderTarget& t) {
         const int modes[] = {0, 1, 2, 3, 4, 9};
         for (int i = 0; i < 6; ++i)
             t.s->sprite(5.0f + 10 * i, 32, 8, 8, {1, 0.5f, 0, 0.5f}, {.blend = modes[i]});
     },
     {{5, 32, {153, 115, 77, 255}}, {15, 32, {255, 128, 0, 255}}, {25, 32, {179, 166, 153, 255}},
      {35, 32, {128, 115, 153, 255}}, {45, 32, {51, 51, 0, 255}}, {55, 32, {153, 115, 77, 255}}}},
};
// clang-format on

}  // namespace

TEST_P(EachRenderer, EveryPathEqualsTheReviewedPicture) {
    RenderTarget t{GetParam(), 128, 128};
    ASSERT_TRUE(t.context) << t.failure;
    if (GetParam() != Renderer::ES1)
        static_cast<SGRenderManagerES2&>(t.s->scene.renderManager()).setOffsets({{0, 0}});
    everyPath(t);
    t.frame();
    t.frame();  // particles on, and the tiles and caches reused
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
    const std::string path = std::string(DK_TEST_DATA_DIR) + "/every-path.png";
    std::string error;
    if (dktest::updatingExpected() && GetParam() == Renderer::ES2Batched) {
        ASSERT_TRUE(plat::image::writePNG(path, 128, 128, t.pixels, &error)) << error;
    }
    int width = 0, height = 0;
    std::vector<uint8_t> expected;
    ASSERT_TRUE(plat::image::readPNG(path, &width, &height, &expected, &error)) << error;
    EXPECT_TRUE(expected == t.pixels) << "differs from " << path;
}

TEST_P(EachRenderer, ProbesLandWhereAndAsWorkedOut) {
    for (const Probe& probe : kProbes) {
        RenderTarget t(GetParam(), 64, 64);
        ASSERT_TRUE(t.context) << t.failure;
        t.s->clear->color.value = {0.2f, 0.4f, 0.6f, 1.0f};
        probe.draw(t);
        t.frame();
        for (const auto& [x, y, colour] : probe.expected)
            for (int i = 0; i < 3; ++i)  // the blend equations round
                EXPECT_NEAR(t.at(x, y)[i], colour[i], 2) << probe.what << " at (" << x << ", " << y << ")";
    }
}

INSTANTIATE_TEST_SUITE_P(Renderers, EachRenderer,
                         ::testing::Values(Renderer::ES2Batched, Renderer::ES2OneCallPerSprite,
                                           Renderer::ES1),
                         [](const auto& info) { return std::string(rendererName(info.param)); });

// The ES1 renderer places tiled sprites from their centre rounded down to whole units, and has
// no half-pixel starting offset; stretched sprites land alike. A sprite of x 6.7 to 14.7, white
// at x 6 and at x 14:
TEST(ES1Differs, TiledSpritesFromTheirCentreRoundedDown) {
    for (auto [renderer, tiled, pixel6, pixel14] : {std::tuple{Renderer::ES1, true, true, false},
                                                    {Renderer::ES1, false, false, true},
                                                    {Renderer::ES2Batched, true, false, true}}) {
        RenderTarget t(renderer, 32, 32);
        ASSERT_TRUE(t.context) << t.failure;
        t.s->clear->color.value = SGBlackColor;
        t.s->sprite(10.7f, 8, 8, 4, SGWhiteColor,
                    {.image = t.texture(1, 1, {0xffffffff}), .hWrap = tiled ? SGSpriteTiled : 0, .tileW = 4});
        t.frame();
        const std::string what = std::string(rendererName(renderer)) + (tiled ? " tiled" : "");
        EXPECT_EQ(t.at(6, 8)[0] == 255, pixel6) << what;
        EXPECT_EQ(t.at(14, 8)[0] == 255, pixel14) << what;
    }
}
