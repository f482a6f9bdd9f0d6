#include "platform/ui/tests/UITestSupport.h"

#include <GLES2/gl2.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <sstream>

#include "platform/sys/Device.h"
#include "platform/ui/Window.h"

namespace dktest {

namespace {
plat::foundation::TraceCategory kTest("test");
}

void note(const std::string& text) {
    plat::foundation::trace(kTest, text);
}

TraceLog::TraceLog() : m_path(m_dir.file("trace.txt")) {
    plat::foundation::Trace::configure("lifecycle,ui,audio,notify,open,alert,web,text,test", m_path.c_str());
}

TraceLog::~TraceLog() {
    plat::foundation::Trace::configure("", "");
}

Lines TraceLog::take() {
    std::string text = readFile(m_path);
    std::istringstream in(text.substr(m_read));
    m_read = text.size();
    Lines lines;
    std::string stamp, rest;
    while (in >> stamp && std::getline(in, rest)) lines.push_back(rest.substr(1));
    return lines;
}

Lines transitionLines(const std::string& operation) {
    std::string name = operation;
    name[0] = static_cast<char>(std::toupper(name[0]));
    return {"lifecycle " + operation, "test delegate " + operation,
            "notify UIApplication" + name + "Notification from UIApplication"};
}

Lines operator+(Lines a, const Lines& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

NotingDelegate::~NotingDelegate() {
    note("delegate destroyed");
}

void NotingDelegate::didFinishLaunching(plat::ui::Application& app) {
    note("delegate didFinishLaunching");
    if (onLaunch) onLaunch(app);
}

void NotingController::willRotateToInterfaceOrientation(int o, double duration) {
    char text[64];
    std::snprintf(text, sizeof text, " willRotate %d %g", o, duration);
    note(name + text);
}

std::shared_ptr<plat::ui::Window> showWindow(std::shared_ptr<plat::ui::ViewController> root) {
    auto window = std::make_shared<plat::ui::Window>(plat::sys::Screen::main().bounds());
    window->setRootViewController(std::move(root));
    window->makeKeyAndVisible();
    return window;
}

namespace {

std::unique_ptr<plat::gl::GLContext> madeCurrent() {
    std::string error;
    auto context = plat::gl::GLContext::create(&error);
    EXPECT_TRUE(context && context->makeCurrent()) << error;
    return context;
}

}  // namespace

TestScreen::TestScreen(int width, int height, int orientation)
    : width(width), height(height), orientation(orientation) {
    plat::gl::CurrentContextScope keep;
    m_context = madeCurrent();
    m_layer.setBounds(width, height);
    glGenFramebuffers(1, &m_framebuffer);
    glBindFramebuffer(GL_FRAMEBUFFER, m_framebuffer);
    EXPECT_TRUE(m_layer.allocateStorage());
}

TestScreen::~TestScreen() {
    if (m_context && m_context->makeCurrent()) {
        m_layer.releaseStorage();
        glDeleteFramebuffers(1, &m_framebuffer);
    }
}

bool TestScreen::beginFrame(Target* target) {
    m_context->makeCurrent();
    glBindFramebuffer(GL_FRAMEBUFFER, m_framebuffer);
    *target = {width, height, orientation, picture[0], picture[1], picture[2], picture[3]};
    return true;
}

std::vector<std::uint8_t> TestScreen::pixels() {
    plat::gl::CurrentContextScope keep;
    m_context->makeCurrent();
    return m_layer.readPixels();
}

Rgba TestScreen::pixel(int x, int y) {
    const std::vector<std::uint8_t> all = pixels();
    const size_t at = (static_cast<size_t>(y) * width + x) * 4;
    return {all[at], all[at + 1], all[at + 2], all[at + 3]};
}

GLView::GLView(const plat::ui::Rect& frame, Rgba bottom, Rgba top) : View(frame) {
    plat::gl::CurrentContextScope keep;
    m_context = madeCurrent();
    m_layer.setBounds(frame.width, frame.height);
    m_layer.setContentsScale(plat::sys::Screen::main().scale());
    glGenFramebuffers(1, &m_framebuffer);
    glBindFramebuffer(GL_FRAMEBUFFER, m_framebuffer);
    EXPECT_TRUE(m_layer.allocateStorage());
    fill(bottom, top);
}

GLView::~GLView() {
    if (m_context && m_context->makeCurrent()) {
        m_layer.releaseStorage();
        glDeleteFramebuffers(1, &m_framebuffer);
    }
}

void GLView::fill(Rgba bottom, Rgba top) {
    plat::gl::CurrentContextScope keep;
    m_context->makeCurrent();
    glBindFramebuffer(GL_FRAMEBUFFER, m_framebuffer);
    glViewport(0, 0, m_layer.width(), m_layer.height());
    const auto clear = [](Rgba c) {
        glClearColor(c[0] / 255.0f, c[1] / 255.0f, c[2] / 255.0f, c[3] / 255.0f);
        glClear(GL_COLOR_BUFFER_BIT);
    };
    clear(bottom);
    glEnable(GL_SCISSOR_TEST);
    glScissor(0, m_layer.height() / 2, m_layer.width(), m_layer.height() - m_layer.height() / 2);
    clear(top);
    glDisable(GL_SCISSOR_TEST);
    m_layer.present();
}

}  // namespace dktest

// Fontconfig (behind the labels' text) keeps its configuration and caches for the life of the
// process and never frees them; that is not ours to report.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libfontconfig.so\n";
}
