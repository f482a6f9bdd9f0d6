#include "scenegraph/nodes/SGAttributeNode.h"

#include <cstdio>

SGAttributeNode::SGAttributeNode(SGPortValueType type) {
    addNodeClass(SGNodeClassAttributeNode);
    switch (type) {
        case SGPortValueType::STRING:
        case SGPortValueType::ASSETNAME:
            value_ = std::make_unique<SGStringPort>();
            break;
        case SGPortValueType::NUMBER:
            value_ = std::make_unique<SGNumberPort>();
            break;
        case SGPortValueType::INTEGER:
            value_ = std::make_unique<SGIntegerPort>();
            break;
        case SGPortValueType::BOOLEAN:
            value_ = std::make_unique<SGBooleanPort>();
            break;
        default:
            std::printf("SGAttributeNode creation failed - unsupported type\n");
            std::fflush(stdout);
            return;
    }
    addOutputPort(value_.get(), type);
}

SGPort* SGAttributeNode::portForID(SGPortID) {
    return value_.get();
}
