#include "platform/ui/Label.h"

#include <pango/pangocairo.h>
#include <strings.h>

#include <algorithm>
#include <set>

#include "platform/ui/TextMeasure.h"
#include "platform/ui/ViewText.h"

namespace plat::ui {

namespace {

constexpr const char* kFallbackFamily = "DejaVu Sans";

struct Caseless {
    bool operator()(const std::string& a, const std::string& b) const { return strcasecmp(a.c_str(), b.c_str()) < 0; }
};

// fontconfig would substitute a missing family too, but by its own rules: this is always DejaVu.
bool familyInstalled(const std::string& family) {
    static const std::set<std::string, Caseless> installed = [] {
        std::set<std::string, Caseless> names;
        PangoFontFamily** families = nullptr;
        int count = 0;
        pango_font_map_list_families(pango_cairo_font_map_get_default(), &families, &count);
        for (int i = 0; i < count; ++i) names.insert(pango_font_family_get_name(families[i]));
        g_free(families);
        return names;
    }();
    return installed.count(family) > 0;
}

// "Family-Style": the style's words as Pango's weight and slant.
PangoFontDescription* describe(const Font& font) {
    const size_t dash = font.name.rfind('-');
    std::string family = dash == std::string::npos ? font.name : font.name.substr(0, dash);
    const std::string style = dash == std::string::npos ? "" : font.name.substr(dash + 1);
    if (!familyInstalled(family)) family = kFallbackFamily;
    PangoFontDescription* description = pango_font_description_new();
    pango_font_description_set_family(description, family.c_str());
    auto has = [&](const char* word) { return strcasestr(style.c_str(), word) != nullptr; };
    if (has("Bold")) pango_font_description_set_weight(description, PANGO_WEIGHT_BOLD);
    if (has("Light")) pango_font_description_set_weight(description, PANGO_WEIGHT_LIGHT);
    if (has("Italic")) pango_font_description_set_style(description, PANGO_STYLE_ITALIC);
    if (has("Oblique")) pango_font_description_set_style(description, PANGO_STYLE_OBLIQUE);
    // In the context's units (points, which its matrix makes pixels): never Pango's typographic points.
    pango_font_description_set_absolute_size(description, std::max(font.size, 0.0) * PANGO_SCALE);
    return description;
}

// Views hold view text already; what only draws (a web view's address) is cleaned here.
void setLayoutText(PangoLayout* layout, const std::string& text) {
    if (isViewText(text)) {
        pango_layout_set_text(layout, text.data(), static_cast<int>(text.size()));
    } else {
        const std::string clean = viewText(text);
        pango_layout_set_text(layout, clean.data(), static_cast<int>(clean.size()));
    }
}

// What drawText lays out; a box height of 0 leaves the height unbound.
void configure(PangoLayout* layout, const std::string& text, const Font& font, double width, double height,
               TextAlignment alignment, int lines) {
    PangoFontDescription* description = describe(font);
    pango_layout_set_font_description(layout, description);
    pango_font_description_free(description);
    setLayoutText(layout, text);
    pango_layout_set_width(layout, static_cast<int>(width * PANGO_SCALE));
    pango_layout_set_alignment(layout, alignment == TextAlignment::Center  ? PANGO_ALIGN_CENTER
                                       : alignment == TextAlignment::Right ? PANGO_ALIGN_RIGHT
                                                                           : PANGO_ALIGN_LEFT);
    // Pango ellipsizes each paragraph to one line when no height bounds it: any number of
    // lines in an unbounded box must not be cut at all.
    pango_layout_set_ellipsize(layout, lines == 0 && height <= 0 ? PANGO_ELLIPSIZE_NONE : PANGO_ELLIPSIZE_END);
    if (lines == 1) {
        pango_layout_set_single_paragraph_mode(layout, TRUE);
    } else {
        pango_layout_set_wrap(layout, PANGO_WRAP_WORD_CHAR);
        // A negative height counts lines; the box's height bounds any number of them.
        if (lines > 1 || height > 0)
            pango_layout_set_height(layout, lines > 1 ? -lines : static_cast<int>(height * PANGO_SCALE));
    }
}

}  // namespace

void drawText(cairo_t* cr, const std::string& text, const Font& font, const Color& color, const Rect& rect,
              TextAlignment alignment, int lines, VerticalAlignment vertical) {
    if (text.empty() || rect.width <= 0 || rect.height <= 0) return;
    PangoLayout* layout = pango_cairo_create_layout(cr);
    configure(layout, text, font, rect.width, rect.height, alignment, lines);
    int width = 0, height = 0;
    pango_layout_get_size(layout, &width, &height);
    cairo_save(cr);
    cairo_rectangle(cr, rect.x, rect.y, rect.width, rect.height);
    cairo_clip(cr);
    cairo_set_source_rgba(cr, color.r, color.g, color.b, color.a);
    const double top = vertical == VerticalAlignment::Top
                           ? 0
                           : (rect.height - static_cast<double>(height) / PANGO_SCALE) / 2;
    cairo_move_to(cr, rect.x, rect.y + top);
    pango_cairo_show_layout(cr, layout);
    cairo_restore(cr);
    g_object_unref(layout);
}

double textHeight(const std::string& text, const Font& font, double width, int lines) {
    if (text.empty() || width <= 0) return 0;
    PangoContext* context = pango_font_map_create_context(pango_cairo_font_map_get_default());
    PangoLayout* layout = pango_layout_new(context);
    configure(layout, text, font, width, 0, TextAlignment::Left, lines);
    int w = 0, h = 0;
    pango_layout_get_size(layout, &w, &h);
    g_object_unref(layout);
    g_object_unref(context);
    return static_cast<double>(h) / PANGO_SCALE;
}

double textWidth(const std::string& text, const Font& font) {
    if (text.empty()) return 0;
    PangoContext* context = pango_font_map_create_context(pango_cairo_font_map_get_default());
    PangoLayout* layout = pango_layout_new(context);
    PangoFontDescription* description = describe(font);
    pango_layout_set_font_description(layout, description);
    pango_font_description_free(description);
    pango_layout_set_single_paragraph_mode(layout, TRUE);
    setLayoutText(layout, text);
    int w = 0, h = 0;
    pango_layout_get_size(layout, &w, &h);
    g_object_unref(layout);
    g_object_unref(context);
    return static_cast<double>(w) / PANGO_SCALE;
}

Label::Label() {
    setUserInteractionEnabled(false);
}

Label::Label(const Rect& frame) : View(frame) {
    setUserInteractionEnabled(false);
}

void Label::setText(std::string text) {
    m_text = viewText(std::move(text), className());
    setNeedsDisplay();
}

void Label::setFont(Font font) {
    m_font = std::move(font);
    setNeedsDisplay();
}

void Label::setTextColor(const Color& color) {
    m_textColor = color;
    setNeedsDisplay();
}

void Label::setTextAlignment(TextAlignment alignment) {
    m_alignment = alignment;
    setNeedsDisplay();
}

void Label::setNumberOfLines(int lines) {
    m_lines = std::max(lines, 0);
    setNeedsDisplay();
}

void Label::setShadowColor(std::optional<Color> color) {
    m_shadowColor = color;
    setNeedsDisplay();
}

void Label::setShadowOffset(Size offset) {
    m_shadowOffset = offset;
    setNeedsDisplay();
}

void Label::setAdjustsFontSizeToFitWidth(bool adjusts) {
    m_adjustsFontSize = adjusts;
    setNeedsDisplay();
}

void Label::setMinimumFontSize(double size) {
    m_minimumFontSize = std::max(size, 0.0);
    setNeedsDisplay();
}

Font Label::drawnFont() const {
    if (!m_adjustsFontSize || m_lines != 1) return m_font;
    return fittingFont(m_text, m_font, bounds().width, m_minimumFontSize);
}

void Label::draw(cairo_t* cr) {
    const Font font = drawnFont();
    if (m_shadowColor) {
        const Rect b = bounds();
        drawText(cr, m_text, font, *m_shadowColor,
                 {b.x + m_shadowOffset.width, b.y + m_shadowOffset.height, b.width, b.height}, m_alignment, m_lines);
    }
    drawText(cr, m_text, font, m_textColor, bounds(), m_alignment, m_lines);
}

std::optional<std::string> Label::dumpText() const {
    if (m_text.empty()) return std::nullopt;
    return m_text;
}

}  // namespace plat::ui
