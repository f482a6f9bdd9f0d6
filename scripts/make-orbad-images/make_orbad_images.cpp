// Draws the ad client's eleven built-in images (our own artwork) with Cairo and writes them as
// Base64 PNG text in a C++ source: make_orbad_images OUT.cpp [PNG_DIR]. With PNG_DIR the PNG files
// are written there too, and sheet.png with all of them enlarged over blue, to look at.
#include <cairo.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "platform/foundation/Value.h"
#include "platform/image/ImageCodec.h"

namespace {

using Draw = std::function<void(cairo_t*, double w, double h)>;

struct Picture {
    const char* name;
    int width, height;
    double scale;
    Draw draw;
};

void triangle(cairo_t* cr, double w, double h, bool right) {
    // The arrow fills the image less a margin; its tip and base keep the proportions at both sizes.
    const double mx = w * 0.12, my = h * 0.12;
    cairo_set_source_rgba(cr, 1, 1, 1, 1);
    if (right) {
        cairo_move_to(cr, mx, my);
        cairo_line_to(cr, w - mx, h / 2);
        cairo_line_to(cr, mx, h - my);
    } else {
        cairo_move_to(cr, w - mx, my);
        cairo_line_to(cr, mx, h / 2);
        cairo_line_to(cr, w - mx, h - my);
    }
    cairo_close_path(cr);
    cairo_fill(cr);
}

void cross(cairo_t* cr, double cx, double cy, double half, double width) {
    cairo_set_source_rgba(cr, 1, 1, 1, 1);
    cairo_set_line_width(cr, width);
    cairo_set_line_cap(cr, CAIRO_LINE_CAP_ROUND);
    cairo_move_to(cr, cx - half, cy - half);
    cairo_line_to(cr, cx + half, cy + half);
    cairo_move_to(cr, cx + half, cy - half);
    cairo_line_to(cr, cx - half, cy + half);
    cairo_stroke(cr);
}

// A black disc in a white ring over a soft shadow, optionally with the white X.
void closeButton(cairo_t* cr, double s, bool withCross) {
    const double cx = s / 2, cy = s * 0.47, outer = s * 0.38, ring = s * 0.07;
    // The shadow: translucent discs growing outwards, a little below the button.
    for (int i = 6; i >= 1; --i) {
        cairo_set_source_rgba(cr, 0, 0, 0, 0.07);
        cairo_arc(cr, cx, cy + s * 0.04, outer + s * 0.015 * i, 0, 2 * M_PI);
        cairo_fill(cr);
    }
    cairo_set_source_rgba(cr, 1, 1, 1, 1);
    cairo_arc(cr, cx, cy, outer, 0, 2 * M_PI);
    cairo_fill(cr);
    cairo_set_source_rgba(cr, 0, 0, 0, 1);
    cairo_arc(cr, cx, cy, outer - ring, 0, 2 * M_PI);
    cairo_fill(cr);
    if (withCross) cross(cr, cx, cy, outer * 0.42, s * 0.08);
}

std::vector<Picture> pictures() {
    auto forward = [](cairo_t* cr, double w, double h) { triangle(cr, w, h, true); };
    auto back = [](cairo_t* cr, double w, double h) { triangle(cr, w, h, false); };
    auto closeBox = [](cairo_t* cr, double w, double) { closeButton(cr, w, true); };
    auto closeBlank = [](cairo_t* cr, double w, double) { closeButton(cr, w, false); };
    auto closeIcon = [](cairo_t* cr, double w, double) { cross(cr, w / 2, w / 2, w * 0.36, w * 0.16); };
    auto play = [](cairo_t* cr, double w, double h) {
        const double m = w * 0.2;
        cairo_set_source_rgba(cr, 1, 1, 1, 1);
        cairo_move_to(cr, m * 1.3, m);
        cairo_line_to(cr, w - m, h / 2);
        cairo_line_to(cr, m * 1.3, h - m);
        cairo_close_path(cr);
        cairo_fill(cr);
    };
    return {
        {"forwardImage", 15, 17, 1, forward},
        {"forwardImage", 32, 40, 2, forward},
        {"backImage", 15, 17, 1, back},
        {"backImage", 32, 40, 2, back},
        {"closeBoxImage", 30, 30, 1, closeBox},
        {"closeBoxImage", 60, 60, 2, closeBox},
        {"closeBlankImage", 30, 30, 1, closeBlank},
        {"closeBlankImage", 60, 60, 2, closeBlank},
        {"closeIconImage", 10, 10, 1, closeIcon},
        {"closeIconImage", 20, 20, 2, closeIcon},
        {"playVideoImage", 47, 47, 1, play},
    };
}

// Straight RGBA from Cairo's premultiplied native-endian ARGB32.
std::vector<uint8_t> rgba(cairo_surface_t* surface) {
    const int w = cairo_image_surface_get_width(surface), h = cairo_image_surface_get_height(surface);
    const int stride = cairo_image_surface_get_stride(surface);
    const unsigned char* data = cairo_image_surface_get_data(surface);
    std::vector<uint8_t> out(static_cast<size_t>(w) * h * 4);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const uint32_t p =
                *reinterpret_cast<const uint32_t*>(data + static_cast<size_t>(y) * stride + x * 4);
            const unsigned a = p >> 24;
            uint8_t* o = &out[(static_cast<size_t>(y) * w + x) * 4];
            auto un = [a](unsigned c) { return static_cast<uint8_t>(a ? (c * 255 + a / 2) / a : 0); };
            o[0] = un(p >> 16 & 255);
            o[1] = un(p >> 8 & 255);
            o[2] = un(p & 255);
            o[3] = static_cast<uint8_t>(a);
        }
    return out;
}

