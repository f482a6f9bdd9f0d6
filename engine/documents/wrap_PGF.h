// The "pgf" Lua module: documents read from XML into nested tables, written as XML or JSON.
#pragma once

#include <lua.hpp>

// Registry metatable of writer objects; its __index is the "writer" table.
inline constexpr const char* kPGFWriterMT = "pgf.writerMT";

extern "C" int luaopen_PGF(lua_State* L);
