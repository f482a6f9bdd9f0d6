// Small helpers every binding shares, in the spirit of LÖVE's luax_* functions: arguments counted
// from the top, numbers converted without overflow, and a core's exception turned into its report.
#pragma once

#include <lua.hpp>

#include <cstdint>

namespace plat::lua {

// Raises `format` (given the expected and the actual count) unless at least `count` arguments
// were passed. Bindings that read their arguments counted from the top check this first: with
// one missing, the index of the first would point below the stack.
inline void checkArgCount(lua_State* L, int count, const char* format) {
    const int given = lua_gettop(L);
    if (given < count) luaL_error(L, format, count, given);
}

// Functions that count their arguments from the top find them only where a full call put them:
// called short, their deepest index points below their own frame. `withArity<N, f>` registers `f`
// so that it always sees at least N values, the missing trailing arguments reading as nil, as
// they would for a Lua function. Longer calls pass untouched.
template <int Arity, lua_CFunction Function>
int withArity(lua_State* L) {
    static_assert(Arity > 0 && Arity <= LUA_MINSTACK, "a C function is given LUA_MINSTACK free slots");
    if (lua_gettop(L) < Arity) lua_settop(L, Arity);
    return Function(L);
}

// The absolute index of the argument `fromTop` (-1 the last), or 0 when the call is too short.
inline int argIndex(lua_State* L, int fromTop) {
    const int index = lua_gettop(L) + fromTop + 1;
    return index >= 1 ? index : 0;
}

// Truncates toward zero, saturating at the limits instead of overflowing; NaN is 0.
inline int32_t toInt32(lua_Number n) {
    if (n != n) return 0;
    if (n >= 2147483647.0) return INT32_MAX;
    if (n <= -2147483648.0) return INT32_MIN;
    return static_cast<int32_t>(n);
}

inline int32_t toInt32(lua_State* L, int idx) {
    return toInt32(lua_tonumber(L, idx));
}

// Runs `body`; an `Exception` it throws is reported (its Report()) and false returned. Only that
// type is caught: under LuaJIT a Lua error unwinds as a C++ exception too, and a catch (...) here
// would swallow it and leave the Lua state broken.
template <class Exception, class Body>
bool reportException(Body&& body) {
    try {
        body();
        return true;
    } catch (const Exception& e) {
        e.Report();
        return false;
    }
}

}  // namespace plat::lua