// All the pictures side by side over blue, four times their size: what to look at.
void writeSheet(const std::string& path,
                const std::vector<std::pair<const Picture*, std::vector<uint8_t>>>& drawn) {
    constexpr int kZoom = 4, kGap = 8;
    int width = kGap, height = 0;
    for (const auto& [picture, pixels] : drawn) {
        width += picture->width * kZoom + kGap;
        height = std::max(height, picture->height * kZoom + 2 * kGap);
    }
    std::vector<uint8_t> sheet(static_cast<size_t>(width) * height * 4);
    for (size_t i = 0; i < sheet.size(); i += 4)
        sheet[i] = 48, sheet[i + 1] = 96, sheet[i + 2] = 160, sheet[i + 3] = 255;
    int left = kGap;
    for (const auto& [picture, pixels] : drawn) {
        for (int y = 0; y < picture->height * kZoom; ++y)
            for (int x = 0; x < picture->width * kZoom; ++x) {
                const uint8_t* p = &pixels[(static_cast<size_t>(y / kZoom) * picture->width + x / kZoom) * 4];
                uint8_t* o = &sheet[(static_cast<size_t>(y + kGap) * width + left + x) * 4];
                for (int c = 0; c < 3; ++c)
                    o[c] = static_cast<uint8_t>((p[c] * p[3] + o[c] * (255 - p[3])) / 255);
            }
        left += picture->width * kZoom + kGap;
    }
    std::string error;
    plat::image::writePNG(path, width, height, sheet, &error);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2 || argc > 3) {
        std::fprintf(stderr, "usage: make_orbad_images OUT.cpp [PNG_DIR]\n");
        return 2;
    }
    std::ofstream out(argv[1]);
    out << "// The ad client's built-in images as Base64 PNG text. Generated by scripts/make-orbad-images;\n"
           "// draw them again there rather than editing this file.\n"
           "#include \"orbad/core/OBResourcesImages.h\"\n\nnamespace orbad {\n\n"
           "const EmbeddedImage kEmbeddedImages[] = {\n";
    const std::vector<Picture> all = pictures();
    std::vector<std::pair<const Picture*, std::vector<uint8_t>>> drawn;
    for (const Picture& picture : all) {
        cairo_surface_t* surface =
            cairo_image_surface_create(CAIRO_FORMAT_ARGB32, picture.width, picture.height);
        cairo_t* cr = cairo_create(surface);
        picture.draw(cr, picture.width, picture.height);
        cairo_destroy(cr);
        cairo_surface_flush(surface);
        const std::vector<uint8_t> pixels = rgba(surface);
        cairo_surface_destroy(surface);
        std::vector<uint8_t> png;
        std::string error;
        if (!plat::image::encodePNG(picture.width, picture.height, pixels.data(), pixels.size(), 4, &png,
                                    &error)) {
            std::fprintf(stderr, "make_orbad_images: %s\n", error.c_str());
            return 1;
        }
        const std::string file = std::string(picture.name) + (picture.scale == 2 ? "@2x" : "") + ".png";
        if (argc == 3)
            plat::image::writePNG(std::string(argv[2]) + "/" + file, picture.width, picture.height, pixels,
                                  &error);
        drawn.emplace_back(&picture, pixels);
        const std::string text = plat::foundation::base64Encode(png);
        out << "    {\"" << picture.name << "\", " << picture.width << ", " << picture.height << ", "
            << picture.scale << ",\n";
        for (size_t at = 0; at < text.size(); at += 96) out << "     \"" << text.substr(at, 96) << "\"\n";
        out << "    },\n";
    }
    if (argc == 3) writeSheet(std::string(argv[2]) + "/sheet.png", drawn);
    out << "};\n\nconst size_t kEmbeddedImageCount = sizeof kEmbeddedImages / sizeof kEmbeddedImages[0];\n\n"
           "}  // namespace orbad\n";
    return out ? 0 : 1;
}
