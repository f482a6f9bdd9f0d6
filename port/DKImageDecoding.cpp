// PNG and JPEG files to straight RGBA pixels. Sizes are checked against the caller's limit before
// any pixel is decoded, so a hostile header cannot make us allocate a huge bitmap.
#include <csetjmp>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>

#include "port/Texture2D.h"

// jpeglib.h needs size_t and FILE declared first.
#include <jpeglib.h>
#include <png.h>

namespace {

bool readFile(const std::string& path, std::vector<uint8_t>* bytes) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    bytes->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return !in.bad();
}

bool endsWith(const std::string& s, const std::string& tail) {
    return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

// "name@2x.png" is a double-resolution image: it measures half its pixels in points.
float scaleForPath(const std::string& path) {
    size_t slash = path.find_last_of('/');
    std::string base = path.substr(slash == std::string::npos ? 0 : slash + 1);
    size_t dot = base.find_last_of('.');
    if (dot != std::string::npos) base.resize(dot);
    return endsWith(base, "@2x") ? 2.0f : 1.0f;
}

bool tooLarge(int width, int height, float scale, int maxPoints) {
    return static_cast<float>(height) / scale > static_cast<float>(maxPoints) ||
           static_cast<float>(width) / scale > static_cast<float>(maxPoints);
}

const uint8_t kPNGSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};

// Files run through the phone tool chain's "crush" step start with a CgBI chunk and hold BGRA
// premultiplied pixels in a raw deflate stream, which libpng rejects.
bool isCrushedPNG(const std::vector<uint8_t>& bytes) {
    return bytes.size() >= 16 && std::memcmp(bytes.data() + 12, "CgBI", 4) == 0;
}

bool decodePNG(const std::vector<uint8_t>& bytes, float scale, int maxPoints, DKDecodedImage* image,
               std::string* error) {
    if (isCrushedPNG(bytes)) {
        *error = "crushed PNG (CgBI chunk) cannot be read; use the original, uncrushed PNG";
        return false;
    }
    png_image png;
    std::memset(&png, 0, sizeof png);
    png.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_memory(&png, bytes.data(), bytes.size())) {
        *error = png.message;
        return false;
    }
    int width = static_cast<int>(png.width), height = static_cast<int>(png.height);
    if (tooLarge(width, height, scale, maxPoints)) {
        png_image_free(&png);
        *error = "image too large";
        return false;
    }
    image->hasAlpha = (png.format & PNG_FORMAT_FLAG_ALPHA) != 0;
    png.format = PNG_FORMAT_RGBA;
    image->rgba.assign(PNG_IMAGE_SIZE(png), 0);
    if (!png_image_finish_read(&png, nullptr, image->rgba.data(), 0, nullptr)) {
        *error = png.message;
        png_image_free(&png);
        return false;
    }
    image->width = width;
    image->height = height;
    return true;
}

struct JPEGError {
    jpeg_error_mgr base;
    std::jmp_buf jump;
    char message[JMSG_LENGTH_MAX];
};

void jpegErrorExit(j_common_ptr info) {
    auto* err = reinterpret_cast<JPEGError*>(info->err);
    info->err->format_message(info, err->message);
    std::longjmp(err->jump, 1);
}

void jpegQuiet(j_common_ptr) {}

// Only plain data lives across setjmp here: the decoder writes into `image`, owned by the caller.
bool decodeJPEG(const std::vector<uint8_t>& bytes, float scale, int maxPoints, DKDecodedImage* image,
                std::string* error) {
    jpeg_decompress_struct info;
    JPEGError err;
    info.err = jpeg_std_error(&err.base);
    err.base.error_exit = jpegErrorExit;
    err.base.output_message = jpegQuiet;
    err.message[0] = 0;
    if (setjmp(err.jump)) {
        jpeg_destroy_decompress(&info);
        *error = err.message;
        return false;
    }
    jpeg_create_decompress(&info);
    jpeg_mem_src(&info, bytes.data(), bytes.size());
    jpeg_read_header(&info, TRUE);
    if (tooLarge(static_cast<int>(info.image_width), static_cast<int>(info.image_height), scale, maxPoints)) {
        jpeg_destroy_decompress(&info);
        *error = "image too large";
        return false;
    }
    bool cmyk = info.jpeg_color_space == JCS_CMYK || info.jpeg_color_space == JCS_YCCK;
    info.out_color_space = cmyk ? JCS_CMYK : JCS_EXT_RGBA;
    jpeg_start_decompress(&info);
    image->width = static_cast<int>(info.output_width);
    image->height = static_cast<int>(info.output_height);
    image->rgba.assign(static_cast<size_t>(image->width) * image->height * 4, 0);
    while (info.output_scanline < info.output_height) {
        JSAMPROW row = image->rgba.data() + static_cast<size_t>(info.output_scanline) * image->width * 4;
        jpeg_read_scanlines(&info, &row, 1);
    }
    jpeg_finish_decompress(&info);
    jpeg_destroy_decompress(&info);
    if (cmyk) {
        // Adobe writes inverted CMYK; the K channel scales the other three.
        for (size_t i = 0; i < image->rgba.size(); i += 4) {
            unsigned k = image->rgba[i + 3];
            for (int c = 0; c < 3; ++c)
                image->rgba[i + c] = static_cast<uint8_t>(image->rgba[i + c] * k / 255);
            image->rgba[i + 3] = 255;
        }
    }
    image->hasAlpha = false;
    return true;
}

}  // namespace

bool DKDecodeImageFile(const std::string& path, int maxPoints, DKDecodedImage* image, std::string* error) {
    std::vector<uint8_t> bytes;
    if (!readFile(path, &bytes)) {
        *error = "cannot read file";
        return false;
    }
    *image = DKDecodedImage{};
    image->scale = scaleForPath(path);
    if (bytes.size() >= 8 && std::memcmp(bytes.data(), kPNGSignature, 8) == 0)
        return decodePNG(bytes, image->scale, maxPoints, image, error);
    if (bytes.size() >= 3 && bytes[0] == 0xFF && bytes[1] == 0xD8 && bytes[2] == 0xFF)
        return decodeJPEG(bytes, image->scale, maxPoints, image, error);
    *error = "not a PNG or JPEG file";
    return false;
}
