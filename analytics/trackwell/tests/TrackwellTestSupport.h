// What the store's and the uploader's tests share: a home of their own and plain SQL read-backs.
#pragma once

#include <sqlite3.h>

#include <string>
#include <vector>

#include "analytics/trackwell/TrackwellDatabase.h"
#include "tests/support/TestSupport.h"

namespace dktest {

// A scratch home with the Documents and Caches places of a container.
struct TrackwellHome {
    TempDir dir;
    TrackwellDatabase::Places places() const {
        return {dir.path() + "/Documents", dir.path() + "/Library/Caches"};
    }
    std::string storePath() const { return TrackwellDatabase::trackwellDatabasePath(places()); }
    std::string oldDirectory() const { return dir.path() + "/Documents/.trackwell"; }
};

// Every row of `sql`, its columns joined by "|" (NULL as "NULL").
std::vector<std::string> rows(sqlite3* db, const std::string& sql);
// The same on a connection of its own to `path`.
std::vector<std::string> rows(const std::string& path, const std::string& sql);
// Runs statements on a connection of its own; false with the message on standard error.
bool execSql(const std::string& path, const std::string& sql);

}  // namespace dktest
