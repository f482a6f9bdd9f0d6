#include "engine/wrap_Database.h"

#include <optional>
#include <string_view>

#include "engine/DKDatabase.h"
#include "platform/lua/LuaArgs.h"

namespace {

DKDatabase* databaseOf(lua_State* L) {
    return *static_cast<DKDatabase**>(lua_touserdata(L, lua_upvalueindex(1)));
}

// Keys and values are text; numbers pass in their string form. Anything else is no text: such
// a key stores nothing and loads nil, such a value stores NULL.
std::optional<std::string_view> textAt(lua_State* L, int idx) {
    int type = lua_type(L, idx);
    if (type != LUA_TSTRING && type != LUA_TNUMBER) return std::nullopt;
    size_t len = 0;
    const char* s = lua_tolstring(L, idx, &len);
    return std::string_view(s, len);
}

// Arguments are read from the top of the stack: (value, key) for a store, (key) for a load.
int loadValueForKey(lua_State* L) {
    auto key = textAt(L, -1);
    auto value = key ? databaseOf(L)->load(*key) : std::nullopt;
    if (value)
        lua_pushlstring(L, value->data(), value->size());
    else
        lua_pushnil(L);
    return 1;
}

int storeValueForKey(lua_State* L) {
    auto key = textAt(L, -1);
    if (key) databaseOf(L)->store(*key, textAt(L, -2));
    return 0;
}

int getTablesDirectoryPath(lua_State* L) {
    const std::string& directory = databaseOf(L)->tablesDirectory();
    lua_pushlstring(L, directory.data(), directory.size());
    return 1;
}

const luaL_Reg kDatabaseLib[] = {
    {"loadValueForKey", plat::lua::withArity<1, loadValueForKey>},
    {"storeValueForKey", plat::lua::withArity<2, storeValueForKey>},
    {"getTablesDirectoryPath", getTablesDirectoryPath},
    {nullptr, nullptr},
};

}  // namespace

void luaopen_database(lua_State* L, DKDatabase* db) {
    auto** slot = static_cast<DKDatabase**>(lua_newuserdata(L, sizeof(DKDatabase*)));
    *slot = db;
    luaL_openlib(L, "database", kDatabaseLib, 1);
    lua_pop(L, 1);
}
