// The ES1 renderer on real pixels (llvmpipe). One scene with every node path is drawn by both
// renderers and must match pixel for pixel once the ES2 renderer's half-pixel starting offset is
// zeroed (the ES2 tests check that picture's content); then what only the ES1 renderer does.
#include <GLES/gl.h>
#include <gtest/gtest.h>

#include <array>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>

#include "platform/gl/HeadlessGL.h"
#include "scenegraph/SGScene.h"
#include "scenegraph/es1/SGRenderManagerES1.h"
#include "scenegraph/es2/SGRenderManagerES2.h"
#include "scenegraph/SGRenderMath.h"
#include "scenegraph/nodes/SGClearNode.h"
#include "scenegraph/nodes/SGParticleSystemNode.h"
#include "scenegraph/nodes/SGReplicatorNode.h"
#include "scenegraph/nodes/SGSpriteNode.h"

namespace {

using RGBA = std::array<int, 4>;

// A context of one API set up as a host sets up its renderer, and a scene whose ortho space
// covers the surface pixel for pixel, y up.
struct Scene {
    Scene(plat::gl::Api api, int size) {
        std::string error;
        context = plat::gl::HeadlessContext::create(size, size, api, &error);
        if (!context) ADD_FAILURE() << error;
        if (!context) return;
        context->makeCurrent();
        DKShouldUseGLES2 = api == plat::gl::Api::ES2;
        DKShouldUseGLES2 ? SGRenderManagerES2_setUpGL() : SGRenderManagerES1_setUpGL();
        glEnable(GL_BLEND);
        glViewport(0, 0, size, size);
        scene = std::make_unique<SGScene>(nullptr, nullptr);
        clear = static_cast<SGClearNode*>(scene->defaultSpace().createNode(SGNodeClassClearNode));
        ortho = space(0, 0, float(size));
    }
    ~Scene() {
        if (context) context->makeCurrent();
        scene.reset();
    }
    SGOrtho2DSpace* space(float x, float y, float size) {
        auto* o = static_cast<SGOrtho2DSpace*>(scene->createSpace(SGNodeClassOrtho2DSpace));
        o->x.setValue(x);
        o->y.setValue(y);
        o->width.setValue(size);
        o->height.setValue(size);
        o->near.setValue(-1.0f);
        o->far.setValue(1.0f);
        return o;
    }
    template <class Node = SGSpriteNode>
    Node* make(SGSpace* in, SGNodeClass nodeClass = SGNodeClassSpriteNode) {
        return static_cast<Node*>(in->createNode(nodeClass));
    }
    SGSpriteNode* sprite(float x, float y, float w, float h, SGColor color, SGSpace* in = nullptr) {
        SGSpriteNode* s = make(in ? in : ortho);
        s->x.setValue(x);
        s->y.setValue(y);
        s->width.setValue(w);
        s->height.setValue(h);
        s->color.value = color;
        return s;
    }
    // RGBA texels listed bottom row first, sampled nearest.
    SGImage texture(int w, int h, const std::vector<uint32_t>& texels, bool premultiplied = false) {
        std::vector<uint8_t> bytes;
        for (uint32_t p : texels)
            bytes.insert(bytes.end(), {uint8_t(p >> 24), uint8_t(p >> 16), uint8_t(p >> 8), uint8_t(p)});
        GLint bound = 0;  // put the binding back: the ES2 renderer caches it
        glGetIntegerv(GL_TEXTURE_BINDING_2D, &bound);
        GLuint name = 0;
        glGenTextures(1, &name);
        glBindTexture(GL_TEXTURE_2D, name);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
        glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, w, h, 0, GL_RGBA, GL_UNSIGNED_BYTE, bytes.data());
        glBindTexture(GL_TEXTURE_2D, static_cast<GLuint>(bound));
        return {w, h, name, w, h, {0, 0, 1, 1}, premultiplied ? 1 : 0};
    }
    void frame() {
        std::srand(1);  // particle lives come from rand
        scene->render();
        pixels = context->readPixels();
        EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
    }
    RGBA at(int x, int y) const {  // from the bottom-left corner
        size_t i = (size_t(context->height() - 1 - y) * context->width() + x) * 4;
        return {pixels[i], pixels[i + 1], pixels[i + 2], pixels[i + 3]};
    }

    std::unique_ptr<plat::gl::HeadlessContext> context;
    std::unique_ptr<SGScene> scene;
    SGClearNode* clear = nullptr;
    SGOrtho2DSpace* ortho = nullptr;
    std::vector<uint8_t> pixels;
};

const RGBA black{0, 0, 0, 255}, white{255, 255, 255, 255};

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

