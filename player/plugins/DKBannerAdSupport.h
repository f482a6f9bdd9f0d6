// Banner ads. For now its identifier alone: it registers no actions yet.
#pragma once

#include "player/plugins/DKPluginSupport.h"

class DKPluginManager;

class DKBannerAdSupport : public DKPluginSupport {
public:
    // The manager that makes this plugin; not owned, as the manager owns its plugins.
    DKBannerAdSupport(DKGameViewController* gameViewController, DKPluginManager* pluginManager)
        : DKPluginSupport(gameViewController), m_pluginManager(pluginManager) {}
    static const char* pluginIdentifier() { return "bannerAd"; }
    DKPluginManager* pluginManager() const { return m_pluginManager; }

private:
    DKPluginManager* m_pluginManager;
};
