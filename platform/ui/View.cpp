#include "platform/ui/View.h"

#include <algorithm>
#include <cmath>

#include "platform/ui/Compositor.h"
#include "platform/ui/ViewAnimations.h"
#include "platform/ui/ViewController.h"

namespace plat::ui {

Point Touch::locationInView(const View* view) const {
    return view ? view->convertPointFromView(m_location, nullptr) : m_location;
}

Point Touch::previousLocationInView(const View* view) const {
    return view ? view->convertPointFromView(m_previous, nullptr) : m_previous;
}

TouchSet Event::touchesForView(const View* view) const {
    TouchSet out;
    for (const auto& t : m_touches)
        if (t->view() == view) out.push_back(t);
    return out;
}

void Responder::touchesBegan(const TouchSet& touches, const Event& event) {
    if (Responder* next = nextResponder()) next->touchesBegan(touches, event);
}
void Responder::touchesMoved(const TouchSet& touches, const Event& event) {
    if (Responder* next = nextResponder()) next->touchesMoved(touches, event);
}
void Responder::touchesEnded(const TouchSet& touches, const Event& event) {
    if (Responder* next = nextResponder()) next->touchesEnded(touches, event);
}
void Responder::touchesCancelled(const TouchSet& touches, const Event& event) {
    if (Responder* next = nextResponder()) next->touchesCancelled(touches, event);
}

namespace {

// One axis of an autoresized frame: the flexible parts among (margin before, length, margin
// after) share the superview's change in proportion to their sizes (evenly when all are 0).
void resizeAxis(double& pos, double& len, double oldSuper, double newSuper, bool flexBefore, bool flexLen,
                bool flexAfter) {
    double delta = newSuper - oldSuper;
    const double parts[3] = {pos, len, oldSuper - pos - len};
    const bool flex[3] = {flexBefore, flexLen, flexAfter};
    int count = 0;
    double sum = 0;
    for (int i = 0; i < 3; ++i)
        if (flex[i]) ++count, sum += parts[i];
    if (delta == 0 || count == 0) return;
    auto share = [&](int i) { return sum > 0 ? parts[i] / sum : 1.0 / count; };
    if (flexBefore) pos += delta * share(0);
    if (flexLen) len += delta * share(1);
}

}  // namespace

View::View() = default;

View::View(const Rect& frame) : m_frame(frame) {}

View::~View() {
    for (auto& sub : m_subviews) sub->m_superview = nullptr;
    if (m_drawing.texture) Compositor::releaseTexture(m_drawing.texture, m_drawing.generation);
    Compositor::setNeedsCommit();
}

void View::setFrame(const Rect& frame) {
    Size old = m_frame.size();
    if (ViewAnimations::blockOpen()) {
        const Rect shown = presentationFrame();
        const double shownCentre[2] = {shown.x + shown.width / 2, shown.y + shown.height / 2};
        const double centre[2] = {frame.x + frame.width / 2, frame.y + frame.height / 2};
        const double shownSize[2] = {shown.width, shown.height};
        const double size[2] = {frame.width, frame.height};
        ViewAnimations::blockChange(*this, AnimatedProperty::Position, shownCentre, centre, 2);
        ViewAnimations::blockChange(*this, AnimatedProperty::Bounds, shownSize, size, 2);
    }
    m_frame = frame;
    Compositor::setNeedsCommit();
    if (old == frame.size()) return;
    if (m_autoresizesSubviews)
        for (auto sub : std::vector(m_subviews)) sub->autoresize(old, frame.size());
    layoutSubviews();
}

void View::autoresize(Size oldSuper, Size newSuper) {
    Rect f = m_frame;
    unsigned m = m_autoresizingMask;
    resizeAxis(f.x, f.width, oldSuper.width, newSuper.width, m & kAutoresizingFlexibleLeftMargin,
               m & kAutoresizingFlexibleWidth, m & kAutoresizingFlexibleRightMargin);
    resizeAxis(f.y, f.height, oldSuper.height, newSuper.height, m & kAutoresizingFlexibleTopMargin,
               m & kAutoresizingFlexibleHeight, m & kAutoresizingFlexibleBottomMargin);
    setFrame(f);
}

void View::setAlpha(double alpha) {
    alpha = std::clamp(alpha, 0.0, 1.0);
    if (ViewAnimations::blockOpen()) {
        const double shown = presentationAlpha();
        ViewAnimations::blockChange(*this, AnimatedProperty::Opacity, &shown, &alpha, 1);
    }
    m_alpha = alpha;
    Compositor::setNeedsCommit();
}

void View::setHidden(bool hidden) {
    m_hidden = hidden;
    Compositor::setNeedsCommit();
}

void View::setBackgroundColor(std::optional<Color> color) {
    m_backgroundColor = color;
    Compositor::setNeedsCommit();
}

void View::setLayerTransform(const LayerTransform& transform) {
    if (ViewAnimations::blockOpen()) {
        const LayerTransform shown = presentationTransform();
        const double from[kAnimatedValuesMax] = {shown.tx, shown.ty, shown.rotation, shown.scaleX, shown.scaleY};
        const double to[kAnimatedValuesMax] = {transform.tx, transform.ty, transform.rotation, transform.scaleX,
                                               transform.scaleY};
        ViewAnimations::blockChange(*this, AnimatedProperty::Transform, from, to, kAnimatedValuesMax);
    }
    m_layerTransform = transform;
    Compositor::setNeedsCommit();
}

void View::setCornerRadius(double radius) {
    m_cornerRadius = std::max(radius, 0.0);
    Compositor::setNeedsCommit();
}

void View::setBorderWidth(double width) {
    m_borderWidth = std::max(width, 0.0);
    Compositor::setNeedsCommit();
}

void View::setBorderColor(const Color& color) {
    m_borderColor = color;
    Compositor::setNeedsCommit();
}

void View::setClipsToBounds(bool clips) {
    m_clipsToBounds = clips;
    Compositor::setNeedsCommit();
}

void View::setBackgroundPattern(std::shared_ptr<Image> pattern) {
    m_backgroundPattern = std::move(pattern);
    setNeedsDisplay();
}

View* View::viewWithTag(long tag) {
    if (m_tag == tag) return this;
    for (const auto& sub : m_subviews)
        if (View* found = sub->viewWithTag(tag)) return found;
    return nullptr;
}

void View::setNeedsDisplay() {
    m_needsDisplay = true;
    Compositor::setNeedsCommit();
}

Window* View::window() const {
    const View* v = this;
    while (v->m_superview) v = v->m_superview;
    return v->asWindow();
}

bool View::isDescendantOf(const View* view) const {
    for (const View* v = this; v; v = v->m_superview)
        if (v == view) return true;
    return false;
}

void View::addSubview(std::shared_ptr<View> view) {
    insertSubview(std::move(view), m_subviews.size());
}

void View::insertSubview(std::shared_ptr<View> view, size_t index) {
    if (!view || isDescendantOf(view.get())) return;  // a view cannot hold itself or an ancestor
    Window* before = view->window();
    if (View* old = view->m_superview) {
        std::erase(old->m_subviews, view);
        if (old == this) index = std::min(index, m_subviews.size());
    }
    view->m_superview = this;
    m_subviews.insert(m_subviews.begin() + static_cast<std::ptrdiff_t>(std::min(index, m_subviews.size())), view);
    Compositor::setNeedsCommit();
    view->didMoveToSuperview();
    view->movedToWindow(before);
}

void View::removeFromSuperview() {
    View* parent = m_superview;
    if (!parent) return;
    Window* before = window();
    auto it = std::find_if(parent->m_subviews.begin(), parent->m_subviews.end(),
                           [this](const auto& v) { return v.get() == this; });
    std::shared_ptr<View> keep = *it;  // alive through the hooks below
    parent->m_subviews.erase(it);
    m_superview = nullptr;
    Compositor::setNeedsCommit();
    didMoveToSuperview();
    movedToWindow(before);
}

void View::bringSubviewToFront(View* view) {
    if (view && view->m_superview == this) insertSubview(view->shared_from_this(), m_subviews.size());
}

void View::sendSubviewToBack(View* view) {
    if (view && view->m_superview == this) insertSubview(view->shared_from_this(), 0);
}

void View::movedToWindow(Window* before) {
    if (window() == before) return;
    didMoveToWindow();
    for (auto sub : std::vector(m_subviews)) sub->movedToWindow(before);
}

Point View::originInWindow() const {
    Point p;
    for (const View* v = this; v; v = v->m_superview) {
        if (!v->m_superview && v->asWindow()) break;  // the window's coordinates are its bounds'
        p.x += v->m_frame.x;
        p.y += v->m_frame.y;
        if (v->m_superview) {
            const Point origin = v->m_superview->boundsOrigin();
            p.x -= origin.x;
            p.y -= origin.y;
        }
    }
    return p;
}

namespace {

// Quarter turns land on whole points, not on cos(pi / 2)'s crumbs.
double snapped(double v) {
    return std::abs(v) < 1e-12 ? 0.0 : v;
}

}  // namespace

// The layer's transform turns and scales about the frame's centre, as the compositor draws it.
Point View::toSuperview(Point p) const {
    const LayerTransform& t = m_layerTransform;
    if (t == LayerTransform{}) return {p.x + m_frame.x, p.y + m_frame.y};
    const double c = snapped(std::cos(t.rotation)), s = snapped(std::sin(t.rotation));
    const double dx = (p.x - m_frame.width / 2) * t.scaleX, dy = (p.y - m_frame.height / 2) * t.scaleY;
    return {m_frame.x + m_frame.width / 2 + t.tx + c * dx - s * dy,
            m_frame.y + m_frame.height / 2 + t.ty + s * dx + c * dy};
}

std::optional<Point> View::fromSuperview(Point q) const {
    const LayerTransform& t = m_layerTransform;
    if (t == LayerTransform{}) return Point{q.x - m_frame.x, q.y - m_frame.y};
    if (t.scaleX == 0 || t.scaleY == 0) return std::nullopt;  // flattened: no point of it is under any
    const double c = snapped(std::cos(t.rotation)), s = snapped(std::sin(t.rotation));
    const double ux = q.x - m_frame.x - m_frame.width / 2 - t.tx, uy = q.y - m_frame.y - m_frame.height / 2 - t.ty;
    return Point{(c * ux + s * uy) / t.scaleX + m_frame.width / 2, (-s * ux + c * uy) / t.scaleY + m_frame.height / 2};
}

Point View::toWindow(Point point) const {
    for (const View* v = this; v; v = v->m_superview) {
        if (!v->m_superview && v->asWindow()) break;
        point = v->toSuperview(point);
        if (v->m_superview) {
            const Point origin = v->m_superview->boundsOrigin();
            point.x -= origin.x;
            point.y -= origin.y;
        }
    }
    return point;
}

Point View::fromWindow(Point point) const {
    std::vector<const View*> chain;
    for (const View* v = this; v; v = v->m_superview) {
        if (!v->m_superview && v->asWindow()) break;
        chain.push_back(v);
    }
    for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
        const View* v = *it;
        if (v->m_superview) {
            const Point origin = v->m_superview->boundsOrigin();
            point.x += origin.x;
            point.y += origin.y;
        }
        // A flattened layer keeps the point where it was: nothing maps into it.
        point = v->fromSuperview(point).value_or(point);
    }
    return point;
}

Point View::convertPointToView(Point point, const View* other) const {
    const Point w = toWindow(point);
    return other ? other->fromWindow(w) : w;
}

Point View::convertPointFromView(Point point, const View* other) const {
    return fromWindow(other ? other->toWindow(point) : point);
}

bool View::pointInside(Point point, const Event*) const {
    return bounds().contains(point);
}

View* View::hitTest(Point point, const Event* event) {
    if (m_hidden || m_alpha < 0.01 || !m_userInteractionEnabled || !pointInside(point, event)) return nullptr;
    const Point origin = boundsOrigin();
    for (auto it = m_subviews.rbegin(); it != m_subviews.rend(); ++it) {
        const std::optional<Point> inside = (*it)->fromSuperview({point.x + origin.x, point.y + origin.y});
        if (!inside) continue;
        if (View* hit = (*it)->hitTest(*inside, event)) return hit;
    }
    return this;
}

Responder* View::nextResponder() const {
    if (m_viewController) return m_viewController;
    return m_superview;
}

}  // namespace plat::ui
