#include "scenegraph/SGPort.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <sstream>
#include <unordered_set>

#include "scenegraph/SGNode.h"

namespace {

// A connection retains the source's node, except within one node: a node need not keep itself
// alive, and counting such a link would make the node immortal.
void retainSourceNode(const SGPort* dest, const SGPort* source) {
    if (source->owner() && source->owner() != dest->owner()) source->owner()->retain();
}

void releaseSourceNode(const SGPort* dest, SGNode* sourceOwner) {
    if (sourceOwner && sourceOwner != dest->owner()) sourceOwner->release();
}

// Whether some node up the source chain is dirty: marking stops there, so a consumer connected
// below it would never hear of later changes.
bool upstreamDirty(const SGPort* port) {
    for (; port; port = port->source())
        if (port->owner() && port->owner()->dirty) return true;
    return false;
}

// Number to text: two significant digits in the general notation (0.33, 1.5e+02).
std::string numberText(float number) {
    std::ostringstream out;
    out.precision(2);
    out << number;
    return out.str();
}

template <class T>
T parseText(const std::string& text) {
    std::istringstream in(text);
    T result{};
    in >> result;
    return in.fail() ? T{} : result;
}

// What the typed setters call: when the owner is already dirty the walk would stop at once, and in
// a frame that writes several ports of a node that is the common case, so it costs no call (but
// the owner must still hear that more than its placement changed).
inline void markChanged(SGPort& port) {
    SGNode* owner = port.owner();
    if (!owner || !owner->dirty)
        port.markAsDirty();
    else if (!port.placement())
        owner->fullCompute = true;
}

int truncateToInt(float number) {
    if (std::isnan(number)) return 0;
    if (number >= 2147483647.0f) return std::numeric_limits<int>::max();
    if (number <= -2147483648.0f) return std::numeric_limits<int>::min();
    return static_cast<int>(number);
}

}  // namespace

// The ports a port marks: ports[first, end), in the order they were added. A reader is taken off
// by moving the entries on its nearer side, so that a scene torn down in the order it was built (or
// the reverse) takes each reader of a shared port (an image loader read by thousands of sprites)
// off one end without shifting the rest.
struct SGPort::DestList {
    std::vector<SGPort*> ports;
    std::size_t first = 0;

    std::span<SGPort* const> live() const { return {ports.data() + first, ports.size() - first}; }

    // Takes off the one entry of `port`, looked for from both ends at once.
    void removeOne(const SGPort* port) {
        std::size_t lo = first, hi = ports.size();
        while (lo < hi) {
            if (ports[lo] == port) return erase(lo);
            if (ports[--hi] == port) return erase(hi);
            ++lo;
        }
    }
    void removeAll(const SGPort* port) {
        ports.erase(std::remove(ports.begin() + static_cast<std::ptrdiff_t>(first), ports.end(), port), ports.end());
        if (ports.size() == first) ports.clear(), first = 0;
    }

private:
    void erase(std::size_t at) {
        auto begin = ports.begin() + static_cast<std::ptrdiff_t>(first);
        auto it = ports.begin() + static_cast<std::ptrdiff_t>(at);
        if (at - first < ports.size() - at) {
            std::move_backward(begin, it, it + 1);
            ++first;
        } else {
            std::move(it + 1, ports.end(), it);
            ports.pop_back();
        }
        if (ports.size() == first) {
            ports.clear(), first = 0;
        } else if (first > 16 && first > ports.size() / 2) {  // the gap in front is never most of it
            ports.erase(ports.begin(), ports.begin() + static_cast<std::ptrdiff_t>(first));
            first = 0;
        }
    }
};

SGPort::SGPort() = default;

SGPort::~SGPort() {
    // Ports still reading from this one can only be siblings in the same node (other readers keep
    // the node alive); leave them unconnected rather than pointing at a dead port.
    for (SGPort* dest : destPorts())
        if (dest->m_source == this) dest->m_source = nullptr;
    if (m_source) {
        m_source->removeReader(this);
        SGNode* sourceOwner = m_source->m_owner;
        m_source = nullptr;
        releaseSourceNode(this, sourceOwner);
    }
}

std::string SGPort::stringValue() {
    return {};
}
float SGPort::numberValue() {
    return 0.0f;
}
int SGPort::intValue() {
    return 0;
}
bool SGPort::boolValue() {
    return false;
}
SGColor SGPort::colorValue() {
    return SGWhiteColor;
}
std::shared_ptr<SGSound> SGPort::soundValue() const {
    return {};
}
SGImage SGPort::imageValue() {
    return SGImageNull;
}

bool SGPort::setValue(SGPort* source) {
    if (source && (source == this || reaches(source))) {
        std::fprintf(stderr, "SGPort: connection refused, it would close a cycle\n");
        return false;
    }
    if (m_owner) m_owner->fullCompute = true;  // the port's value now comes from elsewhere
    // Retain the new source before letting go of the old one: they may share a node whose only
    // reference is this connection.
    if (source) retainSourceNode(this, source);
    if (m_source) {
        m_source->removeReader(this);
        SGNode* oldOwner = m_source->m_owner;
        m_source = nullptr;
        releaseSourceNode(this, oldOwner);  // may destroy that node and its ports
    }
    if (!source) return true;
    m_source = source;
    source->ownDestPorts().ports.push_back(this);
    if (upstreamDirty(source)) markAsDirty();
    return true;
}

