// The clear, colour and image flip nodes.
#include "scenegraph/nodes/SGClearNode.h"
#include "scenegraph/nodes/SGColorNode.h"
#include "scenegraph/nodes/SGImageFlipNode.h"

SGClearNode::SGClearNode() {
    addNodeClass(SGNodeClassClearNode);
    addInputPort(&color, SGPortValueType::COLOR);
}

SGColorNode::SGColorNode() {
    addNodeClass(SGNodeClassColorNode);
    addOutputPort(&output, SGPortValueType::COLOR);
    for (SGNumberPort* port : {&r, &g, &b, &a}) addInputPort(port, SGPortValueType::NUMBER);
}

void SGColorNode::compute() {
    SGColor c;
    c.r = r.numberValue();
    c.g = g.numberValue();
    c.b = b.numberValue();
    c.a = a.numberValue();
    output.value = c;
}

SGPort* SGColorNode::portForID(SGPortID id) {
    switch (id) {
        case SGPortID::output:
            return &output;
        case SGPortID::r:
            return &r;
        case SGPortID::g:
            return &g;
        case SGPortID::b:
            return &b;
        case SGPortID::a:
            return &a;
        default:
            return nullptr;
    }
}

SGImageFlipNode::SGImageFlipNode() {
    addNodeClass(SGNodeClassImageFlipNode);
    addOutputPort(&output, SGPortValueType::IMAGE);
    addInputPort(&input, SGPortValueType::IMAGE);
    addInputPort(&flipHorizontal, SGPortValueType::BOOLEAN);
    addInputPort(&flipVertical, SGPortValueType::BOOLEAN);
}

void SGImageFlipNode::compute() {
    SGImage image = input.imageValue();
    if (flipHorizontal.boolValue()) image.textureRect.flipHorizontally();
    if (flipVertical.boolValue()) image.textureRect.flipVertically();
    output.value = image;
}

SGPort* SGImageFlipNode::portForID(SGPortID id) {
    switch (id) {
        case SGPortID::output:
            return &output;
        case SGPortID::input:
            return &input;
        case SGPortID::flipHorizontal:
            return &flipHorizontal;
        case SGPortID::flipVertical:
            return &flipVertical;
        default:
            return nullptr;
    }
}
