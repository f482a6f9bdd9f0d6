// PVRTC files we build block by block, decoded in software to known colours.
#include <GLES2/gl2.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>

#include "port/DKTextures.h"
#include "port/PVRTexture.h"
#include "port/tests/TextureTestSupport.h"

using namespace dktest;

namespace {

void put32(std::vector<uint8_t>& out, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) out[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

std::vector<uint8_t> pvrFile(uint32_t width, uint32_t height, uint32_t format,
                             const std::vector<uint8_t>& data, uint32_t alphaMask = 0,
                             const char* tag = "PVR!") {
    std::vector<uint8_t> file(52 + data.size(), 0);
    put32(file, 0, 52);
    put32(file, 4, height);
    put32(file, 8, width);
    put32(file, 16, format | 0x8000);  // flags above the low byte are not the format
    put32(file, 20, static_cast<uint32_t>(data.size()));
    put32(file, 40, alphaMask);
    std::memcpy(&file[44], tag, 4);
    std::copy(data.begin(), data.end(), file.begin() + 52);
    return file;
}

// Colour words: A in the low half (bit 0 = modulation mode), B in the high half.
constexpr uint32_t kOpaqueRedA = 0x8000 | 31u << 10;
constexpr uint32_t kOpaqueBlueB = (0x8000u | 31u) << 16;
constexpr uint32_t kTranslucentRedA = 7u << 12 | 15u << 8;  // alpha 7 of 7, red 15 of 15

void putBlock(std::vector<uint8_t>& data, size_t index, uint32_t modulation, uint32_t colour) {
    put32(data, index * 8, modulation);
    put32(data, index * 8 + 4, colour);
}

std::vector<uint8_t> sameBlocks(size_t count, uint32_t modulation, uint32_t colour) {
    std::vector<uint8_t> data(count * 8);
    for (size_t i = 0; i < count; ++i) putBlock(data, i, modulation, colour);
    return data;
}

int mix(int a, int b, int eighths) {
    return static_cast<int>(std::floor((a * (8 - eighths) + b * eighths) / 8.0 + 0.5));
}

class PVRTC : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(useGL()); }

    SGImage load(const std::vector<uint8_t>& file) {
        writeBytes(dir.file("t.pvrtc"), file);
        return DKLoadImageFromFile(dir.file("t.pvrtc").c_str());
    }

    TempDir dir;
};

}  // namespace

TEST_F(PVRTC, FourBitModulationBlendsTheTwoColours) {
    // 16 × 16: 4 × 4 blocks, all red (A) and blue (B); pixel (x, y) of each block has modulation
    // value (x + y) % 4, i.e. 0, 3, 5 or 8 eighths of the way to blue.
    uint32_t modulation = 0;
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 4; ++x) modulation |= static_cast<uint32_t>((x + y) % 4) << (2 * (y * 4 + x));
    SGImage image = load(pvrFile(16, 16, 25, sameBlocks(16, modulation, kOpaqueRedA | kOpaqueBlueB)));
    ASSERT_NE(image.texture, 0u);
    EXPECT_EQ(image.width, 16);
    EXPECT_EQ(image.textureRect, (SGTextureRect{0, 0, 1, 1}));
    EXPECT_EQ(image.premultiplied, 0);

    const int eighths[4] = {0, 3, 5, 8};
    auto pixels = readTexture(image.texture, 16, 16);
    for (int y = 0; y < 16; ++y) {
        for (int x = 0; x < 16; ++x) {
            const uint8_t* p = &pixels[(y * 16 + x) * 4];
            int w = eighths[(x % 4 + y % 4) % 4];  // rows kept in file order
            ASSERT_NEAR(p[0], mix(255, 0, w), 1) << x << "," << y;
            ASSERT_NEAR(p[2], mix(0, 255, w), 1) << x << "," << y;
            ASSERT_EQ(p[1], 0);
            ASSERT_EQ(p[3], 255);
        }
    }
    image.freeImage();
}

TEST_F(PVRTC, TranslucentColoursAndPunchThrough) {
    // Mode bit set: value 1 is halfway, value 2 halfway with alpha 0, 3 is colour B.
    uint32_t modulation = 0 | 1u << 2 | 2u << 4 | 3u << 6;  // first row: 0, 1, 2, 3
    SGImage image =
        load(pvrFile(8, 8, 25, sameBlocks(4, modulation, kTranslucentRedA | kOpaqueBlueB | 1u), 0xFF));
    ASSERT_NE(image.texture, 0u);
    auto pixels = readTexture(image.texture, 8, 8);
    auto at = [&](int x) { return &pixels[x * 4]; };
    EXPECT_EQ(at(0)[0], 255);
    EXPECT_EQ(at(0)[3], 238);  // alpha 14 of 15
    EXPECT_NEAR(at(1)[0], 128, 1);
    EXPECT_NEAR(at(1)[3], mix(238, 255, 4), 1);
    EXPECT_EQ(at(2)[3], 0);
    EXPECT_EQ(at(3)[2], 255);
    EXPECT_EQ(at(3)[3], 255);
    image.freeImage();
}

