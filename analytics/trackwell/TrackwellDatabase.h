// The metrics client's SQLite store: blobs waiting for upload, grouped under upload headers, and
// the counters and flags that outlast a process.
//
// The file is <Caches>/.trackwell/trackwell.sqlite with SQLite's default journal and synchronous
// mode, so a process killed at any instant keeps every committed row. Damage met at open or by any
// later statement sets the file aside as trackwell.sqlite.corrupt (.corrupt.2 and on when that is
// taken; said on standard error and to the log hook) and the store starts anew once no savepoint is
// open. Several processes may share a home: the outermost savepoint is BEGIN IMMEDIATE, lock waits
// take turns (SqliteFile.h), and one process at a time owns a staged upload (claimUpload). Within
// an upload number the upload text puts the header first, then the events by id; a query that fails
// part-way gives no text, since what it would have sent is deleted as sent. Any thread may call;
// the savepoint lock is always taken before the statement lock, so a thread inside a savepoint
// never waits on one that holds the statement lock.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>

#include "analytics/trackwell/SqliteFile.h"

struct sqlite3;
struct sqlite3_stmt;

class TrackwellDatabase {
public:
    // Where a store lives: the user's Documents (an old store's place) and Caches directories.
    struct Places {
        std::string documents;
        std::string caches;
    };

    // The main container's places; empty paths when there is no main container.
    static Places mainPlaces();
    static std::string trackwellDirectoryPath(const Places& places = mainPlaces());
    static std::string trackwellDatabasePath(const Places& places = mainPlaces());
    // The store over the main container, opened on its first use and never closed; a second start
    // on another home has its own.
    static TrackwellDatabase& sharedTrackwellDatabase();

    // Moves an old store out of Documents, opens (or creates, or upgrades) the store. A file that
    // cannot be opened, or that turns out to be no database, is set aside and made anew; when that
    // fails too the store stays closed and every query gives its empty result.
    explicit TrackwellDatabase(Places places);
    ~TrackwellDatabase();
    TrackwellDatabase(const TrackwellDatabase&) = delete;
    TrackwellDatabase& operator=(const TrackwellDatabase&) = delete;

    bool isOpen() const { return m_db != nullptr; }
    const std::string& path() const { return m_path; }

    // Savepoints; the lock taken by begin is held until the matching release or rollback, which
    // must follow on the same thread whether or not begin succeeded.
    bool beginTransaction(std::string_view name);
    bool releaseTransaction(std::string_view name);
    bool rollbackTransaction(std::string_view name);

    int schemaVersion();
    std::optional<std::string> installId();
    int eventCount();
    std::int64_t databaseSize();
    // The file's birth, seconds since 1970 (never its modification time): statx's birth time, or
    // where the file system keeps none, the time written to .trackwell/created when the file was
    // made or first seen.
    double createdTimestamp();
    bool setLastsessionStartTimestamp(double timestamp);
    bool isOptedOut();
    bool setOptedOut(bool optedOut);
    std::optional<std::string> customDimension(int slot);
    bool setCustomDimension(int slot, const std::optional<std::string>& value);
    // All four slots in one query (every blob carries them); false, all empty, when it fails.
    bool customDimensions(std::optional<std::string> (&values)[4]);
    bool getNextUploadNumber(int& number);
    bool incrementLastUploadNumber(int& number);
    bool incrementLastSessionNumber(int* number = nullptr);
    bool addEventWithBlobString(std::string_view blob);
    // `forgetLastFlowEvent`: the same savepoint also clears last_flow_event (a close that writes no
    // flow blob of its own).
    bool addCloseEventWithBlobString(std::string_view blob, bool forgetLastFlowEvent = false);
    bool addFlowEventWithBlobString(std::string_view blob);
    bool removeLastCloseAndFlowEvents();
    bool addHeaderWithSequenceNumber(int sequenceNumber, std::string_view blob, std::int64_t* rowId = nullptr);
    int unstagedEventCount();
    bool stageEventsForUpload(int sequenceNumber);
    // "[blob,blob,...]" of every header and event in upload order; "" when there is none.
    std::string uploadBlobString();
    // The same of the headers and staged events alone: exactly what deleteUploadData deletes.
    std::string stagedUploadBlobString();
    bool deleteUploadData();

    // The staged upload belongs to one process at a time (several may share a home): from the
    // staging of its rows to the deletion of what was sent. An advisory lock on a file beside the
    // store, given up with the process however it ends. Claiming what this store already holds
    // succeeds; false while another process (or store object) holds it. Each claim is given back
    // by one releaseUpload: the lock goes with the last.
    bool claimUpload();
    void releaseUpload();

    // The connection itself, for tools and tests that look under the store; null when closed.
    sqlite3* connection() const { return m_db; }

private:
    struct Step;
    struct Use;

    void moveOldStore();
    bool openFile();
    void closeFile();
    // Runs a query for its first row's first column as an integer; the SQLite result code.
    int queryInt(const char* sql, std::int64_t& value, bool& hasRow);
    // A statement prepared at its first use and kept for the connection's life; null on failure
    // (with the result code in `rc` when given).
    sqlite3_stmt* statement(const std::string& sql, int* rc = nullptr);
    // Runs a statement without results to its end.
    bool exec(const std::string& sql);
    bool runScript(const char* const* statements, std::size_t count);
    std::string blobText(const char* query);
    struct OwnEvent {
        std::int64_t rowId = 0;
        std::string blob;
    };
    bool removeOwnEvent(std::optional<OwnEvent>& event);
    bool addEventWithMarker(std::string_view blob, const char* savepoint, const char* markerSql,
                            const char* alsoSql = nullptr, std::int64_t* rowId = nullptr);
    bool incrementCounter(const char* savepoint, const char* updateSql, const char* selectSql, int* number);
    void noteCreation();
    void makeSchema();
    void heal();
    void sayDamaged(const std::string& aside) const;

    std::string m_directory;
    std::string m_path;
    Places m_places;
    sqlite3* m_db = nullptr;
    std::unordered_map<std::string, sqlite3_stmt*> m_statements;
    std::recursive_mutex m_dbLock;
    std::recursive_mutex m_transactionLock;
    dk::trackwell::FileIdentity m_identity;
    std::unique_ptr<dk::trackwell::TurnTaking> m_turns;
    int m_savepointDepth = 0;  // savepoints open on the connection (under m_dbLock)
    int m_useDepth = 0;        // nested uses of the statement lock by its holder
    bool m_damaged = false;    // a statement met SQLITE_CORRUPT or SQLITE_NOTADB: heal when free
    std::mutex m_uploadLock;
    std::unique_ptr<dk::trackwell::ExclusiveClaim> m_uploadClaim;
    int m_uploadHolds = 0;  // the staging and the upload in flight each hold the claim
    // The last close and flow events this process added: the markers in the store are the last of
    // any process sharing it, and a resume removing another's close sent its own twice.
    bool m_recordedOwnEvents = false;
    std::optional<OwnEvent> m_ownCloseEvent, m_ownFlowEvent;
};
