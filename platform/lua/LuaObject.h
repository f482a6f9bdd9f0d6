// Script-side native objects: a full userdata holding one pointer, identified by a registry
// metatable. `delete` nulls the pointer, so a second delete or a later method call on the same
// handle is a clear Lua error instead of a use of freed memory.
#pragma once

#include <lua.hpp>

namespace plat::lua {

// Native functions read arguments counted from the top; this turns such an index into an
// absolute one that stays valid while values are pushed.
inline int absIndex(lua_State* L, int idx) {
    return (idx > 0 || idx <= LUA_REGISTRYINDEX) ? idx : lua_gettop(L) + idx + 1;
}

// Pushes a new handle for `object` with the registry metatable `mt` (created on first use).
template <class T>
void pushObject(lua_State* L, T* object, const char* mt) {
    auto** slot = static_cast<T**>(lua_newuserdata(L, sizeof(T*)));
    *slot = object;
    luaL_newmetatable(L, mt);
    lua_setmetatable(L, -2);
}

// The pointer slot of a handle of type `mt` at `idx`, or nullptr when the value is not one.
template <class T>
T** toSlot(lua_State* L, int idx, const char* mt) {
    idx = absIndex(L, idx);
    void* p = lua_touserdata(L, idx);
    if (!p || !lua_getmetatable(L, idx)) return nullptr;
    lua_getfield(L, LUA_REGISTRYINDEX, mt);
    bool same = lua_rawequal(L, -1, -2);
    lua_pop(L, 2);
    return same ? static_cast<T**>(p) : nullptr;
}

// The live object at `idx`; raises a Lua error when the value is of another type or was deleted.
template <class T>
T* checkObject(lua_State* L, int idx, const char* mt) {
    T** slot = toSlot<T>(L, idx, mt);
    if (!slot) luaL_error(L, "%s expected, got %s", mt, luaL_typename(L, absIndex(L, idx)));
    if (!*slot) luaL_error(L, "%s used after delete", mt);
    return *slot;
}

// Takes the object out of its handle for deletion; nullptr when it was already deleted.
template <class T>
T* takeObject(lua_State* L, int idx, const char* mt) {
    T** slot = toSlot<T>(L, idx, mt);
    if (!slot) luaL_error(L, "%s expected, got %s", mt, luaL_typename(L, absIndex(L, idx)));
    T* object = *slot;
    *slot = nullptr;
    return object;
}

}  // namespace plat::lua
