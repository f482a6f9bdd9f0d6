// Textures from image files and text: the two entry points the engine uses, and the screen scale
// they read. Everything here runs on the main thread with the engine's GL context current. The
// texture belongs to the SGImage that describes it (freeImage). Files are decoded by platform/image
// with the 2048-point limit as its side limit, so sizes are checked before pixels are decoded;
// images with alpha become premultiplied RGBA, opaque ones RGB 5-6-5, the content in the corner of a
// power-of-two texture with its bottom row first. Crushed phone PNGs are refused with the codec's
// message. A file the engine cannot use is said once (DKFileProblems.h) and the game gets a null
// image. The screen scale is our own setting (DKSetScreenScale, or DROVIK_SCREEN_SCALE), 1.0 by
// default; at 2.0 a sibling "name@2x.png" is preferred and text renders at twice the size. Uploads
// leave the GL_TEXTURE_2D binding as they found it (the ES2 renderer's cache trusts it).
#pragma once

#include <string>

#include "scenegraph/SGImage.h"

enum DKTextAlignment : int {
    DKTextAlignmentLeft = 0,
    DKTextAlignmentCenter = 1,
    DKTextAlignmentRight = 2,
};

// Loads a PNG or JPEG file (or a ".pvrtc" PVRTC file) into a texture. Unreadable files, files the
// decoders refuse and images over 2048 points on a side give SGImageNull.
SGImage DKLoadImageFromFile(const char* path);

// Renders text in white into a texture. Without `fixedSize` the box is the text's own size (one
// line per "\n" piece); with it, `width` × `height`. Sizes are in points: on a scale-2.0 screen the
// text is rendered at twice the size and the image measures half its pixels. Empty text, or a box
// with no area, gives SGImageNull and creates no texture.
SGImage DKImageFromString(const char* text, const char* fontName, float fontSize, DKTextAlignment alignment,
                          bool fixedSize, float width, float height);

// On a scale-2.0 screen: the sibling "<path without extension>@2x.png" when that file exists.
// Otherwise the path unchanged.
std::string checkPathForDoubleResolution(const std::string& path);

// The main screen's scale: 1.0 unless set here or by the environment variable
// DROVIK_SCREEN_SCALE (read on first use).
float DKScreenScale();
void DKSetScreenScale(float scale);
