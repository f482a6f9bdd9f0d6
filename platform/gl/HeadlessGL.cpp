#include "platform/gl/HeadlessGL.h"

#include <EGL/egl.h>
#include <EGL/eglext.h>
#include <GLES2/gl2.h>

#include <cstring>

namespace plat::gl {

namespace {

EGLDisplay surfacelessDisplay() {
    auto getPlatformDisplay =
        reinterpret_cast<PFNEGLGETPLATFORMDISPLAYEXTPROC>(eglGetProcAddress("eglGetPlatformDisplayEXT"));
    if (!getPlatformDisplay) return EGL_NO_DISPLAY;
    return getPlatformDisplay(EGL_PLATFORM_SURFACELESS_MESA, EGL_DEFAULT_DISPLAY, nullptr);
}

}  // namespace

std::unique_ptr<HeadlessContext> HeadlessContext::create(int width, int height, Api api, std::string* error) {
    auto fail = [&](const char* what) -> std::unique_ptr<HeadlessContext> {
        if (error) *error = std::string(what) + " (EGL error 0x" + std::to_string(eglGetError()) + ")";
        return nullptr;
    };
    if (width <= 0 || height <= 0) return fail("surface size must be positive");

    EGLDisplay display = surfacelessDisplay();
    if (display == EGL_NO_DISPLAY) return fail("no surfaceless EGL display");
    if (!eglInitialize(display, nullptr, nullptr)) return fail("eglInitialize failed");
    if (!eglBindAPI(EGL_OPENGL_ES_API)) return fail("eglBindAPI failed");

    const EGLint renderable = api == Api::ES2 ? EGL_OPENGL_ES2_BIT : EGL_OPENGL_ES_BIT;
    const EGLint configAttribs[] = {EGL_SURFACE_TYPE,
                                    EGL_PBUFFER_BIT,
                                    EGL_RENDERABLE_TYPE,
                                    renderable,
                                    EGL_RED_SIZE,
                                    8,
                                    EGL_GREEN_SIZE,
                                    8,
                                    EGL_BLUE_SIZE,
                                    8,
                                    EGL_ALPHA_SIZE,
                                    8,
                                    EGL_DEPTH_SIZE,
                                    16,
                                    EGL_NONE};
    EGLConfig config = nullptr;
    EGLint count = 0;
    if (!eglChooseConfig(display, configAttribs, &config, 1, &count) || count == 0)
        return fail("no EGL config for a pbuffer");

    const EGLint contextAttribs[] = {EGL_CONTEXT_CLIENT_VERSION, api == Api::ES2 ? 2 : 1, EGL_NONE};
    EGLContext context = eglCreateContext(display, config, EGL_NO_CONTEXT, contextAttribs);
    if (context == EGL_NO_CONTEXT) return fail("eglCreateContext failed");

    const EGLint surfaceAttribs[] = {EGL_WIDTH, width, EGL_HEIGHT, height, EGL_NONE};
    EGLSurface surface = eglCreatePbufferSurface(display, config, surfaceAttribs);
    if (surface == EGL_NO_SURFACE) {
        eglDestroyContext(display, context);
        return fail("eglCreatePbufferSurface failed");
    }

    std::unique_ptr<HeadlessContext> ctx(new HeadlessContext);
    ctx->m_display = display;
    ctx->m_context = context;
    ctx->m_surface = surface;
    ctx->m_width = width;
    ctx->m_height = height;
    ctx->m_api = api;
    if (!ctx->makeCurrent()) return fail("eglMakeCurrent failed");
    return ctx;
}

HeadlessContext::~HeadlessContext() {
    if (eglGetCurrentContext() == m_context)
        eglMakeCurrent(m_display, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
    eglDestroySurface(m_display, m_surface);
    eglDestroyContext(m_display, m_context);
}

bool HeadlessContext::makeCurrent() {
    return eglMakeCurrent(m_display, m_surface, m_surface, m_context) == EGL_TRUE;
}

void HeadlessContext::endFrame() {
    glFlush();
}

std::vector<uint8_t> HeadlessContext::readPixels() const {
    const size_t stride = static_cast<size_t>(m_width) * 4;
    std::vector<uint8_t> bottomUp(stride * static_cast<size_t>(m_height));
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(0, 0, m_width, m_height, GL_RGBA, GL_UNSIGNED_BYTE, bottomUp.data());
    // GL's first row is the bottom of the picture.
    std::vector<uint8_t> topDown(bottomUp.size());
    for (int y = 0; y < m_height; ++y)
        std::memcpy(&topDown[static_cast<size_t>(y) * stride],
                    &bottomUp[static_cast<size_t>(m_height - 1 - y) * stride], stride);
    return topDown;
}

}  // namespace plat::gl
