#include "scenegraph/es2/ES2Batch.h"

#include <algorithm>
#include <cstddef>

#include "scenegraph/es2/ES2Programs.h"
#include "scenegraph/es2/ES2StateCache.h"

namespace dk::scenegraph::es2 {

void QuadStore::beginFrame(std::size_t quads) {
    m_next = 0;
    if (m_stale || m_setUp != pendingBatch.setUp) {
        std::fill(m_slots.begin(), m_slots.end(), Slot{});
        m_stale = false;
        m_setUp = pendingBatch.setUp;
    }
    if (quads > m_slots.size()) grow(quads);
    m_trusted = m_slots.size();
}

void QuadStore::grow(std::size_t quads) {
    std::size_t room = std::max(quads, 2 * m_slots.size());
    m_slots.resize(room);
    m_shapes.resize(room * 4 * kShapeFloats);
    m_placements.resize(room * 4 * kPlacementFloats);
    if (!m_stale) m_trusted = room;
}

void QuadStore::startBatch(const BatchKey& key, const std::vector<Offset>* offsets) {
    flushBatch();
    PendingBatch& b = pendingBatch;
    b.store = this;
    b.first = m_next;
    b.key = key;
    b.offsets = offsets;
    b.limit = programs().maxBatchQuads;
}

bool batchingActive() {
    return pendingBatch.on && usable(programs().batchProgram);
}

void setBatchingOn(bool on) {
    pendingBatch.on = on;
}

void flushBatch() {
    PendingBatch& b = pendingBatch;
    if (b.quads == 0) return;
    const Programs& p = programs();
    StateCache& s = stateCache();
    useProgram(p.batchProgram);
    SGSetBlendFactors(b.key.blend);
    bindTexture(b.key.texture);
    uploadIfChanged(p.batchMvpLoc, s.batchMvp, s.mvp);
    const float* v = b.store->shapes(b.first);
    constexpr GLsizei stride = kShapeFloats * sizeof(float);
    pointAttribute(Position, 2, stride, v);
    pointAttribute(TexCoord, 2, stride, v + 2);
    pointAttribute(Color, 4, stride, v + 4);
    pointAttribute(Model, 4, kPlacementFloats * sizeof(float), b.store->placements(b.first));
    // Bound for this call only: the element buffer binding is no part of the cached state.
    glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, p.quadIndices);
    drawAtOffsets(GL_TRIANGLES, b.quads * 6, *b.offsets, p.batchSpaceTransLoc, s.batchSpaceTrans, true);
    glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, 0);
    // The main program does not read it, but an enabled array must never point at freed memory.
    disableAttribute(Model);
    b.quads = 0;
}

void resetBatch() {
    pendingBatch.quads = 0;
    ++pendingBatch.setUp;
}

void dropBatchOf(const QuadStore& store) {
    if (pendingBatch.store == &store) pendingBatch.quads = 0;
}

void batchTextureDeleted(GLuint texture) {
    if (pendingBatch.key.texture == texture) pendingBatch.key.texture = 0;
}

}  // namespace dk::scenegraph::es2
