// Text to textures: box sizes, wrapping, alignment, row order, premultiplied glyphs, limits.
#include <GLES2/gl2.h>
#include <gtest/gtest.h>

#include <algorithm>

#include "port/DKTextures.h"
#include "port/Texture2D.h"
#include "port/tests/TextureTestSupport.h"

using namespace dktest;

namespace {

struct Ink {
    int minX = 1 << 30, maxX = -1, minY = 1 << 30, maxY = -1;
    bool premultiplied = true;  // white glyphs: every channel equals alpha
    std::vector<int> perRow;    // inked pixels in each row
};

Ink inkOf(const SGImage& image, int pixelsWide, int pixelsHigh) {
    auto pixels = readTexture(image.texture, pixelsWide, pixelsHigh);
    Ink ink;
    ink.perRow.assign(pixelsHigh, 0);
    for (int y = 0; y < pixelsHigh; ++y) {
        for (int x = 0; x < pixelsWide; ++x) {
            const uint8_t* p = &pixels[(y * pixelsWide + x) * 4];
            if (p[0] != p[3] || p[1] != p[3] || p[2] != p[3]) ink.premultiplied = false;
            if (p[3] > 64) {
                ++ink.perRow[y];
                ink.minX = std::min(ink.minX, x), ink.maxX = std::max(ink.maxX, x);
                ink.minY = std::min(ink.minY, y), ink.maxY = std::max(ink.maxY, y);
            }
        }
    }
    return ink;
}

// Separate runs of inked rows: one per line of text.
int lineCount(const Ink& ink) {
    int lines = 0;
    for (size_t y = 0; y < ink.perRow.size(); ++y) lines += ink.perRow[y] && (y == 0 || !ink.perRow[y - 1]);
    return lines;
}

class Text : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(useGL());
        DKSetScreenScale(1.0f);
    }
    void TearDown() override { DKSetScreenScale(1.0f); }
};

}  // namespace

TEST_F(Text, BoxIsTheTextSizeInPixels) {
    SGImage one = DKImageFromString("Hello", "DejaVu Sans", 20, DKTextAlignmentLeft, false, 0, 0);
    ASSERT_NE(one.texture, 0u);
    EXPECT_EQ(one.premultiplied, 0);
    // A 20-pixel font has lines of about 23 pixels (in points it would be about 31).
    EXPECT_TRUE(one.height >= 20 && one.height <= 26) << one.height;
    EXPECT_TRUE(one.width > 40 && one.width < 70) << one.width;

    SGImage two = DKImageFromString("Hello\nHello", "DejaVu Sans", 20, DKTextAlignmentLeft, false, 0, 0);
    EXPECT_NEAR(two.textureRect.y1 * two.textureHeight, 2 * one.textureRect.y1 * one.textureHeight, 0.01);
    EXPECT_EQ(two.width, one.width);
    EXPECT_EQ(lineCount(inkOf(two, two.textureWidth, two.textureHeight)), 2);
    one.freeImage();
    two.freeImage();
}

TEST_F(Text, GlyphsAreWhitePremultipliedWithTheBoxBottomFirst) {
    SGImage image = DKImageFromString("T", "DejaVu Sans", 40, DKTextAlignmentLeft, false, 0, 0);
    ASSERT_NE(image.texture, 0u);
    Ink ink = inkOf(image, image.textureWidth, image.textureHeight);
    EXPECT_TRUE(ink.premultiplied);
    EXPECT_LT(ink.maxY, image.height);  // nothing above the box
    // The bar of the T is its widest row and sits at the top, i.e. in the highest rows.
    auto widestRow = std::max_element(ink.perRow.begin(), ink.perRow.end()) - ink.perRow.begin();
    EXPECT_GT(widestRow, (ink.minY + ink.maxY) / 2);
    image.freeImage();
}

