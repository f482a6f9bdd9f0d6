#include "scenegraph/nodes/SGArithmeticNode.h"

#include <cmath>

SGArithmeticNode::SGArithmeticNode() {
    addNodeClass(SGNodeClassArithmeticNode);
    addOutputPort(&output, SGPortValueType::NUMBER);
    addInputPort(&input1, SGPortValueType::NUMBER);
    addInputPort(&input2, SGPortValueType::NUMBER);
    addInputPort(&operation, SGPortValueType::STRING);
}

void SGArithmeticNode::compute() {
    float a = input1.numberValue();
    float b = input2.numberValue();
    char op = operation.value.empty() ? '\0' : operation.value[0];
    float result;
    switch (op) {
        case '+':
            result = a + b;
            break;
        case '-':
            result = a - b;
            break;
        case '*':
            result = a * b;
            break;
        case '/':
            result = a / b;
            break;
        case '%':
            result = std::fmod(a, b);
            break;
        case 's':
            result = a * std::sin(b);
            break;
        case 'c':
            result = a * std::cos(b);
            break;
        default:
            result = 0.0f;
            break;
    }
    output.value = result;
}

SGPort* SGArithmeticNode::portForID(SGPortID id) {
    switch (id) {
        case SGPortID::output:
            return &output;
        case SGPortID::input1:
            return &input1;
        case SGPortID::input2:
            return &input2;
        case SGPortID::operation:
            return &operation;
        default:
            return nullptr;
    }
}
