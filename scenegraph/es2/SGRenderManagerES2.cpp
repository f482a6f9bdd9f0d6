#include "scenegraph/es2/SGRenderManagerES2.h"

#include <EGL/egl.h>
#include <GLES2/gl2.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>

#include "scenegraph/SGColor.h"
#include "scenegraph/SGRenderMath.h"
#include "scenegraph/SGSpace.h"
#include "scenegraph/nodes/SGClearNode.h"
#include "scenegraph/nodes/SGParticleSystemNode.h"
#include "scenegraph/nodes/SGReplicatorNode.h"
#include "scenegraph/nodes/SGSpriteNode.h"

using dk::scenegraph::replicatorShift;
using dk::scenegraph::rotate6;
using dk::scenegraph::sincos_d;
using dk::scenegraph::wrapShifts;

namespace {

constexpr GLuint kNeverSetUp = static_cast<GLuint>(-2);
constexpr int kParticlesPerBatch = 5000;
// A replicator's copies multiply its parent's offsets; past this many the list is cut short
// rather than exhausting memory on a runaway "copies" value.
constexpr size_t kMaxOffsets = 1 << 16;

const char* const _vertexShaderCode =
    "precision highp float;\n"
    "uniform mat4 u_mvpMatrix;\n"
    "uniform mat4 u_spaceTransMatrix;\n"
    "uniform mat4 u_modelMatrix;\n"
    "attribute vec4 a_position;\n"
    "attribute mediump vec2 a_texCoord;\n"
    "attribute lowp vec4 a_color;\n"
    "varying mediump vec2 v_texCoord;\n"
    "varying lowp vec4 v_color;\n"
    "void main() {\n"
    "\tv_color = a_color;\n"
    "\tv_texCoord = a_texCoord;\n"
    "\tgl_Position = u_mvpMatrix * u_spaceTransMatrix * u_modelMatrix * a_position;\n"
    "}";

const char* const _fragmentShaderCode =
    "precision mediump float;\n"
    "uniform lowp sampler2D u_texture;\n"
    "varying vec2 v_texCoord;\n"
    "varying lowp vec4 v_color;\n"
    "void main() {\n"
    "\tgl_FragColor = texture2D(u_texture, v_texCoord) * v_color;\n"
    "}";

// The batch program: the model matrix of each sprite arrives per vertex as (cos, sin, x, y) and
// is rebuilt into the same matrix the uniform holds, multiplied in the same order, so positions
// (and so pixels) match the one-call-per-sprite program exactly.
const char* const batchVertexShaderCode =
    "precision highp float;\n"
    "uniform mat4 u_mvpMatrix;\n"
    "uniform mat4 u_spaceTransMatrix;\n"
    "attribute vec4 a_position;\n"
    "attribute mediump vec2 a_texCoord;\n"
    "attribute lowp vec4 a_color;\n"
    "attribute vec4 a_model;\n"
    "varying mediump vec2 v_texCoord;\n"
    "varying lowp vec4 v_color;\n"
    "void main() {\n"
    "\tmat4 model = mat4(a_model.x, a_model.y, 0.0, 0.0, -a_model.y, a_model.x, 0.0, 0.0,\n"
    "\t                  0.0, 0.0, 1.0, 0.0, a_model.z, a_model.w, 0.0, 1.0);\n"
    "\tv_color = a_color;\n"
    "\tv_texCoord = a_texCoord;\n"
    "\tgl_Position = u_mvpMatrix * u_spaceTransMatrix * model * a_position;\n"
    "}";

constexpr float identity4[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};

enum Attribute : GLuint { Position = 0, TexCoord = 1, Color = 2, Model = 3, AttributeCount = 4 };

// A batch vertex: position, texture coordinate, colour, model transform (cos, sin, x, y).
constexpr int kBatchFloats = 12;
// Batched quads are indexed triangles, four vertices each: 32-bit indices where the driver has
// them (one call for a whole frame of sprites), else 16-bit ones.
constexpr int kMaxBatchQuads = 65536;
constexpr int kMaxBatchQuadsShortIndices = 65536 / 4;

struct SharedState {
    EGLContext context = EGL_NO_CONTEXT;  // the context the objects below belong to
    GLuint _vertexShader = kNeverSetUp;
    GLuint _fragmentShader = kNeverSetUp;
    GLuint _program = kNeverSetUp;
    GLint _uMvpMatrixLoc = -1;
    GLint _uSpaceTransMatrixLoc = -1;
    GLint _uModelMatrixLoc = -1;
    GLint _uTextureLoc = -1;
    float _uMvpMatrix[16] = {};
    float _uSpaceTransMatrix[16] = {};
    float _uModelMatrix[16] = {};
    SGColor _currentColor = SGWhiteColor;
    GLuint _currentTexture = 0;
    GLuint _whiteTexture = 0;
    SGColor lastClearColor = SGBlackColor;

