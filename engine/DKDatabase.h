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
// by the next call. A store waits a few milliseconds on another connection's lock, unless one
// waited in vain a moment ago: then it tries once. A load waits until it can read: it never
// answers nil for a key the file holds.
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
    static int waitOnLock(void* self, int tries);

    std::string m_filePath;
    std::string m_tablesDirectory;
    sqlite3* m_connection = nullptr;  // set only while open with its statements prepared
    bool m_closing = false;           // the last write: it waits long on a lock, whatever came before
    // The call under way: how long it may wait on a lock, and whether it met one and gave up.
    int m_waitLimitMs = 0;
    bool m_gaveUp = false;
    // When a store last waited on a lock in vain; none once one got through.
    std::optional<std::chrono::steady_clock::time_point> m_storesLockedOutSince;
    bool m_saidLongWait = false;  // a load's long wait is said once
    std::atomic<int> m_lockWaits{0};
    std::atomic<int> m_lockTries{0};
    // Prepared once for the connection's life: no SQL text is built per call.
    sqlite3_stmt* m_select = nullptr;
    sqlite3_stmt* m_update = nullptr;
    sqlite3_stmt* m_insert = nullptr;
    // Stores not yet in the file, the latest value per key.
    std::map<std::string, std::optional<std::string>, std::less<>> m_pending;
};
