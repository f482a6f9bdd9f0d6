// The renderer's GL state: set-up once per context, caches that survive nothing they should not,
// and how many draw calls a frame makes.
#include <GLES2/gl2.h>
#include <gtest/gtest.h>

#include <vector>

#include "scenegraph/es2/SGRenderManagerES2.h"
#include "scenegraph/SGRenderMath.h"
#include "scenegraph/es2/tests/ES2TestScene.h"

namespace {

class State : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(s.context) << s.failure;
        s.clear->color.value = {0.2f, 0.4f, 0.6f, 1.0f};
    }
    void TearDown() override {
        EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
        SGRenderManagerES2::setBatching(true);
    }

    // Draw calls of one frame.
    uint64_t drawCallsOfFrame() {
        uint64_t before = SGRenderManagerES2::drawCallCount();
        s.frame();
        return SGRenderManagerES2::drawCallCount() - before;
    }

    ES2Scene s{64, 64};
};

}  // namespace

TEST_F(State, RebuildKeepsTheProgramAndResetsEveryCache) {
    GLint program = 0;
    glGetIntegerv(GL_CURRENT_PROGRAM, &program);
    SGSpriteNode* added = s.sprite(32, 32, 16, 16, {1, 0.5f, 0, 0.5f});
    added->blendingMode.setValue(SGBlendModeAdd);
    s.frame();  // the caches now hold the add mode

    // The view rebuilds its frame buffer: set-up, then its own blend function.
    SGRenderManagerES2_setUpGL();
    GLint again = 0;
    glGetIntegerv(GL_CURRENT_PROGRAM, &again);
    EXPECT_EQ(again, program);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    s.frame();
    EXPECT_TRUE(near(s.at(32, 32), {179, 166, 153}));  // still added, not blended over
}

TEST_F(State, AFreedTextureNameReusedIsBoundAgain) {
    SGImage first = s.texture(1, 1, {0xff0000ff});
    SGSpriteNode* sprite = s.sprite(32, 32, 16, 16);
    sprite->image.value = first;
    s.frame();
    EXPECT_TRUE(near(s.at(32, 32), {255, 0, 0}));

    first.freeImage();
    s.textures.erase(std::find(s.textures.begin(), s.textures.end(), first.texture));
    SGImage second = s.texture(1, 1, {0x00ff00ff}, false, first.texture);  // the name comes back
    sprite->image.value = second;
    sprite->x.setValue(33);  // mark it dirty so it reads the new image
    s.frame();
    EXPECT_TRUE(near(s.at(32, 32), {0, 255, 0}));
}

TEST_F(State, AttributePointersAreKeyedByLayoutNotJustAddress) {
    // Draw straight in clip space through one manager, the copy offset at the origin.
    auto& manager = dynamic_cast<SGRenderManagerES2&>(s.ortho->renderManager());
    manager.setOffsets({{0.0f, 0.0f}});
    GLint program = 0;
    glGetIntegerv(GL_CURRENT_PROGRAM, &program);
    const float identity[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
    glUniformMatrix4fv(glGetUniformLocation(static_cast<GLuint>(program), "u_mvpMatrix"), 1, GL_FALSE,
                       identity);
    glClearColor(0, 0, 0, 1);
    glClear(GL_COLOR_BUFFER_BIT);
    glBindTexture(GL_TEXTURE_2D, 0);
    SGRenderManagerES2::textureDeleted(0);
    SGImage image = s.texture(2, 2, {0xff0000ff, 0x00ff00ff, 0x0000ffff, 0xffffffff});
    glBindTexture(GL_TEXTURE_2D, image.texture);

    // Left half: (x, y, u, v, r, g, b, a), stride 32, sampling the top-right texel (green).
    std::vector<float> buffer(64, 0.0f);
    const float left[] = {-1, 1,  .75f, .75f, 1, 1, 1, 1, 0, 1,  .75f, .75f, 1, 1, 1, 1,
                          -1, -1, .75f, .75f, 1, 1, 1, 1, 0, -1, .75f, .75f, 1, 1, 1, 1};
    std::copy(std::begin(left), std::end(left), buffer.begin());
    manager.drawArrays(GL_TRIANGLE_STRIP, 4, buffer.data(), true, true);
    // The same memory now holds (x, y, u, v), stride 16, for the right half.
    std::fill(buffer.begin(), buffer.end(), 0.0f);
    const float right[] = {0, 1, .75f, .75f, 1, 1, .75f, .75f, 0, -1, .75f, .75f, 1, -1, .75f, .75f};
    std::copy(std::begin(right), std::end(right), buffer.begin());
    manager.drawArrays(GL_TRIANGLE_STRIP, 4, buffer.data(), true, false);
    s.pixels = s.context->readPixels();
    for (int y : {4, 32, 60})
        for (int x : {16, 36, 60}) EXPECT_TRUE(near(s.at(x, y), {0, 255, 0})) << x << ", " << y;
}

TEST_F(State, DrawCallsPerFrame) {
    SGImage image = s.texture(1, 1, {0xffffffff});
    for (int i = 0; i < 100; ++i) s.sprite(static_cast<float>(i % 60), 20, 4, 4)->image.value = image;
    s.sprite(10, 50, 8, 8, {1, 1, 1, 0});  // transparent: never drawn
    EXPECT_EQ(drawCallsOfFrame(), 1u);
    SGRenderManagerES2::setBatching(false);
    EXPECT_EQ(drawCallsOfFrame(), 100u);

    // Particles go 5000 to a call.
    auto* particles = static_cast<SGParticleSystemNode*>(s.ortho->createNode(SGNodeClassParticleSystemNode));
    particles->numParticles.setValue(5001);
    EXPECT_EQ(drawCallsOfFrame(), 102u);
}

TEST_F(State, BatchingDrawsExactlyThePixelsOfOneCallPerSprite) {
    SGImage image = s.texture(3, 2, {0xff0000ff, 0x00ff0080, 0x0000ffff, 0xffffff40, 0x00000000, 0x808080ff});
    SGImage premultiplied = s.texture(1, 2, {0x40404040, 0x00ff00ff}, true);
    for (SGImage* im : {&image, &premultiplied}) {
        glBindTexture(GL_TEXTURE_2D, im->texture);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    }
    SGRenderManagerES2::textureDeleted(premultiplied.texture);
    SGRenderManagerES2::textureDeleted(image.texture);
    std::srand(7);
    auto r = [](float lo, float hi) { return lo + (hi - lo) * static_cast<float>(std::rand()) / RAND_MAX; };
    for (int i = 0; i < 400; ++i) {
        SGSpriteNode* sprite =
            s.sprite(r(-5, 69), r(-5, 69), r(1, 30), r(1, 30), {r(0, 1), r(0, 1), r(0, 1), r(0.1f, 1)});
        sprite->angle.setValue(i % 3 ? r(-400, 400) : 0.0f);
        sprite->blendingMode.setValue(i % 7 == 0 ? 2 : i % 11 == 0 ? 3 : 0);
        int kind = i % 5;
        if (kind == 1 || kind == 2) sprite->image.value = image;
        if (kind == 3) sprite->image.value = premultiplied;
        if (kind == 4) {
            sprite->image.value = image;
            sprite->horizontalWrapping.setValue(SGSpriteFixed);
        }
    }
    s.frame();
    std::vector<uint8_t> batched = s.pixels;
    SGRenderManagerES2::setBatching(false);
    s.frame();
    size_t differing = 0;
    for (size_t i = 0; i < batched.size(); ++i) differing += batched[i] != s.pixels[i];
    EXPECT_EQ(differing, 0u);
}
