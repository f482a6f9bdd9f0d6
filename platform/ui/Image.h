// A picture read from a PNG or JPEG file, as views draw it with Cairo: decoded at once by
// platform/image and handed over as Cairo's own PNG reader would make it (premultiplied ARGB32,
// RGB24 without transparency). One that cannot be read (a crushed phone PNG is named) leaves no
// image.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "platform/ui/Orientation.h"

typedef struct _cairo cairo_t;
typedef struct _cairo_surface cairo_surface_t;

namespace plat::ui {

class Image {
public:
    // Nullptr, with `error` set, for a file that is missing or not a PNG or JPEG the codec reads (a
    // phone bundle's crushed PNG is named as such). A name ending in "@2x" before the extension has
    // two pixels a point.
    static std::shared_ptr<Image> fromFile(const std::string& path, std::string* error = nullptr);
    // From a PNG or JPEG file's bytes (downloaded, compiled in), with `scale` pixels a point; `name`
    // stands for the path in dumps and errors. nullptr when the bytes cannot be decoded.
    static std::shared_ptr<Image> fromData(const std::uint8_t* data, size_t size, const std::string& name,
                                           double scale = 1,
                                           std::string* error = nullptr);
    // From rows of premultiplied RGBA pixels, top row first, `scale` pixels a point; nullptr for an
    // empty or oversized picture.
    static std::shared_ptr<Image> fromPremultipliedRGBA(int width, int height, const std::uint8_t* rgba,
                                                        const std::string& name, double scale = 1);
    // A Cairo image surface (ARGB32 or RGB24) drawn elsewhere, kept by a reference of its own, at
    // `scale` pixels a point; nullptr for a surface in error or of another kind.
    static std::shared_ptr<Image> fromSurface(cairo_surface_t* surface, const std::string& name, double scale = 1);
    ~Image();
    Image(const Image&) = delete;
    Image& operator=(const Image&) = delete;

    const std::string& path() const { return m_path; }
    // The file's name without its folders (what view dumps show).
    std::string fileName() const;
    int pixelWidth() const;
    int pixelHeight() const;
    double scale() const { return m_scale; }
    // In points.
    Size size() const;
    // Premultiplied ARGB32.
    cairo_surface_t* surface() const { return m_surface; }

private:
    Image() = default;
    std::string m_path;
    cairo_surface_t* m_surface = nullptr;
    double m_scale = 1;
};

// Paints `image` over `rect` (stretched to it) in `cr`'s user space: edges stay sharp, not faded.
void drawImage(cairo_t* cr, const Image& image, const Rect& rect);

}  // namespace plat::ui
