// The "tableHelper" Lua module: data tables for the engine scripts.
#pragma once

#include <lua.hpp>

// Registry metatable of table objects; its __index is the method table `tableHelper.Tables`.
inline constexpr const char* kTableDataMT = "tableHelper.TableDataMT";

extern "C" int luaopen_tableHelper(lua_State* L);
