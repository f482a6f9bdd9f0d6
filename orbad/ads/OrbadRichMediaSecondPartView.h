// The second page of an expanded rich-media ad, shown in the enlarged area instead of the banner's
// page. It runs on the banner's engine but is never loaded as an ad: it starts free of the
// restricted state, reports no loads and counts as displayed from the start. Main thread only.
// Its stub gets the boot-loader address and its screens a presenter; its native-handler links
// open only for a click or an ad that may autoplay.
#pragma once

#include "orbad/ads/OrbadRichMediaWebAdView.h"

namespace orbad {

class OrbadRichMediaSecondPartView : public OrbadRichMediaWebAdView {
public:
    explicit OrbadRichMediaSecondPartView(const plat::ui::Rect& frame = {});
    const char* className() const override { return "OrbadRichMediaSecondPartView"; }

    bool canBeReused() const override { return false; }
    bool isExpanded() const override { return true; }
    bool allowsWebViewScrolling() const override { return false; }
    // The engine's controller: the expand controller holds this view, not the other way round.
    plat::ui::ViewController* attachedViewController() const override;

protected:
    // Links of the configuration's native handlers go to the system, but only for a user's click or
    // an ad that may autoplay; any other such navigation is refused without opening anything.
    bool shouldStartLoad(plat::ui::WebView& webView, const plat::ui::WebRequest& request,
                         plat::ui::WebNavigationType type) override;
};

}  // namespace orbad
