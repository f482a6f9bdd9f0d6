#include "scenegraph/es2/SGRenderManagerES2.h"

#include <EGL/egl.h>

#include <algorithm>
#include <memory>

#include "scenegraph/es2/ES2Batch.h"
#include "scenegraph/es2/ES2Programs.h"
#include "scenegraph/es2/ES2StateCache.h"
#include "scenegraph/nodes/SGClearNode.h"

using namespace dk::scenegraph::es2;

namespace {

EGLContext& setUpContext() {
    static EGLContext context = EGL_NO_CONTEXT;  // the context the GL objects belong to
    return context;
}

bool needsSetUp() {
    EGLContext context = eglGetCurrentContext();
    return context != EGL_NO_CONTEXT && (setUpContext() != context || programs().program == kNeverSetUp);
}

}  // namespace

SGRenderManagerES2::SGRenderManagerES2() : m_quads(std::make_unique<QuadStore>()) {
    if (needsSetUp()) setUpGL();
}

SGRenderManagerES2::~SGRenderManagerES2() {
    dropBatchOf(*m_quads);
}

void SGRenderManagerES2::install() {
    SGSetRenderManagerMaker(SGRenderAPI::ES2, [] { return std::make_unique<SGRenderManagerES2>(); });
    SGSetTextureDeletedHandler(&SGRenderManagerES2::textureDeleted);
    SGSetRendererRelease(SGRenderAPI::ES2, &SGRenderManagerES2::release);
}

void SGRenderManagerES2::setUpGL() {
    install();
    EGLContext context = eglGetCurrentContext();
    if (context == EGL_NO_CONTEXT) return;
    Programs& p = programs();
    // The objects of an earlier call are kept while they still exist in this context; a new
    // context (whose names mean nothing for the old objects) gets its own.
    bool keep = setUpContext() == context && usable(p.program) && glIsProgram(p.program) &&
                glIsTexture(p.whiteTexture);
    setUpContext() = context;
    if (!keep) buildPrograms();
    if (!usable(p.program)) return;
    resetState();
    resetBatch();
}

void SGRenderManagerES2::release() {
    EGLContext& context = setUpContext();
    releasePrograms(context != EGL_NO_CONTEXT && eglGetCurrentContext() == context);
    context = EGL_NO_CONTEXT;
    // The draw count is the benchmark's, read as differences: it goes on.
    uint64_t drawCalls = stateCache().drawCalls;
    stateCache() = StateCache{};
    stateCache().drawCalls = drawCalls;
    resetBatch();
    releaseParticleVertices();
}

void SGRenderManagerES2::textureDeleted(uint32_t texture) {
    if (stateCache().texture == texture) stateCache().texture = 0;
    batchTextureDeleted(texture);
}

void SGRenderManagerES2::setBatching(bool on) {
    setBatchingOn(on);
}

uint64_t SGRenderManagerES2::drawCallCount() {
    return stateCache().drawCalls;
}

void SGRenderManagerES2::setOffsets(std::vector<Offset> offsets) {
    m_offsets = std::move(offsets);
    m_offsetsChanged = true;
}

void SGRenderManagerES2::unregisterNode(SGRenderNode* node) {
    SGRenderManagerBase::unregisterNode(node);
    m_quads->forget();
    const auto& list = drawList();
    if (std::find(list.begin(), list.end(), node) == list.end()) m_caches.erase(node);
}

void SGRenderManagerES2::unregisterAllNodes() {
    SGRenderManagerBase::unregisterAllNodes();
    m_quads->forget();
    m_caches.clear();
}

void SGRenderManagerES2::render() {
    if (batchingActive()) m_quads->beginFrame(drawList().size());
    renderDrawList();
    flushBatch();
    m_offsetsChanged = false;
}

void SGRenderManagerES2::drawArrays(uint32_t mode, int count, const float* vertices, bool hasTexCoords,
                                    bool hasColors) {
    flushBatch();
    useProgram(programs().program);
    GLsizei stride = static_cast<GLsizei>(sizeof(float) * (2 + (hasTexCoords ? 2 : 0) + (hasColors ? 4 : 0)));
    pointAttribute(Position, 2, stride, vertices);
    if (hasTexCoords)
        pointAttribute(TexCoord, 2, stride, vertices + 2);
    else
        disableAttribute(TexCoord);  // the constant (0, 0) applies
    if (hasColors)
        pointAttribute(Color, 4, stride, vertices + stride / sizeof(float) - 4);
    else
        disableAttribute(Color);  // the constant colour applies
    drawAtOffsets(mode, count, m_offsets, programs().spaceTransLoc, stateCache().spaceTrans);
}

void SGRenderManagerES2::drawClear(SGRenderNode* node) {
    flushBatch();
    setClearColor(static_cast<SGClearNode*>(node)->color.colorValue());
    glClear(GL_COLOR_BUFFER_BIT);
}

extern "C" void SGRenderManagerES2_setUpGL() {
    SGRenderManagerES2::setUpGL();
}
