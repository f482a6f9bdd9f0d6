// Textures from image files and text: the two entry points the engine uses, and the screen scale
// they read. Everything here runs on the main thread with the engine's GL context current.
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
