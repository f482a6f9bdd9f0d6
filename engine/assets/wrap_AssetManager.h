// The "assetManager" Lua library: managers are full userdata of one pointer with the registry
// metatable "AssetManager.MT", whose __index is the library table. Each manager's path look-up calls
// the script's project:pathForImage/pathForSound on the main Lua thread (a coroutine that made a
// manager may be collected before its next load); the script's errors propagate. Arguments are read
// from the top of the stack and calls with too few are refused (plat::lua::checkArgCount); delete
// and flushAssets ignore anything that is not a live manager; a delete while the manager asks the
// script for a path is a Lua error.
#pragma once

#include <lua.hpp>

inline constexpr const char* DKAssetManagerMetatable = "AssetManager.MT";

int luaopen_assetManager(lua_State* L);
