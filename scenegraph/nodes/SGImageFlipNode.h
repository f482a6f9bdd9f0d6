// Mirrors an image's texture rectangle; the texture itself is shared, not copied.
#pragma once

#include "scenegraph/SGNode.h"

class SGImageFlipNode : public SGNode {
public:
    SGImageFlipNode();

    void compute() override;
    SGPort* portForID(SGPortID id) override;

    SGImagePort output;
    SGImagePort input;
    SGBooleanPort flipHorizontal;
    SGBooleanPort flipVertical;
};
