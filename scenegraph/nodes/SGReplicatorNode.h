// Spaces whose contents the render managers draw repeated: along a line (replicator) or once
// more across the edges of a wrap rectangle (wrap space). They hold and compute nodes like any
// space; the renderers read these ports on their own paths.
#pragma once

#include "scenegraph/SGSpace.h"

class SGReplicatorNode : public SGSpace {
public:
    explicit SGReplicatorNode(SGSpace* parent);

    SGPort* portForID(SGPortID id) override;
    // Draws the contents once, like any space; the repeats come from the renderer's copy offsets.
    void render() override;

    SGNumberPort angle;    // degrees
    SGNumberPort spacing;  // between neighbouring copies
    SGIntegerPort copies{1};
};

class SGWrapNode : public SGSpace {
public:
    explicit SGWrapNode(SGSpace* parent);

    SGPort* portForID(SGPortID id) override;
    void render() override;

    SGNumberPort x;
    SGNumberPort y;
    SGBooleanPort wrapX;
    SGBooleanPort wrapY;
    SGNumberPort wrapWidth;
    SGNumberPort wrapHeight;
};
