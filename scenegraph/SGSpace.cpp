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

SGSpace::SGSpace(SoundManager* soundManager, DKEngineAssetManager* assetManager)
    : SGSpace(soundManager, assetManager, SGMakeRenderManager()) {}

SGSpace::SGSpace(SoundManager* soundManager, DKEngineAssetManager* assetManager,
                 std::unique_ptr<IRenderManager> renderManager)
    : renderManager_(std::move(renderManager)), assetManager_(assetManager), soundManager_(soundManager) {
    assert(renderManager_);
    addNodeClass(SGNodeClassSpace);
}

SGSpace::SGSpace(SGSpace* parent) : SGSpace(parent->soundManager_, parent->assetManager_) {}

SGSpace::~SGSpace() {
    removeAllNodes();
    renderManager_.reset();
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
    assert(std::find(nodes_.begin(), nodes_.end(), node) == nodes_.end() && "node added twice");
    nodes_.push_back(node);
    if (node->nodeClass() & SGNodeClassRenderNode) {
        auto* renderNode = static_cast<SGRenderNode*>(node);
        renderNodes_.push_back(renderNode);
        renderManager_->registerNode(renderNode);
    }
}

void SGSpace::removeNode(SGNode* node) {
    auto member = std::find(nodes_.begin(), nodes_.end(), node);
    if (member == nodes_.end()) return;
    if (node->nodeClass() & SGNodeClassRenderNode) {
        auto it = std::find(renderNodes_.begin(), renderNodes_.end(), node);
        if (it != renderNodes_.end()) {
            renderNodes_.erase(it);
            renderManager_->unregisterNode(static_cast<SGRenderNode*>(node));
        }
    }
    nodes_.erase(member);
    node->release();
}

void SGSpace::removeAllNodes() {
    // Take the lists first: releasing a node runs arbitrary destructors.
    std::vector<SGNode*> members;
    members.swap(nodes_);
    renderNodes_.clear();
    renderManager_->unregisterAllNodes();
    for (SGNode* node : members) node->release();
}

void SGSpace::compute() {
    dirty = false;
    for (size_t i = 0; i < renderNodes_.size(); ++i) renderNodes_[i]->compute();
}

void SGSpace::render() {
    willRender();
    renderManager_->render();
    didRender();
}

void SGSpace::sortRenderNodes() {
    std::stable_sort(renderNodes_.begin(), renderNodes_.end(), SGRenderNode::compare);
    renderManager_->sortNodes();
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
