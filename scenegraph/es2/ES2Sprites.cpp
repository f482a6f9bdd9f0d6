// The ES2 renderer's sprite paths: coloured, textured and fixed-size sprites go through the batch
// (or one call each with batching off); tiled sprites draw their layout in one call.
#include "scenegraph/es2/ES2Batch.h"
#include "scenegraph/es2/ES2StateCache.h"
#include "scenegraph/es2/SGRenderManagerES2.h"
#include "scenegraph/nodes/SGSpriteNode.h"

using namespace dk::scenegraph::es2;

namespace {

Quad quadOf(const SGSpriteDrawRecord& r, float hw, float hh, GLuint texture, const SGTextureRect& tr) {
    return {hw,        hh,
            tr,        r.drawColor,
            r.centerX, r.centerY,
            r.drawSin, r.drawCos,
            texture,   SGBlendFactorsForMode(r.blendMode, r.premultiplyColor != 0)};
}

// The record holds sinCosDegrees of its angle, so this is the matrix that angle gives.
void setModelMatrix(float x, float y, float s, float c) {
    const float m[16] = {c, s, 0, 0, -s, c, 0, 0, 0, 0, 1, 0, x, y, 0, 1};
    useProgram(programs().program);
    uploadIfChanged(programs().modelLoc, stateCache().model, m);
}

}  // namespace

void SGRenderManagerES2::submitQuad(const Quad& q, bool batching) {
    if (batching) {
        addToBatch(q, &m_offsets);
        return;
    }
    bindTexture(q.texture);
    setModelMatrix(q.x, q.y, q.sin, q.cos);
    float v[16];
    writeCorners(v, 4, q.hw, q.hh, q.rect);
    drawArrays(GL_TRIANGLE_STRIP, 4, v, true, false);
}

void SGRenderManagerES2::renderColoredSprite(const SGSpriteDrawRecord& r, bool batching) {
    if (batching) {
        // No texture coordinates: (0, 0) samples the white texture.
        submitQuad(quadOf(r, r.halfWidth, r.halfHeight, programs().whiteTexture, SGTextureRect{0, 0, 0, 0}),
                   true);
        return;
    }
    bindTexture(programs().whiteTexture);
    setModelMatrix(r.centerX, r.centerY, r.drawSin, r.drawCos);
    const float v[8] = {-r.halfWidth, r.halfHeight,  r.halfWidth, r.halfHeight,
                        -r.halfWidth, -r.halfHeight, r.halfWidth, -r.halfHeight};
    drawArrays(GL_TRIANGLE_STRIP, 4, v, false, false);  // the constant (0, 0) texture coordinate
}

void SGRenderManagerES2::renderTiledSprite(SGSpriteNode* sprite) {
    flushBatch();
    const SGSpriteDrawRecord& r = sprite->record;
    sprite->layoutTiles();
    SGSpriteTiles& tiles = sprite->tiles;
    if (tiles.tileVertexCount <= 0) return;
    bindTexture(r.drawImage.texture);
    setModelMatrix(r.centerX, r.centerY, r.drawSin, r.drawCos);
    drawArrays(GL_TRIANGLES, tiles.tileVertexCount, tiles.tileVertices.data(), true, false);
}

void SGRenderManagerES2::drawSprite(SGRenderNode* node) {
    auto* sprite = static_cast<SGSpriteNode*>(node);
    const SGSpriteDrawRecord& r = sprite->record;
    if (r.drawColor.a == 0.0f) return;
    bool textured = r.drawImage.textureWidth >= 1;
    bool stretched = r.horizontalWrapping == SGSpriteStretched && r.verticalWrapping == SGSpriteStretched;
    bool tiled = textured && (r.horizontalWrapping == SGSpriteTiled || r.verticalWrapping == SGSpriteTiled);
    bool batching = batchingActive();
    if (!batching || tiled) {
        // One call for this sprite: colour and blending go through the caches now.
        flushBatch();
        setColor(r.drawColor);
        SGSetBlendMode(r.blendMode, r.premultiplyColor);
    }
    if (!textured) {
        renderColoredSprite(r, batching);
    } else if (tiled) {
        renderTiledSprite(sprite);
    } else if (stretched) {
        submitQuad(quadOf(r, r.halfWidth, r.halfHeight, r.drawImage.texture, r.drawImage.textureRect),
                   batching);
    } else {
        SGTextureRect tr;
        float hw, hh;
        r.fixedExtent(hw, hh, tr);
        submitQuad(quadOf(r, hw, hh, r.drawImage.texture, tr), batching);
    }
}
