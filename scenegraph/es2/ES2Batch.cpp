#include "scenegraph/es2/ES2Batch.h"

#include <algorithm>
#include <cstddef>

#include "scenegraph/es2/ES2Programs.h"
#include "scenegraph/es2/ES2StateCache.h"

namespace dk::scenegraph::es2 {

namespace {

// A batch vertex: position, texture coordinate, colour, model transform (cos, sin, x, y).
constexpr int kBatchFloats = 12;

struct Batch {
    bool on = true;
    // Grown only when a frame holds more quads than any before; quads are written in place.
    std::vector<float> vertices;
    std::size_t room = 0;  // quads the storage holds
    int quads = 0;
    GLuint texture = 0;
    SGBlendFactors blend{};
    const std::vector<Offset>* offsets = nullptr;
};

Batch& batch() {
    static Batch pending;
    return pending;
}

void writeVertices(float* out, const Quad& q) {
    writeCorners(out, kBatchFloats, q.hw, q.hh, q.rect);
    for (int k = 0; k < 4; ++k, out += kBatchFloats) {
        out[4] = q.color.r;
        out[5] = q.color.g;
        out[6] = q.color.b;
        out[7] = q.color.a;
        out[8] = q.cos;
        out[9] = q.sin;
        out[10] = q.x;
        out[11] = q.y;
    }
}

void grow(Batch& b, std::size_t quads) {
    b.room = std::max(quads, 2 * b.room);
    b.vertices.resize(b.room * 4 * kBatchFloats);
}

}  // namespace

bool batchingActive() {
    return batch().on && usable(programs().batchProgram);
}

void setBatchingOn(bool on) {
    batch().on = on;
}

void reserveBatch(std::size_t quads) {
    Batch& b = batch();
    quads = std::min(quads, static_cast<std::size_t>(programs().maxBatchQuads));
    if (quads > b.room) grow(b, quads);
}

void addToBatch(const Quad& q, const std::vector<Offset>* offsets) {
    Batch& b = batch();
    if (b.quads > 0 && (b.texture != q.texture || !(b.blend == q.blend) || b.offsets != offsets ||
                        b.quads == programs().maxBatchQuads))
        flushBatch();
    if (b.quads == 0) {
        b.texture = q.texture;
        b.blend = q.blend;
        b.offsets = offsets;
    }
    if (static_cast<std::size_t>(b.quads) == b.room) grow(b, b.room + 1);
    writeVertices(b.vertices.data() + static_cast<std::size_t>(b.quads) * 4 * kBatchFloats, q);
    ++b.quads;
}

void flushBatch() {
    Batch& b = batch();
    if (b.quads == 0) return;
    const Programs& p = programs();
    StateCache& s = stateCache();
    useProgram(p.batchProgram);
    SGSetBlendFactors(b.blend);
    bindTexture(b.texture);
    uploadIfChanged(p.batchMvpLoc, s.batchMvp, s.mvp);
    const float* v = b.vertices.data();
    constexpr GLsizei stride = kBatchFloats * sizeof(float);
    pointAttribute(Position, 2, stride, v);
    pointAttribute(TexCoord, 2, stride, v + 2);
    pointAttribute(Color, 4, stride, v + 4);
    pointAttribute(Model, 4, stride, v + 8);
    // Bound for this call only: the element buffer binding is no part of the cached state.
    glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, p.quadIndices);
    drawAtOffsets(GL_TRIANGLES, b.quads * 6, *b.offsets, p.batchSpaceTransLoc, s.batchSpaceTrans, true);
    glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, 0);
    // The main program does not read it, but an enabled array must never point at freed memory.
    disableAttribute(Model);
    clearBatch();
}

void clearBatch() {
    batch().quads = 0;
}

void releaseBatch() {
    bool on = batch().on;
    batch() = Batch{};
    batch().on = on;
}

void batchTextureDeleted(GLuint texture) {
    if (batch().texture == texture) batch().texture = 0;
}

}  // namespace dk::scenegraph::es2
