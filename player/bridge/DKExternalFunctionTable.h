// The native side of the scripts' callbacks.callExternalFunction(key, ...): per Lua state, a table
// of actions (a member function of a plugin, its plugin and the game view controller it is given
// first) found by an int id or a name; the script's arguments are converted by each parameter's
// type code and the result pushed back by its own.
//
// The host puts callExternalFunction(externalData, L) in its state's callback block, externalData the
// main Lua state: L is the calling thread (a coroutine's own stack), and the table is the main
// state's, kept by a registry until destroyExternalFunctionTableForState. Type codes come from the
// action's template, kept as the platform's text; arguments are converted in the order @, i, I, d,
// f, c (objcTypeMatches). Numbers for "i" and "I" (and number keys) are truncated to 64 bits (NaN,
// infinities and values no 64-bit integer holds give 0), then wrapped to 32 bits. An action may raise
// an event into the same state, and a failing handler empties the running call's stack: so every
// argument is read before the action runs, the result is pushed after it returns, and the call holds
// its action and its table, so an action replacing itself or dropping its table still answers. An
// action holds its plugin (shared with the manager, which owns the plugins it made); the controller
// is never owned.
#pragma once

#include <lua.hpp>

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <map>
#include <memory>
#include <string>
#include <type_traits>
#include <utility>
#include <variant>
#include <vector>

#include "platform/foundation/Log.h"
#include "player/bridge/DKTypeCodes.h"

class DKGameViewController;

// The entry of the engine state's callback block. `L` is the thread that made the call (a
// coroutine's own stack when called from one): arguments are read from it and results pushed to
// it. The table is the one of `externalData`, the state's main Lua state, or of `L` when it is 0.
// Returns the count of results pushed.
extern "C" int callExternalFunction(void* externalData, lua_State* L);

namespace dk::player {

// The category "bridge": tables made and dropped, plugins created, every call.
plat::foundation::TraceCategory& bridgeTrace();

// One script argument as its parameter reads it; monostate when the parameter's code is none the
// bridge converts (left unset).
using BridgeArgument =
    std::variant<std::monostate, std::optional<std::string>, int32_t, uint32_t, double, float, bool>;
using BridgeArguments = std::vector<BridgeArgument>;
// What an action returned; monostate for no result.
using BridgeResult = std::variant<std::monostate, std::optional<std::string>, plat::foundation::Value,
                                  int32_t, uint32_t, double, float, bool>;

template <class T>
T argumentAs(const BridgeArgument& argument) {
    const T* value = std::get_if<T>(&argument);
    return value ? *value : T{};
}

// A member function of `Plugin` taking the controller first, with its type codes worked out from
// its declaration: return, receiver, selector, then each parameter ("v@:@id").
template <class Plugin>
class DKSelector {
public:
    using Call = std::function<BridgeResult(Plugin&, DKGameViewController*, const BridgeArguments&)>;

    template <class R, class... Params>
    DKSelector(R (Plugin::*method)(DKGameViewController*, Params...))
        : m_typeCodes{ResultCode<R>::value, '@', ':', '@', TypeCode<std::remove_cvref_t<Params>>::value...},
          m_call([method](Plugin& target, DKGameViewController* context, const BridgeArguments& arguments) {
              return call<R, Params...>(target, method, context, arguments,
                                        std::index_sequence_for<Params...>{});
          }) {}

    const std::string& typeCodes() const { return m_typeCodes; }
    const Call& function() const { return m_call; }

private:
    template <class R, class... Params, std::size_t... I>
    static BridgeResult call(Plugin& target, R (Plugin::*method)(DKGameViewController*, Params...),
                             DKGameViewController* context, const BridgeArguments& arguments,
                             std::index_sequence<I...>) {
        if constexpr (std::is_void_v<R>) {
            (target.*method)(context, argumentAs<std::remove_cvref_t<Params>>(arguments[I])...);
            return {};
        } else {
            return BridgeResult(
                std::in_place_type<R>,
                (target.*method)(context, argumentAs<std::remove_cvref_t<Params>>(arguments[I])...));
        }
    }

    std::string m_typeCodes;
    Call m_call;
};

template <class Plugin>
struct DKNamedAction {
    std::string name;
    DKSelector<Plugin> action;
};

template <class Plugin>
struct DKNumberedAction {
    int32_t id;
    DKSelector<Plugin> action;
};

}  // namespace dk::player

// A registered action. It shares its target's ownership (the target lives while an action or its
// plugin manager holds it) and does not own its context. Never changed once made: registering
// its key again stores a new one.
class DKExternalFunctionAction {
public:
    using Invoke = std::function<dk::player::BridgeResult(const dk::player::BridgeArguments&)>;