TEST_F(Text, FixedBoxWrapsAndAligns) {
    SGImage wrapped = DKImageFromString("one two three four five six", "DejaVu Sans", 16, DKTextAlignmentLeft,
                                        true, 100, 120);
    ASSERT_EQ(wrapped.textureWidth, 128);
    EXPECT_EQ(wrapped.height, 120);
    Ink ink = inkOf(wrapped, 128, 128);
    EXPECT_GE(lineCount(ink), 2);
    EXPECT_LT(ink.maxX, 100);
    wrapped.freeImage();

    auto centreOf = [](int alignment) {
        SGImage image = DKImageFromString("Hi", "DejaVu Sans", 20, static_cast<DKTextAlignment>(alignment),
                                          true, 200, 30);
        Ink ink = inkOf(image, 256, 32);
        image.freeImage();
        return (ink.minX + ink.maxX) / 2;
    };
    EXPECT_LT(centreOf(DKTextAlignmentLeft), 20);
    EXPECT_GT(centreOf(DKTextAlignmentRight), 180);
    EXPECT_NEAR(centreOf(DKTextAlignmentCenter), 100, 3);
    EXPECT_EQ(centreOf(5), centreOf(DKTextAlignmentCenter));
}

TEST_F(Text, ScaleTwoRendersTwiceTheSizeAndMeasuresHalf) {
    SGImage normal = DKImageFromString("Scale", "DejaVu Sans", 12, DKTextAlignmentLeft, false, 0, 0);
    DKSetScreenScale(2.0f);
    SGImage doubled = DKImageFromString("Scale", "DejaVu Sans", 12, DKTextAlignmentLeft, false, 0, 0);
    // Hinting keeps glyph widths from scaling exactly.
    EXPECT_NEAR(doubled.width, normal.width, 2);
    EXPECT_NEAR(doubled.height, normal.height, 1);
    // The texture holds twice the pixels; the image reports half of them.
    float normalBox = normal.textureRect.x1 * normal.textureWidth;
    float doubledBox = doubled.textureRect.x1 * doubled.textureWidth * 2;
    EXPECT_NEAR(doubledBox, 2 * normalBox, 4);
    SGImage box = DKImageFromString("x", "DejaVu Sans", 12, DKTextAlignmentLeft, true, 50, 20);
    EXPECT_EQ(box.width, 50);
    EXPECT_EQ(box.textureWidth, 64);  // 100 pixels in a 128-wide texture, halved
    normal.freeImage();
    doubled.freeImage();
    box.freeImage();
}

TEST_F(Text, EmptyUnknownAndHugeText) {
    GLuint before = 0;
    glGenTextures(1, &before);
    SGImage empty = DKImageFromString("", "DejaVu Sans", 20, DKTextAlignmentLeft, false, 0, 0);
    SGImage none = DKImageFromString(nullptr, "DejaVu Sans", 20, DKTextAlignmentLeft, false, 0, 0);
    SGImage flat = DKImageFromString("\n", "DejaVu Sans", 20, DKTextAlignmentLeft, false, 0, 0);  // no width
    GLuint after = 0;
    glGenTextures(1, &after);
    EXPECT_TRUE(empty.isNull() && none.isNull() && flat.isNull());
    EXPECT_EQ(after, before + 1);  // no texture name was taken in between
    glDeleteTextures(1, &before);
    glDeleteTextures(1, &after);

    SGImage fallback = DKImageFromString("Hello", "NoSuchFont-Bold", 20, DKTextAlignmentLeft, false, 0, 0);
    EXPECT_GT(fallback.width, 0);
    fallback.freeImage();

    GLint maxSize = 0;
    glGetIntegerv(GL_MAX_TEXTURE_SIZE, &maxSize);
    SGImage huge =
        DKImageFromString("wide", "DejaVu Sans", 20, DKTextAlignmentLeft, true, 4.0f * maxSize, 10);
    ASSERT_NE(huge.texture, 0u);
    EXPECT_LE(huge.textureWidth, maxSize);
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
    huge.freeImage();
}
