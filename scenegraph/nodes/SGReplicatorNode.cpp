#include "scenegraph/nodes/SGReplicatorNode.h"

SGReplicatorNode::SGReplicatorNode(SGSpace* parent) : SGSpace(parent) {
    addNodeClass(SGNodeClassReplicatorNode);
    addInputPort(&angle, SGPortValueType::NUMBER);
    addInputPort(&spacing, SGPortValueType::NUMBER);
    addInputPort(&copies, SGPortValueType::INTEGER);
}

SGPort* SGReplicatorNode::portForID(SGPortID id) {
    switch (id) {
        case SGPortID::angle:
            return &angle;
        case SGPortID::spacing:
            return &spacing;
        case SGPortID::copies:
            return &copies;
        default:
            return nullptr;
    }
}

// The renderers reach these spaces through their own paths and then ask them to draw their
// contents; a render that only cleared the flag would leave every replicated space empty.
void SGReplicatorNode::render() {
    dirty = false;
    SGSpace::render();
}

SGWrapNode::SGWrapNode(SGSpace* parent) : SGSpace(parent) {
    addNodeClass(SGNodeClassWrapNode);
    addInputPort(&x, SGPortValueType::NUMBER);
    addInputPort(&y, SGPortValueType::NUMBER);
    addInputPort(&wrapX, SGPortValueType::BOOLEAN);
    addInputPort(&wrapY, SGPortValueType::BOOLEAN);
    addInputPort(&wrapWidth, SGPortValueType::NUMBER);
    addInputPort(&wrapHeight, SGPortValueType::NUMBER);
}

SGPort* SGWrapNode::portForID(SGPortID id) {
    switch (id) {
        case SGPortID::x:
            return &x;
        case SGPortID::y:
            return &y;
        case SGPortID::wrapX:
            return &wrapX;
        case SGPortID::wrapY:
            return &wrapY;
        case SGPortID::wrapWidth:
            return &wrapWidth;
        case SGPortID::wrapHeight:
            return &wrapHeight;
        default:
            return nullptr;
    }
}

void SGWrapNode::render() {
    dirty = false;
    SGSpace::render();
}
