// The ES2 renderer's own state: set-up once per context, caches that survive nothing they should
// not, draw calls per frame, and the copy offsets replicators and wrap spaces hand down.
#include <GLES2/gl2.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <vector>

#include "scenegraph/es2/SGRenderManagerES2.h"
#include "scenegraph/tests/SceneGraphTestSupport.h"
#include "tests/render/RenderHarness.h"

using dktest::RGBA;

namespace {

class ES2State : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(t.context) << t.failure;
        t.s->clear->color.value = {0.2f, 0.4f, 0.6f, 1.0f};
    }
    void TearDown() override { EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR)); }

    uint64_t drawCallsOfFrame() {
        uint64_t before = SGRenderManagerES2::drawCallCount();
        t.frame();
        return SGRenderManagerES2::drawCallCount() - before;
    }
    static const std::vector<SGRenderManagerES2::Offset>& offsetsOf(SGSpace* space) {
        return dynamic_cast<SGRenderManagerES2&>(space->renderManager()).offsets();
    }

    dktest::RenderTarget t{dktest::Renderer::ES2Batched, 64, 64};
};

const RGBA kRed{255, 0, 0, 255}, kGreen{0, 255, 0, 255};

}  // namespace

TEST_F(ES2State, RebuildKeepsTheProgramAndResetsEveryCache) {
    GLint program = 0, again = 0;
    glGetIntegerv(GL_CURRENT_PROGRAM, &program);
    t.s->sprite(32, 32, 16, 16, {1, 0.5f, 0, 0.5f}, {.blend = SGBlendModeAdd});
    t.frame();  // the caches now hold the add mode
    // The view rebuilds its frame buffer: set-up, then its own blend function.
    SGRenderManagerES2_setUpGL();
    glGetIntegerv(GL_CURRENT_PROGRAM, &again);
    EXPECT_EQ(again, program);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    t.frame();
    EXPECT_EQ(t.at(32, 32), (RGBA{179, 166, 153, 255}));  // still added, not blended over
}

TEST_F(ES2State, AFreedTextureNameReusedIsBoundAgain) {
    SGImage first = dktest::makeTexture(1, 1, std::vector<uint32_t>{0xff0000ff});
    SGSpriteNode* sprite = t.s->sprite(32, 32, 16, 16, SGWhiteColor, {.image = first});
    t.frame();
    EXPECT_EQ(t.at(32, 32), kRed);
    first.freeImage();
    sprite->image.value = t.texture(1, 1, {0x00ff00ff}, {.name = first.texture});  // the name comes back
    sprite->image.markAsDirty();  // so that it reads the new image
    t.frame();
    EXPECT_EQ(t.at(32, 32), kGreen);
}

