// Text drawn into a bitmap with Pango and Cairo, before any GL: what Texture2D::initWithString
// uploads. Declared here so tests can see the pixels and the work a text costs. The font is chosen
// by family name ("Family-Style" names are split), falling back to "Sans" (DejaVu); sizes are
// absolute pixels. Without a fixed box the box is the widest line by one line height per line; with
// one, text wraps at words inside it and is clipped. Sides are capped at GL_MAX_TEXTURE_SIZE; empty
// text makes no texture. Pango's layout costs the square of its lines, so a text taller than its box
// is not laid out whole: drawText lays out a growing prefix until its lines reach three past the box,
// cut at a paragraph's end when one is near; the lines that show, and so the pixels, are the whole
// text's.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "port/DKTextures.h"

namespace dk::port {

// Premultiplied RGBA (white glyphs), the box's bottom row first, in a power-of-two bitmap.
struct TextBitmap {
    uint32_t width = 0;  // bitmap pixels; 0 when the box is empty (nothing to draw)
    uint32_t height = 0;
    double boxWidth = 0;  // the box the text is drawn in, pixels
    double boxHeight = 0;
    std::vector<uint8_t> rgba;
};

// What drawing handed to Pango, summed over its layouts (measuring the free box not included).
struct TextWork {
    size_t bytes = 0;
    int lines = 0;
};

// The box is desiredWidth × desiredHeight when both are non-zero, else as wide as the widest line
// of the text split at "\n" and one line height per such line; its sides are cut to `limit`
// pixels (the GL texture limit).
TextBitmap drawText(const std::string& text, DKTextAlignment alignment, const std::string& fontName,
                    float fontSize, uint32_t desiredWidth, uint32_t desiredHeight, uint32_t limit,
                    TextWork* work = nullptr);

}  // namespace dk::port
