#include "analytics/trackwell/TrackwellDatabase.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "analytics/trackwell/SqliteFile.h"
#include "analytics/trackwell/TrackwellEnvironment.h"
#include "platform/foundation/Container.h"
#include "platform/foundation/FileSystem.h"
#include "platform/foundation/Log.h"
#include "platform/sys/AtomicFile.h"

namespace fs = std::filesystem;

namespace {

constexpr const char* kDirectoryName = ".trackwell";
constexpr const char* kFileName = "trackwell";
constexpr const char* kCreatedFileName = "created";
constexpr const char* kUploadLockFileName = "upload.lock";

constexpr const char* kCreateSchema[] = {
    "CREATE TABLE upload_headers (sequence_number INTEGER PRIMARY KEY, blob_string TEXT)",
    "CREATE TABLE events (event_id INTEGER PRIMARY KEY AUTOINCREMENT, upload_header INTEGER, blob_string TEXT NOT "
    "NULL)",
    "CREATE TABLE trackwell_info (schema_version INTEGER PRIMARY KEY, last_upload_number INTEGER, "
    "last_session_number INTEGER, opt_out BOOLEAN, last_close_event INTEGER, last_flow_event INTEGER, "
    "last_session_start REAL, install_id CHAR(40), custom_d0 CHAR(64), custom_d1 CHAR(64), custom_d2 CHAR(64), "
    "custom_d3 CHAR(64) )",
    "INSERT INTO trackwell_info (schema_version, last_upload_number, last_session_number, opt_out) VALUES (2, 0, 0, "
    "0)",
};

constexpr const char* kUpgradeFromVersion1[] = {
    "ALTER TABLE trackwell_info ADD install_id CHAR(40)",  "ALTER TABLE trackwell_info ADD custom_d0 CHAR(64)",
    "ALTER TABLE trackwell_info ADD custom_d1 CHAR(64)",   "ALTER TABLE trackwell_info ADD custom_d2 CHAR(64)",
    "ALTER TABLE trackwell_info ADD custom_d3 CHAR(64)",
};

// Within one upload number the header comes first, then the events in the order they were stored.
constexpr const char* kUploadQuery =
    "SELECT * FROM (    SELECT h.blob_string AS 'blob', h.sequence_number as 'seq', 0, 0 FROM upload_headers h   "
    "UNION ALL    SELECT e.blob_string AS 'blob', e.upload_header as 'seq', 1, e.event_id FROM events e) ORDER BY 2, "
    "3, 4";
constexpr const char* kStagedUploadQuery =
    "SELECT * FROM (    SELECT h.blob_string AS 'blob', h.sequence_number as 'seq', 0, 0 FROM upload_headers h   "
    "UNION ALL    SELECT e.blob_string AS 'blob', e.upload_header as 'seq', 1, e.event_id FROM events e WHERE "
    "e.upload_header IS NOT NULL) ORDER BY 2, 3, 4";

constexpr const char* kDeleteUploaded[] = {
    "DELETE FROM events WHERE upload_header IS NOT NULL",
    "DELETE FROM upload_headers",
    "UPDATE trackwell_info SET last_upload_number = (last_upload_number + 1)",
};

// The file's birth time, when its file system keeps one.
std::optional<double> birthTime(const std::string& path) {
    struct statx info {};
    if (statx(AT_FDCWD, path.c_str(), 0, STATX_BTIME, &info) != 0) return std::nullopt;
    if (!(info.stx_mask & STATX_BTIME)) return std::nullopt;
    return static_cast<double>(info.stx_btime.tv_sec) + info.stx_btime.tv_nsec / 1e9;
}

std::optional<double> readCreated(const std::string& path) {
    std::optional<std::string> text = plat::foundation::readFile(path);
    if (!text) return std::nullopt;
    char* end = nullptr;
    double value = std::strtod(text->c_str(), &end);
    if (end == text->c_str()) return std::nullopt;
    return value;
}

void writeCreated(const std::string& path, double when) {
    char text[64];
    std::snprintf(text, sizeof text, "%.6f\n", when);
    plat::sys::writeFileAtomically(path, text);
}

}  // namespace

