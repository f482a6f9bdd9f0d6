// JPEG through libjpeg-turbo. Its default error handler exits the process, so errors jump back
// here; a file cut inside its scan data is libjpeg's warning, not an error (the missing rows
// come out grey, as every decoder built on it shows them).
#include "platform/image/Decoders.h"
#include "platform/image/JPEGErrors.h"

namespace plat::image {

// Only plain data lives across setjmp here: the decoder writes into `out`, owned by the caller.
bool detail::decodeJPEG(const uint8_t* bytes, size_t size, const Limits& limits, Bitmap* out, Error* error) {
    jpeg_decompress_struct info;
    detail::JPEGError err;
    info.err = detail::jpegErrors(err);
    if (setjmp(err.jump)) {
        jpeg_destroy_decompress(&info);
        return fail(error, Failure::Damaged, err.message);
    }
    jpeg_create_decompress(&info);
    jpeg_mem_src(&info, bytes, static_cast<unsigned long>(size));
    jpeg_read_header(&info, TRUE);
    if (!withinLimits(info.image_width, info.image_height, limits, error)) {
        jpeg_destroy_decompress(&info);
        return false;
    }
    const bool cmyk = info.jpeg_color_space == JCS_CMYK || info.jpeg_color_space == JCS_YCCK;
    info.out_color_space = cmyk ? JCS_CMYK : JCS_EXT_RGBA;
    jpeg_start_decompress(&info);
    out->width = static_cast<int>(info.output_width);
    out->height = static_cast<int>(info.output_height);
    out->rgba.assign(static_cast<size_t>(out->width) * out->height * 4, 0);
    while (info.output_scanline < info.output_height) {
        JSAMPROW row = out->rgba.data() + static_cast<size_t>(info.output_scanline) * out->width * 4;
        jpeg_read_scanlines(&info, &row, 1);
    }
    jpeg_finish_decompress(&info);
    jpeg_destroy_decompress(&info);
    if (cmyk) {
        // Adobe writes inverted CMYK; the K channel scales the other three.
        for (size_t i = 0; i < out->rgba.size(); i += 4) {
            unsigned k = out->rgba[i + 3];
            for (int c = 0; c < 3; ++c) out->rgba[i + c] = static_cast<uint8_t>(out->rgba[i + c] * k / 255);
            out->rgba[i + 3] = 255;
        }
    }
    out->hasAlpha = false;
    return true;
}

}  // namespace plat::image
