#include "scenegraph/es2/ES2Programs.h"

#include <cstdio>
#include <cstring>
#include <vector>

namespace dk::scenegraph::es2 {

namespace {

const char* const kVertexShaderCode =
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

const char* const kFragmentShaderCode =
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
const char* const kBatchVertexShaderCode =
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

// Batched quads are indexed triangles, four vertices each: 32-bit indices where the driver has
// them (one call for a whole frame of sprites), else 16-bit ones.
constexpr int kMaxBatchQuads = 65536;
constexpr int kMaxBatchQuadsShortIndices = 65536 / 4;

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

void buildBatchProgram(Programs& p, GLuint fragmentShader) {
    GLuint vs = compileShader(GL_VERTEX_SHADER, kBatchVertexShaderCode, "vertex shader creation failed",
                              "Error compiling vertex shader: %s", &p.batchVertexShader);
    if (!vs || !linkProgram(vs, fragmentShader, true, &p.batchProgram)) return;
    p.batchMvpLoc = glGetUniformLocation(p.batchProgram, "u_mvpMatrix");
    p.batchSpaceTransLoc = glGetUniformLocation(p.batchProgram, "u_spaceTransMatrix");
    glUseProgram(p.batchProgram);
    glUniform1i(glGetUniformLocation(p.batchProgram, "u_texture"), 0);
}

template <class Index>
void uploadQuadIndices(int quads) {
    std::vector<Index> indices;
    indices.reserve(static_cast<size_t>(quads) * 6);
    for (int q = 0; q < quads; ++q)
        for (int k : {0, 1, 2, 2, 1, 3}) indices.push_back(static_cast<Index>(q * 4 + k));
    glBufferData(GL_ELEMENT_ARRAY_BUFFER, static_cast<GLsizeiptr>(indices.size() * sizeof(Index)),
                 indices.data(), GL_STATIC_DRAW);
}

// Each quad's two triangles in the order a four-vertex strip draws them.
void buildQuadIndices(Programs& p) {
    const char* extensions = reinterpret_cast<const char*>(glGetString(GL_EXTENSIONS));
    bool wide = extensions && std::strstr(extensions, "GL_OES_element_index_uint");
    p.quadIndexType = wide ? GL_UNSIGNED_INT : GL_UNSIGNED_SHORT;
    p.maxBatchQuads = wide ? kMaxBatchQuads : kMaxBatchQuadsShortIndices;
    glGenBuffers(1, &p.quadIndices);
    glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, p.quadIndices);
    if (wide)
        uploadQuadIndices<uint32_t>(p.maxBatchQuads);
    else
        uploadQuadIndices<uint16_t>(p.maxBatchQuads);
    glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, 0);
}

void buildWhiteTexture(Programs& p) {
    glGenTextures(1, &p.whiteTexture);
    glBindTexture(GL_TEXTURE_2D, p.whiteTexture);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    const uint8_t white[4] = {255, 255, 255, 255};
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, 1, 1, 0, GL_RGBA, GL_UNSIGNED_BYTE, white);
}

}  // namespace

Programs& programs() {
    static Programs objects;
    return objects;
}

void buildPrograms() {
    Programs& p = programs();
    p.program = 0;
    p.batchProgram = 0;
    GLuint vs = compileShader(GL_VERTEX_SHADER, kVertexShaderCode, "vertex shader creation failed",
                              "Error compiling vertex shader: %s", &p.vertexShader);
    if (!vs) return;
    GLuint fs = compileShader(GL_FRAGMENT_SHADER, kFragmentShaderCode, "fragment shader creation failed",
                              "Error compiling fragment shader: %s", &p.fragmentShader);
    if (!fs) return;
    GLuint program = 0;
    if (!linkProgram(vs, fs, false, &program)) return;
    p.program = program;
    p.mvpLoc = glGetUniformLocation(program, "u_mvpMatrix");
    p.spaceTransLoc = glGetUniformLocation(program, "u_spaceTransMatrix");
    p.modelLoc = glGetUniformLocation(program, "u_modelMatrix");
    p.textureLoc = glGetUniformLocation(program, "u_texture");
    buildBatchProgram(p, fs);
    buildQuadIndices(p);
    buildWhiteTexture(p);
}

void releasePrograms(bool inTheirContext) {
    Programs& p = programs();
    if (inTheirContext) {
        glUseProgram(0);  // a program in use would outlive its deletion
        // Names a failed build left behind may name nothing: asked first, so no GL error is left.
        for (GLuint program : {p.program, p.batchProgram})
            if (usable(program) && glIsProgram(program)) glDeleteProgram(program);
        for (GLuint shader : {p.vertexShader, p.fragmentShader, p.batchVertexShader})
            if (usable(shader) && glIsShader(shader)) glDeleteShader(shader);
        if (p.quadIndices) glDeleteBuffers(1, &p.quadIndices);
        if (p.whiteTexture) glDeleteTextures(1, &p.whiteTexture);
    }
    p = Programs{};
}

}  // namespace dk::scenegraph::es2
