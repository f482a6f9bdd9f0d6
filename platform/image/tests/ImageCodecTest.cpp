// The codec: every PNG layout and JPEG in colour and grey to RGBA, alike from memory and from a
// file; damaged, cut, oversized and crushed files refused without a crash; PNG written and read back.
#include <gtest/gtest.h>
#include <png.h>
#include <sys/stat.h>

#include <filesystem>

#include "platform/image/ImageCodec.h"
#include "platform/image/tests/ImageTestSupport.h"
#include "platform/sys/WholeFile.h"
#include "tests/support/TestSupport.h"

namespace {

using dktest::Bytes;
using dktest::makePNG;
using plat::image::Bitmap;
using plat::image::Error;
using plat::image::Failure;

Bitmap decoded(const Bytes& file, Error* error = nullptr, const plat::image::Limits& limits = {}) {
    Bitmap out{1, 1, true, {1, 2, 3, 4}};  // what a failure must clear
    if (!plat::image::decode(file.data(), file.size(), &out, error, limits)) {
        EXPECT_TRUE(out.rgba.empty());
    }
    return out;
}

// Grey (1 channel) or RGB (3) samples as opaque RGBA.
Bytes asRGBA(const Bytes& samples, int channels) {
    Bytes out;
    for (size_t i = 0; i < samples.size(); i += channels) {
        const uint8_t* s = &samples[i];
        out.insert(out.end(), {s[0], s[channels / 2], s[channels - 1], 255});
    }
    return out;
}

// 16 × 32 pixels, `top` over the first 16 rows and `bottom` below.
Bytes halves(const Bytes& top, const Bytes& bottom) {
    Bytes out;
    for (int i = 0; i < 16 * 32; ++i)
        out.insert(out.end(), (i < 16 * 16 ? top : bottom).begin(), (i < 16 * 16 ? top : bottom).end());
    return out;
}

struct Case {
    const char* name;
    Bytes file;
    int width, height;
    bool hasAlpha;
    Bytes rgba;
    int tolerance = 0;
    bool jpeg = false;  // rows 14 to 17, where the chroma smears across the edge, are not compared
};

std::vector<Case> cases() {
    const Bytes rgba = {255, 0,  0,  255, 0,  255, 0,  128, 0,  0,   255, 0,
                        10,  20, 30, 40,  50, 60,  70, 80,  90, 100, 110, 255};
    Bytes rgb, interlaced;
    for (size_t i = 0; i < rgba.size(); ++i)
        if (i % 4 != 3) rgb.push_back(rgba[i]);
    for (int i = 0; i < 7 * 5 * 3; ++i) interlaced.push_back(static_cast<uint8_t>(i * 2));
    auto samples = [](const Bytes& b) { return std::vector<uint16_t>(b.begin(), b.end()); };
    auto wide = [](const Bytes& b) {  // 8-bit samples scaled to 16 bits
        std::vector<uint16_t> out;
        for (uint8_t v : b) out.push_back(static_cast<uint16_t>(v * 257));
        return out;
    };
    const Bytes colours16 = {220, 30, 30, 255, 30, 200, 30, 255, 128, 128, 128, 255};
    const Bytes red = {200, 30, 30}, blue = {30, 30, 200};
    // clang-format off
    return {
        {"RGBA", makePNG({3, 2, PNG_COLOR_TYPE_RGBA, 8, false, samples(rgba), {}}), 3, 2, true, rgba},
        {"RGB", makePNG({3, 2, PNG_COLOR_TYPE_RGB, 8, false, samples(rgb), {}}), 3, 2, false, asRGBA(rgb, 3)},
        {"grey", makePNG({2, 1, PNG_COLOR_TYPE_GRAY, 8, false, {7, 250}, {}}), 2, 1, false, asRGBA({7, 250}, 1)},
        {"palette with transparency", makePNG({2, 2, PNG_COLOR_TYPE_PALETTE, 8, false, {0, 1, 2, 0},
                                               {{{9, 8, 7, 255}, {1, 2, 3, 0}, {200, 100, 0, 60}}}}),
         2, 2, true, {9, 8, 7, 255, 1, 2, 3, 0, 200, 100, 0, 60, 9, 8, 7, 255}},
        // 16-bit samples are taken as 8-bit ones are, scaled, unless the file says they are linear
        // light: then half is sRGB 187.5, which libpng's table gives within two.
        {"16-bit", makePNG({3, 1, PNG_COLOR_TYPE_RGB_ALPHA, 16, false, wide(colours16), {}}), 3, 1, true,
         colours16, 1},
        {"16-bit sRGB", makePNG({3, 1, PNG_COLOR_TYPE_RGB_ALPHA, 16, false, wide(colours16), {}, 0, true}), 3, 1,
         true, colours16, 1},
        {"16-bit linear", makePNG({3, 1, PNG_COLOR_TYPE_RGB_ALPHA, 16, false,
                            {65535, 0, 0, 65535, 65535, 65535, 65535, 32768, 32768, 32768, 32768, 65535}, {},
                            100000}),
         3, 1, true, {255, 0, 0, 255, 255, 255, 255, 128, 188, 188, 188, 255}, 2},
        {"interlaced", makePNG({7, 5, PNG_COLOR_TYPE_RGB, 8, true, samples(interlaced), {}}), 7, 5, false,
         asRGBA(interlaced, 3)},
        {"JPEG", dktest::makeJPEG(16, 32, 3, halves(red, blue)), 16, 32, false, asRGBA(halves(red, blue), 3), 4, true},
        {"grey JPEG", dktest::makeJPEG(16, 32, 1, halves({40}, {200})), 16, 32, false, asRGBA(halves({40}, {200}), 1), 2,
         true},
    };
    // clang-format on
}

void expectPicture(const Case& c, const Bitmap& got, const char* from) {
    ASSERT_EQ((std::vector<int>{got.width, got.height, got.hasAlpha}),
              (std::vector<int>{c.width, c.height, c.hasAlpha}))
        << c.name << from;
    ASSERT_EQ(got.rgba.size(), c.rgba.size()) << c.name << from;
    for (size_t i = 0; i < c.rgba.size(); ++i) {
        const size_t row = i / 4 / c.width;
        if (c.jpeg && row >= 14 && row < 18) continue;
        ASSERT_NEAR(got.rgba[i], c.rgba[i], c.tolerance) << c.name << from << " at byte " << i;
    }
}

TEST(ImageCodec, EveryLayoutDecodesToStraightRGBAFromMemoryAndFromAFile) {
    dktest::TempDir dir;
    for (const Case& c : cases()) {
        expectPicture(c, decoded(c.file), " (memory)");
        dktest::writeFile(dir.file("picture"), std::string(c.file.begin(), c.file.end()));
        Bitmap fromFile;
        ASSERT_TRUE(plat::image::decodeFile(dir.file("picture"), &fromFile)) << c.name;
        expectPicture(c, fromFile, " (file)");
    }
}

TEST(ImageCodec, DamagedCutForeignAndCrushedInputIsRefusedWithoutACrash) {
    const std::vector<Case> all = cases();
    for (const Case& c : all) {
        // Every cut gives an error or the whole picture: a PNG may lose only what follows its
        // pixel data, a JPEG some of its scan data (grey where it is missing).
        const Bitmap whole = decoded(c.file);
        for (size_t n = 0; n < c.file.size(); ++n) {
            Error error;
            const Bitmap cut = decoded(Bytes(c.file.begin(), c.file.begin() + n), &error);
            if (cut.rgba.empty())
                EXPECT_FALSE(error.failure == Failure::None || error.message.empty())
                    << c.name << " cut at " << n;
            else if (c.jpeg)
                EXPECT_EQ(cut.rgba.size(), whole.rgba.size()) << c.name << " cut at " << n;
            else
                EXPECT_EQ(cut.rgba, whole.rgba) << c.name << " cut at " << n;
        }
    }
    Bytes png = all[0].file, crc = png, data = png, crushed = png;
    crc[29] ^= 0xFF;                 // the header's checksum
    data[data.size() - 20] ^= 0x55;  // inside the compressed pixels
    const Bytes cgbi = {0, 0, 0, 4, 'C', 'g', 'B', 'I', 0x50, 0x00, 0x20, 0x06, 0x2C, 0xB8, 0x77, 0x66};
    crushed.insert(crushed.begin() + 8, cgbi.begin(), cgbi.end());  // as the phone tool chain puts it
    const struct {
        const char* name;
        Bytes file;
        Failure failure;
    } refused[] = {{"cut halfway", Bytes(png.begin(), png.begin() + png.size() / 2), Failure::Damaged},
                   {"header checksum", crc, Failure::Damaged},
                   {"pixel data", data, Failure::Damaged},
                   {"text", {'h', 'e', 'l', 'l', 'o'}, Failure::NotAnImage},
                   {"nothing", {}, Failure::NotAnImage},
                   {"crushed", crushed, Failure::Crushed}};
    for (const auto& r : refused) {
        Error error;
        decoded(r.file, &error);
        EXPECT_EQ(error.failure, r.failure) << r.name << ": " << error.message;
    }
    Error error;
    decoded(crushed, &error);
    EXPECT_EQ(error.message, "crushed PNG (CgBI chunk) cannot be read; use the original, uncrushed PNG");

    dktest::TempDir dir;
    Bitmap out;
    EXPECT_FALSE(plat::image::decodeFile(dir.file("absent.png"), &out, &error));
    EXPECT_EQ(error.failure, Failure::Missing) << error.message;
    EXPECT_FALSE(plat::image::decodeFile(dir.path(), &out, &error));
    EXPECT_EQ(error.failure, Failure::Unreadable) << error.message;
    // A FIFO blocked the open for ever; /dev/zero and a file past any picture grew without end.
    ASSERT_EQ(mkfifo(dir.file("fifo.png").c_str(), 0600), 0);
    std::filesystem::create_symlink("/dev/zero", dir.file("zero.png"));
    dktest::writeFile(dir.file("huge.png"), "");
    std::filesystem::resize_file(dir.file("huge.png"), plat::sys::kImageCap.bytes + 1);
    const struct {
        std::string file;
        Failure failure;
        std::string message;
    } unread[] = {
        {dir.file("fifo.png"), Failure::Unreadable, dir.file("fifo.png") + ": not a file (a FIFO)"},
        {dir.file("zero.png"), Failure::Unreadable, dir.file("zero.png") + ": not a file (a character device)"},
        {dir.file("huge.png"), Failure::TooLarge, dir.file("huge.png") + ": over 64 MiB, the most an image may hold"},
    };
    for (const auto& u : unread) {
        EXPECT_FALSE(plat::image::decodeFile(u.file, &out, &error));
        EXPECT_EQ(error.failure, u.failure) << error.message;
        EXPECT_EQ(error.message, u.message);
    }
}

// An 8 × 8 JPEG whose frame header announces width × height.
Bytes jpegClaiming(uint16_t width, uint16_t height) {
    Bytes jpeg = dktest::makeJPEG(8, 8, 1, Bytes(64, 100));
    for (size_t i = 0; i + 8 < jpeg.size(); ++i)
        if (jpeg[i] == 0xFF && jpeg[i + 1] == 0xC0) {
            jpeg[i + 5] = height >> 8, jpeg[i + 6] = height & 0xFF, jpeg[i + 7] = width >> 8,
                     jpeg[i + 8] = width & 0xFF;
            break;
        }
    return jpeg;
}

TEST(ImageCodec, SizesAreMeasuredBeforeAnyPixelIsDecoded) {
    // Headers alone within the limits get as far as the missing pixel data.
    const plat::image::Limits none{}, small{100, 600};
    const struct {
        Bytes file;
        plat::image::Limits limits;
        Failure failure;
    } cases[] = {
        {dktest::makePNGHeader(16384, 1), none, Failure::Damaged},
        {dktest::makePNGHeader(16385, 1), none, Failure::TooLarge},
        {dktest::makePNGHeader(1, 16385), none, Failure::TooLarge},
        {dktest::makePNGHeader(16384, 16384), none, Failure::TooLarge},  // a gigabyte of RGBA
        {dktest::makePNGHeader(30, 20), small, Failure::Damaged},
        {dktest::makePNGHeader(30, 21), small, Failure::TooLarge},
        {dktest::makePNGHeader(101, 1), small, Failure::TooLarge},
        {jpegClaiming(20000, 20000), none, Failure::TooLarge},
        {jpegClaiming(101, 1), small, Failure::TooLarge},
    };
    for (const auto& c : cases) {
        Error error;
        decoded(c.file, &error, c.limits);
        EXPECT_EQ(error.failure, c.failure) << error.message;
    }
}

TEST(ImageCodec, WrittenPNGsReadBackAsThePixelsWritten) {
    const Bytes grey = {0, 90, 255, 7, 8, 9}, rgba = asRGBA(grey, 1);
    dktest::TempDir dir;
    std::string error;
    Bytes png;
    ASSERT_TRUE(plat::image::encodePNG(3, 2, grey.data(), grey.size(), 1, &png, &error)) << error;
    EXPECT_EQ(decoded(png).rgba, rgba);
    ASSERT_TRUE(plat::image::writePNG(dir.file("a.png"), 3, 2, rgba, &error)) << error;
    int width = 0, height = 0;
    Bytes back;
    ASSERT_TRUE(plat::image::readPNG(dir.file("a.png"), &width, &height, &back, &error)) << error;
    EXPECT_EQ((std::vector<int>{width, height}), (std::vector<int>{3, 2}));
    EXPECT_EQ(back, rgba);

    EXPECT_FALSE(plat::image::encodePNG(3, 3, rgba.data(), rgba.size(), 4, &png, &error));
    EXPECT_EQ(error, "pixel buffer smaller than the picture");
    dktest::writeJPEG(dir.file("photo.png"), 8, 8, Bytes(8 * 8 * 3, 50));
    EXPECT_FALSE(plat::image::readPNG(dir.file("photo.png"), &width, &height, &back, &error)) << "a JPEG";
    EXPECT_NE(error.find("not a PNG"), std::string::npos) << error;
}

}  // namespace

