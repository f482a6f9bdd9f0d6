// Frame benchmark of the OpenGL ES 2.0 renderer: sprite scenes at 320x240 on Mesa's llvmpipe,
// drawn through the scene graph (compute, then the render manager), with and without sprite
// batching; the same quads drawn by a minimal GL program in one call per blend state (the
// floor); and the same scenes in LÖVE under Xvfb, all in one run, printed side by side.
//
//   bench_es2 [--quick] [--no-love] [--only WORKLOAD N] [--malloc-as-is]
//
// Mesa allocates its vertex and binning memory afresh for every large draw; with glibc's default
// thresholds those blocks are mapped and unmapped each frame and the page faults cost about as
// much CPU as everything else on the main thread, varying with the history of the heap. So the
// benchmark runs itself, and LÖVE, with glibc tunables that keep such blocks on the heap
// (the same for all three), unless --malloc-as-is is given.
//
// Frame time is wall time from the start of the frame's updates to glFinish (LÖVE: to the end
// of love.graphics.present). "cpu" is the main thread's CPU time for the frame before glFinish:
// the engine's work plus Mesa's front end and vertex stage, which the floor pays too.
#include <GLES2/gl2.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "bench/common/FloorQuads.h"
#include "platform/gl/HeadlessGL.h"
#include "platform/image/ImageCodec.h"
#include "scenegraph/SGScene.h"
#include "scenegraph/es2/SGRenderManagerES2.h"
#include "scenegraph/nodes/SGClearNode.h"
#include "scenegraph/nodes/SGParticleSystemNode.h"
#include "scenegraph/nodes/SGSpriteNode.h"
#include "tests/render/RenderHarness.h"

