// Real pixels on llvmpipe: each case draws a small scene and probes it. Every case runs twice,
// with sprite batching on and off, which must draw the same pixels.
#include <GLES2/gl2.h>
#include <gtest/gtest.h>

#include <cstdlib>

#include "scenegraph/es2/SGRenderManagerES2.h"
#include "scenegraph/SGRenderMath.h"
#include "scenegraph/es2/tests/ES2TestScene.h"

namespace {

constexpr uint32_t kRed = 0xff0000ff, kGreen = 0x00ff00ff, kBlue = 0x0000ffff, kWhite = 0xffffffff;
const RGB red{255, 0, 0}, green{0, 255, 0}, blue{0, 0, 255}, white{255, 255, 255};
const RGB background{51, 102, 153};

class Pixels : public ::testing::TestWithParam<bool> {
protected:
    void SetUp() override {
        ASSERT_TRUE(s.context) << s.failure;
        SGRenderManagerES2::setBatching(GetParam());
        s.clear->color.value = {0.2f, 0.4f, 0.6f, 1.0f};
    }
    void TearDown() override {
        EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
        SGRenderManagerES2::setBatching(true);
    }

    // Top row red, green; bottom row blue, white.
    SGImage quadrants() { return s.texture(2, 2, {kRed, kGreen, kBlue, kWhite}); }

    ES2Scene s{64, 64};
};

}  // namespace

TEST_P(Pixels, ClearColourSpriteExtentsAndYUp) {
    s.sprite(20, 12, 16, 8, {1, 0, 0, 1});
    s.frame();
    EXPECT_TRUE(near(s.at(27, 15), red));
    EXPECT_TRUE(near(s.at(30, 12), background));
    EXPECT_TRUE(near(s.at(20, 18), background));
    EXPECT_TRUE(near(s.at(20, 51), background));  // y runs up: nothing near the top
}

TEST_P(Pixels, RotationIsCounterClockwiseInDegrees) {
    s.sprite(20, 32, 20, 4, {1, 0, 0, 1})->angle.setValue(90);
    s.sprite(46, 32, 24, 2, {0, 1, 0, 1})->angle.setValue(45);
    s.frame();
    EXPECT_TRUE(near(s.at(20, 40), red));
    EXPECT_TRUE(near(s.at(28, 32), background));
    EXPECT_TRUE(near(s.at(51, 37), green));  // up and to the right
    EXPECT_TRUE(near(s.at(51, 27), background));
}

TEST_P(Pixels, TextureOrientationAndFlips) {
    SGImage image = quadrants();
    s.sprite(16, 48, 24, 24)->image.value = image;
    SGImage mirrored = image;
    mirrored.textureRect.flipHorizontally();
    s.sprite(48, 48, 24, 24)->image.value = mirrored;
    SGImage upsideDown = image;
    upsideDown.textureRect.flipVertically();
    s.sprite(16, 16, 24, 24)->image.value = upsideDown;
    s.frame();
    EXPECT_TRUE(near(s.at(10, 54), red));
    EXPECT_TRUE(near(s.at(22, 54), green));
    EXPECT_TRUE(near(s.at(10, 42), blue));
    EXPECT_TRUE(near(s.at(42, 54), green));
    EXPECT_TRUE(near(s.at(10, 10), red));
}

TEST_P(Pixels, TilesStartAtTheBottomLeftAndCropTheLastColumn) {
    SGSpriteNode* tiled = s.sprite(32, 32, 20, 16);
    tiled->image.value = quadrants();
    tiled->horizontalWrapping.setValue(SGSpriteTiled);
    tiled->verticalWrapping.setValue(SGSpriteTiled);
    tiled->tileWidth.setValue(8);
    tiled->tileHeight.setValue(8);
    s.frame();
    // Columns from x 22.5 every 8 units; rows from y 24.5.
    EXPECT_TRUE(near(s.at(24, 30), red));
    EXPECT_TRUE(near(s.at(28, 26), white));
    EXPECT_TRUE(near(s.at(36, 38), green));
    // The last column is half a tile: the left half of the image, not squeezed.
    EXPECT_TRUE(near(s.at(40, 30), red));
    EXPECT_TRUE(near(s.at(41, 26), blue));
    EXPECT_TRUE(near(s.at(44, 30), background));
}

