// The OpenGL ES 2.0 render manager: draws the scene graph with one shader program, geometry sent
// from client memory as interleaved floats, and a process-wide cache of GL state so that
// redundant calls are skipped. All GL state is shared by every instance; the draw list, the copy
// offsets and the offsets-changed flag belong to each. Its parts: ES2Programs (shaders and GL
// objects), ES2StateCache, ES2Batch, and the draw paths in ES2Spaces, ES2Sprites, ES2Particles.
//
// SGRenderManagerES2_setUpGL (also installing the maker) builds the programs, the white texture and
// the quad index buffer once per EGL context (a rebuild in the same context keeps them) and puts GL
// and every cache, the blend factors included, into one known state, so nothing cached survives a
// frame-buffer rebuild or GL work done behind the renderer's back. Texture uploads elsewhere must
// put the GL_TEXTURE_2D binding back (or call textureDeleted for the name they bound): the cache
// trusts it. Copies of replicator and wrap spaces are a per-manager list of offsets handed down the
// space tree, every draw issued once per offset. A zero-size ortho space (or near equal to far)
// draws nothing.
//
// Consecutive sprites that share texture and blend factors are drawn in one call by a second
// program that takes each sprite's model transform per vertex and computes the position with the
// same expression, so every pixel comes out as the one-call-per-sprite path draws it (the pixel
// tests run both ways). Each manager keeps its sprites' batch quads between frames, slot by slot in
// drawing order, split into shape (corners, texture coordinates, colour) and placement (the model
// transform, one cache line a quad): an unchanged sprite costs no look at its record, a moved one a
// rewrite of its placement line, and the whole quad is written only when the slot held another
// sprite or the shape moved on. A node leaving the draw list (its address may come back as
// another's) or a new GL set-up has every slot written again. Tiled sprites and particle systems
// (5000 to a call) keep their own calls. setBatching(false) selects the one-call-per-sprite path.
#pragma once

#include <cstdint>
#include <memory>
#include <unordered_map>
#include <utility>
#include <vector>

#include "scenegraph/SGImage.h"
#include "scenegraph/SGRenderManagerBase.h"
#include "scenegraph/SGRenderMath.h"

class SGSpriteNode;
struct SGSpriteDrawRecord;

namespace dk::scenegraph::es2 {
class QuadStore;
}

class SGRenderManagerES2 : public SGRenderManagerBase {
public:
    using Offset = dk::scenegraph::Offset;

    // Sets GL up the first time a manager is made in a context.
    SGRenderManagerES2();
    ~SGRenderManagerES2() override;

    void unregisterNode(SGRenderNode* node) override;
    void unregisterAllNodes() override;
    void render() override;

    // Makes scenes and spaces use this renderer while DKShouldUseGLES2 is set, and lets freed
    // textures reach textureDeleted. Idempotent.
    static void install();
    // Builds the shader programs and the white texture once per GL context (a later call in the
    // same context keeps them) and resets every cached GL state to what it sets GL to. Run
    // whenever the frame buffer is rebuilt. Does nothing without a current context.
    static void setUpGL();
    // Forgets a cached binding of a texture that was deleted elsewhere.
    static void textureDeleted(uint32_t texture);
    // Lets go of the GL objects, the caches and the scratch buffers (installed as the renderer's
    // release, run when the engine's last state closes). The objects are deleted when their
    // context is current, else left to it; either way they are forgotten, so the next manager or
    // setUpGL builds new ones in whatever context is then current, even a new context that EGL
    // happens to give the old one's handle.
    static void release();

    // Whether consecutive compatible sprites share one draw call (default on).
    static void setBatching(bool on);
    // Draw calls made since the process started (for the benchmark).
    static uint64_t drawCallCount();

    // The one draw call of the renderer: interleaved floats (x, y[, u, v][, r, g, b, a]) drawn
    // once per copy offset, translated by it. An empty offsets list draws nothing.
    void drawArrays(uint32_t mode, int count, const float* vertices, bool hasTexCoords, bool hasColors);

    const std::vector<Offset>& offsets() const { return m_offsets; }
    // Hands this manager a new list of copy offsets, as a parent replicator or wrap space does.
    void setOffsets(std::vector<Offset> offsets);

protected:
    void drawClear(SGRenderNode* clearNode) override;
    void drawOrtho2DSpace(SGSpace* space) override;
    void drawParticleSystem(SGRenderNode* particleSystem) override;
    void drawReplicator(SGSpace* replicator) override;
    void drawSprite(SGRenderNode* sprite) override;
    void drawWrapSpace(SGSpace* wrapSpace) override;
    void drawSpace(SGSpace* space) override;

private:
    // Per-node scratch of the space paths; a new entry is invalid, so the first draw computes it.
    struct Cache {
        bool valid = false;
        float inputs[7] = {};  // ortho: x, y, width, height, near, far, rotation; others a prefix
        int32_t count = 0;     // replicator copies
        bool flags[2] = {};    // wrap: wrapX, wrapY
        float matrix[16] = {};
        bool degenerate = false;
    };

    void renderColoredSprite(const SGSpriteDrawRecord& r);
    void renderTiledSprite(SGSpriteNode* sprite);
    void handOffsets(SGSpace* space, std::vector<Offset> offsets);
    static void releaseParticleVertices();

    std::unordered_map<const SGRenderNode*, Cache> m_caches;
    std::unique_ptr<dk::scenegraph::es2::QuadStore> m_quads;
    std::vector<Offset> m_offsets{{0.5f, 0.5f}};
    bool m_offsetsChanged = true;
};

// The game view's entry: SGRenderManagerES2::setUpGL.
extern "C" void SGRenderManagerES2_setUpGL();
