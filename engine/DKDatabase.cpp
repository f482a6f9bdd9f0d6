#include "engine/DKDatabase.h"

#include <sqlite3.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <limits>
#include <utility>
#include <vector>

#include "platform/sys/AtomicFile.h"
#include "platform/sys/FileModes.h"
#include "platform/sys/QuitRequest.h"
#include "platform/sys/WholeFile.h"

namespace {

const char* const kCreateTable =
    "CREATE TABLE IF NOT EXISTS savedValues (key char(32) primary key, value char(32))";
const char* const kSelect = "SELECT value FROM savedValues WHERE key=?1";
// Not an upsert: that needs the key's unique constraint, which a table made by another tool or
// an older version may lack. A look-up decides between these two, inside one transaction.
const char* const kUpdate = "UPDATE savedValues SET value=?2 WHERE key=?1";
const char* const kInsert = "INSERT INTO savedValues (key, value) VALUES (?1, ?2)";

// How long a call waits on another connection's lock, in milliseconds. Another game's store
// holds it about a millisecond on an idle disk, so such a wait ends within this; a long lock
// (half a second, say) outlasts any wait a frame can afford, so a call gives up after this, under
// a third of a 60 Hz frame, and the store waits in memory.
const int kBusyTimeoutMs = 5;
// Writing what is still pending when the store goes is the last chance: no frame waits then, so
// this outwaits any other game's store transaction.
const int kClosingBusyTimeoutMs = 1000;
// A lock that outlasted a whole wait is most likely a long transaction (another game's, a tool's)
// that will outlast the next calls too: for this long after such a wait, calls of the same kind
// try the lock once and do not wait. One wait of each kind per 100 ms (six frames) keeps what a
// game storing and loading every frame loses to such a lock under a tenth of its time however
// long the lock lasts. A call that does not wait still takes a lock freed meanwhile; all it risks
// is meeting another game's short transaction, and then its store stays in memory a while longer.
const auto kLockedOutFor = std::chrono::milliseconds(100);
// A load's limit: none. After a second it says once what it waits for, and a quit ends it from
// then on.
const int kNoWaitLimit = -1;

// Lengths are explicit so that an embedded NUL does not cut the text short.
void bindText(sqlite3_stmt* stmt, int index, std::optional<std::string_view> text) {
    if (text)
        sqlite3_bind_text(stmt, index, text->data(), static_cast<int>(text->size()), SQLITE_TRANSIENT);
    else
        sqlite3_bind_null(stmt, index);
}

// SQLite reads the file a page at a time, so the store's size is bounded only by the disk: a cap
// checked at open would refuse, at the next start, a file this one wrote.
const plat::sys::FileCap kAnySize{std::numeric_limits<size_t>::max(), "a persistent store"};

// What SQLite says of a file that is damaged or no database; a busy or locked one is neither.
bool isDamage(int rc) {
    return (rc & 0xff) == SQLITE_CORRUPT || (rc & 0xff) == SQLITE_NOTADB;
}

int stepOnce(sqlite3_stmt* stmt) {
    const int rc = sqlite3_step(stmt);
    sqlite3_reset(stmt);
    sqlite3_clear_bindings(stmt);
    return rc;
}

}  // namespace

// Sets how long one call may wait on a lock and, when a store ends, whether stores are locked
// out. A load has no memory to fall back on, and a nil would pass for a key never stored (a game
// then stores its default over the real value): it waits however long the lock lasts.
class DKDatabase::LockRule {
public:
    LockRule(DKDatabase& db, Access access) : m_db(db), m_access(access) {
        const auto& since = db.m_storesLockedOutSince;
        const bool lockedOut = since && std::chrono::steady_clock::now() - *since < kLockedOutFor;
        db.m_waitLimitMs = access == kLoading ? kNoWaitLimit
                           : db.m_closing     ? kClosingBusyTimeoutMs
                           : lockedOut        ? 0
                                              : kBusyTimeoutMs;
        db.m_gaveUp = false;
        db.m_callStart = std::chrono::steady_clock::now();
    }
    ~LockRule() {
        if (m_access == kLoading) return;
        if (!m_db.m_gaveUp)
            m_db.m_storesLockedOutSince.reset();
        else if (m_db.m_waitLimitMs > 0)
            m_db.m_storesLockedOutSince = std::chrono::steady_clock::now();
    }
    LockRule(const LockRule&) = delete;
    LockRule& operator=(const LockRule&) = delete;

private:
    DKDatabase& m_db;
    Access m_access;
};

