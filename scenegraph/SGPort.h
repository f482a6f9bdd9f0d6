// Typed ports: the values that flow between nodes, named by SGPortID. Reading is pull-based and lazy:
// a connected port reads through its source, converted by the source's type; an unconnected one
// first lets a dirty owner compute. A typed setter stores only a changed value and marks everything
// downstream dirty, stopping at nodes already dirty; connecting to a dirty source marks the reader.
//
// A connection retains the source port's node, so a producer lives as long as someone reads it.
// The port graph is kept acyclic: a connection that would close a loop is refused (setValue returns
// false). A port keeps its readers in connection order; one leaves by moving the entries on its
// nearer side, so tearing down a space whose sprites all read one loader is linear, not quadratic.
// A value written straight into a port (a store without notify) calls noteStored, so the owner's
// next compute is a full one.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "scenegraph/SGColor.h"
#include "scenegraph/SGImage.h"

class SGNode;
// A decoded sound, shared by reference (defined by the sound layer).
class SGSound;

enum class SGPortValueType : int32_t {
    NIL = 0,
    STRING = 1,
    NUMBER = 2,
    INTEGER = 3,
    BOOLEAN = 4,
    COLOR = 5,
    SOUND = 6,
    IMAGE = 7,
    ASSETNAME = 8,  // a string port whose text names an asset
};

class SGPort {
public:
    SGPort();
    // Disconnects from its source (releasing the source's node) and detaches its destinations.
    virtual ~SGPort();

    SGPort(const SGPort&) = delete;
    SGPort& operator=(const SGPort&) = delete;

    // Getters. The base answers a neutral value for kinds a port does not hold and never pulls.
    virtual std::string stringValue();
    virtual float numberValue();
    virtual int intValue();
    virtual bool boolValue();
    virtual SGColor colorValue();
    virtual std::shared_ptr<SGSound> soundValue() const;
    virtual SGImage imageValue();

    // Makes this port read from `source` (null disconnects). Connecting first drops any earlier
    // source. Returns false, changing nothing, when the connection would close a cycle.
    // Connecting to a source whose node is still dirty marks this port dirty, so that later
    // changes upstream reach this port's consumers.
    virtual bool setValue(SGPort* source);
    void disconnect() { setValue(static_cast<SGPort*>(nullptr)); }

    // Marks the owner and everything downstream dirty, stopping at nodes already dirty.
    void markAsDirty();
    // Lists another port of the same node to be marked with this one (a node's inputs list its
    // outputs); readers of other nodes are listed by connecting them.
    void addDestPort(SGPort* destPort);
    // Says that `value` was written directly rather than through the typed setter: nothing is
    // marked, but the next compute of the owner and of every node reading the port through
    // connections reads every input again (see SGNode::fullCompute).
    // Code that writes a node's inputs that way and later marks the node through another port
    // calls it; a node's writes to its own outputs need not.
    void noteStored();

    SGNode* owner() const { return m_owner; }
    SGPortValueType type() const { return static_cast<SGPortValueType>(m_type); }
    // Whether a change of this port alone only moves or turns what its owner draws (a sprite's x,
    // y and angle), so that the owner's compute may refresh its placement and nothing else.
    bool placement() const { return m_placement; }
    SGPort* source() const { return m_source; }
    // The ports this one marks, in the order they were added.
    std::span<SGPort* const> destPorts() const;

protected:
    // Lets a dirty owner compute before a stored value is returned.
    void pull() const;

private:
    friend class SGNode;  // sets owner and type when the node adds the port

    struct DestList;

    bool reaches(const SGPort* target) const;
    DestList& ownDestPorts();
    // Takes a reader that connected to this port off its list.
    void removeReader(SGPort* reader);

    // Most ports have no readers, and a sprite holds fourteen ports that compute walks every time
    // it changes: the destination list lives out of line, allocated on the first reader, so that a
    // port is a few words and the typed value fills the base's tail padding.
    SGNode* m_owner = nullptr;
    SGPort* m_source = nullptr;
    std::unique_ptr<DestList> m_destPorts;  // may hold duplicates; null when none
    uint8_t m_type = 0;  // an SGPortValueType; a byte, like the flag, to leave the tail to the value
    bool m_placement = false;
};

// Typed ports. `value` is the stored value: nodes write it directly from compute (which marks
// nothing); the typed setters store only a changed value and then mark downstream dirty.

class SGStringPort : public SGPort {
public:
    explicit SGStringPort(std::string initial = {}) : value(std::move(initial)) {}
    using SGPort::setValue;
    void setValue(const char* text) { setValue(std::string(text ? text : "")); }
    void setValue(const std::string& text);

    std::string stringValue() override;
    float numberValue() override;
    int intValue() override;
    bool boolValue() override;

    std::string value;
};

class SGNumberPort : public SGPort {
public:
    explicit SGNumberPort(float initial = 0.0f) : value(initial) {}
    using SGPort::setValue;
    void setValue(float number);

    float numberValue() override;
    std::string stringValue() override;
    int intValue() override;
    bool boolValue() override;

    float value;
};

class SGIntegerPort : public SGPort {
public:
    explicit SGIntegerPort(int32_t initial = 0) : value(initial) {}
    using SGPort::setValue;
    void setValue(int number);

    int intValue() override;
    std::string stringValue() override;
    float numberValue() override;
    bool boolValue() override;

    int32_t value;
};

class SGBooleanPort : public SGPort {
public:
    explicit SGBooleanPort(bool initial = false) : value(initial) {}
    using SGPort::setValue;
    void setValue(bool flag);

    bool boolValue() override;
    std::string stringValue() override;
    float numberValue() override;
    int intValue() override;

    bool value;
};

class SGColorPort : public SGPort {
public:
    explicit SGColorPort(SGColor initial = SGWhiteColor) : value(initial) {}
    SGColor colorValue() override;

    SGColor value;
};

class SGImagePort : public SGPort {
public:
    explicit SGImagePort(SGImage initial = SGImageNull) : value(initial) {}
    SGImage imageValue() override;

    SGImage value;
};

class SGSoundPort : public SGPort {
public:
    SGSoundPort() = default;
    using SGPort::setValue;
    // Stores the sound and marks downstream dirty every time (sounds are not compared).
    void setValue(std::shared_ptr<SGSound> sound);

    std::shared_ptr<SGSound> soundValue() const override;

    std::shared_ptr<SGSound> value;
};
