// The renderers on real pixels (llvmpipe): the scene of every node path drawn by the ES2 renderer
// batched and one call per sprite and by the ES1 renderer must each equal one reviewed picture,
// byte for byte, with the ES2 renderer's half-pixel starting offset zeroed; then the ES1
// renderer's known difference. DK_UPDATE_PICTURES=1 rewrites the picture.
#include <GLES2/gl2.h>
#include <gtest/gtest.h>

#include <cstdlib>

#include "scenegraph/es2/SGRenderManagerES2.h"
#include "tests/render/RenderHarness.h"

using namespace dktest;

namespace {

class EachRenderer : public ::testing::TestWithParam<Renderer> {};

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
    if (std::getenv("DK_UPDATE_PICTURES") && GetParam() == Renderer::ES2Batched) {
        ASSERT_TRUE(plat::gl::writePNG(path, 128, 128, t.pixels, &error)) << error;
    }
    int width = 0, height = 0;
    std::vector<uint8_t> expected;
    ASSERT_TRUE(plat::gl::readPNG(path, &width, &height, &expected, &error)) << error;
    EXPECT_TRUE(expected == t.pixels) << "differs from " << path;
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
