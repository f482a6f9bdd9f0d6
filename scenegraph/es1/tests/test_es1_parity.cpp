// The same scenes under both renderers draw the same pixels. The ES2 renderer draws everything at
// its starting copy offset, half a pixel up and to the right, where the ES1 renderer has none;
// with that offset zeroed the two pictures must match pixel for pixel.
#include <GLES/gl.h>
#include <gtest/gtest.h>

#include <functional>
#include <sstream>

#include "scenegraph/es1/tests/RenderScene.h"
#include "scenegraph/es2/SGRenderMath.h"

namespace {

constexpr uint32_t kRed = 0xff0000ff, kGreen = 0x00ff00ff, kBlue = 0x0000ffff, kWhite = 0xffffffff;
const RGBA red{255, 0, 0, 255}, green{0, 255, 0, 255}, blue{0, 0, 255, 255}, white{255, 255, 255, 255};
const RGBA background{51, 102, 153, 255};

using Build = std::function<void(RenderScene&)>;

struct Pictures {
    std::unique_ptr<RenderScene> es2;
    std::unique_ptr<RenderScene> es1;
};

Pictures drawBoth(const Build& build, int frames = 1) {
    Pictures p;
    for (plat::gl::Api api : {plat::gl::Api::ES2, plat::gl::Api::ES1}) {
        auto s = std::make_unique<RenderScene>(api, 64, 64);
        EXPECT_TRUE(s->context) << s->failure;
        if (!s->context) return {};
        s->clear->color.value = {0.2f, 0.4f, 0.6f, 1.0f};
        if (api == plat::gl::Api::ES2)
            static_cast<SGRenderManagerES2&>(s->scene->renderManager()).setOffsets({{0.0f, 0.0f}});
        build(*s);
        for (int i = 0; i < frames; ++i) s->frame();
        EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
        (api == plat::gl::Api::ES2 ? p.es2 : p.es1) = std::move(s);
    }
    return p;
}

// Every pixel of the two pictures within 3 levels per channel (alpha included).
::testing::AssertionResult samePictures(const Pictures& p) {
    if (!p.es1 || !p.es2) return ::testing::AssertionFailure() << "no context";
    int misses = 0;
    std::ostringstream first;
    for (int y = 0; y < p.es1->height(); ++y)
        for (int x = 0; x < p.es1->width(); ++x) {
            RGBA a = p.es1->at(x, y), b = p.es2->at(x, y);
            bool same = true;
            for (int i = 0; i < 4; ++i) same = same && std::abs(a[i] - b[i]) <= 3;
            if (!same && misses++ == 0)
                first << " first at (" << x << ", " << y << "): ES1 " << a[0] << " " << a[1] << " " << a[2]
                      << " " << a[3] << ", ES2 " << b[0] << " " << b[1] << " " << b[2] << " " << b[3];
        }
    if (misses == 0) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << misses << " pixels differ;" << first.str();
}

// Top row red, green; bottom row blue, white.
SGImage quadrants(RenderScene& s) {
    return s.texture(2, 2, {kRed, kGreen, kBlue, kWhite});
}

}  // namespace

TEST(Parity, ColouredRotatedAndLayeredSprites) {
    auto p = drawBoth([](RenderScene& s) {
        s.sprite(20, 12, 16, 8, {1, 0, 0, 1});
        s.sprite(20, 40, 20, 4, {0, 1, 0, 1})->angle.setValue(90);
        s.sprite(46, 32, 24, 2, {1, 1, 0, 1})->angle.setValue(45);
        s.sprite(48, 10, 12, 12, {0, 0, 1, 1})->layer = 2;
        s.sprite(52, 14, 12, 12, {1, 0, 1, 1})->layer = 1;
        s.ortho->sortRenderNodes();
    });
    ASSERT_TRUE(samePictures(p));
    EXPECT_TRUE(near(p.es1->at(20, 12), red));
    EXPECT_TRUE(near(p.es1->at(20, 48), green));
    EXPECT_TRUE(near(p.es1->at(51, 37), {255, 255, 0, 255}));  // counter-clockwise: up to the right
    EXPECT_TRUE(near(p.es1->at(50, 12), blue));                // the higher layer on top
}

