#include <cmath>

#include "engine/DKLuaLibs.h"

// Debian's LuaSocket: linked directly (its pkg-config file would bring a second Lua runtime).
extern "C" int luaopen_socket_core(lua_State* L);

namespace {

// LuaSocket's sleep turns NaN into a negative time that nanosleep refuses, and retries forever at
// full CPU. NaN (a number or a string the conversion accepts) becomes 0; every other argument
// reaches LuaSocket's own sleep unchanged, errors included.
int sleepNaNAsZero(lua_State* L) {
    if (lua_isnumber(L, 1) && std::isnan(lua_tonumber(L, 1))) {
        lua_pushnumber(L, 0);
        lua_replace(L, 1);
    }
    lua_pushvalue(L, lua_upvalueindex(1));
    lua_insert(L, 1);
    lua_call(L, lua_gettop(L) - 1, LUA_MULTRET);
    return lua_gettop(L);
}

}  // namespace

int luaregister_socket_core(lua_State* L) {
    static const luaL_Reg none[] = {{nullptr, nullptr}};
    luaL_register(L, "socket.core", none);  // package.loaded["socket.core"] and the global socket.core
    int module = lua_gettop(L);
    lua_pushboolean(L, 1);
    lua_setfield(L, module, "_DEBUG");

    lua_pushcfunction(L, luaopen_socket_core);
    lua_call(L, 0, 1);
    if (lua_istable(L, -1)) {
        lua_pushnil(L);
        while (lua_next(L, -2)) {
            lua_pushvalue(L, -2);
            lua_insert(L, -2);
            lua_rawset(L, module);
        }
    }
    lua_getfield(L, module, "sleep");
    if (lua_isfunction(L, -1)) {
        lua_pushcclosure(L, sleepNaNAsZero, 1);
        lua_setfield(L, module, "sleep");
    }
    lua_settop(L, module - 1);
    return 0;
}
