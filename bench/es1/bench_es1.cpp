// Milliseconds per frame (scene computed, drawn and ended as a window's swap would; glFinish after the last)
// of a few scenes under the ES1 renderer, and the ratio to the ES2 renderer drawing the same scene in the
// same run. Usage: bench_es1 [FRAMES]
#include <GLES/gl.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>

#include "tests/render/RenderHarness.h"

namespace {

constexpr int kWidth = 320, kHeight = 240;

using Build = std::function<void(dktest::OrthoScene&, const SGImage&)>;

SGSpriteNode* sprite(dktest::OrthoScene& s, float x, float y, float w, float h) {
    return s.sprite(x, y, w, h, {0.8f, 0.6f, 0.4f, 0.9f});
}

// Milliseconds per frame, or a negative value when no context can be made.
double timeScene(dktest::Renderer renderer, const Build& build, int frames) {
    dktest::RenderTarget t(renderer, kWidth, kHeight);
    if (!t.context) {
        std::fprintf(stderr, "bench_es1: %s\n", t.failure.c_str());
        return -1;
    }
    SGImage image = t.texture(2, 2, {0xff0000ff, 0x00ff00ff, 0x0000ffff, 0xffffffff}, {.linear = true});
    image.width = image.height = 16;
    build(*t.s, image);
    t.s->scene.render();  // first frame: pools, tile arrays
    glFinish();
    auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < frames; ++i) {
        t.s->scene.render();
        t.context->endFrame();
    }
    glFinish();
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count() /
           frames;
}

}  // namespace

int main(int argc, char** argv) {
    int frames = argc > 1 ? std::max(1, std::atoi(argv[1])) : 60;

    struct Case {
        const char* name;
        Build build;
    } cases[] = {
        {"1000 coloured sprites, rotated",
         [](dktest::OrthoScene& o, const SGImage&) {
             for (int i = 0; i < 1000; ++i)
                 sprite(o, float(i % 40) * 8, float(i / 40) * 9, 12, 12)->angle.setValue(float(i));
         }},
        {"1000 textured sprites",
         [](dktest::OrthoScene& o, const SGImage& image) {
             for (int i = 0; i < 1000; ++i)
                 sprite(o, float(i % 40) * 8, float(i / 40) * 9, 12, 12)->image.value = image;
         }},
        {"100 tiled sprites of 100 tiles",
         [](dktest::OrthoScene& o, const SGImage& image) {
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
         [](dktest::OrthoScene& o, const SGImage& image) {
             auto* p = o.make<SGParticleSystemNode>(SGNodeClassParticleSystemNode);
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
        double es1 = timeScene(dktest::Renderer::ES1, c.build, frames);
        double es2 = timeScene(dktest::Renderer::ES2Batched, c.build, frames);
        if (es1 < 0 || es2 < 0) return 1;
        std::printf("%-34s %10.3f %10.3f %8.2f\n", c.name, es1, es2, es1 / es2);
    }
    return 0;
}