std::span<SGPort* const> SGPort::destPorts() const {
    if (!m_destPorts) return {};
    return m_destPorts->live();
}

SGPort::DestList& SGPort::ownDestPorts() {
    if (!m_destPorts) m_destPorts = std::make_unique<DestList>();
    return *m_destPorts;
}

void SGPort::removeReader(SGPort* reader) {
    if (!m_destPorts) return;
    // A connection lists its reader once. Only a reader of the same node may be listed again: a
    // node's inputs list its outputs, and an output may also read an input of its own node.
    if (m_owner && reader->m_owner == m_owner)
        m_destPorts->removeAll(reader);
    else
        m_destPorts->removeOne(reader);
}

void SGPort::markAsDirty() {
    if (m_owner && !m_placement) m_owner->fullCompute = true;  // also when the owner is dirty already
    if (m_owner && m_owner->dirty) return;
    if (m_destPorts)
        for (SGPort* dest : m_destPorts->live()) dest->markAsDirty();
    if (m_owner) m_owner->dirty = true;
}

void SGPort::noteStored() {
    if (m_owner && !m_placement) m_owner->fullCompute = true;
    // Ports connected to this one read the value through the connection, so their owners must
    // read it again too (connections form no cycle).
    for (SGPort* dest : destPorts())
        if (dest->m_source == this) dest->noteStored();
}

void SGPort::addDestPort(SGPort* destPort) {
    if (!destPort) {
        std::fprintf(stderr, "Assertion failed: destPort\n");
        std::abort();
    }
    ownDestPorts().ports.push_back(destPort);
}

void SGPort::pull() const {
    if (m_owner) m_owner->update();
}

bool SGPort::reaches(const SGPort* target) const {
    std::vector<const SGPort*> pending{this};
    std::unordered_set<const SGPort*> seen{this};
    while (!pending.empty()) {
        const SGPort* port = pending.back();
        pending.pop_back();
        if (port == target) return true;
        for (const SGPort* dest : port->destPorts())
            if (seen.insert(dest).second) pending.push_back(dest);
    }
    return false;
}

// String ports

void SGStringPort::setValue(const std::string& text) {
    if (value == text) return;
    value = text;
    markChanged(*this);
}

std::string SGStringPort::stringValue() {
    if (source()) return source()->stringValue();
    pull();
    return value;
}

float SGStringPort::numberValue() {
    return parseText<float>(stringValue());
}
int SGStringPort::intValue() {
    return parseText<int>(stringValue());
}

bool SGStringPort::boolValue() {
    // Read as a whole number: any nonzero number is true. The stream flags a number other than 0
    // or 1 as failed but still yields true; the words "true"/"false" are not recognised.
    std::istringstream in(stringValue());
    bool result = false;
    in >> result;
    return result;
}

// Number ports

void SGNumberPort::setValue(float number) {
    if (value == number) return;
    value = number;
    markChanged(*this);
}

float SGNumberPort::numberValue() {
    if (source()) return source()->numberValue();
    pull();
    return value;
}

std::string SGNumberPort::stringValue() {
    return numberText(numberValue());
}
int SGNumberPort::intValue() {
    return truncateToInt(numberValue());
}
bool SGNumberPort::boolValue() {
    return numberValue() != 0.0f;
}

// Integer ports

void SGIntegerPort::setValue(int number) {
    if (value == number) return;
    value = number;
    markChanged(*this);
}

int SGIntegerPort::intValue() {
    if (source()) return source()->intValue();
    pull();
    return value;
}

std::string SGIntegerPort::stringValue() {
    return std::to_string(intValue());
}
float SGIntegerPort::numberValue() {
    return static_cast<float>(intValue());
}
bool SGIntegerPort::boolValue() {
    return intValue() != 0;
}

// Boolean ports

void SGBooleanPort::setValue(bool flag) {
    if (value == flag) return;
    value = flag;
    markChanged(*this);
}

bool SGBooleanPort::boolValue() {
    if (source()) return source()->boolValue();
    pull();
    return value;
}

std::string SGBooleanPort::stringValue() {
    return boolValue() ? "true" : "false";
}
float SGBooleanPort::numberValue() {
    return boolValue() ? 1.0f : 0.0f;
}
int SGBooleanPort::intValue() {
    return boolValue() ? 1 : 0;
}

// Colour, image and sound ports

SGColor SGColorPort::colorValue() {
    if (source()) return source()->colorValue();
    pull();
    return value;
}

SGImage SGImagePort::imageValue() {
    if (source()) return source()->imageValue();
    pull();
    return value;
}

void SGSoundPort::setValue(std::shared_ptr<SGSound> sound) {
    value = std::move(sound);
    markChanged(*this);
}

std::shared_ptr<SGSound> SGSoundPort::soundValue() const {
    if (source()) return source()->soundValue();
    pull();
    return value;
}
