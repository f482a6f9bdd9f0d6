#include "platform/gl/GLLayer.h"

#include <EGL/egl.h>
#include <EGL/eglext.h>
#include <GLES2/gl2.h>
#include <GLES2/gl2ext.h>

#include <atomic>
#include <cmath>
#include <cstring>

#include "platform/gl/GLContext.h"

namespace plat::gl {

namespace {

struct FenceCalls {
    PFNEGLCREATESYNCKHRPROC create = nullptr;
    PFNEGLDESTROYSYNCKHRPROC destroy = nullptr;
    PFNEGLCLIENTWAITSYNCKHRPROC clientWait = nullptr;
};

const FenceCalls& fenceCalls() {
    static const FenceCalls calls = [] {
        FenceCalls c;
        c.create = reinterpret_cast<PFNEGLCREATESYNCKHRPROC>(eglGetProcAddress("eglCreateSyncKHR"));
        c.destroy = reinterpret_cast<PFNEGLDESTROYSYNCKHRPROC>(eglGetProcAddress("eglDestroySyncKHR"));
        c.clientWait = reinterpret_cast<PFNEGLCLIENTWAITSYNCKHRPROC>(eglGetProcAddress("eglClientWaitSyncKHR"));
        return c;
    }();
    return calls;
}

std::atomic<std::uint64_t> g_presents{0};

int toPixels(double points, double scale) {
    const double pixels = std::round(points * scale);
    return pixels > 0 && pixels < 1 << 30 ? static_cast<int>(pixels) : 0;  // NaN too gives 0
}

// Puts a GL binding back as it was found (the ES2 renderer's cache trusts GL_TEXTURE_2D's).
class KeepBinding {
public:
    KeepBinding(GLenum query, void (*bind)(GLenum, GLuint), GLenum target) : m_bind(bind), m_target(target) {
        GLint name = 0;
        glGetIntegerv(query, &name);
        m_name = static_cast<GLuint>(name);
    }
    ~KeepBinding() { m_bind(m_target, m_name); }
    KeepBinding(const KeepBinding&) = delete;
    KeepBinding& operator=(const KeepBinding&) = delete;

private:
    void (*m_bind)(GLenum, GLuint);
    GLenum m_target;
    GLuint m_name = 0;
};

void bindTexture(GLenum target, GLuint name) {
    glBindTexture(target, name);
}
void bindFramebuffer(GLenum target, GLuint name) {
    glBindFramebuffer(target, name);
}

bool hasExtension(const char* name) {
    const auto* all = reinterpret_cast<const char*>(glGetString(GL_EXTENSIONS));
    const size_t length = std::strlen(name);
    for (const char* at = all; at && (at = std::strstr(at, name)); at += length)
        if ((at == all || at[-1] == ' ') && (at[length] == ' ' || at[length] == 0)) return true;
    return false;
}

// Where rows come top first, BGRA storage is read into a window's image in one copy; else it only
// costs screenshots a conversion, so it is not used.
bool bgraStorageReadable() {
    static const bool readable = hasExtension("GL_EXT_texture_format_BGRA8888") &&
                                 hasExtension("GL_ANGLE_pack_reverse_row_order");
    return readable;
}

}  // namespace

GLLayer::~GLLayer() {
    dropFence();
    if (m_texture && GLContext::groupIsCurrent()) glDeleteTextures(1, &m_texture);
}

void GLLayer::setBounds(double width, double height) {
    m_boundsWidth = width;
    m_boundsHeight = height;
}

void GLLayer::setContentsScale(double scale) {
    m_scale = scale;
}

int GLLayer::drawableWidth() const {
    return toPixels(m_boundsWidth, m_scale);
}

int GLLayer::drawableHeight() const {
    return toPixels(m_boundsHeight, m_scale);
}

bool GLLayer::allocateStorage() {
    const int width = drawableWidth();
    const int height = drawableHeight();
    GLint maxSize = 0;
    glGetIntegerv(GL_MAX_TEXTURE_SIZE, &maxSize);
    GLint maxRenderbuffer = 0;
    glGetIntegerv(GL_MAX_RENDERBUFFER_SIZE, &maxRenderbuffer);
    if (maxRenderbuffer < maxSize) maxSize = maxRenderbuffer;
    if (width <= 0 || height <= 0 || width > maxSize || height > maxSize) {
        releaseStorage();
        GLint bound = 0;
        glGetIntegerv(GL_FRAMEBUFFER_BINDING, &bound);
        if (bound) glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, 0, 0);
        return false;
    }
    dropFence();
    {
        KeepBinding keep(GL_TEXTURE_BINDING_2D, bindTexture, GL_TEXTURE_2D);
        if (!m_texture) glGenTextures(1, &m_texture);
        glBindTexture(GL_TEXTURE_2D, m_texture);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
        // X's byte order: a window's image is read in one copy, turned by GL (readTopDownBGRA).
        m_bgra = bgraStorageReadable();
        const GLenum format = m_bgra ? GL_BGRA_EXT : GL_RGBA;
        glTexImage2D(GL_TEXTURE_2D, 0, static_cast<GLint>(format), width, height, 0, format, GL_UNSIGNED_BYTE, nullptr);
        if (m_bgra) {
            glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, m_texture, 0);
            const GLenum status = glCheckFramebufferStatus(GL_FRAMEBUFFER);
            if (status == GL_FRAMEBUFFER_INCOMPLETE_ATTACHMENT || status == GL_FRAMEBUFFER_UNSUPPORTED) {
                m_bgra = false;  // not renderable here after all
                glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, width, height, 0, GL_RGBA, GL_UNSIGNED_BYTE, nullptr);
            }
        }
    }
    glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, m_texture, 0);
    m_width = width;
    m_height = height;
    return true;
}

