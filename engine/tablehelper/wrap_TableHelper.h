// The "tableHelper" Lua module: data tables for the engine scripts.
#pragma once

#include <lua.hpp>

extern "C" int luaopen_tableHelper(lua_State* L);
