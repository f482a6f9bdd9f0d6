#include "platform/image/ImageCodec.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

#include "platform/image/Decoders.h"
#include "platform/sys/WholeFile.h"

namespace plat::image {

namespace detail {

bool fail(Error* error, Failure failure, std::string message) {
    if (error) *error = Error{failure, std::move(message)};
    return false;
}

bool withinLimits(int64_t width, int64_t height, const Limits& limits, Error* error) {
    if (width <= limits.maxSide && height <= limits.maxSide && width * height <= limits.maxPixels)
        return true;
    return fail(error, Failure::TooLarge,
                "image too large: " + std::to_string(width) + "x" + std::to_string(height) + " pixels");
}

}  // namespace detail

namespace {

enum class Kind { PNG, JPEG, GIF, Other };

Kind kindOf(const uint8_t* bytes, size_t size) {
    static const uint8_t kPNGSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    if (size >= 8 && std::memcmp(bytes, kPNGSignature, 8) == 0) return Kind::PNG;
    if (size >= 3 && bytes[0] == 0xFF && bytes[1] == 0xD8 && bytes[2] == 0xFF) return Kind::JPEG;
    if (size >= 6 && (std::memcmp(bytes, "GIF87a", 6) == 0 || std::memcmp(bytes, "GIF89a", 6) == 0)) return Kind::GIF;
    return Kind::Other;
}

bool readWhole(const std::string& path, std::vector<uint8_t>* bytes, Error* error) {
    plat::sys::ReadProblem problem;
    const std::optional<std::string> whole = plat::sys::readWholeFile(path, plat::sys::kImageCap, &problem);
    if (!whole)
        return detail::fail(error,
                            problem.failure == plat::sys::ReadFailure::Missing    ? Failure::Missing
                            : problem.failure == plat::sys::ReadFailure::TooLarge ? Failure::TooLarge
                                                                                  : Failure::Unreadable,
                            problem.message);
    bytes->assign(whole->begin(), whole->end());
    return true;
}

}  // namespace

bool decode(const uint8_t* bytes, size_t size, Bitmap* out, Error* error, const Limits& limits) {
    const Kind kind = kindOf(bytes, size);
    const bool decoded = kind == Kind::PNG ? detail::decodePNG(bytes, size, limits, out, error)
                         : kind == Kind::JPEG ? detail::decodeJPEG(bytes, size, limits, out, error)
                         : kind == Kind::GIF  ? detail::decodeGIF(bytes, size, limits, out, error)
                                              : detail::fail(error, Failure::NotAnImage, "not a PNG, JPEG or GIF file");
    if (!decoded) *out = Bitmap{};
    return decoded;
}

bool decodeFile(const std::string& path, Bitmap* out, Error* error, const Limits& limits) {
    std::vector<uint8_t> bytes;
    if (!readWhole(path, &bytes, error)) {
        *out = Bitmap{};
        return false;
    }
    return decode(bytes.data(), bytes.size(), out, error, limits);
}

bool writePNG(const std::string& path, int width, int height, const std::vector<uint8_t>& pixels,
              std::string* error, int channels) {
    std::vector<uint8_t> png;
    if (!encodePNG(width, height, pixels.data(), pixels.size(), channels, &png, error)) return false;
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (!file) {
        if (error) *error = std::strerror(errno);
        return false;
    }
    bool written = std::fwrite(png.data(), 1, png.size(), file) == png.size();
    written = std::fclose(file) == 0 && written;
    if (!written) {
        if (error) *error = std::strerror(errno);
        std::remove(path.c_str());  // no half picture left behind
    }
    return written;
}

bool readPNG(const std::string& path, int* width, int* height, std::vector<uint8_t>* rgba,
             std::string* error) {
    std::vector<uint8_t> bytes;
    Error failure;
    Bitmap bitmap;
    const bool read = readWhole(path, &bytes, &failure) &&
                      (kindOf(bytes.data(), bytes.size()) == Kind::PNG
                           ? detail::decodePNG(bytes.data(), bytes.size(), Limits{}, &bitmap, &failure)
                           : detail::fail(&failure, Failure::NotAnImage, path + " is not a PNG file"));
    if (!read) {
        if (error) *error = failure.message;
        return false;
    }
    *width = bitmap.width;
    *height = bitmap.height;
    *rgba = std::move(bitmap.rgba);
    return true;
}

}  // namespace plat::image
