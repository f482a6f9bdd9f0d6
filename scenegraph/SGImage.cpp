#include "scenegraph/SGImage.h"

#include <GLES2/gl2.h>

#include <cmath>
#include <utility>

#include "scenegraph/IRenderManager.h"
#include "scenegraph/SGColor.h"

namespace {
SGTextureDeletedHandler textureDeletedHandler = nullptr;
}

SGTextureDeletedHandler SGSetTextureDeletedHandler(SGTextureDeletedHandler handler) {
    return std::exchange(textureDeletedHandler, handler);
}

float SGTextureRect::getWidth() const {
    return std::fabs(x1 - x0);
}
float SGTextureRect::getHeight() const {
    return std::fabs(y1 - y0);
}
void SGTextureRect::flipHorizontally() {
    std::swap(x0, x1);
}
void SGTextureRect::flipVertically() {
    std::swap(y0, y1);
}

namespace dk::scenegraph {

// The extent is signed, so the anchors keep their meaning along a mirrored axis.
void cropSpan(float& start, float& end, float fraction, SGAnchorMode anchor) {
    float extent = end - start;
    float kept = extent * fraction;
    float removed = extent - kept;
    switch (anchor) {
        case SGAnchorStart:
            end = start + kept;
            break;
        case SGAnchorCentre:
            start = start + removed * 0.5f;
            end = start + kept;
            break;
        case SGAnchorEnd:
            start = end - kept;
            break;
    }
}

}  // namespace dk::scenegraph

void SGTextureRect::cropHorizontally(float fraction, SGAnchorMode anchor) {
    dk::scenegraph::cropSpan(x0, x1, fraction, anchor);
}
void SGTextureRect::cropVertically(float fraction, SGAnchorMode anchor) {
    dk::scenegraph::cropSpan(y0, y1, fraction, anchor);
}

int32_t SGImage::getWidth() const {
    return static_cast<int32_t>(static_cast<float>(textureWidth) * textureRect.getWidth());
}

int32_t SGImage::getHeight() const {
    return static_cast<int32_t>(static_cast<float>(textureHeight) * textureRect.getHeight());
}

bool SGImage::isNull() const {
    return texture == SGImageNull.texture && textureRect == SGImageNull.textureRect;
}

void SGImage::freeImage() const {
    GLuint name = texture;
    glDeleteTextures(1, &name);
    if (DKShouldUseGLES2 && textureDeletedHandler) textureDeletedHandler(texture);
}
