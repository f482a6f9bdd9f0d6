// Image files to textures: formats, pixel values after upload, row order, sizes, failures.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

#include "port/DKFileProblems.h"
#include "port/DKTextures.h"
#include "port/Texture2D.h"
#include "port/tests/TextureTest.h"

using namespace dktest;

namespace {

class ImageFiles : public TextureTest {
protected:
    SGImage load(const char* name) { return DKLoadImageFromFile(dir.file(name).c_str()); }
};

// w × h pixels, row y (from the top) of colour `row(y)`.
std::vector<uint8_t> picture(int w, int h, const std::function<std::vector<uint8_t>(int)>& row) {
    std::vector<uint8_t> px;
    for (int y = 0; y < h; ++y) {
        const std::vector<uint8_t> colour = row(y);
        for (int x = 0; x < w; ++x) px.insert(px.end(), colour.begin(), colour.end());
    }
    return px;
}

TEST_F(ImageFiles, PixelsLandBottomRowFirstPremultipliedOrAs565InThePowerOfTwoCorner) {
    // The top row red, the bottom row green, everything else half-transparent orange.
    writePNG(dir.file("a.png"), 300, 200, 4, picture(300, 200, [](int y) {
                 return y == 0     ? std::vector<uint8_t>{255, 0, 0, 255}
                        : y == 199 ? std::vector<uint8_t>{0, 255, 0, 255}
                                   : std::vector<uint8_t>{200, 100, 50, 128};
             }));
    auto halves = picture(64, 64, [](int y) {  // the top half red, the bottom half blue
        return y < 32 ? std::vector<uint8_t>{255, 128, 0} : std::vector<uint8_t>{0, 128, 255};
    });
    writePNG(dir.file("opaque.png"), 64, 64, 3, halves);
    writeJPEG(dir.file("photo.jpg"), 64, 64, halves);
    writePNG(dir.file("grey.png"), 2, 2, 2, {200, 255, 200, 64, 200, 0, 200, 128});
    std::vector<uint8_t> stripes;  // red and black columns average out
    for (int i = 0; i < 3000 * 4; ++i) stripes.insert(stripes.end(), {uint8_t(i % 2 ? 255 : 0), 0, 0, 255});
    writePNG(dir.file("wide@2x.png"), 3000, 4, 4, stripes);
    struct Texel {
        int x, y;
        std::vector<int> rgba;
        int tolerance;
    };
    struct Case {
        const char* name;
        std::vector<int> size;  // texture width and height, image width and height, premultiplied
        std::vector<Texel> texels;
    };
    // The picture's bottom row, its top row, premultiplied orange, cleared outside the content;
    // 5-6-5 keeps the top bits (128 green comes back as 130, 32 of 63); 3000 pixels at scale 2 are
    // 1500 points, drawn at half size into a 2048 texture.
    const std::vector<int> blue = {0, 130, 255, 255}, red = {255, 130, 0, 255}, none = {0, 0, 0, 0};
    // clang-format off
    const Case cases[] = {
        {"a.png", {512, 256, 300, 200, 1}, {{0, 0, {0, 255, 0, 255}, 0}, {299, 199, {255, 0, 0, 255}, 0},
                                            {150, 100, {100, 50, 25, 128}, 1}, {300, 200, none, 0}}},
        {"opaque.png", {64, 64, 64, 64, 1}, {{10, 10, blue, 0}, {10, 50, red, 0}}},
        {"photo.jpg", {64, 64, 64, 64, 1}, {{10, 10, blue, 10}, {10, 50, red, 10}}},
        {"grey.png", {2, 2, 2, 2, 1}, {{1, 1, {50, 50, 50, 64}, 1}, {0, 0, none, 0}}},
        {"wide@2x.png", {2048, 2, 1500, 2, 1}, {{700, 1, {128, 0, 0, 255}, 1}, {1500, 0, none, 0}}}};
    // clang-format on
    for (const Case& c : cases) {
        SGImage image = load(c.name);
        EXPECT_EQ((std::vector<int>{image.textureWidth, image.textureHeight, image.width, image.height,
                                    image.premultiplied}),
                  c.size)
            << c.name;
        auto pixels = readTexture(image.texture, image.textureWidth, image.textureHeight);
        for (const Texel& t : c.texels)
            for (int i = 0; i < 4; ++i)
                EXPECT_NEAR(pixels[(static_cast<size_t>(t.y) * image.textureWidth + t.x) * 4 + i], t.rgba[i],
                            t.tolerance)
                    << c.name << " " << t.x << "," << t.y;
        image.freeImage();
        EXPECT_FALSE(textureExists(image.texture));
    }
}

TEST_F(ImageFiles, AlphaTexturesUploadOneBytePerTexel) {
    std::vector<uint8_t> alpha = {0, 85, 170, 255, 1, 2};  // 3 × 2, odd rows
    auto texture = Texture2D::initWithData(alpha.data(), Texture2DPixelFormatA8, 3, 2, DKSize{3, 2});
    ASSERT_TRUE(texture);
    auto pixels = readTexture(texture->name(), 3, 2);
    for (int i = 0; i < 6; ++i) EXPECT_EQ(pixels[i * 4 + 3], alpha[i]) << i;
    SGImage{0, 0, texture->name(), 0, 0, {}, 0}.freeImage();
}

TEST_F(ImageFiles, DoubleResolutionSiblingOnlyOnScaleTwoScreens) {
    writeJPEG(dir.file("hero.jpg"), 8, 8, std::vector<uint8_t>(8 * 8 * 3, 90));
    writePNG(dir.file("hero@2x.png"), 16, 16, 3, std::vector<uint8_t>(16 * 16 * 3, 90));
    auto width = [&] {
        SGImage image = load("hero.jpg");
        image.freeImage();
        return image.width;
    };
    EXPECT_EQ(width(), 8);
    DKSetScreenScale(2.0f);
    EXPECT_EQ(width(), 16);  // the sibling's pixels
    std::remove(dir.file("hero@2x.png").c_str());
    EXPECT_EQ(width(), 8);
}

TEST_F(ImageFiles, DamagedFilesGiveTheNullImage) {
    writePNG(dir.file("good.png"), 2, 2, 3, std::vector<uint8_t>(2 * 2 * 3, 40));
    writeJPEG(dir.file("good.jpg"), 16, 16, std::vector<uint8_t>(16 * 16 * 3, 40));
    std::string png = readFile(dir.file("good.png")), jpg = readFile(dir.file("good.jpg"));
    writeFile(dir.file("cut.png"), png.substr(0, 40));
    writeFile(dir.file("cut.jpg"), jpg.substr(0, 20));  // libjpeg's own error handler would exit
    writePNG(dir.file("tall.png"), 1, 2049, 3, std::vector<uint8_t>(2049 * 3, 7));  // over 2048 points
    // Signature, then a CgBI chunk before IHDR, as the phone tool chain writes them.
    const char cgbi[] = {0,    0,    0,    4,    'C',  'g',        'B',  'I',
                         0x50, 0x00, 0x20, 0x06, 0x2C, char(0xB8), 0x77, 0x66};
    writeFile(dir.file("crushed.png"), png.substr(0, 8) + std::string(cgbi, sizeof cgbi) + png.substr(8));
    png[33] ^= 0xFF;  // a corrupt IHDR checksum
    writeFile(dir.file("crc.png"), png);
    testing::internal::CaptureStderr();
    for (const char* name : {"cut.png", "cut.jpg", "crc.png", "missing.png", "crushed.png", "tall.png"}) {
        SGImage image = load(name);
        EXPECT_TRUE(image.isNull()) << name;
        EXPECT_EQ(image.width, 0);
    }
    EXPECT_TRUE(DKLoadImageFromFile(nullptr).isNull());
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("crushed PNG (CgBI chunk)"), std::string::npos) << err;
}