TEST_P(Pixels, FixedSizeSpriteKeepsTheImageSize) {
    SGSpriteNode* wide = s.sprite(32, 32, 60, 8);
    SGImage big = quadrants();
    big.textureWidth = big.textureHeight = 16;  // shown 16 × 16 units
    wide->image.value = big;
    wide->horizontalWrapping.setValue(SGSpriteFixed);
    wide->verticalWrapping.setValue(SGSpriteFixed);
    s.frame();
    // 16 wide (not 60), centred; 8 high: half the image's height, the bottom half at anchor start.
    EXPECT_TRUE(near(s.at(26, 30), blue));
    EXPECT_TRUE(near(s.at(38, 30), white));
    EXPECT_TRUE(near(s.at(44, 32), background));
    EXPECT_TRUE(near(s.at(32, 38), background));
}

TEST_P(Pixels, EachBlendMode) {
    // Colour (1, 0.5, 0, 0.5) over the background (0.2, 0.4, 0.6), by the GL blend equations.
    const RGB expected[] = {
        {153, 115, 77},   // 0: over
        {255, 128, 0},    // 1: copy
        {179, 166, 153},  // 2: add
        {128, 115, 153},  // 3: screen
        {51, 51, 0},      // 4: multiply
        {153, 115, 77},   // 9: any other value is over
    };
    const int modes[] = {0, 1, 2, 3, 4, 9};
    for (int i = 0; i < 6; ++i)
        s.sprite(5.0f + 10.0f * i, 32, 8, 8, {1, 0.5f, 0, 0.5f})->blendingMode.setValue(modes[i]);
    s.frame();
    for (int i = 0; i < 6; ++i) EXPECT_TRUE(near(s.at(5 + 10 * i, 32), expected[i])) << "mode " << modes[i];
}

TEST_P(Pixels, PremultipliedImagesBlendLikeStraightOnes) {
    SGImage straight = s.texture(1, 1, {0xff000080});
    SGImage premultiplied = s.texture(1, 1, {0x80000080}, true);
    s.sprite(16, 48, 16, 16)->image.value = straight;
    s.sprite(48, 48, 16, 16)->image.value = premultiplied;
    s.sprite(16, 16, 16, 16, {1, 1, 1, 0.5f})->image.value = straight;
    s.sprite(48, 16, 16, 16, {1, 1, 1, 0.5f})->image.value = premultiplied;
    s.frame();
    EXPECT_TRUE(near(s.at(16, 48), {153, 51, 77}));
    EXPECT_TRUE(near(s.at(48, 48), {153, 51, 77}));
    EXPECT_TRUE(near(s.at(16, 16), {102, 77, 115}));
    EXPECT_TRUE(near(s.at(48, 16), {102, 77, 115}));
}

TEST_P(Pixels, LayersOrderOnlyOnceSorted) {
    SGSpriteNode* top = s.sprite(32, 32, 20, 20, {1, 0, 0, 1});
    top->layer = 5;
    s.sprite(32, 32, 20, 20, {0, 1, 0, 1})->layer = 1;
    s.frame();
    EXPECT_TRUE(near(s.at(32, 32), green));  // insertion order until sorted
    s.ortho->sortRenderNodes();
    s.frame();
    EXPECT_TRUE(near(s.at(32, 32), red));
}

TEST_P(Pixels, ReplicatedAndWrappedCopies) {
    auto* replicator = s.make<SGReplicatorNode>(SGNodeClassReplicatorNode);
    replicator->copies.setValue(3);
    replicator->spacing.setValue(12);
    s.sprite(10, 10, 6, 6, {1, 0, 0, 1}, replicator);

    auto* wrap = s.make<SGWrapNode>(SGNodeClassWrapNode);
    wrap->wrapX.setValue(true);
    wrap->wrapY.setValue(true);
    wrap->wrapWidth.setValue(64);
    wrap->wrapHeight.setValue(64);
    wrap->x.setValue(60);
    wrap->y.setValue(60);
    s.sprite(60, 60, 10, 10, {0, 1, 0, 1}, wrap);
    s.frame();
    for (int x : {10, 22, 34}) EXPECT_TRUE(near(s.at(x, 10), red)) << x;
    for (int x : {16, 46}) EXPECT_TRUE(near(s.at(x, 10), background)) << x;
    EXPECT_TRUE(near(s.at(62, 62), green));
    EXPECT_TRUE(near(s.at(0, 62), green));  // one wrap width to the left
    EXPECT_TRUE(near(s.at(0, 0), green));   // and one wrap height down
    EXPECT_TRUE(near(s.at(30, 62), background));
}

