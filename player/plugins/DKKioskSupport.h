// The content-ads client's more-games unit for the script ("KioskShowMoreGames"), and the more-games
// action's "kiosk" provider: when "MoregamesProvider" is "kiosk" and the content-ads provider is
// enabled, a behaviour pause and the "more_games" unit, played again when the unit is gone (shown
// or failed). A request while one is under way is ignored (traced "plugin ignored
// KioskShowMoreGames"): the client would hand back the pending unit, whose end comes once.
#pragma once

#include <memory>
#include <string>

#include "player/plugins/DKMoreGamesSupport.h"
#include "player/plugins/DKPluginSupport.h"
#include "player/plugins/fullscreen/DKFullscreenAdProvider.h"

class DKKioskSupport : public DKPluginSupport,
                       public DKMoreGamesDelegate,
                       private DKFullscreenAdProviderDelegate {
public:
    explicit DKKioskSupport(DKGameViewController* gameViewController);
    ~DKKioskSupport() override;
    static const char* pluginIdentifier() { return "kiosk"; }

    // "KioskShowMoreGames", and what the more-games action calls for the "kiosk" provider.
    void showMoreGames(DKGameViewController* context) override;
    // The content-ads provider exists (always, once made).
    bool isKioskAvailable() const { return m_kioskViewController != nullptr; }
    // A "more_games" unit asked for and not yet gone.
    bool isShowingMoreGames() const { return isUnitInFlight(); }
    DKFullscreenAdProvider* kioskViewController() const { return m_kioskViewController.get(); }

protected:
    void registerActions(lua_State* L) override;

private:
    void adDidDisplay() override;
    void adDismissed() override;

    std::shared_ptr<DKFullscreenAdProvider> m_kioskViewController;
    bool m_moreGamesByKiosk = false;  // "MoregamesProvider" is "kiosk", read once
};
