#include "bench/common/FloorQuads.h"

#include <algorithm>
#include <cmath>
#include <utility>

#include "tests/render/RenderHarness.h"

namespace dk::bench {

SpriteLayout::SpriteLayout(int n, int width, int height) {
    double state = 12345;
    auto rnd = [&] {
        state = std::fmod(state * 1664525.0 + 1013904223.0, 4294967296.0);
        return state / 4294967296.0;
    };
    for (int i = 0; i < n; ++i) {
        x.push_back(static_cast<float>(rnd() * width));
        y.push_back(static_cast<float>(rnd() * height));
        phase.push_back(static_cast<float>(rnd() * 6.2831853));
    }
}

std::vector<uint8_t> spritePixels(int side) {
    std::vector<uint8_t> out;
    const double centre = (side - 1) / 2.0, last = side - 1;
    for (int py = 0; py < side; ++py)
        for (int px = 0; px < side; ++px) {
            double a = std::clamp(1.0 - std::hypot(px - centre, py - centre) / (side / 2.0), 0.0, 1.0);
            for (double v : {px / last, py / last, 1.0, a})
                out.push_back(static_cast<uint8_t>(std::floor(v * 255 + 0.5)));
        }
    return out;
}

GLuint makeSpriteTexture(int side) {
    std::vector<uint8_t> pixels = spritePixels(side);
    GLuint name = dktest::makeTexture(side, side, pixels.data(), {.linear = true}).texture;
    glBindTexture(GL_TEXTURE_2D, name);
    return name;
}

GLuint useFloorProgram() {
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
    glUseProgram(program);
    return program;
}

FloorQuads::FloorQuads(int n) : m_vertices(static_cast<size_t>(n) * 4 * 8) {
    std::vector<uint32_t> indices;
    for (int i = 0; i < n; ++i)
        for (int k : {0, 1, 2, 2, 1, 3}) indices.push_back(static_cast<uint32_t>(i * 4 + k));
    glGenBuffers(1, &m_elements);
    glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, m_elements);
    glBufferData(GL_ELEMENT_ARRAY_BUFFER, static_cast<GLsizeiptr>(indices.size() * 4), indices.data(),
                 GL_STATIC_DRAW);
    for (int i = 0; i < 3; ++i) glEnableVertexAttribArray(i);
    glVertexAttribPointer(0, 2, GL_FLOAT, GL_FALSE, 32, m_vertices.data());
    glVertexAttribPointer(1, 2, GL_FLOAT, GL_FALSE, 32, m_vertices.data() + 2);
    glVertexAttribPointer(2, 4, GL_FLOAT, GL_FALSE, 32, m_vertices.data() + 4);
}

FloorQuads::~FloorQuads() {
    glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, 0);
    glDeleteBuffers(1, &m_elements);
}

void FloorQuads::set(int i, float x, float y, float half, float angle, const float (&colour)[4]) {
    const float s = std::sin(angle), c = std::cos(angle);
    const float corner[4][4] = {{-1, 1, 0, 1}, {1, 1, 1, 1}, {-1, -1, 0, 0}, {1, -1, 1, 0}};
    float* out = m_vertices.data() + static_cast<size_t>(i) * 32;
    for (const auto& k : corner) {
        const float dx = k[0] * half, dy = k[1] * half;
        const float vertex[8] = {x + dx * c - dy * s, y + dx * s + dy * c, k[2],      k[3],
                                 colour[0],           colour[1],           colour[2], colour[3]};
        out = std::copy(std::begin(vertex), std::end(vertex), out);
    }
}

void FloorQuads::place(const std::string& workload, const SpriteLayout& layout, int frame, float half,
                       float spin) {
    if (frame != 0 && workload == "static") return;
    const int n = static_cast<int>(layout.x.size());
    const bool rotated = workload == "rotated";
    const float t = static_cast<float>(frame) / 60.0f;
    const float white[4] = {1, 1, 1, rotated ? 0.5f : 1.0f};
    for (int i = 0; i < n; ++i) {
        if (workload == "particles") {
            const float age = std::fmod(t + 3.0f * static_cast<float>(i) / static_cast<float>(n), 2.25f);
            const float k = std::min(age / 2, 1.0f);
            const float c[4] = {1, 0.8f - 0.6f * k, 0.2f - 0.1f * k, 1 - k};
            set(i, 160, 60 + age * (80 - 20 * age), 6, 0, c);
        } else if (workload == "moving") {
            set(i, layout.x[i] + 20 * std::sin(t + layout.phase[i]),
                layout.y[i] + 20 * std::cos(t + layout.phase[i]), half, 0, white);
        } else {
            set(i, layout.x[i], layout.y[i], half, rotated ? layout.phase[i] + frame * spin : 0, white);
        }
    }
}

int FloorQuads::drawFrame(bool rotated, int over) const {
    auto draw = [](int first, int count) {
        glDrawElements(GL_TRIANGLES, count * 6, GL_UNSIGNED_INT,
                       reinterpret_cast<const void*>(static_cast<uintptr_t>(first) * 24));
    };
    glClearColor(0.1f, 0.1f, 0.2f, 1);
    glClear(GL_COLOR_BUFFER_BIT);
    const int n = static_cast<int>(m_vertices.size() / 32);
    if (!rotated) {
        draw(0, n);
        return 1;
    }
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    draw(0, over);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE);
    draw(over, n - over);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    return 2;
}

}  // namespace dk::bench
