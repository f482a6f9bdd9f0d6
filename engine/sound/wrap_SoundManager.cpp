// Functions read the manager object as their last argument.
#include "engine/sound/wrap_SoundManager.h"

#include "engine/sound/SGSoundNodes.h"
#include "platform/lua/LuaArgs.h"
#include "platform/lua/LuaObject.h"

using dk::sound::SoundManager;

namespace {

constexpr const char* kMetatable = DKSoundManagerMetatable;

// The manager held by the object on top of the stack; null after `delete`, when the functions
// do nothing. Anything but a manager object is a Lua error.
SoundManager* manager(lua_State* L) {
    SoundManager** slot = plat::lua::toSlot<SoundManager>(L, -1, kMetatable);
    if (!slot) luaL_error(L, "%s expected, got %s", kMetatable, luaL_typename(L, -1));
    return *slot;
}

int smNew(lua_State* L) {
    plat::lua::pushObject(L, new SoundManager, kMetatable);
    return 1;
}

int smDelete(lua_State* L) {
    // The handle is emptied, so a second delete or a later call finds nothing to act on.
    delete plat::lua::takeObject<SoundManager>(L, -1, kMetatable);
    return 0;
}

int smMakeCurrent(lua_State* L) {
    if (SoundManager* m = manager(L)) m->makeCurrent();
    return 0;
}

int smUpdate(lua_State* L) {
    if (SoundManager* m = manager(L)) m->update();
    return 0;
}

const luaL_Reg kFunctions[] = {{"new", smNew},
                               {"delete", plat::lua::withArity<1, smDelete>},
                               {"makeCurrent", plat::lua::withArity<1, smMakeCurrent>},
                               {"update", plat::lua::withArity<1, smUpdate>},
                               {nullptr, nullptr}};

}  // namespace

extern "C" int luaopen_soundManager(lua_State* L) {
    luaL_register(L, "soundManager", kFunctions);
    luaL_newmetatable(L, kMetatable);
    lua_pushvalue(L, -2);
    lua_setfield(L, -2, "__index");
    lua_pop(L, 1);
    DKInstallSoundNodeMakers();  // scenes built by this state make sound nodes
    return 1;
}

extern "C" SoundManager* SoundManager_FromLuaState(lua_State* L) {
    lua_getglobal(L, "sharedSoundManager");
    SoundManager** slot = plat::lua::toSlot<SoundManager>(L, -1, kMetatable);
    SoundManager* m = slot ? *slot : nullptr;
    lua_pop(L, 1);
    return m;
}