namespace {

// A GIF of `width` x 1 pixels of colour index 0 (red; index 1 black), its graphics control block
// making `transparent` clear (-1: none); every cut of it is refused.
Bytes gif(int transparent) {
    Bytes out = {'G', 'I', 'F', '8', '9', 'a', 1, 0, 1, 0, 0x80, 0, 0, 0xFF, 0, 0, 0, 0, 0};
    const Bytes control = {0x21, 0xF9, 4, static_cast<uint8_t>(transparent >= 0), 0, 0,
                           static_cast<uint8_t>(std::max(transparent, 0)), 0};
    const Bytes image = {0x2C, 0, 0, 0, 0, 1, 0, 1, 0, 0, 2, 2, 0x44, 0x01, 0, 0x3B};
    out.insert(out.end(), control.begin(), control.end());
    out.insert(out.end(), image.begin(), image.end());
    return out;
}

TEST(ImageCodec, AGIFGivesItsFirstImageWithItsTransparentColourClear) {
    EXPECT_EQ(decoded(gif(-1)).rgba, (Bytes{255, 0, 0, 255}));
    EXPECT_EQ(decoded(gif(1)).rgba, (Bytes{255, 0, 0, 255}));
    EXPECT_EQ(decoded(gif(0)).rgba, (Bytes{0, 0, 0, 0}));
    const Bytes whole = gif(-1);
    for (size_t n = 0; n + 3 < whole.size(); ++n) {  // up to the last byte of the pixels
        Error error;
        EXPECT_TRUE(decoded(Bytes(whole.begin(), whole.begin() + n), &error).rgba.empty()) << n;
    }
}

}  // namespace