    DKExternalFunctionAction(std::shared_ptr<void> target, DKGameViewController* context,
                             std::string typeCodes, Invoke invoke);

    const std::shared_ptr<void>& target() const { return m_target; }
    DKGameViewController* context() const { return m_context; }
    // "v@:@id": the result's code, then one per argument, receiver and selector first.
    const std::string& typeCodes() const { return m_typeCodes; }
    // As the platform's method signature counts them: receiver and selector at 0 and 1, the
    // context at 2, the script's arguments from 3.
    int numberOfArguments() const { return static_cast<int>(m_typeCodes.size()) - 1; }
    std::string argumentType(int index) const {
        return m_typeCodes.substr(static_cast<size_t>(index) + 1, 1);
    }
    std::string methodReturnType() const { return m_typeCodes.substr(0, 1); }

    // Calls the target with the context and `arguments` (one per script argument, index 3 on).
    dk::player::BridgeResult invoke(const dk::player::BridgeArguments& arguments) const {
        return m_invoke(arguments);
    }

private:
    std::shared_ptr<void> m_target;
    DKGameViewController* m_context;
    std::string m_typeCodes;
    Invoke m_invoke;
};

class DKExternalFunctionTable {
public:
    // An action id or an action name.
    using Key = std::variant<int32_t, std::string>;

    // The table of the main Lua state `L`, made and registered on first use. Main thread only,
    // like every call here.
    static std::shared_ptr<DKExternalFunctionTable> externalFunctionTableForState(lua_State* L);
    // Drops the table of `L` (and with it the actions and the targets nothing else holds).
    static void destroyExternalFunctionTableForState(lua_State* L);

    DKExternalFunctionTable();
    ~DKExternalFunctionTable();
    DKExternalFunctionTable(const DKExternalFunctionTable&) = delete;
    DKExternalFunctionTable& operator=(const DKExternalFunctionTable&) = delete;

    // Stores `action` of `target` under a name or an id, replacing what was there.
    template <class Plugin>
    void registerTarget(const std::shared_ptr<Plugin>& target, DKGameViewController* context,
                        std::type_identity_t<dk::player::DKSelector<Plugin>> action, std::string name) {
        store(std::move(name), makeAction(target, context, std::move(action)));
    }
    template <class Plugin>
    void registerTarget(const std::shared_ptr<Plugin>& target, DKGameViewController* context,
                        std::type_identity_t<dk::player::DKSelector<Plugin>> action, int32_t id) {
        store(id, makeAction(target, context, std::move(action)));
    }
    // Each pair in list order: registerTarget(target, context, {{"a", &P::a}, {"b", &P::b}}).
    template <class Plugin>
    void registerTarget(
        const std::shared_ptr<Plugin>& target, DKGameViewController* context,
        std::initializer_list<std::type_identity_t<dk::player::DKNamedAction<Plugin>>> actions) {
        for (const auto& a : actions) registerTarget(target, context, a.action, a.name);
    }
    template <class Plugin>
    void registerTarget(
        const std::shared_ptr<Plugin>& target, DKGameViewController* context,
        std::initializer_list<std::type_identity_t<dk::player::DKNumberedAction<Plugin>>> actionIds) {
        for (const auto& a : actionIds) registerTarget(target, context, a.action, a.id);
    }

    // The action stored under `key`, or null.
    std::shared_ptr<const DKExternalFunctionAction> actionForKey(const Key& key) const;

    // One script call, its arguments at positions 1 and up of `L`: finds the action by the first,
    // converts the rest by the action's parameter codes, calls it and pushes its result. Returns
    // the count of results pushed (0 or 1). The table may be dropped by the action it runs.
    int performCall(lua_State* L);

private:
    template <class Plugin>
    static std::shared_ptr<const DKExternalFunctionAction> makeAction(const std::shared_ptr<Plugin>& target,
                                                                      DKGameViewController* context,
                                                                      dk::player::DKSelector<Plugin> action) {
        Plugin* receiver = target.get();
        auto function = action.function();
        return std::make_shared<const DKExternalFunctionAction>(
            target, context, action.typeCodes(),
            [receiver, context, function](const dk::player::BridgeArguments& arguments) {
                return function(*receiver, context, arguments);
            });
    }
    void store(Key key, std::shared_ptr<const DKExternalFunctionAction> action);

    std::map<Key, std::shared_ptr<const DKExternalFunctionAction>> m_functions;
};
