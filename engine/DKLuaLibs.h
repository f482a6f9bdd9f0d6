// The Lua libraries every engine state opens, in this order.
#pragma once

#include <lua.hpp>

struct DKLuaLib {
    const char* name;
    lua_CFunction open;
};

extern const DKLuaLib dk_lualibs[];

// "socket.core" from LuaSocket, registered as a loaded module and as the global path socket.core.
int luaregister_socket_core(lua_State* L);
