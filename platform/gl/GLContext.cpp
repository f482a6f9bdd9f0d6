#include "platform/gl/GLContext.h"

#include <EGL/egl.h>
#include <EGL/eglext.h>

#include <algorithm>
#include <cstdio>
#include <future>
#include <mutex>
#include <vector>

namespace plat::gl {

namespace {

EGLDisplay openDisplay(std::string* failure) {
    auto getPlatformDisplay =
        reinterpret_cast<PFNEGLGETPLATFORMDISPLAYEXTPROC>(eglGetProcAddress("eglGetPlatformDisplayEXT"));
    if (!getPlatformDisplay) {
        *failure = "no eglGetPlatformDisplayEXT";
        return EGL_NO_DISPLAY;
    }
    EGLDisplay display = getPlatformDisplay(EGL_PLATFORM_SURFACELESS_MESA, EGL_DEFAULT_DISPLAY, nullptr);
    if (display == EGL_NO_DISPLAY) {
        *failure = "no surfaceless EGL display";
        return EGL_NO_DISPLAY;
    }
    if (!eglInitialize(display, nullptr, nullptr)) {
        *failure = "eglInitialize failed";
        return EGL_NO_DISPLAY;
    }
    const char* extensions = eglQueryString(display, EGL_EXTENSIONS);
    const std::string list = extensions ? extensions : "";
    for (const char* needed : {"EGL_KHR_surfaceless_context", "EGL_KHR_no_config_context", "EGL_KHR_fence_sync"}) {
        if (list.find(needed) == std::string::npos) {
            *failure = std::string("the EGL display lacks ") + needed;
            return EGL_NO_DISPLAY;
        }
    }
    return display;
}

// Opened once; never terminated, as other EGL users of the process (HeadlessContext) share it.
EGLDisplay sharedDisplay(std::string* failure) {
    static std::string openFailure;
    static EGLDisplay display = openDisplay(&openFailure);
    if (display == EGL_NO_DISPLAY && failure) *failure = openFailure;
    return display;
}

std::string withEGLError(const std::string& what) {
    char code[16];
    std::snprintf(code, sizeof code, "0x%04X", eglGetError());
    return what + " (EGL error " + code + ")";
}

// Mesa's surfaceless platform: no display server, no GPU.
class SurfacelessProvider : public GLContextProvider {
public:
    void* createContext(void* share, std::string* error) override {
        std::string failure;
        EGLDisplay display = sharedDisplay(&failure);
        if (display == EGL_NO_DISPLAY) return fail(failure, error);
        if (!eglBindAPI(EGL_OPENGL_ES_API)) return fail("eglBindAPI failed", error);
        const EGLint attributes[] = {EGL_CONTEXT_CLIENT_VERSION, 2, EGL_NONE};
        EGLContext context = eglCreateContext(display, EGL_NO_CONFIG_KHR, share ? share : EGL_NO_CONTEXT, attributes);
        if (context == EGL_NO_CONTEXT) return fail("eglCreateContext failed", error);
        return context;
    }
    void destroyContext(void* context) override { eglDestroyContext(sharedDisplay(nullptr), context); }
    bool makeCurrent(void* context) override {
        if (context) return eglMakeCurrent(sharedDisplay(nullptr), EGL_NO_SURFACE, EGL_NO_SURFACE, context) == EGL_TRUE;
        EGLDisplay display = eglGetCurrentDisplay();
        return display == EGL_NO_DISPLAY ||
               eglMakeCurrent(display, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT) == EGL_TRUE;
    }
    void* currentContext() override { return eglGetCurrentContext(); }
    void* display() override { return sharedDisplay(nullptr); }

private:
    static void* fail(const std::string& what, std::string* error) {
        if (error) *error = withEGLError(what);
        return nullptr;
    }
};

// The group is whichever contexts are alive: a new one shares with any of them, and sharing with
// one member joins the whole group.
struct Group {
    std::mutex mutex;
    std::vector<void*> members;
    unsigned generation = 0;
    SurfacelessProvider surfaceless;
    GLContextProvider* provider = &surfaceless;
};

Group& group() {
    static Group* g = new Group;  // outlives static destructors that may still free contexts
    return *g;
}

GLContextProvider& provider() {
    return *group().provider;
}

}  // namespace

namespace {

std::future<void>& displayAhead() {
    static auto* ahead = new std::future<void>;  // not waited for by a static destructor, too late
    return *ahead;
}

}  // namespace

void GLContext::openDisplayAhead() {
#if defined(__SANITIZE_ADDRESS__)
    // The address sanitizer's runtime (GCC 12's) mis-records the main thread's block of a driver's
    // dynamic TLS when another thread loaded the driver, and its leak check then crashes at exit.
    // Under it the display opens on first use, on the main thread, as it did before this head start.
    return;
#endif
    std::future<void>& ahead = displayAhead();
    if (!ahead.valid()) ahead = std::async(std::launch::async, [] { sharedDisplay(nullptr); });
}

void GLContext::finishDisplayAhead() {
    std::future<void>& ahead = displayAhead();
    if (ahead.valid()) ahead.wait();
}

std::unique_ptr<GLContext> GLContext::create(std::string* error) {
    Group& g = group();
    std::lock_guard lock(g.mutex);
    void* context = g.provider->createContext(g.members.empty() ? nullptr : g.members.front(), error);
    if (!context) return nullptr;
    if (g.members.empty()) ++g.generation;
    g.members.push_back(context);
    std::unique_ptr<GLContext> made(new GLContext);
    made->m_context = context;
    return made;
}

GLContext::~GLContext() {
    if (isCurrent()) clearCurrent();
    Group& g = group();
    std::lock_guard lock(g.mutex);
    g.members.erase(std::remove(g.members.begin(), g.members.end(), m_context), g.members.end());
    g.provider->destroyContext(m_context);
}

bool GLContext::makeCurrent() {
    return provider().makeCurrent(m_context);
}

bool GLContext::isCurrent() const {
    return provider().currentContext() == m_context;
}

void GLContext::clearCurrent() {
    provider().makeCurrent(nullptr);
}

bool GLContext::groupIsCurrent() {
    void* current = provider().currentContext();
    if (!current) return false;
    Group& g = group();
    std::lock_guard lock(g.mutex);
    return std::find(g.members.begin(), g.members.end(), current) != g.members.end();
}

void* GLContext::display() {
    return provider().display();
}

bool GLContext::setProvider(GLContextProvider* provider) {
    Group& g = group();
    std::lock_guard lock(g.mutex);
    if (!g.members.empty()) return false;
    g.provider = provider ? provider : &g.surfaceless;
    return true;
}

unsigned GLContext::groupGeneration() {
    Group& g = group();
    std::lock_guard lock(g.mutex);
    return g.generation;
}

CurrentContextScope::CurrentContextScope()
    : m_display(eglGetCurrentDisplay()),
      m_draw(eglGetCurrentSurface(EGL_DRAW)),
      m_read(eglGetCurrentSurface(EGL_READ)),
      m_context(eglGetCurrentContext()) {}

CurrentContextScope::~CurrentContextScope() {
    if (!m_armed) return;
    if (m_context != EGL_NO_CONTEXT) {
        eglMakeCurrent(static_cast<EGLDisplay>(m_display), static_cast<EGLSurface>(m_draw),
                       static_cast<EGLSurface>(m_read), static_cast<EGLContext>(m_context));
    } else if (eglGetCurrentContext() != EGL_NO_CONTEXT) {
        eglMakeCurrent(eglGetCurrentDisplay(), EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
    }
}

}  // namespace plat::gl
