// Consecutive sprite quads that share texture, blend factors and copy offsets, gathered and drawn
// in one call by the batch program. Each render manager keeps its sprites' quads from frame to
// frame in a QuadStore; a quad is written when its sprite's draw record changed, not every frame.
#pragma once

#include <GLES2/gl2.h>

#include <cstddef>
#include <cstdint>
#include <vector>

#include "scenegraph/SGColor.h"
#include "scenegraph/SGImage.h"
#include "scenegraph/SGRenderMath.h"

namespace dk::scenegraph::es2 {

// The quad's four corners (top-left, top-right, bottom-left, bottom-right), x, y, u, v each,
// `stride` floats apart.
inline void writeCorners(float* out, int stride, float hw, float hh, const SGTextureRect& tr) {
    const float v[4][4] = {
        {-hw, hh, tr.x0, tr.y1}, {hw, hh, tr.x1, tr.y1}, {-hw, -hh, tr.x0, tr.y0}, {hw, -hh, tr.x1, tr.y0}};
    for (int k = 0; k < 4; ++k, out += stride)
        for (int i = 0; i < 4; ++i) out[i] = v[k][i];
}

// What decides whether quads share a call besides their manager.
struct BatchKey {
    GLuint texture;
    SGBlendFactors blend;

    friend bool operator==(const BatchKey&, const BatchKey&) = default;
};

// A batch vertex: position, texture coordinate, colour, model transform (cos, sin, x, y).
inline constexpr int kBatchFloats = 12;

// A sprite's four batch vertices: its corners about its centre (half extents, texture
// rectangle), its colour, and its centre and model rotation (sinCosDegrees of its angle).
inline void writeBatchQuad(float* out, float hw, float hh, const SGTextureRect& tr, const SGColor& color,
                           float x, float y, float sin, float cos) {
    writeCorners(out, kBatchFloats, hw, hh, tr);
    for (int k = 0; k < 4; ++k, out += kBatchFloats) {
        out[4] = color.r;
        out[5] = color.g;
        out[6] = color.b;
        out[7] = color.a;
        out[8] = cos;
        out[9] = sin;
        out[10] = x;
        out[11] = y;
    }
}

class QuadStore;

// The quads waiting to be drawn: consecutive slots of one store. A plain global, read inline for
// every batched sprite.
struct PendingBatch {
    bool on = true;  // batching asked for (setBatchingOn)
    const QuadStore* store = nullptr;
    std::size_t first = 0;
    int quads = 0;
    int limit = 0;  // the most quads one call draws (the element buffer's)
    BatchKey key{};
    const std::vector<Offset>* offsets = nullptr;
    uint64_t setUp = 1;  // counts GL set-ups, so stores can tell keys taken under an earlier one

    bool takes(const QuadStore* s, const BatchKey& k, const std::vector<Offset>* o) const {
        return quads > 0 && store == s && key == k && offsets == o && quads < limit;
    }
};
inline PendingBatch pendingBatch;

// One render manager's sprite quads, slot by slot in drawing order, kept between frames. A slot
// remembers which sprite, at which count of its record's refreshes, it was written for: a sprite
// that comes to the same slot unchanged is drawn from what is there, without reading its record.
class QuadStore {
public:
    // Starts a frame: slots are taken from the first again; room for `quads` of them.
    void beginFrame(std::size_t quads);
    // The draw list changed: a sprite's address may come back as another sprite's, so no slot is
    // trusted again.
    void forget() { m_trusted = 0, m_stale = true; }

    // Joins the next slot to the batch when it already holds this sprite's quad at `version`.
    bool reuse(const void* sprite, uint32_t version, const std::vector<Offset>* offsets) {
        if (m_next >= m_trusted) return false;
        const Slot& slot = m_slots[m_next];
        if (slot.sprite != sprite || slot.version != version) return false;
        join(slot.key, offsets);
        return true;
    }
    // Joins the next slot to the batch for the sprite at `version`; returns where its quad's
    // vertices go (writeBatchQuad), written by the caller before anything else is batched.
    float* claim(const void* sprite, uint32_t version, const BatchKey& key,
                 const std::vector<Offset>* offsets) {
        if (m_next == m_slots.size()) grow(m_next + 1);
        std::size_t at = m_next;
        m_slots[at] = {sprite, version, key};
        join(key, offsets);
        return m_vertices.data() + at * 4 * kBatchFloats;
    }

    // The vertices of the slots from `first` on.
    const float* vertices(std::size_t first) const { return m_vertices.data() + first * 4 * kBatchFloats; }

private:
    struct Slot {
        const void* sprite = nullptr;
        uint32_t version = 0;
        BatchKey key{};
    };

    void grow(std::size_t quads);
    void join(const BatchKey& key, const std::vector<Offset>* offsets) {
        if (!pendingBatch.takes(this, key, offsets)) startBatch(key, offsets);
        ++pendingBatch.quads;
        ++m_next;
    }
    // Draws the pending batch and starts one at the next slot.
    void startBatch(const BatchKey& key, const std::vector<Offset>* offsets);

    std::vector<float> m_vertices;
    std::vector<Slot> m_slots;
    std::size_t m_next = 0;     // the slot the next quad of this frame takes
    std::size_t m_trusted = 0;  // slots below this may be reused (none while stale)
    bool m_stale = false;
    uint64_t m_setUp = 0;  // the GL set-up the keys were taken under
};

// Whether sprites go into batches: batching is on and this context has the batch program.
bool batchingActive();
void setBatchingOn(bool on);

// Draws the pending batch of sprite quads in one call per copy offset.
void flushBatch();
// GL was set up anew: drops the pending batch undrawn and makes every store write its quads again
// (the white texture's name may have changed).
void resetBatch();
// Drops the pending batch if it lies in this store.
void dropBatchOf(const QuadStore& store);
// Forgets a deleted texture the pending batch names.
void batchTextureDeleted(GLuint texture);

}  // namespace dk::scenegraph::es2