    // Attribute arrays: enabled flags and the pointer and stride last given. The stride is part
    // of the key: a freed buffer reused at the same address may come back with another layout.
    bool isArray[AttributeCount] = {};
    const void* address[AttributeCount] = {};
    GLsizei stride[AttributeCount] = {};

    GLuint currentProgram = 0;
    GLuint batchVertexShader = 0;
    GLuint batchProgram = 0;
    GLint batchMvpLoc = -1;
    GLint batchSpaceTransLoc = -1;
    float batchMvp[16] = {};
    float batchSpaceTrans[16] = {};
    GLuint quadIndices = 0;  // element buffer of the batch path's triangles
    GLenum quadIndexType = GL_UNSIGNED_SHORT;
    int maxBatchQuads = kMaxBatchQuadsShortIndices;

    bool batching = true;
    uint64_t drawCalls = 0;

    // The pending batch of sprite quads.
    std::vector<float> batch;
    int batchQuads = 0;
    GLuint batchTexture = 0;
    SGBlendFactors batchBlend{};
    const std::vector<SGRenderManagerES2::Offset>* batchOffsets = nullptr;

    std::vector<float> particleVertices;  // working memory of the particle path
};

SharedState& S() {
    static SharedState state;
    return state;
}

bool usable(GLuint program) {
    return program != 0 && program != kNeverSetUp;
}

void useProgram(GLuint program) {
    if (S().currentProgram == program) return;
    glUseProgram(program);
    S().currentProgram = program;
}

void bindTexture(GLuint texture) {
    if (S()._currentTexture == texture) return;
    glBindTexture(GL_TEXTURE_2D, texture);
    S()._currentTexture = texture;
}

void pointAttribute(GLuint index, GLint size, GLsizei stride, const float* pointer) {
    SharedState& s = S();
    if (s.address[index] != pointer || s.stride[index] != stride) {
        glVertexAttribPointer(index, size, GL_FLOAT, GL_FALSE, stride, pointer);
        s.address[index] = pointer;
        s.stride[index] = stride;
    }
    if (!s.isArray[index]) {
        glEnableVertexAttribArray(index);
        s.isArray[index] = true;
    }
}

void disableAttribute(GLuint index) {
    SharedState& s = S();
    if (!s.isArray[index]) return;
    glDisableVertexAttribArray(index);
    s.isArray[index] = false;
}

// Uploads a matrix uniform of the current program when it differs bytewise from its shadow.
void uploadIfChanged(GLint location, float* shadow, const float* value) {
    if (std::memcmp(shadow, value, sizeof(float) * 16) == 0) return;
    glUniformMatrix4fv(location, 1, GL_FALSE, value);
    std::memcpy(shadow, value, sizeof(float) * 16);
}

// One glDrawArrays per copy offset, moving the space transform of the current program.
void drawAtOffsets(GLenum mode, int count, const std::vector<SGRenderManagerES2::Offset>& offsets,
                   GLint spaceLocation, float* spaceShadow, bool indexed = false) {
    SharedState& s = S();
    for (const auto& [ox, oy] : offsets) {
        if (spaceShadow[12] != ox || spaceShadow[13] != oy) {
            spaceShadow[12] = ox;
            spaceShadow[13] = oy;
            glUniformMatrix4fv(spaceLocation, 1, GL_FALSE, spaceShadow);
        }
        if (indexed)
            glDrawElements(mode, count, s.quadIndexType, nullptr);
        else
            glDrawArrays(mode, 0, count);
        ++s.drawCalls;
    }
    // Geometry usually lives in the caller's stack frame: point attribute 0 again next time.
    s.address[Position] = nullptr;
}

GLuint compileShader(GLenum type, const char* source, const char* creationFailed, const char* compileFailed,
                     GLuint* store) {
    GLuint shader = glCreateShader(type);
    *store = shader;
    if (shader == 0) {
        std::fputs(creationFailed, stderr);
        return 0;
    }
    glShaderSource(shader, 1, &source, nullptr);
    glCompileShader(shader);
    GLint compiled = 0;
    glGetShaderiv(shader, GL_COMPILE_STATUS, &compiled);
    if (!compiled) {
        GLint length = 0;
        glGetShaderiv(shader, GL_INFO_LOG_LENGTH, &length);
        if (length >= 2) {
            std::vector<char> log(static_cast<size_t>(length));
            glGetShaderInfoLog(shader, length, nullptr, log.data());
            std::fprintf(stderr, compileFailed, log.data());
        }
        glDeleteShader(shader);
        return 0;
    }
    return shader;
}

GLuint linkProgram(GLuint vertexShader, GLuint fragmentShader, bool withModelAttribute, GLuint* store) {
    GLuint program = glCreateProgram();
    *store = program;
    if (program == 0) {
        std::fputs("program creation failed", stderr);
        return 0;
    }
    glAttachShader(program, vertexShader);
    glAttachShader(program, fragmentShader);
    glBindAttribLocation(program, Position, "a_position");
    glBindAttribLocation(program, TexCoord, "a_texCoord");
    glBindAttribLocation(program, Color, "a_color");
    if (withModelAttribute) glBindAttribLocation(program, Model, "a_model");
    glLinkProgram(program);
    GLint linked = 0;
    glGetProgramiv(program, GL_LINK_STATUS, &linked);
    if (!linked) {
        GLint length = 0;
        glGetProgramiv(program, GL_INFO_LOG_LENGTH, &length);
        if (length >= 2) {
            std::vector<char> log(static_cast<size_t>(length));
            glGetProgramInfoLog(program, length, nullptr, log.data());
            std::fprintf(stderr, "Error linking program: %s", log.data());
        }
        glDeleteProgram(program);
        *store = 0;
        return 0;
    }
    return program;
}

// Builds the programs and the white texture in the current context. A failed step leaves the
// renderer without a usable program (0) in this context.
void buildObjects() {
    SharedState& s = S();
    s._program = 0;
    s.batchProgram = 0;
    GLuint vs = compileShader(GL_VERTEX_SHADER, _vertexShaderCode, "vertex shader creation failed",
                              "Error compiling vertex shader: %s", &s._vertexShader);
    if (!vs) return;
    GLuint fs = compileShader(GL_FRAGMENT_SHADER, _fragmentShaderCode, "fragment shader creation failed",
                              "Error compiling fragment shader: %s", &s._fragmentShader);
    if (!fs) return;
    GLuint program = 0;
    if (!linkProgram(vs, fs, false, &program)) return;
    s._program = program;
    s._uMvpMatrixLoc = glGetUniformLocation(program, "u_mvpMatrix");
    s._uSpaceTransMatrixLoc = glGetUniformLocation(program, "u_spaceTransMatrix");
    s._uModelMatrixLoc = glGetUniformLocation(program, "u_modelMatrix");
    s._uTextureLoc = glGetUniformLocation(program, "u_texture");

    // Without the batch program every sprite is drawn by its own call.
    GLuint bvs = compileShader(GL_VERTEX_SHADER, batchVertexShaderCode, "vertex shader creation failed",
                               "Error compiling vertex shader: %s", &s.batchVertexShader);
    if (bvs && linkProgram(bvs, fs, true, &s.batchProgram)) {
        s.batchMvpLoc = glGetUniformLocation(s.batchProgram, "u_mvpMatrix");
        s.batchSpaceTransLoc = glGetUniformLocation(s.batchProgram, "u_spaceTransMatrix");
        glUseProgram(s.batchProgram);
        glUniform1i(glGetUniformLocation(s.batchProgram, "u_texture"), 0);
    }

    // Each quad's two triangles in the order a four-vertex strip draws them.
    const char* extensions = reinterpret_cast<const char*>(glGetString(GL_EXTENSIONS));
    bool wide = extensions && std::strstr(extensions, "GL_OES_element_index_uint");
    s.quadIndexType = wide ? GL_UNSIGNED_INT : GL_UNSIGNED_SHORT;
    s.maxBatchQuads = wide ? kMaxBatchQuads : kMaxBatchQuadsShortIndices;
    std::vector<uint32_t> wideIndices;
    std::vector<uint16_t> shortIndices;
    for (int q = 0; q < s.maxBatchQuads; ++q)
        for (int k : {0, 1, 2, 2, 1, 3}) {
            if (wide)
                wideIndices.push_back(static_cast<uint32_t>(q * 4 + k));
            else
                shortIndices.push_back(static_cast<uint16_t>(q * 4 + k));
        }
    glGenBuffers(1, &s.quadIndices);
    glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, s.quadIndices);
    if (wide)
        glBufferData(GL_ELEMENT_ARRAY_BUFFER, static_cast<GLsizeiptr>(wideIndices.size() * sizeof(uint32_t)),
                     wideIndices.data(), GL_STATIC_DRAW);
    else
        glBufferData(GL_ELEMENT_ARRAY_BUFFER, static_cast<GLsizeiptr>(shortIndices.size() * sizeof(uint16_t)),
                     shortIndices.data(), GL_STATIC_DRAW);
    glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, 0);

    glGenTextures(1, &s._whiteTexture);
    glBindTexture(GL_TEXTURE_2D, s._whiteTexture);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    const uint8_t white[4] = {255, 255, 255, 255};
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, 1, 1, 0, GL_RGBA, GL_UNSIGNED_BYTE, white);
}

