// The "assetManager" Lua library: managers are full userdata of one pointer with the registry
// metatable "AssetManager.MT", whose __index is the library table.
#pragma once

#include <lua.hpp>

inline constexpr const char* DKAssetManagerMetatable = "AssetManager.MT";

int luaopen_assetManager(lua_State* L);
