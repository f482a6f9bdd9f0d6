#include "scenegraph/SGSpace.h"

#include <algorithm>
#include <cassert>
#include <map>

#include "scenegraph/nodes/SGArithmeticNode.h"
#include "scenegraph/nodes/SGClearNode.h"
#include "scenegraph/nodes/SGColorNode.h"
#include "scenegraph/nodes/SGImageFlipNode.h"
#include "scenegraph/nodes/SGParticleSystemNode.h"
#include "scenegraph/nodes/SGReplicatorNode.h"
#include "scenegraph/nodes/SGSpriteNode.h"

using dk::sound::SoundManager;

SGSpace::SGSpace(SoundManager* soundManager, DKEngineAssetManager* assetManager)
    : SGSpace(soundManager, assetManager, SGMakeRenderManager()) {}

SGSpace::SGSpace(SoundManager* soundManager, DKEngineAssetManager* assetManager,
                 std::unique_ptr<IRenderManager> renderManager)
    : m_renderManager(std::move(renderManager)), m_assetManager(assetManager), m_soundManager(soundManager) {
    assert(m_renderManager);
    addNodeClass(SGNodeClassSpace);
}

SGSpace::SGSpace(SGSpace* parent) : SGSpace(parent->m_soundManager, parent->m_assetManager) {}

SGSpace::~SGSpace() {
    removeAllNodes();
    m_renderManager.reset();
}

namespace {

bool madeAbove(uint32_t nodeClass) {
    switch (nodeClass) {
        case SGNodeClassImageLoaderNode:
        case SGNodeClassSoundListenerNode:
        case SGNodeClassSoundLoaderNode:
        case SGNodeClassSoundPlayerNode:
        case SGNodeClassStringToImageNode:
            return true;
        default:
            return false;
    }
}

std::map<uint32_t, SGNodeMaker>& nodeMakers() {
    static std::map<uint32_t, SGNodeMaker> makers;
    return makers;
}

}  // namespace

SGNodeMaker SGSetNodeMaker(SGNodeClass nodeClass, SGNodeMaker maker) {
    if (!madeAbove(nodeClass)) return {};
    auto& makers = nodeMakers();
    SGNodeMaker previous = std::move(makers[nodeClass]);
    if (maker)
        makers[nodeClass] = std::move(maker);
    else
        makers.erase(nodeClass);
    return previous;
}

SGNode* SGSpace::createNode(uint32_t nodeClass) {
    SGNode* node = nullptr;
    if (madeAbove(nodeClass)) {
        auto it = nodeMakers().find(nodeClass);
        if (it == nodeMakers().end()) return nullptr;
        node = it->second(*this);
        if (!node) return nullptr;
        addNode(node);
        return node;
    }
    switch (nodeClass) {
        case SGNodeClassArithmeticNode:
            node = new SGArithmeticNode;
            break;
        case SGNodeClassClearNode:
            node = new SGClearNode;
            break;
        case SGNodeClassColorNode:
            node = new SGColorNode;
            break;
        case SGNodeClassParticleSystemNode:
            node = new SGParticleSystemNode;
            break;
        case SGNodeClassReplicatorNode:
            node = new SGReplicatorNode(this);
            break;
        case SGNodeClassSpriteNode:
            node = new SGSpriteNode;
            break;
        case SGNodeClassWrapNode:
            node = new SGWrapNode(this);
            break;
        case SGNodeClassImageFlipNode:
            node = new SGImageFlipNode;
            break;
        case SGNodeClassSpace:
            node = new SGSpace(this);
            break;
        default:
            return nullptr;
    }
    addNode(node);
    return node;
}

void SGSpace::addNode(SGNode* node) {
    if (!node) return;
    assert(std::find(m_nodes.begin(), m_nodes.end(), node) == m_nodes.end() && "node added twice");
    m_nodes.push_back(node);
    if (node->nodeClass() & SGNodeClassRenderNode) {
        auto* renderNode = static_cast<SGRenderNode*>(node);
        m_renderNodes.push_back(renderNode);
        m_renderManager->registerNode(renderNode);
    }
}

void SGSpace::removeNode(SGNode* node) {
    auto member = std::find(m_nodes.begin(), m_nodes.end(), node);
    if (member == m_nodes.end()) return;
    if (node->nodeClass() & SGNodeClassRenderNode) {
        auto it = std::find(m_renderNodes.begin(), m_renderNodes.end(), node);
        if (it != m_renderNodes.end()) {
            m_renderNodes.erase(it);
            m_renderManager->unregisterNode(static_cast<SGRenderNode*>(node));
        }
    }
    m_nodes.erase(member);
    node->release();
}

void SGSpace::removeAllNodes() {
    // Take the lists first: releasing a node runs arbitrary destructors.
    std::vector<SGNode*> members;
    members.swap(m_nodes);
    m_renderNodes.clear();
    m_renderManager->unregisterAllNodes();
    for (SGNode* node : members) node->release();
}

void SGSpace::compute() {
    dirty = false;
    for (size_t i = 0; i < m_renderNodes.size(); ++i) m_renderNodes[i]->compute();
}

void SGSpace::render() {
    m_renderManager->render();
}

void SGSpace::sortRenderNodes() {
    std::stable_sort(m_renderNodes.begin(), m_renderNodes.end(), SGRenderNode::compare);
    m_renderManager->sortNodes();
}

SGOrtho2DSpace::SGOrtho2DSpace(SoundManager* soundManager, DKEngineAssetManager* assetManager)
    : SGSpace(soundManager, assetManager) {
    addNodeClass(SGNodeClassOrtho2DSpace);
    for (SGNumberPort* port : {&x, &y, &width, &height, &near, &far, &viewRotation, &modelRotation})
        addInputPort(port, SGPortValueType::NUMBER);
}

SGPort* SGOrtho2DSpace::portForID(SGPortID id) {
    switch (id) {
        case SGPortID::x:
            return &x;
        case SGPortID::y:
            return &y;
        case SGPortID::width:
            return &width;
        case SGPortID::height:
            return &height;
        case SGPortID::near:
            return &near;
        case SGPortID::far:
            return &far;
        case SGPortID::viewRotation:
            return &viewRotation;
        case SGPortID::modelRotation:
            return &modelRotation;
        default:
            return nullptr;
    }
}
