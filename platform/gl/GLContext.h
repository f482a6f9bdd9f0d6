// OpenGL ES 2.0 contexts of the process's one share group, on Mesa's surfaceless EGL platform.
#pragma once

#include <memory>
#include <string>

namespace plat::gl {

// A context current on no surface: it draws into frame buffers. Every context made here joins one
// share group, so a texture one draws into another can sample (a view's drawable and the
// compositor that shows it). The group lasts while any of its contexts does.
class GLContext {
public:
    // nullptr, with `error` set, when EGL or Mesa cannot give one.
    static std::unique_ptr<GLContext> create(std::string* error = nullptr);
    // Clears the thread's current context first when it is this one.
    ~GLContext();
    GLContext(const GLContext&) = delete;
    GLContext& operator=(const GLContext&) = delete;

    bool makeCurrent();
    bool isCurrent() const;
    // Leaves the calling thread without a current context.
    static void clearCurrent();
    // Whether the calling thread's current context is one of the group's.
    static bool groupIsCurrent();

    // The EGL display the group lives on (an EGLDisplay), for fences and the like.
    static void* display();

private:
    GLContext() = default;
    void* m_context = nullptr;
};

}  // namespace plat::gl
