// The page-view client's SQLite store: the visitor's session stamps and store id, the campaign
// referrer, the last value of each custom-variable slot, and the queue of hit strings waiting to
// be sent. Used on one thread.
//
// Each put is one transaction (session update, cache updates, referrer stamp, hit), so a killed
// process leaves only whole hits. Opening puts in place everything a put uses (tables, cache rows,
// kept statements, the session row with its store id) before an older file's events are carried
// over, so they carry the real visitor id. The visit flags are the store's own: stores on different
// files never restart each other's visits. The file opens through SqliteFile.h: a file that is no
// database, or damage any statement meets, is logged, set aside as pagestats.sql.corrupt (or
// .corrupt.2 and on, each kept) and replaced at the end of the call that met it, new hit ids
// starting above every id read before, so a late delete of a hit sent from the old file takes
// nothing new. Several processes may share the file: puts and the session row's first read and
// write begin IMMEDIATE (processes opening a fresh file together share one store id), writes take
// turns at the lock as the metrics store's do, and one process at a time dispatches (claimDispatch,
// on pagestats.sql-dispatch). Log texts go to standard error.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "analytics/pagestats/PSErrors.h"
#include "analytics/pagestats/PSHitBuilder.h"
#include "analytics/pagestats/PSRecords.h"
#include "analytics/trackwell/SqliteFile.h"

struct sqlite3;
struct sqlite3_stmt;

class PSPersistentHitStore {
public:
    static constexpr unsigned kMaxStoredHits = 1000;

    // The main container's Documents/pagestats.sql; "" without a main container.
    static std::string defaultPath();

    // Opens (or creates, or carries over from the older event layout) the file. The store is
    // always made; without a database every put fails with kPSPersistentEventStoreNoDatabaseError.
    explicit PSPersistentHitStore(std::shared_ptr<PSHitBuilder> hitBuilder,
                                  std::optional<std::string> path = std::nullopt);
    ~PSPersistentHitStore();
    PSPersistentHitStore(const PSPersistentHitStore&) = delete;
    PSPersistentHitStore& operator=(const PSPersistentHitStore&) = delete;

    // Stores the event's hit, as one transaction. A sampled-out hit is success with nothing
    // stored (`stored`, when given, is filled only when a row was written).
    bool putEvent(PSEvent& event, PSError* error = nullptr, bool allowSessionUpdate = true,
                  std::optional<PSHit>* stored = nullptr);
    // Up to `limit` hits (-1: kMaxStoredHits), oldest first; nullopt without a database.
    std::optional<std::vector<PSHit>> peekHits(int limit);
    bool deleteHit(std::uint64_t hitId);
    unsigned storedHits() const { return m_storedHits; }
    void setStoredHits(unsigned storedHits) { m_storedHits = storedHits; }
    // Reloads storedHits from the table.
    bool countHits();

    // Hits are sent by one process at a time (several may share a home): two would peek and send
    // the same rows. False while another process holds the claim; kept until released.
    bool claimDispatch();
    void releaseDispatch();

    // The next put opens a new visit.
    void startNewSession();

    // Takes a campaign query ("utm_source=...&utm_medium=...&utm_campaign=..." or "gclid=...");
    // errors in the tracker's domain when it is refused or there is no database.
    bool setReferrer(const std::string& referrer, PSError* error = nullptr);
    std::optional<PSReferrer> getReferrer();
    // The campaign text a referrer query stands for; nullopt when it names no campaign.
    static std::optional<std::string> formatReferrer(const std::string& query);

    // The cached visitor-scope variables.
    PSCustomVariableBuffer getVisitorVarBuffer();
    std::optional<std::string> getVisitorCustomVarAtSlot(unsigned slot);

    // For the ad SDK: "<store id>.<first visit>" and "<current visit>"; each opens the visit when
    // it has not started.
    std::string visitorIDForAfma();
    std::string sessionIDForAfma();

