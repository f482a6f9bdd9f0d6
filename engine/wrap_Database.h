// The "database" Lua library: the engine state's persistent store as scripts see it. Arguments are
// read from the top of the stack (a missing one reads as nil); numbers pass as their text; a key
// that is neither a string nor a number stores nothing and loads nil; such a value stores NULL,
// which loads nil.
#pragma once

#include <lua.hpp>

struct DKDatabase;

// Registers the global "database" over `db`, which must outlive the Lua state's use of it.
void luaopen_database(lua_State* L, DKDatabase* db);