void GLLayer::releaseStorage() {
    dropFence();
    if (m_texture) glDeleteTextures(1, &m_texture);
    m_texture = 0;
    m_width = 0;
    m_height = 0;
}

void GLLayer::present() {
    // One frame in flight, as a swap chain keeps it: the previous frame is finished before this one
    // is queued. With a flush alone nothing waited on a frame nobody composited (headless), so
    // llvmpipe queued scene after scene, each taking fresh memory for its bins and vertices (about
    // 2,000 page faults a frame at 20,000 sprites, and 15 to 35 MB more at the peak).
    waitForContent();
    dropFence();
    if (fenceCalls().create)
        m_fence = fenceCalls().create(static_cast<EGLDisplay>(GLContext::display()), EGL_SYNC_FENCE_KHR, nullptr);
    glFlush();
    ++m_serial;
    g_presents.fetch_add(1, std::memory_order_relaxed);
}

std::uint64_t GLLayer::presentCount() {
    return g_presents.load(std::memory_order_relaxed);
}

void GLLayer::waitForContent() {
    if (m_fence)
        fenceCalls().clientWait(static_cast<EGLDisplay>(GLContext::display()), static_cast<EGLSyncKHR>(m_fence), 0,
                                EGL_FOREVER_KHR);
}

void GLLayer::dropFence() {
    if (m_fence) fenceCalls().destroy(static_cast<EGLDisplay>(GLContext::display()), static_cast<EGLSyncKHR>(m_fence));
    m_fence = nullptr;
}

std::vector<std::uint8_t> GLLayer::readPixels() {
    std::vector<std::uint8_t> bottomUp;
    if (!readBottomUp(&bottomUp)) return {};
    const size_t stride = static_cast<size_t>(m_width) * 4;
    std::vector<std::uint8_t> topDown(bottomUp.size());
    for (int y = 0; y < m_height; ++y)
        std::memcpy(&topDown[static_cast<size_t>(y) * stride], &bottomUp[static_cast<size_t>(m_height - 1 - y) * stride],
                    stride);
    return topDown;
}

bool GLLayer::readBottomUp(std::vector<std::uint8_t>* bottomUp) {
    if (!m_texture) return false;
    bottomUp->resize(static_cast<size_t>(m_width) * 4 * static_cast<size_t>(m_height));
    return readBottomUp(bottomUp->data());
}

bool GLLayer::readBottomUp(std::uint8_t* pixels) {
    if (!m_texture) return false;
    read(GL_RGBA, false, pixels);  // BGRA storage converts on the way
    return true;
}

bool GLLayer::readTopDownBGRA(std::uint8_t* pixels) {
    if (!m_texture || !m_bgra) return false;
    read(GL_BGRA_EXT, true, pixels);
    return true;
}

void GLLayer::read(unsigned format, bool topDown, std::uint8_t* pixels) {
    waitForContent();
    KeepBinding keep(GL_FRAMEBUFFER_BINDING, bindFramebuffer, GL_FRAMEBUFFER);
    GLuint framebuffer = 0;
    glGenFramebuffers(1, &framebuffer);
    glBindFramebuffer(GL_FRAMEBUFFER, framebuffer);
    glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, m_texture, 0);
    GLint alignment = 4;
    glGetIntegerv(GL_PACK_ALIGNMENT, &alignment);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    if (topDown) glPixelStorei(GL_PACK_REVERSE_ROW_ORDER_ANGLE, 1);
    glReadPixels(0, 0, m_width, m_height, format, GL_UNSIGNED_BYTE, pixels);
    if (topDown) glPixelStorei(GL_PACK_REVERSE_ROW_ORDER_ANGLE, 0);
    glPixelStorei(GL_PACK_ALIGNMENT, alignment);
    glDeleteFramebuffers(1, &framebuffer);
}

}  // namespace plat::gl
