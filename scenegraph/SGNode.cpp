#include "scenegraph/SGNode.h"

SGPort* SGNode::portForID(SGPortID) {
    return nullptr;
}

void SGNode::addOutputPort(SGPort* port, SGPortValueType type) {
    port->m_owner = this;
    port->m_type = static_cast<uint8_t>(type);
    m_outputPorts.push_back(port);
}

void SGNode::addInputPort(SGPort* port, SGPortValueType type) {
    port->m_owner = this;
    port->m_type = static_cast<uint8_t>(type);
    for (SGPort* output : m_outputPorts) port->addDestPort(output);
}

void SGNode::markPlacement(SGPort* port) {
    port->m_placement = true;
}
