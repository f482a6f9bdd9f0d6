#include "platform/ui/ActivityIndicator.h"

#include <cairo.h>

#include <algorithm>
#include <numbers>

namespace plat::ui {

namespace {
constexpr int kSpokes = 12;
constexpr const char* kSpinKey = "spin";
}  // namespace

ActivityIndicator::ActivityIndicator(ActivityIndicatorStyle style)
    : View(style == ActivityIndicatorStyle::WhiteLarge ? Rect{0, 0, 37, 37} : Rect{0, 0, 20, 20}),
      m_style(style),
      m_color(style == ActivityIndicatorStyle::Gray ? Color{0.5, 0.5, 0.5, 1} : Color{1, 1, 1, 1}) {
    setUserInteractionEnabled(false);
    setHidden(true);
}

void ActivityIndicator::setColor(const Color& color) {
    m_color = color;
    setNeedsDisplay();
}

void ActivityIndicator::startAnimating() {
    if (m_animating) return;
    m_animating = true;
    setHidden(false);
    BasicAnimation turn;
    turn.keyPath = "transform.rotation.z";
    turn.by = 2 * std::numbers::pi;
    turn.duration = 1;
    turn.repeatCount = kRepeatForever;
    addAnimation(turn, kSpinKey);
}

void ActivityIndicator::stopAnimating() {
    if (!m_animating) return;
    m_animating = false;
    removeAnimation(kSpinKey);
    if (m_hidesWhenStopped) setHidden(true);
}

void ActivityIndicator::setHidesWhenStopped(bool hides) {
    m_hidesWhenStopped = hides;
    if (hides && !m_animating) setHidden(true);
}

void ActivityIndicator::draw(cairo_t* cr) {
    const Rect b = bounds();
    const double radius = std::min(b.width, b.height) / 2;
    cairo_translate(cr, b.width / 2, b.height / 2);
    cairo_set_line_cap(cr, CAIRO_LINE_CAP_ROUND);
    cairo_set_line_width(cr, radius * 0.22);
    // The spoke at the top is the brightest; the others fade counter-clockwise behind it.
    for (int i = 0; i < kSpokes; ++i) {
        const double fade = 1.0 - 0.75 * i / kSpokes;
        cairo_set_source_rgba(cr, m_color.r, m_color.g, m_color.b, m_color.a * fade);
        cairo_move_to(cr, 0, -radius * 0.45);
        cairo_line_to(cr, 0, -radius * 0.88);
        cairo_stroke(cr);
        cairo_rotate(cr, -2 * std::numbers::pi / kSpokes);
    }
}

}  // namespace plat::ui
