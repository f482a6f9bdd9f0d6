#include "analytics/trackwell/tests/TrackwellTestSupport.h"

#include <cstdio>

namespace dktest {

std::vector<std::string> rows(sqlite3* db, const std::string& sql) {
    std::vector<std::string> out;
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &stmt, nullptr) != SQLITE_OK) {
        out.push_back(std::string("error: ") + sqlite3_errmsg(db));
        return out;
    }
    while (sqlite3_step(stmt) == SQLITE_ROW) {
        std::string row;
        for (int i = 0; i < sqlite3_column_count(stmt); ++i) {
            if (i) row += "|";
            const unsigned char* text = sqlite3_column_text(stmt, i);
            row += text ? reinterpret_cast<const char*>(text) : "NULL";
        }
        out.push_back(row);
    }
    sqlite3_finalize(stmt);
    return out;
}

std::vector<std::string> rows(const std::string& path, const std::string& sql) {
    sqlite3* db = nullptr;
    sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
    std::vector<std::string> out = rows(db, sql);
    sqlite3_close(db);
    return out;
}

bool execSql(const std::string& path, const std::string& sql) {
    sqlite3* db = nullptr;
    sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
    char* message = nullptr;
    bool ok = sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &message) == SQLITE_OK;
    if (!ok) std::fprintf(stderr, "execSql: %s\n", message ? message : "?");
    sqlite3_free(message);
    sqlite3_close(db);
    return ok;
}

}  // namespace dktest
