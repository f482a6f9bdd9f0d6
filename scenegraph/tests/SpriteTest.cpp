// The sprite's draw record (connected ports, premultiplication, wrappings it cannot tile) and the tile layout
// both renderers draw tiled sprites from.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstddef>
#include <cstring>
#include <functional>
#include <limits>

#include "scenegraph/SGScene.h"
#include "scenegraph/nodes/SGSpriteNode.h"
#include "scenegraph/tests/SceneGraphTestSupport.h"

namespace {

class Sprite : public ::testing::Test {
protected:
    Sprite() : sprite(static_cast<SGSpriteNode*>(scene.defaultSpace().createNode(SGNodeClassSpriteNode))) {}

    void frame() { scene.render(); }

    // A 128 × 64 texture used whole.
    static SGImage texture() { return {0, 0, 5, 128, 64, {0, 0, 1, 1}, 0}; }

    // Each tile as left, bottom, right, top and its texture rectangle (u0, v0, u1, v1).
    using Tile = std::array<float, 8>;
    std::vector<Tile> laidOutTiles() {
        sprite->layoutTiles();
        const std::vector<float>& v = sprite->tiles.tileVertices;
        std::vector<Tile> out;
        for (size_t i = 0; i + 24 <= v.size(); i += 24)  // six vertices of (x, y, u, v)
            out.push_back({v[i], v[i + 1], v[i + 4], v[i + 9], v[i + 2], v[i + 3], v[i + 6], v[i + 11]});
        return out;
    }

    RecordingRenderers renderers;
    SGScene scene{nullptr, nullptr};
    SGSpriteNode* sprite;
};

}  // namespace

// A sprite marked only through x, y or angle refreshes just its centre and rotation. Whatever else
// reached it since its last compute (a value stored quietly, a setter while it was dirty already, a
// connection made or dropped, a source that changed) must still be drawn: after each edit its
// record equals that of a twin given the same edit and then computed in full. A renderer keeps what
// it made of the record beyond the placement while shapeVersion stays, so any change there moves it.
TEST_F(Sprite, APlacementComputeDrawsWhatAFullOneWould) {
    auto* twin = static_cast<SGSpriteNode*>(scene.defaultSpace().createNode(SGNodeClassSpriteNode));
    SGColorPort tint({1, 0, 0, 0.5f});
    SGNumberPort place(12.0f);
    struct Edit {
        const char* what;
        std::function<void(SGSpriteNode*)> apply;
        bool placementOnly = false;
    };
    const Edit edits[] = {
        {"moved", [](SGSpriteNode* s) { s->x.setValue(5.0f), s->y.setValue(6.0f); }},
        {"turned", [](SGSpriteNode* s) { s->angle.setValue(30.0f); }, true},
        {"turned back to zero", [](SGSpriteNode* s) { s->angle.setValue(-0.0f); }, true},
        {"width stored quietly, then moved",
         [](SGSpriteNode* s) { s->width.value = 20, s->width.noteStored(), s->x.setValue(7.0f); }},
        {"moved, then its height set", [](SGSpriteNode* s) { s->x.setValue(8.0f), s->height.setValue(14.0f); }},
        {"colour connected, then moved", [&](SGSpriteNode* s) { s->color.setValue(&tint), s->x.setValue(9.0f); }},
        {"moved, then the colour's source changed",
         [&](SGSpriteNode* s) { s->x.setValue(10.0f), tint.value.a = 1, tint.markAsDirty(); }},
        {"the colour's source stored quietly, then moved",
         [&](SGSpriteNode* s) { tint.value.g = 1, tint.noteStored(), s->x.setValue(11.0f); }},
        {"colour disconnected, then moved", [](SGSpriteNode* s) { s->color.disconnect(), s->y.setValue(1.0f); }},
        {"x connected, then moved", [&](SGSpriteNode* s) { s->x.setValue(&place), s->y.setValue(2.0f); }},
        {"x's source changed", [&](SGSpriteNode*) { place.value = 3, place.markAsDirty(); }, true},
    };
    constexpr size_t shapeStart = offsetof(SGSpriteDrawRecord, drawImage);
    for (const Edit& edit : edits) {
        SGSpriteDrawRecord before = sprite->record;
        uint32_t shape = sprite->shapeVersion;
        edit.apply(sprite);
        edit.apply(twin);
        twin->dirty = twin->fullCompute = true;
        frame();
        EXPECT_EQ(std::memcmp(&sprite->record, &twin->record, sizeof(SGSpriteDrawRecord)), 0) << edit.what;
        const auto* was = reinterpret_cast<const char*>(&before) + shapeStart;
        const auto* is = reinterpret_cast<const char*>(&sprite->record) + shapeStart;
        if (std::memcmp(was, is, sizeof(SGSpriteDrawRecord) - shapeStart) != 0) {
            EXPECT_NE(sprite->shapeVersion, shape) << edit.what;
        }
        if (edit.placementOnly) {
            EXPECT_EQ(sprite->shapeVersion, shape) << edit.what;
        }
    }
    EXPECT_EQ(sprite->record.centerX, 3.0f);
}

