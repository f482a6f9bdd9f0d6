#include "platform/ui/ScreenSnapshot.h"

#include <GLES2/gl2.h>

#include <vector>

#include "platform/gl/GLContext.h"
#include "platform/gl/GLLayer.h"
#include "platform/sys/Device.h"
#include "platform/ui/Application.h"
#include "platform/ui/Compositor.h"

namespace plat::ui {

namespace {

// A frame buffer of the share group, upright for portrait, that the compositor draws into once.
class SnapshotTarget : public Presenter {
public:
    bool make(double width, double height, double scale) {
        m_context = gl::GLContext::create();
        if (!m_context || !m_context->makeCurrent()) return false;
        m_layer.setBounds(width, height);
        m_layer.setContentsScale(scale);
        glGenFramebuffers(1, &m_framebuffer);
        glBindFramebuffer(GL_FRAMEBUFFER, m_framebuffer);
        return m_layer.allocateStorage();
    }
    ~SnapshotTarget() override {
        if (m_context && m_context->makeCurrent()) {
            m_layer.releaseStorage();
            if (m_framebuffer) glDeleteFramebuffers(1, &m_framebuffer);
        }
    }
    bool beginFrame(Target* target) override {
        if (!m_context->makeCurrent()) return false;
        glBindFramebuffer(GL_FRAMEBUFFER, m_framebuffer);
        *target = {m_layer.width(), m_layer.height(), kInterfaceOrientationPortrait};
        return true;
    }
    void endFrame() override { m_drawn = true; }
    std::vector<std::uint8_t> pixels() {
        m_context->makeCurrent();
        return m_layer.readPixels();
    }
    int width() const { return m_layer.width(); }
    int height() const { return m_layer.height(); }
    bool drawn() const { return m_drawn; }

private:
    std::unique_ptr<gl::GLContext> m_context;
    gl::GLLayer m_layer;
    unsigned m_framebuffer = 0;
    bool m_drawn = false;
};

}  // namespace

std::shared_ptr<Image> snapshotKeyWindow(Application& app, double scale) {
    if (!app.keyWindow()) return nullptr;
    if (scale <= 0) scale = 1;
    gl::CurrentContextScope keep;
    const Rect screen = sys::Screen::main().bounds();
    SnapshotTarget target;
    if (!target.make(screen.width, screen.height, scale)) return nullptr;
    if (!app.compositor().composite(target, false) || !target.drawn()) return nullptr;
    // The compositor starts from opaque black, so what it leaves is opaque: straight and
    // premultiplied are one.
    const std::vector<std::uint8_t> pixels = target.pixels();
    if (pixels.empty()) return nullptr;
    return Image::fromPremultipliedRGBA(target.width(), target.height(), pixels.data(), "screenshot", scale);
}

}  // namespace plat::ui
