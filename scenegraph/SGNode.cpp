#include "scenegraph/SGNode.h"

SGPort* SGNode::portForID(SGPortID) {
    return nullptr;
}

void SGNode::addOutputPort(SGPort* port, SGPortValueType type) {
    port->m_owner = this;
    port->m_type = static_cast<uint8_t>(type);
    if (!m_outputPorts) m_outputPorts = std::make_unique<std::vector<SGPort*>>();
    m_outputPorts->push_back(port);
}

void SGNode::addInputPort(SGPort* port, SGPortValueType type) {
    port->m_owner = this;
    port->m_type = static_cast<uint8_t>(type);
    for (SGPort* output : outputPorts()) port->addDestPort(output);
}

std::span<SGPort* const> SGNode::outputPorts() const {
    if (!m_outputPorts) return {};
    return *m_outputPorts;
}

void SGNode::markPlacement(SGPort* port) {
    port->m_placement = true;
}
