// A textured or coloured quad. compute turns the ports into a draw record that the render managers
// redraw every frame; the record changes only when the sprite is dirty, and when only x, y and
// angle changed since the last compute it refreshes the placement alone. The record keeps its
// placement first and carries drawVersion (bumped by each refreshing compute) and shapeVersion
// (bumped only by those that refresh more than the placement), which the ES2 batch compares to
// skip unchanged sprites. The node is aligned to cache lines.
#pragma once

#include <cstdint>
#include <vector>

#include "scenegraph/SGNode.h"

// Sprite wrapping of one axis.
enum SGSpriteWrapping : int32_t {
    SGSpriteStretched = 0,  // the image is stretched over the sprite
    SGSpriteFixed = 1,      // the image keeps its size, cropped at the anchor
    SGSpriteTiled = 2,      // the image is repeated every tile width or height
};

// The most tiles a sprite is cut into; a tiled sprite that would need more is drawn stretched.
inline constexpr int32_t SGSpriteMaxTiles = 16384;

// What the render managers draw a sprite from, refreshed by compute when the sprite is dirty.
struct SGSpriteDrawRecord {
    // The placement, all that a compute of a moved or turned sprite refreshes, comes first.
    float centerX = 0.0f;
    float centerY = 0.0f;
    float drawAngle = 0.0f;  // degrees
    float drawSin = 0.0f;    // sinCosDegrees of drawAngle
    float drawCos = 1.0f;
    SGImage drawImage = SGImageNull;  // the image; width and height hold the tile size
    int32_t premultiplyColor = 0;     // the image has a texture holding premultiplied alpha
    float halfWidth = 0.0f;
    float halfHeight = 0.0f;
    SGColor drawColor = SGWhiteColor;  // r, g, b multiplied by a with premultiplyColor
    int32_t blendMode = 0;
    // Wrapping as drawn: a tiled axis whose tile size is below 1, or that would need more than
    // SGSpriteMaxTiles tiles, is stretched instead (it would have no bounded tile count).
    int32_t horizontalWrapping = 0;
    int32_t verticalWrapping = 0;
    int32_t horizontalAnchor = 0;
    int32_t verticalAnchor = 0;
    // Tiles across and up each tiled axis (0 on an axis that is not tiled).
    int32_t tileColumns = 0;
    int32_t tileRows = 0;

    // The extent and texture rectangle a fixed-size axis draws with: the image at its own size,
    // cropped around the anchor where the sprite is smaller. Other axes keep the sprite's size.
    void fixedExtent(float& hw, float& hh, SGTextureRect& rect) const;
};

// Working storage of the render managers: a tiled sprite's triangles and the key they were built
// for, so that they are rebuilt only when the sprite's geometry changes.
struct SGSpriteTiles {
    int32_t tileVertexCount = 0;
    std::vector<float> tileVertices;  // (x, y, u, v) per vertex
    float tileKeyHalfWidth = 0.0f;
    float tileKeyHalfHeight = 0.0f;
    float tileKeyTileWidth = 0.0f;
    float tileKeyTileHeight = 0.0f;
    SGImage tileKeyImage = SGImageNull;
    int32_t tileKeyWrapping[2] = {0, 0};
    int32_t tileKeyAnchor[2] = {0, 0};
    bool built = false;
};

// Aligned to cache lines, and laid out so that what a moved sprite's frame touches (the node's first
// words, its placement ports, the record's placement) lies in its first three lines: a script's
// writes read the first two, the compute those and the third, the renderer the first and the third
// (it reads the rest of the record only after a compute that refreshed more than the placement).
class alignas(64) SGSpriteNode : public SGRenderNode {
public:
    SGSpriteNode();

    // Refreshes the draw record when dirty; otherwise nothing (called every frame). When only the
    // placement ports (x, y, angle) changed since the last compute (fullCompute clear), only the
    // record's centre and rotation are refreshed: the other inputs are not read.
    void compute() override;
    SGPort* portForID(SGPortID id) override;

    // Rebuilds the tile triangles for the current draw record when its key (half extents, tile
    // size, image, wrappings, anchors) changed or they were never built; returns whether it did. Only for
    // records with a tiled axis. Vertices are (x, y, u, v) triangles relative to the sprite's centre, tiles
    // starting at its bottom-left corner with only the last column and row partial (cropped at the anchors).
    bool layoutTiles();

    // Counts the computes that refreshed more of the record than its placement (drawVersion counts
    // them all): a renderer that kept what it made of the rest redraws a moved sprite from its
    // placement alone while this stays.
    uint32_t shapeVersion = 0;
    // The ports a script moves or turns every frame come first, beside the node's dirty flag, and
    // the draw record right after them: a write reads the flag and the port, a compute of a moved
    // sprite those and the record's placement, the renderer that placement; over thousands of
    // sprites each line apart is a cache miss.
    SGNumberPort x;
    SGNumberPort y;
    SGNumberPort angle;
    // The draw record (see SGSpriteDrawRecord).
    SGSpriteDrawRecord record;
    SGNumberPort width;
    SGNumberPort height;
    SGColorPort color{SGWhiteColor};
    SGImagePort image;
    SGIntegerPort blendingMode;
    SGIntegerPort horizontalWrapping;
    SGIntegerPort verticalWrapping;
    SGIntegerPort horizontalAnchor;
    SGIntegerPort verticalAnchor;
    SGIntegerPort tileHeight;
    SGIntegerPort tileWidth;

    // The renderers' tile storage.
    SGSpriteTiles tiles;
};
