// Milliseconds per frame (scene computed, drawn and finished with glFinish) of a few scenes under
// the ES1 renderer, and the ratio to the ES2 renderer drawing the same scene in the same run.
// Usage: bench_es1 [FRAMES]
#include <GLES/gl.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>

#include "platform/gl/HeadlessGL.h"
#include "scenegraph/SGScene.h"
#include "scenegraph/es1/SGRenderManagerES1.h"
#include "scenegraph/es2/SGRenderManagerES2.h"
#include "scenegraph/nodes/SGClearNode.h"
#include "scenegraph/nodes/SGParticleSystemNode.h"
#include "scenegraph/nodes/SGSpriteNode.h"

namespace {

constexpr int kWidth = 320, kHeight = 240;

using Build = std::function<void(SGOrtho2DSpace&, const SGImage&)>;

SGSpriteNode* sprite(SGSpace& space, float x, float y, float w, float h) {
    auto* s = static_cast<SGSpriteNode*>(space.createNode(SGNodeClassSpriteNode));
    s->x.setValue(x);
    s->y.setValue(y);
    s->width.setValue(w);
    s->height.setValue(h);
    s->color.value = {0.8f, 0.6f, 0.4f, 0.9f};
    return s;
}

// Milliseconds per frame, or a negative value when no context can be made.
double timeScene(plat::gl::Api api, const Build& build, int frames) {
    std::string error;
    auto context = plat::gl::HeadlessContext::create(kWidth, kHeight, api, &error);
    if (!context) {
        std::fprintf(stderr, "bench_es1: %s\n", error.c_str());
        return -1;
    }
    context->makeCurrent();
    DKShouldUseGLES2 = api == plat::gl::Api::ES2;
    if (DKShouldUseGLES2) {
        SGRenderManagerES2_setUpGL();
        glEnable(GL_BLEND);
        glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    } else {
        SGRenderManagerES1_setUpGL();
    }
    glViewport(0, 0, kWidth, kHeight);

    GLuint texture = 0;
    const uint32_t texels[4] = {0xff0000ff, 0x00ff00ff, 0x0000ffff, 0xffffffff};
    glGenTextures(1, &texture);
    glBindTexture(GL_TEXTURE_2D, texture);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, 2, 2, 0, GL_RGBA, GL_UNSIGNED_BYTE, texels);
    glBindTexture(GL_TEXTURE_2D, 0);
    if (DKShouldUseGLES2) SGRenderManagerES2_setUpGL();  // forget the binding made here
    SGImage image{16, 16, texture, 2, 2, {0, 0, 1, 1}, 0};

    double ms = 0;
    {
        SGScene scene(nullptr, nullptr);
        scene.defaultSpace().createNode(SGNodeClassClearNode);
        auto* ortho = static_cast<SGOrtho2DSpace*>(scene.createSpace(SGNodeClassOrtho2DSpace));
        ortho->width.setValue(static_cast<float>(kWidth));
        ortho->height.setValue(static_cast<float>(kHeight));
        ortho->near.setValue(-1.0f);
        ortho->far.setValue(1.0f);
        build(*ortho, image);
        scene.render();  // first frame: pools, tile arrays
        glFinish();
        auto start = std::chrono::steady_clock::now();
        for (int i = 0; i < frames; ++i) scene.render();
        glFinish();
        ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count() /
             frames;
    }
    glDeleteTextures(1, &texture);
    return ms;
}

}  // namespace

int main(int argc, char** argv) {
    int frames = argc > 1 ? std::max(1, std::atoi(argv[1])) : 60;
    SGRenderManagerES1::install();
    SGRenderManagerES2::install();

    struct Case {
        const char* name;
        Build build;
    } cases[] = {
        {"1000 coloured sprites, rotated",
         [](SGOrtho2DSpace& o, const SGImage&) {
             for (int i = 0; i < 1000; ++i)
                 sprite(o, float(i % 40) * 8, float(i / 40) * 9, 12, 12)->angle.setValue(float(i));
         }},
        {"1000 textured sprites",
         [](SGOrtho2DSpace& o, const SGImage& image) {
             for (int i = 0; i < 1000; ++i)
                 sprite(o, float(i % 40) * 8, float(i / 40) * 9, 12, 12)->image.value = image;
         }},
        {"100 tiled sprites of 100 tiles",
         [](SGOrtho2DSpace& o, const SGImage& image) {
             for (int i = 0; i < 100; ++i) {
                 SGSpriteNode* s = sprite(o, float(i % 10) * 32 + 16, float(i / 10) * 24 + 12, 160, 160);
                 s->image.value = image;
                 s->horizontalWrapping.setValue(SGSpriteTiled);
                 s->verticalWrapping.setValue(SGSpriteTiled);
                 s->tileWidth.setValue(16);
                 s->tileHeight.setValue(16);
             }
         }},
        {"20000 particles",
         [](SGOrtho2DSpace& o, const SGImage& image) {
             auto* p = static_cast<SGParticleSystemNode*>(o.createNode(SGNodeClassParticleSystemNode));
             p->numParticles.setValue(20000);
             p->lifetime.setValue(100);
             p->speed.setValue(1);
             p->size.setValue(4);
             p->sizeTarget.setValue(4);
             p->image.value = image;
             p->spawnParticles.setValue(true);
             p->x.setValue(160);
             p->y.setValue(120);
             p->time.setValue(1);
         }},
    };
    std::printf("%-34s %10s %10s %8s\n", "scene (320x240, llvmpipe)", "ES1 ms", "ES2 ms", "ES1/ES2");
    for (const Case& c : cases) {
        double es1 = timeScene(plat::gl::Api::ES1, c.build, frames);
        double es2 = timeScene(plat::gl::Api::ES2, c.build, frames);
        if (es1 < 0 || es2 < 0) return 1;
        std::printf("%-34s %10.3f %10.3f %8.2f\n", c.name, es1, es2, es1 / es2);
    }
    return 0;
}
