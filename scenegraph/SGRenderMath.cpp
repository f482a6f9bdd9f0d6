#include "scenegraph/SGRenderMath.h"

#include <GLES2/gl2.h>

#include <cmath>

uint32_t SGCurrentSourceFactor = GL_SRC_ALPHA;
uint32_t SGCurrentDestFactor = GL_ONE_MINUS_SRC_ALPHA;

SGBlendFactors SGBlendFactorsForMode(int32_t mode, bool premultiplied) {
    GLenum alphaSource = premultiplied ? GL_ONE : GL_SRC_ALPHA;
    switch (mode) {
        case SGBlendModeCopy:
            return {GL_ONE, GL_ZERO};
        case SGBlendModeAdd:
            return {alphaSource, GL_ONE};
        case SGBlendModeScreen:
            return {alphaSource, GL_ONE_MINUS_SRC_COLOR};
        case SGBlendModeMultiply:
            return {GL_ZERO, GL_SRC_COLOR};
        default:
            return {alphaSource, GL_ONE_MINUS_SRC_ALPHA};
    }
}

void SGSetBlendFactors(SGBlendFactors factors) {
    if (factors.source == SGCurrentSourceFactor && factors.dest == SGCurrentDestFactor) return;
    glBlendFunc(factors.source, factors.dest);
    SGCurrentSourceFactor = factors.source;
    SGCurrentDestFactor = factors.dest;
}

void SGSetBlendMode(int32_t mode, int premultiplied) {
    SGSetBlendFactors(SGBlendFactorsForMode(mode, premultiplied != 0));
}

void SGResetBlendMode() {
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    SGCurrentSourceFactor = GL_SRC_ALPHA;
    SGCurrentDestFactor = GL_ONE_MINUS_SRC_ALPHA;
}

namespace dk::scenegraph {

void sinCosDegrees(float degrees, float& s, float& c) {
    float d = static_cast<float>(std::fmod(static_cast<double>(degrees), 360.0));
    double r = d * 0.017453292519943295;
    s = static_cast<float>(std::sin(r));
    c = static_cast<float>(std::cos(r));
}

namespace {

// Writes corner offsets (dx, dy) of the listed corners, rotated about (x, y).
template <int N>
void rotateCorners(float x, float y, float angle, const float (&offsets)[N][2], float* out, unsigned stride) {
    if (angle == 0.0f) {
        for (int k = 0; k < N; ++k) {
            out[k * stride] = x + offsets[k][0];
            out[k * stride + 1] = y + offsets[k][1];
        }
        return;
    }
    float theta = static_cast<float>(std::fmod(static_cast<double>(-angle), 360.0));
    double r = theta * 0.017453292519943295;
    float c = static_cast<float>(std::cos(r));
    float s = static_cast<float>(std::sin(r));
    for (int k = 0; k < N; ++k) {
        float dx = offsets[k][0], dy = offsets[k][1];
        out[k * stride] = x + dx * c + dy * s;
        out[k * stride + 1] = y - dx * s + dy * c;
    }
}

}  // namespace

void rotate4(float x, float y, float hw, float hh, float angle, float* out, unsigned short stride) {
    const float corners[4][2] = {{-hw, hh}, {hw, hh}, {-hw, -hh}, {hw, -hh}};
    rotateCorners(x, y, angle, corners, out, stride ? stride : 2);
}

void rotate6(float x, float y, float hw, float hh, float angle, float* out, unsigned short stride) {
    const float corners[6][2] = {{-hw, hh}, {-hw, hh}, {hw, hh}, {-hw, -hh}, {hw, -hh}, {hw, -hh}};
    rotateCorners(x, y, angle, corners, out, stride);
}

ReplicatorStep replicatorStep(float spacing, float angle) {
    ReplicatorStep step{spacing, 0, 0};
    sinCosDegrees(angle, step.s, step.c);
    return step;
}

int wrapShifts(bool wrapX, bool wrapY, float x, float y, float wrapWidth, float wrapHeight,
               Offset (&out)[3]) {
    float dx = x >= wrapWidth / 2 ? -wrapWidth : wrapWidth;
    float dy = y >= wrapHeight / 2 ? -wrapHeight : wrapHeight;
    int n = 0;
    if (wrapX) out[n++] = {dx, 0.0f};
    if (wrapY) out[n++] = {0.0f, dy};
    if (wrapX && wrapY) out[n++] = {dx, dy};
    return n;
}

}  // namespace dk::scenegraph
