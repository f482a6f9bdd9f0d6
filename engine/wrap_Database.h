// The "database" Lua library: the engine state's persistent store as scripts see it.
#pragma once

#include <lua.hpp>

struct DKDatabase;

// Registers the global "database" over `db`, which must outlive the Lua state's use of it.
void luaopen_database(lua_State* L, DKDatabase* db);
