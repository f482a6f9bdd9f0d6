#include "platform/gl/GLContext.h"

#include <EGL/egl.h>
#include <EGL/eglext.h>

#include <algorithm>
#include <cstdio>
#include <mutex>
#include <vector>

namespace plat::gl {

namespace {

// The group is whichever contexts are alive: a new one shares with any of them, and sharing with
// one member joins the whole group.
struct Group {
    std::mutex mutex;
    std::vector<EGLContext> members;
    unsigned generation = 0;
};

Group& group() {
    static Group* g = new Group;  // outlives static destructors that may still free contexts
    return *g;
}

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

}  // namespace

std::unique_ptr<GLContext> GLContext::create(std::string* error) {
    std::string failure;
    EGLDisplay display = sharedDisplay(&failure);
    auto fail = [&](const std::string& what) -> std::unique_ptr<GLContext> {
        if (error) {
            char code[16];
            std::snprintf(code, sizeof code, "0x%04X", eglGetError());
            *error = what + " (EGL error " + code + ")";
        }
        return nullptr;
    };
    if (display == EGL_NO_DISPLAY) return fail(failure);
    if (!eglBindAPI(EGL_OPENGL_ES_API)) return fail("eglBindAPI failed");

    const EGLint attributes[] = {EGL_CONTEXT_CLIENT_VERSION, 2, EGL_NONE};
    Group& g = group();
    std::lock_guard lock(g.mutex);
    EGLContext share = g.members.empty() ? EGL_NO_CONTEXT : g.members.front();
    EGLContext context = eglCreateContext(display, EGL_NO_CONFIG_KHR, share, attributes);
    if (context == EGL_NO_CONTEXT) return fail("eglCreateContext failed");
    if (g.members.empty()) ++g.generation;
    g.members.push_back(context);
    std::unique_ptr<GLContext> made(new GLContext);
    made->m_context = context;
    return made;
}

GLContext::~GLContext() {
    EGLDisplay display = sharedDisplay(nullptr);
    if (isCurrent()) clearCurrent();
    Group& g = group();
    std::lock_guard lock(g.mutex);
    g.members.erase(std::remove(g.members.begin(), g.members.end(), m_context), g.members.end());
    eglDestroyContext(display, m_context);
}

bool GLContext::makeCurrent() {
    return eglMakeCurrent(sharedDisplay(nullptr), EGL_NO_SURFACE, EGL_NO_SURFACE, m_context) == EGL_TRUE;
}

bool GLContext::isCurrent() const {
    return eglGetCurrentContext() == m_context;
}

void GLContext::clearCurrent() {
    EGLDisplay display = eglGetCurrentDisplay();
    if (display != EGL_NO_DISPLAY) eglMakeCurrent(display, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
}

bool GLContext::groupIsCurrent() {
    EGLContext current = eglGetCurrentContext();
    if (current == EGL_NO_CONTEXT) return false;
    Group& g = group();
    std::lock_guard lock(g.mutex);
    return std::find(g.members.begin(), g.members.end(), current) != g.members.end();
}

void* GLContext::display() {
    return sharedDisplay(nullptr);
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
    if (m_context != EGL_NO_CONTEXT) {
        eglMakeCurrent(static_cast<EGLDisplay>(m_display), static_cast<EGLSurface>(m_draw),
                       static_cast<EGLSurface>(m_read), static_cast<EGLContext>(m_context));
        return;
    }
    GLContext::clearCurrent();
}

}  // namespace plat::gl
