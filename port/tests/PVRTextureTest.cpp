// PVRTC files built block by block from what the format itself fixes: each block's colours A and
// B, modulation 0 for all A, 3 for all B, 2 punched through in the block's alternative mode, the
// blocks in Morton order. Blends between A and B are left to the pictures of real files.
#include <GLES2/gl2.h>
#include <gtest/gtest.h>

#include <cstring>
#include <functional>

#include "port/DKTextures.h"
#include "port/PVRTexture.h"
#include "port/tests/TextureTest.h"

using namespace dktest;

namespace {

constexpr uint32_t k2bpp = 24, k4bpp = 25;

std::string le32(uint32_t v) {
    return std::string{char(v), char(v >> 8), char(v >> 16), char(v >> 24)};
}

std::string pvrFile(uint32_t width, uint32_t height, uint32_t format, const std::string& data,
                    const char* tag = "PVR!") {
    // Flags above the format's low byte are not the format.
    return le32(52) + le32(height) + le32(width) + le32(0) + le32(format | 0x8000) +
           le32(uint32_t(data.size())) + std::string(16, '\0') + le32(0) + tag + le32(0) + data;
}

// Colour words: A in the low half (bit 0 = the modulation mode), B in the high half.
constexpr uint32_t kRedA = 0x8000 | 31u << 10, kBlueB = (0x8000u | 31u) << 16, kRedB = kRedA << 16;
constexpr uint32_t kTranslucentRedA = 7u << 12 | 15u << 8;  // alpha 7 of 7, red 15 of 15
constexpr uint32_t kAltMode = 1;

std::string blocks(size_t count, uint32_t modulation, uint32_t colour, size_t marked = ~size_t(0)) {
    std::string data;
    for (size_t i = 0; i < count; ++i) data += le32(i == marked ? 0xFFFFFFFFu : modulation) + le32(colour);
    return data;
}

using PVRTC = TextureTest;

constexpr uint32_t kRed = 0xFF0000FF, kBlue = 0x0000FFFF;

TEST_F(PVRTC, ModulationPicksColourAOrBPerPixelAndBlocksAreInMortonOrder) {
    struct Case {
        uint32_t width, height, format, modulation, colour;
        size_t marked;  // a block whose pixels are all colour B
        std::function<uint32_t(int, int)> pixel;
    };
    const size_t none = ~size_t(0);
    uint32_t chequer4 = 0, left2 = 0;  // values 0 and 3 alternating; one bit per pixel, left half set
    for (int i = 0; i < 16; ++i) chequer4 |= ((i % 4 + i / 4) % 2 ? 3u : 0u) << (2 * i);
    for (int y = 0; y < 4; ++y) left2 |= 0xFu << (8 * y);
    auto red = [](int, int) { return kRed; };
    auto blue = [](int, int) { return kBlue; };
    auto blueBlockAt = [](int x0, int y0) {
        return [=](int x, int y) { return x >= x0 && x < x0 + 4 && y >= y0 && y < y0 + 4 ? kBlue : kRed; };
    };
    const Case cases[] = {
        {16, 8, k4bpp, 0, kRedA | kBlueB, none, red},
        {16, 8, k4bpp, 0xFFFFFFFF, kRedA | kBlueB, none, blue},
        {16, 8, k4bpp, chequer4, kRedA | kBlueB, none,
         [](int x, int y) { return (x + y) % 2 ? kBlue : kRed; }},
        {16, 8, k4bpp, 0, kTranslucentRedA | kBlueB, none,
         [](int, int) { return 0xFF0000EEu; }},  // alpha 14/15
        {16, 8, k4bpp, 0xAAAAAAAA, kRedA | kRedB | kAltMode, none,
         [](int, int) { return 0xFF000000u; }},  // punched
        {16, 8, k2bpp, left2, kRedA | kBlueB, none, [](int x, int) { return x % 8 < 4 ? kBlue : kRed; }},
        // Half the pixels are stored, the others interpolated from them.
        {16, 8, k2bpp, 0xFFFFFFFF, kRedA | kBlueB | kAltMode, none, blue},
        // Square: y gives the low bit of each pair. Wider than high: the extra x bits come on top.
        {16, 16, k4bpp, 0, kRedA | kBlueB, 2, blueBlockAt(4, 0)},
        {16, 16, k4bpp, 0, kRedA | kBlueB, 1, blueBlockAt(0, 4)},
        {32, 16, k4bpp, 0, kRedA | kBlueB, 16, blueBlockAt(16, 0)}};
    for (const Case& c : cases) {
        const int w = int(c.width), h = int(c.height);
        SGImage image = load(pvrFile(
            w, h, c.format, blocks(w * h / (c.format == k4bpp ? 16 : 32), c.modulation, c.colour, c.marked)));
        std::vector<uint8_t> want;
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                for (int i = 0; i < 4; ++i) want.push_back(uint8_t(c.pixel(x, y) >> (24 - 8 * i)));
        EXPECT_EQ(readTexture(image.texture, w, h), want) << &c - cases;
        image.freeImage();
    }
}

TEST_F(PVRTC, MipmapLevelsLoadAndTheBoundTextureStays) {
    // The renderer trusts its cache of the bound texture across image loads.
    GLuint bound = 0;
    glGenTextures(1, &bound);
    glBindTexture(GL_TEXTURE_2D, bound);
    // 8 × 8 down to 1 × 1: every level is at least 2 × 2 blocks.
    SGImage image = load(pvrFile(8, 8, k4bpp, blocks(16, 0, kRedA | kBlueB)));
    GLint now = 0;
    glGetIntegerv(GL_TEXTURE_BINDING_2D, &now);
    EXPECT_EQ(static_cast<GLuint>(now), bound);
    EXPECT_EQ(readTexture(image.texture, 8, 8)[0], 255);
    image.freeImage();
    glBindTexture(GL_TEXTURE_2D, 0);
    glDeleteTextures(1, &bound);
}

TEST_F(PVRTC, MalformedFilesAreRefused) {
    const std::string level(32, '\0'), good = pvrFile(8, 8, k4bpp, level);
    GLint maxSize = 0;
    glGetIntegerv(GL_MAX_TEXTURE_SIZE, &maxSize);
    const std::string bad[] = {
        good.substr(0, good.size() - 1),         // the header claims a byte more than is there
        pvrFile(8, 8, k4bpp, level.substr(16)),  // the data ends mid-level
        pvrFile(1024, 1024, k4bpp, level),       // a level longer than the file
        good.substr(0, 40),                      // a short header
        pvrFile(8, 8, 26, level),                // not PVRTC
        pvrFile(8, 8, k4bpp, level, "PVR?"),     // wrong tag
        pvrFile(12, 8, k4bpp, level),            // not a power of two
        pvrFile(8, 8, k4bpp, ""),                // no levels at all
        pvrFile(2 * maxSize, 8, k4bpp, std::string(8 * size_t(maxSize), '\0')),  // wider than GL allows
    };
    for (const std::string& file : bad) {
        SGImage image = load(file);
        EXPECT_EQ(image.texture, 0u) << &file - bad;
        EXPECT_EQ(image.width, 0);
    }
    EXPECT_FALSE(PVRTexture::initWithContentsOfURL("http://example.com/t.pvrtc"));
    writeFile(dir.file("u.pvrtc"), good);
    auto viaURL = PVRTexture::initWithContentsOfURL("file://" + dir.file("u.pvrtc"));
    ASSERT_TRUE(viaURL);
    SGImage{0, 0, viaURL->name(), 0, 0, {}, 0}.freeImage();
}

}  // namespace
