// The intrusive reference count shared by every scene-graph object (nodes, spaces, scenes): 1 at
// creation, destroyed when release drops the last. A space owns its nodes' creation references and a
// port connection retains the source's node, so a producer removed from its space lives while
// something reads it (links within one node are not counted). Single-threaded by design: counts are
// plain integers touched only on the main thread. ~SGObject tells the destroyed-object observer (the
// "scenegraph" module empties its live-node slot).
#pragma once

#include <cstdint>

class SGObject;

// Told of every object's destruction (the script binding forgets the handles it gave out). One
// process-wide observer; null when nobody listens.
inline void (*SGObjectDestroyedObserver)(SGObject* object) = nullptr;

class SGObject {
public:
    SGObject() = default;
    virtual ~SGObject() {
        if (SGObjectDestroyedObserver) SGObjectDestroyedObserver(this);
    }

    SGObject(const SGObject&) = delete;
    SGObject& operator=(const SGObject&) = delete;

    void retain() { ++m_retainCount; }

    // Destroys the object when this call drops the last reference (the count was 1).
    void release() {
        if (m_retainCount-- == 1) delete this;
    }

    int32_t retainCount() const { return m_retainCount; }

private:
    int32_t m_retainCount = 1;
};
