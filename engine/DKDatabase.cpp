#include "engine/DKDatabase.h"

#include <sqlite3.h>
#include <unistd.h>

#include <optional>
#include <string>
#include <string_view>

struct DKDatabase {
    std::string filePath;
    std::optional<std::string> tablesDirectory;
    sqlite3* connection = nullptr;
    sqlite3_stmt* select = nullptr;
    sqlite3_stmt* upsert = nullptr;
};

namespace {

const char* const kCreateTable =
    "CREATE TABLE IF NOT EXISTS savedValues (key char(32) primary key, value char(32))";
const char* const kSelect = "SELECT value FROM savedValues WHERE key=?1";
const char* const kUpsert =
    "INSERT INTO savedValues (key, value) VALUES (?1, ?2) "
    "ON CONFLICT(key) DO UPDATE SET value=excluded.value";

// Failures stay silent: a connection whose open failed makes its statements fail, so loads give
// nil and stores do nothing.
void ensureOpen(DKDatabase* db) {
    if (db->connection) return;
    sqlite3_open_v2(db->filePath.c_str(), &db->connection, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE,
                    nullptr);
    if (!db->connection) return;
    sqlite3_exec(db->connection, kCreateTable, nullptr, nullptr, nullptr);
    sqlite3_prepare_v2(db->connection, kSelect, -1, &db->select, nullptr);
    sqlite3_prepare_v2(db->connection, kUpsert, -1, &db->upsert, nullptr);
}

// Keys and values are text; numbers pass in their string form. Lengths are explicit so an
// embedded NUL does not cut the text short.
std::optional<std::string_view> textAt(lua_State* L, int idx) {
    int type = lua_type(L, idx);
    if (type != LUA_TSTRING && type != LUA_TNUMBER) return std::nullopt;
    size_t len = 0;
    const char* s = lua_tolstring(L, idx, &len);
    return std::string_view(s, len);
}

void bindText(sqlite3_stmt* stmt, int index, std::optional<std::string_view> text) {
    if (text)
        sqlite3_bind_text(stmt, index, text->data(), static_cast<int>(text->size()), SQLITE_TRANSIENT);
    else
        sqlite3_bind_null(stmt, index);
}

DKDatabase* databaseOf(lua_State* L) {
    return *static_cast<DKDatabase**>(lua_touserdata(L, lua_upvalueindex(1)));
}

int loadValueForKey(lua_State* L) {
    DKDatabase* db = databaseOf(L);
    auto key = textAt(L, -1);
    if (!key) {
        lua_pushnil(L);
        return 1;
    }
    // A game that never saved leaves no file behind.
    if (!db->connection && access(db->filePath.c_str(), R_OK | W_OK) != 0) {
        lua_pushnil(L);
        return 1;
    }
    ensureOpen(db);
    if (!db->select) {
        lua_pushnil(L);
        return 1;
    }
    bindText(db->select, 1, key);
    if (sqlite3_step(db->select) == SQLITE_ROW && sqlite3_column_type(db->select, 0) != SQLITE_NULL) {
        const void* text = sqlite3_column_blob(db->select, 0);
        int bytes = sqlite3_column_bytes(db->select, 0);
        lua_pushlstring(L, text ? static_cast<const char*>(text) : "", static_cast<size_t>(bytes));
    } else {
        lua_pushnil(L);
    }
    sqlite3_reset(db->select);
    sqlite3_clear_bindings(db->select);
    return 1;
}

int storeValueForKey(lua_State* L) {
    DKDatabase* db = databaseOf(L);
    auto key = textAt(L, -1);
    if (!key) return 0;
    auto value = textAt(L, -2);
    ensureOpen(db);
    if (!db->upsert) return 0;
    bindText(db->upsert, 1, key);
    bindText(db->upsert, 2, value);
    sqlite3_step(db->upsert);
    sqlite3_reset(db->upsert);
    sqlite3_clear_bindings(db->upsert);
    return 0;
}

int getTablesDirectoryPath(lua_State* L) {
    DKDatabase* db = databaseOf(L);
    if (db->tablesDirectory)
        lua_pushlstring(L, db->tablesDirectory->data(), db->tablesDirectory->size());
    else
        lua_pushnil(L);
    return 1;
}

const luaL_Reg databaseLib[] = {
    {"loadValueForKey", loadValueForKey},
    {"storeValueForKey", storeValueForKey},
    {"getTablesDirectoryPath", getTablesDirectoryPath},
    {nullptr, nullptr},
};

}  // namespace

extern "C" {

DKDatabase* DKDatabaseOpen(const char* filePath) {
    auto* db = new DKDatabase;
    db->filePath = filePath ? filePath : "";
    return db;
}

void DKDatabaseSetTablesDirectory(DKDatabase* db, const char* directory) {
    if (directory)
        db->tablesDirectory = directory;
    else
        db->tablesDirectory.reset();
}

void DKDatabaseLoadLib(DKDatabase* db, lua_State* L) {
    auto** slot = static_cast<DKDatabase**>(lua_newuserdata(L, sizeof(DKDatabase*)));
    *slot = db;
    luaL_openlib(L, "database", databaseLib, 1);
    lua_pop(L, 1);
}

void DKDatabaseClose(DKDatabase* db) {
    if (!db) return;
    sqlite3_finalize(db->select);
    sqlite3_finalize(db->upsert);
    if (db->connection) sqlite3_close(db->connection);
    delete db;
}

}  // extern "C"
