// The "callbacks" Lua library: the script's calls to the host's callback block, read at each call.
// callExternalFunction hands the host the stack of the thread that called it (a coroutine's own
// when called from one).
#pragma once

#include <lua.hpp>

struct DK_State;

// Registers the global "callbacks"; its functions read `state`'s callbacks at each call.
void luaopen_callbacks(lua_State* L, DK_State* state);
