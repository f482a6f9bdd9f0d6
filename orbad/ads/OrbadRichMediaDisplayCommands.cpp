// The rich-media bridge's display commands: growing the ad beyond its slot (to a frame or the whole
// screen, optionally with a second page), contracting it, the page's display callbacks, viewability
// and the close widget's place and image.
#include "orbad/ads/OrbadRichMediaWebAdView.h"
#include "orbad/richmedia/OrbadExpandableViewController.h"

namespace orbad {

plat::ui::ViewController* OrbadRichMediaWebAdView::attachedViewController() const {
    return m_expandable.get();
}

}  // namespace orbad
