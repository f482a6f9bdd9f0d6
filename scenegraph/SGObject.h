// The intrusive reference count shared by every scene-graph object (nodes, spaces, scenes).
// Single-threaded by design: counts are plain integers touched only on the main thread.
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