TEST_F(ES2State, AttributePointersAreKeyedByLayoutNotJustAddress) {
    // Draw straight in clip space through one manager, the copy offset at the origin.
    auto& manager = dynamic_cast<SGRenderManagerES2&>(t.s->ortho->renderManager());
    manager.setOffsets({{0.0f, 0.0f}});
    GLint program = 0;
    glGetIntegerv(GL_CURRENT_PROGRAM, &program);
    const float identity[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
    glUniformMatrix4fv(glGetUniformLocation(GLuint(program), "u_mvpMatrix"), 1, GL_FALSE, identity);
    glClearColor(0, 0, 0, 1);
    glClear(GL_COLOR_BUFFER_BIT);
    glBindTexture(GL_TEXTURE_2D, t.texture(2, 2, {0xff0000ff, 0x00ff00ff, 0x0000ffff, 0xffffffff}).texture);
    SGRenderManagerES2::textureDeleted(0);
    // Left half as (x, y, u, v, r, g, b, a), stride 32, sampling the top-right texel (green); then
    // the same memory holds (x, y, u, v), stride 16, for the right half.
    std::vector<float> buffer(64, 0.0f);
    const float left[] = {-1, 1,  .75f, .75f, 1, 1, 1, 1, 0, 1,  .75f, .75f, 1, 1, 1, 1,
                          -1, -1, .75f, .75f, 1, 1, 1, 1, 0, -1, .75f, .75f, 1, 1, 1, 1};
    std::ranges::copy(left, buffer.begin());
    manager.drawArrays(GL_TRIANGLE_STRIP, 4, buffer.data(), true, true);
    std::ranges::fill(buffer, 0.0f);
    const float right[] = {0, 1, .75f, .75f, 1, 1, .75f, .75f, 0, -1, .75f, .75f, 1, -1, .75f, .75f};
    std::ranges::copy(right, buffer.begin());
    manager.drawArrays(GL_TRIANGLE_STRIP, 4, buffer.data(), true, false);
    t.pixels = t.context->readPixels();
    for (int y : {4, 32, 60})
        for (int x : {16, 36, 60}) EXPECT_EQ(t.at(x, y), kGreen) << x << ", " << y;
}

TEST_F(ES2State, DrawCallsPerFrame) {
    SGImage image = t.texture(1, 1, {0xffffffff});
    for (int i = 0; i < 100; ++i) t.s->sprite(float(i % 60), 20, 4, 4, SGWhiteColor, {.image = image});
    t.s->sprite(10, 50, 8, 8, {1, 1, 1, 0});                                 // transparent: never drawn
    t.s->sprite(32, 32, 64, 64, {1, 0, 0, 1}, {}, t.s->space(0, 0, 0, 64));  // no projection: never drawn
    EXPECT_EQ(drawCallsOfFrame(), 1u);
    SGRenderManagerES2::setBatching(false);
    EXPECT_EQ(drawCallsOfFrame(), 100u);
    // Particles go 5000 to a call.
    t.s->make<SGParticleSystemNode>(SGNodeClassParticleSystemNode)->numParticles.setValue(5001);
    EXPECT_EQ(drawCallsOfFrame(), 102u);
}

// A batched frame keeps each sprite's quad from the frame before and writes it again only when the
// sprite changed or comes to another slot. After each edit the batched frame must equal the same
// scene drawn one call per sprite: a quad kept where it should have been written shows up.
TEST_F(ES2State, KeptQuadsFollowEveryEdit) {
    SGImage red = t.texture(1, 1, {0xff0000ff}), blue = t.texture(1, 1, {0x0000ffff});
    std::vector<SGSpriteNode*> row;
    for (int i = 0; i < 6; ++i)
        row.push_back(t.s->sprite(5.0f + 10 * i, 8, 6, 6, SGWhiteColor, {.image = i % 3 ? red : blue}));
    // A nested space's sprites go between the outer ones: two managers' quads in turn.
    SGSpace* nested = t.s->make<SGSpace>(SGNodeClassSpace);
    SGSpriteNode* inner = t.s->sprite(20, 30, 8, 8, {0, 1, 0, 1}, {}, nested);
    SGSpriteNode* last = t.s->sprite(50, 30, 8, 8, {1, 1, 0, 1});
    auto touch = [](SGSpriteNode* s) { s->color.markAsDirty(); };
    struct Edit {
        const char* what;
        std::function<void()> apply;
    };
    const Edit edits[] = {
        {"first frame", [] {}},
        {"nothing changed", [] {}},
        {"one moved", [&] { row[2]->y.setValue(20); }},
        {"two moved and one turned", [&] { row[2]->x.setValue(24), row[5]->y.setValue(4), row[3]->angle.setValue(30); }},
        {"one moved and recoloured at once", [&] { row[2]->x.setValue(26), row[2]->color.value.g = 0, touch(row[2]); }},
        {"one resized quietly, then moved",
         [&] { row[4]->width.value = 9, row[4]->width.noteStored(), row[4]->y.setValue(12); }},
        {"one moved in the nested space and one after it", [&] { inner->x.setValue(22), last->x.setValue(52); }},
        {"one hidden: the later ones come to earlier slots",
         [&] { row[1]->color.value.a = 0, touch(row[1]); }},
        {"one moved into the slot another held", [&] { row[2]->y.setValue(22); }},
        {"shown again", [&] { row[1]->color.value.a = 1, touch(row[1]); }},
        {"another texture", [&] { row[4]->image.value = blue, touch(row[4]); }},
        {"another blend", [&] { row[0]->blendingMode.setValue(int(SGBlendModeAdd)); }},
        {"the last removed and a new one made, likely at its address, as often computed",
         [&] {
             t.s->ortho->removeNode(last);
             last = t.s->sprite(40, 50, 8, 8, {1, 0, 1, 1});
         }},
        {"re-sorted", [&] { row[3]->layer = 1, t.s->ortho->sortRenderNodes(); }},
        {"a tiled sprite among them",
         [&] {
             t.s->sprite(32, 44, 12, 6, SGWhiteColor, {.image = red, .hWrap = 2, .tileW = 4});
             t.s->ortho->sortRenderNodes();
         }},
        {"GL set up again",
         [] { SGRenderManagerES2_setUpGL(), glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA); }},
    };
    for (const Edit& edit : edits) {
        edit.apply();
        t.frame();
        std::vector<uint8_t> batched = t.pixels;
        SGRenderManagerES2::setBatching(false);
        t.frame();
        SGRenderManagerES2::setBatching(true);
        EXPECT_TRUE(batched == t.pixels) << edit.what;
    }
}

