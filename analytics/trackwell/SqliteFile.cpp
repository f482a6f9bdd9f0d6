#include "analytics/trackwell/SqliteFile.h"

#include <sqlite3.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "platform/sys/FileModes.h"

namespace dk::trackwell {

namespace {

constexpr useconds_t kPollMicroseconds = 1000;

double monotonicSeconds() {
    struct timespec now {};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<double>(now.tv_sec) + now.tv_nsec / 1e9;
}

sqlite3* open(const std::string& path) {
    sqlite3* db = nullptr;
    // SQLite makes a new file 0644 less the umask; its journals take the database's mode.
    plat::sys::createPrivateFile(path);
    if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) != SQLITE_OK) {
        sqlite3_close_v2(db);
        return nullptr;
    }
    sqlite3_busy_timeout(db, kBusyTimeoutMs);
    return db;
}

int probe(sqlite3* db, const char* sql) {
    sqlite3_stmt* stmt = nullptr;
    int rc = sqlite3_prepare_v2(db, sql, -1, &stmt, nullptr);
    if (rc == SQLITE_OK) rc = sqlite3_step(stmt);
    sqlite3_finalize(stmt);
    return rc & 0xff;
}

// Every page read once: damage past the first page shows now rather than at some later statement.
// Its rows say "ok" or what is wrong.
int quickCheck(sqlite3* db) {
    sqlite3_stmt* stmt = nullptr;
    int rc = sqlite3_prepare_v2(db, "PRAGMA quick_check", -1, &stmt, nullptr);
    if (rc == SQLITE_OK) {
        rc = sqlite3_step(stmt);
        if (rc == SQLITE_ROW) {
            const unsigned char* text = sqlite3_column_text(stmt, 0);
            rc = text && std::strcmp(reinterpret_cast<const char*>(text), "ok") == 0 ? SQLITE_OK : SQLITE_CORRUPT;
        }
    }
    sqlite3_finalize(stmt);
    return rc & 0xff;
}

}  // namespace

bool isDamage(int rc) {
    return (rc & 0xff) == SQLITE_CORRUPT || (rc & 0xff) == SQLITE_NOTADB;
}

FileIdentity fileIdentity(const std::string& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) return {};
    return {info.st_dev, info.st_ino};
}

std::string setAside(const std::string& path, const FileIdentity& opened) {
    if (fileIdentity(path) != opened) return {};
    const std::optional<std::string> aside = plat::foundation::moveAside(path, ".corrupt");
    if (!aside) return {};
    // The journal goes with the file: left behind it would count as the new file's.
    if (::rename((path + "-journal").c_str(), (*aside + "-journal").c_str()) != 0)
        ::unlink((*aside + "-journal").c_str());
    return *aside;
}

sqlite3* openDatabaseFile(const std::string& path, const char* probeSql,
                          const std::function<void(Replaced, const std::string& aside)>& onReplaced) {
    sqlite3* db = open(path);
    if (!db) {
        ::unlink(path.c_str());
        if (onReplaced) onReplaced(Replaced::Unopenable, {});
        if (!(db = open(path))) return nullptr;
    }
    const FileIdentity opened = fileIdentity(path);
    if (!isDamage(probe(db, probeSql)) && !isDamage(quickCheck(db))) return db;
    sqlite3_close_v2(db);
    const std::string aside = setAside(path, opened);
    if (onReplaced) onReplaced(Replaced::SetAside, aside);
    return open(path);
}

bool ExclusiveClaim::claim() {
    if (m_lock) return true;
    plat::foundation::FileLock lock(m_path, /*wait=*/false);
    if (!lock.held()) return false;
    m_lock.emplace(std::move(lock));
    return true;
}

TurnTaking::TurnTaking(std::string markPath) : m_markPath(std::move(markPath)) {}

TurnTaking::~TurnTaking() {
    if (m_fd >= 0) ::close(m_fd);
}

void TurnTaking::attach(sqlite3* db) {
    if (!db) return;
    if (m_fd < 0) m_fd = ::open(m_markPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    sqlite3_busy_handler(db, &TurnTaking::busy, this);
    sqlite3_commit_hook(db, &TurnTaking::committed, this);
    sqlite3_trace_v2(db, SQLITE_TRACE_PROFILE, &TurnTaking::finished, this);
}

// A shared lock on the mark file: any number may wait at once, and a writer's exclusive probe
// fails while one does. Never blocks: a probe holds its lock only for an instant.
void TurnTaking::mark() {
    if (!m_marked && m_fd >= 0 && ::flock(m_fd, LOCK_SH | LOCK_NB) == 0) m_marked = true;
}

void TurnTaking::unmark() {
    if (!m_marked) return;
    ::flock(m_fd, LOCK_UN);
    m_marked = false;
}

void TurnTaking::beforeWrite() {
    if (!m_yield || m_fd < 0) return;
    m_yield = false;
    const double start = monotonicSeconds();
    while (::flock(m_fd, LOCK_EX | LOCK_NB) != 0) {
        if (monotonicSeconds() - start >= kBusyTimeoutMs / 1000.0) return;
        ::usleep(kPollMicroseconds);
    }
    ::flock(m_fd, LOCK_UN);
}

int TurnTaking::busy(void* self, int count) {
    auto* turns = static_cast<TurnTaking*>(self);
    const double now = monotonicSeconds();
    if (count == 0) turns->m_waitStart = now;
    turns->mark();
    if (now - turns->m_waitStart >= kBusyTimeoutMs / 1000.0) {
        turns->unmark();
        return 0;
    }
    ::usleep(kPollMicroseconds);
    return 1;
}

// Runs while the commit still holds the lock; the holding back waits for the next write.
int TurnTaking::committed(void* self) {
    auto* turns = static_cast<TurnTaking*>(self);
    if (turns->m_fd < 0) return 0;
    turns->unmark();
    if (::flock(turns->m_fd, LOCK_EX | LOCK_NB) == 0)
        ::flock(turns->m_fd, LOCK_UN);
    else
        turns->m_yield = true;
    return 0;  // the commit goes ahead
}

// The statement that waited has had its lock (or given up): it no longer holds others back.
int TurnTaking::finished(unsigned, void* self, void*, void*) {
    static_cast<TurnTaking*>(self)->unmark();
    return 0;
}

}  // namespace dk::trackwell
