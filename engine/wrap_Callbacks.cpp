#include "engine/wrap_Callbacks.h"

#include "engine/DKEngine.h"

namespace {

DK_State* stateOf(lua_State* L) {
    return *static_cast<DK_State**>(lua_touserdata(L, lua_upvalueindex(1)));
}

int loadingWillStart(lua_State* L) {
    DK_State* s = stateOf(L);
    if (s->callbacks.loadingWillStart) s->callbacks.loadingWillStart(s->callbacks.userData);
    return 0;
}

int loadingWillEnd(lua_State* L) {
    DK_State* s = stateOf(L);
    if (s->callbacks.loadingWillEnd) s->callbacks.loadingWillEnd(s->callbacks.userData);
    return 0;
}

int gameDidEnd(lua_State* L) {
    DK_State* s = stateOf(L);
    if (s->callbacks.gameDidEnd) s->callbacks.gameDidEnd(s->callbacks.userData);
    return 0;
}

// The host reads the arguments from, and pushes its results onto, the stack of the thread that
// made the call: from a coroutine that is not the main state's stack.
int callExternalFunction(lua_State* L) {
    DK_State* s = stateOf(L);
    if (!s->callbacks.callExternalFunction) return 0;
    int results = s->callbacks.callExternalFunction(s->callbacks.externalData, L);
    // A host that claims more results than the stack holds would make Lua read below its base.
    if (results < 0) return 0;
    return results <= lua_gettop(L) ? results : lua_gettop(L);
}

const luaL_Reg kCallbacksLib[] = {
    {"loadingWillStart", loadingWillStart},
    {"loadingWillEnd", loadingWillEnd},
    {"gameDidEnd", gameDidEnd},
    {"callExternalFunction", callExternalFunction},
    {nullptr, nullptr},
};

}  // namespace

void luaopen_callbacks(lua_State* L, DK_State* state) {
    auto** slot = static_cast<DK_State**>(lua_newuserdata(L, sizeof(DK_State*)));
    *slot = state;
    luaL_openlib(L, "callbacks", kCallbacksLib, 1);
    lua_pop(L, 1);
}
