#include "port/tests/TextureTestSupport.h"

#include <GLES2/gl2.h>

#include <cstdio>
#include <memory>

#include "platform/gl/HeadlessGL.h"

namespace dktest {

bool useGL() {
    static std::unique_ptr<plat::gl::HeadlessContext> context = [] {
        std::string error;
        auto made = plat::gl::HeadlessContext::create(16, 16, plat::gl::Api::ES2, &error);
        if (!made) std::fprintf(stderr, "no headless GL: %s\n", error.c_str());
        return made;
    }();
    return context && context->makeCurrent();
}

namespace {

// Draws the bound texture over the whole viewport, sampled at texel centres.
GLuint copyProgram() {
    static const GLuint program = [] {
        const char* sources[] = {
            "attribute vec2 pos; varying vec2 uv;"
            "void main() { uv = pos * 0.5 + 0.5; gl_Position = vec4(pos, 0.0, 1.0); }",
            "precision mediump float; uniform sampler2D tex; varying vec2 uv;"
            "void main() { gl_FragColor = texture2D(tex, uv); }"};
        GLuint made = glCreateProgram();
        for (GLenum kind : {GL_VERTEX_SHADER, GL_FRAGMENT_SHADER}) {
            GLuint shader = glCreateShader(kind);
            glShaderSource(shader, 1, &sources[kind == GL_FRAGMENT_SHADER], nullptr);
            glCompileShader(shader);
            glAttachShader(made, shader);
        }
        glBindAttribLocation(made, 0, "pos");
        glLinkProgram(made);
        return made;
    }();
    return program;
}

}  // namespace

std::vector<uint8_t> readTexture(uint32_t texture, int width, int height) {
    GLuint target = 0, fbo = 0;
    glGenTextures(1, &target);
    glBindTexture(GL_TEXTURE_2D, target);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, width, height, 0, GL_RGBA, GL_UNSIGNED_BYTE, nullptr);
    glGenFramebuffers(1, &fbo);
    glBindFramebuffer(GL_FRAMEBUFFER, fbo);
    glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, target, 0);
    glViewport(0, 0, width, height);
    glDisable(GL_BLEND);
    glClearColor(0, 0, 0, 0);
    glClear(GL_COLOR_BUFFER_BIT);
    glUseProgram(copyProgram());  // its sampler reads unit 0
    glActiveTexture(GL_TEXTURE0);
    glBindTexture(GL_TEXTURE_2D, texture);
    // Nearest sampling keeps the bytes untouched.
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
    const float quad[] = {-1, -1, 1, -1, -1, 1, 1, 1};
    glBindBuffer(GL_ARRAY_BUFFER, 0);
    glVertexAttribPointer(0, 2, GL_FLOAT, GL_FALSE, 0, quad);
    glEnableVertexAttribArray(0);
    glDrawArrays(GL_TRIANGLE_STRIP, 0, 4);
    std::vector<uint8_t> pixels(static_cast<size_t>(width) * height * 4);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(0, 0, width, height, GL_RGBA, GL_UNSIGNED_BYTE, pixels.data());
    glBindFramebuffer(GL_FRAMEBUFFER, 0);
    glDeleteFramebuffers(1, &fbo);
    glDeleteTextures(1, &target);
    return pixels;
}

bool textureExists(uint32_t texture) {
    return glIsTexture(texture) == GL_TRUE;
}

}  // namespace dktest

// Fontconfig keeps its configuration and caches for the life of the process and never frees them;
// that is not ours to report.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libfontconfig.so\n";
}