// Over thousands of sprites every cache line a frame reads per sprite is a miss: a script's writes
// to x and y read the first two lines of a sprite (its flags, those ports), its compute those and
// the third (the angle, the record's placement), the renderer the first and the third.
TEST_F(Sprite, AMovedSpritesFrameReadsItsFirstThreeLines) {
    const auto* base = reinterpret_cast<const char*>(sprite);
    auto lastLine = [&](const void* field, size_t size) {
        return (static_cast<const char*>(field) + size - 1 - base) / 64;
    };
    EXPECT_EQ(reinterpret_cast<uintptr_t>(sprite) % 64, 0u);
    EXPECT_EQ(lastLine(&sprite->shapeVersion, sizeof(uint32_t)), 0);
    EXPECT_EQ(lastLine(&sprite->drawVersion, sizeof(uint32_t)), 0);
    EXPECT_LE(lastLine(&sprite->x, sizeof(SGNumberPort)), 1);
    EXPECT_LE(lastLine(&sprite->y, sizeof(SGNumberPort)), 1);
    EXPECT_LE(lastLine(&sprite->angle, sizeof(SGNumberPort)), 2);
    EXPECT_EQ(lastLine(&sprite->record.centerX, offsetof(SGSpriteDrawRecord, drawImage)), 2);
}

TEST_F(Sprite, ConnectedPortsReadTheirSourcesConverted) {
    SGStringPort text("3.5");
    SGNumberPort number(-2.7f);
    SGImagePort picture(texture());
    sprite->x.setValue(&text);
    sprite->blendingMode.setValue(&number);
    sprite->image.setValue(&picture);
    sprite->tileWidth.setValue(&text);
    frame();
    const SGSpriteDrawRecord& r = sprite->record;
    EXPECT_EQ(r.centerX, 3.5f);
    EXPECT_EQ(r.blendMode, -2);
    EXPECT_EQ(r.drawImage.texture, 5u);
    EXPECT_EQ(r.drawImage.width, 3);
}

// Premultiplied textures scale the colour by alpha (the every-path picture shows it); without a
// texture the flag does not count.
TEST_F(Sprite, APremultipliedImageWithoutTextureKeepsTheColour) {
    sprite->color.value = {1, 0.5f, 0.2f, 0.5f};
    sprite->image.value = {0, 0, 0, 0, 0, {0, 0, 1, 1}, 1};
    frame();
    EXPECT_EQ(sprite->record.drawColor, (SGColor{1, 0.5f, 0.2f, 0.5f}));
    EXPECT_EQ(sprite->record.premultiplyColor, 0);
}

