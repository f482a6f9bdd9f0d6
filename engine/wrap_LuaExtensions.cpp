#include "engine/wrap_LuaExtensions.h"

#include <algorithm>

#include "platform/lua/LuaArgs.h"

namespace {

int createTable(lua_State* L) {
    int narr = static_cast<int>(lua_tointeger(L, -2));
    int nrec = static_cast<int>(lua_tointeger(L, -1));
    lua_createtable(L, std::max(narr, 0), std::max(nrec, 0));
    return 1;
}

int typeCode(lua_State* L) {
    lua_pushinteger(L, lua_type(L, -1));
    return 1;
}

}  // namespace

void luaopen_luaExtensions(lua_State* L) {
    lua_register(L, "createTable", (plat::lua::withArity<2, createTable>));
    lua_register(L, "typeCode", (plat::lua::withArity<1, typeCode>));
}
