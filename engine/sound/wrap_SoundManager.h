// The "soundManager" Lua library: manager objects for the script, and the host's way to the
// manager the script keeps. delete empties the object, so a second delete or a later call does
// nothing; a value that is not a manager is a Lua error.
#pragma once

#include "engine/sound/SoundManager.h"

struct lua_State;

// The registry metatable of the library's manager objects.
inline constexpr const char* DKSoundManagerMetatable = "SoundManager.MT";

extern "C" {
// The manager the script keeps in `sharedSoundManager`, or null.
dk::sound::SoundManager* SoundManager_FromLuaState(lua_State* L);
int luaopen_soundManager(lua_State* L);
}