TEST_F(PVRTC, BlocksAreInMortonOrder) {
    struct Case {
        uint32_t width, height;
        size_t marked;  // file block index shown in colour B
        int x0, y0;     // where that block lands
    };
    // Square: y gives the low bit of each pair. Wider than high: the extra x bits come on top.
    for (Case c : {Case{16, 16, 2, 4, 0}, Case{16, 16, 1, 0, 4}, Case{32, 16, 16, 16, 0}}) {
        SCOPED_TRACE(c.marked);
        size_t blocks = (c.width / 4) * (c.height / 4);
        std::vector<uint8_t> data(blocks * 8);
        for (size_t i = 0; i < blocks; ++i)
            putBlock(data, i, i == c.marked ? 0xFFFFFFFFu : 0u, kOpaqueRedA | kOpaqueBlueB);
        SGImage image = load(pvrFile(c.width, c.height, 25, data));
        ASSERT_NE(image.texture, 0u);
        auto pixels = readTexture(image.texture, static_cast<int>(c.width), static_cast<int>(c.height));
        for (int y = 0; y < static_cast<int>(c.height); ++y)
            for (int x = 0; x < static_cast<int>(c.width); ++x) {
                bool inBlock = x >= c.x0 && x < c.x0 + 4 && y >= c.y0 && y < c.y0 + 4;
                ASSERT_EQ(pixels[(y * c.width + x) * 4 + 2], inBlock ? 255 : 0) << x << "," << y;
            }
        image.freeImage();
    }
}

TEST_F(PVRTC, TwoBitBlocks) {
    // 16 × 8: 2 × 2 blocks of 8 × 4. Direct mode: one bit per pixel, the left half of each block B.
    uint32_t modulation = 0;
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 4; ++x) modulation |= 1u << (y * 8 + x);
    SGImage image = load(pvrFile(16, 8, 24, sameBlocks(4, modulation, kOpaqueRedA | kOpaqueBlueB)));
    ASSERT_EQ(image.height, 8);
    auto pixels = readTexture(image.texture, 16, 8);
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 16; ++x)
            ASSERT_EQ(pixels[(y * 16 + x) * 4 + 2], x % 8 < 4 ? 255 : 0) << x << "," << y;
    image.freeImage();

    // Interpolated mode with every stored value at 3: the missing pixels come out as B too.
    image = load(pvrFile(16, 8, 24, sameBlocks(4, 0xFFFFFFFFu, kOpaqueRedA | kOpaqueBlueB | 1u)));
    pixels = readTexture(image.texture, 16, 8);
    for (int i = 0; i < 16 * 8; ++i) ASSERT_EQ(pixels[i * 4 + 2], 255) << i;
    image.freeImage();
}

TEST_F(PVRTC, MipmapLevelsLoadAndTheBoundTextureStays) {
    // The renderer trusts its cache of the bound texture across image loads.
    GLuint bound = 0;
    glGenTextures(1, &bound);
    glBindTexture(GL_TEXTURE_2D, bound);
    // 8 × 8 down to 1 × 1: every level is at least 2 × 2 blocks (32 bytes).
    SGImage image = load(pvrFile(8, 8, 25, sameBlocks(16, 0, kOpaqueRedA | kOpaqueBlueB)));
    ASSERT_EQ(image.width, 8);
    GLint now = 0;
    glGetIntegerv(GL_TEXTURE_BINDING_2D, &now);
    EXPECT_EQ(static_cast<GLuint>(now), bound);
    EXPECT_EQ(readTexture(image.texture, 8, 8)[0], 255);
    image.freeImage();
    glBindTexture(GL_TEXTURE_2D, 0);
    glDeleteTextures(1, &bound);
}

TEST_F(PVRTC, MalformedFilesAreRefused) {
    std::vector<uint8_t> level(32, 0);
    auto good = pvrFile(8, 8, 25, level);
    auto shortData = good;
    shortData.resize(good.size() - 1);  // header claims 32 bytes of data, 31 present
    auto halfLevel = pvrFile(8, 8, 25, std::vector<uint8_t>(16, 0));  // data length ends mid-level
    auto longerLevelThanFile = pvrFile(1024, 1024, 25, level);
    std::vector<uint8_t> headerOnly(good.begin(), good.begin() + 40);

    for (auto* file : {&shortData, &halfLevel, &longerLevelThanFile, &headerOnly}) {
        SGImage image = load(*file);
        EXPECT_EQ(image.texture, 0u);
        EXPECT_EQ(image.width, 0);
    }
    EXPECT_EQ(load(pvrFile(8, 8, 26, level)).texture, 0u);             // not PVRTC
    EXPECT_EQ(load(pvrFile(8, 8, 25, level, 0, "PVR?")).texture, 0u);  // wrong tag
    EXPECT_EQ(load(pvrFile(12, 8, 25, level)).texture, 0u);            // not a power of two
    EXPECT_EQ(load(pvrFile(8, 8, 25, {})).texture, 0u);                // no levels at all

    SGImage image = load(good);
    EXPECT_NE(image.texture, 0u);
    image.freeImage();
    EXPECT_FALSE(PVRTexture::initWithContentsOfURL("http://example.com/t.pvrtc"));
    writeBytes(dir.file("u.pvrtc"), good);
    auto viaURL = PVRTexture::initWithContentsOfURL("file://" + dir.file("u.pvrtc"));
    ASSERT_TRUE(viaURL);
    EXPECT_FALSE(viaURL->hasAlpha());
    SGImage{0, 0, viaURL->name(), 0, 0, {}, 0}.freeImage();
}