// One use of a kept statement: reset and unbound when the use ends.
struct TrackwellDatabase::Step {
    TrackwellDatabase& db;
    sqlite3_stmt* stmt;
    Step(TrackwellDatabase& d, sqlite3_stmt* s) : db(d), stmt(s) {}
    ~Step() {
        if (stmt) {
            sqlite3_reset(stmt);
            sqlite3_clear_bindings(stmt);
        }
    }
    explicit operator bool() const { return stmt != nullptr; }
    int run() {
        const int rc = sqlite3_step(stmt);
        if (dk::trackwell::isDamage(rc)) db.m_damaged = true;
        return rc;
    }
    void bind(int index, std::string_view text) {
        sqlite3_bind_text(stmt, index, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
    }
    void bind(int index, std::int64_t value) { sqlite3_bind_int64(stmt, index, value); }
    void bind(int index, double value) { sqlite3_bind_double(stmt, index, value); }
    void bindNull(int index) { sqlite3_bind_null(stmt, index); }
};

// The statement lock for one operation. The outermost use heals a store found damaged on its way,
// once no savepoint is open: no statement of the connection is in use any more.
struct TrackwellDatabase::Use {
    TrackwellDatabase& db;
    explicit Use(TrackwellDatabase& d) : db(d) {
        db.m_dbLock.lock();
        ++db.m_useDepth;
    }
    ~Use() {
        if (--db.m_useDepth == 0 && db.m_savepointDepth == 0 && db.m_damaged) db.heal();
        db.m_dbLock.unlock();
    }
    Use(const Use&) = delete;
    Use& operator=(const Use&) = delete;
};

TrackwellDatabase::Places TrackwellDatabase::mainPlaces() {
    const plat::foundation::Container* container = plat::foundation::Container::main();
    if (!container) return {};
    return {container->documentsPath(), container->cachesPath()};
}

std::string TrackwellDatabase::trackwellDirectoryPath(const Places& places) {
    if (places.caches.empty()) return {};
    return places.caches + "/" + kDirectoryName;
}

std::string TrackwellDatabase::trackwellDatabasePath(const Places& places) {
    std::string directory = trackwellDirectoryPath(places);
    if (directory.empty()) return {};
    return directory + "/" + kFileName + ".sqlite";
}

TrackwellDatabase::TrackwellDatabase(Places places)
    : m_directory(trackwellDirectoryPath(places)), m_path(trackwellDatabasePath(places)), m_places(std::move(places)) {
    if (m_path.empty()) return;
    moveOldStore();
    plat::foundation::makeDirectories(m_directory);

    std::lock_guard transaction(m_transactionLock);
    Use use(*this);
    if (!openFile()) return;
    makeSchema();
}

TrackwellDatabase::~TrackwellDatabase() {
    releaseUpload();
    std::lock_guard lock(m_dbLock);
    closeFile();
}

void TrackwellDatabase::makeSchema() {
    noteCreation();
    if (schemaVersion() == 0) runScript(kCreateSchema, std::size(kCreateSchema));
    if (schemaVersion() <= 1) runScript(kUpgradeFromVersion1, std::size(kUpgradeFromVersion1));
}

// Said on standard error too: the log hook discards by default, and the user's data is gone.
void TrackwellDatabase::sayDamaged(const std::string& aside) const {
    const std::string said =
        "Metrics store is damaged; " + (aside.empty() ? "it was not moved aside here" : "moved to " + aside);
    plat::foundation::logText(said);
    dk::trackwell::logMessage(said);
}

// Damage met at any statement is handled as at open: the file goes aside and the store starts
// anew (what was in it is lost either way; a damaged store kept fails every upload for ever).
void TrackwellDatabase::heal() {
    ++m_useDepth;  // the statements below heal nothing themselves
    m_damaged = false;
    closeFile();
    const std::string aside = dk::trackwell::setAside(m_path, m_identity);
    ::unlink((m_directory + "/" + kCreatedFileName).c_str());
    sayDamaged(aside);
    if (openFile()) makeSchema();
    --m_useDepth;
}

// The whole directory moves in one rename, so a hot journal travels with its database.
void TrackwellDatabase::moveOldStore() {
    if (m_places.documents.empty()) return;
    const std::string old = m_places.documents + "/" + kDirectoryName;
    std::error_code error;
    if (!fs::is_directory(old, error)) return;
    plat::foundation::makeDirectories(m_places.caches);
    if (::rename(old.c_str(), m_directory.c_str()) != 0) fs::remove_all(old, error);
}

bool TrackwellDatabase::openFile() {
    const std::string created = m_directory + "/" + kCreatedFileName;
    m_db = dk::trackwell::openDatabaseFile(m_path, "SELECT MAX(schema_version) FROM trackwell_info",
                                           [&](dk::trackwell::Replaced how, const std::string& aside) {
                                               ::unlink(created.c_str());
                                               if (how == dk::trackwell::Replaced::SetAside) sayDamaged(aside);
                                           });
    m_identity = dk::trackwell::fileIdentity(m_path);
    if (!m_turns) m_turns = std::make_unique<dk::trackwell::TurnTaking>(m_path + "-waiting");
    m_turns->attach(m_db);
    return m_db != nullptr;
}

void TrackwellDatabase::closeFile() {
    for (auto& [sql, stmt] : m_statements) sqlite3_finalize(stmt);
    m_statements.clear();
    if (m_db) sqlite3_close_v2(m_db);
    m_db = nullptr;
}

void TrackwellDatabase::noteCreation() {
    if (birthTime(m_path)) return;
    const std::string created = m_directory + "/" + kCreatedFileName;
    if (!readCreated(created)) writeCreated(created, dk::trackwell::wallTime());
}

sqlite3_stmt* TrackwellDatabase::statement(const std::string& sql, int* rc) {
    if (rc) *rc = SQLITE_CANTOPEN;
    if (!m_db) return nullptr;
    auto found = m_statements.find(sql);
    if (found != m_statements.end()) {
        if (rc) *rc = SQLITE_OK;
        return found->second;
    }
    sqlite3_stmt* stmt = nullptr;
    int result = sqlite3_prepare_v3(m_db, sql.c_str(), static_cast<int>(sql.size()), SQLITE_PREPARE_PERSISTENT,
                                    &stmt, nullptr);
    if (rc) *rc = result;
    if (dk::trackwell::isDamage(result)) m_damaged = true;
    if (result != SQLITE_OK) {
        sqlite3_finalize(stmt);
        return nullptr;
    }
    m_statements.emplace(sql, stmt);
    return stmt;
}

bool TrackwellDatabase::exec(const std::string& sql) {
    Use use(*this);
    Step step(*this, statement(sql));
    if (!step) return false;
    int rc;
    while ((rc = step.run()) == SQLITE_ROW) {
    }
    return rc == SQLITE_DONE;
}

int TrackwellDatabase::queryInt(const char* sql, std::int64_t& value, bool& hasRow) {
    Use use(*this);
    hasRow = false;
    int rc;
    Step step(*this, statement(sql, &rc));
    if (!step) return rc;
    rc = step.run();
    if (rc == SQLITE_ROW) {
        hasRow = sqlite3_column_type(step.stmt, 0) != SQLITE_NULL;
        value = sqlite3_column_int64(step.stmt, 0);
        return SQLITE_OK;
    }
    return rc == SQLITE_DONE ? SQLITE_OK : rc;
}

// Under the statement lock only: a heal runs it while another thread may hold the savepoint lock
// and wait for this one. No savepoint is open meanwhile (a heal waits for that; open holds both).
bool TrackwellDatabase::runScript(const char* const* statements, std::size_t count) {
    Use use(*this);
    if (!exec("BEGIN IMMEDIATE TRANSACTION")) return false;
    for (std::size_t i = 0; i < count; ++i) {
        if (!exec(statements[i])) {
            exec("ROLLBACK TRANSACTION");
            return false;
        }
    }
    if (exec("COMMIT TRANSACTION")) return true;
    exec("ROLLBACK TRANSACTION");
    return false;
}

// ---- savepoints ----

// The transaction lock is taken before the statement lock, as everywhere else, so a thread that
// holds a savepoint and waits for a statement never meets one that holds the statement lock and
// waits for the savepoint. The outermost savepoint takes the write lock at once: a transaction
// that read first and then wants to write while another process writes gets SQLITE_BUSY without
// waiting (SQLite's way out of a deadlock), so tags failed whenever two processes shared a home.
bool TrackwellDatabase::beginTransaction(std::string_view name) {
    m_transactionLock.lock();
    Use use(*this);
    if (m_savepointDepth == 0 && m_turns) m_turns->beforeWrite();
    if (m_savepointDepth++ == 0 && !exec("BEGIN IMMEDIATE TRANSACTION")) return false;
    return exec("SAVEPOINT " + std::string(name));
}

// A commit SQLite refuses (another connection still reads past the busy time-out) leaves the
// transaction open for a retry nobody makes; every later write would join it and never be
// committed. It is taken back.
bool TrackwellDatabase::releaseTransaction(std::string_view name) {
    bool ok;
    {
        Use use(*this);
        const bool outermost = --m_savepointDepth == 0;
        ok = exec("RELEASE SAVEPOINT " + std::string(name));
        if (outermost) {
            ok = ok && exec("COMMIT TRANSACTION");
            if (!ok && m_db && !sqlite3_get_autocommit(m_db)) exec("ROLLBACK TRANSACTION");
        } else if (!ok && m_db && !sqlite3_get_autocommit(m_db)) {
            exec("ROLLBACK TRANSACTION TO SAVEPOINT " + std::string(name));
            exec("RELEASE SAVEPOINT " + std::string(name));
        }
    }
    m_transactionLock.unlock();
    return ok;
}

bool TrackwellDatabase::rollbackTransaction(std::string_view name) {
    bool ok;
    {
        Use use(*this);
        if (--m_savepointDepth == 0) {
            ok = exec("ROLLBACK TRANSACTION");
        } else {
            ok = exec("ROLLBACK TRANSACTION TO SAVEPOINT " + std::string(name));
            ok = exec("RELEASE SAVEPOINT " + std::string(name)) && ok;
        }
    }
    m_transactionLock.unlock();
    return ok;
}

// ---- the upload's owner ----

bool TrackwellDatabase::claimUpload() {
    std::lock_guard lock(m_uploadLock);
    if (m_directory.empty()) return false;
    if (!m_uploadClaim) m_uploadClaim = std::make_unique<dk::trackwell::ExclusiveClaim>(m_directory + "/" + kUploadLockFileName);
    if (!m_uploadClaim->claim()) return false;
    ++m_uploadHolds;
    return true;
}

// The claim goes only with its last holder: a staging that failed while an upload of this process
// was in flight let another process send the same staged rows.
void TrackwellDatabase::releaseUpload() {
    std::lock_guard lock(m_uploadLock);
    if (m_uploadHolds > 0 && --m_uploadHolds == 0 && m_uploadClaim) m_uploadClaim->release();
}

// ---- reads and writes ----

int TrackwellDatabase::schemaVersion() {
    std::int64_t value = 0;
    bool hasRow = false;
    if (queryInt("SELECT MAX(schema_version) FROM trackwell_info", value, hasRow) != SQLITE_OK || !hasRow) return 0;
    return static_cast<int>(value);
}

std::optional<std::string> TrackwellDatabase::installId() {
    Use use(*this);
    Step step(*this, statement("SELECT install_id FROM trackwell_info"));
    if (!step || step.run() != SQLITE_ROW || sqlite3_column_type(step.stmt, 0) == SQLITE_NULL) return std::nullopt;
    return std::string(reinterpret_cast<const char*>(sqlite3_column_text(step.stmt, 0)),
                       static_cast<std::size_t>(sqlite3_column_bytes(step.stmt, 0)));
}

int TrackwellDatabase::eventCount() {
    std::int64_t value = 0;
    bool hasRow = false;
    if (queryInt("SELECT count(*) FROM events", value, hasRow) != SQLITE_OK) return 0;
    return static_cast<int>(value);
}

std::int64_t TrackwellDatabase::databaseSize() {
    struct stat info {};
    if (m_path.empty() || ::stat(m_path.c_str(), &info) != 0) return 0;
    return info.st_size;
}

double TrackwellDatabase::createdTimestamp() {
    if (m_path.empty()) return 0;
    if (std::optional<double> born = birthTime(m_path)) return *born;
    const std::string created = m_directory + "/" + kCreatedFileName;
    if (std::optional<double> kept = readCreated(created)) return *kept;
    double now = dk::trackwell::wallTime();
    writeCreated(created, now);
    return now;
}

bool TrackwellDatabase::setLastsessionStartTimestamp(double timestamp) {
    Use use(*this);
    Step step(*this, statement("UPDATE trackwell_info SET last_session_start = ?"));
    if (!step) return false;
    step.bind(1, timestamp);
    return step.run() == SQLITE_DONE;
}

bool TrackwellDatabase::isOptedOut() {
    std::int64_t value = 0;
    bool hasRow = false;
    return queryInt("SELECT opt_out FROM trackwell_info", value, hasRow) == SQLITE_OK && hasRow && value == 1;
}

bool TrackwellDatabase::setOptedOut(bool optedOut) {
    Use use(*this);
    Step step(*this, statement("UPDATE trackwell_info SET opt_out = ?"));
    if (!step) return false;
    step.bind(1, std::int64_t{optedOut ? 1 : 0});
    return step.run() == SQLITE_DONE;
}

std::optional<std::string> TrackwellDatabase::customDimension(int slot) {
    if (slot < 0 || slot > 3) return std::nullopt;
    Use use(*this);
    Step step(*this, statement("select custom_d" + std::to_string(slot) + " from trackwell_info"));
    if (!step || step.run() != SQLITE_ROW || sqlite3_column_type(step.stmt, 0) == SQLITE_NULL) return std::nullopt;
    return std::string(reinterpret_cast<const char*>(sqlite3_column_text(step.stmt, 0)),
                       static_cast<std::size_t>(sqlite3_column_bytes(step.stmt, 0)));
}

bool TrackwellDatabase::setCustomDimension(int slot, const std::optional<std::string>& value) {
    if (slot < 0 || slot > 3) return false;
    Use use(*this);
    Step step(*this, statement("UPDATE trackwell_info SET custom_d" + std::to_string(slot) + " = ?"));
    if (!step) return false;
    if (value)
        step.bind(1, std::string_view(*value));
    else
        step.bindNull(1);
    return step.run() == SQLITE_DONE;
}

bool TrackwellDatabase::customDimensions(std::optional<std::string> (&values)[4]) {
    for (auto& value : values) value.reset();
    Use use(*this);
    Step step(*this, statement("SELECT custom_d0, custom_d1, custom_d2, custom_d3 FROM trackwell_info"));
    if (!step || step.run() != SQLITE_ROW) return false;
    for (int slot = 0; slot < 4; ++slot) {
        if (sqlite3_column_type(step.stmt, slot) == SQLITE_NULL) continue;
        values[slot] = std::string(reinterpret_cast<const char*>(sqlite3_column_text(step.stmt, slot)),
                                   static_cast<std::size_t>(sqlite3_column_bytes(step.stmt, slot)));
    }
    return true;
}

bool TrackwellDatabase::getNextUploadNumber(int& number) {
    std::int64_t value = 0;
    bool hasRow = false;
    if (queryInt("SELECT last_upload_number FROM trackwell_info", value, hasRow) != SQLITE_OK || !hasRow) return false;
    number = static_cast<int>(value + 1);
    return true;
}

bool TrackwellDatabase::incrementCounter(const char* savepoint, const char* updateSql, const char* selectSql,
                                         int* number) {
    std::lock_guard transaction(m_transactionLock);
    Use use(*this);
    if (!beginTransaction(savepoint)) {
        rollbackTransaction(savepoint);
        return false;
    }
    std::int64_t value = 0;
    bool hasRow = false;
    if (!exec(updateSql) || queryInt(selectSql, value, hasRow) != SQLITE_OK || !hasRow) {
        rollbackTransaction(savepoint);
        return false;
    }
    if (!releaseTransaction(savepoint)) return false;
    if (number) *number = static_cast<int>(value);
    return true;
}

bool TrackwellDatabase::incrementLastUploadNumber(int& number) {
    return incrementCounter("increment_upload_number",
                            "UPDATE trackwell_info SET last_upload_number = (last_upload_number + 1)",
                            "SELECT last_upload_number FROM trackwell_info", &number);
}

bool TrackwellDatabase::incrementLastSessionNumber(int* number) {
    return incrementCounter("increment_session_number",
                            "UPDATE trackwell_info SET last_session_number = (last_session_number + 1)",
                            "SELECT last_session_number FROM trackwell_info", number);
}

bool TrackwellDatabase::addEventWithBlobString(std::string_view blob) {
    Use use(*this);
    Step step(*this, statement("INSERT INTO events (blob_string) VALUES (?)"));
    if (!step) return false;
    step.bind(1, blob);
    return step.run() == SQLITE_DONE;
}

bool TrackwellDatabase::addEventWithMarker(std::string_view blob, const char* savepoint, const char* markerSql,
                                           const char* alsoSql, std::int64_t* addedRowId) {
    std::lock_guard transaction(m_transactionLock);
    Use use(*this);
    if (!beginTransaction(savepoint) || !addEventWithBlobString(blob)) {
        rollbackTransaction(savepoint);
        return false;
    }
    std::int64_t rowId = sqlite3_last_insert_rowid(m_db);
    bool marked = false;
    {
        Step step(*this, statement(markerSql));
        if (step) {
            step.bind(1, rowId);
            marked = step.run() == SQLITE_DONE;
        }
    }
    if (!marked || (alsoSql && !exec(alsoSql))) {
        rollbackTransaction(savepoint);
        return false;
    }
    if (addedRowId) *addedRowId = rowId;
    return releaseTransaction(savepoint);
}

bool TrackwellDatabase::addCloseEventWithBlobString(std::string_view blob, bool forgetLastFlowEvent) {
    std::int64_t rowId = 0;
    if (!addEventWithMarker(blob, "add_close_event",
                            "UPDATE trackwell_info SET last_close_event = (SELECT event_id FROM events WHERE rowid = ?)",
                            forgetLastFlowEvent ? "UPDATE trackwell_info SET last_flow_event = NULL" : nullptr, &rowId))
        return false;
    m_recordedOwnEvents = true;
    m_ownCloseEvent = OwnEvent{rowId, std::string(blob)};
    if (forgetLastFlowEvent) m_ownFlowEvent.reset();
    return true;
}

bool TrackwellDatabase::addFlowEventWithBlobString(std::string_view blob) {
    std::int64_t rowId = 0;
    if (!addEventWithMarker(blob, "add_flow_event",
                            "UPDATE trackwell_info SET last_flow_event = (SELECT event_id FROM events WHERE rowid = ?)",
                            nullptr, &rowId))
        return false;
    m_recordedOwnEvents = true;
    m_ownFlowEvent = OwnEvent{rowId, std::string(blob)};
    return true;
}

// The row is matched by its text too: once sent and deleted, its rowid may be another event's.
bool TrackwellDatabase::removeOwnEvent(std::optional<OwnEvent>& event) {
    if (!event) return true;
    Use use(*this);
    Step step(*this, statement("DELETE FROM events WHERE rowid = ? AND blob_string = ?"));
    if (!step) return false;
    step.bind(1, event->rowId);
    step.bind(2, event->blob);
    const bool ok = step.run() == SQLITE_DONE;
    if (ok) event.reset();
    return ok;
}

bool TrackwellDatabase::removeLastCloseAndFlowEvents() {
    // A store this process has added none to yet holds the previous run's markers.
    if (!m_recordedOwnEvents)
        return exec(
            "DELETE FROM events WHERE event_id = (SELECT last_close_event FROM trackwell_info) OR event_id = (SELECT "
            "last_flow_event FROM trackwell_info)");
    const bool closeRemoved = removeOwnEvent(m_ownCloseEvent);
    return removeOwnEvent(m_ownFlowEvent) && closeRemoved;
}

bool TrackwellDatabase::addHeaderWithSequenceNumber(int sequenceNumber, std::string_view blob, std::int64_t* rowId) {
    Use use(*this);
    Step step(*this, statement("INSERT OR IGNORE INTO upload_headers (sequence_number, blob_string) VALUES (?, ?)"));
    if (!step) return false;
    step.bind(1, std::int64_t{sequenceNumber});
    step.bind(2, blob);
    if (step.run() != SQLITE_DONE) return false;
    if (rowId) *rowId = sequenceNumber;
    return true;
}

int TrackwellDatabase::unstagedEventCount() {
    std::int64_t value = 0;
    bool hasRow = false;
    if (queryInt("SELECT COUNT(*) FROM events WHERE UPLOAD_HEADER IS NULL", value, hasRow) != SQLITE_OK) return 0;
    return static_cast<int>(value);
}

bool TrackwellDatabase::stageEventsForUpload(int sequenceNumber) {
    Use use(*this);
    Step step(*this, statement("UPDATE events SET upload_header = ? WHERE upload_header IS NULL"));
    if (!step) return false;
    step.bind(1, std::int64_t{sequenceNumber});
    return step.run() == SQLITE_DONE;
}

std::string TrackwellDatabase::uploadBlobString() {
    return blobText(kUploadQuery);
}

std::string TrackwellDatabase::stagedUploadBlobString() {
    return blobText(kStagedUploadQuery);
}

// A query that fails part-way gives no text at all: a partial upload would have its rows deleted
// as sent.
std::string TrackwellDatabase::blobText(const char* query) {
    Use use(*this);
    Step step(*this, statement(query));
    if (!step) return {};
    std::string text;
    int rc;
    while ((rc = step.run()) == SQLITE_ROW) {
        if (sqlite3_column_type(step.stmt, 0) == SQLITE_NULL) continue;
        text.append(reinterpret_cast<const char*>(sqlite3_column_text(step.stmt, 0)),
                    static_cast<std::size_t>(sqlite3_column_bytes(step.stmt, 0)));
        text += ',';
    }
    if (rc != SQLITE_DONE || text.empty()) return {};
    text.back() = ']';
    return "[" + text;
}

bool TrackwellDatabase::deleteUploadData() {
    std::lock_guard transaction(m_transactionLock);
    Use use(*this);
    const char* savepoint = "delete_upload_data";
    if (!beginTransaction(savepoint)) {
        rollbackTransaction(savepoint);
        return false;
    }
    for (const char* sql : kDeleteUploaded) {
        if (!exec(sql)) {
            rollbackTransaction(savepoint);
            return false;
        }
    }
    return releaseTransaction(savepoint);
}
