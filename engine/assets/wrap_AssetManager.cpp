// The "assetManager" library. Arguments are read from the top of the stack, so every function
// expects exactly its documented arguments (the manager second from the top, a name or list on top).
#include "engine/assets/wrap_AssetManager.h"

#include <set>
#include <string>

#include "engine/assets/DKEngineAssetManager.h"
#include "engine/assets/SGAssetNodes.h"
#include "platform/lua/LuaArgs.h"
#include "platform/lua/LuaObject.h"
#include "platform/lua/LuaThread.h"

using plat::lua::absIndex;

namespace {

// Arguments are counted from the top, so a missing one would make the manager's index point
// below the stack: refuse that first.
DKEngineAssetManager* checkManager(lua_State* L, int idx) {
    plat::lua::checkArgCount(L, -idx, "assetManager: expected %d arguments, got %d");
    return plat::lua::checkObject<DKEngineAssetManager>(L, idx, DKAssetManagerMetatable);
}

// A name must be a string or a number (taken in its string form); anything else, nil included,
// is a script error rather than an empty name.
std::string checkName(lua_State* L, int idx) {
    size_t length = 0;
    const char* text = luaL_checklstring(L, absIndex(L, idx), &length);
    return std::string(text, length);
}

std::set<std::string> checkNameSet(lua_State* L, int idx) {
    idx = absIndex(L, idx);
    luaL_checktype(L, idx, LUA_TTABLE);
    std::set<std::string> names;
    lua_pushnil(L);
    while (lua_next(L, idx)) {
        int type = lua_type(L, -1);
        if (type != LUA_TSTRING && type != LUA_TNUMBER)
            luaL_error(L, "asset names must be strings or numbers, got %s", luaL_typename(L, -1));
        size_t length = 0;
        const char* text = lua_tolstring(L, -1, &length);  // only the value: the key stays intact
        names.emplace(text, length);
        lua_pop(L, 1);
    }
    return names;
}

// The script's `project:pathForImage(name)` / `project:pathForSound(name)`; "" when it answers
// neither a string nor a number. Its errors propagate as Lua errors.
std::string scriptPath(lua_State* L, dk::assets::Kind kind, const std::string& name) {
    int top = lua_gettop(L);
    lua_getglobal(L, "project");
    lua_getfield(L, -1, kind == dk::assets::Kind::kImage ? "pathForImage" : "pathForSound");
    lua_pushvalue(L, -2);
    lua_pushlstring(L, name.data(), name.size());
    lua_call(L, 2, 1);
    std::string path;
    if (lua_type(L, -1) == LUA_TSTRING || lua_type(L, -1) == LUA_TNUMBER) {
        size_t length = 0;
        const char* text = lua_tolstring(L, -1, &length);
        path.assign(text, length);
    }
    lua_settop(L, top);
    return path;
}

int newManager(lua_State* L) {
    // Asked on the main thread: the coroutine that made the manager may be gone by its next load.
    lua_State* thread = plat::lua::callbackThread(L);
    auto lookup = [thread](dk::assets::Kind kind, const std::string& name) {
        return scriptPath(thread, kind, name);
    };
    plat::lua::pushObject(L, new DKEngineAssetManager(lookup), DKAssetManagerMetatable);
    return 1;
}

// Ignores anything that is not a live manager: the host and scripts call it defensively. A
// manager asking the script for a path is still in use below the script (its own call, or a
// loader node's compute), so deleting it from there is refused.
int deleteManager(lua_State* L) {
    auto** slot = plat::lua::toSlot<DKEngineAssetManager>(L, -1, DKAssetManagerMetatable);
    if (!slot || !*slot) return 0;
    if ((*slot)->lookingUpPath())
        luaL_error(L, "assetManager: delete while the manager asks the script for a path");
    DKEngineAssetManager* manager = *slot;
    *slot = nullptr;
    delete manager;
    return 0;
}

int flushAssets(lua_State* L) {
    auto** slot = plat::lua::toSlot<DKEngineAssetManager>(L, -1, DKAssetManagerMetatable);
    if (slot && *slot) (*slot)->flushAssetList();
    return 0;
}

int reloadAllImages(lua_State* L) {
    checkManager(L, -1)->reloadAllImages();
    return 0;
}

int loadImageForName(lua_State* L) {
    DKEngineAssetManager* manager = checkManager(L, -2);
    manager->loadImageForName(checkName(L, -1));
    return 0;
}

int loadSoundForName(lua_State* L) {
    DKEngineAssetManager* manager = checkManager(L, -2);
    manager->loadSoundForName(checkName(L, -1));
    return 0;
}

// Loads are synchronous: there is never anything to wait for.
int waitForAssets(lua_State* L) {
    checkManager(L, -1);
    return 0;
}

int unloadImage(lua_State* L) {
    DKEngineAssetManager* manager = checkManager(L, -2);
    manager->unloadImage(checkName(L, -1));
    return 0;
}

int unloadAllImages(lua_State* L) {
    checkManager(L, -1)->unloadAllImages();
    return 0;
}

int clearForFreedImages(lua_State*) {
    return 0;
}

int unloadSound(lua_State* L) {
    DKEngineAssetManager* manager = checkManager(L, -2);
    manager->unloadSound(checkName(L, -1));
    return 0;
}

template <class Map>
int pushNames(lua_State* L, const Map& assets) {
    lua_createtable(L, 0, static_cast<int>(assets.size()));
    int key = 0;
    for (const auto& entry : assets) {
        lua_pushlstring(L, entry.first.data(), entry.first.size());
        lua_rawseti(L, -2, key++);
    }
    return 1;
}

int imageNames(lua_State* L) {
    return pushNames(L, checkManager(L, -1)->imageAssets());
}

int soundNames(lua_State* L) {
    return pushNames(L, checkManager(L, -1)->soundAssets());
}

int cleanupAndLoadImages(lua_State* L) {
    DKEngineAssetManager* manager = checkManager(L, -2);
    std::set<std::string> names = checkNameSet(L, -1);
    manager->cleanupUnusedImages(names);
    manager->loadNewImages(names);
    return 0;
}

int cleanupUnusedImages(lua_State* L) {
    DKEngineAssetManager* manager = checkManager(L, -2);
    manager->cleanupUnusedImages(checkNameSet(L, -1));
    return 0;
}

int cleanupAndLoadSounds(lua_State* L) {
    DKEngineAssetManager* manager = checkManager(L, -2);
    std::set<std::string> names = checkNameSet(L, -1);
    manager->cleanupUnusedSounds(names);
    manager->loadNewSounds(names);
    return 0;
}

int cleanupUnusedSounds(lua_State* L) {
    DKEngineAssetManager* manager = checkManager(L, -2);
    manager->cleanupUnusedSounds(checkNameSet(L, -1));
    return 0;
}

int loadImages(lua_State* L) {
    DKEngineAssetManager* manager = checkManager(L, -2);
    manager->loadNewImages(checkNameSet(L, -1));
    return 0;
}

int loadSounds(lua_State* L) {
    DKEngineAssetManager* manager = checkManager(L, -2);
    manager->loadNewSounds(checkNameSet(L, -1));
    return 0;
}

const luaL_Reg kFunctions[] = {
    {"new", newManager},
    {"delete", plat::lua::withArity<1, deleteManager>},
    {"reloadAllImages", reloadAllImages},
    {"loadImageForName", loadImageForName},
    {"loadSoundForName", loadSoundForName},
    {"waitForAssets", waitForAssets},
    {"unloadImage", unloadImage},
    {"unloadAllImages", unloadAllImages},
    {"clearForFreedImages", clearForFreedImages},
    {"unloadSound", unloadSound},
    {"imageNames", imageNames},
    {"soundNames", soundNames},
    {"cleanupAndLoadImages", cleanupAndLoadImages},
    {"cleanupUnusedImages", cleanupUnusedImages},
    {"cleanupAndLoadSounds", cleanupAndLoadSounds},
    {"cleanupUnusedSounds", cleanupUnusedSounds},
    {"loadImages", loadImages},
    {"loadSounds", loadSounds},
    {"flushAssets", plat::lua::withArity<1, flushAssets>},
    {nullptr, nullptr},
};

}  // namespace

int luaopen_assetManager(lua_State* L) {
    DKInstallAssetNodeMakers();  // scenes built by this state make loader nodes on this manager
    plat::lua::callbackThread(L);  // remembered now, on the thread that opens the module
    luaL_register(L, "assetManager", kFunctions);
    luaL_newmetatable(L, DKAssetManagerMetatable);
    lua_pushvalue(L, -2);
    lua_setfield(L, -2, "__index");
    lua_pop(L, 1);
    return 1;
}
