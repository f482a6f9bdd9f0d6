// A view's drawable: its size, drawing and reading it back, and sampling it from a second context
// of the share group as the compositor will.
#include <GLES2/gl2.h>
#include <GLES2/gl2ext.h>
#include <EGL/egl.h>
#include <EGL/eglext.h>
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/gl/GLContext.h"
#include "platform/gl/GLLayer.h"

namespace {

using plat::gl::GLContext;
using plat::gl::GLLayer;
using Rgba = std::array<std::uint8_t, 4>;

std::unique_ptr<GLContext> makeContext() {
    std::string error;
    auto context = GLContext::create(&error);
    EXPECT_TRUE(context) << error;
    if (context) {
        EXPECT_TRUE(context->makeCurrent());
    }
    return context;
}

Rgba pixelAt(const std::vector<std::uint8_t>& pixels, int width, int x, int y) {
    const size_t at = (static_cast<size_t>(y) * width + x) * 4;
    return {pixels[at], pixels[at + 1], pixels[at + 2], pixels[at + 3]};
}

// A frame buffer of the current context holding the layer's storage.
struct Drawable {
    GLuint framebuffer = 0;
    explicit Drawable(GLLayer& layer, bool* allocated = nullptr) {
        glGenFramebuffers(1, &framebuffer);
        glBindFramebuffer(GL_FRAMEBUFFER, framebuffer);
        const bool ok = layer.allocateStorage();
        if (allocated) *allocated = ok;
    }
    ~Drawable() { glDeleteFramebuffers(1, &framebuffer); }
    bool complete() const { return glCheckFramebufferStatus(GL_FRAMEBUFFER) == GL_FRAMEBUFFER_COMPLETE; }
};

// Red everywhere, and green in the top row of the picture (GL's highest y).
void drawRedWithGreenTop(int width, int height) {
    glViewport(0, 0, width, height);
    glDisable(GL_SCISSOR_TEST);
    glClearColor(1, 0, 0, 1);
    glClear(GL_COLOR_BUFFER_BIT);
    glEnable(GL_SCISSOR_TEST);
    glScissor(0, height - 1, width, 1);
    glClearColor(0, 1, 0, 1);
    glClear(GL_COLOR_BUFFER_BIT);
    glDisable(GL_SCISSOR_TEST);
}

GLuint compile(GLenum kind, const char* source) {
    GLuint shader = glCreateShader(kind);
    glShaderSource(shader, 1, &source, nullptr);
    glCompileShader(shader);
    GLint ok = 0;
    glGetShaderiv(shader, GL_COMPILE_STATUS, &ok);
    EXPECT_TRUE(ok);
    return shader;
}

// Draws `count` vertices of `points` (attribute 0, "p") as `mode` with a program of the two
// shaders' sources.
void drawWith(const char* vertex, const char* fragment, GLenum mode, const GLfloat* points, int count) {
    const GLuint program = glCreateProgram();
    const GLuint vs = compile(GL_VERTEX_SHADER, vertex);
    const GLuint fs = compile(GL_FRAGMENT_SHADER, fragment);
    glAttachShader(program, vs);
    glAttachShader(program, fs);
    glBindAttribLocation(program, 0, "p");
    glLinkProgram(program);
    glUseProgram(program);
    glVertexAttribPointer(0, 2, GL_FLOAT, GL_FALSE, 0, points);
    glEnableVertexAttribArray(0);
    glDrawArrays(mode, 0, count);
    glDeleteProgram(program);
    glDeleteShader(vs);
    glDeleteShader(fs);
}

// Draws `texture` over the whole bound frame buffer, texel for pixel, as a compositor does.
void drawTexture(GLuint texture, int width, int height) {
    glBindTexture(GL_TEXTURE_2D, texture);
    glViewport(0, 0, width, height);
    const GLfloat quad[] = {-1, -1, 1, -1, -1, 1, 1, 1};
    drawWith("attribute vec2 p; varying vec2 uv;"
             "void main() { uv = p * 0.5 + 0.5; gl_Position = vec4(p, 0.0, 1.0); }",
             "precision mediump float; varying vec2 uv; uniform sampler2D t;"
             "void main() { gl_FragColor = texture2D(t, uv); }",
             GL_TRIANGLE_STRIP, quad, 4);
}

TEST(GLLayer, DrawableIsBoundsTimesScaleInWholePixels) {
    auto context = makeContext();
    ASSERT_TRUE(context);
    const struct Case {
        double width, height, scale;
        int pixelsWide, pixelsHigh;
        bool allocated;
    } cases[] = {
        {320, 480, 1, 320, 480, true},   {320, 480, 2, 640, 960, true}, {480, 320, 2, 960, 640, true},
        {10.4, 10.6, 1, 10, 11, true},   {0, 480, 2, 0, 960, false},    {320, 480, 0, 0, 0, false},
        {1e9, 10, 1, 1000000000, 10, false},
    };
    for (const Case& c : cases) {
        GLLayer layer;
        layer.setBounds(c.width, c.height);
        layer.setContentsScale(c.scale);
        EXPECT_EQ(layer.drawableWidth(), c.pixelsWide) << c.width << "x" << c.height << "@" << c.scale;
        EXPECT_EQ(layer.drawableHeight(), c.pixelsHigh);
        bool allocated = false;
        Drawable drawable(layer, &allocated);
        EXPECT_EQ(allocated, c.allocated);
        EXPECT_EQ(drawable.complete(), c.allocated);
        EXPECT_EQ(layer.width(), c.allocated ? c.pixelsWide : 0);
        EXPECT_EQ(layer.height(), c.allocated ? c.pixelsHigh : 0);
    }
}

TEST(GLLayer, PresentMarksContentAndReadsBackTopRowFirst) {
    auto context = makeContext();
    ASSERT_TRUE(context);
    GLLayer layer;
    layer.setBounds(3, 2);
    layer.setContentsScale(2);
    Drawable drawable(layer);
    ASSERT_TRUE(drawable.complete());
    EXPECT_FALSE(layer.hasContent());

    drawRedWithGreenTop(layer.width(), layer.height());
    layer.present();
    EXPECT_EQ(layer.contentSerial(), 1u);
    const std::vector<std::uint8_t> pixels = layer.readPixels();
    ASSERT_EQ(pixels.size(), 6u * 4u * 4u);
    EXPECT_EQ(pixelAt(pixels, 6, 0, 0), (Rgba{0, 255, 0, 255}));
    EXPECT_EQ(pixelAt(pixels, 6, 5, 0), (Rgba{0, 255, 0, 255}));
    EXPECT_EQ(pixelAt(pixels, 6, 0, 1), (Rgba{255, 0, 0, 255}));
    EXPECT_EQ(pixelAt(pixels, 6, 5, 3), (Rgba{255, 0, 0, 255}));
    layer.present();
    EXPECT_EQ(layer.contentSerial(), 2u);
}

TEST(GLLayer, LeavesTheBindingsItFound) {
    // The ES2 renderer caches its texture binding: allocating or reading storage must not move it.
    auto context = makeContext();
    ASSERT_TRUE(context);
    GLuint texture = 0;
    glGenTextures(1, &texture);
    glBindTexture(GL_TEXTURE_2D, texture);
    GLLayer layer;
    layer.setBounds(4, 4);
    Drawable drawable(layer);
    GLint bound = 0;
    glGetIntegerv(GL_TEXTURE_BINDING_2D, &bound);
    EXPECT_EQ(static_cast<GLuint>(bound), texture);
    layer.readPixels();
    glGetIntegerv(GL_FRAMEBUFFER_BINDING, &bound);
    EXPECT_EQ(static_cast<GLuint>(bound), drawable.framebuffer);
    glGetIntegerv(GL_PACK_ALIGNMENT, &bound);
    EXPECT_EQ(bound, 4);
    glDeleteTextures(1, &texture);
}

// Translucent colours blended over a clear: what a game's sprites do to every pixel.
void drawBlended(int width, int height) {
    glViewport(0, 0, width, height);
    glClearColor(0.1f, 0.2f, 0.7f, 1);
    glClear(GL_COLOR_BUFFER_BIT);
    glEnable(GL_BLEND);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    const GLfloat triangle[] = {-1, -1, 1, -1, -1, 1};
    drawWith("attribute vec2 p; void main() { gl_Position = vec4(p, 0.0, 1.0); }",
             "precision mediump float; void main() { gl_FragColor = vec4(0.9, 0.35, 0.05, 0.3); }", GL_TRIANGLES,
             triangle, 3);
    glDisable(GL_BLEND);
}

TEST(GLLayer, ReadsInXsByteOrderTopRowFirstWithThePicturesOfRGBAStorage) {
    auto context = makeContext();
    ASSERT_TRUE(context);
    GLLayer layer;
    layer.setBounds(5, 3);
    Drawable drawable(layer);
    ASSERT_TRUE(drawable.complete());
    drawRedWithGreenTop(5, 3);
    layer.present();
    std::vector<std::uint8_t> x(5 * 3 * 4);
    ASSERT_TRUE(layer.readTopDownBGRA(x.data())) << "Mesa keeps layers in X's byte order";
    EXPECT_EQ(pixelAt(x, 5, 4, 0), (Rgba{0, 255, 0, 255}));
    EXPECT_EQ(pixelAt(x, 5, 0, 1), (Rgba{0, 0, 255, 255}));
    EXPECT_EQ(pixelAt(x, 5, 4, 2), (Rgba{0, 0, 255, 255}));
    GLint reversed = 1;
    glGetIntegerv(GL_PACK_REVERSE_ROW_ORDER_ANGLE, &reversed);
    EXPECT_EQ(reversed, 0);

    // Byte for byte what RGBA storage holds after the same drawing.
    drawBlended(5, 3);
    layer.present();
    const std::vector<std::uint8_t> fromLayer = layer.readPixels();
    GLuint texture = 0, framebuffer = 0;
    glGenTextures(1, &texture);
    glBindTexture(GL_TEXTURE_2D, texture);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, 5, 3, 0, GL_RGBA, GL_UNSIGNED_BYTE, nullptr);
    glGenFramebuffers(1, &framebuffer);
    glBindFramebuffer(GL_FRAMEBUFFER, framebuffer);
    glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, texture, 0);
    drawBlended(5, 3);
    std::vector<std::uint8_t> rgba(5 * 3 * 4);
    glReadPixels(0, 0, 5, 3, GL_RGBA, GL_UNSIGNED_BYTE, rgba.data());
    std::vector<std::uint8_t> topDown;
    for (int y = 2; y >= 0; --y) topDown.insert(topDown.end(), rgba.begin() + y * 20, rgba.begin() + y * 20 + 20);
    EXPECT_EQ(fromLayer, topDown);
    EXPECT_NE(pixelAt(fromLayer, 5, 0, 2), pixelAt(fromLayer, 5, 4, 0));  // blended and not
    glDeleteFramebuffers(1, &framebuffer);
    glDeleteTextures(1, &texture);
}

