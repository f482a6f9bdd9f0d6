// The ES2 renderer's sprite paths: coloured, textured and fixed-size sprites go through the batch
// (or one call each with batching off); tiled sprites draw their layout in one call.
#include "scenegraph/es2/ES2Batch.h"
#include "scenegraph/es2/ES2StateCache.h"
#include "scenegraph/es2/SGRenderManagerES2.h"
#include "scenegraph/nodes/SGSpriteNode.h"

using namespace dk::scenegraph::es2;

namespace {

// The record holds sinCosDegrees of its angle, so this is the matrix that angle gives.
void setModelMatrix(float x, float y, float s, float c) {
    const float m[16] = {c, s, 0, 0, -s, c, 0, 0, 0, 0, 1, 0, x, y, 0, 1};
    useProgram(programs().program);
    uploadIfChanged(programs().modelLoc, stateCache().model, m);
}

// One call for a textured quad with batching off.
void drawQuad(SGRenderManagerES2& manager, const SGSpriteDrawRecord& r, float hw, float hh, GLuint texture,
              const SGTextureRect& tr) {
    bindTexture(texture);
    setModelMatrix(r.centerX, r.centerY, r.drawSin, r.drawCos);
    float v[16];
    writeCorners(v, 4, hw, hh, tr);
    manager.drawArrays(GL_TRIANGLE_STRIP, 4, v, true, false);
}

}  // namespace

void SGRenderManagerES2::renderColoredSprite(const SGSpriteDrawRecord& r) {
    bindTexture(programs().whiteTexture);
    setModelMatrix(r.centerX, r.centerY, r.drawSin, r.drawCos);
    const float v[8] = {-r.halfWidth, r.halfHeight,  r.halfWidth, r.halfHeight,
                        -r.halfWidth, -r.halfHeight, r.halfWidth, -r.halfHeight};
    drawArrays(GL_TRIANGLE_STRIP, 4, v, false, false);  // the constant (0, 0) texture coordinate
}

void SGRenderManagerES2::renderTiledSprite(SGSpriteNode* sprite) {
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
    bool batching = batchingActive();
    const SGSpriteDrawRecord& r = sprite->record;
    // A sprite unchanged since its quad went into this slot costs no look at its record; one only
    // moved or turned, a look at its placement.
    if (batching) {
        auto kept = m_quads->reuse(sprite, sprite->drawVersion, sprite->shapeVersion, &m_offsets);
        if (kept == QuadStore::kMoved)
            writeBatchPlacement(m_quads->placement(), r.centerX, r.centerY, r.drawSin, r.drawCos);
        if (kept != QuadStore::kNotKept) return;
    }

    if (r.drawColor.a == 0.0f) return;
    bool textured = r.drawImage.textureWidth >= 1;
    bool stretched = r.horizontalWrapping == SGSpriteStretched && r.verticalWrapping == SGSpriteStretched;
    bool tiled = textured && (r.horizontalWrapping == SGSpriteTiled || r.verticalWrapping == SGSpriteTiled);
    float hw = r.halfWidth, hh = r.halfHeight;
    SGTextureRect tr{0, 0, 0, 0};  // untextured: (0, 0) samples the white texture
    if (textured && !tiled) {
        if (stretched)
            tr = r.drawImage.textureRect;
        else
            r.fixedExtent(hw, hh, tr);
    }
    if (batching && !tiled) {
        BatchKey key{textured ? r.drawImage.texture : programs().whiteTexture,
                     SGBlendFactorsForMode(r.blendMode, r.premultiplyColor != 0)};
        QuadVertices quad = m_quads->claim(sprite, sprite->drawVersion, sprite->shapeVersion, key, &m_offsets);
        writeBatchShape(quad.shape, hw, hh, tr, r.drawColor);
        writeBatchPlacement(quad.placement, r.centerX, r.centerY, r.drawSin, r.drawCos);
        return;
    }
    // One call for this sprite: colour and blending go through the caches now.
    flushBatch();
    setColor(r.drawColor);
    SGSetBlendMode(r.blendMode, r.premultiplyColor);
    if (!textured)
        renderColoredSprite(r);
    else if (tiled)
        renderTiledSprite(sprite);
    else
        drawQuad(*this, r, hw, hh, r.drawImage.texture, tr);
}
