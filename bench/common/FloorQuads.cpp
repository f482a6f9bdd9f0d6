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

void FloorQuads::draw(int first, int count) const {
    glDrawElements(GL_TRIANGLES, count * 6, GL_UNSIGNED_INT,
                   reinterpret_cast<const void*>(static_cast<uintptr_t>(first) * 24));
}

}  // namespace dk::bench
