// Inside the codec: one file per library. Callers have checked the signature and want `out`
// filled whole or an error; limits are applied to the header before any pixel is decoded.
#pragma once

#include "platform/image/ImageCodec.h"

namespace plat::image::detail {

// False, with `error` set, when a header announces more than `limits` allow.
bool withinLimits(int64_t width, int64_t height, const Limits& limits, Error* error);
bool fail(Error* error, Failure failure, std::string message);

bool decodePNG(const uint8_t* bytes, size_t size, const Limits& limits, Bitmap* out, Error* error);
bool decodeJPEG(const uint8_t* bytes, size_t size, const Limits& limits, Bitmap* out, Error* error);
// The first frame of a GIF (an animated one's too).
bool decodeGIF(const uint8_t* bytes, size_t size, const Limits& limits, Bitmap* out, Error* error);

}  // namespace plat::image::detail
