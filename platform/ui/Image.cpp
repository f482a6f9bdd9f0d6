#include "platform/ui/Image.h"

#include <cairo.h>

#include <cstdint>

#include "platform/image/ImageCodec.h"

namespace plat::ui {

namespace {

// Cairo's own reading of a PNG, from decoded pixels: premultiplied native-endian ARGB32, or RGB24
// when the file has no transparency.
cairo_surface_t* surfaceFor(const image::Bitmap& bitmap) {
    cairo_surface_t* surface = cairo_image_surface_create(
        bitmap.hasAlpha ? CAIRO_FORMAT_ARGB32 : CAIRO_FORMAT_RGB24, bitmap.width, bitmap.height);
    if (cairo_surface_status(surface) != CAIRO_STATUS_SUCCESS) return surface;
    cairo_surface_flush(surface);
    unsigned char* data = cairo_image_surface_get_data(surface);
    const int stride = cairo_image_surface_get_stride(surface);
    auto premultiply = [](unsigned c, unsigned a) { return (c * a + 127) / 255; };
    for (int y = 0; y < bitmap.height; ++y) {
        const std::uint8_t* src = bitmap.rgba.data() + static_cast<size_t>(y) * bitmap.width * 4;
        auto* dst = reinterpret_cast<std::uint32_t*>(data + static_cast<size_t>(y) * stride);
        for (int x = 0; x < bitmap.width; ++x, src += 4) {
            const unsigned a = bitmap.hasAlpha ? src[3] : 255;
            dst[x] = a << 24 | premultiply(src[0], a) << 16 | premultiply(src[1], a) << 8 | premultiply(src[2], a);
        }
    }
    cairo_surface_mark_dirty(surface);
    return surface;
}

}  // namespace

std::shared_ptr<Image> Image::fromFile(const std::string& path, std::string* error) {
    image::Bitmap bitmap;
    image::Error failure;
    if (!image::decodeFile(path, &bitmap, &failure)) {
        if (error)
            *error = failure.failure == image::Failure::Missing ? path + ": file not found"
                     : failure.failure == image::Failure::Crushed
                         ? path + " is a crushed PNG (CgBI) of a phone bundle, which cannot be read"
                         : path + " is not a PNG file that can be read";
        return nullptr;
    }
    cairo_surface_t* surface = surfaceFor(bitmap);
    if (cairo_surface_status(surface) != CAIRO_STATUS_SUCCESS) {
        cairo_surface_destroy(surface);
        if (error) *error = path + " is not a PNG file that can be read";
        return nullptr;
    }
    std::shared_ptr<Image> image(new Image);
    image->m_path = path;
    image->m_surface = surface;
    const size_t dot = path.rfind('.');
    const std::string stem = path.substr(0, dot == std::string::npos || dot < path.rfind('/') + 1 ? path.size() : dot);
    if (stem.size() >= 3 && stem.compare(stem.size() - 3, 3, "@2x") == 0) image->m_scale = 2;
    return image;
}

std::shared_ptr<Image> Image::fromData(const std::uint8_t* data, size_t size, const std::string& name, double scale,
                                       std::string* error) {
    image::Bitmap bitmap;
    image::Error failure;
    cairo_surface_t* surface = image::decode(data, size, &bitmap, &failure) ? surfaceFor(bitmap) : nullptr;
    if (!surface || cairo_surface_status(surface) != CAIRO_STATUS_SUCCESS) {
        if (surface) cairo_surface_destroy(surface);
        if (error) *error = name + " is not an image that can be read";
        return nullptr;
    }
    std::shared_ptr<Image> image(new Image);
    image->m_path = name;
    image->m_surface = surface;
    image->m_scale = scale;
    return image;
}

std::shared_ptr<Image> Image::fromPremultipliedRGBA(int width, int height, const std::uint8_t* rgba,
                                                   const std::string& name, double scale) {
    if (width <= 0 || height <= 0) return nullptr;
    cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, width, height);
    if (cairo_surface_status(surface) != CAIRO_STATUS_SUCCESS) {
        cairo_surface_destroy(surface);
        return nullptr;
    }
    cairo_surface_flush(surface);
    unsigned char* data = cairo_image_surface_get_data(surface);
    const int stride = cairo_image_surface_get_stride(surface);
    for (int y = 0; y < height; ++y) {
        const std::uint8_t* src = rgba + static_cast<size_t>(y) * width * 4;
        auto* dst = reinterpret_cast<std::uint32_t*>(data + static_cast<size_t>(y) * stride);
        for (int x = 0; x < width; ++x, src += 4)
            dst[x] = std::uint32_t(src[3]) << 24 | std::uint32_t(src[0]) << 16 | std::uint32_t(src[1]) << 8 | src[2];
    }
    cairo_surface_mark_dirty(surface);
    std::shared_ptr<Image> image(new Image);
    image->m_path = name;
    image->m_surface = surface;
    image->m_scale = scale > 0 ? scale : 1;
    return image;
}

std::shared_ptr<Image> Image::fromSurface(cairo_surface_t* surface, const std::string& name, double scale) {
    if (!surface || cairo_surface_status(surface) != CAIRO_STATUS_SUCCESS ||
        cairo_surface_get_type(surface) != CAIRO_SURFACE_TYPE_IMAGE)
        return nullptr;
    const cairo_format_t format = cairo_image_surface_get_format(surface);
    if (format != CAIRO_FORMAT_ARGB32 && format != CAIRO_FORMAT_RGB24) return nullptr;
    cairo_surface_flush(surface);
    std::shared_ptr<Image> image(new Image);
    image->m_path = name;
    image->m_surface = cairo_surface_reference(surface);
    image->m_scale = scale > 0 ? scale : 1;
    return image;
}

Image::~Image() {
    cairo_surface_destroy(m_surface);
}

std::string Image::fileName() const {
    const size_t slash = m_path.rfind('/');
    return slash == std::string::npos ? m_path : m_path.substr(slash + 1);
}

int Image::pixelWidth() const {
    return cairo_image_surface_get_width(m_surface);
}

int Image::pixelHeight() const {
    return cairo_image_surface_get_height(m_surface);
}

Size Image::size() const {
    return {pixelWidth() / m_scale, pixelHeight() / m_scale};
}

void drawImage(cairo_t* cr, const Image& image, const Rect& rect) {
    if (rect.width <= 0 || rect.height <= 0) return;
    cairo_save(cr);
    cairo_rectangle(cr, rect.x, rect.y, rect.width, rect.height);
    cairo_clip(cr);
    cairo_translate(cr, rect.x, rect.y);
    cairo_scale(cr, rect.width / image.pixelWidth(), rect.height / image.pixelHeight());
    cairo_set_source_surface(cr, image.surface(), 0, 0);
    cairo_pattern_set_extend(cairo_get_source(cr), CAIRO_EXTEND_PAD);
    cairo_pattern_set_filter(cairo_get_source(cr), CAIRO_FILTER_GOOD);
    cairo_paint(cr);
    cairo_restore(cr);
}

}  // namespace plat::ui