TEST(Parity, TexturedFixedAndTiledSprites) {
    auto p = drawBoth([](RenderScene& s) {
        SGImage image = quadrants(s);
        s.sprite(12, 52, 16, 16)->image.value = image;
        SGImage mirrored = image;
        mirrored.textureRect.flipHorizontally();
        mirrored.textureRect.flipVertically();
        s.sprite(32, 52, 16, 16)->image.value = mirrored;

        SGSpriteNode* fixed = s.sprite(52, 52, 20, 6);  // wider than its image, cropped in height
        SGImage big = image;
        big.textureWidth = big.textureHeight = 8;
        fixed->image.value = big;
        fixed->horizontalWrapping.setValue(SGSpriteFixed);
        fixed->verticalWrapping.setValue(SGSpriteFixed);
        fixed->verticalAnchor.setValue(SGAnchorEnd);

        SGSpriteNode* tiled = s.sprite(20, 20, 26, 22);  // partial last column and row
        tiled->image.value = image;
        tiled->horizontalWrapping.setValue(SGSpriteTiled);
        tiled->verticalWrapping.setValue(SGSpriteTiled);
        tiled->tileWidth.setValue(8);
        tiled->tileHeight.setValue(8);
        tiled->horizontalAnchor.setValue(SGAnchorCentre);

        SGSpriteNode* strip = s.sprite(47, 20, 12, 30);  // tiled up, the image's own width across
        strip->image.value = big;
        strip->horizontalWrapping.setValue(SGSpriteFixed);
        strip->verticalWrapping.setValue(SGSpriteTiled);
        strip->tileWidth.setValue(8);
        strip->tileHeight.setValue(7);
        strip->angle.setValue(90);
    });
    ASSERT_TRUE(samePictures(p));
    EXPECT_TRUE(near(p.es1->at(8, 56), red));
    EXPECT_TRUE(near(p.es1->at(36, 48), red));
    EXPECT_TRUE(near(p.es1->at(50, 51), red));  // top half kept: anchor end
    EXPECT_TRUE(near(p.es1->at(44, 52), background));
    EXPECT_TRUE(near(p.es1->at(9, 10), blue));  // first tile at the bottom-left corner
}

TEST(Parity, BlendModesAndPremultipliedImages) {
    auto p = drawBoth([](RenderScene& s) {
        const int modes[] = {0, 1, 2, 3, 4, 9};
        for (int i = 0; i < 6; ++i)
            s.sprite(5.0f + 10.0f * i, 50, 8, 8, {1, 0.5f, 0, 0.5f})->blendingMode.setValue(modes[i]);
        SGImage straight = s.texture(1, 1, {0xff000080});
        SGImage premultiplied = s.texture(1, 1, {0x80000080}, true);
        s.sprite(16, 16, 16, 16, {1, 1, 1, 0.5f})->image.value = straight;
        s.sprite(48, 16, 16, 16, {1, 1, 1, 0.5f})->image.value = premultiplied;
        SGSpriteNode* added = s.sprite(32, 32, 8, 8);
        added->image.value = premultiplied;
        added->blendingMode.setValue(SGBlendModeAdd);
    });
    ASSERT_TRUE(samePictures(p));
    EXPECT_TRUE(near(p.es1->at(25, 50), {179, 166, 153, 255}));  // add
    EXPECT_TRUE(near(p.es1->at(45, 50), {51, 51, 0, 255}));      // multiply
    EXPECT_TRUE(near(p.es1->at(48, 16), {102, 77, 115, 255}));
}

