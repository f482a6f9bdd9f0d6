// The one-draw GL floor of the lua-frame scenes: the same 8x8 quads as frame.lua and love/main.lua
// draws, corners computed directly, one minimal program, one draw call per blend state, each frame
// finished (glFinish) before the next. Same environment variables and result lines as frame.lua.
#include <GLES2/gl2.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <sstream>
#include <string>
#include <vector>

#include "bench/common/FloorQuads.h"
#include "platform/gl/HeadlessGL.h"

namespace {

constexpr int kWidth = 320, kHeight = 240, kSprite = 8;

double now(clockid_t clock) {
    timespec ts;
    clock_gettime(clock, &ts);
    return static_cast<double>(ts.tv_sec) * 1e3 + static_cast<double>(ts.tv_nsec) / 1e6;
}

std::string env(const char* name, const char* fallback) {
    const char* v = std::getenv(name);
    return v ? v : fallback;
}

double percentile(std::vector<double> v, int p) {
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, v.size() * static_cast<size_t>(p) / 100)];
}

void run(FILE* out, const std::string& workload, int n, int frames, int warmup) {
    dk::bench::SpriteLayout layout(n, kWidth, kHeight);
    dk::bench::FloorQuads quads(n);
    std::vector<double> times, cpus;
    double lastWall = 0, lastCpu = 0;
    const bool rotated = workload == "rotated";
    for (int f = 0; f <= warmup + frames; ++f) {
        double wall = now(CLOCK_MONOTONIC), cpu = now(CLOCK_PROCESS_CPUTIME_ID);
        if (f > warmup) {
            times.push_back(wall - lastWall);
            cpus.push_back(cpu - lastCpu);
        }
        lastWall = wall;
        lastCpu = cpu;
        if (f == warmup + frames) break;
        quads.place(workload, layout, f, 4, 0.0349066f);
        quads.drawFrame(rotated, (n + 1) / 2);
        glFinish();
    }
    std::fprintf(out, "%s %d %.4f %.4f %.4f 0\n", workload.c_str(), n, percentile(times, 50),
                 percentile(times, 95), percentile(cpus, 50));
    std::fflush(out);
}

}  // namespace

int main() {
    std::string error;
    auto context = plat::gl::HeadlessContext::create(kWidth, kHeight, plat::gl::Api::ES2, &error);
    if (!context) {
        std::fprintf(stderr, "lua_frame_floor: no GL context: %s\n", error.c_str());
        return 1;
    }
    context->makeCurrent();
    FILE* out = std::fopen(env("LF_OUT", "/dev/stdout").c_str(), "w");
    if (!out) return 1;
    glViewport(0, 0, kWidth, kHeight);
    glEnable(GL_BLEND);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    GLuint program = dk::bench::useFloorProgram();
    GLuint texture = dk::bench::makeSpriteTexture(kSprite);
    int frames = std::atoi(env("LF_FRAMES", "30").c_str()), warmup = std::atoi(env("LF_WARMUP", "5").c_str());
    std::istringstream workloads(env("LF_WORKLOADS", "static moving rotated particles"));
    for (std::string workload; workloads >> workload;) {
        std::istringstream counts(env("LF_COUNTS", "1000"));
        for (int n; counts >> n;) run(out, workload, n, frames, warmup);
    }
    std::fclose(out);
    glDeleteTextures(1, &texture);
    glDeleteProgram(program);
    return 0;
}
