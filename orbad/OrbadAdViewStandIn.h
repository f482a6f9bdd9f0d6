// The ad network's banner view as a stand-in: a labelled block of its ad size whose ads come from
// the input script (banner.load, banner.fail "TEXT", banner.click, banner.back), always to the view
// made last. A view that was cancelled, or has gone, calls back no more: its commands are ignored.
#pragma once

#include <memory>
#include <string>

#include "orbad/OrbadAdView.h"

class OrbadAdViewStandIn : public OrbadAdView {
public:
    OrbadAdViewStandIn(const char* className, plat::ui::Size adSize);
    // A view that the script's banner commands reach from now on.
    static std::shared_ptr<OrbadAdViewStandIn> create(const char* className, plat::ui::Size adSize);

    // Requested (resumed) and not cancelled since.
    bool isRequesting() const { return m_requesting; }
    bool isTouchingThrough() const { return m_touchingThrough; }

    // What the script's commands do, each with the delegate it finds then.
    void adDidLoad();
    void adDidFail(const std::string& description);
    void touchThrough();
    void touchThroughEnds();

protected:
    void resumeAd() override { m_requesting = true; }
    void cancelPendingAd() override { m_requesting = false; }

private:
    bool m_requesting = false;
    bool m_touchingThrough = false;
};
