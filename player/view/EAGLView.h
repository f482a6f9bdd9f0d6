// A plain OpenGL ES view: its context, one frame buffer whose colour is the view's GLLayer, and
// the frame clock (a display link from system 3.1 on, else a repeating 1/60 s timer).
//
// The colour buffer's size is the bounds times the content scale, read at each rebuild; the view's
// glLayer() is what the compositor shows. A stop pauses the link (it resumes on the beat). A tick
// draws only while the application is active; a dirty view rebuilds (traced "gl framebuffer WxH")
// instead of drawing; a frame drawn is presented and reported to the driver, which counts --frames;
// a tick whose frame draws nothing (the game not playing) presents nothing.
#pragma once

#include <memory>
#include <string>

#include "platform/foundation/Log.h"
#include "platform/foundation/RunLoop.h"
#include "platform/gl/DisplayLink.h"
#include "platform/gl/GLContext.h"
#include "platform/gl/GLLayer.h"
#include "platform/ui/View.h"

namespace dk::player {
plat::foundation::TraceCategory& glTrace();
}

class EAGLView : public plat::ui::View {
protected:
    // Views are made by create() only (they need their context before anything else).
    struct Key {
        explicit Key() = default;
    };

public:
    // Made with create(); the constructor only stores the frame.
    EAGLView(Key, const plat::ui::Rect& frame);
    ~EAGLView() override;

    // The view with its context current; null, logged "EAGLView: could not create an OpenGL ES 2.0
    // context: <reason>", when no context can be made current.
    static std::shared_ptr<EAGLView> create(const plat::ui::Rect& frame);

    const char* className() const override { return "EAGLView"; }

    bool animating() const { return m_animating; }
    bool dirty() const { return m_dirty; }
    // Marked, the next tick rebuilds the frame buffer instead of drawing.
    void setDirty(bool dirty) { m_dirty = dirty; }
    int animationFrameInterval() const { return m_animationFrameInterval; }
    // Stored only: a clock already made keeps the interval it was made with.
    void setAnimationFrameInterval(int interval) { m_animationFrameInterval = interval; }
    bool displayLinkSupported() const { return m_displayLinkSupported; }
    int backingWidth() const { return m_backingWidth; }
    int backingHeight() const { return m_backingHeight; }

    // Ticks draw from start to stop. The clock is made on the first start and never removed; a
    // stop pauses it (a paused display link arms no timer) and its ticks do nothing.
    virtual void startAnimation();
    virtual void stopAnimation();
    void onAnimationTimer();
    // True without an application, else only while it is active.
    static bool isActiveState();

    // One tick: nothing while inactive; a dirty buffer is rebuilt and nothing drawn; else the
    // context current, the frame buffer bound, drawFrame, then a present (still active) when it drew.
    virtual void drawView();
    // Rebuilds the frame buffer (the view's bounds times its content scale) and the GL state.
    void setupRenderView();
    bool createFramebuffer();
    void destroyFramebuffer();

    // Hooks: drawFrame draws into the bound frame buffer, prepareOpenGL sets GL up after a rebuild.
    // drawFrame answers whether it drew the game's frame (the driver's --frames counts those); one
    // that did not leaves the last picture, unpresented.
    virtual bool drawFrame() { return true; }
    virtual void prepareOpenGL() {}

    plat::gl::GLContext& context() { return *m_context; }
    // The drawable: the game's pixels after each present, which the compositor shows.
    plat::gl::GLLayer& layer() { return m_layer; }
    plat::gl::GLLayer* glLayer() const override { return &m_layer; }
    unsigned framebuffer() const { return m_viewFramebuffer; }
    // Presents so far (frames the clock drew).
    long framesPresented() const { return m_framesPresented; }

protected:
    // Creation's second step: the context, made current, and the clock's settings.
    bool initView(std::string* error);

private:
    std::unique_ptr<plat::gl::GLContext> m_context;
    mutable plat::gl::GLLayer m_layer;  // the compositor samples it through a const view
    std::unique_ptr<plat::gl::DisplayLink> m_displayLink;
    plat::foundation::Timer m_animationTimer;
    int m_backingWidth = 0;
    int m_backingHeight = 0;
    int m_animationFrameInterval = 1;
    unsigned m_viewFramebuffer = 0;
    long m_framesPresented = 0;
    bool m_gameFramePresented = false;
    bool m_displayLinkSupported = false;
    bool m_animating = false;
    bool m_dirty = false;
};