// Puts GL into a known state and makes every cache say exactly that, so nothing cached survives
// a rebuild of the frame buffer (or whatever other code did to GL in between).
void resetState() {
    SharedState& s = S();
    static const float zeros[16] = {};
    if (usable(s.batchProgram)) {
        glUseProgram(s.batchProgram);
        glUniformMatrix4fv(s.batchMvpLoc, 1, GL_FALSE, zeros);
        glUniformMatrix4fv(s.batchSpaceTransLoc, 1, GL_FALSE, identity4);
        std::memcpy(s.batchMvp, zeros, sizeof zeros);
        std::memcpy(s.batchSpaceTrans, identity4, sizeof identity4);
    }
    glUseProgram(s._program);
    s.currentProgram = s._program;
    // A freshly linked program holds zeros; a kept one is put back to that.
    glUniformMatrix4fv(s._uMvpMatrixLoc, 1, GL_FALSE, zeros);
    glUniformMatrix4fv(s._uSpaceTransMatrixLoc, 1, GL_FALSE, identity4);
    glUniformMatrix4fv(s._uModelMatrixLoc, 1, GL_FALSE, identity4);
    std::memcpy(s._uMvpMatrix, zeros, sizeof zeros);
    std::memcpy(s._uSpaceTransMatrix, identity4, sizeof identity4);
    std::memcpy(s._uModelMatrix, identity4, sizeof identity4);
    glUniform1i(s._uTextureLoc, 0);
    glVertexAttrib4f(Color, 1, 1, 1, 1);
    glVertexAttrib2f(TexCoord, 0, 0);
    s._currentColor = SGWhiteColor;
    for (GLuint i = 0; i < AttributeCount; ++i) {
        glDisableVertexAttribArray(i);
        s.isArray[i] = false;
        s.address[i] = nullptr;
        s.stride[i] = 0;
    }
    glActiveTexture(GL_TEXTURE0);
    glBindTexture(GL_TEXTURE_2D, s._whiteTexture);
    s._currentTexture = 0;
    s.lastClearColor = SGBlackColor;
    glClearColor(SGBlackColor.r, SGBlackColor.g, SGBlackColor.b, SGBlackColor.a);
    SGResetBlendMode();
    s.batch.clear();
    s.batchQuads = 0;
}

