#include "port/PVRTexture.h"

#include <GLES2/gl2.h>
#include <GLES2/gl2ext.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>

#include "platform/sys/WholeFile.h"

namespace {

constexpr size_t kHeaderSize = 52;
constexpr uint32_t kFormat2bpp = 24;
constexpr uint32_t kFormat4bpp = 25;

uint32_t word(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
           static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

bool isPowerOfTwo(uint32_t n) {
    return n != 0 && (n & (n - 1)) == 0;
}

// Blocks are stored in Morton order: y supplies the low bit of each pair, x the high one; past the
// smaller dimension the larger one's remaining bits follow unmixed.
uint32_t twiddle(uint32_t blocksX, uint32_t blocksY, uint32_t x, uint32_t y) {
    uint32_t minDim = std::min(blocksX, blocksY);
    uint32_t result = 0, shift = 0;
    for (uint32_t bit = 1; bit < minDim; bit <<= 1, ++shift) {
        if (y & bit) result |= 1u << (2 * shift);
        if (x & bit) result |= 1u << (2 * shift + 1);
    }
    uint32_t rest = (blocksY < blocksX ? x : y) >> shift;
    return result | rest << (2 * shift);
}

struct Colour {
    int r, g, b, a;  // 5-bit colour, 4-bit alpha
};

int expand4to5(int v) {
    return (v << 1) | (v >> 3);
}

// Colour B: the top half of the colour word.
Colour unpackB(uint32_t bits) {
    if (bits & 0x8000)
        return {static_cast<int>(bits >> 10 & 0x1F), static_cast<int>(bits >> 5 & 0x1F),
                static_cast<int>(bits & 0x1F), 0xF};
    return {expand4to5(bits >> 8 & 0xF), expand4to5(bits >> 4 & 0xF), expand4to5(bits & 0xF),
            static_cast<int>(bits >> 12 & 0x7) << 1};
}

// Colour A: the bottom half, whose lowest bit is the block's modulation mode, so blue has one bit
// less than in colour B.
Colour unpackA(uint32_t bits) {
    if (bits & 0x8000) {
        int b4 = static_cast<int>(bits >> 1 & 0xF);
        return {static_cast<int>(bits >> 10 & 0x1F), static_cast<int>(bits >> 5 & 0x1F), expand4to5(b4), 0xF};
    }
    int b3 = static_cast<int>(bits >> 1 & 0x7);
    return {expand4to5(bits >> 8 & 0xF), expand4to5(bits >> 4 & 0xF), expand4to5((b3 << 1) | (b3 >> 2)),
            static_cast<int>(bits >> 12 & 0x7) << 1};
}

// Modulation weights in eighths of the way from colour A to colour B.
constexpr int kStandardWeights[4] = {0, 3, 5, 8};
constexpr int kPunchWeights[4] = {0, 4, 4, 8};

}  // namespace

size_t DKPVRTCLevelSize(uint32_t width, uint32_t height, bool twoBitsPerPixel) {
    size_t across = std::max<size_t>(twoBitsPerPixel ? width / 8 : width / 4, 2);
    size_t down = std::max<size_t>(height / 4, 2);
    return across * down * 8;
}

namespace {

// One level's blocks unpacked: each block's two colours, and per pixel of the padded grid a
// weight 0..8 from colour A to B, or -1..-3 for "interpolate" (2 bpp: the average of four,
// horizontal, vertical neighbours), and whether the pixel is punched through (alpha 0).
struct Blocks {
    int bw, bh;  // block size in pixels
    uint32_t across, down;
    int gridW, gridH;
    std::vector<Colour> colourA, colourB;
    std::vector<int> weight;
    std::vector<uint8_t> punch;

    Blocks(uint32_t width, uint32_t height, bool twoBitsPerPixel)
        : bw(twoBitsPerPixel ? 8 : 4),
          bh(4),
          across(std::max<uint32_t>(width / bw, 2)),
          down(std::max<uint32_t>(height / bh, 2)),
          gridW(static_cast<int>(across) * bw),
          gridH(static_cast<int>(down) * bh),
          colourA(across * down),
          colourB(across * down),
          weight(static_cast<size_t>(gridW) * gridH, 0),
          punch(weight.size(), 0) {}

