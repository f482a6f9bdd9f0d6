// What only the ES1 renderer keeps: the colours it caches across contexts, and the GL state a
// frame leaves behind.
#include <GLES/gl.h>
#include <gtest/gtest.h>

#include "tests/render/RenderHarness.h"

using dktest::Renderer;
using dktest::RenderTarget;
using dktest::RGBA;

TEST(ES1, EveryNewContextStartsWithTheCachedColours) {
    // After the first context the caches hold black; a new context's colour is white and its
    // clear colour transparent, so the black sprite would skip glColor4f and come out white, and
    // the clear would leave alpha 0, unless set-up hands GL the cached colours.
    for (int round = 0; round < 2; ++round) {
        RenderTarget t(Renderer::ES1, 32, 32);
        ASSERT_TRUE(t.context) << t.failure;
        t.s->clear->color.value = SGBlackColor;
        t.s->sprite(16, 16, 8, 8, SGBlackColor, {.image = t.texture(1, 1, {0xffffffff})});
        t.frame();
        EXPECT_EQ(t.at(16, 16), (RGBA{0, 0, 0, 255})) << "round " << round;
        EXPECT_EQ(t.at(28, 28), (RGBA{0, 0, 0, 255})) << "round " << round;
    }
}

// The scene of every path, then drawn last an added sprite, which puts blend mode 0 back, and a
// transparent one in copy mode over it, which touches nothing: not the pixels, not the blending.
TEST(ES1, FramesLeaveTheStacksAndBlendModeZeroAsFound) {
    RenderTarget t(Renderer::ES1, 128, 128);
    ASSERT_TRUE(t.context) << t.failure;
    dktest::everyPath(t);
    SGOrtho2DSpace* last = t.s->space(0, 0, 128, 128);
    t.s->sprite(4, 4, 8, 8, SGWhiteColor, {.blend = SGBlendModeAdd}, last);
    t.s->sprite(4, 4, 4, 4, {1, 1, 1, 0}, {.blend = SGBlendModeCopy}, last);
    t.frame();
    EXPECT_EQ(t.at(4, 4), (RGBA{255, 255, 255, 255}));
    GLint value = 0;
    for (auto [name, expected] : {std::pair<GLenum, GLint>{GL_MODELVIEW_STACK_DEPTH, 1},
                                  {GL_PROJECTION_STACK_DEPTH, 1},
                                  {GL_MATRIX_MODE, GL_MODELVIEW},
                                  {GL_BLEND_DST, GL_ONE_MINUS_SRC_ALPHA}}) {
        glGetIntegerv(name, &value);
        EXPECT_EQ(value, expected) << name;
    }
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
}
