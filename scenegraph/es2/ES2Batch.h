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

// A batch vertex comes from two arrays: its shape (position, texture coordinate, colour), written
// when a sprite's record changed beyond its placement, and its placement, the model transform
// (cos, sin, x, y), all a moved or turned sprite rewrites: one cache line a quad.
inline constexpr int kShapeFloats = 8;
inline constexpr int kPlacementFloats = 4;

// A sprite's four placement vertices: its centre and model rotation (sinCosDegrees of its angle).
inline void writeBatchPlacement(float* out, float x, float y, float sin, float cos) {
    for (int k = 0; k < 4; ++k, out += kPlacementFloats) {
        out[0] = cos;
        out[1] = sin;
        out[2] = x;
        out[3] = y;
    }
}

// A sprite's four shape vertices: its corners about its centre (half extents, texture rectangle)
// and its colour.
inline void writeBatchShape(float* out, float hw, float hh, const SGTextureRect& tr, const SGColor& color) {
    writeCorners(out, kShapeFloats, hw, hh, tr);
    for (int k = 0; k < 4; ++k, out += kShapeFloats) {
        out[4] = color.r;
        out[5] = color.g;
        out[6] = color.b;
        out[7] = color.a;
    }
}

// Where a slot's quad lives.
struct QuadVertices {
    float* shape;
    float* placement;
};

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
// remembers which sprite, at which counts of its record's refreshes (all of them, and those that
// went beyond the placement), it was written for: a sprite that comes to the same slot unchanged is
// drawn from what is there without reading its record, and one only moved or turned has its
// placement rewritten and nothing else.
class QuadStore {
public:
    // What the next slot holds for a sprite.
    enum Kept {
        kNotKept,  // another sprite, or an older shape of this one: the whole quad is written
        kKept,     // this sprite's quad as it is
        kMoved,    // this sprite's shape at another placement, to be rewritten
    };

    // Starts a frame: slots are taken from the first again; room for `quads` of them.
    void beginFrame(std::size_t quads);
    // The draw list changed: a sprite's address may come back as another sprite's, so no slot is
    // trusted again.
    void forget() { m_trusted = 0, m_stale = true; }

    // Joins the next slot to the batch when it holds this sprite at `shape`; a kMoved slot then
    // counts as written at `version`, and its caller rewrites placement() before anything else is
    // batched.
    Kept reuse(const void* sprite, uint32_t version, uint32_t shape, const std::vector<Offset>* offsets) {
        if (m_next >= m_trusted) return kNotKept;
        Slot& slot = m_slots[m_next];
        if (slot.sprite != sprite || slot.shape != shape) return kNotKept;
        Kept kept = slot.version == version ? kKept : kMoved;
        slot.version = version;
        join(slot.key, offsets);
        return kept;
    }
    // The placement vertices of the slot reuse last joined.
    float* placement() { return m_placements.data() + (m_next - 1) * 4 * kPlacementFloats; }
    // Joins the next slot to the batch for the sprite at `version` and `shape`; returns where its
    // quad goes (writeBatchShape, writeBatchPlacement), written by the caller before anything else
    // is batched.
    QuadVertices claim(const void* sprite, uint32_t version, uint32_t shape, const BatchKey& key,
                       const std::vector<Offset>* offsets) {
        if (m_next == m_slots.size()) grow(m_next + 1);
        std::size_t at = m_next;
        m_slots[at] = {sprite, version, shape, key};
        join(key, offsets);
        return {m_shapes.data() + at * 4 * kShapeFloats, m_placements.data() + at * 4 * kPlacementFloats};
    }

    // The vertices of the slots from `first` on.
    const float* shapes(std::size_t first) const { return m_shapes.data() + first * 4 * kShapeFloats; }
    const float* placements(std::size_t first) const {
        return m_placements.data() + first * 4 * kPlacementFloats;
    }

private:
    struct Slot {
        const void* sprite = nullptr;
        uint32_t version = 0;
        uint32_t shape = 0;
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

    std::vector<float> m_shapes;
    std::vector<float> m_placements;
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
