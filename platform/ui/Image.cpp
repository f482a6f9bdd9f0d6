#include "platform/ui/Image.h"

#include <cairo.h>

#include <cstdio>
#include <cstring>

namespace plat::ui {

namespace {

// A PNG whose first chunk is "CgBI": BGRA premultiplied and raw deflate, which libpng refuses.
bool isCrushedPNG(const std::string& path) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) return false;
    unsigned char head[16] = {};
    const size_t read = std::fread(head, 1, sizeof head, file);
    std::fclose(file);
    return read == sizeof head && std::memcmp(head + 12, "CgBI", 4) == 0;
}

}  // namespace

std::shared_ptr<Image> Image::fromFile(const std::string& path, std::string* error) {
    cairo_surface_t* surface = cairo_image_surface_create_from_png(path.c_str());
    const cairo_status_t status = cairo_surface_status(surface);
    if (status != CAIRO_STATUS_SUCCESS) {
        cairo_surface_destroy(surface);
        // Cairo reports most broken files as "out of memory": name the cause ourselves.
        if (error)
            *error = status == CAIRO_STATUS_FILE_NOT_FOUND ? path + ": file not found"
                     : isCrushedPNG(path) ? path + " is a crushed PNG (CgBI) of a phone bundle, which cannot be read"
                                          : path + " is not a PNG file that can be read";
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