bool needsSetUp() {
    EGLContext context = eglGetCurrentContext();
    return context != EGL_NO_CONTEXT && (S().context != context || S()._program == kNeverSetUp);
}

bool sameColor(const SGColor& a, const SGColor& b) {
    return std::memcmp(&a, &b, sizeof(SGColor)) == 0;
}

}  // namespace

// A sprite's quad: corners relative to its centre (top-left, top-right, bottom-left,
// bottom-right) with their texture coordinates, and what draws it.
struct SGRenderManagerES2::Quad {
    float corners[4][4];  // x, y, u, v
    SGColor color;
    float x, y, angle;
    GLuint texture;
    SGBlendFactors blend;
};

SGRenderManagerES2::SGRenderManagerES2() {
    if (needsSetUp()) setUpGL();
}

SGRenderManagerES2::~SGRenderManagerES2() = default;

void SGRenderManagerES2::install() {
    SGSetRenderManagerMaker(SGRenderAPI::ES2, [] { return std::make_unique<SGRenderManagerES2>(); });
    SGSetTextureDeletedHandler(&SGRenderManagerES2::textureDeleted);
}

void SGRenderManagerES2::setUpGL() {
    install();
    EGLContext context = eglGetCurrentContext();
    if (context == EGL_NO_CONTEXT) return;
    SharedState& s = S();
    // The objects of an earlier call are kept while they still exist in this context; a new
    // context (whose names mean nothing for the old objects) gets its own.
    bool keep =
        s.context == context && usable(s._program) && glIsProgram(s._program) && glIsTexture(s._whiteTexture);
    s.context = context;
    if (!keep) buildObjects();
    if (usable(s._program)) resetState();
}

