// Banner ads ("bannerAd"): "ShowBanner" with a format and "HideBanner". One provider, chosen by the
// Info.plist's "BannerProvider" ("iad" or "orbad"), makes the banner; the plugin attaches it to
// the game view invisible, fades it in once an ad loads and out when hidden, pauses the game
// (a system pause) while the person is in an ad, and reports to the metrics session.
//
// "ShowBanner"'s format is read as unsigned 32 bits (a negative format is size class 12 at a huge
// position, so at the origin). The fade machine keeps adAnimationState (3 none, 0 fading in, 2 shown,
// 1 fading out) with "fadeInAdvertisement" and "FadeOutiAD" at the default block duration; traces
// "banner attach X,Y,W,H|state N|remove". A click's system pause is released by the end of the
// action, by the application entering the background during one (iAd only), or by the banner's
// removal (a freed view never reports the end). Providers take callbacks only from their current view
// and clear its delegate when they free it. Below system 6.0 a provider's orientation question goes to
// the game view controller's shouldAutorotateToInterfaceOrientation; from 6.0 on to its mask, and
// only with the player's own delegate.
#pragma once

#include <cstdint>
#include <memory>

#include "platform/ui/View.h"
#include "player/plugins/DKPluginSupport.h"
#include "player/plugins/banner/DKBannerAdProvider.h"

class DKPluginManager;

// Trace lines (category "banner"): "attach X,Y,W,H" when a view not attached yet is attached,
// "state N" at each change of the state, "remove" when the banner view goes.
class DKBannerAdSupport : public DKPluginSupport, private DKBannerAdProviderDelegate {
public:
    // adAnimationState.
    enum State { kFadingIn = 0, kFadingOut = 1, kShown = 2, kNoBanner = 3 };

    // The manager that makes this plugin; not owned, as the manager owns its plugins.
    DKBannerAdSupport(DKGameViewController* gameViewController, DKPluginManager* pluginManager);
    ~DKBannerAdSupport() override;
    static const char* pluginIdentifier() { return "bannerAd"; }
    DKPluginManager* pluginManager() const { return m_pluginManager; }

    // "ShowBanner": the script's integer, narrowed to 32 bits by the bridge, read unsigned.
    void showBanner(DKGameViewController*, int format);
    // "HideBanner": at once unless fully shown, else faded out first.
    void hideBanner(DKGameViewController*);

    const std::shared_ptr<plat::ui::View>& bannerView() const { return m_bannerView; }
    DKBannerAdProvider* adProvider() const { return m_adProvider.get(); }
    int adAnimationState() const { return m_adAnimationState; }

    // The provider's delegate.
    void adDidLoad() override;
    void adLoadFailedWithError(const plat::foundation::Error& error) override;
    void adClicked() override;
    void adClickFinished() override;
    int getGameOrientation() override;
    bool isSupportedOrientation(int orientation) override;

protected:
    void registerActions(lua_State* L) override;

private:
    void removeBannerAd();
    void animationDidStop();
    void setState(int state);
    // "fadeInAdvertisement" or "FadeOutiAD" to `alpha`, ending in animationDidStop.
    void fade(const char* name, double alpha);
    void tag(const char* event);

    DKPluginManager* m_pluginManager;
    std::unique_ptr<DKBannerAdProvider> m_adProvider;
    std::shared_ptr<plat::ui::View> m_bannerView;
    int m_adAnimationState = kNoBanner;
};
