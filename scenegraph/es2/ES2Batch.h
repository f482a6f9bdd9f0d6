// Consecutive sprite quads that share texture, blend factors and copy offsets, gathered and drawn
// in one call by the batch program.
#pragma once

#include <GLES2/gl2.h>

#include <vector>

#include "scenegraph/SGColor.h"
#include "scenegraph/SGRenderMath.h"

namespace dk::scenegraph::es2 {

// A sprite's quad: corners relative to its centre (top-left, top-right, bottom-left,
// bottom-right) with their texture coordinates, and what draws it.
struct Quad {
    float corners[4][4];  // x, y, u, v
    SGColor color;
    float x, y, angle;
    GLuint texture;
    SGBlendFactors blend;
};

// Whether sprites go into batches: batching is on and this context has the batch program.
bool batchingActive();
void setBatchingOn(bool on);

// Adds the quad to the pending batch, drawing the batch first when the quad cannot join it.
void addToBatch(const Quad& quad, const std::vector<Offset>* offsets);
// Draws the pending batch of sprite quads in one call per copy offset.
void flushBatch();
// Drops the pending batch undrawn (GL was reset under it).
void clearBatch();
// Forgets a deleted texture the pending batch names.
void batchTextureDeleted(GLuint texture);

}  // namespace dk::scenegraph::es2