void SGRenderManagerES2::textureDeleted(uint32_t texture) {
    if (S()._currentTexture == texture) S()._currentTexture = 0;
    if (S().batchTexture == texture) S().batchTexture = 0;
}

void SGRenderManagerES2::setBatching(bool on) {
    S().batching = on;
}

bool SGRenderManagerES2::batching() {
    return S().batching;
}

uint64_t SGRenderManagerES2::drawCallCount() {
    return S().drawCalls;
}

void SGRenderManagerES2::setOffsets(std::vector<Offset> offsets) {
    offsets_ = std::move(offsets);
    offsetsChanged_ = true;
}

void SGRenderManagerES2::unregisterNode(SGRenderNode* node) {
    SGRenderManagerBase::unregisterNode(node);
    const auto& list = drawList();
    if (std::find(list.begin(), list.end(), node) == list.end()) caches_.erase(node);
}

void SGRenderManagerES2::unregisterAllNodes() {
    SGRenderManagerBase::unregisterAllNodes();
    caches_.clear();
}

namespace {

// Draws the pending batch of sprite quads in one call per copy offset.
void flushBatch() {
    SharedState& s = S();
    if (s.batchQuads == 0) return;
    useProgram(s.batchProgram);
    SGSetBlendFactors(s.batchBlend);
    bindTexture(s.batchTexture);
    uploadIfChanged(s.batchMvpLoc, s.batchMvp, s._uMvpMatrix);
    const float* v = s.batch.data();
    constexpr GLsizei stride = kBatchFloats * sizeof(float);
    pointAttribute(Position, 2, stride, v);
    pointAttribute(TexCoord, 2, stride, v + 2);
    pointAttribute(Color, 4, stride, v + 4);
    pointAttribute(Model, 4, stride, v + 8);
    // Bound for this call only: the element buffer binding is no part of the cached state.
    glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, s.quadIndices);
    drawAtOffsets(GL_TRIANGLES, s.batchQuads * 6, *s.batchOffsets, s.batchSpaceTransLoc, s.batchSpaceTrans,
                  true);
    glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, 0);
    // The main program does not read it, but an enabled array must never point at freed memory.
    disableAttribute(Model);
    s.batch.clear();
    s.batchQuads = 0;
}

}  // namespace

void SGRenderManagerES2::render() {
    renderDrawList();
    flushBatch();
    offsetsChanged_ = false;
}

void SGRenderManagerES2::drawArrays(uint32_t mode, int count, const float* vertices, bool hasTexCoords,
                                    bool hasColors) {
    flushBatch();
    useProgram(S()._program);
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
    drawAtOffsets(mode, count, offsets_, S()._uSpaceTransMatrixLoc, S()._uSpaceTransMatrix);
}

void SGRenderManagerES2::drawClear(SGRenderNode* node) {
    flushBatch();
    SGColor color = static_cast<SGClearNode*>(node)->color.colorValue();
    SharedState& s = S();
    if (!sameColor(color, s.lastClearColor)) {
        s.lastClearColor = color;
        glClearColor(color.r, color.g, color.b, color.a);
    }
    glClear(GL_COLOR_BUFFER_BIT);
}

void SGRenderManagerES2::handOffsets(SGSpace* space, std::vector<Offset> offsets) {
    auto* manager = dynamic_cast<SGRenderManagerES2*>(&space->renderManager());
    if (manager && manager != this) manager->setOffsets(std::move(offsets));
}

void SGRenderManagerES2::drawSpace(SGSpace* space) {
    flushBatch();
    space->render();
}

