#include "player/view/EAGLView.h"

#include <GLES2/gl2.h>

#include "platform/foundation/Log.h"
#include "platform/host/HeadlessHost.h"
#include "platform/sys/Device.h"
#include "platform/ui/Application.h"
#include "port/DKMusicPlayer.h"

namespace dk::player {

plat::foundation::TraceCategory& glTrace() {
    static plat::foundation::TraceCategory category("gl");
    return category;
}

}  // namespace dk::player

namespace {

constexpr double kTimerPeriod = 0.016666666666666666;

}  // namespace

EAGLView::EAGLView(Key, const plat::ui::Rect& frame) : View(frame) {}

EAGLView::~EAGLView() {
    m_displayLink.reset();
    m_animationTimer.invalidate();
    if (m_context && m_context->isCurrent()) {
        destroyFramebuffer();
        plat::gl::GLContext::clearCurrent();
    }
}

std::shared_ptr<EAGLView> EAGLView::create(const plat::ui::Rect& frame) {
    auto view = std::make_shared<EAGLView>(Key{}, frame);
    std::string error;
    if (!view->initView(&error)) {
        plat::foundation::log("EAGLView: could not create an OpenGL ES 2.0 context: %s", error.c_str());
        return nullptr;
    }
    return view;
}

bool EAGLView::initView(std::string* error) {
    m_context = plat::gl::GLContext::create(error);
    if (!m_context) return false;
    if (!m_context->makeCurrent()) {
        *error = "it cannot be made current";
        m_context.reset();
        return false;
    }
    m_displayLinkSupported = plat::sys::Device::current().systemVersionAtLeast("3.1");
    m_animationFrameInterval = 1;
    return true;
}

void EAGLView::startAnimation() {
    if (m_animating) return;
    plat::foundation::RunLoop& loop = plat::foundation::RunLoop::current();
    if (m_displayLinkSupported) {
        if (!m_displayLink) {
            m_displayLink = std::make_unique<plat::gl::DisplayLink>([this] { onAnimationTimer(); });
            m_displayLink->setFrameInterval(m_animationFrameInterval);
            m_displayLink->addToRunLoop(loop);
        }
        m_displayLink->setPaused(false);
    } else if (!m_animationTimer.isValid()) {
        m_animationTimer =
            loop.addRepeatingTimer(m_animationFrameInterval * kTimerPeriod, [this] { onAnimationTimer(); });
    }
    m_animating = true;
}

void EAGLView::stopAnimation() {
    m_animating = false;
    // Pausing spares the loop a wake-up per refresh while stopped; it resumes on the beat.
    if (m_displayLink) m_displayLink->setPaused(true);
}

void EAGLView::onAnimationTimer() {
    if (m_animating) drawView();
}

bool EAGLView::isActiveState() {
    const plat::ui::Application* app = plat::ui::Application::shared();
    return !app || app->state() == plat::ui::ApplicationState::Active;
}

void EAGLView::drawView() {
    if (!isActiveState()) return;
    if (m_dirty) {
        setupRenderView();
        return;
    }
    // The frame may run the engine, which may turn the run loop: the view stays for the frame.
    std::shared_ptr<View> keep = shared_from_this();
    m_context->makeCurrent();
    glBindFramebuffer(GL_FRAMEBUFFER, m_viewFramebuffer);
    // A frame that drew nothing leaves the picture as it was: presenting it again would only have
    // the window recomposited (a view held before its start ticked under the launch screen so).
    if (!drawFrame() || !isActiveState()) return;
    m_context->makeCurrent();
    m_layer.present();
    ++m_framesPresented;
    if (plat::host::HeadlessHost* host = plat::host::HeadlessHost::current()) host->gameFrameDidEnd();
    // The launch's first game frame is on screen: music held back from its road may load now.
    if (!m_gameFramePresented) {
        m_gameFramePresented = true;
        DKMusicPlayer::releaseOpens();
    }
}

void EAGLView::setupRenderView() {
    m_context->makeCurrent();
    destroyFramebuffer();
    createFramebuffer();
    prepareOpenGL();
    m_dirty = false;
}

bool EAGLView::createFramebuffer() {
    glGenFramebuffers(1, &m_viewFramebuffer);
    glBindFramebuffer(GL_FRAMEBUFFER, m_viewFramebuffer);
    m_layer.setBounds(bounds().width, bounds().height);
    m_layer.setContentsScale(contentScaleFactor());
    m_layer.allocateStorage();
    m_backingWidth = m_layer.width();
    m_backingHeight = m_layer.height();
    plat::foundation::tracef(dk::player::glTrace(), "framebuffer %dx%d", m_backingWidth, m_backingHeight);
    const GLenum status = glCheckFramebufferStatus(GL_FRAMEBUFFER);
    if (status != GL_FRAMEBUFFER_COMPLETE) {
        plat::foundation::log("failed to make complete framebuffer object %x", status);
        return false;
    }
    return true;
}

void EAGLView::destroyFramebuffer() {
    if (m_viewFramebuffer) glDeleteFramebuffers(1, &m_viewFramebuffer);
    m_viewFramebuffer = 0;
    m_layer.releaseStorage();
}
