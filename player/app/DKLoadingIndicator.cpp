#include "player/app/DKLoadingIndicator.h"

#include <cairo.h>

#include <algorithm>
#include <cmath>

#include "platform/foundation/Bundle.h"

using namespace plat;

DKRoundedRectView::DKRoundedRectView() {
    setBackgroundColor(std::nullopt);
}

DKRoundedRectView::DKRoundedRectView(const ui::Rect& frame) : View(frame) {
    setBackgroundColor(std::nullopt);
}

void DKRoundedRectView::setStrokeColor(const ui::Color& color) {
    m_strokeColor = color;
    setNeedsDisplay();
}

void DKRoundedRectView::setRectColor(const ui::Color& color) {
    m_rectColor = color;
    setNeedsDisplay();
}

void DKRoundedRectView::setStrokeWidth(double width) {
    m_strokeWidth = width;
    setNeedsDisplay();
}

void DKRoundedRectView::setCornerRadius(double radius) {
    m_cornerRadius = radius;
    setNeedsDisplay();
}

namespace {

// The arc from the current point toward `corner`, turning to `next`, with radius `r`: the circle
// touching both lines, entered and left where it touches them (the corners here are right angles).
void arcTo(cairo_t* cr, double cx, double cy, double nx, double ny, double r) {
    double x0, y0;
    cairo_get_current_point(cr, &x0, &y0);
    auto unit = [](double dx, double dy, double* ux, double* uy) {
        const double length = std::hypot(dx, dy);
        *ux = length > 0 ? dx / length : 0;
        *uy = length > 0 ? dy / length : 0;
    };
    double ax, ay, bx, by;
    unit(x0 - cx, y0 - cy, &ax, &ay);  // back along the incoming side
    unit(nx - cx, ny - cy, &bx, &by);  // out along the outgoing side
    const double t1x = cx + ax * r, t1y = cy + ay * r;
    const double t2x = cx + bx * r, t2y = cy + by * r;
    const double ox = cx + (ax + bx) * r, oy = cy + (ay + by) * r;  // the circle's centre
    cairo_line_to(cr, t1x, t1y);
    if (r <= 0) return;
    const double a1 = std::atan2(t1y - oy, t1x - ox), a2 = std::atan2(t2y - oy, t2x - ox);
    // Clockwise on screen (y down) is cairo's positive direction.
    if (ax * by - ay * bx < 0)
        cairo_arc(cr, ox, oy, r, a1, a2);
    else
        cairo_arc_negative(cr, ox, oy, r, a1, a2);
}

void setColor(cairo_t* cr, const ui::Color& c) {
    cairo_set_source_rgba(cr, c.r, c.g, c.b, c.a);
}

}  // namespace

void DKRoundedRectView::draw(cairo_t* cr) {
    const ui::Rect b = bounds();
    const double minX = b.x, minY = b.y, maxX = b.x + b.width, maxY = b.y + b.height;
    const double midX = (minX + maxX) / 2, midY = (minY + maxY) / 2;
    const double r = std::min({m_cornerRadius, b.width / 2, b.height / 2});
    cairo_set_line_width(cr, m_strokeWidth);
    cairo_new_path(cr);
    cairo_move_to(cr, minX, midY);
    arcTo(cr, minX, minY, midX, minY, r);
    arcTo(cr, maxX, minY, maxX, midY, r);
    arcTo(cr, maxX, maxY, midX, maxY, r);
    arcTo(cr, minX, maxY, minX, midY, r);
    cairo_close_path(cr);
    setColor(cr, m_rectColor);
    cairo_fill_preserve(cr);
    setColor(cr, m_strokeColor);
    // A zero width strokes nothing on the platform; cairo would draw a hairline.
    if (m_strokeWidth > 0)
        cairo_stroke(cr);
    else
        cairo_new_path(cr);
}

DKLoadingSpinner::DKLoadingSpinner(const ui::Rect& frame) : View(frame) {
    setHidden(true);
    const foundation::Bundle* bundle = foundation::Bundle::main();
    const std::optional<std::string> path =
        bundle ? bundle->pathForResource("loading_spinner", "png") : std::nullopt;
    m_loadingSpinner = std::make_shared<ui::ImageView>(frame, path.value_or(std::string()));
    addSubview(m_loadingSpinner);
}

void DKLoadingSpinner::startAnimating() {
    ui::BasicAnimation turn;
    turn.keyPath = "transform.rotation.z";
    turn.by = 6.2831855;
    turn.duration = 2.0;
    turn.repeatCount = ui::kRepeatForever;
    turn.curve = ui::AnimationCurve::Linear;
    m_loadingSpinner->addAnimation(turn, kRotationAnimationKey);
    setHidden(false);
}

void DKLoadingSpinner::stopAnimating() {
    setHidden(true);
    m_loadingSpinner->removeAllAnimations();
}