TEST_P(Pixels, ParticlesMoveFallAndSampleTheirTexture) {
    SGParticleSystemNode* plain = s.particles(50, 10, 48, 6, {0, 1, 0, 1});
    plain->speed.setValue(20);
    plain->gravityY.setValue(-8);
    s.particles(3, 40, 16, 16)->image.value = quadrants();
    s.frame();
    // Age 1: x + 20, y - 4 (half of gravity times age squared).
    EXPECT_TRUE(near(s.at(30, 44), green));
    EXPECT_TRUE(near(s.at(10, 48), background));
    EXPECT_TRUE(near(s.at(36, 20), red));
    EXPECT_TRUE(near(s.at(44, 20), green));
    EXPECT_TRUE(near(s.at(36, 12), blue));
    EXPECT_TRUE(near(s.at(44, 12), white));
}

TEST_P(Pixels, SpritesOutsideEveryOrthoSpaceAndInADegenerateOneDrawNothing) {
    s.sprite(32, 32, 64, 64, {1, 0, 0, 1}, &s.scene->defaultSpace());
    SGOrtho2DSpace* flat = static_cast<SGOrtho2DSpace*>(s.scene->createSpace(SGNodeClassOrtho2DSpace));
    flat->height.setValue(64);  // width 0: no projection
    flat->near.setValue(-1);
    flat->far.setValue(1);
    s.sprite(32, 32, 64, 64, {0, 1, 0, 1}, flat);
    SGOrtho2DSpace* thin = static_cast<SGOrtho2DSpace*>(s.scene->createSpace(SGNodeClassOrtho2DSpace));
    thin->width.setValue(64);
    thin->height.setValue(64);  // near equal to far
    s.sprite(32, 32, 64, 64, {0, 0, 1, 1}, thin);
    uint64_t before = SGRenderManagerES2::drawCallCount();
    s.frame();
    EXPECT_EQ(SGRenderManagerES2::drawCallCount() - before, 1u);  // only the sprite outside: no projection
    EXPECT_TRUE(near(s.at(32, 32), background));
    EXPECT_TRUE(near(s.at(1, 1), background));
}

// A scene of every drawable kind against a reviewed picture; DK_UPDATE_PICTURES=1 rewrites it.
TEST_P(Pixels, WholeSceneMatchesItsPicture) {
    SGImage image = quadrants();
    SGSpriteNode* tiled = s.sprite(20, 48, 36, 24);
    tiled->image.value = image;
    tiled->horizontalWrapping.setValue(SGSpriteTiled);
    tiled->verticalWrapping.setValue(SGSpriteTiled);
    tiled->tileWidth.setValue(10);
    tiled->tileHeight.setValue(10);
    SGSpriteNode* turned = s.sprite(50, 48, 16, 16);
    turned->image.value = image;
    turned->angle.setValue(30);
    auto* replicator = static_cast<SGReplicatorNode*>(s.ortho->createNode(SGNodeClassReplicatorNode));
    replicator->copies.setValue(4);
    replicator->spacing.setValue(9);
    replicator->angle.setValue(20);
    s.sprite(6, 8, 6, 6, {1, 0.5f, 0, 0.75f}, replicator)->blendingMode.setValue(SGBlendModeAdd);
    auto* particles = static_cast<SGParticleSystemNode*>(s.ortho->createNode(SGNodeClassParticleSystemNode));
    particles->numParticles.setValue(8);
    particles->lifetime.setValue(10);
    particles->size.setValue(4);
    particles->sizeTarget.setValue(4);
    particles->color.value = particles->colorTarget.value = {1, 1, 0, 0.5f};
    particles->spawnParticles.setValue(true);
    particles->x.setValue(52);
    particles->y.setValue(16);
    particles->speed.setValue(6);
    particles->direction.setValue(135);
    particles->time.setValue(1);
    s.frame();

    const std::string path = std::string(DK_TEST_DATA_DIR) + "/scene.png";
    if (std::getenv("DK_UPDATE_PICTURES") && GetParam()) {
        std::string error;
        ASSERT_TRUE(plat::gl::writePNG(path, 64, 64, s.pixels, &error)) << error;
    }
    int width = 0, height = 0;
    std::vector<uint8_t> expected;
    std::string error;
    ASSERT_TRUE(plat::gl::readPNG(path, &width, &height, &expected, &error)) << error;
    ASSERT_EQ(expected.size(), s.pixels.size());
    size_t off = 0;
    for (size_t i = 0; i < expected.size(); ++i)
        if (i % 4 != 3) off += std::abs(int(expected[i]) - int(s.pixels[i])) > 2;
    EXPECT_EQ(off, 0u);
}

INSTANTIATE_TEST_SUITE_P(Batching, Pixels, ::testing::Values(true, false),
                         [](const auto& info) { return info.param ? "Batched" : "OneCallPerSprite"; });
