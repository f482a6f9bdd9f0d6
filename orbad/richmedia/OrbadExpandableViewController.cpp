#include "orbad/richmedia/OrbadExpandableViewController.h"

#include <cairo.h>

#include <algorithm>
#include <cmath>

#include "orbad/ads/OrbadRichMediaWebAdView.h"
#include "platform/sys/Device.h"
#include "platform/ui/Application.h"
#include "platform/ui/ScreenSnapshot.h"
#include "platform/ui/StatusBar.h"
#include "platform/ui/Window.h"

namespace orbad {

namespace {

using plat::ui::Rect;

const plat::ui::Color kGrey{0.5, 0.5, 0.5, 1};

class Control : public plat::ui::Button {
public:
    using Button::Button;
    const char* className() const override { return "UIControl"; }
};

double maxX(const Rect& r) {
    return r.x + r.width;
}
double maxY(const Rect& r) {
    return r.y + r.height;
}

// The share of `area` that `frame` covers; nothing covers a view of no area.
double coverage(const Rect& frame, const Rect& area) {
    if (frame.width <= 0 || frame.height <= 0 || area.width <= 0 || area.height <= 0) return 0;
    return frame.width * frame.height / (area.width * area.height);
}

double animationDuration(double requested) {
    return std::min(requested > 0 ? requested : kOrbadExpandDefaultDuration, kOrbadExpandMaxDuration);
}

// The picture of the glass redrawn upright for the interface orientation `o`, `size` points at
// `scale`: each pixel of the interface takes the glass pixel the compositor put it on.
std::shared_ptr<plat::ui::Image> uprightPicture(const std::shared_ptr<plat::ui::Image>& glass, int o,
                                                plat::ui::Size size, double scale) {
    const int turns = plat::ui::interfaceQuarterTurns(o, plat::ui::kInterfaceOrientationPortrait);
    if (!glass || turns == 0) return glass;
    const int w = static_cast<int>(std::lround(size.width * scale));
    const int h = static_cast<int>(std::lround(size.height * scale));
    if (w <= 0 || h <= 0) return nullptr;
    cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_RGB24, w, h);
    cairo_t* cr = cairo_create(surface);
    // Interface pixels to glass pixels: the quarter turns the compositor gives the interface.
    cairo_matrix_t toGlass;
    switch (turns) {
        case 1: cairo_matrix_init(&toGlass, 0, 1, -1, 0, h, 0); break;
        case 2: cairo_matrix_init(&toGlass, -1, 0, 0, -1, w, h); break;
        default: cairo_matrix_init(&toGlass, 0, -1, 1, 0, 0, w); break;
    }
    cairo_pattern_t* pattern = cairo_pattern_create_for_surface(glass->surface());
    cairo_pattern_set_matrix(pattern, &toGlass);
    cairo_pattern_set_filter(pattern, CAIRO_FILTER_NEAREST);
    cairo_set_source(cr, pattern);
    cairo_paint(cr);
    cairo_pattern_destroy(pattern);
    cairo_destroy(cr);
    std::shared_ptr<plat::ui::Image> upright = plat::ui::Image::fromSurface(surface, "screenshot", scale);
    cairo_surface_destroy(surface);
    return upright;
}

}  // namespace

OrbadExpandableViewController::OrbadExpandableViewController(std::shared_ptr<plat::ui::View> adView,
                                                             const Rect& targetFrame, double animationDuration,
                                                             int fromInterfaceOrientation)
    : m_adView(std::move(adView)),
      m_initialAnimationDuration(animationDuration),
      m_wasStatusBarOriginallyHidden(plat::ui::isStatusBarHidden()),
      m_fromInterfaceOrientation(fromInterfaceOrientation),
      m_targetRect(targetFrame),
      m_widget(std::make_shared<OrbadWidgetButtonController>()) {
    m_widget->setDelegate(this);
    if (auto* richMedia = dynamic_cast<OrbadRichMediaWebAdView*>(m_adView.get()))
        richMedia->setWidgetButtonController(m_widget);
}

OrbadExpandableViewController::~OrbadExpandableViewController() {
    for (auto* part : {m_topView.get(), m_bottomView.get(), m_backingView.get()})
        if (part) part->setDelegate(nullptr);
    // The ad keeps no widget of a controller that has gone (one a later expansion gave it stays).
    if (auto* richMedia = dynamic_cast<OrbadRichMediaWebAdView*>(m_adView.get());
        richMedia && richMedia->widgetButtonController() == m_widget)
        richMedia->setWidgetButtonController(nullptr);
    if (m_widget) m_widget->setDelegate(nullptr);
    m_delegate = nullptr;
}

std::weak_ptr<OrbadExpandableViewController> OrbadExpandableViewController::weakSelf() {
    return std::static_pointer_cast<OrbadExpandableViewController>(shared_from_this());
}

