// Texts cut off by their box or by the texture limit: the pixels are those of the whole text
// drawn and clipped (pictures made before the layout was bounded, in tests/data/text-*.png;
// DK_UPDATE_EXPECTED=1 rewrites them), and the layout work stays within what the box can show.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/image/ImageCodec.h"
#include "port/Texture2DText.h"
#include "port/tests/TextureTest.h"
#include "tests/support/TestSupport.h"

using namespace dktest;

namespace {

std::string numberedLines(int count) {
    std::string text;
    for (int i = 1; i <= count; ++i) text += "line " + std::to_string(i) + "\n";
    return text;
}

std::string repeated(const std::string& unit, int count) {
    std::string text;
    for (int i = 0; i < count; ++i) text += unit;
    return text;
}

const std::string kSentence = "The quick brown fox jumps over the lazy dog, twice: the quick brown fox! ";
const std::string kMixed = "Größe café naïve – «quotes» € שלום עולם 123 end\n";

// Compares rows (first row = the texture's first row) with the picture `name`, which shows them
// the right way up.
void expectPicture(const std::string& name, int width, int height, const std::vector<uint8_t>& rows) {
    std::vector<uint8_t> upright(rows.size());
    const size_t stride = static_cast<size_t>(width) * 4;
    for (int y = 0; y < height; ++y)
        std::copy_n(rows.begin() + static_cast<long>((height - 1 - y) * stride), stride,
                    upright.begin() + static_cast<long>(y * stride));
    const std::string path = std::string(DK_TEST_DATA_DIR) + "/text-" + name + ".png";
    std::string error;
    if (dktest::updatingExpected()) {
        ASSERT_TRUE(plat::image::writePNG(path, width, height, upright, &error)) << error;
    }
    int w = 0, h = 0;
    std::vector<uint8_t> expected;
    ASSERT_TRUE(plat::image::readPNG(path, &w, &h, &expected, &error)) << error;
    EXPECT_EQ(w, width) << name;
    EXPECT_EQ(h, height) << name;
    EXPECT_TRUE(expected == upright) << name << " differs from " << path;
}

struct PictureCase {
    const char* name;
    std::string text;
    float size;
    int alignment;
    bool fixed;
    float width, height;
    float scale;
};

using TextLimit = TextureTest;

TEST_F(TextLimit, TextsDrawAsTheyAlwaysDid) {
    const std::vector<PictureCase> cases = {
        {"label", "Score: 12345", 24, DKTextAlignmentLeft, false, 0, 0, 1},
        {"lines-centre", "First line\nsecond, longer line\n\nlast", 18, DKTextAlignmentCenter, false, 0, 0, 1},
        {"lines-right", "First line\nsecond, longer line\n\nlast", 18, DKTextAlignmentRight, false, 0, 0, 1},
        {"wrapped-left", kSentence, 16, DKTextAlignmentLeft, true, 120, 140, 1},
        {"wrapped-centre", kSentence, 16, DKTextAlignmentCenter, true, 120, 140, 1},
        {"long-word", "Antidisestablishmentarianism", 16, DKTextAlignmentLeft, true, 50, 100, 1},
        {"mixed", kMixed + kMixed, 14, DKTextAlignmentCenter, true, 160, 120, 1},
        {"scale2", "Scale 2\nsharp", 12, DKTextAlignmentCenter, false, 0, 0, 2},
        {"scale2-wrapped", "wrapped at twice the size", 10, DKTextAlignmentLeft, true, 60, 50, 2},
        // Cut off by the box: lines, one paragraph, one word a letter to a line, mixed scripts.
        {"clipped-lines", numberedLines(3000), 16, DKTextAlignmentLeft, true, 90, 100, 1},
        {"clipped-paragraph", repeated(kSentence, 100), 15, DKTextAlignmentCenter, true, 150, 60, 1},
        {"clipped-letters", std::string(1500, 'a'), 16, DKTextAlignmentLeft, true, 6, 120, 1},
        {"clipped-mixed", repeated(kMixed, 300), 14, DKTextAlignmentLeft, true, 200, 100, 1},
        {"clipped-scale2", repeated(kSentence, 60), 10, DKTextAlignmentRight, true, 80, 40, 2},
    };
    for (const PictureCase& c : cases) {
        SCOPED_TRACE(c.name);
        DKSetScreenScale(c.scale);
        SGImage image = DKImageFromString(c.text.c_str(), "DejaVu Sans", c.size,
                                          static_cast<DKTextAlignment>(c.alignment), c.fixed, c.width, c.height);
        int width = image.textureWidth, height = image.textureHeight;
        if (c.scale == 2) width *= 2, height *= 2;  // the image reports half the texture's pixels
        expectPicture(c.name, width, height, readTexture(image.texture, width, height));
        image.freeImage();
    }
}

// The texture limit cuts free boxes too (a small limit stands in for GL's).
TEST(TextLimitBitmap, FreeBoxesCutToTheLimitDrawAsTheyAlwaysDid) {
    const std::vector<PictureCase> cases = {
        {"limit-lines", numberedLines(400), 16, DKTextAlignmentCenter, false, 0, 0, 1},
        {"limit-long-line", repeated(kSentence, 40), 16, DKTextAlignmentLeft, false, 0, 0, 1},
        {"limit-letters", std::string(1500, 'a'), 16, DKTextAlignmentLeft, true, 6, 100000, 1},
    };
    for (const PictureCase& c : cases) {
        SCOPED_TRACE(c.name);
        dk::port::TextBitmap bitmap =
            dk::port::drawText(c.text, static_cast<DKTextAlignment>(c.alignment), "DejaVu Sans", c.size,
                               static_cast<uint32_t>(c.width), static_cast<uint32_t>(c.height), 256);
        expectPicture(c.name, static_cast<int>(bitmap.width), static_cast<int>(bitmap.height), bitmap.rgba);
    }
}

// Pango's cost grows with the square of the lines it lays out, so a text far taller than its box
// must not be laid out whole: the work is bounded by the lines the box can show.
TEST(TextLimitBitmap, LayoutWorkIsBoundedByWhatTheBoxShows) {
    struct WorkCase {
        const char* what;
        std::string text;
        uint32_t width, height;  // a fixed box, or 0 × 0 for a free one
    };
    const std::vector<WorkCase> cases = {
        {"32,000 short lines in a free box", numberedLines(32000), 0, 0},
        {"200,000 letters, one to a line", std::string(200000, 'a'), 6, 100000},
        {"5,000 lines in a small box", numberedLines(5000), 90, 100},
        {"one long paragraph in a small box", repeated(kSentence, 300), 150, 60},
    };
    const float size = 16;
    for (const WorkCase& c : cases) {
        SCOPED_TRACE(c.what);
        dk::port::TextWork work;
        dk::port::TextBitmap bitmap = dk::port::drawText(c.text, DKTextAlignmentLeft, "DejaVu Sans", size, c.width,
                                                         c.height, 16384, &work);
        ASSERT_GT(bitmap.height, 0u);
        const int shown = static_cast<int>(bitmap.boxHeight / size) + 1;  // lines are taller than the size
        EXPECT_LE(work.lines, 4 * (shown + 4)) << work.bytes << " bytes laid out";
        EXPECT_LT(work.bytes, c.text.size());
    }
}

}  // namespace
