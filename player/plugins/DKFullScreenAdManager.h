// Interstitials for the script ("InterstitialAdDisplay" with a boolean): the provider that
// "InterstitialProvider" names ("kiosk": the content-ads client, "orbad": the ad network; anything
// else none) shows one under a behaviour pause; when it has gone, shown or failed, the game plays
// and the script hears "interstitialAdDismiss". False, no provider or a disabled one: nothing at
// all. A request from one request until its dismissal is ignored (traced "plugin ignored
// InterstitialAdDisplay"): its end would come only once.
//
// A failure is logged ("✖ Failed with error: ..."), tagged "adFailedToLoad" with the provider, then
// dismissed like a shown unit.
#pragma once

#include <memory>
#include <string>

#include "player/plugins/DKPluginSupport.h"
#include "player/plugins/fullscreen/DKFullscreenAdProvider.h"

class DKFullScreenAdManager : public DKPluginSupport, private DKFullscreenAdProviderDelegate {
public:
    explicit DKFullScreenAdManager(DKGameViewController* gameViewController);
    ~DKFullScreenAdManager() override;
    static const char* pluginIdentifier() { return "fullscreenadmanager"; }

    void interstitialAdDisplay(DKGameViewController* context, bool shouldDisplayAd);
    // Plays and raises "interstitialAdDismiss".
    void interstitialDismiss();
    DKFullscreenAdProvider* adProvider() const { return m_adProvider.get(); }
    const std::string& adType() const { return m_adType; }

protected:
    void registerActions(lua_State* L) override;

private:
    void adDidDisplay() override;
    void adDismissed() override;
    void adError(const std::string& message) override;

    std::shared_ptr<DKFullscreenAdProvider> m_adProvider;
    std::string m_adType;
};
