// The sprite's draw record: what compute copies, premultiplication, when it refreshes, and the
// tile layout both renderers draw tiled sprites from.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "scenegraph/SGScene.h"
#include "scenegraph/nodes/SGSpriteNode.h"
#include "scenegraph/tests/RecordingRenderManager.h"

namespace {

class Sprite : public ::testing::Test {
protected:
    Sprite() : sprite(static_cast<SGSpriteNode*>(scene.defaultSpace().createNode(SGNodeClassSpriteNode))) {}

    void frame() { scene.render(); }

    // A 128 × 64 texture used whole.
    static SGImage texture(int32_t premultiplied = 0) {
        return {0, 0, 5, 128, 64, {0, 0, 1, 1}, premultiplied};
    }

    // The x extents of each tile (left, right) and the u extents of its texture rectangle.
    struct Tile {
        float left, right, bottom, top, u0, u1, v0, v1;
    };
    std::vector<Tile> laidOutTiles() {
        sprite->layoutTiles();
        const std::vector<float>& v = sprite->tiles.tileVertices;
        std::vector<Tile> out;
        for (size_t i = 0; i + 24 <= v.size(); i += 24)  // six vertices of (x, y, u, v)
            out.push_back({v[i], v[i + 4], v[i + 1], v[i + 9], v[i + 2], v[i + 6], v[i + 3], v[i + 11]});
        return out;
    }

    RecordingRenderers renderers;
    SGScene scene{nullptr, nullptr};
    SGSpriteNode* sprite;
};

}  // namespace

TEST_F(Sprite, RecordCopiesThePorts) {
    sprite->image.value = texture();
    sprite->x.setValue(12.0f);
    sprite->y.setValue(-3.0f);
    sprite->width.setValue(100.0f);
    sprite->height.setValue(41.0f);
    sprite->angle.setValue(30.0f);
    sprite->blendingMode.setValue(2);
    sprite->horizontalWrapping.setValue(1);
    sprite->verticalAnchor.setValue(2);
    sprite->tileWidth.setValue(16);
    sprite->tileHeight.setValue(8);
    frame();
    const SGSpriteDrawRecord& r = sprite->record;
    EXPECT_EQ(r.centerX, 12.0f);
    EXPECT_EQ(r.centerY, -3.0f);
    EXPECT_EQ(r.halfWidth, 50.0f);
    EXPECT_EQ(r.halfHeight, 20.5f);
    EXPECT_EQ(r.drawAngle, 30.0f);
    EXPECT_EQ(r.blendMode, 2);
    EXPECT_EQ(r.horizontalWrapping, 1);
    EXPECT_EQ(r.verticalAnchor, 2);
    EXPECT_EQ(r.drawImage.texture, 5u);
    EXPECT_EQ(r.drawImage.width, 16);
    EXPECT_EQ(r.drawImage.height, 8);
    EXPECT_EQ(r.drawImage.textureWidth, 128);
}

// Connected ports are read through their sources, each converted by the source's class.
TEST_F(Sprite, ConnectedPortsReadTheirSourcesConverted) {
    SGStringPort text("3.5");
    SGNumberPort number(-2.7f);
    SGColorPort colour({0.5f, 0.25f, 1.0f, 1.0f});
    SGImagePort picture(texture());
    sprite->x.setValue(&text);
    sprite->blendingMode.setValue(&number);
    sprite->color.setValue(&colour);
    sprite->image.setValue(&picture);
    sprite->tileWidth.setValue(&text);
    frame();
    const SGSpriteDrawRecord& r = sprite->record;
    EXPECT_EQ(r.centerX, 3.5f);
    EXPECT_EQ(r.blendMode, -2);
    EXPECT_EQ(r.drawColor.g, 0.25f);
    EXPECT_EQ(r.drawImage.texture, 5u);
    EXPECT_EQ(r.drawImage.width, 3);
}

TEST_F(Sprite, PremultipliedImagesScaleTheColourByAlpha) {
    struct Case {
        SGImage image;
        SGColor expected;
        int32_t flag;
    } cases[] = {
        {texture(1), {0.5f, 0.25f, 0.1f, 0.5f}, 1},
        {texture(0), {1, 0.5f, 0.2f, 0.5f}, 0},
        {{0, 0, 0, 0, 0, {0, 0, 1, 1}, 1}, {1, 0.5f, 0.2f, 0.5f}, 0},  // premultiplied but no texture
    };
    for (const Case& c : cases) {
        sprite->color.value = {1, 0.5f, 0.2f, 0.5f};
        sprite->image.value = c.image;
        sprite->color.markAsDirty();
        frame();
        EXPECT_EQ(sprite->record.drawColor, c.expected);
        EXPECT_EQ(sprite->record.premultiplyColor, c.flag);
    }
}

TEST_F(Sprite, RecordRefreshesOnlyWhenDirty) {
    frame();
    sprite->width.value = 100.0f;  // as a script's set without notify
    frame();
    EXPECT_EQ(sprite->record.halfWidth, 0.0f);
    sprite->width.setValue(80.0f);
    frame();
    EXPECT_EQ(sprite->record.halfWidth, 40.0f);
}

