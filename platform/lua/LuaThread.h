// The Lua thread that native objects outliving a call use to call the script back.
#pragma once

#include <lua.hpp>

namespace plat::lua {

// The thread remembered in the registry by the first call, which a module's opener makes (the
// engine opens modules on the main thread). A coroutine that made an object (a physics world, an
// asset manager) may be collected before the object next calls the script; this thread lives as
// long as the state.
inline lua_State* callbackThread(lua_State* L) {
    static constexpr const char* kKey = "plat.lua.callbackThread";
    lua_getfield(L, LUA_REGISTRYINDEX, kKey);
    if (!lua_isthread(L, -1)) {
        lua_pop(L, 1);
        lua_pushthread(L);
        lua_pushvalue(L, -1);
        lua_setfield(L, LUA_REGISTRYINDEX, kKey);
    }
    lua_State* thread = lua_tothread(L, -1);
    lua_pop(L, 1);
    return thread;
}

}  // namespace plat::lua