    size_t pixel(uint32_t bx, uint32_t by, int x, int y) const {
        return static_cast<size_t>(by * bh + y) * gridW + bx * bw + x;
    }
};

void decodeModulation4(Blocks& b, uint32_t bx, uint32_t by, uint32_t mod, bool modeBit) {
    for (int y = 0; y < 4; ++y) {
        for (int x = 0; x < 4; ++x) {
            int v = mod >> (2 * (y * 4 + x)) & 3;
            b.weight[b.pixel(bx, by, x, y)] = modeBit ? kPunchWeights[v] : kStandardWeights[v];
            b.punch[b.pixel(bx, by, x, y)] = modeBit && v == 2;
        }
    }
}

void decodeModulation2(Blocks& b, uint32_t bx, uint32_t by, uint32_t mod, bool modeBit) {
    if (!modeBit) {
        for (int y = 0; y < 4; ++y)
            for (int x = 0; x < 8; ++x) b.weight[b.pixel(bx, by, x, y)] = (mod >> (y * 8 + x) & 1) ? 8 : 0;
        return;
    }
    // Half the pixels (a checkerboard) carry 2-bit values; the others are interpolated. Two of the
    // stored bits double as the choice of interpolation.
    int missing = -1;
    if (mod & 1) {
        missing = (mod & (1u << 20)) ? -3 : -2;
        mod = (mod & (1u << 21)) ? mod | (1u << 20) : mod & ~(1u << 20);
    }
    mod = (mod & 2) ? mod | 1u : mod & ~1u;
    for (int y = 0; y < 4; ++y) {
        for (int x = 0; x < 8; ++x) {
            if (((x ^ y) & 1) == 0) {
                b.weight[b.pixel(bx, by, x, y)] = kStandardWeights[mod & 3];
                mod >>= 2;
            } else {
                b.weight[b.pixel(bx, by, x, y)] = missing;
            }
        }
    }
}

void decodeBlocks(Blocks& b, const uint8_t* data, bool twoBitsPerPixel) {
    for (uint32_t by = 0; by < b.down; ++by) {
        for (uint32_t bx = 0; bx < b.across; ++bx) {
            const uint8_t* block = data + static_cast<size_t>(twiddle(b.across, b.down, bx, by)) * 8;
            uint32_t mod = word(block), colour = word(block + 4);
            b.colourA[by * b.across + bx] = unpackA(colour & 0xFFFF);
            b.colourB[by * b.across + bx] = unpackB(colour >> 16);
            if (twoBitsPerPixel)
                decodeModulation2(b, bx, by, mod, colour & 1);
            else
                decodeModulation4(b, bx, by, mod, colour & 1);
        }
    }
}

// 2 bpp: the interpolated pixels take their weight from stored neighbours (wrapping around).
void resolveWeights(Blocks& b) {
    auto stored = [&](int x, int y) {
        x = (x + b.gridW) % b.gridW;
        y = (y + b.gridH) % b.gridH;
        int w = b.weight[static_cast<size_t>(y) * b.gridW + x];
        return w < 0 ? 0 : w;  // neighbours of a missing pixel are always stored ones
    };
    std::vector<int> resolved(b.weight);
    for (int y = 0; y < b.gridH; ++y) {
        for (int x = 0; x < b.gridW; ++x) {
            int& w = resolved[static_cast<size_t>(y) * b.gridW + x];
            if (w == -1)
                w = (stored(x - 1, y) + stored(x + 1, y) + stored(x, y - 1) + stored(x, y + 1) + 2) / 4;
            else if (w == -2)
                w = (stored(x - 1, y) + stored(x + 1, y) + 1) / 2;
            else if (w == -3)
                w = (stored(x, y - 1) + stored(x, y + 1) + 1) / 2;
        }
    }
    b.weight.swap(resolved);
}

// Each block's two colours sit at the block's centre; a pixel blends the four nearest blocks'
// colours bilinearly (wrapping around the edges), then mixes A and B by its weight.
void blendPixel(const Blocks& b, uint32_t px, uint32_t py, uint8_t* dst) {
    const int sy = static_cast<int>(py) - b.bh / 2 + b.gridH, sx = static_cast<int>(px) - b.bw / 2 + b.gridW;
    const int by0 = sy / b.bh % static_cast<int>(b.down), by1 = (by0 + 1) % static_cast<int>(b.down);
    const int bx0 = sx / b.bw % static_cast<int>(b.across), bx1 = (bx0 + 1) % static_cast<int>(b.across);
    const int fy = sy % b.bh, fx = sx % b.bw;
    const int w00 = (b.bw - fx) * (b.bh - fy), w10 = fx * (b.bh - fy), w01 = (b.bw - fx) * fy, w11 = fx * fy;
    auto blend = [&](const std::vector<Colour>& c, int Colour::*channel) {
        return c[by0 * b.across + bx0].*channel * w00 + c[by0 * b.across + bx1].*channel * w10 +
               c[by1 * b.across + bx0].*channel * w01 + c[by1 * b.across + bx1].*channel * w11;
    };
    const size_t i = static_cast<size_t>(py) * b.gridW + px;
    const int m = b.weight[i];
    int Colour::*channels[4] = {&Colour::r, &Colour::g, &Colour::b, &Colour::a};
    for (int c = 0; c < 4; ++c) {
        long mixed = static_cast<long>(blend(b.colourA, channels[c])) * (8 - m) +
                     static_cast<long>(blend(b.colourB, channels[c])) * m;
        long full = (c == 3 ? 15L : 31L) * b.bw * b.bh * 8;
        dst[c] = static_cast<uint8_t>((mixed * 255 + full / 2) / full);
    }
    if (b.punch[i]) dst[3] = 0;
}

}  // namespace

std::vector<uint8_t> DKDecodePVRTC(const uint8_t* data, uint32_t width, uint32_t height,
                                   bool twoBitsPerPixel) {
    Blocks blocks(width, height, twoBitsPerPixel);
    decodeBlocks(blocks, data, twoBitsPerPixel);
    if (twoBitsPerPixel) resolveWeights(blocks);
    std::vector<uint8_t> out(static_cast<size_t>(width) * height * 4);
    for (uint32_t py = 0; py < height; ++py)
        for (uint32_t px = 0; px < width; ++px)
            blendPixel(blocks, px, py, &out[(static_cast<size_t>(py) * width + px) * 4]);
    return out;
}

std::unique_ptr<PVRTexture> PVRTexture::initWithContentsOfFile(const std::string& path) {
    const std::optional<std::string> bytes = plat::sys::readWholeFile(path, plat::sys::kImageCap);
    if (!bytes) return nullptr;
    const std::vector<uint8_t> data(bytes->begin(), bytes->end());
    std::unique_ptr<PVRTexture> texture(new PVRTexture);
    if (!texture->unpackPVRData(data)) return nullptr;
    if (!texture->createGLTexture()) {
        // Nobody took the name yet: the half-made texture is ours to delete.
        GLuint name = texture->m_name;
        if (name) glDeleteTextures(1, &name);
        return nullptr;
    }
    return texture;
}

std::unique_ptr<PVRTexture> PVRTexture::initWithContentsOfURL(const std::string& url) {
    const std::string scheme = "file://";
    if (url.compare(0, scheme.size(), scheme) != 0) return nullptr;
    return initWithContentsOfFile(url.substr(scheme.size()));
}

bool PVRTexture::unpackPVRData(const std::vector<uint8_t>& data) {
    // The header's sizes are checked against the bytes we really have: a short file is refused
    // rather than read past its end.
    if (data.size() < kHeaderSize) return false;
    const uint8_t* header = data.data();
    if (std::memcmp(header + 44, "PVR!", 4) != 0) return false;
    uint32_t format = word(header + 16) & 0xFF;
    if (format != kFormat2bpp && format != kFormat4bpp) return false;
    bool twoBits = format == kFormat2bpp;
    uint32_t height = word(header + 4), width = word(header + 8), dataLength = word(header + 20);
    if (!isPowerOfTwo(width) || !isPowerOfTwo(height)) return false;
    if (dataLength > data.size() - kHeaderSize) return false;

    m_imageData.clear();
    m_internalFormat = twoBits ? DK_GL_COMPRESSED_RGBA_PVRTC_2BPPV1 : DK_GL_COMPRESSED_RGBA_PVRTC_4BPPV1;
    m_width = width;
    m_height = height;
    m_hasAlpha = word(header + 40) != 0;
    size_t consumed = 0;
    while (consumed < dataLength) {
        size_t size = DKPVRTCLevelSize(width, height, twoBits);
        if (size > dataLength - consumed) {
            m_imageData.clear();
            return false;
        }
        const uint8_t* level = data.data() + kHeaderSize + consumed;
        m_imageData.emplace_back(level, level + size);
        consumed += size;
        width = std::max(width / 2, 1u);
        height = std::max(height / 2, 1u);
    }
    return true;
}

bool PVRTexture::createGLTexture() {
    if (m_imageData.empty()) return true;
    GLint maxSize = 0;
    glGetIntegerv(GL_MAX_TEXTURE_SIZE, &maxSize);
    if (maxSize > 0 &&
        (m_width > static_cast<uint32_t>(maxSize) || m_height > static_cast<uint32_t>(maxSize))) {
        std::fprintf(stderr, "Error uploading compressed texture level: %d. glError: 0x%04X\n", 0,
                     GL_INVALID_VALUE);
        return false;
    }
    if (m_name) {
        GLuint old = m_name;
        glDeleteTextures(1, &old);
    }
    GLuint name = 0;
    glGenTextures(1, &name);
    // The renderer caches the bound texture: leave the binding as it was found.
    GLint previous = 0;
    glGetIntegerv(GL_TEXTURE_BINDING_2D, &previous);
    glBindTexture(GL_TEXTURE_2D, name);
    m_name = name;
    while (glGetError() != GL_NO_ERROR) {
    }
    GLint alignment = 4;
    glGetIntegerv(GL_UNPACK_ALIGNMENT, &alignment);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    bool twoBits = m_internalFormat == DK_GL_COMPRESSED_RGBA_PVRTC_2BPPV1;
    uint32_t width = m_width, height = m_height;
    for (size_t i = 0; i < m_imageData.size(); ++i) {
        std::vector<uint8_t> rgba = DKDecodePVRTC(m_imageData[i].data(), width, height, twoBits);
        glTexImage2D(GL_TEXTURE_2D, static_cast<GLint>(i), GL_RGBA, static_cast<GLsizei>(width),
                     static_cast<GLsizei>(height), 0, GL_RGBA, GL_UNSIGNED_BYTE, rgba.data());
        GLenum err = glGetError();
        if (err != GL_NO_ERROR) {
            std::fprintf(stderr, "Error uploading compressed texture level: %d. glError: 0x%04X\n",
                         static_cast<int>(i), err);
            glPixelStorei(GL_UNPACK_ALIGNMENT, alignment);
            glBindTexture(GL_TEXTURE_2D, static_cast<GLuint>(previous));
            return false;
        }
        width = std::max(width / 2, 1u);
        height = std::max(height / 2, 1u);
    }
    glPixelStorei(GL_UNPACK_ALIGNMENT, alignment);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
    const char* extensions = reinterpret_cast<const char*>(glGetString(GL_EXTENSIONS));
    if (extensions && std::strstr(extensions, "GL_EXT_texture_filter_anisotropic"))
        glTexParameterf(GL_TEXTURE_2D, GL_TEXTURE_MAX_ANISOTROPY_EXT, 1.0f);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
    glBindTexture(GL_TEXTURE_2D, static_cast<GLuint>(previous));
    m_imageData.clear();
    return true;
}
