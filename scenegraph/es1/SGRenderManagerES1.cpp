#include "scenegraph/es1/SGRenderManagerES1.h"

#include <GLES/gl.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "scenegraph/SGRenderMath.h"
#include "scenegraph/SGSpace.h"
#include "scenegraph/nodes/SGClearNode.h"
#include "scenegraph/nodes/SGParticleSystemNode.h"
#include "scenegraph/nodes/SGReplicatorNode.h"
#include "scenegraph/nodes/SGSpriteNode.h"

using dk::scenegraph::Offset;
using dk::scenegraph::replicatorStep;
using dk::scenegraph::rotate4;
using dk::scenegraph::sameColor;
using dk::scenegraph::wrapShifts;

namespace {

// Kept apart from the ES2 renderer's: each renderer knows only the glColor4f and glClearColor
// calls it made.
SGColor currentColor = SGBlackColor;
SGColor lastClearColor = SGBlackColor;

constexpr int kParticlesPerBatch = 5000;

// Client arrays of the particle batches, reused from batch to batch and frame to frame.
struct ParticleArrays {
    std::vector<float> positions;  // 2 floats per vertex
    std::vector<float> texCoords;  // 2 floats per vertex
    std::vector<float> colors;     // 4 floats per vertex
};

ParticleArrays& particleArrays() {
    static ParticleArrays arrays;
    return arrays;
}

void setColor(const SGColor& color) {
    currentColor = color;
    glColor4f(color.r, color.g, color.b, color.a);
}

// One particle's six stitched vertices (top-left twice, top-right, bottom-left, bottom-right
// twice) written into the batch's three arrays at vertex `index` = 6k; the first particle of a
// batch leaves out its leading repeat, the last its trailing one. Only the four real corners carry
// the colour and texture coordinates.
void setParticleVertices(ParticleArrays& out, int index, const SGParticleState& p, const float* texCoords,
                         bool first, bool last) {
    float corners[8];
    rotate4(p.x, p.y, p.width / 2, p.height / 2, p.angle, corners, 0);
    static constexpr int kCorner[6] = {0, 0, 1, 2, 3, 3};
    int from = first ? 1 : 0;
    int to = last ? 5 : 6;
    int vertex = first ? index : index - 1;
    for (int v = from; v < to; ++v, ++vertex) {
        int c = kCorner[v];
        out.positions[vertex * 2] = corners[c * 2];
        out.positions[vertex * 2 + 1] = corners[c * 2 + 1];
        if (v == 0 || v == 5) continue;  // the repeats keep zero colour, as the ES2 strip does
        if (texCoords) {
            out.texCoords[vertex * 2] = texCoords[c * 2];
            out.texCoords[vertex * 2 + 1] = texCoords[c * 2 + 1];
        }
        float* rgba = &out.colors[vertex * 4];
        rgba[0] = p.color.r;
        rgba[1] = p.color.g;
        rgba[2] = p.color.b;
        rgba[3] = p.color.a;
    }
}

}  // namespace

void SGRenderManagerES1::install() {
    SGSetRenderManagerMaker(SGRenderAPI::ES1, [] { return std::make_unique<SGRenderManagerES1>(); });
    SGSetRendererRelease(SGRenderAPI::ES1, &SGRenderManagerES1::release);
}

void SGRenderManagerES1::release() {
    particleArrays() = ParticleArrays{};
}

void SGRenderManagerES1::setUpGL() {
    install();
    glEnableClientState(GL_VERTEX_ARRAY);
    glEnableClientState(GL_TEXTURE_COORD_ARRAY);
    glDisableClientState(GL_COLOR_ARRAY);
    glEnable(GL_TEXTURE_2D);
    glTexEnvf(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_MODULATE);
    glDisable(GL_CULL_FACE);
    glEnable(GL_BLEND);
    SGResetBlendMode();
    glMatrixMode(GL_MODELVIEW);
    // A new context's colour is white and its clear colour transparent black, whatever the caches
    // say; without this a black first sprite would skip glColor4f and come out white.
    glColor4f(currentColor.r, currentColor.g, currentColor.b, currentColor.a);
    glClearColor(lastClearColor.r, lastClearColor.g, lastClearColor.b, lastClearColor.a);
}

void SGRenderManagerES1::drawClear(SGRenderNode* node) {
    SGColor color = static_cast<SGClearNode*>(node)->color.colorValue();
    if (!sameColor(color, lastClearColor)) {
        lastClearColor = color;
        glClearColor(color.r, color.g, color.b, color.a);
    }
    glClear(GL_COLOR_BUFFER_BIT);
}

