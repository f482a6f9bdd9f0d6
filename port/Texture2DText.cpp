// Text to textures with Pango and Cairo. Sizes are pixels (absolute sizes: Pango's plain sizes are
// points, a third too large here). White glyphs, premultiplied by Cairo.
#include "port/Texture2DText.h"

#include <GLES2/gl2.h>
#include <pango/pangocairo.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <set>

#include "port/Texture2D.h"

namespace {

const char* const kSystemFont = "Sans";

std::string lower(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

// The families fontconfig knows, lower-cased; read once.
const std::set<std::string>& installedFamilies() {
    static const std::set<std::string> families = [] {
        std::set<std::string> names;
        PangoFontMap* map = pango_cairo_font_map_get_default();
        PangoFontFamily** list = nullptr;
        int count = 0;
        pango_font_map_list_families(map, &list, &count);
        for (int i = 0; i < count; ++i) names.insert(lower(pango_font_family_get_name(list[i])));
        g_free(list);
        return names;
    }();
    return families;
}

// Game projects name fonts the phone's way, often as "Family-Style" ("Helvetica-Bold"). A name
// that matches no installed family falls back to the system font.
PangoFontDescription* fontFor(const std::string& fontName, float pixels) {
    PangoFontDescription* font = pango_font_description_new();
    const auto& families = installedFamilies();
    std::string family = fontName, style;
    if (!families.count(lower(family))) {
        size_t dash = fontName.rfind('-');
        if (dash != std::string::npos && families.count(lower(fontName.substr(0, dash)))) {
            family = fontName.substr(0, dash);
            style = lower(fontName.substr(dash + 1));
        } else {
            family = kSystemFont;
        }
    }
    pango_font_description_set_family(font, family.c_str());
    if (style.find("bold") != std::string::npos) pango_font_description_set_weight(font, PANGO_WEIGHT_BOLD);
    if (style.find("italic") != std::string::npos || style.find("oblique") != std::string::npos)
        pango_font_description_set_style(font, PANGO_STYLE_ITALIC);
    pango_font_description_set_absolute_size(font, std::max(pixels, 0.0f) * PANGO_SCALE);
    return font;
}

PangoAlignment pangoAlignment(DKTextAlignment alignment) {
    switch (alignment) {
        case DKTextAlignmentLeft:
            return PANGO_ALIGN_LEFT;
        case DKTextAlignmentRight:
            return PANGO_ALIGN_RIGHT;
        default:
            return PANGO_ALIGN_CENTER;
    }
}

uint32_t maxTextureSize() {
    GLint size = 0;
    glGetIntegerv(GL_MAX_TEXTURE_SIZE, &size);
    return size > 0 ? static_cast<uint32_t>(size) : 2048u;
}

struct Measure {
    double width = 0;       // widest "\n" piece, pixels
    double lineHeight = 0;  // tallest piece
    int pieces = 0;
};

Measure measure(PangoLayout* layout, const std::string& text) {
    Measure m;
    size_t start = 0;
    while (true) {
        size_t end = text.find('\n', start);
        std::string piece = text.substr(start, end == std::string::npos ? std::string::npos : end - start);
        pango_layout_set_text(layout, piece.c_str(), static_cast<int>(piece.size()));
        PangoRectangle logical;
        pango_layout_get_extents(layout, nullptr, &logical);
        m.width = std::max(m.width, static_cast<double>(logical.width) / PANGO_SCALE);
        m.lineHeight = std::max(m.lineHeight, static_cast<double>(logical.height) / PANGO_SCALE);
        ++m.pieces;
        if (end == std::string::npos) break;
        start = end + 1;
    }
    return m;
}

// Lines laid out past the box's bottom: glyphs of the next lines may reach up into the box, and a
// text cut inside a paragraph may break its last lines differently from the whole text.
constexpr int kSpareLines = 3;
// A first guess at the bytes that fill the box: lines of characters half the font size wide, one
// byte each, one line per font size of height. Most texts are shorter and are laid out whole at
// once; for the others a guess too small costs one more pass, one too large a layout too long.
size_t firstPrefix(double boxWidth, double boxHeight, float fontSize) {
    double em = std::max(static_cast<double>(fontSize), 1.0);
    double perLine = boxWidth / (0.5 * em) + 1;
    double lines = boxHeight / em + kSpareLines;
    return static_cast<size_t>(std::min(perLine * lines, 1e9));
}

// The lines of the layout whose tops lie above `bottom` (Pango units).
int linesAbove(PangoLayout* layout, int bottom) {
    int count = 0;
    PangoLayoutIter* iter = pango_layout_get_iter(layout);
    do {
        int top = 0, end = 0;
        pango_layout_iter_get_line_yrange(iter, &top, &end);
        if (top >= bottom) break;
        ++count;
    } while (pango_layout_iter_next_line(iter));
    pango_layout_iter_free(iter);
    return count;
}

// Where a prefix of about `want` bytes ends: at the end of the paragraph `want` falls in when that
// is near (Pango lays out paragraphs one by one, so every line before is the whole text's), else at
// the start of the character at `want`.
size_t prefixEnd(const std::string& text, size_t want) {
    if (want >= text.size()) return text.size();
    size_t newline = text.find('\n', want);
    if (newline != std::string::npos && newline - want <= want) return newline;
    while (want > 0 && (static_cast<unsigned char>(text[want]) & 0xC0) == 0x80) --want;
    return want;
}

// Pango goes over the text from its start for each line it lays out, so a layout costs the square
// of its lines, and everything below the box is clipped away. So only a prefix is laid out: the
// first found whose lines reach kSpareLines past the box, or the whole text when it ends sooner.
// The lines that show are the same as the whole text's.
void layOutShownText(PangoLayout* layout, const std::string& text, double boxWidth, double boxHeight,
                     float fontSize, dk::port::TextWork* work) {
    const int bottom = static_cast<int>(std::ceil(boxHeight * PANGO_SCALE));
    for (size_t want = firstPrefix(boxWidth, boxHeight, fontSize);;) {
        size_t end = prefixEnd(text, want);
        pango_layout_set_text(layout, text.data(), static_cast<int>(end));
        int lines = pango_layout_get_line_count(layout);
        if (work) {
            work->bytes += end;
            work->lines += lines;
        }
        if (end == text.size() || lines >= linesAbove(layout, bottom) + kSpareLines) return;
        // Grow by the height still missing, judged from the lines so far, and at least double.
        PangoRectangle logical;
        pango_layout_get_extents(layout, nullptr, &logical);
        double reached = std::max(logical.height, 1);
        double needed = bottom + kSpareLines * reached / lines;
        double guess = std::min(1.25 * static_cast<double>(end) * needed / reached, static_cast<double>(text.size()));
        want = std::max(std::min(2 * want, text.size()), static_cast<size_t>(guess));
    }
}

}  // namespace

namespace dk::port {

TextBitmap drawText(const std::string& string, DKTextAlignment alignment, const std::string& fontName,
                    float fontSize, uint32_t desiredWidth, uint32_t desiredHeight, uint32_t limit,
                    TextWork* work) {
    cairo_surface_t* scratch = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, 1, 1);
    cairo_t* cr = cairo_create(scratch);
    PangoLayout* layout = pango_cairo_create_layout(cr);
    PangoFontDescription* font = fontFor(fontName, fontSize);
    pango_layout_set_font_description(layout, font);
    pango_font_description_free(font);

