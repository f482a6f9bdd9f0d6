#include "engine/DKLuaLibs.h"

#include "engine/assets/wrap_AssetManager.h"
#include "engine/documents/wrap_PGF.h"
#include "engine/physics/wrap_Physics.h"
#include "engine/sglua/wrap_Scenegraph.h"
#include "engine/sound/wrap_SoundManager.h"
#include "engine/tablehelper/wrap_TableHelper.h"
#include "port/wrap_PlatformWrappers.h"

const DKLuaLib dk_lualibs[] = {
    {"", luaopen_base},
    {LUA_LOADLIBNAME, luaopen_package},
    {LUA_OSLIBNAME, luaopen_os},
    {LUA_TABLIBNAME, luaopen_table},
    {LUA_IOLIBNAME, luaopen_io},
    {LUA_STRLIBNAME, luaopen_string},
    {LUA_MATHLIBNAME, luaopen_math},
    {"scenegraph", luaopen_scenegraph},
    {"physics", luaopen_physics},
    {"tableHelper", luaopen_tableHelper},
    {"pgf", luaopen_PGF},
    {"platformWrappers", luaopen_platformWrappers},
    {"assetManager", luaopen_assetManager},
    {"soundManager", luaopen_soundManager},
    {nullptr, nullptr},
};