// Every node path: plain, rotated, layered, textured, mirrored, fixed-size and tiled sprites, each
// blend mode, premultiplied images, replicators, wrap spaces (one exactly half way), a turned
// camera over a nested replicator, particles plain and textured, and cameras with no view volume.
void everyPath(Scene& s) {
    s.clear->color.value = {0.2f, 0.4f, 0.6f, 1.0f};
    SGImage quad = s.texture(2, 2, {0x0000ffff, 0xffffffff, 0xff0000ff, 0x00ff00ff});
    SGImage big = quad;
    big.textureWidth = big.textureHeight = 8;
    s.sprite(20, 12, 16, 8, {1, 0, 0, 1});
    s.sprite(20, 40, 20, 4, {0, 1, 0, 1})->angle.setValue(90);
    s.sprite(46, 32, 24, 2, {1, 1, 0, 1})->angle.setValue(45);
    s.sprite(48, 10, 12, 12, {0, 0, 1, 1})->layer = 2;
    s.sprite(52, 14, 12, 12, {1, 0, 1, 1})->layer = 1;
    s.sprite(80, 52, 16, 16, SGWhiteColor)->image.value = quad;
    SGImage mirrored = quad;
    mirrored.textureRect.flipHorizontally();
    mirrored.textureRect.flipVertically();
    s.sprite(100, 52, 16, 16, SGWhiteColor)->image.value = mirrored;
    SGSpriteNode* fixed = s.sprite(116, 40, 20, 6, SGWhiteColor);
    fixed->image.value = big;
    fixed->horizontalWrapping.setValue(SGSpriteFixed);
    fixed->verticalWrapping.setValue(SGSpriteFixed);
    fixed->verticalAnchor.setValue(SGAnchorEnd);
    SGSpriteNode* tiled = s.sprite(84, 84, 26, 22, SGWhiteColor);
    tiled->image.value = quad;
    tiled->horizontalWrapping.setValue(SGSpriteTiled);
    tiled->verticalWrapping.setValue(SGSpriteTiled);
    tiled->tileWidth.setValue(8);
    tiled->tileHeight.setValue(8);
    tiled->horizontalAnchor.setValue(SGAnchorCentre);
    SGSpriteNode* strip = s.sprite(111, 84, 12, 30, SGWhiteColor);  // tiled up, fixed across
    strip->image.value = big;
    strip->horizontalWrapping.setValue(SGSpriteFixed);
    strip->verticalWrapping.setValue(SGSpriteTiled);
    strip->tileHeight.setValue(7);
    strip->angle.setValue(90);
    for (int mode = 0; mode < 6; ++mode)
        s.sprite(70.0f + 10.0f * mode, 120, 8, 8, {1, 0.5f, 0, 0.5f})
            ->blendingMode.setValue(mode == 5 ? 9 : mode);
    SGImage premultiplied = s.texture(1, 1, {0x80000080}, true);
    s.sprite(72, 104, 8, 8, {1, 1, 1, 0.5f})->image.value = s.texture(1, 1, {0xff000080});
    s.sprite(82, 104, 8, 8, {1, 1, 1, 0.5f})->image.value = premultiplied;
    SGSpriteNode* added = s.sprite(92, 104, 8, 8, SGWhiteColor);
    added->image.value = premultiplied;
    added->blendingMode.setValue(SGBlendModeAdd);

    auto* replicator = s.make<SGReplicatorNode>(s.ortho, SGNodeClassReplicatorNode);
    replicator->copies.setValue(3);
    replicator->spacing.setValue(10);
    replicator->angle.setValue(90);
    s.sprite(8, 60, 6, 6, {1, 0, 0, 1}, replicator);
    auto* wrap = s.make<SGWrapNode>(s.ortho, SGNodeClassWrapNode);
    wrap->wrapX.setValue(true);
    wrap->wrapY.setValue(true);
    wrap->wrapWidth.setValue(128);
    wrap->wrapHeight.setValue(128);
    wrap->x.setValue(124);
    wrap->y.setValue(124);
    s.sprite(124, 124, 10, 10, {0, 1, 0, 1}, wrap);
    auto* half = s.make<SGWrapNode>(s.ortho, SGNodeClassWrapNode);
    half->wrapY.setValue(true);
    half->wrapHeight.setValue(40);
    half->y.setValue(20);  // exactly half way: the copy goes down, out of sight
    s.sprite(30, 20, 4, 4, {0, 1, 0, 1}, half);

    SGOrtho2DSpace* turned = s.space(-64, -64, 128);
    turned->modelRotation.setValue(90);
    auto* inner = s.make<SGReplicatorNode>(turned, SGNodeClassReplicatorNode);
    inner->copies.setValue(2);
    inner->spacing.setValue(12);
    s.sprite(4, -20, 6, 4, SGWhiteColor, inner);
    s.space(0, 0, 0);  // no view volume: draws nothing
    s.sprite(64, 64, 128, 128, {0, 0, 1, 1}, s.space(0, 0, 0));

    auto* plain = s.make<SGParticleSystemNode>(s.ortho, SGNodeClassParticleSystemNode);
    plain->numParticles.setValue(40);
    plain->lifetime.setValue(4);
    plain->lifestart.setValue(2);
    plain->speed.setValue(10);
    plain->direction.setValue(60);
    plain->gravityY.setValue(-4);
    plain->size.setValue(3);
    plain->sizeTarget.setValue(8);
    plain->sizeTransitionTime.setValue(3);
    plain->color.value = {1, 0, 0, 1};
    plain->colorTarget.value = {0, 0, 1, 0.5f};
    plain->colorTransitionTime.setValue(3);
    plain->spawnParticles.setValue(true);
    plain->x.setValue(10);
    plain->y.setValue(90);
    plain->time.setValue(2.5f);
    auto* textured = s.make<SGParticleSystemNode>(s.ortho, SGNodeClassParticleSystemNode);
    textured->numParticles.setValue(3);
    textured->lifetime.setValue(10);
    textured->size.setValue(16);
    textured->sizeTarget.setValue(16);
    textured->rotation.setValue(30);
    textured->image.value = s.texture(2, 2, {0x0000ffff, 0xffffffff, 0xff0000ff, 0x00ff00ff}, true);
    textured->blendingMode.setValue(SGBlendModeScreen);
    textured->spawnParticles.setValue(true);
    textured->x.setValue(40);
    textured->y.setValue(110);
    textured->time.setValue(1);
    s.ortho->sortRenderNodes();
}

}  // namespace

