// Opening an SQLite file a client keeps for itself: made when missing, and made anew when what is
// there turns out to be no database or a damaged one.
#pragma once

#include <sys/types.h>

#include <functional>
#include <optional>
#include <string>

#include "platform/foundation/FileSystem.h"

struct sqlite3;

namespace dk::trackwell {

enum class Replaced {
    Unopenable,  // SQLite could not open the file: it was removed and opened once more
    SetAside,    // the file was no database, or a damaged one: moved to "<path>.corrupt" (see setAside)
};

// How long a statement waits for another connection's lock (several processes may share a home)
// before it fails with SQLITE_BUSY. Short: the callers are the player's main thread.
constexpr int kBusyTimeoutMs = 1000;

// Opens `path` read-write, creating it, with the busy time-out above. Opening reads nothing, so a
// file that is no database shows only when `probeSql` runs; a quick check of every page then
// finds damage further in. On SQLITE_NOTADB or SQLITE_CORRUPT (never SQLITE_BUSY, a file another
// connection holds) the file is set aside, every one kept, and a fresh file opened. `onReplaced`
// hears of each replacement, with the name the damaged file now has (empty when it was not moved
// here). Null when no file could be had.
sqlite3* openDatabaseFile(const std::string& path, const char* probeSql,
                          const std::function<void(Replaced, const std::string& aside)>& onReplaced = {});

// A result that says the file is damaged (SQLITE_CORRUPT, SQLITE_NOTADB, extended codes too).
bool isDamage(int rc);

// The file a path names now, to tell whether another process already replaced a damaged store.
struct FileIdentity {
    dev_t device = 0;
    ino_t inode = 0;
    bool operator==(const FileIdentity&) const = default;
};
FileIdentity fileIdentity(const std::string& path);

// Moves the file at `path` to "<path>.corrupt", or when that is taken to ".corrupt.2", ".corrupt.3"
// and on (numbered as the user defaults' ".bad" files are: an earlier damaged copy is never
// replaced), its journal beside it with "-journal" added; the name it now has. Empty when it is no
// longer the file `opened` (another process set it aside first and made a fresh one) or could not
// be moved.
std::string setAside(const std::string& path, const FileIdentity& opened);

// A claim one process holds at a time on what several share (an advisory lock on `path`, made
// 0600 when missing), given up with the process however it ends. Claiming what is already held
// here succeeds; false while another process (or another claim object) holds it.
class ExclusiveClaim {
public:
    explicit ExclusiveClaim(std::string path) : m_path(std::move(path)) {}
    ExclusiveClaim(const ExclusiveClaim&) = delete;
    ExclusiveClaim& operator=(const ExclusiveClaim&) = delete;

    bool claim();
    void release() { m_lock.reset(); }

private:
    std::string m_path;
    std::optional<plat::foundation::FileLock> m_lock;
};

// Turns at the write lock for the processes that share a store file. SQLite's own waiting polls
// the lock, and a process writing in a loop takes it again before a waiting one looks: the other
// process's tags failed after the whole busy time-out. Here a connection marks the file beside the
// store from the first moment it waits until the statement that waited ends; a commit that finds
// the mark makes its connection hold back its next write until no connection is marked any more
// (every waiter has had the lock), for at most the busy time-out. A fixed pause was not enough:
// under load a waiter woke too late to use it and lost the lock again and again.
class TurnTaking {
public:
    // `markPath`: the file waiting connections mark (made 0600 when missing).
    explicit TurnTaking(std::string markPath);
    ~TurnTaking();
    TurnTaking(const TurnTaking&) = delete;
    TurnTaking& operator=(const TurnTaking&) = delete;

    // Waits up to kBusyTimeoutMs on `db`'s locks as above, and watches its statements and commits.
    void attach(sqlite3* db);
    // Before a write transaction (or a lone write) begins: holds back while the last commit saw
    // another connection waiting and it still waits.
    void beforeWrite();

private:
    static int busy(void* self, int count);
    static int committed(void* self);
    static int finished(unsigned type, void* self, void* statement, void* detail);
    void mark();
    void unmark();

    std::string m_markPath;
    int m_fd = -1;
    double m_waitStart = 0;
    bool m_marked = false;
    bool m_yield = false;
};

}  // namespace dk::trackwell
