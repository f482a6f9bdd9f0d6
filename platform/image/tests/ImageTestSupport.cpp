#include "platform/image/tests/ImageTestSupport.h"

#include <jpeglib.h>
#include <png.h>
#include <zlib.h>

#include <cstdlib>
#include <stdexcept>

#include "platform/image/ImageCodec.h"
#include "tests/support/TestSupport.h"

namespace dktest {

namespace {

void appendChunk(Bytes* png, const char* type, const Bytes& data) {
    auto put32 = [&](uint32_t v) {
        for (int shift = 24; shift >= 0; shift -= 8) png->push_back(static_cast<uint8_t>(v >> shift));
    };
    put32(static_cast<uint32_t>(data.size()));
    const size_t start = png->size();
    png->insert(png->end(), type, type + 4);
    png->insert(png->end(), data.begin(), data.end());
    put32(static_cast<uint32_t>(crc32(0, png->data() + start, static_cast<uInt>(png->size() - start))));
}

}  // namespace

Bytes makePNG(const PNGPicture& picture) {
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    Bytes out;
    if (setjmp(png_jmpbuf(png))) std::abort();  // a maker's mistake, not a test outcome
    png_set_write_fn(
        png, &out,
        [](png_structp p, png_bytep data, size_t size) {
            auto* bytes = static_cast<Bytes*>(png_get_io_ptr(p));
            bytes->insert(bytes->end(), data, data + size);
        },
        nullptr);
    png_set_IHDR(png, info, picture.width, picture.height, picture.bitDepth, picture.colourType,
                 picture.interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    if (!picture.palette.empty()) {
        std::vector<png_color> colours;
        Bytes alphas;
        for (const auto& c : picture.palette) {
            colours.push_back({c[0], c[1], c[2]});
            alphas.push_back(c[3]);
        }
        png_set_PLTE(png, info, colours.data(), static_cast<int>(colours.size()));
        for (uint8_t a : alphas)
            if (a < 255) {
                png_set_tRNS(png, info, alphas.data(), static_cast<int>(alphas.size()), nullptr);
                break;
            }
    }
    if (picture.gamma) png_set_gAMA_fixed(png, info, picture.gamma);
    if (picture.sRGB) png_set_sRGB(png, info, PNG_sRGB_INTENT_PERCEPTUAL);
    png_write_info(png, info);
    const size_t perRow = picture.samples.size() / static_cast<size_t>(picture.height);
    const size_t sampleBytes = picture.bitDepth == 16 ? 2 : 1;
    Bytes rows(picture.samples.size() * sampleBytes);
    for (size_t i = 0; i < picture.samples.size(); ++i) {
        if (sampleBytes == 2) {
            rows[i * 2] = static_cast<uint8_t>(picture.samples[i] >> 8);
            rows[i * 2 + 1] = static_cast<uint8_t>(picture.samples[i]);
        } else {
            rows[i] = static_cast<uint8_t>(picture.samples[i]);
        }
    }
    std::vector<png_bytep> pointers;
    for (int y = 0; y < picture.height; ++y) pointers.push_back(rows.data() + y * perRow * sampleBytes);
    png_set_interlace_handling(png);
    png_write_image(png, pointers.data());
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return out;
}

Bytes makePNGHeader(uint32_t width, uint32_t height) {
    Bytes png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    Bytes header;
    for (uint32_t v : {width, height})
        for (int shift = 24; shift >= 0; shift -= 8) header.push_back(static_cast<uint8_t>(v >> shift));
    header.insert(header.end(), {8, 6, 0, 0, 0});  // 8-bit RGBA, not interlaced
    appendChunk(&png, "IHDR", header);
    appendChunk(&png, "IDAT", {0x78, 0x9C, 0x03, 0x00, 0x00, 0x00, 0x00, 0x01});  // an empty zlib stream
    appendChunk(&png, "IEND", {});
    return png;
}

Bytes makeJPEG(int width, int height, int channels, const Bytes& pixels, int quality) {
    jpeg_compress_struct info;
    jpeg_error_mgr err;
    info.err = jpeg_std_error(&err);
    jpeg_create_compress(&info);
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&info, &buffer, &size);
    info.image_width = static_cast<JDIMENSION>(width);
    info.image_height = static_cast<JDIMENSION>(height);
    info.input_components = channels;
    info.in_color_space = channels == 1 ? JCS_GRAYSCALE : JCS_RGB;
    jpeg_set_defaults(&info);
    jpeg_set_quality(&info, quality, TRUE);
    jpeg_start_compress(&info, TRUE);
    while (info.next_scanline < info.image_height) {
        JSAMPROW row =
            const_cast<uint8_t*>(pixels.data()) + static_cast<size_t>(info.next_scanline) * width * channels;
        jpeg_write_scanlines(&info, &row, 1);
    }
    jpeg_finish_compress(&info);
    jpeg_destroy_compress(&info);
    Bytes out(buffer, buffer + size);
    std::free(buffer);
    return out;
}

void writePNG(const std::string& path, int width, int height, int channels, const Bytes& pixels) {
    std::string error;
    if (!plat::image::writePNG(path, width, height, pixels, &error, channels))
        throw std::runtime_error("cannot write " + path + ": " + error);
}

void writeJPEG(const std::string& path, int width, int height, const Bytes& rgb, int quality) {
    const Bytes jpeg = makeJPEG(width, height, 3, rgb, quality);
    writeFile(path, std::string(jpeg.begin(), jpeg.end()));
}

}  // namespace dktest