namespace {

constexpr int kWidth = 320, kHeight = 240, kSprite = 16;
const char* const kWorkloads[] = {"static", "moving", "rotated", "particles"};

double now(clockid_t clock) {
    timespec ts;
    clock_gettime(clock, &ts);
    return static_cast<double>(ts.tv_sec) * 1e3 + static_cast<double>(ts.tv_nsec) / 1e6;
}

std::vector<uint8_t> readBack() {
    std::vector<uint8_t> px(kWidth * kHeight * 4), out;
    glReadPixels(0, 0, kWidth, kHeight, GL_RGBA, GL_UNSIGNED_BYTE, px.data());
    for (int y = kHeight - 1; y >= 0; --y)
        out.insert(out.end(), px.begin() + y * kWidth * 4, px.begin() + (y + 1) * kWidth * 4);
    return out;
}

struct Figures {
    double median = 0, p95 = 0, cpu = 0, drawCalls = 0;
    double graphCpu = 0;  // of cpu: port writes and the scene's compute, before any drawing
    bool valid = false;
};

Figures summarize(std::vector<double> frames, double cpuTotal, double draws) {
    Figures f;
    std::sort(frames.begin(), frames.end());
    f.median = frames[frames.size() / 2];
    f.p95 = frames[std::min(frames.size() - 1, frames.size() * 95 / 100)];
    f.cpu = cpuTotal / static_cast<double>(frames.size());
    f.drawCalls = draws / static_cast<double>(frames.size());
    f.valid = true;
    return f;
}

// The scene graph: a clear node, one ortho space of 320x240, the sprites or one particle system.
Figures runEngine(const std::string& workload, int n, int frames, bool batching) {
    // The floor program ran in this context behind the renderer's back: set GL up again, as the
    // player's view does when it rebuilds its frame buffer.
    dktest::setUpRenderer(batching ? dktest::Renderer::ES2Batched : dktest::Renderer::ES2OneCallPerSprite,
                          kWidth, kHeight);
    dktest::OrthoScene graph(kWidth, kHeight);
    SGScene& scene = graph.scene;
    graph.clear->color.value = {0.1f, 0.1f, 0.2f, 1};
    GLint bound = 0;
    glGetIntegerv(GL_TEXTURE_BINDING_2D, &bound);
    GLuint texture = dk::bench::makeSpriteTexture(kSprite);
    glBindTexture(GL_TEXTURE_2D, static_cast<GLuint>(bound));
    SGImage image{kSprite, kSprite, texture, kSprite, kSprite, {0, 0, 1, 1}, 0};

    dk::bench::SpriteLayout layout(n, kWidth, kHeight);
    std::vector<SGSpriteNode*> sprites;
    SGParticleSystemNode* particles = nullptr;
    if (workload == "particles") {
        particles = graph.make<SGParticleSystemNode>(SGNodeClassParticleSystemNode);
        particles->numParticles.setValue(n);
        particles->image.value = image;
        particles->x.setValue(160);
        particles->y.setValue(60);
        particles->direction.setValue(90);
        particles->speed.setValue(80);
        particles->gravityY.setValue(-40);
        particles->lifetime.setValue(3);
        particles->lifestart.setValue(-3);
        particles->size.setValue(12);
        particles->sizeTarget.setValue(12);
        particles->color.value = {1, 0.8f, 0.2f, 1};
        particles->colorTarget.value = {1, 0.2f, 0.1f, 0};
        particles->colorTransitionTime.setValue(2);
        particles->spawnParticles.setValue(true);
    } else {
        for (int i = 0; i < n; ++i) {
            SGSpriteNode* s = graph.sprite(layout.x[i], layout.y[i], kSprite, kSprite);
            s->image.value = image;
            if (workload == "rotated") {
                s->color.value = {1, 1, 1, 0.5f};
                s->blendingMode.setValue(i < n / 2 ? 0 : 2);
            }
            sprites.push_back(s);
        }
    }

    std::vector<double> times;
    double cpu = 0, graphCpu = 0;
    uint64_t draws = 0;
    const int warmup = 10;
    for (int f = 0; f < warmup + frames; ++f) {
        double t0 = now(CLOCK_MONOTONIC), c0 = now(CLOCK_THREAD_CPUTIME_ID);
        uint64_t d0 = SGRenderManagerES2::drawCallCount();
        float t = static_cast<float>(f) / 60.0f;
        if (workload == "moving") {
            for (int i = 0; i < n; ++i) {
                sprites[i]->x.setValue(layout.x[i] + 20 * std::sin(t + layout.phase[i]));
                sprites[i]->y.setValue(layout.y[i] + 20 * std::cos(t + layout.phase[i]));
            }
        } else if (workload == "rotated") {
            for (int i = 0; i < n; ++i) sprites[i]->angle.setValue(layout.phase[i] * 57.29578f + f * 2.0f);
        } else if (particles) {
            particles->time.setValue(t);
        }
        // What SGScene::render does, timed in two parts.
        scene.defaultSpace().compute();
        for (SGSpace* space : scene.spaces()) space->compute();
        double cg = now(CLOCK_THREAD_CPUTIME_ID);
        scene.renderManager().render();
        double c1 = now(CLOCK_THREAD_CPUTIME_ID);
        glFinish();
        double t1 = now(CLOCK_MONOTONIC);
        if (f >= warmup) {
            times.push_back(t1 - t0);
            cpu += c1 - c0;
            graphCpu += cg - c0;
            draws += SGRenderManagerES2::drawCallCount() - d0;
        }
    }
    if (getenv("DUMP"))
        plat::image::writePNG(std::string("/tmp/eng_") + workload + std::to_string(n) + ".png", kWidth,
                              kHeight, readBack(), nullptr);
    SGRenderManagerES2::textureDeleted(texture);
    glDeleteTextures(1, &texture);
    SGRenderManagerES2::setBatching(true);
    Figures f = summarize(times, cpu, static_cast<double>(draws));
    f.graphCpu = graphCpu / static_cast<double>(times.size());
    return f;
}

// The floor: the quads' corners computed directly, one minimal program, indexed triangles from
// an element buffer (the fastest layout on llvmpipe), one draw call per blend state.
Figures runFloor(const std::string& workload, int n, int frames) {
    GLuint program = dk::bench::useFloorProgram();
    GLuint texture = dk::bench::makeSpriteTexture(kSprite);
    dk::bench::SpriteLayout layout(n, kWidth, kHeight);
    dk::bench::FloorQuads quads(n);
    std::vector<double> times;
    double cpu = 0;
    double draws = 0;
    const int warmup = 10;
    for (int f = 0; f < warmup + frames; ++f) {
        double t0 = now(CLOCK_MONOTONIC), c0 = now(CLOCK_THREAD_CPUTIME_ID);
        quads.place(workload, layout, f, 8, 0.0349f);
        const int calls = quads.drawFrame(workload == "rotated", n / 2);
        if (f >= warmup) draws += calls;
        double c1 = now(CLOCK_THREAD_CPUTIME_ID);
        glFinish();
        double t1 = now(CLOCK_MONOTONIC);
        if (f >= warmup) {
            times.push_back(t1 - t0);
            cpu += c1 - c0;
        }
    }
    if (getenv("DUMP"))
        plat::image::writePNG(std::string("/tmp/floor_") + workload + std::to_string(n) + ".png", kWidth,
                              kHeight, readBack(), nullptr);
    for (int i = 0; i < 3; ++i) glDisableVertexAttribArray(i);
    glDeleteTextures(1, &texture);
    glDeleteProgram(program);
    return summarize(times, cpu, draws);
}

// Runs every workload in LÖVE under Xvfb; lines "workload n median p95 drawcalls".
std::map<std::string, Figures> runLove(const std::vector<int>& counts, int frames) {
    std::map<std::string, Figures> out;
    std::string file = "/tmp/bench_es2_love_" + std::to_string(getpid()) + ".txt";
    std::ostringstream cmd;
    cmd << "timeout 1800 xvfb-run -a -s '-screen 0 640x480x24' love '" << DK_BENCH_LOVE_DIR << "' " << file
        << " " << frames;
    for (int n : counts) cmd << " " << n;
    cmd << " > /dev/null 2>&1";
    if (std::system(cmd.str().c_str()) != 0) {
        std::fprintf(stderr, "bench_es2: LÖVE did not run (is the love package installed?)\n");
        return out;
    }
    std::ifstream in(file);
    std::string workload;
    int n;
    Figures f;
    while (in >> workload >> n >> f.median >> f.p95 >> f.drawCalls) {
        f.valid = true;
        out[workload + std::to_string(n)] = f;
    }
    std::remove(file.c_str());
    return out;
}

}  // namespace

