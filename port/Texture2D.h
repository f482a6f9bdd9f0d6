// Uncompressed textures from raw pixels, decoded images and rendered text. The object only makes
// and uploads the GL texture: whoever fills an SGImage from it takes over the texture name (the
// destructor never deletes it).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "port/DKTextures.h"

enum Texture2DPixelFormat : int {
    Texture2DPixelFormatAutomatic = 0,
    Texture2DPixelFormatRGBA8888 = 1,
    Texture2DPixelFormatRGB565 = 2,
    Texture2DPixelFormatA8 = 3,
};

struct DKSize {
    float width;
    float height;
};

// A decoded image file: straight (not premultiplied) RGBA bytes, first row at the top.
struct DKDecodedImage {
    int width = 0;  // pixels
    int height = 0;
    float scale = 1.0f;     // 2.0 for "@2x" files: the size in points is the pixel size ÷ scale
    bool hasAlpha = false;  // the file carries transparency
    bool hasColorSpace = true;
    std::vector<uint8_t> rgba;
};

class Texture2D {
public:
    // Uploads `data` (tightly packed rows, first row at texture coordinate t = 0) as level 0.
    // `data` holds pixelsWide × pixelsHigh pixels of the format: 4, 2 or 1 bytes each.
    static std::unique_ptr<Texture2D> initWithData(const void* data, Texture2DPixelFormat pixelFormat,
                                                   uint32_t pixelsWide, uint32_t pixelsHigh,
                                                   DKSize contentSize);
    // Null (after logging "Image is Null") when the image holds no pixels.
    static std::unique_ptr<Texture2D> initWithImage(const DKDecodedImage* image);
    static std::unique_ptr<Texture2D> initWithString(const std::string& string, DKTextAlignment alignment,
                                                     const std::string& fontName, float fontSize);
    // Null when the box is empty (no texture is made).
    static std::unique_ptr<Texture2D> initWithString(const std::string& string, DKTextAlignment alignment,
                                                     const std::string& fontName, float fontSize,
                                                     uint32_t desiredWidth, uint32_t desiredHeight);

    DKSize contentSize() const { return m_size; }
    Texture2DPixelFormat pixelFormat() const { return m_format; }
    uint32_t pixelsWide() const { return m_width; }
    uint32_t pixelsHigh() const { return m_height; }
    uint32_t name() const { return m_name; }
    float maxS() const { return m_maxS; }
    float maxT() const { return m_maxT; }

private:
    Texture2D() = default;

    uint32_t m_name = 0;
    DKSize m_size{0, 0};
    uint32_t m_width = 0;
    uint32_t m_height = 0;
    Texture2DPixelFormat m_format = Texture2DPixelFormatAutomatic;
    float m_maxS = 0;
    float m_maxT = 0;
};

// Decodes a PNG or JPEG file. False (with `error` set) when the file cannot be read or decoded,
// or when it is larger than `maxPoints` points on a side (checked before the pixels are decoded).
bool DKDecodeImageFile(const std::string& path, int maxPoints, DKDecodedImage* image, std::string* error);

// The next power of two at or above `n` (0 stays 0).
uint32_t DKNextPowerOfTwo(uint32_t n);
