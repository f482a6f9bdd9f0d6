// The ES2 renderer's GL objects: the one-call-per-sprite program, the batch program, the batch's
// element buffer and the white texture, built once per GL context.
#pragma once

#include <GLES2/gl2.h>

#include <cstdint>

namespace dk::scenegraph::es2 {

// A program name not yet built in any context.
inline constexpr GLuint kNeverSetUp = static_cast<GLuint>(-2);

enum Attribute : GLuint { Position = 0, TexCoord = 1, Color = 2, Model = 3, AttributeCount = 4 };

struct Programs {
    GLuint vertexShader = kNeverSetUp;
    GLuint fragmentShader = kNeverSetUp;
    GLuint program = kNeverSetUp;
    GLint mvpLoc = -1;
    GLint spaceTransLoc = -1;
    GLint modelLoc = -1;
    GLint textureLoc = -1;
    GLuint batchVertexShader = 0;
    GLuint batchProgram = 0;  // 0 without a batch program: every sprite is drawn by its own call
    GLint batchMvpLoc = -1;
    GLint batchSpaceTransLoc = -1;
    GLuint quadIndices = 0;  // element buffer of the batch path's triangles
    GLenum quadIndexType = GL_UNSIGNED_SHORT;
    int maxBatchQuads = 0;
    GLuint whiteTexture = 0;
};

Programs& programs();

inline bool usable(GLuint program) {
    return program != 0 && program != kNeverSetUp;
}

// Builds the programs, the element buffer and the white texture in the current context. A failed
// step leaves the renderer without a usable program (0) in this context.
void buildPrograms();
// Forgets the objects, so the next set-up builds new ones; deletes them first when their context
// is the current one (`inTheirContext`), else leaves them to that context.
void releasePrograms(bool inTheirContext);

}  // namespace dk::scenegraph::es2
