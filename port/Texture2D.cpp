#include "port/Texture2D.h"

#include <GLES2/gl2.h>

#include <cassert>
#include <cmath>
#include <cstdio>

namespace {

constexpr uint32_t kMaxTextureSide = 2048;

uint8_t premultiply(uint8_t c, uint8_t a) {
    return static_cast<uint8_t>((c * a + 127) / 255);
}

// Draws `image` into a cleared bitmap of texWidth × texHeight pixels: the content (the image
// shrunk by `shrink`, a power of two) in the corner at texel (0, 0), its bottom row first.
// Out: premultiplied RGBA bytes.
std::vector<uint8_t> drawImage(const DKDecodedImage& image, uint32_t texWidth, uint32_t texHeight,
                               uint32_t shrink) {
    std::vector<uint8_t> out(static_cast<size_t>(texWidth) * texHeight * 4, 0);
    uint32_t w = (static_cast<uint32_t>(image.width) + shrink - 1) / shrink;
    uint32_t h = (static_cast<uint32_t>(image.height) + shrink - 1) / shrink;
    for (uint32_t y = 0; y < h && y < texHeight; ++y) {
        uint8_t* dst = out.data() + static_cast<size_t>(y) * texWidth * 4;
        // Texture row y shows the picture's row h-1-y (counted from the top).
        uint32_t sy0 = (h - 1 - y) * shrink;
        for (uint32_t x = 0; x < w && x < texWidth; ++x, dst += 4) {
            uint32_t sx0 = x * shrink;
            // Box filter over the source block; pixels past the image edge count as transparent.
            uint32_t sum[4] = {0, 0, 0, 0};
            for (uint32_t sy = sy0; sy < sy0 + shrink && sy < static_cast<uint32_t>(image.height); ++sy) {
                const uint8_t* src = image.rgba.data() + (static_cast<size_t>(sy) * image.width + sx0) * 4;
                for (uint32_t sx = sx0; sx < sx0 + shrink && sx < static_cast<uint32_t>(image.width);
                     ++sx, src += 4) {
                    uint8_t a = src[3];
                    sum[0] += premultiply(src[0], a);
                    sum[1] += premultiply(src[1], a);
                    sum[2] += premultiply(src[2], a);
                    sum[3] += a;
                }
            }
            uint32_t n = shrink * shrink;
            for (int c = 0; c < 4; ++c) dst[c] = static_cast<uint8_t>((sum[c] + n / 2) / n);
        }
    }
    return out;
}

}  // namespace

uint32_t DKNextPowerOfTwo(uint32_t n) {
    if (n == 0) return 0;
    uint32_t p = 1;
    while (p < n) p <<= 1;
    return p;
}

std::unique_ptr<Texture2D> Texture2D::initWithData(const void* data, Texture2DPixelFormat pixelFormat,
                                                   uint32_t pixelsWide, uint32_t pixelsHigh,
                                                   DKSize contentSize) {
    GLenum format, type;
    switch (pixelFormat) {
        case Texture2DPixelFormatRGBA8888:
            format = GL_RGBA, type = GL_UNSIGNED_BYTE;
            break;
        case Texture2DPixelFormatRGB565:
            format = GL_RGB, type = GL_UNSIGNED_SHORT_5_6_5;
            break;
        case Texture2DPixelFormatA8:
            format = GL_ALPHA, type = GL_UNSIGNED_BYTE;
            break;
        default:
            assert(!"unknown pixel format");
            return nullptr;
    }
    std::unique_ptr<Texture2D> texture(new Texture2D);
    GLuint name = 0;
    glGenTextures(1, &name);
    GLint previous = 0, alignment = 4;
    glGetIntegerv(GL_TEXTURE_BINDING_2D, &previous);
    glGetIntegerv(GL_UNPACK_ALIGNMENT, &alignment);
    glBindTexture(GL_TEXTURE_2D, name);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
    // Rows are tightly packed: a 1-pixel-wide 16-bit texture has 2-byte rows.
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    glTexImage2D(GL_TEXTURE_2D, 0, static_cast<GLint>(format), static_cast<GLsizei>(pixelsWide),
                 static_cast<GLsizei>(pixelsHigh), 0, format, type, data);
    glPixelStorei(GL_UNPACK_ALIGNMENT, alignment);
    glBindTexture(GL_TEXTURE_2D, static_cast<GLuint>(previous));

    texture->m_name = name;
    texture->m_size = contentSize;
    texture->m_width = pixelsWide;
    texture->m_height = pixelsHigh;
    texture->m_format = pixelFormat;
    texture->m_maxS = pixelsWide ? contentSize.width / static_cast<float>(pixelsWide) : 0.0f;
    texture->m_maxT = pixelsHigh ? contentSize.height / static_cast<float>(pixelsHigh) : 0.0f;
    return texture;
}

std::unique_ptr<Texture2D> Texture2D::initWithImage(const DKDecodedImage* image) {
    if (!image || image->width <= 0 || image->height <= 0 ||
        image->rgba.size() < static_cast<size_t>(image->width) * image->height * 4) {
        std::fprintf(stderr, "Image is Null\n");
        return nullptr;
    }
    Texture2DPixelFormat pixelFormat = image->hasAlpha        ? Texture2DPixelFormatRGBA8888
                                       : image->hasColorSpace ? Texture2DPixelFormatRGB565
                                                              : Texture2DPixelFormatA8;
    uint32_t width = DKNextPowerOfTwo(static_cast<uint32_t>(image->width));
    uint32_t height = DKNextPowerOfTwo(static_cast<uint32_t>(image->height));
    DKSize content{static_cast<float>(image->width), static_cast<float>(image->height)};
    uint32_t shrink = 1;
    while (width > kMaxTextureSide || height > kMaxTextureSide) {
        width /= 2;
        height /= 2;
        content.width /= 2;
        content.height /= 2;
        shrink *= 2;
    }
    width = std::max(width, 1u);
    height = std::max(height, 1u);

    std::vector<uint8_t> rgba = drawImage(*image, width, height, shrink);
    size_t count = static_cast<size_t>(width) * height;
    if (pixelFormat == Texture2DPixelFormatRGB565) {
        std::vector<uint16_t> packed(count);
        for (size_t i = 0; i < count; ++i) {
            const uint8_t* p = &rgba[i * 4];
            packed[i] = static_cast<uint16_t>(((p[0] >> 3) << 11) | ((p[1] >> 2) << 5) | (p[2] >> 3));
        }
        return initWithData(packed.data(), pixelFormat, width, height, content);
    }
    if (pixelFormat == Texture2DPixelFormatA8) {
        std::vector<uint8_t> alpha(count);
        for (size_t i = 0; i < count; ++i) alpha[i] = rgba[i * 4 + 3];
        return initWithData(alpha.data(), pixelFormat, width, height, content);
    }
    return initWithData(rgba.data(), pixelFormat, width, height, content);
}
