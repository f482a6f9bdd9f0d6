#include "scenegraph/SGNode.h"

SGPort* SGNode::portForID(SGPortID) {
    return nullptr;
}

void SGNode::addOutputPort(SGPort* port, SGPortValueType type) {
    port->owner_ = this;
    port->type_ = type;
    outputPorts_.push_back(port);
}

void SGNode::addInputPort(SGPort* port, SGPortValueType type) {
    port->owner_ = this;
    port->type_ = type;
    for (SGPort* output : outputPorts_) port->addDestPort(output);
}
