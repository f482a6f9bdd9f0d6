// The ad network's full-screen ads as a provider of interstitials. An ad is prefetched at creation;
// a request puts the clear wrapper screen over the game at once, and 1.0 s later shows the ad when
// it has loaded, else waits for it up to "DKFullscreenAdTimeout" seconds. Closing the ad takes the
// wrapper away, fades the game back in ("fadeInScreen") and prefetches the next ad. No ad on a
// tablet, without a root view controller or without a reachable network (none is known before
// the first reachability notification): those fail at once. Every failure takes the wrapper away
// without the fade, reports "✖ Failed with error: ...", then adDismissed.
//
// The wrapper is presented over the current context; the "DKFullscreenAdTimeout" wait is a delayed
// perform aimed at the provider, cancelled by a load. It never dismisses a screen other than its
// wrapper ("plugin wrapper dismiss fade" after a shown ad).
#pragma once

#include <cstdint>
#include <memory>

#include "orbad/OrbadFullScreenAdViewController.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/Value.h"
#include "player/plugins/fullscreen/DKFullscreenAdProvider.h"
#include "player/plugins/fullscreen/DKFullscreenAdWrapperViewController.h"

class DKOrbadFullscreenAdProvider : public DKFullscreenAdProvider, private OrbadFullScreenAdDelegate {
public:
    DKOrbadFullscreenAdProvider();
    ~DKOrbadFullscreenAdProvider() override;

    const char* fullscreenAdProviderIdentifier() const override { return "orbad"; }
    void showFullScreenAd() override;
    void completeAdDisplay();
    void adLoadError();
    void dismissAdScreenAndDisplaySceneWithAnimation(bool animated);
    void networkReachabilityChanged(const plat::foundation::Notification& notification);

    DKFullscreenAdWrapperViewController* modalViewController() const { return m_modalViewController.get(); }
    OrbadFullScreenAdViewController* fullScreenAdViewController() const { return m_fullScreenAdViewController.get(); }
    unsigned bannerAdTimeout() const { return m_bannerAdTimeout; }
    bool networkReachable() const { return m_networkReachable; }

    // "DKFullscreenAdTimeout" in whole seconds: an integer, a real (truncated) or a numeric string;
    // absent, negative or unreadable is 0.
    static unsigned timeoutFromValue(const plat::foundation::Value* value);

private:
    void fullScreenAdViewControllerDidFinishLoad(OrbadFullScreenAdViewController&) override;
    void fullScreenAdViewControllerDidFailToLoad(OrbadFullScreenAdViewController&,
                                                 const plat::foundation::Error& error) override;
    void fullScreenAdViewControllerWillPresentAd(OrbadFullScreenAdViewController&) override;
    void fullScreenAdViewControllerDidDismissAd(OrbadFullScreenAdViewController&) override;

    unsigned m_bannerAdTimeout = 0;
    bool m_networkReachable = false;
    std::shared_ptr<DKFullscreenAdWrapperViewController> m_modalViewController;
    std::shared_ptr<OrbadFullScreenAdViewController> m_fullScreenAdViewController;
    plat::foundation::Observation m_reachability;
};
