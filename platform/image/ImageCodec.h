// The one image codec: PNG, JPEG and GIF (its first image) files or bytes in memory to straight 8-bit
// RGBA, top row first, with hasAlpha when the file carries transparency, and RGBA to PNG; used by the
// port's textures, the views' images, screenshots and the tests' pictures. Formats are told apart by
// signature. Every header is measured against Limits (16384 pixels a side and 64 Mi pixels by
// default; the port passes its 2048-point limit) before a pixel is decoded, so a hostile file cannot
// make us allocate a huge bitmap; a damaged file is a Failure kind and a message, never a crash. PNG
// is libpng's simplified reader and writer (16-bit samples without gamma information are linear
// light, libpng's rule); a phone bundle's crushed PNG (a CgBI chunk) is refused by name. A JPEG cut
// inside its scan data still decodes, its lost rows grey.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace plat::image {

// 8-bit RGBA, not premultiplied, first row at the top.
struct Bitmap {
    int width = 0;
    int height = 0;
    bool hasAlpha = false;  // the file carries transparency (an alpha channel or a transparent colour)
    std::vector<uint8_t> rgba;
};

// What a header may announce; anything larger is refused before decoding.
struct Limits {
    int64_t maxSide = 16384;            // pixels, either side
    int64_t maxPixels = 8192LL * 8192;  // width × height (256 MiB of RGBA)
};

enum class Failure {
    None,
    Missing,     // no file at the path
    Unreadable,  // the file exists but cannot be read
    NotAnImage,  // neither a PNG nor a JPEG signature
    Crushed,     // a phone tool chain's "crushed" PNG (CgBI chunk)
    TooLarge,    // over the limits
    Damaged,     // the codec gave up on the data
};

struct Error {
    Failure failure = Failure::None;
    std::string message;
};

// PNG, JPEG or GIF (told apart by their signatures; a GIF gives its first frame). False, with `out` emptied and `error` set, for
// anything that cannot be decoded whole within `limits`.
bool decode(const uint8_t* bytes, size_t size, Bitmap* out, Error* error = nullptr,
            const Limits& limits = {});
bool decodeFile(const std::string& path, Bitmap* out, Error* error = nullptr, const Limits& limits = {});

// 8-bit pixels, first row at the top, as a PNG; `channels` is 1 (grey), 2 (grey, alpha), 3 (RGB)
// or 4 (RGBA).
bool encodePNG(int width, int height, const uint8_t* pixels, size_t size, int channels,
               std::vector<uint8_t>* png, std::string* error);
bool writePNG(const std::string& path, int width, int height, const std::vector<uint8_t>& pixels,
              std::string* error, int channels = 4);
// 8-bit RGBA, first row at the top, as a baseline JPEG (alpha dropped) at `quality` from 0 (the
// smallest file) to 1 (the best picture).
bool encodeJPEG(int width, int height, const uint8_t* rgba, size_t size, double quality,
                std::vector<uint8_t>* jpeg, std::string* error);
// A PNG file as RGBA, first row at the top (a JPEG is refused): what tests and screenshots compare.
bool readPNG(const std::string& path, int* width, int* height, std::vector<uint8_t>* rgba,
             std::string* error);

}  // namespace plat::image
