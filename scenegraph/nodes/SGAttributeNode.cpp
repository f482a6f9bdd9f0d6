#include "scenegraph/nodes/SGAttributeNode.h"

#include <cstdio>

SGAttributeNode::SGAttributeNode(SGPortValueType type) {
    addNodeClass(SGNodeClassAttributeNode);
    switch (type) {
        case SGPortValueType::STRING:
        case SGPortValueType::ASSETNAME:
            m_value = std::make_unique<SGStringPort>();
            break;
        case SGPortValueType::NUMBER:
            m_value = std::make_unique<SGNumberPort>();
            break;
        case SGPortValueType::INTEGER:
            m_value = std::make_unique<SGIntegerPort>();
            break;
        case SGPortValueType::BOOLEAN:
            m_value = std::make_unique<SGBooleanPort>();
            break;
        default:
            std::printf("SGAttributeNode creation failed - unsupported type\n");
            std::fflush(stdout);
            return;
    }
    addOutputPort(m_value.get(), type);
}

SGPort* SGAttributeNode::portForID(SGPortID) {
    return m_value.get();
}