TEST(GLLayer, ASecondContextOfTheGroupSamplesTheStorage) {
    auto viewContext = makeContext();
    auto compositor = GLContext::create();
    ASSERT_TRUE(viewContext && compositor);
    GLLayer layer;
    layer.setBounds(8, 6);
    ASSERT_TRUE(viewContext->makeCurrent());
    Drawable drawable(layer);
    drawRedWithGreenTop(layer.width(), layer.height());
    layer.present();

    ASSERT_TRUE(compositor->makeCurrent());
    EXPECT_TRUE(GLContext::groupIsCurrent());
    layer.waitForContent();
    GLLayer screen;  // the compositor's own target, the same size
    screen.setBounds(8, 6);
    {
        Drawable target(screen);
        ASSERT_TRUE(target.complete());
        drawTexture(layer.texture(), screen.width(), screen.height());
        screen.present();
        EXPECT_EQ(screen.readPixels(), layer.readPixels());
    }
    EXPECT_EQ(pixelAt(screen.readPixels(), 8, 3, 0), (Rgba{0, 255, 0, 255}));
    EXPECT_EQ(pixelAt(screen.readPixels(), 8, 3, 5), (Rgba{255, 0, 0, 255}));

    // Drawn again in the view's context, the compositor sees the new frame.
    ASSERT_TRUE(viewContext->makeCurrent());
    glBindFramebuffer(GL_FRAMEBUFFER, drawable.framebuffer);
    glClearColor(0, 0, 1, 1);
    glClear(GL_COLOR_BUFFER_BIT);
    layer.present();
    ASSERT_TRUE(compositor->makeCurrent());
    EXPECT_EQ(pixelAt(layer.readPixels(), 8, 0, 0), (Rgba{0, 0, 255, 255}));
    screen.releaseStorage();
    ASSERT_TRUE(viewContext->makeCurrent());
}

