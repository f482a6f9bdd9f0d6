#include "analytics/pagestats/PSPersistentHitStore.h"

#include <sqlite3.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "analytics/pagestats/PSUtils.h"
#include "analytics/trackwell/SqliteFile.h"
#include "analytics/trackwell/TrackwellEnvironment.h"
#include "platform/foundation/Container.h"

namespace {

constexpr const char* kFileName = "pagestats.sql";

constexpr const char* kPSSessionSchema =
    "CREATE TABLE IF NOT EXISTS session ( 'timestamp_first' INTEGER PRIMARY KEY, 'timestamp_previous' INTEGER NOT "
    "NULL, 'timestamp_current' INTEGER NOT NULL, 'visits' INTEGER NOT NULL, 'store_id' INTEGER NOT NULL);";
constexpr const char* kPSHitSchema =
    "CREATE TABLE IF NOT EXISTS hits ( 'hit_id' INTEGER PRIMARY KEY AUTOINCREMENT NOT NULL, 'hit_string' TEXT NOT "
    "NULL);";
constexpr const char* kPSEventsSchema =
    "CREATE TABLE IF NOT EXISTS events ( 'event_id' INTEGER PRIMARY KEY, 'random_val' INTEGER NOT NULL, "
    "'timestamp_first' INTEGER NOT NULL, 'timestamp_previous' INTEGER NOT NULL, 'timestamp_current' INTEGER NOT "
    "NULL, 'visits' INTEGER NOT NULL, 'category' CHAR(256) NOT NULL, 'action' CHAR(256) NOT NULL, 'label' "
    "CHAR(256), 'value' INTEGER);";
constexpr const char* kPSCustomVariableCacheSchema =
    "CREATE TABLE IF NOT EXISTS custom_var_cache ( 'cv_id' INTEGER PRIMARY KEY AUTOINCREMENT NOT NULL, 'cv_scope' "
    "INTEGER NOT NULL, 'cv_index' INTEGER NOT NULL, 'cv_name' CHAR(64) NOT NULL, 'cv_value' CHAR(64) NOT NULL);";
constexpr const char* kPSReferrerSchema =
    "CREATE TABLE IF NOT EXISTS referrer ( 'referrer' TEXT NOT NULL, 'referrer_timestamp' INTEGER NOT NULL, "
    "'referrer_visit' INTEGER NOT NULL, 'referrer_index' INTEGER NOT NULL);";

constexpr int kRandomMask = 0x7FFFFFFF;

// Referrer keys in the order their pairs are written, with the names the cookie gives them.
constexpr std::pair<const char*, const char*> kReferrerKeys[] = {
    {"utm_id", "utmcid"},         {"utm_source", "utmcsr"}, {"gclid", "utmgclid"},     {"utm_campaign", "utmccn"},
    {"utm_medium", "utmcmd"}, {"utm_term", "utmctr"},   {"utm_content", "utmcct"},
};

std::string columnText(sqlite3_stmt* stmt, int column) {
    const unsigned char* text = sqlite3_column_text(stmt, column);
    return text ? reinterpret_cast<const char*>(text) : "";
}

std::optional<std::string> columnOptionalText(sqlite3_stmt* stmt, int column) {
    if (sqlite3_column_type(stmt, column) == SQLITE_NULL) return std::nullopt;
    return columnText(stmt, column);
}

void bindText(sqlite3_stmt* stmt, int index, std::string_view text) {
    sqlite3_bind_text(stmt, index, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
}

// A kept statement's use: reset and unbound when it ends.
struct Use {
    sqlite3_stmt* stmt;
    ~Use() {
        if (stmt) {
            sqlite3_reset(stmt);
            sqlite3_clear_bindings(stmt);
        }
    }
};

}  // namespace

// A statement prepared for one call and finalized when the call returns.
class OneShot {
public:
    OneShot(sqlite3* db, bool* damaged, const char* sql, const char* what) : m_damaged(damaged) {
        int rc = sqlite3_prepare_v2(db, sql, -1, &m_stmt, nullptr);
        note(rc);
        if (rc != SQLITE_OK) {
            PSUtils::log("Error: Failed to prepare " + std::string(what) + ": " + std::to_string(rc));
            sqlite3_finalize(m_stmt);
            m_stmt = nullptr;
        }
    }
    ~OneShot() { sqlite3_finalize(m_stmt); }
    OneShot(const OneShot&) = delete;
    OneShot& operator=(const OneShot&) = delete;
    explicit operator bool() const { return m_stmt != nullptr; }
    sqlite3_stmt* get() const { return m_stmt; }
    int step() { return note(sqlite3_step(m_stmt)); }

private:
    int note(int rc) {
        if (dk::trackwell::isDamage(rc)) *m_damaged = true;
        return rc;
    }

