// Makes a colour from four numbers, unclamped.
#pragma once

#include "scenegraph/SGNode.h"

class SGColorNode : public SGNode {
public:
    SGColorNode();

    void compute() override;
    // "output", "r", "g", "b", "a" (not "color").
    SGPort* portForID(SGPortID id) override;

    SGColorPort output{SGWhiteColor};
    SGNumberPort r{1.0f};
    SGNumberPort g{1.0f};
    SGNumberPort b{1.0f};
    SGNumberPort a{1.0f};
};
