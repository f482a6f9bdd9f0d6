// The "tableHelper" Lua module: data tables for the engine scripts. It lives here, not in tables/,
// so the library stays free of Lua. A table object is a LuaObject handle with no delete: its __gc
// frees the table, clearing the handle first, so a finalizer of the same cycle finds a dead handle,
// which every function ignores. The module raises no errors: calls with wrong arguments do nothing,
// and a call the library cannot complete (a C++ exception, such as running out of memory) returns
// quietly with no results. saveTableToDatabase/loadTableFromDatabase join the directory scripts
// pass (database.getTablesDirectoryPath()), the name and ".xml".
#pragma once

#include <lua.hpp>

extern "C" int luaopen_tableHelper(lua_State* L);