// Every replicated copy is wrapped too, one wrap width towards the middle (itself counted far);
// however many copies are asked for, there is a cap.
TEST_F(ES2State, CopyOffsetsOfAWrapSpaceInAReplicator) {
    auto* replicator = t.s->make<SGReplicatorNode>(SGNodeClassReplicatorNode);
    dktest::setPorts(replicator, {{SGPortID::copies, 2}, {SGPortID::spacing, 10}, {SGPortID::angle, 90}});
    auto* wrap = t.s->make<SGWrapNode>(SGNodeClassWrapNode, replicator);
    dktest::setPorts(wrap, {{SGPortID::wrapX, 1}, {SGPortID::wrapWidth, 320}});
    for (auto [x, shift] : {std::pair{200.0f, -320.0f}, {160, -320}, {100, 320}}) {
        wrap->x.setValue(x);
        t.frame();
        EXPECT_EQ(offsetsOf(wrap),
                  (std::vector<SGRenderManagerES2::Offset>{
                      {0.5f, 0.5f}, {0.5f, 10.5f}, {0.5f + shift, 0.5f}, {0.5f + shift, 10.5f}}))
            << x;
    }
    auto* inner = t.s->make<SGReplicatorNode>(SGNodeClassReplicatorNode, replicator);
    replicator->copies.setValue(1 << 20);
    inner->copies.setValue(1 << 20);
    t.frame();
    EXPECT_LE(offsetsOf(inner).size(), size_t{1} << 16);
}

// When the engine's last state closes the renderer lets go of its GL objects: deleted in their
// own context, and built anew for a scene in a context made afterwards, even one EGL hands the
// old context's handle, with no set-up run by the host in between.
TEST(ES2Release, ANewContextAfterTheReleaseDrawsWithObjectsOfItsOwn) {
    GLint program = 0;
    {
        dktest::RenderTarget first{dktest::Renderer::ES2Batched, 16, 16};
        ASSERT_TRUE(first.context) << first.failure;
        first.s->sprite(8, 8, 16, 16, {1, 0, 0, 1});
        first.frame();
        glGetIntegerv(GL_CURRENT_PROGRAM, &program);
        ASSERT_TRUE(glIsProgram(static_cast<GLuint>(program)));
        SGReleaseRenderers();
        EXPECT_FALSE(glIsProgram(static_cast<GLuint>(program))) << "left in the context";
        EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
    }
    std::string failure;
    auto second = plat::gl::HeadlessContext::create(16, 16, plat::gl::Api::ES2, &failure);
    ASSERT_TRUE(second) << failure;
    second->makeCurrent();
    {
        dktest::OrthoScene s(16, 16);
        s.sprite(8, 8, 16, 16, {0, 1, 0, 1});
        s.scene.render();
        EXPECT_EQ(second->readPixels()[4 * (16 * 8 + 8) + 1], 255) << "the sprite is drawn";
        EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
    }
    SGReleaseRenderers();
}
