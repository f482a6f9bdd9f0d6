// The ES2 renderer's particle path: each system as triangle strips of stitched quads, up to
// kParticlesPerBatch particles a call, coloured per vertex.
#include <algorithm>
#include <cstring>
#include <vector>

#include "scenegraph/es2/ES2Batch.h"
#include "scenegraph/es2/ES2StateCache.h"
#include "scenegraph/es2/SGRenderManagerES2.h"
#include "scenegraph/nodes/SGParticleSystemNode.h"

using namespace dk::scenegraph::es2;

namespace {

constexpr int kParticlesPerBatch = 5000;

// Writes one particle's six stitched vertices (see rotate6) into a strip: the first particle of a
// batch leaves out its leading repeat, the last its trailing one.
void setParticleVertices(float* out, const SGParticleState& p, const float* texCoords, bool first,
                         bool last) {
    const int size = texCoords ? 8 : 6;
    float v[6 * 8] = {};
    dk::scenegraph::rotate6(p.x, p.y, p.width / 2, p.height / 2, p.angle, v,
                            static_cast<unsigned short>(size));
    for (int k = 1; k <= 4; ++k) {
        float* vertex = v + k * size;
        if (texCoords) {
            vertex[2] = texCoords[(k - 1) * 2];
            vertex[3] = texCoords[(k - 1) * 2 + 1];
        }
        std::memcpy(vertex + size - 4, &p.color.r, sizeof(float) * 4);
    }
    const float* from = first ? v + size : v;
    float* to = first ? out : out - size;
    int count = (first ? 5 : 6) - (last ? 1 : 0);
    std::memcpy(to, from, sizeof(float) * static_cast<size_t>(count * size));
}

std::vector<float>& particleVertices() {
    static std::vector<float> buffer;  // reused from batch to batch and frame to frame
    return buffer;
}

}  // namespace

void SGRenderManagerES2::releaseParticleVertices() {
    particleVertices() = std::vector<float>{};
}

void SGRenderManagerES2::drawParticleSystem(SGRenderNode* node) {
    flushBatch();
    auto* system = static_cast<SGParticleSystemNode*>(node);
    float t = system->time.numberValue();
    int32_t mode = system->blendingMode.intValue();
    bool textured = system->textured();
    const SGImage& image = system->emitterImage;
    SGSetBlendMode(mode, textured && image.premultiplied != 0);
    bindTexture(textured ? image.texture : programs().whiteTexture);
    if (system->particleCount <= 0 || !system->particles) return;

    bool spawn = system->spawnParticles.boolValue();
    const SGTextureRect& tr = image.textureRect;
    const float texCoords[8] = {tr.x0, tr.y1, tr.x1, tr.y1, tr.x0, tr.y0, tr.x1, tr.y0};
    const int size = textured ? 8 : 6;
    std::vector<float>& buffer = particleVertices();
    for (int32_t start = 0; start < system->particleCount; start += kParticlesPerBatch) {
        int n = std::min(kParticlesPerBatch, system->particleCount - start);
        int vertexCount = 6 * n - 2;
        buffer.assign(static_cast<size_t>(vertexCount * size), 0.0f);
        for (int k = 0; k < n; ++k) {
            SGParticleState p = system->advanceParticle(system->particles[start + k], t, spawn);
            if (p.kind != SGParticleState::Alive) continue;  // zeroed: degenerate triangles
            setParticleVertices(buffer.data() + 6 * k * size, p, textured ? texCoords : nullptr, k == 0,
                                k == n - 1);
        }
        useProgram(programs().program);
        uploadIfChanged(programs().modelLoc, stateCache().model, kIdentity4);
        drawArrays(GL_TRIANGLE_STRIP, vertexCount, buffer.data(), textured, true);
    }
}