TEST_F(Sprite, TiledAxesWithoutABoundedTileCountAreStretched) {
    sprite->image.value = texture();
    sprite->width.setValue(100.0f);
    sprite->height.setValue(100.0f);
    struct Case {
        int32_t hWrap, vWrap, tileW, tileH;
        float width;
        int32_t expectH, expectV, columns, rows;
    } cases[] = {
        {2, 2, 30, 50, 100, 2, 2, 4, 2},
        {2, 2, 0, 50, 100, 0, 2, 0, 2},  // tile width below 1: stretched across
        {2, 2, -4, -1, 100, 0, 0, 0, 0},
        {2, 1, 0, 0, 100, 0, 1, 0, 0},
        {1, 2, 0, 0, 100, 1, 0, 0, 0},
        {2, 0, 1, 0, 1e9f, 0, 0, 0, 0},  // far too many tiles
        {2, 0, 1, 0, std::numeric_limits<float>::infinity(), 0, 0, 0, 0},
        {2, 0, 1, 0, std::nanf(""), 0, 0, 0, 0},
        {2, 2, 1, 1, 1000, 0, 0, 0, 0},  // 1000 × 100 tiles in all
        {2, 0, 10, 0, -50, 2, 0, 0, 0},  // a negative width has no tiles
    };
    for (const Case& c : cases) {
        sprite->horizontalWrapping.setValue(c.hWrap);
        sprite->verticalWrapping.setValue(c.vWrap);
        sprite->tileWidth.setValue(c.tileW);
        sprite->tileHeight.setValue(c.tileH);
        sprite->width.setValue(c.width);
        frame();
        const SGSpriteDrawRecord& r = sprite->record;
        EXPECT_EQ(r.horizontalWrapping, c.expectH) << c.tileW << " " << c.width;
        EXPECT_EQ(r.verticalWrapping, c.expectV) << c.tileH;
        EXPECT_EQ(r.tileColumns, c.columns);
        EXPECT_EQ(r.tileRows, c.rows);
        sprite->layoutTiles();
        EXPECT_LE(sprite->tiles.tileVertexCount, SGSpriteMaxTiles * 6);
    }
}

TEST_F(Sprite, TilesStartBottomLeftAndOnlyTheLastColumnIsCropped) {
    sprite->image.value = texture();
    sprite->width.setValue(100.0f);
    sprite->height.setValue(20.0f);
    sprite->tileWidth.setValue(30);
    sprite->horizontalWrapping.setValue(2);
    frame();
    std::vector<Tile> tiles = laidOutTiles();
    ASSERT_EQ(tiles.size(), 4u);
    EXPECT_EQ(sprite->tiles.tileVertexCount, 24);
    const float lefts[] = {-50, -20, 10, 40};
    for (size_t i = 0; i < 4; ++i) {
        EXPECT_FLOAT_EQ(tiles[i].left, lefts[i]);
        EXPECT_FLOAT_EQ(tiles[i].bottom, -10.0f);  // stretched vertically over the sprite
        EXPECT_FLOAT_EQ(tiles[i].top, 10.0f);
    }
    EXPECT_FLOAT_EQ(tiles[3].right, 50.0f);
    EXPECT_FLOAT_EQ(tiles[2].u1, 1.0f);
    EXPECT_NEAR(tiles[3].u1, 10.0f / 30.0f, 1e-6f);  // anchored at the start

    sprite->horizontalAnchor.setValue(2);  // end anchor: keep the right part of the last tile
    frame();
    tiles = laidOutTiles();
    EXPECT_NEAR(tiles[3].u0, 20.0f / 30.0f, 1e-6f);
    EXPECT_FLOAT_EQ(tiles[3].u1, 1.0f);
}

TEST_F(Sprite, BothAxesTiledAndAFixedAxisKeepsTheImageSize) {
    sprite->image.value = texture();  // 64 pixels high
    sprite->width.setValue(60.0f);
    sprite->height.setValue(50.0f);
    sprite->tileWidth.setValue(30);
    sprite->tileHeight.setValue(20);
    sprite->horizontalWrapping.setValue(2);
    sprite->verticalWrapping.setValue(2);
    frame();
    std::vector<Tile> tiles = laidOutTiles();
    ASSERT_EQ(tiles.size(), 6u);  // 2 columns × 3 rows, column by column
    EXPECT_FLOAT_EQ(tiles[2].bottom, 15.0f);
    EXPECT_FLOAT_EQ(tiles[2].top, 25.0f);
    EXPECT_NEAR(tiles[2].v1, 0.5f, 1e-6f);
    EXPECT_FLOAT_EQ(tiles[3].left, 0.0f);

    sprite->verticalWrapping.setValue(1);  // taller than the image: shrunk to its 64 pixels
    sprite->height.setValue(100.0f);
    frame();
    tiles = laidOutTiles();
    ASSERT_EQ(tiles.size(), 2u);
    EXPECT_FLOAT_EQ(tiles[0].bottom, -32.0f);
    EXPECT_FLOAT_EQ(tiles[0].top, 32.0f);

    sprite->height.setValue(32.0f);  // shorter: half the image, from the bottom
    frame();
    tiles = laidOutTiles();
    EXPECT_FLOAT_EQ(tiles[0].top, 16.0f);
    EXPECT_FLOAT_EQ(tiles[0].v1, 0.5f);
}

TEST_F(Sprite, TilesAreRebuiltOnlyWhenTheirKeyChanges) {
    sprite->image.value = texture();
    sprite->width.setValue(100.0f);
    sprite->tileWidth.setValue(30);
    sprite->horizontalWrapping.setValue(2);
    frame();
    EXPECT_TRUE(sprite->layoutTiles());
    EXPECT_FALSE(sprite->layoutTiles());
    sprite->x.setValue(5.0f);  // moving does not change the tiles
    frame();
    EXPECT_FALSE(sprite->layoutTiles());
    sprite->image.value.textureRect.x1 = 0.5f;
    sprite->image.markAsDirty();
    frame();
    EXPECT_TRUE(sprite->layoutTiles());
}