// Tries the lock again every millisecond up to the limit. SQLite's own timeout backs off to tries
// up to 100 ms apart, which miss the moments another game's stores in quick succession leave the
// lock free: against stores 5 ms apart it waited up to 230 ms where this waits 1 ms.
int DKDatabase::waitOnLock(void* self, int tries) {
    auto& db = *static_cast<DKDatabase*>(self);
    // Once a quit has ended one load's wait, the loads after it do not wait out another second.
    if (db.m_waitLimitMs == kNoWaitLimit &&
        (db.m_quitEndedLoad ||
         std::chrono::steady_clock::now() - db.m_callStart >= std::chrono::milliseconds(plat::sys::kLongLockWaitMs))) {
        if (!db.m_saidLongWait) {
            db.m_saidLongWait = true;
            std::fprintf(stderr, "DKDatabase: %s is locked by another process; loads wait for it\n",
                         db.m_filePath.c_str());
        }
        if (plat::sys::quitRequested()) {
            db.m_gaveUp = true;
            db.m_quitEndedLoad = true;
            return 0;
        }
    }
    if (db.m_waitLimitMs != kNoWaitLimit && tries >= db.m_waitLimitMs) {
        db.m_gaveUp = true;
        return 0;
    }
    if (tries == 0) ++db.m_lockWaits;
    ++db.m_lockTries;
    usleep(1000);
    return 1;
}

size_t DKDatabase::longestFilePath() {
    const sqlite3_vfs* vfs = sqlite3_vfs_find(nullptr);
    const int limit = vfs ? vfs->mxPathname : 512;
    return static_cast<size_t>(std::max(limit - 8, 0));
}

DKDatabase::DKDatabase(std::string filePath, std::string tablesDirectory)
    : m_filePath(std::move(filePath)), m_tablesDirectory(std::move(tablesDirectory)) {}

DKDatabase::~DKDatabase() {
    m_closing = true;
    writePending();
    // The game's values end here: that is worth a line, whatever the game says.
    if (!m_pending.empty())
        std::fprintf(stderr, "DKDatabase: %zu %s not written to %s: %s\n", m_pending.size(),
                     m_pending.size() == 1 ? "value was" : "values were", m_filePath.c_str(), m_failure.c_str());
    disconnect();
}

void DKDatabase::noteFailure(const char* what) {
    m_failure = what;
    if (!m_connection) return;
    m_failure = sqlite3_errmsg(m_connection);
    if (const int error = sqlite3_system_errno(m_connection))
        m_failure += std::string(" (") + std::strerror(error) + ")";
}

// Either the connection is open with every statement prepared, or there is none and the next
// call tries again: a lock held by another connection or a lack of descriptors passes.
bool DKDatabase::open() {
    if (m_connection) return true;
    // A FIFO would hold SQLite's open for ever; a device is no store. Other errors (a folder in
    // the way, no such folder) are SQLite's to meet and say.
    plat::sys::ReadProblem refused;
    if (!plat::sys::isReadableFile(m_filePath, kAnySize, &refused) &&
        refused.failure == plat::sys::ReadFailure::NotAFile) {
        if (!m_saidRefused) std::fprintf(stderr, "DKDatabase: %s\n", refused.message.c_str());
        m_saidRefused = true;
        m_failure = refused.message.substr(std::min(refused.message.size(), m_filePath.size() + 2));
        return false;
    }
    // SQLite makes a new file 0644 less the umask; its journals take the database's mode.
    plat::sys::createPrivateFile(m_filePath);
    if (sqlite3_open_v2(m_filePath.c_str(), &m_connection, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE,
                        nullptr) != SQLITE_OK) {
        noteFailure("cannot be opened");
        sqlite3_close(m_connection);
        m_connection = nullptr;
        return false;
    }
    sqlite3_busy_handler(m_connection, waitOnLock, this);
    const int created = sqlite3_exec(m_connection, kCreateTable, nullptr, nullptr, nullptr);
    if (setAsideIfDamaged(created)) return false;
    // Another error (a read-only file, say) is left for the statements to meet; its reason is kept,
    // as theirs ("no such table") would only hide it.
    if (created != SQLITE_OK) noteFailure("cannot be opened");
    if (created != SQLITE_BUSY &&
        sqlite3_prepare_v2(m_connection, kSelect, -1, &m_select, nullptr) == SQLITE_OK &&
        sqlite3_prepare_v2(m_connection, kUpdate, -1, &m_update, nullptr) == SQLITE_OK &&
        sqlite3_prepare_v2(m_connection, kInsert, -1, &m_insert, nullptr) == SQLITE_OK)
        return true;
    if (created == SQLITE_BUSY || !setAsideIfDamaged(sqlite3_errcode(m_connection))) {
        if (created == SQLITE_OK) noteFailure("cannot be opened");
        disconnect();
    }
    return false;
}

// A damaged file failed every load and store for ever: it goes aside, numbered as the other
// stores number theirs, and the next store starts a new one. False when `rc` is no damage.
bool DKDatabase::setAsideIfDamaged(int rc) {
    if (!isDamage(rc)) return false;
    const std::string why = m_connection ? sqlite3_errmsg(m_connection) : sqlite3_errstr(rc);
    disconnect();
    const std::optional<std::string> aside = plat::sys::moveAside(m_filePath, ".corrupt");
    if (aside) {
        // The journal goes with the file: left behind it would count as the new file's.
        if (std::rename((m_filePath + "-journal").c_str(), (*aside + "-journal").c_str()) != 0)
            unlink((*aside + "-journal").c_str());
        std::fprintf(stderr, "DKDatabase: %s is damaged (%s); moved to %s\n", m_filePath.c_str(), why.c_str(),
                     aside->c_str());
        return true;
    }
    const int error = errno;
    m_failure = why + ", and it could not be moved aside (" + std::strerror(error) + ")";
    if (!m_saidDamaged)
        std::fprintf(stderr, "DKDatabase: %s is damaged (%s)\n", m_filePath.c_str(), m_failure.c_str());
    m_saidDamaged = true;
    return true;
}

