// Image files to textures: formats, pixel values after upload, row order, sizes, failures.
#include <gtest/gtest.h>

#include <cstdlib>

#include "port/DKTextures.h"
#include "port/Texture2D.h"
#include "port/tests/TextureTestSupport.h"

using namespace dktest;

namespace {

class ImageFiles : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(useGL());
        DKSetScreenScale(1.0f);
    }
    void TearDown() override { DKSetScreenScale(1.0f); }

    TempDir dir;
};

void expectTexel(const std::vector<uint8_t>& pixels, int width, int x, int y, std::vector<int> rgba,
                 int tolerance) {
    const uint8_t* p = &pixels[(static_cast<size_t>(y) * width + x) * 4];
    for (int c = 0; c < 4; ++c)
        EXPECT_NEAR(p[c], rgba[c], tolerance) << "texel " << x << "," << y << " channel " << c;
}

// w × h RGBA: the top row red, the bottom row green, everything else half-transparent orange.
std::vector<uint8_t> markedRGBA(int w, int h) {
    const uint8_t top[] = {255, 0, 0, 255}, bottom[] = {0, 255, 0, 255}, middle[] = {200, 100, 50, 128};
    std::vector<uint8_t> px;
    for (int y = 0; y < h; ++y) {
        const uint8_t* p = y == 0 ? top : y == h - 1 ? bottom : middle;
        for (int x = 0; x < w; ++x) px.insert(px.end(), p, p + 4);
    }
    return px;
}

}  // namespace

TEST_F(ImageFiles, RGBAPNGIsPremultipliedWithItsBottomRowFirst) {
    writePNG(dir.file("a.png"), 300, 200, 4, markedRGBA(300, 200));
    SGImage image = DKLoadImageFromFile(dir.file("a.png").c_str());
    ASSERT_NE(image.texture, 0u);
    EXPECT_EQ((std::vector<int>{image.textureWidth, image.textureHeight, image.width, image.height,
                                image.premultiplied}),
              (std::vector<int>{512, 256, 300, 200, 1}));
    EXPECT_FLOAT_EQ(image.textureRect.x1, 300 / 512.0f);
    EXPECT_FLOAT_EQ(image.textureRect.y1, 200 / 256.0f);

    auto pixels = readTexture(image.texture, 512, 256);
    expectTexel(pixels, 512, 0, 0, {0, 255, 0, 255}, 0);        // picture's bottom row
    expectTexel(pixels, 512, 299, 199, {255, 0, 0, 255}, 0);    // picture's top row
    expectTexel(pixels, 512, 150, 100, {100, 50, 25, 128}, 1);  // premultiplied orange
    expectTexel(pixels, 512, 300, 200, {0, 0, 0, 0}, 0);        // outside the content: cleared
    image.freeImage();
    EXPECT_FALSE(textureExists(image.texture));
}

TEST_F(ImageFiles, OpaqueImagesBecome565AndGreyAlphaBecomesRGBA) {
    std::vector<uint8_t> rgb(64 * 64 * 3);
    for (int y = 0; y < 64; ++y)
        for (int x = 0; x < 64; ++x) {
            uint8_t* p = &rgb[(y * 64 + x) * 3];
            p[0] = y < 32 ? 255 : 0;  // top half red, bottom half blue
            p[1] = 128;
            p[2] = y < 32 ? 0 : 255;
        }
    writePNG(dir.file("opaque.png"), 64, 64, 3, rgb);
    writeJPEG(dir.file("photo.jpg"), 64, 64, rgb);

    for (const char* name : {"opaque.png", "photo.jpg"}) {
        SCOPED_TRACE(name);
        SGImage image = DKLoadImageFromFile(dir.file(name).c_str());
        ASSERT_NE(image.texture, 0u);
        EXPECT_FLOAT_EQ(image.textureRect.x1, 1.0f);
        auto pixels = readTexture(image.texture, 64, 64);
        // 5-6-5 keeps the top bits: 128 green comes back as 130 (32 of 63).
        int tolerance = std::string(name) == "photo.jpg" ? 10 : 0;
        expectTexel(pixels, 64, 10, 10, {0, 130, 255, 255}, tolerance);  // bottom rows: blue
        expectTexel(pixels, 64, 10, 50, {255, 130, 0, 255}, tolerance);  // top rows: red
        image.freeImage();
    }

    std::vector<uint8_t> ga = {200, 255, 200, 64, 200, 0, 200, 128};
    writePNG(dir.file("grey.png"), 2, 2, 2, ga);
    SGImage grey = DKLoadImageFromFile(dir.file("grey.png").c_str());
    auto pixels = readTexture(grey.texture, 2, 2);
    expectTexel(pixels, 2, 1, 1, {50, 50, 50, 64}, 1);  // top-right of the picture, premultiplied
    expectTexel(pixels, 2, 0, 0, {0, 0, 0, 0}, 0);
    grey.freeImage();
}

TEST_F(ImageFiles, AlphaTexturesUploadOneBytePerTexel) {
    std::vector<uint8_t> alpha = {0, 85, 170, 255, 1, 2};  // 3 × 2, odd rows
    auto texture = Texture2D::initWithData(alpha.data(), Texture2DPixelFormatA8, 3, 2, DKSize{3, 2});
    ASSERT_TRUE(texture);
    EXPECT_EQ(texture->pixelFormat(), Texture2DPixelFormatA8);
    auto pixels = readTexture(texture->name(), 3, 2);
    for (int i = 0; i < 6; ++i) EXPECT_EQ(pixels[i * 4 + 3], alpha[i]) << i;
    SGImage{0, 0, texture->name(), 0, 0, {}, 0}.freeImage();
}