// A white square with no word is the author's worst case: each file the game cannot use is named
// with its reason, once however often the game asks for it.
TEST_F(ImageFiles, FilesThatCannotBeUsedAreNamedOnceWithTheirReason) {
    dk::port::forgetFileProblems();
    writeFile(dir.file("one-byte.png"), "x");
    const std::vector<uint8_t> huge = makePNGHeader(20000, 20000);
    writeFile(dir.file("huge.png"), std::string(huge.begin(), huge.end()));
    std::filesystem::create_directory(dir.file("folder.png"));
    writeFile(dir.file("short.pvrtc"), "PVR");
    const struct {
        const char* name;
        std::string reason;
    } cases[] = {
        {"missing.png", "No such file or directory"},
        {"one-byte.png", "not a PNG, JPEG or GIF file"},
        {"huge.png", "image too large: 20000x20000 pixels (at most 2048 points a side)"},
        {"folder.png", "Is a directory"},
        {"missing.pvrtc", "No such file or directory"},
        {"short.pvrtc", "not a PVRTC texture that can be loaded"},
    };
    std::string expected;
    for (const auto& c : cases) expected += dir.file(c.name) + ": " + c.reason + "\n";
    testing::internal::CaptureStderr();
    for (int round = 0; round < 3; ++round)
        for (const auto& c : cases) EXPECT_TRUE(load(c.name).isNull()) << c.name;
    EXPECT_EQ(testing::internal::GetCapturedStderr(), expected);
    // The next game hears of them again.
    dk::port::forgetFileProblems();
    testing::internal::CaptureStderr();
    load("missing.png");
    EXPECT_EQ(testing::internal::GetCapturedStderr(), dir.file("missing.png") + ": No such file or directory\n");
}

}  // namespace
