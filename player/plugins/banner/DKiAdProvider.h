// Banners of the system's banner service ("iad"): one view, reused whatever format comes next,
// across the top or the bottom. Vertical formats are refused.
//
// Its view is platform/services/adbanner's ADBannerView, present only with
// Library/LocalServices/adbanner.plist. The banner's bottom is the interface's height (the root
// frame's short side in landscape, whichever way that frame is turned). The stand-in takes banner.*
// from the input script, always on the view made last; a freed view's commands are ignored.
#pragma once

#include <memory>

#include "platform/foundation/NotificationCenter.h"
#include "platform/services/adbanner/ADBannerView.h"
#include "player/plugins/banner/DKBannerAdProvider.h"

class DKiAdProvider : public DKBannerAdProvider, private plat::adbanner::ADBannerViewDelegate {
public:
    DKiAdProvider();
    ~DKiAdProvider() override;

    const char* bannerAdProviderIdentifier() const override { return "iad"; }
    std::shared_ptr<plat::ui::View> generateBannerAdWithFormat(std::uint32_t format) override;
    void freeBannerAd() override;

    const std::shared_ptr<plat::adbanner::ADBannerView>& bannerView() const { return m_bannerView; }
    // From an action's begin to its end (the view's, or the application entering the background).
    bool isActionInProgress() const { return m_actionInProgress; }

    // The view's callbacks: from any view but the current one they change nothing.
    void bannerViewDidLoadAd(plat::adbanner::ADBannerView& view) override;
    void bannerViewDidFailToReceiveAd(plat::adbanner::ADBannerView& view, const plat::foundation::Error& error) override;
    bool bannerViewActionShouldBegin(plat::adbanner::ADBannerView& view, bool willLeaveApplication) override;
    void bannerViewActionDidFinish(plat::adbanner::ADBannerView& view) override;

private:
    bool isCurrent(const plat::adbanner::ADBannerView& view) const { return &view == m_bannerView.get(); }

    std::shared_ptr<plat::adbanner::ADBannerView> m_bannerView;
    plat::foundation::Observation m_willHibernate;
    bool m_actionInProgress = false;
};