void SGRenderManagerES2::drawOrtho2DSpace(SGSpace* node) {
    flushBatch();
    auto* space = static_cast<SGOrtho2DSpace*>(node);
    float in[7] = {space->x.numberValue(),
                   space->y.numberValue(),
                   space->width.numberValue(),
                   space->height.numberValue(),
                   space->near.numberValue(),
                   space->far.numberValue(),
                   space->modelRotation.numberValue()};
    Cache& cache = caches_[node];
    if (!cache.valid || std::memcmp(cache.inputs, in, sizeof in) != 0) {
        cache.valid = true;
        std::memcpy(cache.inputs, in, sizeof in);
        float l = in[0], r = in[0] + in[2], b = in[1], t = in[1] + in[3], n = in[4], f = in[5];
        float s, c;
        sincos_d(in[6], s, c);
        const float m[16] = {2 * c / (r - l),
                             2 * s / (t - b),
                             0,
                             0,
                             -2 * s / (r - l),
                             2 * c / (t - b),
                             0,
                             0,
                             0,
                             0,
                             -2 / (f - n),
                             0,
                             ((b + t) * s - (l + r) * c) / (r - l),
                             (-(l + r) * s - (b + t) * c) / (t - b),
                             -(f + n) / (f - n),
                             1};
        std::memcpy(cache.matrix, m, sizeof m);
        // A zero-size view (or near equal to far) has no projection: draw nothing rather than
        // hand GL infinities and NaNs.
        cache.degenerate = !std::all_of(std::begin(m), std::end(m), [](float v) { return std::isfinite(v); });
    }
    if (cache.degenerate) return;

    SharedState& st = S();
    float saved[16];
    bool changed = std::memcmp(st._uMvpMatrix, cache.matrix, sizeof saved) != 0;
    if (changed) {
        std::memcpy(saved, st._uMvpMatrix, sizeof saved);
        useProgram(st._program);
        glUniformMatrix4fv(st._uMvpMatrixLoc, 1, GL_FALSE, cache.matrix);
        std::memcpy(st._uMvpMatrix, cache.matrix, sizeof saved);
    }
    if (offsetsChanged_) handOffsets(space, offsets_);
    space->render();
    if (changed) {
        useProgram(st._program);
        glUniformMatrix4fv(st._uMvpMatrixLoc, 1, GL_FALSE, saved);
        std::memcpy(st._uMvpMatrix, saved, sizeof saved);
    }
}

void SGRenderManagerES2::drawReplicator(SGSpace* node) {
    flushBatch();
    auto* replicator = static_cast<SGReplicatorNode*>(node);
    float spacing = replicator->spacing.numberValue();
    float angle = replicator->angle.numberValue();
    int32_t copies = replicator->copies.intValue();
    Cache& cache = caches_[node];
    if (offsetsChanged_ || !cache.valid || cache.inputs[0] != spacing || cache.inputs[1] != angle ||
        cache.count != copies) {
        cache.valid = true;
        cache.inputs[0] = spacing;
        cache.inputs[1] = angle;
        cache.count = copies;
        std::vector<Offset> list = offsets_;
        for (int32_t i = 1; i < copies && list.size() + offsets_.size() <= kMaxOffsets; ++i) {
            auto [dx, dy] = replicatorShift(spacing, angle, i);
            for (const auto& [ox, oy] : offsets_) list.emplace_back(ox + dx, oy + dy);
        }
        handOffsets(replicator, std::move(list));
    }
    replicator->render();
}

void SGRenderManagerES2::drawWrapSpace(SGSpace* node) {
    flushBatch();
    auto* wrap = static_cast<SGWrapNode*>(node);
    bool wrapX = wrap->wrapX.boolValue();
    bool wrapY = wrap->wrapY.boolValue();
    float wrapWidth = wrap->wrapWidth.numberValue();
    float x = wrap->x.numberValue();
    float wrapHeight = wrap->wrapHeight.numberValue();
    float y = wrap->y.numberValue();
    Cache& cache = caches_[node];
    if (offsetsChanged_ || !cache.valid || cache.inputs[0] != x || cache.inputs[1] != y ||
        cache.inputs[2] != wrapWidth || cache.inputs[3] != wrapHeight || cache.flags[0] != wrapX ||
        cache.flags[1] != wrapY) {
        cache.valid = true;
        cache.inputs[0] = x;
        cache.inputs[1] = y;
        cache.inputs[2] = wrapWidth;
        cache.inputs[3] = wrapHeight;
        cache.flags[0] = wrapX;
        cache.flags[1] = wrapY;
        Offset shifts[3];
        int n = wrapShifts(wrapX, wrapY, x, y, wrapWidth, wrapHeight, shifts);
        std::vector<Offset> list = offsets_;
        for (int k = 0; k < n; ++k)
            for (const auto& [ox, oy] : offsets_)
                list.emplace_back(ox + shifts[k].first, oy + shifts[k].second);
        handOffsets(wrap, std::move(list));
    }
    wrap->render();
}

void SGRenderManagerES2::setModelMatrix(float x, float y, float angle) {
    float s, c;
    sincos_d(angle, s, c);
    const float m[16] = {c, s, 0, 0, -s, c, 0, 0, 0, 0, 1, 0, x, y, 0, 1};
    useProgram(S()._program);
    uploadIfChanged(S()._uModelMatrixLoc, S()._uModelMatrix, m);
}