void OrbadExpandableViewController::setWidgetButtonController(std::shared_ptr<OrbadWidgetButtonController> widget) {
    if (m_widget && m_widget != widget) m_widget->setDelegate(nullptr);
    m_widget = std::move(widget);
}

bool OrbadExpandableViewController::shouldAutorotateToInterfaceOrientation(int orientation) const {
    return orientation == plat::ui::kInterfaceOrientationPortrait;
}

void OrbadExpandableViewController::viewDidLoad() {
    plat::ui::View& root = *view();
    const int o = interfaceOrientation();
    const Rect screen = plat::sys::Screen::main().bounds();
    const bool upright = o == plat::ui::kInterfaceOrientationPortrait ||
                         o == plat::ui::kInterfaceOrientationPortraitUpsideDown;
    root.setBackgroundColor(kGrey);
    const Rect full = upright ? root.bounds() : Rect{0, 0, screen.height, screen.width};
    auto weak = weakSelf();
    auto closer = [weak](plat::ui::Button&) {
        if (auto self = weak.lock()) self->contractAndClose();
    };

    // Catches the touches that reach nothing else.
    m_fullSizeControl = std::make_shared<Control>(full);
    m_fullSizeControl->addTarget(this, closer);
    root.addSubview(m_fullSizeControl);

    // The screen as it was: this view is not in the window yet, the ad still in its slot.
    const double scale = plat::sys::Screen::main().scale();
    if (plat::ui::Application* app = plat::ui::Application::shared())
        m_screenshot = uprightPicture(plat::ui::snapshotKeyWindow(*app, scale), o, full.size(), scale);

    // Where the ad sits, in this view's coordinates. This platform's windows turn with the
    // interface, so the window's coordinates are the interface's in every orientation: the
    // conversion already lands where the ad shows, landscape included.
    Rect r = m_adView->frame();
    if (plat::ui::View* slot = m_adView->superview()) {
        const plat::ui::Point at = slot->convertPointToView(r.origin(), m_fullSizeControl.get());
        r.x = at.x;
        r.y = at.y;
    }
    m_originalAdLocation = r;
    m_adView->setFrame(m_originalAdLocation);
    root.addSubview(m_adView);

    if (plat::ui::isLandscape(m_fromInterfaceOrientation)) {
        // One picture of the whole screen, as the interface is turned.
        m_backingView = std::make_shared<OrbadExpandableBackgroundView>(full, m_screenshot, true);
        m_backingView->setDelegate(this);
        root.insertSubview(m_backingView, 0);
    } else {
        const Rect& ad = m_originalAdLocation;
        m_leftView = std::make_shared<Control>(Rect{ad.x - full.width, 0, full.width, full.height});
        m_rightView = std::make_shared<Control>(Rect{maxX(ad), 0, full.width, full.height});
        for (auto* panel : {m_leftView.get(), m_rightView.get()}) {
            panel->setBackgroundColor(kGrey);
            panel->setAlpha(0);
            panel->addTarget(this, closer);
            root.addSubview(panel->shared_from_this());
        }
        const double width = upright ? full.width : full.height;
        const double height = upright ? full.height : full.width;
        const Rect top{0, 0, width, ad.y};
        const Rect bottom{0, maxY(ad), width, height - maxY(ad)};
        m_topView = std::make_shared<OrbadExpandableBackgroundView>(top.height < 0 ? Rect{} : top, m_screenshot, true);
        m_bottomView = std::make_shared<OrbadExpandableBackgroundView>(bottom.height < 0 ? Rect{} : bottom,
                                                                       m_screenshot, false);
        for (auto* part : {m_topView.get(), m_bottomView.get()}) {
            part->setDelegate(this);
            root.addSubview(part->shared_from_this());
        }
    }

    m_widget->viewDidLoad(root);
    m_widget->buttonNeedsLayout();
    m_widget->setButtonVisible(false, false);
}

void OrbadExpandableViewController::viewDidAppear(bool) {
    resizeToFrame(m_targetRect, m_initialAnimationDuration);
}

void OrbadExpandableViewController::viewDidUnload() {
    if (m_widget) m_widget->viewDidUnload();
}

