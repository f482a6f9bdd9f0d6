// Consecutive sprite quads that share texture, blend factors and copy offsets, gathered and drawn
// in one call by the batch program.
#pragma once

#include <GLES2/gl2.h>

#include <cstddef>
#include <vector>

#include "scenegraph/SGColor.h"
#include "scenegraph/SGImage.h"
#include "scenegraph/SGRenderMath.h"

namespace dk::scenegraph::es2 {

// A sprite's quad: half extents and texture rectangle of its corners about its centre, its
// model rotation (sinCosDegrees of its angle) and centre, and what draws it.
struct Quad {
    float hw, hh;
    SGTextureRect rect;
    SGColor color;
    float x, y, sin, cos;
    GLuint texture;
    SGBlendFactors blend;
};

// The quad's four corners (top-left, top-right, bottom-left, bottom-right), x, y, u, v each,
// `stride` floats apart.
inline void writeCorners(float* out, int stride, float hw, float hh, const SGTextureRect& tr) {
    const float v[4][4] = {
        {-hw, hh, tr.x0, tr.y1}, {hw, hh, tr.x1, tr.y1}, {-hw, -hh, tr.x0, tr.y0}, {hw, -hh, tr.x1, tr.y0}};
    for (int k = 0; k < 4; ++k, out += stride)
        for (int i = 0; i < 4; ++i) out[i] = v[k][i];
}

// Whether sprites go into batches: batching is on and this context has the batch program.
bool batchingActive();
void setBatchingOn(bool on);

// Makes room for a frame's worth of quads up front, so that adding one never allocates.
void reserveBatch(std::size_t quads);
// Adds the quad to the pending batch, drawing the batch first when the quad cannot join it.
void addToBatch(const Quad& quad, const std::vector<Offset>* offsets);
// Draws the pending batch of sprite quads in one call per copy offset.
void flushBatch();
// Drops the pending batch undrawn (GL was reset under it).
void clearBatch();
// Drops the pending batch and its storage; whether batching is on stays as set.
void releaseBatch();
// Forgets a deleted texture the pending batch names.
void batchTextureDeleted(GLuint texture);

}  // namespace dk::scenegraph::es2