void SGRenderManagerES2::submitQuad(const Quad& q) {
    SharedState& s = S();
    bool batched = s.batching && usable(s.batchProgram);
    if (!batched) {
        bindTexture(q.texture);
        setModelMatrix(q.x, q.y, q.angle);
        float v[16];
        for (int k = 0; k < 4; ++k) std::memcpy(v + 4 * k, q.corners[k], sizeof(float) * 4);
        drawArrays(GL_TRIANGLE_STRIP, 4, v, true, false);
        return;
    }
    if (s.batchQuads > 0 && (s.batchTexture != q.texture || !(s.batchBlend == q.blend) ||
                             s.batchOffsets != &offsets_ || s.batchQuads == s.maxBatchQuads))
        flushBatch();
    if (s.batchQuads == 0) {
        s.batchTexture = q.texture;
        s.batchBlend = q.blend;
        s.batchOffsets = &offsets_;
    }
    float sn = 0.0f, cs = 1.0f;  // what sincos_d gives for 0, without the library calls
    if (q.angle != 0.0f) sincos_d(q.angle, sn, cs);
    size_t at = s.batch.size();
    s.batch.resize(at + kBatchFloats * 4);
    float* out = s.batch.data() + at;
    for (int k = 0; k < 4; ++k, out += kBatchFloats) {
        out[0] = q.corners[k][0];
        out[1] = q.corners[k][1];
        out[2] = q.corners[k][2];
        out[3] = q.corners[k][3];
        out[4] = q.color.r;
        out[5] = q.color.g;
        out[6] = q.color.b;
        out[7] = q.color.a;
        out[8] = cs;
        out[9] = sn;
        out[10] = q.x;
        out[11] = q.y;
    }
    ++s.batchQuads;
}

namespace {

void setQuadCorners(float (&corners)[4][4], float hw, float hh, const SGTextureRect& tr) {
    const float v[4][4] = {
        {-hw, hh, tr.x0, tr.y1}, {hw, hh, tr.x1, tr.y1}, {-hw, -hh, tr.x0, tr.y0}, {hw, -hh, tr.x1, tr.y0}};
    std::memcpy(corners, v, sizeof v);
}

}  // namespace

void SGRenderManagerES2::renderColoredSprite(const SGSpriteDrawRecord& r) {
    Quad q;
    // No texture coordinates: the constant (0, 0) samples the white texture.
    setQuadCorners(q.corners, r.halfWidth, r.halfHeight, SGTextureRect{0, 0, 0, 0});
    q.color = r.drawColor;
    q.x = r.centerX;
    q.y = r.centerY;
    q.angle = r.drawAngle;
    q.texture = S()._whiteTexture;
    q.blend = SGBlendFactorsForMode(r.blendMode, r.premultiplyColor != 0);
    if (S().batching && usable(S().batchProgram)) {
        submitQuad(q);
        return;
    }
    bindTexture(q.texture);
    setModelMatrix(q.x, q.y, q.angle);
    const float v[8] = {-r.halfWidth, r.halfHeight,  r.halfWidth, r.halfHeight,
                        -r.halfWidth, -r.halfHeight, r.halfWidth, -r.halfHeight};
    drawArrays(GL_TRIANGLE_STRIP, 4, v, false, false);
}

void SGRenderManagerES2::renderTexturedSprite(const SGSpriteDrawRecord& r, uint32_t texture,
                                              const SGTextureRect& tr) {
    Quad q;
    setQuadCorners(q.corners, r.halfWidth, r.halfHeight, tr);
    q.color = r.drawColor;
    q.x = r.centerX;
    q.y = r.centerY;
    q.angle = r.drawAngle;
    q.texture = texture;
    q.blend = SGBlendFactorsForMode(r.blendMode, r.premultiplyColor != 0);
    submitQuad(q);
}

void SGRenderManagerES2::renderFixedSprite(const SGSpriteDrawRecord& r) {
    const SGImage& image = r.drawImage;
    SGTextureRect tr;
    float hw, hh;
    r.fixedExtent(hw, hh, tr);
    SGSpriteDrawRecord fixed = r;
    fixed.halfWidth = hw;
    fixed.halfHeight = hh;
    renderTexturedSprite(fixed, image.texture, tr);
}

void SGRenderManagerES2::renderTiledSprite(SGSpriteNode* sprite) {
    flushBatch();
    const SGSpriteDrawRecord& r = sprite->record;
    sprite->layoutTiles();
    SGSpriteTiles& tiles = sprite->tiles;
    if (tiles.tileVertexCount <= 0) return;
    bindTexture(r.drawImage.texture);
    setModelMatrix(r.centerX, r.centerY, r.drawAngle);
    drawArrays(GL_TRIANGLES, tiles.tileVertexCount, tiles.tileVertices.data(), true, false);
}