void OrbadExpandableViewController::resizeToFrame(const Rect& target, double duration) {
    // A resize would cut the closing short, and its end would never come: the ad would stay over
    // the screen with the engine's take-over held.
    if (!m_adView || m_contracting) return;
    const double seconds = animationDuration(duration);
    const double covered = coverage(target, view()->bounds());
    const std::uint64_t animation = ++m_animation;
    auto weak = weakSelf();
    plat::ui::View::animate(
        {"", seconds, plat::ui::AnimationCurve::EaseInOut},
        [&] {
            m_resizeFrame = target;
            const Rect current = m_adView->frame();
            const double dTop = target.y - current.y;
            const double dBottom = maxY(target) - maxY(current);
            const double dLeft = target.x - current.x;
            const double dRight = maxX(target) - maxX(current);
            // While the ad shrinks it keeps its larger size: the page lays itself out first.
            const bool shorter = target.height < current.height, narrower = target.width < current.width;
            m_adView->setFrame({target.x, target.y, narrower ? current.width : target.width,
                                shorter ? current.height : target.height});

            if (m_leftView) {
                Rect left = m_leftView->frame();
                left.x += dLeft;
                m_leftView->setFrame(left);
            }
            if (m_rightView) {
                Rect right = m_rightView->frame();
                right.x += dRight;
                m_rightView->setFrame(right);
                m_rightView->setAlpha(1);
            }
            if (m_topView) {
                Rect top = m_topView->frame();
                top.y += dTop;
                // No gap may open above it: it stretches up to the top instead.
                if (top.y > 0) {
                    top.height += top.y;
                    top.y = 0;
                }
                m_topView->moveToNewLocation(top);
                m_topView->darken();
            }
            if (m_bottomView) {
                Rect bottom = m_bottomView->frame();
                bottom.y += dBottom;
                const plat::ui::Application* app = plat::ui::Application::shared();
                if (const plat::ui::Window* window = app ? app->keyWindow() : nullptr) {
                    const double floor = maxY(window->frame());
                    if (maxY(bottom) < floor) bottom.height = floor - bottom.y;
                }
                view()->bringSubviewToFront(m_bottomView.get());
                m_bottomView->moveToNewLocation(bottom);
                m_bottomView->darken();
            }
            if (m_backingView) m_backingView->darken();
        },
        [weak, animation](bool) {
            auto self = weak.lock();
            if (self && self->m_animation == animation) self->adViewFinishedResizing();
        });
    if (m_widget) m_widget->setButtonVisible(covered >= kOrbadWidgetCoverage, seconds);
    if (!plat::ui::isStatusBarHidden()) plat::ui::setStatusBarHidden(true);
}

void OrbadExpandableViewController::adViewFinishedResizing() {
    if (!m_adView) return;
    auto keep = shared_from_this();
    m_adView->setFrame(m_resizeFrame);
    if (m_widget) m_widget->setButtonVisible(coverage(m_resizeFrame, view()->bounds()) >= kOrbadWidgetCoverage);
    if (m_delegate) m_delegate->obExpandableViewControllerDidFinishResizingAdView(*this, *m_adView);
}

void OrbadExpandableViewController::contractAndClose() {
    contractAndCloseWithDuration(kOrbadExpandDefaultDuration);
}

void OrbadExpandableViewController::contractAndCloseWithDuration(double duration) {
    // One closing: touches that land while it runs change nothing.
    if (m_contracting || !m_adView) return;
    auto keep = shared_from_this();
    m_contracting = true;
    if (m_delegate) m_delegate->obExpandableViewControllerWillCloseAdView(*this, *m_adView);
    if (!m_adView) return;
    const double seconds = animationDuration(duration);
    const std::uint64_t animation = ++m_animation;
    auto weak = weakSelf();
    plat::ui::View::animate(
        {kOrbadContractAnimationName, seconds, plat::ui::AnimationCurve::EaseInOut},
        [&] {
            const Rect& slot = m_originalAdLocation;
            const Rect current = m_adView->frame();
            const bool taller = current.height > slot.height, wider = current.width > slot.width;
            m_adView->setFrame({slot.x, slot.y, wider ? current.width : slot.width,
                                taller ? current.height : slot.height});
            if (m_leftView) {
                Rect left = m_leftView->frame();
                left.x = slot.x - left.width;
                m_leftView->setFrame(left);
            }
            if (m_rightView) {
                Rect right = m_rightView->frame();
                right.x = maxX(slot);
                m_rightView->setFrame(right);
            }
            if (m_topView) {
                m_topView->returnToOriginalLocation();
                m_topView->lighten();
            }
            if (m_bottomView) {
                view()->bringSubviewToFront(m_bottomView.get());
                m_bottomView->returnToOriginalLocation();
                m_bottomView->lighten();
            }
            if (m_backingView) m_backingView->lighten();
        },
        [weak, animation](bool) {
            auto self = weak.lock();
            if (self && self->m_animation == animation) self->finishedContracting();
        });
    if (m_widget) m_widget->setButtonVisible(false, seconds);
    if (!m_wasStatusBarOriginallyHidden) plat::ui::setStatusBarHidden(false);
}

void OrbadExpandableViewController::finishedContracting() {
    if (!m_adView) return;
    auto keep = shared_from_this();
    m_adView->setFrame(m_originalAdLocation);
    plat::ui::View::animate({"", kOrbadPanelFadeDuration, plat::ui::AnimationCurve::EaseInOut}, [&] {
        if (m_leftView) m_leftView->setAlpha(0);
        if (m_rightView) m_rightView->setAlpha(0);
    });
    if (m_delegate) m_delegate->obExpandableViewControllerDidCloseAdView(*this, *m_adView);
}

}  // namespace orbad
