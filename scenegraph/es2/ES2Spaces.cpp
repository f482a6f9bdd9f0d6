// The ES2 renderer's space paths. An ortho space sets the projection for its contents; replicators
// and wrap spaces hand their contents' managers the copy offsets every draw is repeated at.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <utility>

#include "scenegraph/SGSpace.h"
#include "scenegraph/es2/ES2Batch.h"
#include "scenegraph/es2/ES2StateCache.h"
#include "scenegraph/es2/SGRenderManagerES2.h"
#include "scenegraph/nodes/SGReplicatorNode.h"

using namespace dk::scenegraph::es2;

namespace {

// A replicator's copies multiply its parent's offsets; past this many the list is cut short
// rather than exhausting memory on a runaway "copies" value.
constexpr size_t kMaxOffsets = 1 << 16;

// The projection of an ortho space (x, y, width, height, near, far, rotation in degrees).
void orthoMatrix(const float (&in)[7], float (&m)[16]) {
    float l = in[0], r = in[0] + in[2], b = in[1], t = in[1] + in[3], n = in[4], f = in[5];
    float s, c;
    dk::scenegraph::sinCosDegrees(in[6], s, c);
    const float matrix[16] = {2 * c / (r - l),
                              2 * s / (t - b),
                              0,
                              0,
                              -2 * s / (r - l),
                              2 * c / (t - b),
                              0,
                              0,
                              0,
                              0,
                              -2 / (f - n),
                              0,
                              ((b + t) * s - (l + r) * c) / (r - l),
                              (-(l + r) * s - (b + t) * c) / (t - b),
                              -(f + n) / (f - n),
                              1};
    std::memcpy(m, matrix, sizeof matrix);
}

void setMvp(const float* matrix) {
    useProgram(programs().program);
    glUniformMatrix4fv(programs().mvpLoc, 1, GL_FALSE, matrix);
    std::memcpy(stateCache().mvp, matrix, sizeof(float) * 16);
}

}  // namespace

void SGRenderManagerES2::handOffsets(SGSpace* space, std::vector<Offset> offsets) {
    auto* manager = dynamic_cast<SGRenderManagerES2*>(&space->renderManager());
    if (manager && manager != this) manager->setOffsets(std::move(offsets));
}

void SGRenderManagerES2::drawSpace(SGSpace* space) {
    flushBatch();
    space->render();
}

void SGRenderManagerES2::drawOrtho2DSpace(SGSpace* node) {
    flushBatch();
    auto* space = static_cast<SGOrtho2DSpace*>(node);
    float in[7] = {space->x.numberValue(),
                   space->y.numberValue(),
                   space->width.numberValue(),
                   space->height.numberValue(),
                   space->near.numberValue(),
                   space->far.numberValue(),
                   space->modelRotation.numberValue()};
    Cache& cache = m_caches[node];
    if (!cache.valid || std::memcmp(cache.inputs, in, sizeof in) != 0) {
        cache.valid = true;
        std::memcpy(cache.inputs, in, sizeof in);
        orthoMatrix(in, cache.matrix);
        // A zero-size view (or near equal to far) has no projection: draw nothing rather than
        // hand GL infinities and NaNs.
        cache.degenerate = !std::all_of(std::begin(cache.matrix), std::end(cache.matrix),
                                        [](float v) { return std::isfinite(v); });
    }
    if (cache.degenerate) return;

    float saved[16];
    bool changed = std::memcmp(stateCache().mvp, cache.matrix, sizeof saved) != 0;
    if (changed) {
        std::memcpy(saved, stateCache().mvp, sizeof saved);
        setMvp(cache.matrix);
    }
    if (m_offsetsChanged) handOffsets(space, m_offsets);
    space->render();
    if (changed) setMvp(saved);
}

void SGRenderManagerES2::drawReplicator(SGSpace* node) {
    flushBatch();
    auto* replicator = static_cast<SGReplicatorNode*>(node);
    float spacing = replicator->spacing.numberValue();
    float angle = replicator->angle.numberValue();
    int32_t copies = replicator->copies.intValue();
    Cache& cache = m_caches[node];
    if (m_offsetsChanged || !cache.valid || cache.inputs[0] != spacing || cache.inputs[1] != angle ||
        cache.count != copies) {
        cache.valid = true;
        cache.inputs[0] = spacing;
        cache.inputs[1] = angle;
        cache.count = copies;
        const auto step = dk::scenegraph::replicatorStep(spacing, angle);
        std::vector<Offset> list = m_offsets;
        for (int32_t i = 1; i < copies && list.size() + m_offsets.size() <= kMaxOffsets; ++i) {
            auto [dx, dy] = step.shift(i);
            for (const auto& [ox, oy] : m_offsets) list.emplace_back(ox + dx, oy + dy);
        }
        handOffsets(replicator, std::move(list));
    }
    replicator->render();
}

void SGRenderManagerES2::drawWrapSpace(SGSpace* node) {
    flushBatch();
    auto* wrap = static_cast<SGWrapNode*>(node);
    bool wrapX = wrap->wrapX.boolValue();
    bool wrapY = wrap->wrapY.boolValue();
    const float in[4] = {wrap->x.numberValue(), wrap->y.numberValue(), wrap->wrapWidth.numberValue(),
                         wrap->wrapHeight.numberValue()};
    Cache& cache = m_caches[node];
    if (m_offsetsChanged || !cache.valid || !std::equal(in, in + 4, cache.inputs) ||
        cache.flags[0] != wrapX || cache.flags[1] != wrapY) {
        cache.valid = true;
        std::memcpy(cache.inputs, in, sizeof in);
        cache.flags[0] = wrapX;
        cache.flags[1] = wrapY;
        Offset shifts[3];
        int n = dk::scenegraph::wrapShifts(wrapX, wrapY, in[0], in[1], in[2], in[3], shifts);
        std::vector<Offset> list = m_offsets;
        for (int k = 0; k < n; ++k)
            for (const auto& [ox, oy] : m_offsets)
                list.emplace_back(ox + shifts[k].first, oy + shifts[k].second);
        handOffsets(wrap, std::move(list));
    }
    wrap->render();
}