TEST(ES1, DrawsWhatTheES2RendererDraws) {
    std::vector<uint8_t> pictures[2];
    for (plat::gl::Api api : {plat::gl::Api::ES2, plat::gl::Api::ES1}) {
        Scene s(api, 128);
        ASSERT_TRUE(s.context);
        if (api == plat::gl::Api::ES2)
            static_cast<SGRenderManagerES2&>(s.scene->renderManager()).setOffsets({{0, 0}});
        everyPath(s);
        s.frame();
        s.frame();  // particles on, and the tiles and caches reused
        pictures[api == plat::gl::Api::ES1] = s.pixels;
        if (api == plat::gl::Api::ES1) expectStateRestored();
    }
    int differing = 0;
    for (size_t i = 0; i < pictures[0].size(); ++i)
        if (std::abs(pictures[0][i] - pictures[1][i]) > 3 && differing++ < 5)
            ADD_FAILURE() << "differs at (" << i / 4 % 128 << ", " << 127 - i / 4 / 128 << ")";
    EXPECT_EQ(differing, 0);
    const uint8_t* red = &pictures[1][((127 - 12) * 128 + 20) * 4];  // the first sprite: not a blank picture
    EXPECT_TRUE(red[0] == 255 && red[1] == 0 && red[2] == 0);
}

TEST(ES1, EveryNewContextStartsWithTheCachedColours) {
    // After the first context the caches hold black; a new context's colour is white and its
    // clear colour transparent, so the black sprite would skip glColor4f and come out white, and
    // the clear would leave alpha 0, unless set-up hands GL the cached colours.
    for (int round = 0; round < 2; ++round) {
        Scene s(plat::gl::Api::ES1, 32);
        ASSERT_TRUE(s.context);
        s.clear->color.value = SGBlackColor;
        s.sprite(16, 16, 8, 8, SGBlackColor)->image.value = s.texture(1, 1, {0xffffffff});
        s.frame();
        EXPECT_EQ(s.at(16, 16), black) << "round " << round;
        EXPECT_EQ(s.at(28, 28), black) << "round " << round;
    }
}

TEST(ES1, TiledSpritesAreDrawnFromTheirCentreRoundedDown) {
    Scene s(plat::gl::Api::ES1, 32);
    ASSERT_TRUE(s.context);
    SGImage image = s.texture(1, 1, {0xffffffff});
    SGSpriteNode* tiled = s.sprite(10.7f, 8, 8, 4, SGWhiteColor);
    tiled->image.value = image;
    tiled->horizontalWrapping.setValue(SGSpriteTiled);
    tiled->tileWidth.setValue(4);
    s.sprite(10.7f, 24, 8, 4, SGWhiteColor)->image.value = image;  // stretched: not rounded
    s.frame();
    // Tiled: x 6 to 14 (centre 10); stretched: 6.7 to 14.7, so pixel 6 is out and 14 in.
    EXPECT_EQ(s.at(6, 8), white);
    EXPECT_EQ(s.at(14, 8), black);
    EXPECT_EQ(s.at(6, 24), black);
    EXPECT_EQ(s.at(14, 24), white);
}

TEST(ES1, ADrawnSpritePutsBlendModeZeroBackATransparentOneTouchesNothing) {
    Scene t(plat::gl::Api::ES1, 16);
    ASSERT_TRUE(t.context);
    t.sprite(4, 8, 4, 4, SGWhiteColor)->blendingMode.setValue(SGBlendModeAdd);
    t.sprite(12, 8, 4, 4, {1, 1, 1, 0})->blendingMode.setValue(SGBlendModeCopy);
    t.frame();
    expectStateRestored();
    EXPECT_EQ(t.at(4, 8), white);
    EXPECT_EQ(t.at(12, 8), black);
}