    bool* m_damaged;
    sqlite3_stmt* m_stmt = nullptr;
};

std::string PSPersistentHitStore::defaultPath() {
    const plat::foundation::Container* container = plat::foundation::Container::main();
    const std::string documents = container ? container->documentsPath() : std::string();
    if (documents.empty()) return {};  // never "/" + the name
    return documents + "/" + kFileName;
}

// The outermost operation heals a store found damaged on its way: by then no statement is in use.
struct PSPersistentHitStore::Operation {
    PSPersistentHitStore& store;
    explicit Operation(PSPersistentHitStore& s) : store(s) { ++store.m_operationDepth; }
    ~Operation() {
        if (--store.m_operationDepth == 0 && store.m_damaged) store.heal();
    }
    Operation(const Operation&) = delete;
    Operation& operator=(const Operation&) = delete;
};

PSPersistentHitStore::PSPersistentHitStore(std::shared_ptr<PSHitBuilder> hitBuilder, std::optional<std::string> path)
    : m_hitBuilder(std::move(hitBuilder)), m_path(path ? *path : defaultPath()) {
    {
        Operation opening(*this);
        if (!open()) return;
    }
    countHits();
}

bool PSPersistentHitStore::open() {
    if (!openDatabase(m_path)) {
        PSUtils::log("Unable to open PageStats database");
        closeDatabase();
        return false;
    }
    return true;
}

// Damage met at any statement is handled as at open: the file goes aside and the store starts
// anew. Kept, it failed most puts and sent the hits it could read again on every dispatch, their
// deletes failing. Hits read before count as gone: a late delete of one must not take a new hit
// with the same id, so new ids start above them.
void PSPersistentHitStore::heal() {
    ++m_operationDepth;
    m_damaged = false;
    closeDatabase();
    sayDamaged(dk::trackwell::setAside(m_path, m_identity));
    m_storedHits = 0;
    m_timestampFirst = m_timestampPrevious = m_timestampCurrent = m_visits = 0;
    m_storeID = 0;
    m_sessionStarted = false;
    m_useStoredVisitorVars = true;
    if (open()) {
        OneShot seed(m_database, &m_damaged, "INSERT INTO sqlite_sequence (name, seq) VALUES ('hits', ?);",
                     "seed hit ids statement");
        if (seed) {
            sqlite3_bind_int64(seed.get(), 1, static_cast<sqlite3_int64>(m_lastHitId));
            seed.step();
        }
        countHits();
    }
    --m_operationDepth;
}

void PSPersistentHitStore::sayDamaged(const std::string& aside) const {
    PSUtils::log("PageStats database is damaged; " + (aside.empty() ? "it was not moved aside here" : "moved to " + aside));
}

bool PSPersistentHitStore::claimDispatch() {
    if (m_path.empty()) return false;
    if (!m_dispatchClaim) m_dispatchClaim = std::make_unique<dk::trackwell::ExclusiveClaim>(m_path + "-dispatch");
    return m_dispatchClaim->claim();
}

void PSPersistentHitStore::releaseDispatch() {
    if (m_dispatchClaim) m_dispatchClaim->release();
}

int PSPersistentHitStore::beginTransaction() {
    if (m_turns) m_turns->beforeWrite();
    return runKept(m_beginTransaction);
}

PSPersistentHitStore::~PSPersistentHitStore() {
    closeDatabase();
}

void PSPersistentHitStore::closeDatabase() {
    for (sqlite3_stmt** stmt :
         {&m_insertHit, &m_selectHit, &m_deleteHit, &m_insertSession, &m_selectSession, &m_deleteSession,
          &m_selectReferrer, &m_beginTransaction, &m_endTransaction, &m_rollback, &m_updateCustomVarCache,
          &m_selectEvent, &m_selectTransaction, &m_selectItem}) {
        sqlite3_finalize(*stmt);
        *stmt = nullptr;
    }
    if (m_database) sqlite3_close_v2(m_database);
    m_database = nullptr;
}

// Everything a put uses is in place (tables, cache rows, statements, the session row with its
// store id) before older events are carried over as puts.
bool PSPersistentHitStore::openDatabase(const std::string& path) {
    if (path.empty()) return false;
    m_database = dk::trackwell::openDatabaseFile(path, "SELECT count(*) FROM sqlite_master",
                                                 [&](dk::trackwell::Replaced how, const std::string& aside) {
                                                     if (how == dk::trackwell::Replaced::SetAside) sayDamaged(aside);
                                                 });
    if (!m_database) return false;
    m_identity = dk::trackwell::fileIdentity(path);
    if (!m_turns) m_turns = std::make_unique<dk::trackwell::TurnTaking>(path + "-waiting");
    m_turns->attach(m_database);
    if (!createTable(kPSSessionSchema, "create session statement")) return false;
    const bool hadHits = tableExists("hits");
    if (!hadHits && !createTable(kPSHitSchema, "create hits statement")) return false;
    const bool migrate = !hadHits && tableExists("events");
    if (!createTables() || !prepareStatements()) return false;
    initializeSession();
    if (migrate) {
        migrateEventsToHits();
        if (!createTable(kPSEventsSchema, "create events stmt")) return false;
    }
    return true;
}

bool PSPersistentHitStore::createTables() {
    return createTable(kPSEventsSchema, "create events stmt") &&
           createTable(kPSCustomVariableCacheSchema, "create customvariable cache stmt") && populateCustomVarCache() &&
           createTable(kPSReferrerSchema, "create referrer stmt");
}

bool PSPersistentHitStore::createTable(const char* sql, const char* what) {
    OneShot stmt(m_database, &m_damaged, sql, what);
    return stmt && stmt.step() == SQLITE_DONE;
}

bool PSPersistentHitStore::tableExists(const char* name) {
    OneShot stmt(m_database, &m_damaged, "SELECT name FROM sqlite_master WHERE type='table' AND name=?",
                 "table exists statement");
    if (!stmt) return false;
    bindText(stmt.get(), 1, name);
    return stmt.step() == SQLITE_ROW;
}

bool PSPersistentHitStore::populateCustomVarCache() {
    for (int slot = 1; slot <= static_cast<int>(kPSMaxCustomVariables); ++slot) {
        OneShot select(m_database, &m_damaged, "SELECT * FROM custom_var_cache WHERE cv_index=?;",
                       "select custom var cache statement");
        if (!select) return false;
        sqlite3_bind_int(select.get(), 1, slot);
        int rc = select.step();
        if (rc == SQLITE_ROW) continue;
        if (rc != SQLITE_DONE) return false;
        OneShot insert(m_database, &m_damaged,
                       "INSERT INTO custom_var_cache (cv_scope,cv_index,cv_name,cv_value) VALUES (?, ?, ?, ?);",
                       "insert custom var cache statement");
        if (!insert) return false;
        sqlite3_bind_int(insert.get(), 1, kPSPageScope);
        sqlite3_bind_int(insert.get(), 2, slot);
        bindText(insert.get(), 3, "");
        bindText(insert.get(), 4, "");
        if (insert.step() != SQLITE_DONE) return false;
    }
    return true;
}

sqlite3_stmt* PSPersistentHitStore::kept(sqlite3_stmt*& slot, const char* sql, const char* what) {
    if (slot || !m_database) return slot;
    int rc = sqlite3_prepare_v2(m_database, sql, -1, &slot, nullptr);
    if (dk::trackwell::isDamage(rc)) m_damaged = true;
    if (rc != SQLITE_OK) {
        logPrepareFailure(what, rc);
        sqlite3_finalize(slot);
        slot = nullptr;
    }
    return slot;
}

bool PSPersistentHitStore::prepareStatements() {
    return kept(m_beginTransaction, "BEGIN IMMEDIATE TRANSACTION;", "begin transaction statement") &&
           kept(m_endTransaction, "END TRANSACTION;", "end transaction statement") &&
           kept(m_rollback, "ROLLBACK;", "rollback statement") &&
           kept(m_updateCustomVarCache, "UPDATE custom_var_cache SET cv_scope=?,cv_name=?, cv_value=? WHERE cv_index=?;",
                "custom_var_cache update statment") &&
           kept(m_selectSession, "SELECT * FROM session;", "select session statement") &&
           kept(m_insertSession,
                "INSERT INTO session (timestamp_first, timestamp_previous, timestamp_current, visits, store_id) "
                "VALUES (?, ?, ?, ?, ?);",
                "update record statement") &&
           kept(m_deleteSession, "DELETE from session;", "delete session statement") &&
           kept(m_selectReferrer, "SELECT * FROM referrer;", "select referrer statement");
}

int PSPersistentHitStore::step(sqlite3_stmt* stmt) {
    const int rc = sqlite3_step(stmt);
    if (dk::trackwell::isDamage(rc)) m_damaged = true;
    return rc;
}

int PSPersistentHitStore::runKept(sqlite3_stmt* stmt) {
    if (!stmt) return SQLITE_ERROR;
    Use use{stmt};
    return step(stmt);
}

void PSPersistentHitStore::logPrepareFailure(const char* what, int rc) const {
    PSUtils::log("Error: Failed to prepare " + std::string(what) + ": " + std::to_string(rc));
}

void PSPersistentHitStore::logError(const char* what) const {
    PSUtils::log(std::string(what) + " '" + sqlite3_errmsg(m_database) + "'");
}

void PSPersistentHitStore::storeError(PSError* error) const {
    if (error)
        *error = {kPSPersistentEventStoreErrorDomain, static_cast<std::uint32_t>(sqlite3_errcode(m_database))};
}

// Read and, on a fresh file, written in one transaction: processes opening a new file together
// would each find no row, and all but one would keep a store id the file does not hold.
void PSPersistentHitStore::initializeSession() {
    const bool inTransaction = beginTransaction() == SQLITE_DONE;
    readOrCreateSession();
    if (inTransaction && runKept(m_endTransaction) != SQLITE_DONE) runKept(m_rollback);
}

void PSPersistentHitStore::readOrCreateSession() {
    Use use{m_selectSession};
    int rc = step(m_selectSession);
    if (rc == SQLITE_ROW) {
        m_timestampFirst = sqlite3_column_int(m_selectSession, 0);
        m_timestampPrevious = sqlite3_column_int(m_selectSession, 1);
        m_timestampCurrent = sqlite3_column_int(m_selectSession, 2);
        m_visits = sqlite3_column_int(m_selectSession, 3);
        m_storeID = sqlite3_column_int(m_selectSession, 4);
        std::optional<PSReferrer> referrer = readReferrer();
        m_sessionStarted = m_timestampFirst != 0 && (!referrer || referrer->timestamp != 0);
    } else if (rc == SQLITE_DONE) {
        m_sessionStarted = false;
        m_useStoredVisitorVars = true;
        m_storeID = static_cast<int>(dk::trackwell::random32() & kRandomMask);
        Use insert{m_insertSession};
        for (int column = 1; column <= 4; ++column) sqlite3_bind_int(m_insertSession, column, 0);
        sqlite3_bind_int(m_insertSession, 5, m_storeID);
        if (step(m_insertSession) != SQLITE_DONE) logError("Error: Failed to set session information");
    } else {
        logError("Error: Failed to read session from database");
    }
}

// The row is replaced whole: within the caller's transaction when there is one, else in its own.
int PSPersistentHitStore::updateSession() {
    if (!m_database) return SQLITE_ERROR;
    const int now = static_cast<int>(dk::trackwell::wallTime());
    if (m_timestampFirst != 0) {
        m_timestampPrevious = m_timestampCurrent;
        m_timestampCurrent = now;
        ++m_visits;
    } else {
        m_timestampFirst = m_timestampPrevious = m_timestampCurrent = now;
        m_visits = 1;
    }
    m_sessionStarted = true;
    const bool ownTransaction = sqlite3_get_autocommit(m_database) != 0;
    if (ownTransaction) beginTransaction();
    int rc = runKept(m_deleteSession);
    if (rc != SQLITE_DONE) {
        logError("Error: Failed to delete session record from database");
    } else {
        Use insert{m_insertSession};
        sqlite3_bind_int(m_insertSession, 1, m_timestampFirst);
        sqlite3_bind_int(m_insertSession, 2, m_timestampPrevious);
        sqlite3_bind_int(m_insertSession, 3, m_timestampCurrent);
        sqlite3_bind_int(m_insertSession, 4, m_visits);
        sqlite3_bind_int(m_insertSession, 5, m_storeID);
        rc = step(m_insertSession);
        if (rc != SQLITE_DONE) logError("Error: Failed to insert session record into database");
    }
    if (ownTransaction) runKept(rc == SQLITE_DONE ? m_endTransaction : m_rollback);
    return rc;
}

void PSPersistentHitStore::startNewSession() {
    m_sessionStarted = false;
    m_useStoredVisitorVars = true;
    countHits();
}

bool PSPersistentHitStore::putEvent(PSEvent& event, PSError* error, bool allowSessionUpdate,
                                    std::optional<PSHit>* stored) {
    Operation operation(*this);
    if (!m_database) {
        if (error) *error = {kPSPersistentEventStoreErrorDomain, kPSPersistentEventStoreNoDatabaseError};
        return false;
    }
    if (m_storedHits >= kMaxStoredHits) {
        if (error) *error = {kPSPersistentEventStoreErrorDomain, kPSTrackerInvalidInputError};
        return false;
    }
    if (m_sampleRate != 100) {
        const int bucket = (event.visitorId != -1 ? event.visitorId : m_storeID) % 10000;
        if (bucket >= static_cast<int>(m_sampleRate * 100)) {
            if (m_debug) PSUtils::log("User has been sampled out. Aborting hit.");
            return true;
        }
    }
    if (beginTransaction() != SQLITE_DONE) {
        logError("Error: Failed begin transaction from database");
        storeError(error);
        return false;
    }
    bool ok = true;
    if (!m_sessionStarted && allowSessionUpdate && updateSession() != SQLITE_DONE) {
        storeError(error);
        ok = false;
    }
    std::optional<PSReferrer> referrer;
    if (ok) {
        if (!event.isSessionInitialized()) {
            event.randomVal = static_cast<int>(dk::trackwell::random32() & kRandomMask);
            event.timestampFirst = m_timestampFirst;
            event.timestampPrevious = m_timestampPrevious;
            event.timestampCurrent = m_timestampCurrent;
            event.visits = m_visits;
        }
        event.anonymizeIp = m_anonymizeIp;
        if (event.visitorId == -1) event.visitorId = m_storeID;
        addCustomVariables(event);
        ok = getAndUpdateReferrer(referrer, error);
    }
    std::string hitString;
    if (ok) {
        hitString = m_hitBuilder->constructHitRequestPath(event, referrer ? &*referrer : nullptr);
        sqlite3_stmt* insert = kept(m_insertHit, "INSERT INTO hits (hit_string) VALUES (?);", "insert hit statement");
        Use use{insert};
        if (insert) bindText(insert, 1, hitString);
        if (!insert || step(insert) != SQLITE_DONE) {
            if (insert) logError("Error: Failed to insert hit into database");
            storeError(error);
            ok = false;
        }
    }
    if (!ok) {
        runKept(m_rollback);
        return false;
    }
    const std::uint64_t hitId = static_cast<std::uint64_t>(sqlite3_last_insert_rowid(m_database));
    m_lastHitId = std::max(m_lastHitId, hitId);
    if (runKept(m_endTransaction) != SQLITE_DONE) {
        storeError(error);
        runKept(m_rollback);
        return false;
    }
    ++m_storedHits;
    if (stored) stored->emplace(std::move(hitString), hitId);
    return true;
}

// Cached visitor-scope variables ride on the first page view or event of a visit, unless it
// sets the same slot; every variable sent becomes its slot's cached value.
void PSPersistentHitStore::addCustomVariables(PSEvent& event) {
    if (event.category == kPSTransactionEventCategory || event.category == kPSItemEventCategory) return;
    if (m_useStoredVisitorVars) {
        if (!event.customVariableBuffer) event.customVariableBuffer.emplace();
        OneShot select(m_database, &m_damaged,
                       "SELECT cv_index, cv_name, cv_value, cv_scope  FROM custom_var_cache WHERE cv_scope=?;",
                       "custom var cache select statement");
        if (select) {
            sqlite3_bind_int(select.get(), 1, kPSVisitorScope);
            while (select.step() == SQLITE_ROW) {
                const unsigned slot = static_cast<unsigned>(sqlite3_column_int(select.get(), 0));
                if (event.customVariableBuffer->isSlotAvailable(slot))
                    event.customVariableBuffer->addCustomVariable(PSCustomVariable(
                        slot, columnText(select.get(), 1), columnText(select.get(), 2),
                        static_cast<unsigned>(sqlite3_column_int(select.get(), 3))));
            }
        }
        m_useStoredVisitorVars = false;
    }
    if (!event.customVariableBuffer) return;
    for (unsigned slot = 1; slot <= kPSMaxCustomVariables; ++slot) {
        const PSCustomVariable* variable = event.customVariableBuffer->customVariableAt(slot);
        if (!variable) continue;
        Use use{m_updateCustomVarCache};
        sqlite3_bind_int(m_updateCustomVarCache, 1, static_cast<int>(variable->scope));
        bindText(m_updateCustomVarCache, 2, variable->name);
        bindText(m_updateCustomVarCache, 3, variable->value);
        sqlite3_bind_int(m_updateCustomVarCache, 4, static_cast<int>(slot));
        if (step(m_updateCustomVarCache) == SQLITE_ERROR) {
            logError("Error: Failed to update custom var cache for database");
            break;
        }
    }
}

std::optional<PSReferrer> PSPersistentHitStore::readReferrer() {
    if (!m_selectReferrer) return std::nullopt;
    Use use{m_selectReferrer};
    if (step(m_selectReferrer) != SQLITE_ROW) return std::nullopt;
    return PSReferrer{columnText(m_selectReferrer, 0), sqlite3_column_int(m_selectReferrer, 1),
                      sqlite3_column_int(m_selectReferrer, 2), sqlite3_column_int(m_selectReferrer, 3)};
}

std::optional<PSReferrer> PSPersistentHitStore::getReferrer() {
    Operation operation(*this);
    return m_database ? readReferrer() : std::nullopt;
}

bool PSPersistentHitStore::writeReferrer(const PSReferrer& referrer, PSError* error) {
    OneShot remove(m_database, &m_damaged, "DELETE FROM referrer;", "delete referrer statement");
    if (!remove || remove.step() != SQLITE_DONE) {
        if (remove) logError("Error: Failed to delete referrer from database");
        storeError(error);
        return false;
    }
    OneShot insert(m_database, &m_damaged,
                   "INSERT INTO referrer (referrer, referrer_timestamp, referrer_visit, referrer_index) VALUES (?, ?, "
                   "?, ?);",
                   "insert referrer statement");
    if (insert) {
        bindText(insert.get(), 1, referrer.referrer);
        sqlite3_bind_int(insert.get(), 2, referrer.timestamp);
        sqlite3_bind_int(insert.get(), 3, referrer.visit);
        sqlite3_bind_int(insert.get(), 4, referrer.index);
    }
    if (!insert || insert.step() != SQLITE_DONE) {
        if (insert) logError("Error: Failed to insert referrer from database");
        storeError(error);
        return false;
    }
    return true;
}

// A referrer is first used by the visit now under way, which it then keeps.
bool PSPersistentHitStore::getAndUpdateReferrer(std::optional<PSReferrer>& referrer, PSError* error) {
    referrer = readReferrer();
    if (!referrer || referrer->timestamp != 0) return true;
    referrer->timestamp = m_timestampCurrent;
    referrer->visit = m_visits;
    return writeReferrer(*referrer, error);
}

std::optional<std::string> PSPersistentHitStore::formatReferrer(const std::string& query) {
    const PSUtils::Params params = PSUtils::paramsFromQuery(query);
    auto present = [&](const char* key) {
        auto found = params.find(key);
        return found != params.end() && found->second ? &*found->second : nullptr;
    };
    if (!present("gclid") && !(present("utm_campaign") && present("utm_medium") && present("utm_source")))
        return std::nullopt;
    std::string text;
    for (const auto& [key, name] : kReferrerKeys) {
        const std::string* value = present(key);
        if (!value || value->empty()) continue;
        std::string escaped;
        for (char c : *value) escaped += (c == '+' || c == ' ') ? std::string("%20") : std::string(1, c);
        if (!text.empty()) text += "|";
        text += std::string(name) + "=" + escaped;
    }
    return text;
}

bool PSPersistentHitStore::setReferrer(const std::string& query, PSError* error) {
    Operation operation(*this);
    std::optional<std::string> text = formatReferrer(query);
    if (!text) {
        if (error) *error = {kPSTrackerErrorDomain, kPSTrackerInvalidInputError};
        return false;
    }
    if (!m_database) {
        if (error) *error = {kPSTrackerErrorDomain, kPSTrackerDatabaseError};
        return false;
    }
    std::optional<PSReferrer> old = readReferrer();
    int index = 1;
    if (old) index = old->timestamp >= 1 ? old->index + 1 : old->index;
    if (beginTransaction() != SQLITE_DONE) {
        logError("Error: Failed begin transaction from database");
        storeError(error);
        return false;
    }
    if (!writeReferrer({*text, 0, 0, index}, error)) {
        runKept(m_rollback);
        return false;
    }
    if (runKept(m_endTransaction) != SQLITE_DONE) {
        storeError(error);
        runKept(m_rollback);
        return false;
    }
    m_sessionStarted = false;
    return true;
}

PSCustomVariableBuffer PSPersistentHitStore::getVisitorVarBuffer() {
    Operation operation(*this);
    PSCustomVariableBuffer buffer;
    if (!m_database) return buffer;
    OneShot select(m_database, &m_damaged, "SELECT cv_index, cv_name, cv_value, cv_scope FROM custom_var_cache WHERE cv_scope=?;",
                   "select custom_var_cache statement");
    if (!select) return buffer;
    sqlite3_bind_int(select.get(), 1, kPSVisitorScope);
    while (select.step() == SQLITE_ROW)
        buffer.addCustomVariable(PSCustomVariable(static_cast<unsigned>(sqlite3_column_int(select.get(), 0)),
                                                  columnText(select.get(), 1), columnText(select.get(), 2),
                                                  static_cast<unsigned>(sqlite3_column_int(select.get(), 3))));
    return buffer;
}

std::optional<std::string> PSPersistentHitStore::getVisitorCustomVarAtSlot(unsigned slot) {
    const PSCustomVariableBuffer visitorVariables = getVisitorVarBuffer();
    const PSCustomVariable* variable = visitorVariables.customVariableAt(slot);
    if (!variable) return std::nullopt;
    return variable->value;
}

std::string PSPersistentHitStore::visitorIDForAfma() {
    Operation operation(*this);
    if (!m_sessionStarted) updateSession();
    return std::to_string(m_storeID) + "." + std::to_string(m_timestampFirst);
}

std::string PSPersistentHitStore::sessionIDForAfma() {
    Operation operation(*this);
    if (!m_sessionStarted) updateSession();
    return std::to_string(m_timestampCurrent);
}

std::optional<std::vector<PSHit>> PSPersistentHitStore::peekHits(int limit) {
    Operation operation(*this);
    sqlite3_stmt* select = kept(m_selectHit, "SELECT * FROM hits ORDER BY hit_id LIMIT ?;", "select hit statement");
    if (!select) return std::nullopt;
    Use use{select};
    sqlite3_bind_int(select, 1, limit == -1 ? static_cast<int>(kMaxStoredHits) : limit);
    std::vector<PSHit> hits;
    while (step(select) == SQLITE_ROW) {
        hits.emplace_back(columnText(select, 1), static_cast<std::uint64_t>(sqlite3_column_int64(select, 0)));
        m_lastHitId = std::max(m_lastHitId, hits.back().hitId());
    }
    return hits;
}

// Only the rows a delete really removed come off the count.
bool PSPersistentHitStore::deleteHit(std::uint64_t hitId) {
    Operation operation(*this);
    sqlite3_stmt* remove = kept(m_deleteHit, "DELETE FROM hits WHERE hit_id = ?;", "delete hit statement");
    if (!remove) return false;
    // A dispatch deletes hit after hit: it takes turns at the lock as puts do.
    if (m_turns) m_turns->beforeWrite();
    Use use{remove};
    sqlite3_bind_int64(remove, 1, static_cast<sqlite3_int64>(hitId));
    if (step(remove) == SQLITE_ERROR) {
        logError("Error: Failed to delete hit from database");
        return false;
    }
    const unsigned removed = static_cast<unsigned>(sqlite3_changes(m_database));
    m_storedHits = removed > m_storedHits ? 0 : m_storedHits - removed;
    return true;
}

bool PSPersistentHitStore::countHits() {
    Operation operation(*this);
    if (!m_database) return false;
    OneShot count(m_database, &m_damaged, "SELECT COUNT(*) FROM hits;", "count records statement");
    if (!count) return false;
    if (count.step() != SQLITE_ROW) {
        logError("Error: Failed to read from database");
        return false;
    }
    m_storedHits = static_cast<unsigned>(sqlite3_column_int(count.get(), 0));
    return true;
}

// Hits of the older layout were events stamped when they were made; each becomes a hit of this
// visitor, at most a full queue, and the old tables go.
void PSPersistentHitStore::migrateEventsToHits() {
    sqlite3_stmt* select = kept(m_selectEvent, "SELECT * FROM events ORDER BY event_id LIMIT ?;",
                                "select event statement");
    if (!select) return;
    std::vector<PSEvent> events;
    {
        Use use{select};
        sqlite3_bind_int(select, 1, static_cast<int>(kMaxStoredHits));
        while (step(select) == SQLITE_ROW)
            events.emplace_back(sqlite3_column_int64(select, 0), sqlite3_column_int(select, 1),
                                sqlite3_column_int(select, 2), sqlite3_column_int(select, 3),
                                sqlite3_column_int(select, 4), sqlite3_column_int(select, 5), columnText(select, 6),
                                columnText(select, 7), columnOptionalText(select, 8), sqlite3_column_int(select, 9));
    }
    const bool hasCustomVariables = tableExists("custom_variables");
    for (PSEvent& event : events) {
        if (event.category == kPSTransactionEventCategory) {
            sqlite3_stmt* stmt = kept(m_selectTransaction, "SELECT * FROM transactions WHERE event_id = ?;",
                                      "select transaction statement");
            if (stmt) {
                Use use{stmt};
                sqlite3_bind_int64(stmt, 1, event.eventID);
                if (step(stmt) == SQLITE_ROW)
                    event.transaction.emplace(columnText(stmt, 2), columnOptionalText(stmt, 3),
                                              sqlite3_column_double(stmt, 4), sqlite3_column_double(stmt, 5),
                                              sqlite3_column_double(stmt, 6));
            }
        } else if (event.category == kPSItemEventCategory) {
            sqlite3_stmt* stmt = kept(m_selectItem, "SELECT * FROM items WHERE event_id = ?;", "select item statement");
            if (stmt) {
                Use use{stmt};
                sqlite3_bind_int64(stmt, 1, event.eventID);
                if (step(stmt) == SQLITE_ROW)
                    event.item.emplace(columnText(stmt, 2), columnText(stmt, 3), columnOptionalText(stmt, 4),
                                       columnOptionalText(stmt, 5), std::strtod(columnText(stmt, 6).c_str(), nullptr),
                                       std::atoi(columnText(stmt, 7).c_str()));
            }
        } else if (hasCustomVariables) {
            OneShot stmt(m_database, &m_damaged, "SELECT * FROM custom_variables WHERE event_id = ?;",
                         "select custom_variables statement");
            if (stmt) {
                sqlite3_bind_int64(stmt.get(), 1, event.eventID);
                while (stmt.step() == SQLITE_ROW) {
                    if (!event.customVariableBuffer) event.customVariableBuffer.emplace();
                    event.customVariableBuffer->addCustomVariable(PSCustomVariable(
                        static_cast<unsigned>(sqlite3_column_int(stmt.get(), 3)), columnText(stmt.get(), 4),
                        columnText(stmt.get(), 5), static_cast<unsigned>(sqlite3_column_int(stmt.get(), 2))));
                }
            }
        }
        putEvent(event, nullptr, false);
    }
    for (const char* table : {"events", "items", "transactions", "custom_variables"}) {
        if (!tableExists(table)) continue;
        const std::string sql = "drop table " + std::string(table) + ";";
        OneShot drop(m_database, &m_damaged, sql.c_str(), "delete table statement");
        if (drop) drop.step();
    }
}
