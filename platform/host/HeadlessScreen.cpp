#include "platform/host/HeadlessScreen.h"

#include <GLES2/gl2.h>

#include "platform/image/ImageCodec.h"

namespace plat::host {

std::unique_ptr<HeadlessScreen> HeadlessScreen::create(double width, double height, double scale,
                                                       std::string* error) {
    std::unique_ptr<HeadlessScreen> screen(new HeadlessScreen);
    screen->m_context = gl::GLContext::create(error);
    if (!screen->m_context || !screen->m_context->makeCurrent()) {
        if (error && screen->m_context) *error = "cannot make the screen's GL context current";
        return nullptr;
    }
    screen->m_width = width;
    screen->m_height = height;
    screen->m_layer.setContentsScale(scale);
    glGenFramebuffers(1, &screen->m_framebuffer);
    screen->reshape(false);
    return screen;
}

HeadlessScreen::~HeadlessScreen() {
    if (m_context && m_context->makeCurrent()) {
        m_layer.releaseStorage();
        glDeleteFramebuffers(1, &m_framebuffer);
    }
}

void HeadlessScreen::setInterfaceOrientation(int orientation) {
    const bool landscape = orientation == 3 || orientation == 4;
    m_orientation = orientation >= 1 && orientation <= 4 ? orientation : 1;
    if (landscape != m_landscape) reshape(landscape);
}

bool HeadlessScreen::beginFrame(Target* target) {
    if (!m_layer.texture() || !m_context->makeCurrent()) return false;
    glBindFramebuffer(GL_FRAMEBUFFER, m_framebuffer);
    *target = {m_layer.width(), m_layer.height(), m_orientation};
    return true;
}

void HeadlessScreen::endFrame() {
    m_layer.present();
}

void HeadlessScreen::reshape(bool landscape) {
    m_landscape = landscape;
    m_context->makeCurrent();
    m_layer.setBounds(landscape ? m_height : m_width, landscape ? m_width : m_height);
    glBindFramebuffer(GL_FRAMEBUFFER, m_framebuffer);
    m_layer.allocateStorage();
    glViewport(0, 0, m_layer.width(), m_layer.height());
    glClearColor(0, 0, 0, 1);
    glClear(GL_COLOR_BUFFER_BIT);
    m_layer.present();
}

std::vector<std::uint8_t> HeadlessScreen::capture() {
    m_context->makeCurrent();
    return m_layer.readPixels();
}

bool HeadlessScreen::writeScreenshot(const std::string& path, std::string* error) {
    const std::vector<std::uint8_t> pixels = capture();
    if (pixels.empty()) {
        if (error) *error = "the screen has no pixels";
        return false;
    }
    return image::writePNG(path, m_layer.width(), m_layer.height(), pixels, error);
}

}  // namespace plat::host
