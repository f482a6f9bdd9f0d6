// Texture-backed image values. An SGImage is a plain record copied by value between ports; copies
// never own the texture, whose creator frees it with freeImage.
#pragma once

#include <cstdint>

enum SGAnchorMode : int32_t {
    SGAnchorStart = 0,
    SGAnchorCentre = 1,
    SGAnchorEnd = 2,
};

// Texture coordinates of the part of a texture an image uses. y0 is the bottom edge, y1 the top;
// either axis may be mirrored (x0 > x1 or y0 > y1).
struct SGTextureRect {
    float x0;
    float y0;
    float x1;
    float y1;

    float getWidth() const;
    float getHeight() const;
    void flipHorizontally();
    void flipVertically();
    // Keep `fraction` of the extent, anchored at the start, centre or end of the rectangle's own
    // direction (so a mirrored rectangle stays mirrored). Other anchors change nothing.
    void cropHorizontally(float fraction, SGAnchorMode anchor);
    void cropVertically(float fraction, SGAnchorMode anchor);

    friend bool operator==(const SGTextureRect&, const SGTextureRect&) = default;
};

namespace dk::scenegraph {
// Crops one axis of texture coordinates, as SGTextureRect's crops do.
void cropSpan(float& start, float& end, float fraction, SGAnchorMode anchor);
}  // namespace dk::scenegraph

struct SGImage {
    int32_t width;  // nominal size in points
    int32_t height;
    uint32_t texture;      // GL texture name, 0 for none
    int32_t textureWidth;  // texture size in pixels
    int32_t textureHeight;
    SGTextureRect textureRect;
    int32_t premultiplied;  // nonzero when the texture holds premultiplied alpha

    // Pixel size of the used part of the texture (not the nominal width and height).
    int32_t getWidth() const;
    int32_t getHeight() const;

    // True for the image that stands for "no image": no texture and an all-zero rectangle.
    bool isNull() const;

    // Deletes the GL texture; the record keeps its values. The ES2 renderer hears about it through
    // the handler installed with SGSetTextureDeletedHandler (IRenderManager.h).
    void freeImage() const;
};

inline constexpr SGImage SGImageNull{};