TEST(Parity, ReplicatedWrappedAndRotatedSpaces) {
    auto p = drawBoth([](RenderScene& s) {
        auto* replicator = s.node<SGReplicatorNode>(SGNodeClassReplicatorNode);
        replicator->copies.setValue(3);
        replicator->spacing.setValue(10);
        replicator->angle.setValue(90);
        s.sprite(8, 8, 6, 6, {1, 0, 0, 1}, replicator);

        auto* wrap = s.node<SGWrapNode>(SGNodeClassWrapNode);
        wrap->wrapX.setValue(true);
        wrap->wrapY.setValue(true);
        wrap->wrapWidth.setValue(64);
        wrap->wrapHeight.setValue(64);
        wrap->x.setValue(60);
        wrap->y.setValue(60);
        s.sprite(60, 60, 10, 10, {0, 1, 0, 1}, wrap);
        auto* half = s.node<SGWrapNode>(SGNodeClassWrapNode);  // exactly half way: wraps down
        half->wrapY.setValue(true);
        half->wrapHeight.setValue(40);
        half->y.setValue(20);
        s.sprite(30, 20, 4, 4, {0, 1, 0, 1}, half);

        // A second camera, turned a quarter, over a sprite inside a nested replicator.
        auto* turned = static_cast<SGOrtho2DSpace*>(s.scene->createSpace(SGNodeClassOrtho2DSpace));
        turned->x.setValue(-32);
        turned->y.setValue(-32);
        turned->width.setValue(64);
        turned->height.setValue(64);
        turned->near.setValue(-1);
        turned->far.setValue(1);
        turned->modelRotation.setValue(90);
        auto* inner = s.node<SGReplicatorNode>(SGNodeClassReplicatorNode, turned);
        inner->copies.setValue(2);
        inner->spacing.setValue(12);
        s.sprite(4, 0, 6, 4, {1, 1, 1, 1}, inner);
    });
    ASSERT_TRUE(samePictures(p));
    for (int y : {8, 18, 28}) EXPECT_TRUE(near(p.es1->at(8, y), red)) << y;
    EXPECT_TRUE(near(p.es1->at(8, 38), background));
    EXPECT_TRUE(near(p.es1->at(0, 0), green));  // the diagonal copy
    EXPECT_TRUE(near(p.es1->at(30, 20), green));
    EXPECT_TRUE(near(p.es1->at(30, 60), background));
    EXPECT_TRUE(near(p.es1->at(32, 48), white));  // (4 + 12, 0) turned a quarter about the centre
}

TEST(Parity, TexturedAndPlainParticles) {
    auto p = drawBoth(
        [](RenderScene& s) {
            auto* plain = s.node<SGParticleSystemNode>(SGNodeClassParticleSystemNode);
            plain->numParticles.setValue(40);
            plain->lifetime.setValue(4);
            plain->lifestart.setValue(2);
            plain->speed.setValue(16);
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
            plain->y.setValue(30);
            plain->time.setValue(2.5f);

            auto* textured = s.node<SGParticleSystemNode>(SGNodeClassParticleSystemNode);
            textured->numParticles.setValue(3);
            textured->lifetime.setValue(10);
            textured->size.setValue(16);
            textured->sizeTarget.setValue(16);
            textured->rotation.setValue(30);
            textured->image.value = s.texture(2, 2, {kRed, kGreen, kBlue, kWhite}, true);
            textured->blendingMode.setValue(SGBlendModeScreen);
            textured->spawnParticles.setValue(true);
            textured->x.setValue(48);
            textured->y.setValue(48);
            textured->time.setValue(1);
        },
        2);
    ASSERT_TRUE(samePictures(p));
    EXPECT_FALSE(near(p.es1->at(48, 48), background));
}

TEST(Parity, SpritesInADegenerateOrthoSpaceDrawNothing) {
    auto p = drawBoth([](RenderScene& s) {
        auto* flat = static_cast<SGOrtho2DSpace*>(s.scene->createSpace(SGNodeClassOrtho2DSpace));
        flat->height.setValue(64);  // width 0
        flat->near.setValue(-1);
        flat->far.setValue(1);
        s.sprite(32, 32, 64, 64, {0, 1, 0, 1}, flat);
        auto* thin = static_cast<SGOrtho2DSpace*>(s.scene->createSpace(SGNodeClassOrtho2DSpace));
        thin->width.setValue(64);
        thin->height.setValue(64);  // near equal to far
        s.sprite(32, 32, 64, 64, {0, 0, 1, 1}, thin);
    });
    ASSERT_TRUE(samePictures(p));
    EXPECT_TRUE(near(p.es1->at(32, 32), background));
}
