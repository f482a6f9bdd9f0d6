#include "scenegraph/es2/ES2StateCache.h"

#include <cstring>

namespace dk::scenegraph::es2 {

namespace {

void setMatrix(GLint location, float* shadow, const float* value) {
    glUniformMatrix4fv(location, 1, GL_FALSE, value);
    std::memcpy(shadow, value, sizeof(float) * 16);
}

}  // namespace

StateCache& stateCache() {
    static StateCache cache;
    return cache;
}

void useProgram(GLuint program) {
    if (stateCache().program == program) return;
    glUseProgram(program);
    stateCache().program = program;
}

void bindTexture(GLuint texture) {
    if (stateCache().texture == texture) return;
    glBindTexture(GL_TEXTURE_2D, texture);
    stateCache().texture = texture;
}

void setColor(const SGColor& color) {
    if (sameColor(color, stateCache().color)) return;
    glVertexAttrib4fv(Color, &color.r);
    stateCache().color = color;
}

void setClearColor(const SGColor& color) {
    if (sameColor(color, stateCache().clearColor)) return;
    stateCache().clearColor = color;
    glClearColor(color.r, color.g, color.b, color.a);
}

void pointAttribute(GLuint index, GLint size, GLsizei stride, const float* pointer) {
    StateCache& s = stateCache();
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
    StateCache& s = stateCache();
    if (!s.isArray[index]) return;
    glDisableVertexAttribArray(index);
    s.isArray[index] = false;
}

void uploadIfChanged(GLint location, float* shadow, const float* value) {
    if (std::memcmp(shadow, value, sizeof(float) * 16) == 0) return;
    setMatrix(location, shadow, value);
}

void drawAtOffsets(GLenum mode, int count, const std::vector<Offset>& offsets, GLint spaceLocation,
                   float* spaceShadow, bool indexed) {
    StateCache& s = stateCache();
    for (const auto& [ox, oy] : offsets) {
        if (spaceShadow[12] != ox || spaceShadow[13] != oy) {
            spaceShadow[12] = ox;
            spaceShadow[13] = oy;
            glUniformMatrix4fv(spaceLocation, 1, GL_FALSE, spaceShadow);
        }
        if (indexed)
            glDrawElements(mode, count, programs().quadIndexType, nullptr);
        else
            glDrawArrays(mode, 0, count);
        ++s.drawCalls;
    }
    // Geometry usually lives in the caller's stack frame: point attribute 0 again next time.
    s.address[Position] = nullptr;
}

void resetState() {
    StateCache& s = stateCache();
    const Programs& p = programs();
    static const float zeros[16] = {};
    // A freshly linked program holds zeros; a kept one is put back to that.
    if (usable(p.batchProgram)) {
        glUseProgram(p.batchProgram);
        setMatrix(p.batchMvpLoc, s.batchMvp, zeros);
        setMatrix(p.batchSpaceTransLoc, s.batchSpaceTrans, kIdentity4);
    }
    glUseProgram(p.program);
    s.program = p.program;
    setMatrix(p.mvpLoc, s.mvp, zeros);
    setMatrix(p.spaceTransLoc, s.spaceTrans, kIdentity4);
    setMatrix(p.modelLoc, s.model, kIdentity4);
    glUniform1i(p.textureLoc, 0);
    glVertexAttrib4f(Color, 1, 1, 1, 1);
    glVertexAttrib2f(TexCoord, 0, 0);
    s.color = SGWhiteColor;
    for (GLuint i = 0; i < AttributeCount; ++i) {
        glDisableVertexAttribArray(i);
        s.isArray[i] = false;
        s.address[i] = nullptr;
        s.stride[i] = 0;
    }
    glActiveTexture(GL_TEXTURE0);
    glBindTexture(GL_TEXTURE_2D, p.whiteTexture);
    s.texture = 0;
    s.clearColor = SGBlackColor;
    glClearColor(SGBlackColor.r, SGBlackColor.g, SGBlackColor.b, SGBlackColor.a);
    SGResetBlendMode();
}

}  // namespace dk::scenegraph::es2
