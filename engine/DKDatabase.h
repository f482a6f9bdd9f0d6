// The persistent key/value store "persistent.save": one SQLite table of text keys and values.
#pragma once

#include <atomic>
#include <chrono>
#include <map>
#include <optional>
#include <string>
#include <string_view>

struct sqlite3;
struct sqlite3_stmt;

// Opens nothing and touches no file until the first store (or a load once the file exists).
// SQLite failures are silent, as scripts expect. A store that cannot be written yet (the file
// locked by another connection, no descriptor free) is kept and written by a later store or at
// the latest when the store is destroyed; loads see it meanwhile. A failed open is tried again
// by the next call. A store waits 5 ms (a third of a frame) on another connection's lock; for
// 100 ms after one waited in vain, stores try once (a long lock costs a wait every six frames).
// Only the latest unwritten value per key is kept; the destructor waits up to a second to write
// them. A load has nothing to fall back on, and a nil would read as a key never stored (the game
// would store its default over the real value): it waits, trying every millisecond, however long
// (after a second it says once that it waits) until a quit (SIGINT or SIGTERM) comes; a load a quit
// ended answers nil, and nothing more is written, lest the game's default go over the real value.
// A file the process cannot write is still read. Values still unwritten when the store goes are
// said in one line naming the file, why, and how many. Keys and values are bound as text through
// statements prepared once per connection; a store looks the key up, then updates or inserts in
// one transaction, so a table without a unique key (made by another tool) stays writable. Two
// games on one folder both keep their stores, the last writer winning a key. A file SQLite finds
// damaged or no database is moved aside (persistent.save.corrupt, then .corrupt.2 and on) with one
// line, and the next store starts a new one. The file's size is not capped.
struct DKDatabase {  // a struct: the C API header declares it so
public:
    DKDatabase(std::string filePath, std::string tablesDirectory);
    ~DKDatabase();
    DKDatabase(const DKDatabase&) = delete;
    DKDatabase& operator=(const DKDatabase&) = delete;

    // The value stored under `key`; nothing when there is none or it is SQL NULL.
    std::optional<std::string> load(std::string_view key);
    // Stores `value` under `key`, replacing any earlier one; no value stores SQL NULL.
    void store(std::string_view key, std::optional<std::string_view> value);
    // The longest file path SQLite opens (a longer one fails every open): its file layer's limit
    // less the "-journal" its pager keeps room for.
    static size_t longestFilePath();
    // The directory scripts keep their tables in, as the host gave it.
    const std::string& tablesDirectory() const { return m_tablesDirectory; }
    // How many times a call has begun waiting on another connection's lock (tests count them,
    // from another thread too).
    int lockWaits() const { return m_lockWaits.load(); }
    // How many times in all a call has tried another connection's lock again.
    int lockTries() const { return m_lockTries.load(); }

private:
    enum Access { kLoading, kStoring };
    class LockRule;

    bool open();
    void disconnect();
    void writePending();
    // True when the file was found damaged and set aside, so that a new one may be tried.
    bool writePendingOnce();
    bool setAsideIfDamaged(int rc);
    // Keeps why the last open or write failed, for the line of the values never written.
    void noteFailure(const char* what);
    static int waitOnLock(void* self, int tries);

    std::string m_filePath;
    std::string m_tablesDirectory;
    sqlite3* m_connection = nullptr;  // set only while open with its statements prepared
    bool m_closing = false;           // the last write: it waits long on a lock, whatever came before
    // The call under way: how long it may wait on a lock, and whether it met one and gave up.
    int m_waitLimitMs = 0;
    bool m_gaveUp = false;
    std::chrono::steady_clock::time_point m_callStart;
    bool m_quitEndedLoad = false;  // a load answered nil for a quit: stores are kept from the file
    std::string m_failure;         // why values are still pending
    // When a store last waited on a lock in vain; none once one got through.
    std::optional<std::chrono::steady_clock::time_point> m_storesLockedOutSince;
    bool m_saidLongWait = false;  // a load's long wait is said once
    bool m_saidRefused = false;   // a file that is no store (a FIFO, a device) is said once
    bool m_saidDamaged = false;   // a damaged file that cannot be moved aside is said once
    std::atomic<int> m_lockWaits{0};
    std::atomic<int> m_lockTries{0};
    // Prepared once for the connection's life: no SQL text is built per call.
    sqlite3_stmt* m_select = nullptr;
    sqlite3_stmt* m_update = nullptr;
    sqlite3_stmt* m_insert = nullptr;
    // Stores not yet in the file, the latest value per key.
    std::map<std::string, std::optional<std::string>, std::less<>> m_pending;
};
