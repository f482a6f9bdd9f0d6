// The OpenGL ES 1.1 render manager (installed for scenes made while DKShouldUseGLES2 is clear):
// draws the same node types with the fixed-function pipeline and the core's render math and blend
// table; it links the core and GLES 1 only. An ortho space pushes its projection and a fresh
// model-view matrix (copies of an enclosing replicator or wrap space do not reach into it; a space
// with no view volume gets a zero projection and draws nothing); replicators and wrap spaces draw
// their space again under glTranslatef (a replicator one step further per copy, a wrap space by
// each of its shifts). Sprite corners come from rotate4 on the CPU, tiled sprites from layoutTiles
// under a matrix at their centre rounded down to whole units. It has no half-pixel starting offset,
// so with the ES2 renderer's offset zeroed both draw the same pixels (the tiled centre's rounding
// aside). setUpGL, run by hosts for each ES 1.1 context, enables the client arrays, texturing and
// blending and hands GL the cached current and clear colours; those, with the blend factors shared
// with the ES2 renderer, are all it caches.
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
