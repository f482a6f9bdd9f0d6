// Global helpers for scripts: createTable(narr, nrec) and typeCode(value).
#pragma once

#include <lua.hpp>

void luaopen_luaExtensions(lua_State* L);
