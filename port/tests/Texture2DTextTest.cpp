// Text to textures: box sizes, wrapping, alignment, row order, premultiplied glyphs, limits.
#include <GLES2/gl2.h>
#include <gtest/gtest.h>

#include "port/DKTextures.h"
#include "port/tests/TextureTest.h"

using namespace dktest;

namespace {

struct Ink {
    int minX = 1 << 30, maxX = -1, minY = 1 << 30, maxY = -1;
    bool premultiplied = true;  // white glyphs: every channel equals alpha
    std::vector<int> perRow;    // inked pixels in each row
    int lines = 0;              // separate runs of inked rows
};

// The ink of `text` drawn at `size` in a texture, freed afterwards; `image` gets the image.
Ink inkOf(const char* text, float size, int alignment = DKTextAlignmentLeft, bool fixed = false, float w = 0,
          float h = 0, SGImage* image = nullptr) {
    SGImage made =
        DKImageFromString(text, "DejaVu Sans", size, static_cast<DKTextAlignment>(alignment), fixed, w, h);
    auto pixels = readTexture(made.texture, made.textureWidth, made.textureHeight);
    Ink ink;
    ink.perRow.assign(made.textureHeight, 0);
    for (int y = 0; y < made.textureHeight; ++y) {
        for (int x = 0; x < made.textureWidth; ++x) {
            const uint8_t* p = &pixels[(y * made.textureWidth + x) * 4];
            ink.premultiplied &= p[0] == p[3] && p[1] == p[3] && p[2] == p[3];
            if (p[3] <= 64) continue;
            ++ink.perRow[y];
            ink.minX = std::min(ink.minX, x), ink.maxX = std::max(ink.maxX, x);
            ink.minY = std::min(ink.minY, y), ink.maxY = std::max(ink.maxY, y);
        }
        ink.lines += ink.perRow[y] && (y == 0 || !ink.perRow[y - 1]);
    }
    if (image) *image = made;
    made.freeImage();
    return ink;
}

using Text = TextureTest;

TEST_F(Text, BoxIsTheTextSizeAndGlyphsAreWhitePremultipliedBottomFirst) {
    SGImage one, two, t;
    inkOf("Hello", 20, DKTextAlignmentLeft, false, 0, 0, &one);
    EXPECT_EQ(one.premultiplied, 0);
    // A 20-pixel font has lines of about 23 pixels (in points it would be about 31).
    EXPECT_TRUE(one.height >= 20 && one.height <= 26 && one.width > 40 && one.width < 70)
        << one.width << "x" << one.height;
    EXPECT_EQ(inkOf("Hello\nHello", 20, DKTextAlignmentLeft, false, 0, 0, &two).lines, 2);
    EXPECT_NEAR(two.textureRect.y1 * two.textureHeight, 2 * one.textureRect.y1 * one.textureHeight, 0.01);
    EXPECT_EQ(two.width, one.width);
    Ink ink = inkOf("T", 40, DKTextAlignmentLeft, false, 0, 0, &t);
    EXPECT_TRUE(ink.premultiplied);
    EXPECT_LT(ink.maxY, t.height);  // nothing above the box
    // The bar of the T is its widest row and sits at the top, i.e. in the highest rows.
    EXPECT_GT(std::max_element(ink.perRow.begin(), ink.perRow.end()) - ink.perRow.begin(),
              (ink.minY + ink.maxY) / 2);
}

TEST_F(Text, FixedBoxWrapsAndAligns) {
    SGImage wrapped;
    Ink ink = inkOf("one two three four five six", 16, DKTextAlignmentLeft, true, 100, 120, &wrapped);
    EXPECT_EQ(wrapped.textureWidth, 128);
    EXPECT_EQ(wrapped.height, 120);
    EXPECT_GE(ink.lines, 2);
    EXPECT_LT(ink.maxX, 100);
    auto centreOf = [](int alignment) {
        Ink ink = inkOf("Hi", 20, alignment, true, 200, 30);
        return (ink.minX + ink.maxX) / 2;
    };
    EXPECT_LT(centreOf(DKTextAlignmentLeft), 20);
    EXPECT_GT(centreOf(DKTextAlignmentRight), 180);
    EXPECT_NEAR(centreOf(DKTextAlignmentCenter), 100, 3);
    EXPECT_EQ(centreOf(5), centreOf(DKTextAlignmentCenter));
}

TEST_F(Text, ScaleTwoRendersTwiceTheSizeAndMeasuresHalf) {
    SGImage normal, doubled, box;
    inkOf("Scale", 12, DKTextAlignmentLeft, false, 0, 0, &normal);
    DKSetScreenScale(2.0f);
    inkOf("Scale", 12, DKTextAlignmentLeft, false, 0, 0, &doubled);
    // Hinting keeps glyph widths from scaling exactly.
    EXPECT_NEAR(doubled.width, normal.width, 2);
    EXPECT_NEAR(doubled.height, normal.height, 1);
    // The texture holds twice the pixels; the image reports half of them.
    EXPECT_NEAR(doubled.textureRect.x1 * doubled.textureWidth * 2,
                2 * normal.textureRect.x1 * normal.textureWidth, 4);
    inkOf("x", 12, DKTextAlignmentLeft, true, 50, 20, &box);
    EXPECT_EQ(box.width, 50);
    EXPECT_EQ(box.textureWidth, 64);  // 100 pixels in a 128-wide texture, halved
}

TEST_F(Text, EmptyAndHugeText) {
    GLuint before = 0, after = 0;
    glGenTextures(1, &before);
    for (const char* text : {"", static_cast<const char*>(nullptr), "\n"})  // "\n" has no width
        EXPECT_TRUE(DKImageFromString(text, "DejaVu Sans", 20, DKTextAlignmentLeft, false, 0, 0).isNull());
    glGenTextures(1, &after);
    EXPECT_EQ(after, before + 1);  // no texture name was taken in between
    SGImage huge;  // an unknown font falls back to the default: the asset manager's label test
    GLint maxSize = 0;
    glGetIntegerv(GL_MAX_TEXTURE_SIZE, &maxSize);
    inkOf("wide", 20, DKTextAlignmentLeft, true, 4.0f * maxSize, 10, &huge);
    EXPECT_LE(huge.textureWidth, maxSize);
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
}

}  // namespace
