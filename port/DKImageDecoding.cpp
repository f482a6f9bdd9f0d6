// Image files for textures: the codec decodes, the port only sets the scale and its size limit.
#include <cmath>

#include "platform/image/ImageCodec.h"
#include "port/Texture2D.h"

namespace {

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

}  // namespace

bool DKDecodeImageFile(const std::string& path, int maxPoints, DKDecodedImage* image, std::string* error) {
    *image = DKDecodedImage{};
    image->scale = scaleForPath(path);
    // No side over maxPoints points, checked on the header; the area follows from the sides.
    plat::image::Limits limits;
    limits.maxSide = static_cast<int64_t>(std::floor(static_cast<float>(maxPoints) * image->scale));
    limits.maxPixels = limits.maxSide * limits.maxSide;
    plat::image::Bitmap bitmap;
    plat::image::Error failure;
    if (!plat::image::decodeFile(path, &bitmap, &failure, limits)) {
        *error = failure.message;
        return false;
    }
    image->width = bitmap.width;
    image->height = bitmap.height;
    image->hasAlpha = bitmap.hasAlpha;
    image->rgba = std::move(bitmap.rgba);
    return true;
}
