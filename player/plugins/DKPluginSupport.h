// The base of every plugin: the game view controller it serves (not owned) and its identifier.
#pragma once

#include <lua.hpp>

#include <atomic>
#include <memory>
#include <utility>

class DKGameViewController;

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

    // A plugin made and given its place in the external-function table of the main Lua state `L`
    // (none when null): its actions share its ownership, so it registers once it is shared.
    template <class Plugin, class... Args>
    static std::shared_ptr<Plugin> create(lua_State* L, Args&&... args) {
        auto plugin = std::make_shared<Plugin>(std::forward<Args>(args)...);
        if (L) static_cast<DKPluginSupport&>(*plugin).registerActions(L);
        return plugin;
    }

protected:
    // Registers the plugin's actions, with itself as target and its controller as context.
    virtual void registerActions(lua_State* /*L*/) {}

    template <class Self>
    std::shared_ptr<Self> self() {
        return std::static_pointer_cast<Self>(shared_from_this());
    }

private:
    std::atomic<DKGameViewController*> m_gameViewController;
};
