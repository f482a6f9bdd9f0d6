#include "platform/ui/tests/ComposeScenes.h"

#include <GLES2/gl2.h>
#include <gtest/gtest.h>

#include <cstdint>

#include "platform/image/ImageCodec.h"
#include "platform/sys/Device.h"
#include "platform/ui/ImageView.h"
#include "platform/ui/Window.h"

namespace dktest {

using plat::ui::Color;
using plat::ui::Rect;
using plat::ui::View;

PatternGLView::PatternGLView(const Rect& frame) : View(frame) {
    plat::gl::CurrentContextScope keep;
    std::string error;
    m_context = plat::gl::GLContext::create(&error);
    EXPECT_TRUE(m_context && m_context->makeCurrent()) << error;
    if (!m_context) return;
    m_layer.setBounds(frame.width, frame.height);
    m_layer.setContentsScale(plat::sys::Screen::main().scale());
    glGenFramebuffers(1, &m_framebuffer);
    glBindFramebuffer(GL_FRAMEBUFFER, m_framebuffer);
    EXPECT_TRUE(m_layer.allocateStorage());
    const int width = m_layer.width(), height = m_layer.height();
    glViewport(0, 0, width, height);
    glEnable(GL_SCISSOR_TEST);
    // Blocks of 10 x 10 pixels, each its own colour and alpha (0 included).
    for (int y = 0; y < height; y += 10)
        for (int x = 0; x < width; x += 10) {
            const int i = x / 10, j = y / 10;
            glScissor(x, y, 10, 10);
            glClearColor(static_cast<float>((i * 37) % 256) / 255, static_cast<float>((j * 53) % 256) / 255,
                         static_cast<float>(((i + j) * 29) % 256) / 255, static_cast<float>((i * j * 7) % 256) / 255);
            glClear(GL_COLOR_BUFFER_BIT);
        }
    glDisable(GL_SCISSOR_TEST);
    m_layer.present();
}

PatternGLView::~PatternGLView() {
    if (m_context && m_context->makeCurrent()) {
        m_layer.releaseStorage();
        glDeleteFramebuffers(1, &m_framebuffer);
    }
}

namespace {

std::shared_ptr<View> colored(Rect frame, Color color, double corner = 0) {
    auto view = std::make_shared<View>(frame);
    view->setBackgroundColor(color);
    view->setCornerRadius(corner);
    return view;
}

// An opaque picture of `width` x `height` pixels: a gradient, a disc of transparency when `holed`.
std::string writePicture(const std::string& path, int width, int height, bool holed) {
    std::vector<std::uint8_t> rgba;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const int dx = x - width / 2, dy = y - height / 2;
            const bool hole = holed && dx * dx + dy * dy < width * width / 16;
            rgba.insert(rgba.end(), {static_cast<std::uint8_t>(x * 255 / width), static_cast<std::uint8_t>(y * 255 / height),
                                     160, static_cast<std::uint8_t>(hole ? 96 : 255)});
        }
    std::string error;
    EXPECT_TRUE(plat::image::writePNG(path, width, height, rgba, &error)) << error;
    return path;
}

}  // namespace

const std::vector<std::string>& composeSceneNames() {
    static const std::vector<std::string> names = {"game", "fading", "startup", "banner", "keyboard", "cropped"};
    return names;
}

std::string composeScenePicture(const std::string& name) {
    return std::string(DK_SOURCE_DIR) + "/platform/ui/tests/data/compose-" + name + ".png";
}

void buildComposeScene(const std::string& name, plat::ui::Window& window, const std::string& dir) {
    window.setBackgroundColor(Color{0, 0, 0, 1});
    const Rect screen = window.bounds();
    auto game = std::make_shared<PatternGLView>(name == "cropped" ? Rect{-40, 0, 400, 480} : screen);
    window.addSubview(game);
    if (name == "fading") game->setAlpha(0.5);
    if (name == "startup") {
        game->setAlpha(0);
        window.addSubview(std::make_shared<plat::ui::ImageView>(screen, writePicture(dir + "/intro.png", 160, 240, false)));
        auto box = colored({279, 439, 41, 41}, {0, 0, 0, 0.7}, 8);
        box->addSubview(colored({10, 10, 21, 21}, {1, 1, 1, 0.9}, 10));
        window.addSubview(box);
    } else if (name == "banner") {
        auto banner = colored({0, 430, 320, 50}, {0.1, 0.2, 0.6, 0.85}, 6);
        banner->addSubview(std::make_shared<plat::ui::ImageView>(Rect{5, 5, 40, 40},
                                                                 writePicture(dir + "/icon.png", 40, 40, true)));
        banner->setBorderWidth(1);
        banner->setBorderColor({1, 1, 1, 0.5});
        window.addSubview(banner);
    } else if (name == "keyboard") {
        auto keyboard = colored({0, 264, 320, 216}, {0.82, 0.83, 0.86, 1});
        for (int row = 0; row < 4; ++row)
            for (int key = 0; key < 10; ++key)
                keyboard->addSubview(colored({3.0 + key * 32, 10.0 + row * 52, 26, 42}, {1, 1, 1, 1}, 5));
        window.addSubview(keyboard);
    }
}

}  // namespace dktest
