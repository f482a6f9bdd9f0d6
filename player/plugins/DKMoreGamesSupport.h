// The more-games action: "ShowMoreGames" forwards to the provider "MoregamesProvider" names, the
// content-ads plugin ("kiosk") or the cross-promotion feed ("drovikNetwork").
#pragma once

#include <memory>
#include <string>

#include "player/plugins/DKPluginSupport.h"

class DKPluginManager;

// What a more-games provider answers.
class DKMoreGamesDelegate {
public:
    virtual ~DKMoreGamesDelegate() = default;
    virtual void showMoreGames(DKGameViewController* context) = 0;
};

class DKMoreGamesSupport : public DKPluginSupport {
public:
    // Looks the provider up in `pluginManager`, which has made it already; the manager is not
    // owned (it owns its plugins).
    DKMoreGamesSupport(DKGameViewController* gameViewController, DKPluginManager* pluginManager);
    static const char* pluginIdentifier() { return "showMoreGame"; }
    DKPluginManager* pluginManager() const { return m_pluginManager; }

    const std::string& moreGamesAdType() const { return m_moreGamesAdType; }
    const std::shared_ptr<DKMoreGamesDelegate>& delegate() const { return m_delegate; }

    // "ShowMoreGames": the provider's showMoreGames with the same context; nothing without one.
    void showMoreGames(DKGameViewController* context);

protected:
    void registerActions(lua_State* L) override;

private:
    DKPluginManager* m_pluginManager;
    std::string m_moreGamesAdType;
    std::shared_ptr<DKMoreGamesDelegate> m_delegate;
};
