// OpenGL ES 2.0 contexts of the process's one share group: Mesa's surfaceless EGL contexts, or a
// window driver's. Each context is current on no surface (EGL_KHR_surfaceless_context) and made
// sharing with a live one, so all form one group while any lives. A GLContextProvider says where
// they come from: Mesa's surfaceless display by default; the window driver installs SDL's before
// the first context (contexts of two displays cannot share), so the game's, the compositor's and the
// screenshot's contexts all live on the window's display. Code that borrows the thread for another
// context holds a CurrentContextScope, which puts the thread's EGL context back through EGL alone.
// groupGeneration tells a texture's owner whether its group has gone meanwhile.
#pragma once

#include <memory>
#include <string>

namespace plat::gl {

// Where the group's contexts come from. A window driver installs its own before the first
// context is made: a window's contexts live on the window's display, and contexts of different
// displays cannot share. Handles are EGLContexts (or whatever the provider's display deals in).
class GLContextProvider {
public:
    virtual ~GLContextProvider() = default;
    // A new ES 2.0 context sharing objects with `share` (null: the group's first), not current;
    // null with `error` set when none can be made.
    virtual void* createContext(void* share, std::string* error) = 0;
    virtual void destroyContext(void* context) = 0;
    // Current on no surface (it draws into frame buffers); null leaves none current.
    virtual bool makeCurrent(void* context) = 0;
    virtual void* currentContext() = 0;
    // The EGLDisplay the contexts live on, for fences.
    virtual void* display() = 0;
};

// A context current on no surface: it draws into frame buffers. Every context made here joins one
// share group, so a texture one draws into another can sample (a view's drawable and the
// compositor that shows it). The group lasts while any of its contexts does.
class GLContext {
public:
    // nullptr, with `error` set, when the provider cannot give one.
    static std::unique_ptr<GLContext> create(std::string* error = nullptr);
    // Starts opening the headless display (loading the GL driver, tens of milliseconds) on a
    // helper thread, so a program with other work to do first finds it open; a use meanwhile waits
    // for it. Once per process. Call finishDisplayAhead before the process exits: an exit while
    // the driver is still loading tears its libraries down under it.
    static void openDisplayAhead();
    static void finishDisplayAhead();
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
    // Counts the groups made: a new one begins when a context is made while none lives. Names of
    // objects made in an earlier group mean nothing (or another object) in a later one.
    static unsigned groupGeneration();

    // The provider's handle of this context (a window driver binds it to its window).
    void* handle() const { return m_context; }

    // Installs `provider` (not owned; null: Mesa's surfaceless contexts again). Only while no
    // context of the group lives: false, and nothing changed, otherwise.
    static bool setProvider(GLContextProvider* provider);

private:
    GLContext() = default;
    void* m_context = nullptr;
};

// Whatever EGL context (of any display, with its surfaces) the calling thread had current when
// made is current again when destroyed (if nothing was, nothing is): code that borrows the thread
// for another context (the compositor, a context provider) leaves the game's context as it found
// it. Pure EGL, so a provider may use it while the context group is locked.
class CurrentContextScope {
public:
    CurrentContextScope();
    ~CurrentContextScope();
    CurrentContextScope(const CurrentContextScope&) = delete;
    CurrentContextScope& operator=(const CurrentContextScope&) = delete;

    void* context() const { return m_context; }
    // Leaves the thread as it is then (for a context that has gone away meanwhile).
    void dismiss() { m_armed = false; }

private:
    void* m_display;
    void* m_draw;
    void* m_read;
    void* m_context;
    bool m_armed = true;
};

}  // namespace plat::gl