TEST_F(ImageFiles, DoubleResolutionSiblingOnlyOnScaleTwoScreens) {
    std::vector<uint8_t> rgb(8 * 8 * 3, 90);
    writeJPEG(dir.file("hero.jpg"), 8, 8, rgb);
    writePNG(dir.file("hero@2x.png"), 16, 16, 4, markedRGBA(16, 16));
    std::string path = dir.file("hero.jpg");

    EXPECT_EQ(checkPathForDoubleResolution(path), path);
    DKSetScreenScale(2.0f);
    EXPECT_EQ(checkPathForDoubleResolution(path), dir.file("hero@2x.png"));
    SGImage image = DKLoadImageFromFile(path.c_str());
    EXPECT_EQ(image.width, 16);  // the sibling's pixels
    EXPECT_EQ(image.premultiplied, 1);
    image.freeImage();

    std::remove(dir.file("hero@2x.png").c_str());
    image = DKLoadImageFromFile(path.c_str());
    EXPECT_EQ(image.width, 8);
    image.freeImage();
}

TEST_F(ImageFiles, SizeLimitsInPoints) {
    writePNG(dir.file("tall.png"), 1, 2049, 3, std::vector<uint8_t>(2049 * 3, 7));
    SGImage tall = DKLoadImageFromFile(dir.file("tall.png").c_str());
    EXPECT_TRUE(tall.isNull());

    // 3000 pixels at scale 2 is 1500 points: allowed, drawn at half size into a 2048 texture.
    std::vector<uint8_t> wide(3000 * 4 * 4);
    for (int x = 0; x < 3000; ++x)
        for (int y = 0; y < 4; ++y) {
            uint8_t* p = &wide[(y * 3000 + x) * 4];
            p[0] = x % 2 ? 255 : 0, p[1] = 0, p[2] = 0, p[3] = 255;  // red and black stripes average out
        }
    writePNG(dir.file("wide@2x.png"), 3000, 4, 4, wide);
    SGImage image = DKLoadImageFromFile(dir.file("wide@2x.png").c_str());
    ASSERT_NE(image.texture, 0u);
    EXPECT_EQ((std::vector<int>{image.textureWidth, image.textureHeight, image.width, image.height}),
              (std::vector<int>{2048, 2, 1500, 2}));
    auto pixels = readTexture(image.texture, 2048, 2);
    expectTexel(pixels, 2048, 700, 1, {128, 0, 0, 255}, 1);
    expectTexel(pixels, 2048, 1500, 0, {0, 0, 0, 0}, 0);
    image.freeImage();
}

TEST_F(ImageFiles, DamagedFilesGiveTheNullImage) {
    writePNG(dir.file("good.png"), 4, 4, 4, markedRGBA(4, 4));
    writeJPEG(dir.file("good.jpg"), 16, 16, std::vector<uint8_t>(16 * 16 * 3, 40));
    auto png = readBytes(dir.file("good.png"));
    auto jpg = readBytes(dir.file("good.jpg"));
    writeBytes(dir.file("cut.png"), std::vector<uint8_t>(png.begin(), png.begin() + 40));
    writeBytes(dir.file("cut.jpg"), std::vector<uint8_t>(jpg.begin(), jpg.begin() + 20));
    writeBytes(dir.file("text.png"), {'h', 'e', 'l', 'l', 'o'});
    writeBytes(dir.file("empty.jpg"), {});
    png[33] ^= 0xFF;  // a corrupt IHDR checksum
    writeBytes(dir.file("crc.png"), png);

    for (const char* name : {"cut.png", "cut.jpg", "text.png", "empty.jpg", "crc.png", "missing.png"}) {
        SCOPED_TRACE(name);
        SGImage image = DKLoadImageFromFile(dir.file(name).c_str());
        EXPECT_TRUE(image.isNull());
        EXPECT_EQ(image.width, 0);
    }
    EXPECT_TRUE(DKLoadImageFromFile(nullptr).isNull());
}

TEST_F(ImageFiles, CrushedPNGIsNamedAndRefused) {
    // Signature, then a CgBI chunk before IHDR, as the phone tool chain writes them.
    std::vector<uint8_t> crushed = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n', 0,    0,    0,    4,
                                    'C',  'g', 'B', 'I', 0x50, 0x00, 0x20, 0x06, 0x2C, 0xB8, 0x77, 0x66};
    auto png = [&] {
        writePNG(dir.file("plain.png"), 2, 2, 4, markedRGBA(2, 2));
        return readBytes(dir.file("plain.png"));
    }();
    crushed.insert(crushed.end(), png.begin() + 8, png.end());
    writeBytes(dir.file("crushed.png"), crushed);

    testing::internal::CaptureStderr();
    SGImage image = DKLoadImageFromFile(dir.file("crushed.png").c_str());
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_TRUE(image.isNull());
    EXPECT_NE(err.find("crushed PNG (CgBI chunk)"), std::string::npos) << err;
}
