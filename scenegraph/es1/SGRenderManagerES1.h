// The OpenGL ES 1.1 render manager: draws the scene graph with the fixed-function pipeline. The
// projection and model-view stacks stand in for the ES2 renderer's uniforms; repeated copies
// (replicators, wrap spaces) are the space drawn again under a translated model-view matrix;
// sprite corners are computed on the CPU. Geometry goes from client memory; almost no GL state is
// cached: the current colour, the blend factors shared with the ES2 renderer and
// the last clear colour.
#pragma once

#include "scenegraph/SGRenderManagerBase.h"

class SGSpriteNode;
struct SGSpriteDrawRecord;
struct SGTextureRect;

class SGRenderManagerES1 : public SGRenderManagerBase {
public:
    // Makes scenes and spaces use this renderer while DKShouldUseGLES2 is clear. Idempotent.
    static void install();
    // Puts the context in the state every draw path expects: vertex and texture-coordinate
    // arrays on, GL_TEXTURE_2D and blending on (source alpha, one minus source alpha), the
    // model-view stack selected, and GL's current and clear colours equal to the cached ones, so
    // a cached value never stands for a colour GL does not hold. Run whenever a context is made
    // or its frame buffer rebuilt.
    static void setUpGL();
    // Frees the particle arrays (installed as the renderer's release). The cached colours stay:
    // they stand for what the context holds, and setUpGL hands them to a new one.
    static void release();

protected:
    void drawClear(SGRenderNode* clearNode) override;
    void drawOrtho2DSpace(SGSpace* space) override;
    void drawParticleSystem(SGRenderNode* particleSystem) override;
    void drawReplicator(SGSpace* replicator) override;
    void drawSprite(SGRenderNode* sprite) override;
    void drawWrapSpace(SGSpace* wrapSpace) override;

private:
    void renderColoredSprite(const SGSpriteDrawRecord& r);
    void renderTexturedSprite(const SGSpriteDrawRecord& r, float hw, float hh, const SGTextureRect& tr);
    void renderFixedSprite(const SGSpriteDrawRecord& r);
    void renderTiledSprite(SGSpriteNode* sprite);
};

// The game view's entry when it draws with OpenGL ES 1.1: SGRenderManagerES1::setUpGL.
extern "C" void SGRenderManagerES1_setUpGL();
