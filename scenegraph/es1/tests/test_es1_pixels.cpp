// What only the ES1 renderer does, on real pixels: the state a fresh context must be given, tiled
// sprites on whole units, blend and matrix state after a frame.
#include <GLES/gl.h>
#include <gtest/gtest.h>

#include "scenegraph/es1/tests/RenderScene.h"
#include "scenegraph/es2/SGRenderMath.h"

namespace {

const RGBA black{0, 0, 0, 255}, white{255, 255, 255, 255};

std::unique_ptr<RenderScene> es1(int size = 32) {
    auto s = std::make_unique<RenderScene>(plat::gl::Api::ES1, size, size);
    EXPECT_TRUE(s->context) << s->failure;
    return s;
}

void expectNoGLError() {
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
}

}  // namespace

TEST(ES1, EveryNewContextStartsWithTheCachedColours) {
    // The first context leaves the caches at black; a new context's own colour is white and its
    // clear colour transparent, so unless set-up hands GL the cached values, the black sprite
    // below skips glColor4f and comes out white, and the clear leaves alpha 0.
    for (int round = 0; round < 2; ++round) {
        auto s = es1();
        if (!s->context) return;
        s->clear->color.value = SGBlackColor;
        s->sprite(16, 16, 8, 8, SGBlackColor);
        s->frame();
        EXPECT_EQ(s->at(16, 16), black) << "round " << round;
        EXPECT_EQ(s->at(28, 28), black) << "round " << round;  // opaque: alpha 255
        expectNoGLError();
    }
}

TEST(ES1, TiledSpritesAreDrawnFromTheirCentreRoundedDown) {
    auto s = es1();
    if (!s->context) return;
    s->clear->color.value = SGBlackColor;
    SGImage white1x1 = s->texture(1, 1, {0xffffffff});
    SGSpriteNode* tiled = s->sprite(10.7f, 8, 8, 4);
    tiled->image.value = white1x1;
    tiled->horizontalWrapping.setValue(SGSpriteTiled);
    tiled->tileWidth.setValue(4);
    tiled->tileHeight.setValue(4);
    s->sprite(10.7f, 24, 8, 4)->image.value = white1x1;  // stretched: not rounded
    s->frame();
    // Tiled: x 6 to 14 (centre 10); stretched: 6.7 to 14.7, so pixel 6 is out and 14 in.
    EXPECT_TRUE(near(s->at(6, 8), white));
    EXPECT_TRUE(near(s->at(14, 8), black));
    EXPECT_TRUE(near(s->at(6, 24), black));
    EXPECT_TRUE(near(s->at(14, 24), white));
    expectNoGLError();
}

TEST(ES1, FrameLeavesBlendModeZeroAndTheMatrixStacksAsItFoundThem) {
    auto s = es1(64);
    if (!s->context) return;
    s->ortho->modelRotation.setValue(30);
    auto* replicator = s->node<SGReplicatorNode>(SGNodeClassReplicatorNode);
    replicator->copies.setValue(3);
    replicator->spacing.setValue(8);
    auto* wrap = s->node<SGWrapNode>(SGNodeClassWrapNode, replicator);
    wrap->wrapX.setValue(true);
    wrap->wrapY.setValue(true);
    wrap->wrapWidth.setValue(64);
    wrap->wrapHeight.setValue(64);
    SGSpriteNode* tiled = s->sprite(10, 10, 12, 12, SGWhiteColor, wrap);
    tiled->image.value = s->texture(1, 1, {0xffffffff});
    tiled->horizontalWrapping.setValue(SGSpriteTiled);
    tiled->verticalWrapping.setValue(SGSpriteTiled);
    tiled->tileWidth.setValue(5);
    tiled->tileHeight.setValue(5);
    tiled->blendingMode.setValue(SGBlendModeAdd);
    s->frame();
    GLint depth = 0, source = 0, dest = 0, mode = 0;
    glGetIntegerv(GL_MODELVIEW_STACK_DEPTH, &depth);
    EXPECT_EQ(depth, 1);
    glGetIntegerv(GL_PROJECTION_STACK_DEPTH, &depth);
    EXPECT_EQ(depth, 1);
    glGetIntegerv(GL_MATRIX_MODE, &mode);
    EXPECT_EQ(mode, GL_MODELVIEW);
    glGetIntegerv(GL_BLEND_SRC, &source);
    glGetIntegerv(GL_BLEND_DST, &dest);
    EXPECT_EQ(source, GL_SRC_ALPHA);
    EXPECT_EQ(dest, GL_ONE_MINUS_SRC_ALPHA);
    EXPECT_EQ(SGCurrentDestFactor, static_cast<uint32_t>(GL_ONE_MINUS_SRC_ALPHA));

    // A sprite that is fully transparent touches nothing, the blend function included.
    tiled->color.value = {1, 1, 1, 0};
    tiled->x.setValue(11.0f);  // marks the sprite for a new draw record
    SGSetBlendMode(SGBlendModeAdd, 0);
    s->frame();
    glGetIntegerv(GL_BLEND_DST, &dest);
    EXPECT_EQ(dest, GL_ONE);
    SGSetBlendMode(SGBlendModeAlpha, 0);
    expectNoGLError();
}
