#include "engine/DKLuaLibs.h"

// Debian's LuaSocket: linked directly (its pkg-config file would bring a second Lua runtime).
extern "C" int luaopen_socket_core(lua_State* L);

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
    lua_settop(L, module - 1);
    return 0;
}
