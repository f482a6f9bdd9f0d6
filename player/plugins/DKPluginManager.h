// Creates the service plugins of a game, in a fixed order, and finds them by identifier.
#pragma once

#include <lua.hpp>

#include <map>
#include <memory>
#include <string>
#include <string_view>

#include "player/plugins/DKPluginSupport.h"

class DKGameViewController;

class DKPluginManager {
public:
    DKPluginManager() = default;
    DKPluginManager(const DKPluginManager&) = delete;
    DKPluginManager& operator=(const DKPluginManager&) = delete;

    // Replaces the plugins with the eleven of a game, in their order, each serving `controller`
    // and registering its actions in the table of the main Lua state `L`; then, when asked, the
    // probe plugin. Each is traced "plugin <n> <identifier>" as it is created.
    void loadPluginsForGameViewController(DKGameViewController* controller, lua_State* L,
                                          bool withProbePlugin = false);
    // The plugin of that identifier, or null.
    std::shared_ptr<DKPluginSupport> pluginForIndentifier(std::string_view identifier) const;
    // Lets the plugins go; those whose actions are still registered live on through them.
    void deactivatePlugins() { m_plugins.clear(); }

private:
    template <class Plugin, class... Args>
    void load(lua_State* L, Args&&... args);

    std::map<std::string, std::shared_ptr<DKPluginSupport>, std::less<>> m_plugins;
    int m_created = 0;
};
