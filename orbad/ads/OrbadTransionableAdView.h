// The base of the creative views that rotate through items (images, text panels) inside one ad:
// a button whose tap opens the ad's action, and the transitions from the item on screen to the
// next. Flips and curls are plat::ui::transitionView (0.6 s); slides and fades are view animation
// blocks of the default length. Each animated transition removes, when it ends, the item it took
// out, whatever came after it.
#pragma once

#include <memory>

#include "orbad/ads/OrbadAdsView.h"
#include "platform/ui/Button.h"
#include "platform/ui/ViewTransition.h"

namespace orbad {

class OrbadTransionableAdView : public plat::ui::Button, public OrbadAdsView {
public:
    explicit OrbadTransionableAdView(const plat::ui::Rect& frame);
    ~OrbadTransionableAdView() override;
    const char* className() const override { return "OrbadTransionableAdView"; }

    // The contract: nothing to load, display or dismiss here; never reused.
    void adHasBeenDismissed() override {}
    void adHasBeenDisplayed() override {}
    void stopLoading() override {}
    void loadWithAd(std::shared_ptr<OrbadAd>) override {}
    bool canBeReused() const override { return false; }
    void prepareForReuse() override { stopLoading(); }
    plat::ui::View& adsView() override { return *this; }
    const char* adsViewClassName() const override { return className(); }

    // The ad a tap opens; none here.
    virtual std::shared_ptr<OrbadAd> currentAd() const { return nullptr; }
    void adTapped();

    // The outgoing item of the next transition.
    const std::shared_ptr<plat::ui::View>& lastAdView() const { return m_lastAdView; }
    void setLastAdView(std::shared_ptr<plat::ui::View> view) { m_lastAdView = std::move(view); }

    // By code: 0 (and anything outside 1-9) at once, 1-4 slides, 5-6 flips, 7-8 curls, 9 a fade.
    // lastAdView must hold the item on screen.
    void transitionToAdView(const std::shared_ptr<plat::ui::View>& view, int transition);
    void setAdViewWithNoTransition(const std::shared_ptr<plat::ui::View>& view);
    void setAdViewWithFade(const std::shared_ptr<plat::ui::View>& view);
    void setAdViewWithCurl(const std::shared_ptr<plat::ui::View>& view, bool up);
    void setAdViewWithFlip(const std::shared_ptr<plat::ui::View>& view, bool fromRight);
    void setAdViewWithSlideTransition(const std::shared_ptr<plat::ui::View>& view, int transition);
    // The end of an animated transition: its own outgoing item goes (a transition started before
    // the last one ended must not take the newer one's), and lastAdView is cleared when it is that.
    void cleanUpLastAdView(const std::shared_ptr<plat::ui::View>& outgoing);

private:
    // A flip or curl of the whole view from the item on screen to `view`.
    void setAdViewWithViewTransition(const std::shared_ptr<plat::ui::View>& view, plat::ui::ViewTransition kind);

    std::shared_ptr<plat::ui::View> m_lastAdView;
};

}  // namespace orbad