    TextBitmap bitmap;
    double boxWidth = desiredWidth, boxHeight = desiredHeight;
    if (desiredWidth == 0 || desiredHeight == 0) {
        Measure m = measure(layout, string);
        boxWidth = m.width;
        boxHeight = m.lineHeight * m.pieces;
    }
    // Never ask GL for more than it can hold: text past the limit is cut off.
    boxWidth = std::min(boxWidth, static_cast<double>(limit));
    boxHeight = std::min(boxHeight, static_cast<double>(limit));
    uint32_t width = DKNextPowerOfTwo(static_cast<uint32_t>(boxWidth));
    uint32_t height = DKNextPowerOfTwo(static_cast<uint32_t>(boxHeight));
    if (width == 0 || height == 0) {
        g_object_unref(layout);
        cairo_destroy(cr);
        cairo_surface_destroy(scratch);
        return bitmap;
    }

    cairo_surface_t* surface =
        cairo_image_surface_create(CAIRO_FORMAT_ARGB32, static_cast<int>(width), static_cast<int>(height));
    cairo_t* draw = cairo_create(surface);
    // The box sits at the bottom of the bitmap, which is then turned upside down, so the box's
    // bottom edge lands in the texture's first row.
    cairo_translate(draw, 0, height - boxHeight);
    cairo_rectangle(draw, 0, 0, boxWidth, boxHeight);
    cairo_clip(draw);
    cairo_set_source_rgba(draw, 1, 1, 1, 1);
    pango_cairo_update_layout(draw, layout);
    pango_layout_set_width(layout, static_cast<int>(std::ceil(boxWidth * PANGO_SCALE)));
    pango_layout_set_wrap(layout, PANGO_WRAP_WORD_CHAR);
    pango_layout_set_alignment(layout, pangoAlignment(alignment));
    layOutShownText(layout, string, boxWidth, boxHeight, fontSize, work);
    pango_cairo_show_layout(draw, layout);
    cairo_destroy(draw);
    cairo_surface_flush(surface);

