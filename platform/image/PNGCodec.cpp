// PNG through libpng's simplified interface: every colour type, bit depth and interlacing comes
// out as 8-bit RGBA. 16-bit samples of a file without colour information are taken as 8-bit ones
// are (scaled, no gamma change), as viewers draw them, not as linear light (libpng's own rule).
#include <png.h>

#include <cstring>

#include "platform/image/Decoders.h"

namespace plat::image {

namespace {

// Files run through the phone tool chain's "crush" step start with a CgBI chunk and hold BGRA
// premultiplied pixels in a raw deflate stream, which libpng rejects.
bool isCrushed(const uint8_t* bytes, size_t size) {
    return size >= 16 && std::memcmp(bytes + 12, "CgBI", 4) == 0;
}

// Whether an iCCP chunk comes before the image data: a profile tags the file, so its 16-bit
// samples are read as libpng reads them.
bool hasProfile(const uint8_t* bytes, size_t size) {
    for (size_t at = 8; at + 8 <= size;) {
        const size_t length = (size_t(bytes[at]) << 24) | (size_t(bytes[at + 1]) << 16) |
                              (size_t(bytes[at + 2]) << 8) | bytes[at + 3];
        const uint8_t* type = bytes + at + 4;
        if (std::memcmp(type, "iCCP", 4) == 0) return true;
        if (std::memcmp(type, "IDAT", 4) == 0 || length > size) return false;
        at += 12 + length;
    }
    return false;
}

}  // namespace

bool detail::decodePNG(const uint8_t* bytes, size_t size, const Limits& limits, Bitmap* out, Error* error) {
    if (isCrushed(bytes, size))
        return fail(error, Failure::Crushed,
                    "crushed PNG (CgBI chunk) cannot be read; use the original, uncrushed PNG");
    png_image png;
    std::memset(&png, 0, sizeof png);
    png.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_memory(&png, bytes, size))
        return fail(error, Failure::Damaged, png.message);
    if (!withinLimits(png.width, png.height, limits, error)) {
        png_image_free(&png);
        return false;
    }
    // Read by libpng only for a 16-bit file with neither gAMA nor sRGB.
    if (!hasProfile(bytes, size)) png.flags |= PNG_IMAGE_FLAG_16BIT_sRGB;
    out->hasAlpha = (png.format & PNG_FORMAT_FLAG_ALPHA) != 0;
    png.format = PNG_FORMAT_RGBA;
    out->rgba.assign(PNG_IMAGE_SIZE(png), 0);
    if (!png_image_finish_read(&png, nullptr, out->rgba.data(), 0, nullptr)) {
        png_image_free(&png);
        return fail(error, Failure::Damaged, png.message);
    }
    out->width = static_cast<int>(png.width);
    out->height = static_cast<int>(png.height);
    return true;
}

bool encodePNG(int width, int height, const uint8_t* pixels, size_t size, int channels,
               std::vector<uint8_t>* png, std::string* error) {
    static const png_uint_32 kFormats[] = {PNG_FORMAT_GRAY, PNG_FORMAT_GA, PNG_FORMAT_RGB, PNG_FORMAT_RGBA};
    auto refuse = [&](const char* why) {
        if (error) *error = why;
        return false;
    };
    if (channels < 1 || channels > 4) return refuse("a PNG has 1 to 4 channels");
    if (width <= 0 || height <= 0) return refuse("a PNG has at least one pixel");
    if (size < static_cast<size_t>(width) * static_cast<size_t>(height) * channels)
        return refuse("pixel buffer smaller than the picture");
    png_image image;
    std::memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    image.width = static_cast<png_uint_32>(width);
    image.height = static_cast<png_uint_32>(height);
    image.format = kFormats[channels - 1];
    // The first call measures, the second writes.
    png_alloc_size_t bytes = 0;
    if (!png_image_write_to_memory(&image, nullptr, &bytes, 0, pixels, 0, nullptr))
        return refuse(image.message);
    png->resize(bytes);
    if (!png_image_write_to_memory(&image, png->data(), &bytes, 0, pixels, 0, nullptr)) {
        png->clear();
        return refuse(image.message);
    }
    png->resize(bytes);
    return true;
}

}  // namespace plat::image
