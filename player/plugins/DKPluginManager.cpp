#include "player/plugins/DKPluginManager.h"

#include "player/bridge/DKExternalFunctionTable.h"
#include "player/plugins/banner/DKBannerAdSupport.h"
#include "player/plugins/DKDrovikNetworkSupport.h"
#include "player/plugins/DKFullScreenAdManager.h"
#include "player/plugins/DKGameCenterSupport.h"
#include "player/plugins/inapppurchase/DKInAppPurchaseSupport.h"
#include "player/plugins/DKKioskSupport.h"
#include "player/plugins/DKMoreGamesSupport.h"
#include "player/plugins/twitter/DKTwitterSupport.h"
#include "player/plugins/keyboard/DKKeyboardInputSupport.h"
#include "player/plugins/metrics/DKMetricsSupport.h"
#include "player/plugins/openurl/DKOpenURLSupport.h"
#include "player/plugins/probe/DKProbeSupport.h"

template <class Plugin, class... Args>
void DKPluginManager::load(lua_State* L, Args&&... args) {
    const char* identifier = Plugin::pluginIdentifier();
    plat::foundation::tracef(dk::player::bridgeTrace(), "plugin %d %s", ++m_created, identifier);
    m_plugins[identifier] = DKPluginSupport::create<Plugin>(L, std::forward<Args>(args)...);
}

void DKPluginManager::loadPluginsForGameViewController(DKGameViewController* controller, lua_State* L,
                                                       bool withProbePlugin) {
    m_plugins.clear();
    m_created = 0;
    // The more-games plugin looks the kiosk and network plugins up as it is made: they come first.
    load<DKOpenURLSupport>(L, controller);
    load<DKKeyboardInputSupport>(L, controller);
    load<DKMetricsSupport>(L, controller);
    load<DKFullScreenAdManager>(L, controller);
    load<DKBannerAdSupport>(L, controller, this);
    load<DKGameCenterSupport>(L, controller);
    load<DKInAppPurchaseSupport>(L, controller);
    load<DKKioskSupport>(L, controller);
    load<DKDrovikNetworkSupport>(L, controller);
    load<DKMoreGamesSupport>(L, controller, this);
    load<DKTwitterSupport>(L, controller);
    if (withProbePlugin) load<DKProbeSupport>(L, controller);
}

std::shared_ptr<DKPluginSupport> DKPluginManager::pluginForIndentifier(std::string_view identifier) const {
    auto found = m_plugins.find(identifier);
    return found == m_plugins.end() ? nullptr : found->second;
}
