// The "platformWrappers" Lua library: game time, clock time, background music and the debug log.
#pragma once

struct lua_State;

extern "C" int luaopen_platformWrappers(lua_State* L);