    const uint8_t* pixels = cairo_image_surface_get_data(surface);
    int stride = cairo_image_surface_get_stride(surface);
    bitmap.width = width;
    bitmap.height = height;
    bitmap.boxWidth = boxWidth;
    bitmap.boxHeight = boxHeight;
    bitmap.rgba.resize(static_cast<size_t>(width) * height * 4);
    for (uint32_t y = 0; y < height; ++y) {
        const auto* src =
            reinterpret_cast<const uint32_t*>(pixels + static_cast<size_t>(height - 1 - y) * stride);
        uint8_t* dst = bitmap.rgba.data() + static_cast<size_t>(y) * width * 4;
        for (uint32_t x = 0; x < width; ++x, dst += 4) {
            uint32_t p = src[x];  // premultiplied 0xAARRGGBB
            dst[0] = static_cast<uint8_t>(p >> 16);
            dst[1] = static_cast<uint8_t>(p >> 8);
            dst[2] = static_cast<uint8_t>(p);
            dst[3] = static_cast<uint8_t>(p >> 24);
        }
    }
    cairo_surface_destroy(surface);
    g_object_unref(layout);
    cairo_destroy(cr);
    cairo_surface_destroy(scratch);
    return bitmap;
}

}  // namespace dk::port

std::unique_ptr<Texture2D> Texture2D::initWithString(const std::string& string, DKTextAlignment alignment,
                                                     const std::string& fontName, float fontSize) {
    return initWithString(string, alignment, fontName, fontSize, 0, 0);
}

std::unique_ptr<Texture2D> Texture2D::initWithString(const std::string& string, DKTextAlignment alignment,
                                                     const std::string& fontName, float fontSize,
                                                     uint32_t desiredWidth, uint32_t desiredHeight) {
    dk::port::TextBitmap bitmap =
        dk::port::drawText(string, alignment, fontName, fontSize, desiredWidth, desiredHeight, maxTextureSize());
    // Nothing to show: no texture at all, so none can leak.
    if (bitmap.width == 0) return nullptr;
    return initWithData(bitmap.rgba.data(), Texture2DPixelFormatRGBA8888, bitmap.width, bitmap.height,
                        DKSize{static_cast<float>(bitmap.boxWidth), static_cast<float>(bitmap.boxHeight)});
}
