// The headless driver's screen: pixels in a GL drawable of the share group, no display. It is a
// GLLayer of the interface's bounds times the scale, reshaped (and blanked) as the interface turns,
// and the compositor's presenter: each screenshot command composites into it (its context is made at
// the first).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/gl/GLContext.h"
#include "platform/gl/GLLayer.h"
#include "platform/ui/Compositor.h"

namespace plat::host {

// The screen as the interface is turned: its bounds in points (swapped in landscape) times its
// scale, in a GLLayer that the compositor draws into (the screen is its presenter, upright for the
// interface, in a context of its own). Black until something draws, and again each time the
// interface turns to another shape.
class HeadlessScreen : public ui::Presenter {
public:
    // `width` x `height` points in portrait, `scale` pixels per point. Nullptr, with `error` set,
    // when no GL context can be made.
    static std::unique_ptr<HeadlessScreen> create(double width, double height, double scale, std::string* error);
    ~HeadlessScreen() override;

    // Interface orientation 1-4 (anything else counts as portrait).
    void setInterfaceOrientation(int orientation);
    int pixelWidth() const { return m_layer.width(); }
    int pixelHeight() const { return m_layer.height(); }

    gl::GLContext& context() { return *m_context; }
    gl::GLLayer& layer() { return m_layer; }
    // The screen's frame buffer in `context()` (the layer's storage is its colour).
    unsigned framebuffer() const { return m_framebuffer; }

    bool beginFrame(Target* target) override;
    void endFrame() override;

    // RGBA, first row at the top of the interface.
    std::vector<std::uint8_t> capture();
    bool writeScreenshot(const std::string& path, std::string* error);

private:
    HeadlessScreen() = default;
    void reshape(bool landscape);

    std::unique_ptr<gl::GLContext> m_context;
    gl::GLLayer m_layer;
    unsigned m_framebuffer = 0;
    double m_width = 0, m_height = 0;
    bool m_landscape = false;
    int m_orientation = 1;
};

}  // namespace plat::host