    unsigned sampleRate() const { return m_sampleRate; }
    void setSampleRate(unsigned rate) { m_sampleRate = rate; }
    bool anonymizeIp() const { return m_anonymizeIp; }
    void setAnonymizeIp(bool anonymize) { m_anonymizeIp = anonymize; }
    // The tracker's debug flag: says when a hit is sampled out.
    void setDebug(bool debug) { m_debug = debug; }
    int visits() const { return m_visits; }
    int timestampFirst() const { return m_timestampFirst; }
    int timestampPrevious() const { return m_timestampPrevious; }
    int timestampCurrent() const { return m_timestampCurrent; }
    int storeID() const { return m_storeID; }
    sqlite3* database() const { return m_database; }
    const std::shared_ptr<PSHitBuilder>& hitBuilder() const { return m_hitBuilder; }

private:
    struct Kept;
    struct Operation;

    bool open();
    void heal();
    // One line on the damage, with the name the file was moved to (empty: not moved here).
    void sayDamaged(const std::string& aside) const;
    int step(sqlite3_stmt* stmt);
    int beginTransaction();
    bool openDatabase(const std::string& path);
    bool createTables();
    bool createTable(const char* sql, const char* what);
    bool populateCustomVarCache();
    bool prepareStatements();
    void initializeSession();
    void readOrCreateSession();
    int updateSession();
    void migrateEventsToHits();
    bool tableExists(const char* name);
    void closeDatabase();

    sqlite3_stmt* kept(sqlite3_stmt*& slot, const char* sql, const char* what);
    int runKept(sqlite3_stmt* stmt);
    void storeError(PSError* error) const;
    void logError(const char* what) const;
    void logPrepareFailure(const char* what, int rc) const;

    void addCustomVariables(PSEvent& event);
    std::optional<PSReferrer> readReferrer();
    bool writeReferrer(const PSReferrer& referrer, PSError* error);
    bool getAndUpdateReferrer(std::optional<PSReferrer>& referrer, PSError* error);

    sqlite3* m_database = nullptr;
    unsigned m_storedHits = 0;
    int m_timestampFirst = 0;
    int m_timestampPrevious = 0;
    int m_timestampCurrent = 0;
    int m_visits = 0;
    bool m_anonymizeIp = false;
    unsigned m_sampleRate = 100;
    int m_storeID = 0;
    bool m_debug = false;
    // The current visit has been written to the session row.
    bool m_sessionStarted = false;
    // The next stored page view or event picks up the cached visitor-scope variables.
    bool m_useStoredVisitorVars = true;
    std::shared_ptr<PSHitBuilder> m_hitBuilder;
    std::string m_path;
    dk::trackwell::FileIdentity m_identity;
    std::unique_ptr<dk::trackwell::TurnTaking> m_turns;
    bool m_damaged = false;  // a statement met SQLITE_CORRUPT or SQLITE_NOTADB: heal when done
    int m_operationDepth = 0;
    std::uint64_t m_lastHitId = 0;  // the highest hit id read or written
    std::unique_ptr<dk::trackwell::ExclusiveClaim> m_dispatchClaim;

    sqlite3_stmt* m_insertHit = nullptr;
    sqlite3_stmt* m_selectHit = nullptr;
    sqlite3_stmt* m_deleteHit = nullptr;
    sqlite3_stmt* m_insertSession = nullptr;
    sqlite3_stmt* m_selectSession = nullptr;
    sqlite3_stmt* m_deleteSession = nullptr;
    sqlite3_stmt* m_selectReferrer = nullptr;
    sqlite3_stmt* m_beginTransaction = nullptr;
    sqlite3_stmt* m_endTransaction = nullptr;
    sqlite3_stmt* m_rollback = nullptr;
    sqlite3_stmt* m_updateCustomVarCache = nullptr;
    sqlite3_stmt* m_selectEvent = nullptr;
    sqlite3_stmt* m_selectTransaction = nullptr;
    sqlite3_stmt* m_selectItem = nullptr;
};
