// Render math and blend modes shared by the OpenGL ES 2.0 and 1.1 renderers, so both draw the
// same geometry with the same blending: the blend table (SGBlendFactorsForMode, the cached factors),
// sine and cosine in degrees, rotated quad corners, tiled-sprite layout (layoutTiles: each axis laid
// out by one function, spans from the bottom-left, the last one cropped at the anchor; an axis whose
// tile size is below 1, or that would need more than SGSpriteMaxTiles tiles, is drawn stretched),
// the copy shifts of replicators and wrap spaces (wrapShifts: towards the middle, the middle
// counting as far). replicatorStep serves both ways the renderers have always copied: ES2 shifts
// copy i by i steps at once, ES1 moves its matrix one step per copy, so long rows round
// differently.
#pragma once

#include <cstdint>
#include <utility>

// How a sprite or particle system is blended into the frame (the "blendingMode" ports).
enum SGBlendMode : int32_t {
    SGBlendModeAlpha = 0,     // over (also any value outside 1 to 4)
    SGBlendModeCopy = 1,      // replaces the destination
    SGBlendModeAdd = 2,       // adds
    SGBlendModeScreen = 3,    // source plus destination less its own share
    SGBlendModeMultiply = 4,  // multiplies the destination by the source colour
};

struct SGBlendFactors {
    uint32_t source;  // GL blend factor enums
    uint32_t dest;

    friend bool operator==(const SGBlendFactors&, const SGBlendFactors&) = default;
};

// The factors glBlendFunc gets for a mode; a premultiplied source takes GL_ONE for its alpha.
SGBlendFactors SGBlendFactorsForMode(int32_t mode, bool premultiplied);

// The factors last given to glBlendFunc. They start as the player's view sets blending up
// (source alpha, one minus source alpha) and go back to that whenever the GL set-up is rebuilt.
extern uint32_t SGCurrentSourceFactor;
extern uint32_t SGCurrentDestFactor;

// Calls glBlendFunc only when the factors differ from the last ones given.
void SGSetBlendFactors(SGBlendFactors factors);
void SGSetBlendMode(int32_t mode, int premultiplied);
// Forgets what GL holds: sets GL's blend function to the starting factors and records them.
void SGResetBlendMode();

namespace dk::scenegraph {

// Sine and cosine of an angle in degrees, reduced modulo 360 first (in double, as floats).
void sinCosDegrees(float degrees, float& s, float& c);

// The four corners of a quad centred at (x, y) with half extents (hw, hh), rotated
// counter-clockwise by `angle` degrees: top-left, top-right, bottom-left, bottom-right. Corner k
// goes to out[k * stride] and out[k * stride + 1]; a stride of 0 means packed pairs.
void rotate4(float x, float y, float hw, float hh, float angle, float* out, unsigned short stride);
// The same corners as six vertices for a strip of stitched quads: top-left twice, top-right,
// bottom-left, bottom-right twice (the repeats make the degenerate joins). Stride is not 0.
void rotate6(float x, float y, float hw, float hh, float angle, float* out, unsigned short stride);

// A copy's shift from where its space would draw it alone.
using Offset = std::pair<float, float>;

// A replicator's copies, `spacing` apart along `angle` degrees; the first, 0, stays in place.
// The renderers keep their own arithmetic: ES2 shifts copy `index` at once, ES1 moves its matrix
// one step per copy, and the two round differently on long rows.
struct ReplicatorStep {
    float spacing, c, s;
    Offset shift(int32_t index) const {
        return {static_cast<float>(index) * spacing * c, static_cast<float>(index) * spacing * s};
    }
    Offset step() const { return {spacing * c, spacing * s}; }
};
ReplicatorStep replicatorStep(float spacing, float angle);

// The extra copies of a wrap space, in drawing order: one wrap width across (towards the middle:
// left from the far half, the middle itself counting as far), one wrap height up or down, and
// both when both axes wrap. Returns how many of `out` it filled.
int wrapShifts(bool wrapX, bool wrapY, float x, float y, float wrapWidth, float wrapHeight, Offset (&out)[3]);

}  // namespace dk::scenegraph