void SGRenderManagerES1::drawOrtho2DSpace(SGSpace* node) {
    auto* space = static_cast<SGOrtho2DSpace*>(node);
    float x = space->x.numberValue();
    float y = space->y.numberValue();
    float width = space->width.numberValue();
    float height = space->height.numberValue();
    float near = space->near.numberValue();
    float far = space->far.numberValue();
    float rotation = space->modelRotation.numberValue();

    glMatrixMode(GL_PROJECTION);
    glPushMatrix();
    if (width == 0.0f || height == 0.0f || near == far) {
        // No view volume: glOrthof would refuse it and leave the identity, drawing the contents
        // across the whole surface. A zero projection draws nothing, yet the contents still run
        // (particles age), as they do under the ES2 renderer.
        static const GLfloat zero[16] = {};
        glLoadMatrixf(zero);
    } else {
        glLoadIdentity();
        glOrthof(x, x + width, y, y + height, near, far);
    }
    // The model-view matrix starts afresh: copies made by enclosing replicators or wrap spaces do
    // not reach into a nested ortho space.
    glMatrixMode(GL_MODELVIEW);
    glPushMatrix();
    glLoadIdentity();
    if (rotation != 0.0f) {
        float cx = (x + (x + width)) / 2;
        float cy = (y + (y + height)) / 2;
        glTranslatef(cx, cy, 0);
        glRotatef(rotation, 0, 0, 1);
        glTranslatef(-cx, -cy, 0);
    }
    space->render();
    glMatrixMode(GL_PROJECTION);
    glPopMatrix();
    glMatrixMode(GL_MODELVIEW);
    glPopMatrix();
}

namespace {

// Draws the space once more under the model-view matrix moved by `shift`.
void renderShifted(SGSpace* space, Offset shift) {
    glPushMatrix();
    glTranslatef(shift.first, shift.second, 0);
    space->render();
    glPopMatrix();
}

}  // namespace

void SGRenderManagerES1::drawReplicator(SGSpace* node) {
    auto* replicator = static_cast<SGReplicatorNode*>(node);
    float spacing = replicator->spacing.numberValue();
    float angle = replicator->angle.numberValue();
    int32_t copies = replicator->copies.intValue();
    const auto [dx, dy] = replicatorStep(spacing, angle).step();
    glPushMatrix();
    replicator->render();
    for (int32_t i = 1; i < copies; ++i) {
        glTranslatef(dx, dy, 0);
        replicator->render();
    }
    glPopMatrix();
}

void SGRenderManagerES1::drawWrapSpace(SGSpace* node) {
    auto* wrap = static_cast<SGWrapNode*>(node);
    Offset shifts[3];
    int n = wrapShifts(wrap->wrapX.boolValue(), wrap->wrapY.boolValue(), wrap->x.numberValue(),
                       wrap->y.numberValue(), wrap->wrapWidth.numberValue(), wrap->wrapHeight.numberValue(),
                       shifts);
    wrap->render();
    for (int k = 0; k < n; ++k) renderShifted(wrap, shifts[k]);
}

void SGRenderManagerES1::drawSprite(SGRenderNode* node) {
    auto* sprite = static_cast<SGSpriteNode*>(node);
    const SGSpriteDrawRecord& r = sprite->record;
    if (r.drawColor.a == 0.0f) return;
    if (!sameColor(r.drawColor, currentColor)) setColor(r.drawColor);
    SGSetBlendMode(r.blendMode, r.premultiplyColor);

    if (r.drawImage.textureWidth < 1)
        renderColoredSprite(r);
    else if (r.horizontalWrapping == SGSpriteStretched && r.verticalWrapping == SGSpriteStretched)
        renderTexturedSprite(r, r.halfWidth, r.halfHeight, r.drawImage.textureRect);
    else if (r.horizontalWrapping == SGSpriteTiled || r.verticalWrapping == SGSpriteTiled)
        renderTiledSprite(sprite);
    else
        renderFixedSprite(r);
    SGSetBlendMode(SGBlendModeAlpha, 0);
}

void SGRenderManagerES1::renderColoredSprite(const SGSpriteDrawRecord& r) {
    float corners[8];
    rotate4(r.centerX, r.centerY, r.halfWidth, r.halfHeight, r.drawAngle, corners, 0);
    glDisable(GL_TEXTURE_2D);
    glVertexPointer(2, GL_FLOAT, 0, corners);
    // The texture-coordinate array stays enabled: give it four valid vertices (unused while
    // texturing is off) rather than leave it pointing at another draw's memory.
    glTexCoordPointer(2, GL_FLOAT, 0, corners);
    glDrawArrays(GL_TRIANGLE_STRIP, 0, 4);
    glEnable(GL_TEXTURE_2D);
}

