// A node holding one value that the scripts set: its single port answers every port name.
#pragma once

#include <memory>

#include "scenegraph/SGNode.h"

class SGAttributeNode : public SGNode {
public:
    // STRING and ASSETNAME make a string port, NUMBER a number port, INTEGER an integer port,
    // BOOLEAN a boolean port. Any other type is reported on standard output and leaves the node
    // without a port.
    explicit SGAttributeNode(SGPortValueType type);

    // The value port for any identifier (null when the node has none).
    SGPort* portForID(SGPortID id) override;

    SGPort* valuePort() const { return m_value.get(); }

private:
    std::unique_ptr<SGPort> m_value;
};
