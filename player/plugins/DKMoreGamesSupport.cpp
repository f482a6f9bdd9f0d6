#include "player/plugins/DKMoreGamesSupport.h"

#include "platform/foundation/Bundle.h"
#include "player/bridge/DKExternalFunctionTable.h"
#include "player/plugins/DKPluginManager.h"

DKMoreGamesSupport::DKMoreGamesSupport(DKGameViewController* gameViewController, DKPluginManager* pluginManager)
    : DKPluginSupport(gameViewController), m_pluginManager(pluginManager) {
    m_moreGamesAdType = plat::foundation::Bundle::mainInfoString("MoregamesProvider");
    if (!pluginManager || (m_moreGamesAdType != "kiosk" && m_moreGamesAdType != "drovikNetwork")) return;
    std::shared_ptr<DKPluginSupport> plugin = pluginManager->pluginForIndentifier(m_moreGamesAdType);
    m_delegate = std::dynamic_pointer_cast<DKMoreGamesDelegate>(plugin);
}

void DKMoreGamesSupport::registerActions(lua_State* L) {
    DKExternalFunctionTable::externalFunctionTableForState(L)->registerTarget(
        self<DKMoreGamesSupport>(), gameViewController(), &DKMoreGamesSupport::showMoreGames, "ShowMoreGames");
}

void DKMoreGamesSupport::showMoreGames(DKGameViewController* context) {
    // Held: the provider may end the game's plugins from inside.
    if (std::shared_ptr<DKMoreGamesDelegate> delegate = m_delegate) delegate->showMoreGames(context);
}
