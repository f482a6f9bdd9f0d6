#include "analytics/trackwell/SqliteFile.h"

#include <sqlite3.h>
#include <unistd.h>

#include <cstdio>

#include "platform/sys/FileModes.h"

namespace dk::trackwell {

namespace {

sqlite3* open(const std::string& path) {
    sqlite3* db = nullptr;
    // SQLite makes a new file 0644 less the umask; its journals take the database's mode.
    plat::sys::createPrivateFile(path);
    if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) != SQLITE_OK) {
        sqlite3_close_v2(db);
        return nullptr;
    }
    sqlite3_busy_timeout(db, 30);
    return db;
}

int probe(sqlite3* db, const char* sql) {
    sqlite3_stmt* stmt = nullptr;
    int rc = sqlite3_prepare_v2(db, sql, -1, &stmt, nullptr);
    if (rc == SQLITE_OK) rc = sqlite3_step(stmt);
    sqlite3_finalize(stmt);
    return rc & 0xff;
}

}  // namespace

sqlite3* openDatabaseFile(const std::string& path, const char* probeSql,
                          const std::function<void(Replaced)>& onReplaced) {
    sqlite3* db = open(path);
    if (!db) {
        ::unlink(path.c_str());
        if (onReplaced) onReplaced(Replaced::Unopenable);
        if (!(db = open(path))) return nullptr;
    }
    int rc = probe(db, probeSql);
    if (rc != SQLITE_NOTADB && rc != SQLITE_CORRUPT) return db;
    // The journal goes with the file: left behind it would count as the new file's.
    sqlite3_close_v2(db);
    const std::string aside = path + ".corrupt";
    ::rename(path.c_str(), aside.c_str());
    if (::rename((path + "-journal").c_str(), (aside + "-journal").c_str()) != 0) ::unlink((aside + "-journal").c_str());
    if (onReplaced) onReplaced(Replaced::SetAside);
    return open(path);
}

}  // namespace dk::trackwell
