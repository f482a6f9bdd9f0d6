// output = input1 <operation> input2, the operation chosen by the first character of its text.
#pragma once

#include "scenegraph/SGNode.h"

class SGArithmeticNode : public SGNode {
public:
    SGArithmeticNode();

    // '+', '-', '*', '/' (no check for 0), '%' (fmodf), 's' (input1 × sin input2), 'c' (input1 ×
    // cos input2); anything else gives 0. Only the first character counts, so "sin" and "sub" both
    // select the sine. The operation is the port's own stored text: games connect it by accident
    // and rely on the connection being ignored.
    void compute() override;
    SGPort* portForID(SGPortID id) override;

    SGNumberPort output;
    SGNumberPort input1;
    SGNumberPort input2;
    SGStringPort operation{"+"};
};
