// What both renderers share: the draw list (registration, removal, sorting by layer with the
// nested spaces sorted in turn) and the walk that hands each listed node to its drawing routine.
#pragma once

#include <vector>

#include "scenegraph/IRenderManager.h"

class SGSpace;

class SGRenderManagerBase : public IRenderManager {
public:
    void registerNode(SGRenderNode* node) override;
    void unregisterNode(SGRenderNode* node) override;
    void unregisterAllNodes() override;
    void sortNodes() override;
    // Walks the draw list (see renderDrawList); renderers override it to set up state around.
    void render() override;

    const std::vector<SGRenderNode*>& drawList() const { return m_drawList; }

protected:
    // Hands each listed node, in order, to the routine of the first of its class bits found in
    // this order: clear, ortho 2D space, particle system, replicator, sprite, wrap space, space.
    // A render node with none of them (the sound listener) is not drawn.
    void renderDrawList();

    virtual void drawClear(SGRenderNode* clearNode) = 0;
    virtual void drawOrtho2DSpace(SGSpace* space) = 0;
    virtual void drawParticleSystem(SGRenderNode* particleSystem) = 0;
    virtual void drawReplicator(SGSpace* replicator) = 0;
    virtual void drawSprite(SGRenderNode* sprite) = 0;
    virtual void drawWrapSpace(SGSpace* wrapSpace) = 0;
    // A plain space draws itself through its own render manager.
    virtual void drawSpace(SGSpace* space);

private:
    std::vector<SGRenderNode*> m_drawList;
};
