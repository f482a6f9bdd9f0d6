// The engine script's way to the platform port.
#include "port/wrap_PlatformWrappers.h"

#include <lua.hpp>

#include "platform/lua/LuaArgs.h"
#include "port/DKPlatformPort.h"

namespace {

// Arguments are read from the top of the stack: each function takes its listed arguments, the
// missing trailing ones reading as nil (registered with withArity).

int getSystemTime(lua_State* L) {
    lua_pushnumber(L, DKGetSystemTime());
    return 1;
}

int playMusic(lua_State* L) {
    const char* file = lua_tostring(L, -2);
    int loop = static_cast<int>(lua_tointeger(L, -1));
    DKPlayAACFile(file, loop);
    return 0;
}

int pauseMusic(lua_State*) {
    DKPauseAACFile();
    return 0;
}

int stopMusic(lua_State*) {
    DKStopAACFile();
    return 0;
}

int setMusicVolume(lua_State* L) {
    SetAACFileVolume(static_cast<float>(lua_tonumber(L, -1)));
    return 0;
}

int isMusicPlaying(lua_State* L) {
    lua_pushinteger(L, IsAACFilePlaying() ? 1 : 0);
    return 1;
}

int getClockTime(lua_State* L) {
    if (lua_gettop(L) == 0 || lua_isnil(L, -1)) {
        lua_createtable(L, 7, 0);
    } else if (!lua_istable(L, -1)) {
        return luaL_error(L, "getClockTime: table expected, got %s", luaL_typename(L, -1));
    } else {
        lua_pushvalue(L, -1);
    }
    unsigned int components[7] = {};
    DKGetClockTime(components);
    for (int i = 0; i < 7; ++i) {
        lua_pushinteger(L, static_cast<lua_Integer>(components[i]));
        lua_rawseti(L, -2, i);
    }
    return 1;
}

int logDebugStatement(lua_State* L) {
    DKLogDebugStatement(lua_tostring(L, -1));
    return 0;
}

const luaL_Reg kFunctions[] = {{"getSystemTime", getSystemTime},
                               {"playMusic", plat::lua::withArity<2, playMusic>},
                               {"pauseMusic", pauseMusic},
                               {"stopMusic", stopMusic},
                               {"setMusicVolume", plat::lua::withArity<1, setMusicVolume>},
                               {"isMusicPlaying", isMusicPlaying},
                               {"getClockTime", plat::lua::withArity<1, getClockTime>},
                               {"logDebugStatement", plat::lua::withArity<1, logDebugStatement>},
                               {nullptr, nullptr}};

}  // namespace

extern "C" int luaopen_platformWrappers(lua_State* L) {
    luaL_register(L, "platformWrappers", kFunctions);
    return 1;
}
