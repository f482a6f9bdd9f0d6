// What only the ES1 renderer keeps: the colours it caches across contexts, and the GL state a
// frame leaves behind.
#include <GLES/gl.h>
#include <gtest/gtest.h>

#include "tests/render/RenderHarness.h"

using dktest::Renderer;
using dktest::RenderTarget;
using dktest::RGBA;

namespace {

const RGBA kBlack{0, 0, 0, 255}, kWhite{255, 255, 255, 255};

// After a frame: blend mode 0 and the matrix stacks as the frame found them.
void expectStateRestored() {
    GLint value = 0;
    for (GLenum depth : {GL_MODELVIEW_STACK_DEPTH, GL_PROJECTION_STACK_DEPTH}) {
        glGetIntegerv(depth, &value);
        EXPECT_EQ(value, 1);
    }
    glGetIntegerv(GL_MATRIX_MODE, &value);
    EXPECT_EQ(value, GL_MODELVIEW);
    glGetIntegerv(GL_BLEND_DST, &value);
    EXPECT_EQ(value, GL_ONE_MINUS_SRC_ALPHA);
}

}  // namespace

TEST(ES1, EveryNewContextStartsWithTheCachedColours) {
    // After the first context the caches hold black; a new context's colour is white and its
    // clear colour transparent, so the black sprite would skip glColor4f and come out white, and
    // the clear would leave alpha 0, unless set-up hands GL the cached colours.
    for (int round = 0; round < 2; ++round) {
        RenderTarget t(Renderer::ES1, 32, 32);
        ASSERT_TRUE(t.context) << t.failure;
        t.s->clear->color.value = SGBlackColor;
        t.s->sprite(16, 16, 8, 8, SGBlackColor)->image.value = t.texture(1, 1, {0xffffffff});
        t.frame();
        EXPECT_EQ(t.at(16, 16), kBlack) << "round " << round;
        EXPECT_EQ(t.at(28, 28), kBlack) << "round " << round;
    }
}

TEST(ES1, FramesLeaveTheStacksAndBlendModeZeroAsFound) {
    RenderTarget t(Renderer::ES1, 128, 128);
    ASSERT_TRUE(t.context) << t.failure;
    dktest::everyPath(t);
    t.frame();
    expectStateRestored();
}

TEST(ES1, ADrawnSpritePutsBlendModeZeroBackATransparentOneTouchesNothing) {
    RenderTarget t(Renderer::ES1, 16, 16);
    ASSERT_TRUE(t.context) << t.failure;
    t.s->sprite(4, 8, 4, 4)->blendingMode.setValue(SGBlendModeAdd);
    t.s->sprite(12, 8, 4, 4, {1, 1, 1, 0})->blendingMode.setValue(SGBlendModeCopy);
    t.frame();
    expectStateRestored();
    EXPECT_EQ(t.at(4, 8), kWhite);
    EXPECT_EQ(t.at(12, 8), kBlack);
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
}
