// The persistent key/value store "persistent.save" and its Lua library "database".
#pragma once

#include <lua.hpp>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct DKDatabase DKDatabase;

// Copies the path; opens nothing and touches no file until the first load or store.
DKDatabase* DKDatabaseOpen(const char* filePath);
void DKDatabaseSetTablesDirectory(DKDatabase* db, const char* directory);
// Registers the "database" library over `db`.
void DKDatabaseLoadLib(DKDatabase* db, lua_State* L);
void DKDatabaseClose(DKDatabase* db);

#ifdef __cplusplus
}
#endif
