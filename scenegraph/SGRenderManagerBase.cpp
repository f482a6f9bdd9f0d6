#include "scenegraph/SGRenderManagerBase.h"

#include <algorithm>

#include "scenegraph/SGSpace.h"

void SGRenderManagerBase::registerNode(SGRenderNode* node) {
    m_drawList.push_back(node);
}

void SGRenderManagerBase::unregisterNode(SGRenderNode* node) {
    auto it = std::find(m_drawList.begin(), m_drawList.end(), node);
    if (it != m_drawList.end()) m_drawList.erase(it);
}

void SGRenderManagerBase::unregisterAllNodes() {
    m_drawList.clear();
}

void SGRenderManagerBase::sortNodes() {
    std::stable_sort(m_drawList.begin(), m_drawList.end(), SGRenderNode::compare);
    for (SGRenderNode* node : m_drawList)
        if (node->nodeClass() & SGNodeClassSpace) static_cast<SGSpace*>(node)->sortRenderNodes();
}

void SGRenderManagerBase::render() {
    renderDrawList();
}

void SGRenderManagerBase::renderDrawList() {
    for (SGRenderNode* node : m_drawList) {
        uint32_t bits = node->nodeClass();
        if (bits & SGNodeClassClearNode)
            drawClear(node);
        else if (bits & SGNodeClassOrtho2DSpace)
            drawOrtho2DSpace(static_cast<SGSpace*>(node));
        else if (bits & SGNodeClassParticleSystemNode)
            drawParticleSystem(node);
        else if (bits & SGNodeClassReplicatorNode)
            drawReplicator(static_cast<SGSpace*>(node));
        else if (bits & SGNodeClassSpriteNode)
            drawSprite(node);
        else if (bits & SGNodeClassWrapNode)
            drawWrapSpace(static_cast<SGSpace*>(node));
        else if (bits & SGNodeClassSpace)
            drawSpace(static_cast<SGSpace*>(node));
    }
}

void SGRenderManagerBase::drawSpace(SGSpace* space) {
    space->render();
}
