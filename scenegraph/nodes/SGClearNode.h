// Clears the colour buffer to its colour when the render manager reaches it.
#pragma once

#include "scenegraph/SGNode.h"

class SGClearNode : public SGRenderNode {
public:
    SGClearNode();

    void compute() override { dirty = false; }
    // Its colour port, whatever the identifier.
    SGPort* portForID(SGPortID) override { return &color; }

    SGColorPort color{SGBlackColor};
};