void SGRenderManagerES2::drawSprite(SGRenderNode* node) {
    auto* sprite = static_cast<SGSpriteNode*>(node);
    const SGSpriteDrawRecord& r = sprite->record;
    if (r.drawColor.a == 0.0f) return;
    SharedState& s = S();
    bool batched = s.batching && usable(s.batchProgram);
    bool textured = r.drawImage.textureWidth >= 1;
    bool tiled =
        textured &&
        (r.horizontalWrapping == SGSpriteTiled ||
         (!(r.horizontalWrapping == 0 && r.verticalWrapping == 0) && r.verticalWrapping == SGSpriteTiled));
    if (!batched || tiled) {
        // One call for this sprite: colour and blending go through the caches now.
        flushBatch();
        if (!sameColor(r.drawColor, s._currentColor)) {
            glVertexAttrib4fv(Color, &r.drawColor.r);
            s._currentColor = r.drawColor;
        }
        SGSetBlendMode(r.blendMode, r.premultiplyColor);
    }
    if (!textured)
        renderColoredSprite(r);
    else if (tiled)
        renderTiledSprite(sprite);
    else if (r.horizontalWrapping == 0 && r.verticalWrapping == 0)
        renderTexturedSprite(r, r.drawImage.texture, r.drawImage.textureRect);
    else
        renderFixedSprite(r);
}

namespace {

// Writes one particle's six stitched vertices (see rotate6) into a strip: the first particle of a
// batch leaves out its leading repeat, the last its trailing one.
void setParticleVertices(float* out, float x, float y, float halfWidth, float halfHeight, float rotation,
                         const float* texCoords, const SGColor& color, bool first, bool last) {
    const int size = texCoords ? 8 : 6;
    float v[6 * 8] = {};
    rotate6(x, y, halfWidth, halfHeight, rotation, v, static_cast<unsigned short>(size));
    for (int k = 1; k <= 4; ++k) {
        float* vertex = v + k * size;
        if (texCoords) {
            vertex[2] = texCoords[(k - 1) * 2];
            vertex[3] = texCoords[(k - 1) * 2 + 1];
        }
        float* rgba = vertex + size - 4;
        rgba[0] = color.r;
        rgba[1] = color.g;
        rgba[2] = color.b;
        rgba[3] = color.a;
    }
    const float* from = first ? v + size : v;
    float* to = first ? out : out - size;
    int count = (first ? 5 : 6) - (last ? 1 : 0);
    std::memcpy(to, from, sizeof(float) * static_cast<size_t>(count * size));
}

}  // namespace

void SGRenderManagerES2::drawParticleSystem(SGRenderNode* node) {
    flushBatch();
    auto* system = static_cast<SGParticleSystemNode*>(node);
    float t = system->time.numberValue();
    int32_t mode = system->blendingMode.intValue();
    bool textured = system->textured();
    const SGImage& image = system->emitterImage;
    SGSetBlendMode(mode, textured && image.premultiplied != 0);
    bindTexture(textured ? image.texture : S()._whiteTexture);
    if (system->particleCount <= 0 || !system->particles) return;

    bool spawn = system->spawnParticles.boolValue();
    const SGTextureRect& tr = image.textureRect;
    const float texCoords[8] = {tr.x0, tr.y1, tr.x1, tr.y1, tr.x0, tr.y0, tr.x1, tr.y0};
    const int size = textured ? 8 : 6;
    std::vector<float>& buffer = S().particleVertices;
    for (int32_t start = 0; start < system->particleCount; start += kParticlesPerBatch) {
        int n = std::min(kParticlesPerBatch, system->particleCount - start);
        int vertexCount = 6 * n - 2;
        buffer.assign(static_cast<size_t>(vertexCount * size), 0.0f);
        for (int k = 0; k < n; ++k) {
            SGParticleState p = system->advanceParticle(system->particles[start + k], t, spawn);
            if (p.kind != SGParticleState::Alive) continue;  // zeroed: degenerate triangles
            setParticleVertices(buffer.data() + 6 * k * size, p.x, p.y, p.width / 2, p.height / 2, p.angle,
                                textured ? texCoords : nullptr, p.color, k == 0, k == n - 1);
        }
        useProgram(S()._program);
        uploadIfChanged(S()._uModelMatrixLoc, S()._uModelMatrix, identity4);
        drawArrays(GL_TRIANGLE_STRIP, vertexCount, buffer.data(), textured, true);
    }
}

extern "C" void SGRenderManagerES2_setUpGL() {
    SGRenderManagerES2::setUpGL();
}