TEST_F(Sprite, TiledAxesWithoutABoundedTileCountAreStretched) {
    sprite->image.value = texture();
    dktest::setPorts(sprite, {{SGPortID::horizontalWrapping, 2}, {SGPortID::height, 100}});
    const float inf = std::numeric_limits<float>::infinity(), nan = std::nanf("");
    struct Case {
        int32_t vWrap, tileW, tileH;
        float width;
        std::array<int32_t, 4> expected;  // wrappings, columns, rows as drawn
    } cases[] = {
        // clang-format off
        {2, 30, 50, 100, {2, 2, 4, 2}},
        {2, 0, 50, 100, {0, 2, 0, 2}}, {2, -4, -1, 100, {0, 0, 0, 0}},  // tiles below 1: stretched
        {1, 0, 0, 100, {0, 1, 0, 0}},
        {0, 1, 0, 1e9f, {0, 0, 0, 0}}, {0, 1, 0, inf, {0, 0, 0, 0}},  // far too many tiles
        {0, 1, 0, nan, {0, 0, 0, 0}},
        {2, 1, 1, 1000, {0, 0, 0, 0}},  // 1000 × 100 tiles in all
        {0, 10, 0, -50, {2, 0, 0, 0}},  // a negative width has no tiles
        // clang-format on
    };
    for (const Case& c : cases) {
        using ID = SGPortID;
        dktest::setPorts(
            sprite, {{ID::verticalWrapping, c.vWrap}, {ID::tileWidth, c.tileW}, {ID::tileHeight, c.tileH}});
        sprite->width.setValue(c.width);
        frame();
        const SGSpriteDrawRecord& r = sprite->record;
        EXPECT_EQ((std::array{r.horizontalWrapping, r.verticalWrapping, r.tileColumns, r.tileRows}),
                  c.expected)
            << c.tileW << " " << c.tileH << " " << c.width;
        sprite->layoutTiles();
        EXPECT_LE(sprite->tiles.tileVertexCount, SGSpriteMaxTiles * 6);
    }
}

// Tiles run from the bottom-left corner, column by column; only the last column and row are
// partial, their texture cropped at the anchor. A fixed axis keeps the image's 64 pixels.
TEST_F(Sprite, TileLayouts) {
    sprite->image.value = texture();
    dktest::setPorts(
        sprite, {{SGPortID::horizontalWrapping, 2}, {SGPortID::tileWidth, 30}, {SGPortID::tileHeight, 20}});
    struct Case {
        int32_t vWrap, hAnchor;
        float width, height;
        size_t count;
        size_t index;  // the tile checked
        Tile expected;
    } cases[] = {
        {0, 0, 100, 20, 4, 2, {10, -10, 40, 10, 0, 0, 1, 1}},
        {0, 0, 100, 20, 4, 3, {40, -10, 50, 10, 0, 0, 1.0f / 3, 1}},
        {0, 2, 100, 20, 4, 3, {40, -10, 50, 10, 2.0f / 3, 0, 1, 1}},
        {2, 0, 60, 50, 6, 2, {-30, 15, 0, 25, 0, 0, 1, 0.5f}},
        {2, 0, 60, 50, 6, 3, {0, -25, 30, -5, 0, 0, 1, 1}},
        {1, 0, 60, 100, 2, 0, {-30, -32, 0, 32, 0, 0, 1, 1}},    // taller than the image: 64
        {1, 0, 60, 32, 2, 0, {-30, -16, 0, 16, 0, 0, 1, 0.5f}},  // shorter: its bottom half
    };
    for (const Case& c : cases) {
        using ID = SGPortID;
        dktest::setPorts(sprite, {{ID::verticalWrapping, c.vWrap}, {ID::horizontalAnchor, c.hAnchor}});
        dktest::setPorts(sprite, {{ID::width, c.width}, {ID::height, c.height}});
        frame();
        std::vector<Tile> tiles = laidOutTiles();
        ASSERT_EQ(tiles.size(), c.count);
        for (size_t k = 0; k < 8; ++k)
            EXPECT_NEAR(tiles[c.index][k], c.expected[k], 1e-5f)
                << "tile " << c.index << " of " << c.width << " × " << c.height << ", value " << k;
    }
}

TEST_F(Sprite, TilesAreRebuiltOnlyWhenTheirKeyChanges) {
    sprite->image.value = texture();
    dktest::setPorts(sprite,
                     {{SGPortID::width, 100}, {SGPortID::tileWidth, 30}, {SGPortID::horizontalWrapping, 2}});
    frame();
    EXPECT_TRUE(sprite->layoutTiles());
    sprite->x.setValue(5.0f);  // moving does not change the tiles
    frame();
    EXPECT_FALSE(sprite->layoutTiles());
    sprite->image.value.textureRect.x1 = 0.5f;
    sprite->image.markAsDirty();
    frame();
    EXPECT_TRUE(sprite->layoutTiles());
}
