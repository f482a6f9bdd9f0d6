// What the ES2 renderer last gave GL, shared by every manager in the process, so redundant calls
// are skipped. resetState puts GL and the cache back to one known state.
#pragma once

#include <GLES2/gl2.h>

#include <cstdint>
#include <vector>

#include "scenegraph/SGColor.h"
#include "scenegraph/SGRenderMath.h"
#include "scenegraph/es2/ES2Programs.h"

namespace dk::scenegraph::es2 {

inline constexpr float kIdentity4[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};

struct StateCache {
    // Uniforms of the main program, then of the batch program.
    float mvp[16] = {};
    float spaceTrans[16] = {};
    float model[16] = {};
    float batchMvp[16] = {};
    float batchSpaceTrans[16] = {};
    SGColor color = SGWhiteColor;  // the constant colour attribute
    GLuint texture = 0;
    SGColor clearColor = SGBlackColor;
    GLuint program = 0;

    // Attribute arrays: enabled flags and the pointer and stride last given. The stride is part
    // of the key: a freed buffer reused at the same address may come back with another layout.
    bool isArray[AttributeCount] = {};
    const void* address[AttributeCount] = {};
    GLsizei stride[AttributeCount] = {};

    uint64_t drawCalls = 0;
};

StateCache& stateCache();

void useProgram(GLuint program);
void bindTexture(GLuint texture);
void setColor(const SGColor& color);
void setClearColor(const SGColor& color);
void pointAttribute(GLuint index, GLint size, GLsizei stride, const float* pointer);
void disableAttribute(GLuint index);
// Uploads a matrix uniform of the current program when it differs bytewise from its shadow.
void uploadIfChanged(GLint location, float* shadow, const float* value);

// One draw per copy offset, moving the space transform of the current program (its location and
// shadow given) to each offset in turn; indexed draws read the batch's element buffer.
void drawAtOffsets(GLenum mode, int count, const std::vector<Offset>& offsets, GLint spaceLocation,
                   float* spaceShadow, bool indexed = false);

// Puts GL into a known state and makes every cache say exactly that, so nothing cached survives
// a rebuild of the frame buffer (or whatever other code did to GL in between).
void resetState();

}  // namespace dk::scenegraph::es2