// Frames nobody composites (a headless game) are presented one after another: a present must
// leave no more than its own frame in flight, or the driver queues frame after frame, each with
// fresh memory for its vertices and bins (a heap that grew by the queue's depth, and page faults
// every frame).
TEST(GLLayer, APresentFinishesThePreviousFrameFirst) {
    auto context = makeContext();
    ASSERT_TRUE(context);
    const auto createSync = reinterpret_cast<PFNEGLCREATESYNCKHRPROC>(eglGetProcAddress("eglCreateSyncKHR"));
    const auto getSync = reinterpret_cast<PFNEGLGETSYNCATTRIBKHRPROC>(eglGetProcAddress("eglGetSyncAttribKHR"));
    const auto destroySync = reinterpret_cast<PFNEGLDESTROYSYNCKHRPROC>(eglGetProcAddress("eglDestroySyncKHR"));
    ASSERT_TRUE(createSync && getSync && destroySync);
    const EGLDisplay display = static_cast<EGLDisplay>(GLContext::display());
    GLLayer layer;
    layer.setBounds(256, 256);
    Drawable drawable(layer);
    ASSERT_TRUE(drawable.complete());
    // A slow frame: the whole layer blended over itself many times.
    glUseProgram(0);
    GLuint white = 0;
    glGenTextures(1, &white);
    glBindTexture(GL_TEXTURE_2D, white);
    const std::uint8_t pixel[4] = {255, 255, 255, 128};
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, 1, 1, 0, GL_RGBA, GL_UNSIGNED_BYTE, pixel);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
    glEnable(GL_BLEND);
    glBlendFunc(GL_ONE, GL_ONE_MINUS_SRC_ALPHA);
    for (int i = 0; i < 100; ++i) drawTexture(white, layer.width(), layer.height());
    glDisable(GL_BLEND);
    const EGLSyncKHR slowFrame = createSync(display, EGL_SYNC_FENCE_KHR, nullptr);
    ASSERT_NE(slowFrame, EGL_NO_SYNC_KHR);
    layer.present();
    // A quick frame: its present returns only once the slow one is done.
    glClear(GL_COLOR_BUFFER_BIT);
    layer.present();
    EGLint status = 0;
    ASSERT_TRUE(getSync(display, slowFrame, EGL_SYNC_STATUS_KHR, &status));
    EXPECT_EQ(status, EGL_SIGNALED_KHR);
    destroySync(display, slowFrame);
    glDeleteTextures(1, &white);
    layer.releaseStorage();
}

}  // namespace

