// Opening an SQLite file a client keeps for itself: made when missing, and made anew when what is
// there turns out to be no database.
#pragma once

#include <functional>
#include <string>

struct sqlite3;

namespace dk::trackwell {

enum class Replaced {
    Unopenable,  // SQLite could not open the file: it was removed and opened once more
    SetAside,    // the file was no database: moved to "<path>.corrupt" with its journal
};

// Opens `path` read-write, creating it, with a short busy time-out. Opening reads nothing, so a
// file that is no database shows only when `probeSql` runs: on SQLITE_NOTADB or SQLITE_CORRUPT
// (never SQLITE_BUSY, a file another connection holds) it is set aside, one kept, and a fresh
// file opened. `onReplaced` hears of each replacement. Null when no file could be had.
sqlite3* openDatabaseFile(const std::string& path, const char* probeSql,
                          const std::function<void(Replaced)>& onReplaced = {});

}  // namespace dk::trackwell