void DKDatabase::disconnect() {
    for (sqlite3_stmt** stmt : {&m_select, &m_update, &m_insert}) {
        sqlite3_finalize(*stmt);
        *stmt = nullptr;
    }
    sqlite3_close(m_connection);
    m_connection = nullptr;
}

std::optional<std::string> DKDatabase::load(std::string_view key) {
    if (auto pending = m_pending.find(key); pending != m_pending.end()) return pending->second;
    // A game that never saved leaves no file behind. One the process cannot write is read all
    // the same (SQLite opens it read-only): a nil would pass for a value never stored.
    if (!m_connection && access(m_filePath.c_str(), R_OK) != 0) return std::nullopt;
    const LockRule rule(*this, kLoading);
    if (!open()) return std::nullopt;
    bindText(m_select, 1, key);
    std::optional<std::string> value;
    int rc;
    // SQLite skips the busy handler where waiting could deadlock two writers; a load holds
    // nothing, so it tries again, as the handler would.
    for (int tries = 0; (rc = sqlite3_step(m_select)) == SQLITE_BUSY && !m_gaveUp;) {
        sqlite3_reset(m_select);
        if (!waitOnLock(this, tries++)) break;
    }
    if (setAsideIfDamaged(rc)) return std::nullopt;
    if (rc == SQLITE_ROW && sqlite3_column_type(m_select, 0) != SQLITE_NULL) {
        const void* text = sqlite3_column_blob(m_select, 0);
        int bytes = sqlite3_column_bytes(m_select, 0);
        value.emplace(text ? static_cast<const char*>(text) : "", static_cast<size_t>(bytes));
    }
    sqlite3_reset(m_select);
    sqlite3_clear_bindings(m_select);
    return value;
}

void DKDatabase::store(std::string_view key, std::optional<std::string_view> value) {
    auto pending = m_pending.find(key);
    if (pending == m_pending.end()) pending = m_pending.emplace(std::string(key), std::nullopt).first;
    pending->second = value;
    writePending();
}

// Everything pending goes in one transaction, so no other connection writes a key between its
// look-up and its write. What is not committed stays pending for the next try. A file found
// damaged on the way has gone aside: a new one is tried at once.
void DKDatabase::writePending() {
    if (writePendingOnce()) writePendingOnce();
}

bool DKDatabase::writePendingOnce() {
    if (m_pending.empty()) return false;
    // The game may have taken that load's nil for a key never stored and stored its default
    // since: nothing it stores now may go over the real value.
    if (m_quitEndedLoad) {
        m_failure = "a quit ended a load's wait on another process's lock, so nothing more is written";
        return false;
    }
    const LockRule rule(*this, kStoring);
    // An open that met damage has moved the file aside.
    const bool existed = !m_connection && access(m_filePath.c_str(), F_OK) == 0;
    if (!open()) return existed && access(m_filePath.c_str(), F_OK) != 0;
    if (sqlite3_exec(m_connection, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) != SQLITE_OK) {
        noteFailure("cannot be written");
        return false;
    }
    std::vector<decltype(m_pending)::iterator> written;
    for (auto entry = m_pending.begin(); entry != m_pending.end(); ++entry) {
        bindText(m_select, 1, entry->first);
        const int found = stepOnce(m_select);
        int wrote = found;
        if (found == SQLITE_ROW || found == SQLITE_DONE) {
            sqlite3_stmt* write = found == SQLITE_ROW ? m_update : m_insert;
            bindText(write, 1, entry->first);
            bindText(write, 2, entry->second);
            wrote = stepOnce(write);
        }
        if (wrote == SQLITE_DONE) {
            written.push_back(entry);
            continue;
        }
        if (isDamage(wrote)) {
            sqlite3_exec(m_connection, "ROLLBACK", nullptr, nullptr, nullptr);
            return setAsideIfDamaged(wrote);
        }
        noteFailure("cannot be written");
        if (sqlite3_get_autocommit(m_connection))
            return false;  // SQLite gave the transaction up (a full disk, say): everything stays pending
    }
    if (const int committed = sqlite3_exec(m_connection, "COMMIT", nullptr, nullptr, nullptr);
        committed != SQLITE_OK) {
        noteFailure("cannot be written");
        sqlite3_exec(m_connection, "ROLLBACK", nullptr, nullptr, nullptr);
        return setAsideIfDamaged(committed);
    }
    for (auto entry : written) m_pending.erase(entry);
    return false;
}
