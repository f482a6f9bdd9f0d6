// JPEG writing through libjpeg-turbo, its errors jumping back here as in the decoder.
#include <algorithm>
#include <cstdlib>

#include "platform/image/ImageCodec.h"
#include "platform/image/JPEGErrors.h"

namespace plat::image {

namespace {

// Only plain data lives across setjmp: the output buffer is libjpeg's until it is copied.
bool compress(int width, int height, const uint8_t* rgba, int quality, unsigned char** buffer,
              unsigned long* length, char* message) {
    jpeg_compress_struct info;
    detail::JPEGError err;
    info.err = detail::jpegErrors(err);
    if (setjmp(err.jump)) {
        jpeg_destroy_compress(&info);
        std::snprintf(message, JMSG_LENGTH_MAX, "%s", err.message);
        return false;
    }
    jpeg_create_compress(&info);
    jpeg_mem_dest(&info, buffer, length);
    info.image_width = static_cast<JDIMENSION>(width);
    info.image_height = static_cast<JDIMENSION>(height);
    info.input_components = 4;
    info.in_color_space = JCS_EXT_RGBA;
    jpeg_set_defaults(&info);
    jpeg_set_quality(&info, quality, TRUE);
    jpeg_start_compress(&info, TRUE);
    while (info.next_scanline < info.image_height) {
        JSAMPROW row = const_cast<uint8_t*>(rgba) + static_cast<size_t>(info.next_scanline) * width * 4;
        jpeg_write_scanlines(&info, &row, 1);
    }
    jpeg_finish_compress(&info);
    jpeg_destroy_compress(&info);
    return true;
}

}  // namespace

bool encodeJPEG(int width, int height, const uint8_t* rgba, size_t size, double quality,
                std::vector<uint8_t>* jpeg, std::string* error) {
    jpeg->clear();
    if (width <= 0 || height <= 0 || size < static_cast<size_t>(width) * height * 4) {
        if (error) *error = "no picture to encode";
        return false;
    }
    const int q = quality <= 0 ? 1 : quality >= 1 ? 100 : std::max(1, static_cast<int>(quality * 100 + 0.5));
    unsigned char* buffer = nullptr;
    unsigned long length = 0;
    char message[JMSG_LENGTH_MAX] = {};
    const bool ok = compress(width, height, rgba, q, &buffer, &length, message);
    if (ok) jpeg->assign(buffer, buffer + length);
    std::free(buffer);
    if (!ok && error) *error = message;
    return ok;
}

}  // namespace plat::image