namespace {

// The display opened ahead on a helper thread (asked for twice) serves contexts made and used on
// this one; frames presented back to back, each waiting for the one before, show the last.
TEST(GLLayer, FramesPresentedBackToBackOnADisplayOpenedAhead) {
    GLContext::openDisplayAhead();
    GLContext::openDisplayAhead();
    auto context = makeContext();
    ASSERT_TRUE(context);
    GLLayer layer;
    layer.setBounds(4, 4);
    Drawable drawable(layer);
    ASSERT_TRUE(drawable.complete());
    for (int frame = 0; frame < 3; ++frame) {
        drawRedWithGreenTop(layer.width(), layer.height());
        layer.present();
    }
    glClearColor(0, 0, 1, 1);
    glClear(GL_COLOR_BUFFER_BIT);
    layer.present();
    EXPECT_EQ(layer.contentSerial(), 4u);
    const std::vector<std::uint8_t> pixels = layer.readPixels();
    ASSERT_EQ(pixels.size(), 4u * 4u * 4u);
    EXPECT_EQ(pixelAt(pixels, 4, 0, 0), (Rgba{0, 0, 255, 255}));
    EXPECT_EQ(pixelAt(pixels, 4, 3, 3), (Rgba{0, 0, 255, 255}));
}

}  // namespace