void SGRenderManagerES1::renderTexturedSprite(const SGSpriteDrawRecord& r, float hw, float hh,
                                              const SGTextureRect& tr) {
    glBindTexture(GL_TEXTURE_2D, r.drawImage.texture);
    float corners[8];
    rotate4(r.centerX, r.centerY, hw, hh, r.drawAngle, corners, 0);
    const float texCoords[8] = {tr.x0, tr.y1, tr.x1, tr.y1, tr.x0, tr.y0, tr.x1, tr.y0};
    glVertexPointer(2, GL_FLOAT, 0, corners);
    glTexCoordPointer(2, GL_FLOAT, 0, texCoords);
    glDrawArrays(GL_TRIANGLE_STRIP, 0, 4);
}

void SGRenderManagerES1::renderFixedSprite(const SGSpriteDrawRecord& r) {
    SGTextureRect tr;
    float hw, hh;
    r.fixedExtent(hw, hh, tr);
    renderTexturedSprite(r, hw, hh, tr);
}

void SGRenderManagerES1::renderTiledSprite(SGSpriteNode* sprite) {
    const SGSpriteDrawRecord& r = sprite->record;
    // The shared layout is already relative to the centre (its first tile at (-hw, -hh)), so the
    // array needs no origin translation of its own.
    sprite->layoutTiles();
    SGSpriteTiles& tiles = sprite->tiles;
    if (tiles.tileVertexCount <= 0) return;
    const float* vertices = tiles.tileVertices.data();
    glBindTexture(GL_TEXTURE_2D, r.drawImage.texture);
    glPushMatrix();
    // Only tiled sprites are placed on the unit grid: their centre is rounded down.
    glTranslatef(std::floor(r.centerX), std::floor(r.centerY), 0);
    glRotatef(r.drawAngle, 0, 0, 1);
    glVertexPointer(2, GL_FLOAT, 16, vertices);
    glTexCoordPointer(2, GL_FLOAT, 16, vertices + 2);
    glDrawArrays(GL_TRIANGLES, 0, tiles.tileVertexCount);
    glPopMatrix();
}

void SGRenderManagerES1::drawParticleSystem(SGRenderNode* node) {
    auto* system = static_cast<SGParticleSystemNode*>(node);
    // A system with no particles draws nothing (a batch of none would have a negative count).
    if (system->particleCount <= 0 || !system->particles) return;
    float t = system->time.numberValue();
    int32_t mode = system->blendingMode.intValue();
    bool textured = system->textured();
    const SGImage& image = system->emitterImage;
    if (textured) {
        SGSetBlendMode(mode, image.premultiplied != 0);
        glBindTexture(GL_TEXTURE_2D, image.texture);
    } else {
        SGSetBlendMode(mode, 0);
        glDisable(GL_TEXTURE_2D);
    }

    bool spawn = system->spawnParticles.boolValue();
    const SGTextureRect& tr = image.textureRect;
    const float texCoords[8] = {tr.x0, tr.y1, tr.x1, tr.y1, tr.x0, tr.y0, tr.x1, tr.y0};
    ParticleArrays& arrays = particleArrays();
    for (int32_t start = 0; start < system->particleCount; start += kParticlesPerBatch) {
        int n = std::min(kParticlesPerBatch, system->particleCount - start);
        int vertexCount = 6 * n - 2;
        arrays.positions.assign(static_cast<size_t>(vertexCount) * 2, 0.0f);
        arrays.texCoords.assign(static_cast<size_t>(vertexCount) * 2, 0.0f);
        arrays.colors.assign(static_cast<size_t>(vertexCount) * 4, 0.0f);
        for (int k = 0; k < n; ++k) {
            SGParticleState p = system->advanceParticle(system->particles[start + k], t, spawn);
            if (p.kind != SGParticleState::Alive) continue;  // zeroed: degenerate triangles
            setParticleVertices(arrays, 6 * k, p, textured ? texCoords : nullptr, k == 0, k == n - 1);
        }
        glEnableClientState(GL_COLOR_ARRAY);
        glVertexPointer(2, GL_FLOAT, 0, arrays.positions.data());
        glTexCoordPointer(2, GL_FLOAT, 0, arrays.texCoords.data());
        glColorPointer(4, GL_FLOAT, 0, arrays.colors.data());
        glDrawArrays(GL_TRIANGLE_STRIP, 0, vertexCount);
        glDisableClientState(GL_COLOR_ARRAY);
    }
    // Drawing with a colour array leaves GL's current colour undefined: give it the cached one
    // again, or the next sprite of that colour would skip glColor4f and draw in whatever remains.
    glColor4f(currentColor.r, currentColor.g, currentColor.b, currentColor.a);
    SGSetBlendMode(SGBlendModeAlpha, 0);
    if (!textured) glEnable(GL_TEXTURE_2D);
}

extern "C" void SGRenderManagerES1_setUpGL() {
    SGRenderManagerES1::setUpGL();
}
