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

#include "platform/gl/HeadlessGL.h"
#include "tests/render/RenderHarness.h"

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

struct Layout {
    std::vector<float> x, y, phase;
    explicit Layout(int n) {
        double state = 12345;
        auto rnd = [&] {
            state = std::fmod(state * 1664525.0 + 1013904223.0, 4294967296.0);
            return state / 4294967296.0;
        };
        for (int i = 0; i < n; ++i) {
            x.push_back(static_cast<float>(rnd() * kWidth));
            y.push_back(static_cast<float>(rnd() * kHeight));
            phase.push_back(static_cast<float>(rnd() * 6.2831853));
        }
    }
};

GLuint makeTexture() {
    std::vector<uint8_t> out;
    for (int py = 0; py < kSprite; ++py)
        for (int px = 0; px < kSprite; ++px) {
            double a = std::clamp(1.0 - std::hypot(px - 3.5, py - 3.5) / 4.0, 0.0, 1.0);
            for (double v : {px / 7.0, py / 7.0, 1.0, a})
                out.push_back(static_cast<uint8_t>(std::floor(v * 255 + 0.5)));
        }
    GLuint name = dktest::makeTexture(kSprite, kSprite, out.data(), {.linear = true}).texture;
    glBindTexture(GL_TEXTURE_2D, name);
    return name;
}

GLuint makeProgram() {
    const char* vs =
        "attribute vec2 p; attribute vec2 uv; attribute vec4 c; varying vec2 v_uv; varying vec4 v_c;\n"
        "void main() { v_uv = uv; v_c = c; gl_Position = vec4(p.x / 160.0 - 1.0, p.y / 120.0 - 1.0, 0.0, "
        "1.0); }";
    const char* fs =
        "precision mediump float; uniform sampler2D t; varying vec2 v_uv; varying vec4 v_c;\n"
        "void main() { gl_FragColor = texture2D(t, v_uv) * v_c; }";
    GLuint program = glCreateProgram();
    for (auto [type, src] : {std::pair{GL_VERTEX_SHADER, vs}, std::pair{GL_FRAGMENT_SHADER, fs}}) {
        GLuint sh = glCreateShader(type);
        glShaderSource(sh, 1, &src, nullptr);
        glCompileShader(sh);
        glAttachShader(program, sh);
        glDeleteShader(sh);
    }
    glBindAttribLocation(program, 0, "p");
    glBindAttribLocation(program, 1, "uv");
    glBindAttribLocation(program, 2, "c");
    glLinkProgram(program);
    return program;
}

double percentile(std::vector<double> v, int p) {
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, v.size() * static_cast<size_t>(p) / 100)];
}

void run(FILE* out, const std::string& workload, int n, int frames, int warmup) {
    Layout layout(n);
    std::vector<float> v(static_cast<size_t>(n) * 4 * 8);
    std::vector<uint32_t> indices;
    for (int i = 0; i < n; ++i)
        for (int k : {0, 1, 2, 2, 1, 3}) indices.push_back(static_cast<uint32_t>(i * 4 + k));
    GLuint elements = 0;
    glGenBuffers(1, &elements);
    glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, elements);
    glBufferData(GL_ELEMENT_ARRAY_BUFFER, static_cast<GLsizeiptr>(indices.size() * 4), indices.data(),
                 GL_STATIC_DRAW);
    glVertexAttribPointer(0, 2, GL_FLOAT, GL_FALSE, 32, v.data());
    glVertexAttribPointer(1, 2, GL_FLOAT, GL_FALSE, 32, v.data() + 2);
    glVertexAttribPointer(2, 4, GL_FLOAT, GL_FALSE, 32, v.data() + 4);
    auto quad = [&](int i, float x, float y, float half, float angle, const float(&c)[4]) {
        float s = std::sin(angle), co = std::cos(angle);
        const float corner[4][4] = {{-1, 1, 0, 1}, {1, 1, 1, 1}, {-1, -1, 0, 0}, {1, -1, 1, 0}};
        float* o = v.data() + static_cast<size_t>(i) * 32;
        for (const auto& k : corner) {
            float dx = k[0] * half, dy = k[1] * half;
            const float vertex[8] = {
                x + dx * co - dy * s, y + dx * s + dy * co, k[2], k[3], c[0], c[1], c[2], c[3]};
            o = std::copy(std::begin(vertex), std::end(vertex), o);
        }
    };
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
        float t = static_cast<float>(f) / 60.0f;
        if (f == 0 || workload != "static") {
            const float white[4] = {1, 1, 1, rotated ? 0.5f : 1.0f};
            for (int i = 0; i < n; ++i) {
                if (workload == "particles") {
                    // Quads of the particles' sizes and colours along one trajectory.
                    float age = std::fmod(t + 3.0f * static_cast<float>(i) / static_cast<float>(n), 2.25f);
                    float k = std::min(age / 2, 1.0f);
                    const float c[4] = {1, 0.8f - 0.6f * k, 0.2f - 0.1f * k, 1 - k};
                    quad(i, 160, 60 + age * (80 - 20 * age), 6, 0, c);
                } else if (workload == "moving") {
                    quad(i, layout.x[i] + 20 * std::sin(t + layout.phase[i]),
                         layout.y[i] + 20 * std::cos(t + layout.phase[i]), 4, 0, white);
                } else {
                    quad(i, layout.x[i], layout.y[i], 4, rotated ? layout.phase[i] + f * 0.0349066f : 0,
                         white);
                }
            }
        }
        glClearColor(0.1f, 0.1f, 0.2f, 1);
        glClear(GL_COLOR_BUFFER_BIT);
        auto draw = [&](int first, int count) {
            glDrawElements(GL_TRIANGLES, count * 6, GL_UNSIGNED_INT,
                           reinterpret_cast<const void*>(static_cast<uintptr_t>(first) * 24));
        };
        if (rotated) {
            glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
            draw(0, (n + 1) / 2);
            glBlendFunc(GL_SRC_ALPHA, GL_ONE);
            draw((n + 1) / 2, n / 2);
            glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
        } else {
            draw(0, n);
        }
        glFinish();
    }
    glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, 0);
    glDeleteBuffers(1, &elements);
    std::fprintf(out, "%s %d %.4f %.4f %.4f\n", workload.c_str(), n, percentile(times, 50),
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
    GLuint program = makeProgram();
    glUseProgram(program);
    GLuint texture = makeTexture();
    for (int i = 0; i < 3; ++i) glEnableVertexAttribArray(i);
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
