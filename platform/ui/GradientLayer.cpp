#include "platform/ui/GradientLayer.h"

#include <cairo.h>

namespace plat::ui {

GradientLayer::GradientLayer() {
    setUserInteractionEnabled(false);
}

void GradientLayer::setColors(std::vector<Color> colors) {
    m_colors = std::move(colors);
    setNeedsDisplay();
}

void GradientLayer::setStartPoint(Point point) {
    m_start = point;
    setNeedsDisplay();
}

void GradientLayer::setEndPoint(Point point) {
    m_end = point;
    setNeedsDisplay();
}

void GradientLayer::draw(cairo_t* cr) {
    if (m_colors.empty()) return;
    const Rect b = bounds();
    cairo_pattern_t* gradient = cairo_pattern_create_linear(m_start.x * b.width, m_start.y * b.height,
                                                            m_end.x * b.width, m_end.y * b.height);
    const size_t count = m_colors.size();
    for (size_t i = 0; i < count; ++i) {
        const Color& c = m_colors[i];
        const double at = count == 1 ? 0.0 : static_cast<double>(i) / static_cast<double>(count - 1);
        cairo_pattern_add_color_stop_rgba(gradient, at, c.r, c.g, c.b, c.a);
    }
    cairo_set_source(cr, gradient);
    cairo_paint(cr);
    cairo_pattern_destroy(gradient);
}

}  // namespace plat::ui
