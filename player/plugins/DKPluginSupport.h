// The base of every plugin: the game view controller it serves (not owned) and its identifier.
//
// Plugins register their actions once they are shared (create), in the manager's fixed order; those
// not built are placeholders with their identifier. The pause rule: pauseGame(system) pauses through
// the controller and counts the pause as the plugin's own; resumeGame() releases one of its own
// (false when it holds none). Both are traced under "plugin" ("plugin pause ID system|behavior",
// "plugin play ID"), as is every event a plugin raises ("plugin event NAME|ARG1|ARG2", then
// DK_RaiseExternalEvent through EngineCalls).
#pragma once

#include <lua.hpp>

#include <atomic>
#include <initializer_list>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/foundation/Log.h"

class DKGameViewController;

namespace dk::player {
// The trace category "plugin": events to the scripts, the plugins' pauses and plays.
plat::foundation::TraceCategory& pluginTrace();
}  // namespace dk::player

class DKPluginSupport : public std::enable_shared_from_this<DKPluginSupport> {
public:
    explicit DKPluginSupport(DKGameViewController* gameViewController)
        : m_gameViewController(gameViewController) {}
    virtual ~DKPluginSupport() = default;
    DKPluginSupport(const DKPluginSupport&) = delete;
    DKPluginSupport& operator=(const DKPluginSupport&) = delete;

    // Each plugin class hides this with its own identifier; none here.
    static const char* pluginIdentifier() { return nullptr; }

    DKGameViewController* gameViewController() const { return m_gameViewController.load(); }
    void setGameViewController(DKGameViewController* controller) { m_gameViewController.store(controller); }

    // The identifier of the class the plugin was created as (create); null before.
    const char* identifier() const { return m_identifier; }

    // The pause rule: a plugin pauses the game through pauseGame (a system or a behaviour pause
    // of the controller, traced "plugin pause ID system|behavior") and releases only the pauses
    // it took itself, through resumeGame, which then plays ("plugin play ID"). resumeGame is
    // false, and does nothing, when the plugin holds no pause. Main thread.
    void pauseGame(bool system);
    bool resumeGame();
    int heldPauses() const { return m_heldPauses; }

    // One full-screen unit at a time under a behaviour pause (an interstitial, the more-games
    // unit): from a begin until its end, a begin is refused (false, traced "plugin ignored
    // ACTION"), since the ad client hands back its pending unit, whose end comes only once.
    bool beginPausedUnit(const char* action);
    // Ends the unit and plays, when the unit's pause was taken.
    void endPausedUnit();
    bool isUnitInFlight() const { return m_unitInFlight; }

    // A plugin made and given its place in the external-function table of the main Lua state `L`
    // (none when null): its actions share its ownership, so it registers once it is shared.
    template <class Plugin, class... Args>
    static std::shared_ptr<Plugin> create(lua_State* L, Args&&... args) {
        auto plugin = std::make_shared<Plugin>(std::forward<Args>(args)...);
        static_cast<DKPluginSupport&>(*plugin).m_identifier = Plugin::pluginIdentifier();
        if (L) static_cast<DKPluginSupport&>(*plugin).registerActions(L);
        return plugin;
    }

protected:
    // Traces "plugin event NAME|ARG1|ARG2" (the name alone without arguments), then raises the
    // event in the controller's engine state; nothing more without a controller. The script's
    // handler may run inside this call: a plugin calls it last, or is ready to be called again.
    void raiseEvent(const char* name, std::initializer_list<std::string> arguments = {}) {
        raiseEvent(name, std::vector<std::string>(arguments));
    }
    void raiseEvent(const char* name, const std::vector<std::string>& arguments);

    // Registers the plugin's actions, with itself as target and its controller as context.
    virtual void registerActions(lua_State* /*L*/) {}

    template <class Self>
    std::shared_ptr<Self> self() {
        return std::static_pointer_cast<Self>(shared_from_this());
    }

private:
    std::atomic<DKGameViewController*> m_gameViewController;
    int m_heldPauses = 0;
    bool m_unitInFlight = false;
    const char* m_identifier = nullptr;
};
