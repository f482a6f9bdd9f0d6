#include "orbad/ads/OrbadTransionableAdView.h"

#include <algorithm>
#include <cmath>

#include "orbad/ads/OrbadAd.h"
#include "platform/ui/ViewTransition.h"

namespace orbad {

using plat::ui::Rect;
using plat::ui::View;

namespace {

constexpr double kViewTransitionDuration = 0.6;

size_t indexOf(const View& parent, const std::shared_ptr<View>& child) {
    const auto& list = parent.subviews();
    return static_cast<size_t>(std::find(list.begin(), list.end(), child) - list.begin());
}

// The two subviews of `parent` trade places.
void exchange(View& parent, const std::shared_ptr<View>& a, const std::shared_ptr<View>& b) {
    size_t ia = indexOf(parent, a), ib = indexOf(parent, b);
    const size_t end = parent.subviews().size();
    if (ia == end || ib == end || ia == ib) return;
    if (ia > ib) std::swap(ia, ib);
    const std::shared_ptr<View> low = parent.subviews()[ia], high = parent.subviews()[ib];
    parent.insertSubview(low, ib);
    parent.insertSubview(high, ia);
}

}  // namespace

OrbadTransionableAdView::OrbadTransionableAdView(const Rect& frame) : Button(frame) {
    addTarget(this, [](plat::ui::Button& button) { static_cast<OrbadTransionableAdView&>(button).adTapped(); });
}

OrbadTransionableAdView::~OrbadTransionableAdView() {
    m_adViewDelegate = nullptr;
    m_mainAdView.reset();
}

void OrbadTransionableAdView::adTapped() {
    std::shared_ptr<OrbadAd> ad = currentAd();
    if (!ad) return;
    if (auto host = mainAdView()) host->openActionForAd(ad);
}

void OrbadTransionableAdView::transitionToAdView(const std::shared_ptr<View>& view, int transition) {
    switch (transition) {
    case kOrbadTransitionSlideUp:
    case kOrbadTransitionSlideDown:
    case kOrbadTransitionSlideLeft:
    case kOrbadTransitionSlideRight: setAdViewWithSlideTransition(view, transition); break;
    case kOrbadTransitionFlipRight: setAdViewWithFlip(view, false); break;
    case kOrbadTransitionFlipLeft: setAdViewWithFlip(view, true); break;
    case kOrbadTransitionCurlUp: setAdViewWithCurl(view, true); break;
    case kOrbadTransitionCurlDown: setAdViewWithCurl(view, false); break;
    case kOrbadTransitionFade: setAdViewWithFade(view); break;
    default: setAdViewWithNoTransition(view);
    }
}

void OrbadTransionableAdView::setAdViewWithNoTransition(const std::shared_ptr<View>& view) {
    while (!subviews().empty()) subviews().back()->removeFromSuperview();
    addSubview(view);
}

// Each animated transition's end is bound to the item it took out, whatever lastAdView holds by
// then.
void OrbadTransionableAdView::setAdViewWithFade(const std::shared_ptr<View>& view) {
    std::shared_ptr<View> outgoing = m_lastAdView;
    view->setAlpha(0);
    const auto& list = subviews();
    auto at = std::find(list.begin(), list.end(), outgoing);
    insertSubview(view, at == list.end() ? list.size() : static_cast<size_t>(at - list.begin()) + 1);
    std::weak_ptr<View> self = weak_from_this();
    View::animate({"setAdViewWithFade:"}, [&] { view->setAlpha(1); },
                  [self, outgoing](bool) {
                      if (auto me = self.lock()) static_cast<OrbadTransionableAdView&>(*me).cleanUpLastAdView(outgoing);
                  });
}

void OrbadTransionableAdView::setAdViewWithCurl(const std::shared_ptr<View>& view, bool up) {
    setAdViewWithViewTransition(view, up ? plat::ui::ViewTransition::CurlUp : plat::ui::ViewTransition::CurlDown);
}

void OrbadTransionableAdView::setAdViewWithFlip(const std::shared_ptr<View>& view, bool fromRight) {
    setAdViewWithViewTransition(
        view, fromRight ? plat::ui::ViewTransition::FlipFromRight : plat::ui::ViewTransition::FlipFromLeft);
}

void OrbadTransionableAdView::setAdViewWithViewTransition(const std::shared_ptr<View>& view,
                                                          plat::ui::ViewTransition kind) {
    std::shared_ptr<View> outgoing = m_lastAdView;
    const auto& list = subviews();
    auto at = std::find(list.begin(), list.end(), outgoing);
    insertSubview(view, at == list.end() ? 0 : static_cast<size_t>(at - list.begin()));
    std::weak_ptr<View> self = weak_from_this();
    plat::ui::transitionView(
        *this, kind, kViewTransitionDuration, true, [&] { exchange(*this, view, outgoing); },
        [self, outgoing](bool) {
            if (auto me = self.lock()) static_cast<OrbadTransionableAdView&>(*me).cleanUpLastAdView(outgoing);
        });
}

void OrbadTransionableAdView::setAdViewWithSlideTransition(const std::shared_ptr<View>& view, int transition) {
    std::shared_ptr<View> outgoing = m_lastAdView;
    const plat::ui::Size s{frame().width, frame().height};
    const Rect n = view->frame();
    const double centreX = std::floor((s.width - n.width) * 0.5);
    const double centreY = std::floor((s.height - n.height) * 0.5);
    Rect start = n;
    switch (transition) {
    case kOrbadTransitionSlideUp: start.x = centreX, start.y = s.height; break;
    case kOrbadTransitionSlideDown: start.x = centreX, start.y = -n.height; break;
    case kOrbadTransitionSlideLeft: start.x = s.width, start.y = centreY; break;
    default: start.x = -n.width, start.y = centreY;
    }
    view->setFrame(start);
    addSubview(view);
    std::weak_ptr<View> self = weak_from_this();
    View::animate(
        {"setAdView:withSlideTransition:"},
        [&] {
            view->setFrame({centreX, centreY, n.width, n.height});
            if (!outgoing) return;
            Rect l = outgoing->frame();
            switch (transition) {
            case kOrbadTransitionSlideUp: l.y = -l.height; break;
            case kOrbadTransitionSlideDown: l.y = s.height; break;
            case kOrbadTransitionSlideLeft: l.x = -l.width; break;
            default: l.x = s.width;
            }
            outgoing->setFrame(l);
        },
        [self, outgoing](bool) {
            if (auto me = self.lock()) static_cast<OrbadTransionableAdView&>(*me).cleanUpLastAdView(outgoing);
        });
}

void OrbadTransionableAdView::cleanUpLastAdView(const std::shared_ptr<View>& outgoing) {
    if (outgoing && outgoing->superview() == this) outgoing->removeFromSuperview();
    if (m_lastAdView == outgoing) m_lastAdView.reset();
}

}  // namespace orbad
