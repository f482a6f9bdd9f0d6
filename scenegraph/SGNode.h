// Nodes: dataflow elements that own typed ports and compute their outputs from their inputs. Render
// nodes compute every frame through their space; others only when read. The output list is kept out
// of line, so the lines a moved sprite's frame reads (flags, x and y ports, angle and the record's
// placement) are the node's first three: over thousands of sprites each of those lines is a miss.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "scenegraph/SGObject.h"
#include "scenegraph/SGPort.h"
#include "scenegraph/SGPortID.h"

// Class bits. Every constructor along a class chain ORs in its own bit, so a node's mask holds
// several (a sprite is SGNodeClassRenderNode | SGNodeClassSpriteNode); test single bits.
enum SGNodeClass : uint32_t {
    SGNodeClassRenderNode = 1,
    SGNodeClassAttributeNode = 2,
    SGNodeClassArithmeticNode = 4,
    SGNodeClassAssetLoaderNode = 8,
    SGNodeClassClearNode = 16,
    SGNodeClassColorNode = 32,
    SGNodeClassImageLoaderNode = 64,
    SGNodeClassOrtho2DSpace = 128,
    SGNodeClassParticleSystemNode = 256,
    SGNodeClassReplicatorNode = 512,
    SGNodeClassSpace = 1024,
    SGNodeClassSpriteNode = 2048,
    SGNodeClassSoundListenerNode = 4096,
    SGNodeClassSoundLoaderNode = 8192,
    SGNodeClassSoundPlayerNode = 16384,
    SGNodeClassStringToImageNode = 32768,
    SGNodeClassWrapNode = 65536,
    SGNodeClassImageFlipNode = 131072,
};

class SGNode : public SGObject {
public:
    SGNode() = default;
    ~SGNode() override = default;

    // Writes outputs from inputs. The base does nothing.
    virtual void compute() {}
    // The node's port with that identifier, or null. The base has none.
    virtual SGPort* portForID(SGPortID id);

    // Computes when dirty (clearing the flag first, so a read during compute does not recurse).
    // Inline: every read of an unconnected port passes here.
    void update() {
        if (!dirty) return;
        dirty = false;
        compute();
    }

    uint32_t nodeClass() const { return m_nodeClass; }
    bool hasClass(uint32_t bits) const { return (m_nodeClass & bits) == bits; }
    std::span<SGPort* const> outputPorts() const;

    // Set by markAsDirty, cleared by update; a new node computes on its first read.
    bool dirty = true;
    // Set whenever an input that is not a placement port may have changed since the last compute:
    // a typed setter or markAsDirty reached it, a value was noted as stored, or a connection was
    // made or dropped. A node that can refresh its placement alone (a sprite moved or turned) reads
    // every input only when it is set, and clears it then; other nodes ignore it.
    bool fullCompute = true;
    // Counts the computes that refreshed what a renderer draws from the node (a sprite's draw
    // record), so that a renderer can tell output it has already turned into vertices. Beside the
    // flag and the class bits, on the line every frame reads anyway.
    uint32_t drawVersion = 0;

protected:
    void addNodeClass(uint32_t bits) { m_nodeClass |= bits; }

    // Constructors add all their outputs first, then their inputs: each input lists every output
    // of its node as a destination, so marking an input marks the node's outputs.
    void addOutputPort(SGPort* port, SGPortValueType type);
    void addInputPort(SGPort* port, SGPortValueType type);
    // Makes an input a placement port (SGPort::placement).
    void markPlacement(SGPort* port);

private:
    uint32_t m_nodeClass = 0;
    // Members of the node, not owned separately; null when it has none. Out of line, so that the
    // first cache line of a node keeps room for the ports a script writes every frame.
    std::unique_ptr<std::vector<SGPort*>> m_outputPorts;
};

// A node computed on every frame and drawn in the order of its layer.
class SGRenderNode : public SGNode {
public:
    SGRenderNode() { addNodeClass(SGNodeClassRenderNode); }

    // Ascending layer; the order of equal layers is not defined.
    static bool compare(const SGRenderNode* a, const SGRenderNode* b) { return a->layer < b->layer; }

    // Changing it does not re-sort: callers sort their space afterwards.
    int32_t layer = 0;
};