constexpr const char* kTunables =
    "glibc.malloc.mmap_threshold=268435456:glibc.malloc.trim_threshold=1073741824";

int main(int argc, char** argv) {
    bool asIs = false;
    for (int i = 1; i < argc; ++i) asIs = asIs || std::string(argv[i]) == "--malloc-as-is";
    if (!asIs && !std::getenv("GLIBC_TUNABLES")) {
        setenv("GLIBC_TUNABLES", kTunables, 1);
        execv("/proc/self/exe", argv);  // glibc reads its tunables at start-up only
    }
    bool quick = false, love = true;
    std::string only;
    int onlyCount = 0;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "--quick") quick = true;
        if (a == "--no-love") love = false;
        if (a == "--only" && i + 2 < argc) {
            only = argv[++i];
            onlyCount = std::atoi(argv[++i]);
        }
    }
    std::string error;
    auto context = plat::gl::HeadlessContext::create(kWidth, kHeight, plat::gl::Api::ES2, &error);
    if (!context) {
        std::fprintf(stderr, "bench_es2: no GL context: %s\n", error.c_str());
        return 1;
    }
    context->makeCurrent();
    dktest::setUpRenderer(dktest::Renderer::ES2Batched, kWidth, kHeight);

    if (!only.empty()) {  // one workload through the engine alone, for profiling
        Figures f = runEngine(only, onlyCount, 300, true);
        std::printf(
            "%s %d: %.2f / %.2f ms, %.0f draw calls, %.2f ms cpu (%.2f writes and compute, %.2f render)\n",
            only.c_str(), onlyCount, f.median, f.p95, f.drawCalls, f.cpu, f.graphCpu, f.cpu - f.graphCpu);
        return 0;
    }
    std::vector<int> counts = {1000, 5000, 20000};
    auto framesFor = [&](int n) { return quick ? 10 : n >= 20000 ? 60 : 120; };
    std::map<std::string, Figures> loveFigures;
    if (love) loveFigures = runLove(counts, quick ? 10 : 120);

    std::printf(
        "the engine column drives the scene graph from C++ (no Lua); bench/lua-frame runs the game's "
        "way, from an engine script\n");
    std::printf("malloc tunables: %s\n",
                std::getenv("GLIBC_TUNABLES") ? std::getenv("GLIBC_TUNABLES") : "as is");
    std::printf(
        "320x240 on %s; milliseconds per frame (median / p95), draw calls per frame, main-thread CPU ms\n"
        "(engine: all, then the part spent in port writes and the scene's compute)\n",
        reinterpret_cast<const char*>(glGetString(GL_RENDERER)));
    std::printf("%-10s %6s | %-31s | %-15s | %-15s | %-19s | %9s %9s\n", "workload", "n", "engine (batched)",
                "one call/sprite", "floor", "LOVE", "/floor", "/LOVE");
    for (const char* workload : kWorkloads) {
        for (int n : counts) {
            Figures engine = runEngine(workload, n, framesFor(n), true);
            Figures single =
                runEngine(workload, n, n >= 20000 ? std::max(5, framesFor(n) / 6) : framesFor(n), false);
            Figures floor = runFloor(workload, n, framesFor(n));
            Figures lv = loveFigures[std::string(workload) + std::to_string(n)];
            char loveText[64] = "-", loveRatio[16] = "-";
            if (lv.valid) {
                std::snprintf(loveText, sizeof loveText, "%6.2f / %6.2f %4.0f", lv.median, lv.p95,
                              lv.drawCalls);
                std::snprintf(loveRatio, sizeof loveRatio, "%.2f", engine.median / lv.median);
            }
            std::printf(
                "%-10s %6d | %6.2f / %6.2f %5.0f %5.2f %5.2f | %6.2f %6.0f | %6.2f %2.0f %4.2f | %-19s | "
                "%9.2f "
                "%9s\n",
                workload, n, engine.median, engine.p95, engine.drawCalls, engine.cpu, engine.graphCpu,
                single.median, single.drawCalls, floor.median, floor.drawCalls, floor.cpu, loveText,
                engine.median / floor.median, loveRatio);
            std::fflush(stdout);
        }
    }
    return 0;
}
