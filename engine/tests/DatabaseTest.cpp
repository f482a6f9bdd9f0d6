// The persistent store ("database") as scripts see it, and its file as the sqlite3 tool sees it.
#include <fcntl.h>
#include <grp.h>
#include <pthread.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "engine/DKDatabase.h"
#include "engine/tests/EngineTestSupport.h"

namespace dktest {
namespace {

// Another connection to the store's file holding it as `lock` leaves it, as another game or
// tool would; closing the connection ends the lock.
struct Close {
    void operator()(sqlite3* db) const { sqlite3_close(db); }
};
using Connection = std::unique_ptr<sqlite3, Close>;
Connection holding(const std::string& file, const char* lock) {
    sqlite3* db = nullptr;
    sqlite3_open(file.c_str(), &db);
    EXPECT_EQ(sqlite3_exec(db, lock, nullptr, nullptr, nullptr), SQLITE_OK) << lock;
    return Connection(db);
}

// The table as the store makes it.
const char* const kTable = "CREATE TABLE savedValues (key char(32) primary key, value char(32))";

// Every descriptor of the process taken (under a lowered limit) until the object goes.
class NoFreeDescriptor {
public:
    NoFreeDescriptor() {
        getrlimit(RLIMIT_NOFILE, &m_limit);
        const rlimit low{64, m_limit.rlim_max};
        setrlimit(RLIMIT_NOFILE, &low);
        for (int fd; (fd = ::open("/dev/null", O_RDONLY)) >= 0;) m_taken.push_back(fd);
    }
    ~NoFreeDescriptor() {
        for (int fd : m_taken) ::close(fd);
        setrlimit(RLIMIT_NOFILE, &m_limit);
    }

private:
    rlimit m_limit{};
    std::vector<int> m_taken;
};

// A child process that runs `body` (its own connections to the store's file) until the parent
// lets it go. `body` calls `begun` once what it holds is in place; the constructor returns then.
class OtherProcess {
public:
    using Body = std::function<void(const std::function<void()>& begun, const std::atomic<bool>& stop)>;
    explicit OtherProcess(const Body& body) {
        int started[2];
        EXPECT_EQ(pipe(started), 0);
        EXPECT_EQ(pipe(m_release), 0);
        std::fflush(nullptr);
        m_pid = fork();
        if (m_pid == 0) {
            ::close(started[0]);
            ::close(m_release[1]);
            std::atomic<bool> stop{false};
            std::thread watcher([&] {
                char c;
                while (read(m_release[0], &c, 1) < 0 && errno == EINTR) {
                }
                stop = true;
            });
            body([&] { (void)!write(started[1], "!", 1); }, stop);
            watcher.join();
            _exit(0);
        }
        ::close(started[1]);
        ::close(m_release[0]);
        char c;
        EXPECT_EQ(read(started[0], &c, 1), 1);
        ::close(started[0]);
    }
    ~OtherProcess() { release(); }
    OtherProcess(const OtherProcess&) = delete;
    OtherProcess& operator=(const OtherProcess&) = delete;
    void release() {
        if (m_pid <= 0) return;
        ::close(m_release[1]);
        int status = -1;
        waitpid(m_pid, &status, 0);
        EXPECT_EQ(status, 0);
        m_pid = -1;
    }

private:
    pid_t m_pid = -1;
    int m_release[2] = {-1, -1};
};

class Store : public EngineTest {
protected:
    std::string sqlite(const std::string& sql) { return runProcess({"/usr/bin/sqlite3", m_file, sql}).out; }

    std::string m_file = dir.file("persistent.save");
};

TEST_F(Store, ValuesComeBackWholeInTheNextEngineState) {
    const dktest::ScopedUmask permissive(0);  // the file is the user's alone all the same
    open(save);  // keys that are not text store nothing: no file yet
    EXPECT_EQ(run("for _, key in ipairs({ true, {}, print }) do database.storeValueForKey('v', key) end "
                  "return database.loadValueForKey('score'), database.loadValueForKey(true)"),
              "nil,nil");
    close();
    EXPECT_FALSE(exists(m_file));
    open(save);
    run("database.storeValueForKey('a\\0b\\0c', 'k\\0ey') database.storeValueForKey('Привет °', 'ключ') "
        "database.storeValueForKey(42.5, 7) database.storeValueForKey('x', 'gone') "
        "database.storeValueForKey(nil, 'gone')");
    close();
    EXPECT_EQ(dktest::unexpectedModes(m_file, 0600, 0700), std::vector<std::string>{});
    open(save);
    EXPECT_EQ(
        run("local d = database return d.loadValueForKey('k\\0ey') == 'a\\0b\\0c', d.loadValueForKey('k'), "
            "d.loadValueForKey('ключ'), d.loadValueForKey('7'), type(d.loadValueForKey(7)), "
            "d.loadValueForKey('gone')"),
        "true,nil,Привет °,42.5,string,nil");
}

// A FIFO held SQLite's open for ever, and a device is no store: neither is opened, and the game
// goes on with what it stored this run; the file is named once when met, and the values lost at the end.
TEST_F(Store, AFileThatIsNoStoreIsNeverOpened) {
    std::filesystem::create_symlink("/dev/zero", dir.file("zero"));
    ASSERT_EQ(mkfifo(m_file.c_str(), 0600), 0);
    for (const std::string& file : {m_file, dir.file("zero")}) {
        testing::internal::CaptureStderr();
        {
            DKDatabase db(file, save);
            EXPECT_EQ(db.load("score"), std::nullopt);
            db.store("score", "12");
            EXPECT_EQ(db.load("score"), "12");
        }
        const std::string why = std::string("not a file (") + (file == m_file ? "a FIFO" : "a character device") + ")";
        EXPECT_EQ(testing::internal::GetCapturedStderr(), "DKDatabase: " + file + ": " + why + "\n" +
                                                              "DKDatabase: 1 value was not written to " + file + ": " + why + "\n");
    }
}

// The file is shared with the sqlite3 tool, one row per key. A savedValues table without a unique
// key (made by another tool, or an older version) is written all the same: a new key is added, a
// known one replaced in place.
TEST_F(Store, FilesOfTheSqliteToolWithOrWithoutAUniqueKeyStayWritable) {
    for (const char* schema :
         {kTable, "CREATE TABLE savedValues(key, value)", "CREATE TABLE savedValues(key text, value text)"}) {
        SCOPED_TRACE(schema);
        std::filesystem::remove(m_file);
        sqlite(std::string(schema) +
               "; INSERT INTO savedValues VALUES ('level', '12'), ('quote''s', 'it''s'), ('empty', NULL);");
        open(save);
        run("database.storeValueForKey('13', 'level') database.storeValueForKey('14', 'level') "
            "database.storeValueForKey('ann', 'name')");
        close();
        open(save);
        EXPECT_EQ(run("local d = database return d.loadValueForKey('level'), d.loadValueForKey('name'), "
                      "d.loadValueForKey(\"quote's\"), d.loadValueForKey('empty')"),
                  "14,ann,it's,nil");
        close();
        EXPECT_EQ(sqlite("select key, count(*), value from savedValues group by key order by key"),
                  "empty|1|\nlevel|1|14\nname|1|ann\nquote's|1|it's\n");
    }
}

// The file is out of reach at the first store and load (another connection holds it, or no
// descriptor is free) and back a moment later: what was stored meanwhile is neither lost nor
// hidden from loads, and loads and stores work from then on.
TEST_F(Store, AFirstOpenThatFailsIsTriedAgain) {
    // Nothing polymorphic runs while the descriptors are taken: the sanitizers' checks need some.
    Connection other;
    std::optional<NoFreeDescriptor> taken;
    const struct {
        const char* name;
        std::function<void()> hold, release;
    } obstacles[] = {
        {"an exclusive lock", [&] { other = holding(m_file, "BEGIN EXCLUSIVE"); }, [&] { other.reset(); }},
        {"no free descriptor", [&] { taken.emplace(); }, [&] { taken.reset(); }},
    };
    for (const auto& obstacle : obstacles) {
        SCOPED_TRACE(obstacle.name);
        std::filesystem::remove(m_file);
        sqlite(std::string(kTable) + "; INSERT INTO savedValues VALUES ('old', '0');");
        open(save);
        obstacle.hold();
        const std::string meanwhile =
            run("database.storeValueForKey(1, 'early') return database.loadValueForKey('early')");
        obstacle.release();
        EXPECT_EQ(meanwhile, "1");
        EXPECT_EQ(run("database.storeValueForKey(2, 'later') "
                      "return database.loadValueForKey('old'), database.loadValueForKey('early')"),
                  "0,1");
        close();
        EXPECT_EQ(sqlite("SELECT key, value FROM savedValues ORDER BY key"), "early|1\nlater|2\nold|0\n");
    }
}

// Another connection holds the file for some of 150 frames, each storing a key that the frame
// before or after stores too and loading one never stored (where the lock lets anyone read):
// loads meanwhile see what was stored, and the file holds the latest value of every key, written
// by the stores after the lock went or, failing those, when the store is closed. The frames run
// back to back, so a lock outlasts many calls: once a store has waited on it in vain, the stores
// after it do not wait. Loads never give up (a load during another process's write lock is
// tested below).
TEST_F(Store, StoresMadeWhileAnotherConnectionHoldsTheFileAreKept) {
    const int kFrames = 150;
    struct Case {
        const char* lock;
        int from, to;  // frames; to == kFrames: released only when the game closes
        bool reads;    // whether others may read meanwhile
    };
    const Case cases[] = {
        {"BEGIN EXCLUSIVE", 50, 80, false},                         // neither reads nor writes
        {"BEGIN IMMEDIATE", 50, 80, true},                          // another writer: reads go on
        {"BEGIN; SELECT count(*) FROM savedValues", 50, 80, true},  // a reader: no write can commit
        {"BEGIN EXCLUSIVE", 120, kFrames, false},
    };
    // pair<n> holds 2n+1, stored by the second of its two frames: 75|75 when every pair is there
    const auto pairsInFile = [&] {
        return sqlite("SELECT count(*), sum(key = 'pair' || (value / 2) AND value % 2 = 1) FROM savedValues");
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.lock + (" until frame " + std::to_string(c.to)));
        std::filesystem::remove(m_file);
        open(save);
        Connection other;
        int seen = 0;
        for (int frame = 0; frame < kFrames; ++frame) {
            if (frame == c.from) other = holding(m_file, c.lock);
            if (frame == c.to) other.reset();
            const std::string key = "pair" + std::to_string(frame / 2), value = std::to_string(frame);
            const bool unknown = c.reads || !other;
            seen += run("database.storeValueForKey(" + value + ", '" + key +
                        "') return database.loadValueForKey('" + key + "'), " +
                        (unknown ? "database.loadValueForKey('none')" : "nil")) == value + ",nil";
        }
        EXPECT_EQ(seen, kFrames);
        EXPECT_LE(state->database->lockWaits(), 1);
        if (c.to < kFrames) {
            EXPECT_EQ(pairsInFile(), "75|75\n");
        }
        other.reset();
        close();
        EXPECT_EQ(pairsInFile(), "75|75\n");
    }
}

// A store that gets through ends the lock-out at once: a lock met right after it is waited on as
// a first one is (it may be another game's short store, which a wait outlasts).
TEST_F(Store, AStoreThatGetsThroughEndsTheLockOut) {
    const char* const store = "database.storeValueForKey('v', 'k')";
    sqlite(std::string(kTable) + "; INSERT INTO savedValues VALUES ('old', '0');");
    open(save);
    Connection other = holding(m_file, "BEGIN EXCLUSIVE");
    run(store);
    other.reset();
    run(store);
    other = holding(m_file, "BEGIN EXCLUSIVE");
    run(store);
    EXPECT_EQ(state->database->lockWaits(), 2);
}

// Two games saving into one folder at the same moment each keep every key they stored; a key
// both store ends with the last value of one of them.
TEST_F(Store, TwoProcessesOnOneSaveFolderBothKeepTheirStores) {
    const std::vector<int> statuses = sideBySide(2, [&](int id, const std::function<void()>& go) {
        open(save);
        go();
        const std::string p = std::to_string(id);
        for (int i = 0; i < 100; ++i) {  // a store a frame, as games do, frames kept short
            run("database.storeValueForKey(" + std::to_string(i) + ", 'p" + p + "_" + std::to_string(i) +
                "') database.storeValueForKey('" + p + ":" + std::to_string(i) + "', 'shared')");
            usleep(2000);
        }
        close();
        return 0;
    });
    EXPECT_EQ(statuses, std::vector<int>({0, 0}));
    EXPECT_EQ(
        sqlite("SELECT substr(key, 1, 2), count(*) FROM savedValues WHERE key = substr(key, 1, 3) || value "
               "GROUP BY 1; SELECT value IN ('0:99', '1:99') FROM savedValues WHERE key = 'shared'"),
        "p0|100\np1|100\n1\n");
}

// Another process holds the file's write lock when a load comes (a tool, or another game
// committing): the load waits for the lock to go and answers the stored value. A nil would make
// a game store its default over the real value.
TEST_F(Store, ALoadDuringAnotherProcesssWriteLockWaitsForIt) {
    sqlite(std::string(kTable) + "; INSERT INTO savedValues VALUES ('best', '1200');");
    OtherProcess other([&](const std::function<void()>& begun, const std::atomic<bool>& stop) {
        Connection lock = holding(m_file, "BEGIN EXCLUSIVE");
        begun();
        while (!stop) usleep(1000);
    });
    open(save);
    std::string loaded;
    std::atomic<bool> done{false};
    std::thread loader([&] {
        loaded = run("return database.loadValueForKey('best')");
        done = true;
    });
    // Let go once the load has tried the lock more often than any frame's wait would, unless it
    // has given up (or after a minute, when the test fails anyway).
    dktest::waitUntil([&] { return done || state->database->lockTries() >= 100; }, 60);
    other.release();
    loader.join();
    EXPECT_EQ(loaded, "1200");
}

// Against another process storing as fast as it can, every load answers the stored value.
TEST_F(Store, LoadsAgainstAnUnpacedWriterNeverAnswerNil) {
    sqlite(std::string(kTable) + "; INSERT INTO savedValues VALUES ('best', '1200');");
    OtherProcess writer([&](const std::function<void()>& begun, const std::atomic<bool>& stop) {
        DKDatabase db(m_file, save);
        db.store("other", "0");
        begun();
        for (int i = 0; !stop; ++i) db.store("other", std::to_string(i));
    });
    open(save);
    int answered = 0;
    for (int i = 0; i < 300; ++i) answered += run("return database.loadValueForKey('best')") == "1200";
    writer.release();
    EXPECT_EQ(answered, 300);
}

// Runs `body` in a child process after `setUp` (77 when that fails): its exit status, and what it
// wrote on standard error.
ProcessResult inChild(const std::function<bool()>& setUp, const std::function<int()>& body) {
    int err[2];
    EXPECT_EQ(pipe(err), 0);
    std::fflush(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        ::close(err[0]);
        dup2(err[1], 2);
        if (!setUp()) _exit(77);
        _exit(body());
    }
    ::close(err[1]);
    ProcessResult result;
    char buffer[4096];
    for (ssize_t n; (n = read(err[0], buffer, sizeof buffer)) != 0;)
        if (n > 0) result.err.append(buffer, static_cast<size_t>(n));
        else if (errno != EINTR) break;
    ::close(err[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

// A child that cannot write `dir`'s files: as root, which writes whatever the modes say, the
// child takes the user "nobody" first.
ProcessResult asUserWhoCannotWrite(const std::function<int()>& body) {
    return inChild(
        [] {
            return geteuid() != 0 || (setgroups(0, nullptr) == 0 && setgid(65534) == 0 && setuid(65534) == 0);
        },
        body);
}

// A save file the user cannot write (its folder neither) still reads back: a nil for a stored best
// made the game show 0 and could store its default over it. A store there is kept in memory and,
// at the end, said in one line.
TEST_F(Store, AFileThatCannotBeWrittenIsReadAllTheSame) {
    sqlite(std::string(kTable) + "; INSERT INTO savedValues VALUES ('best', '7');");
    ASSERT_EQ(chmod(m_file.c_str(), 0444), 0);
    ASSERT_EQ(chmod(dir.path().c_str(), 0555), 0);
    const ProcessResult r = asUserWhoCannotWrite([&] {
        DKDatabase db(m_file, save);
        const std::optional<std::string> best = db.load("best");
        db.store("best", "8");
        const bool seen = db.load("best") == "8";
        return best == "7" && seen ? 0 : 1;
    });
    chmod(dir.path().c_str(), 0700);
    if (r.status == 77) GTEST_SKIP() << "cannot become another user";
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "DKDatabase: 1 value was not written to " + m_file + ": attempt to write a readonly database\n");
    EXPECT_EQ(sqlite("SELECT value FROM savedValues"), "7\n");
}

// The save folder cannot be made (Documents is a file, so that root meets it too): the stores
// are kept for the loads and, when the store goes, one line names the file, the error and how
// many values were not written.
TEST_F(Store, SavesThatCannotBeWrittenAreNamedInOneLine) {
    writeFile(dir.file("Documents"), "in the way");
    const std::string file = dir.file("Documents/persistent.save");
    testing::internal::CaptureStderr();
    {
        DKDatabase db(file, save);
        for (const char* key : {"best", "level", "sound", "best"}) db.store(key, "1");
        EXPECT_EQ(db.load("level"), "1");
    }
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "DKDatabase: 3 values were not written to " + file + ": unable to open database file (Not a directory)\n");
}

// A disk that fills at the first write (a file-size limit stands for it): the line names that
// failure, not what the statements after it met on a file left without its table.
TEST_F(Store, AFullDiskIsNamedByWhatFailedFirst) {
    const rlimit one{1, 1};
    const ProcessResult r =
        inChild([&] { return signal(SIGXFSZ, SIG_IGN) != SIG_ERR && setrlimit(RLIMIT_FSIZE, &one) == 0; },
                [&] { return DKDatabase(m_file, save).store("best", "7"), 0; });
    ASSERT_EQ(r.status, 0);
    EXPECT_EQ(r.err,
              "DKDatabase: 1 value was not written to " + m_file + ": disk I/O error (File too large)\n");
}

// A damaged file of each kind is moved aside at the first load, numbered after the copy an earlier
// one left, with one line naming the copy; the game saves again and the next start reads it back.
TEST_F(Store, ADamagedFileIsSetAsideAndSavedAnew) {
    std::mt19937 random(7);
    std::string noise(8192, '\0');
    for (char& c : noise) c = static_cast<char>(random());
    const std::string malformed = "database disk image is malformed", notADatabase = "file is not a database";
    const struct {
        const char* kind;
        size_t cutTo;  // 1: half
        std::string overwrite, why;
    } kinds[] = {{"cut to half", 1, "", malformed},
                 {"cut to 4096 bytes", 4096, "", malformed},
                 {"cut to 100 bytes", 100, "", malformed},
                 {"random bytes", 0, noise, notADatabase},
                 {"first 100 bytes zeroed", 0, std::string(100, '\0'), notADatabase}};
    writeFile(m_file + ".corrupt", "an earlier copy");
    int copy = 1;
    for (const auto& kind : kinds) {
        SCOPED_TRACE(kind.kind);
        std::filesystem::remove(m_file);
        sqlite(std::string(kTable) + "; INSERT INTO savedValues VALUES ('best', '7');");
        const std::string bytes = readFile(m_file);
        writeFile(m_file, kind.cutTo ? bytes.substr(0, kind.cutTo == 1 ? bytes.size() / 2 : kind.cutTo)
                                     : kind.overwrite + bytes.substr(kind.overwrite.size()));
        const std::string aside = m_file + ".corrupt." + std::to_string(++copy);
        testing::internal::CaptureStderr();
        EXPECT_EQ(DKDatabase(m_file, save).load("best"), std::nullopt);
        DKDatabase(m_file, save).store("best", "8");
        EXPECT_EQ(testing::internal::GetCapturedStderr(),
                  "DKDatabase: " + m_file + " is damaged (" + kind.why + "); moved to " + aside + "\n");
        EXPECT_TRUE(exists(aside));
        EXPECT_EQ(DKDatabase(m_file, save).load("best"), "8");
    }
}

// A store grown past a gibibyte (its end a hole here) is read and written at the next start.
TEST_F(Store, AStorePastAGibibyteIsReadAtTheNextStart) {
    sqlite(std::string(kTable) + "; INSERT INTO savedValues VALUES ('best', '7');");
    std::filesystem::resize_file(m_file, (size_t(1) << 30) + 4096);
    testing::internal::CaptureStderr();
    EXPECT_EQ(DKDatabase(m_file, save).load("best"), "7");
    DKDatabase(m_file, save).store("best", "9");
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(sqlite("SELECT value FROM savedValues"), "9\n");
}

// Another process holds the file's lock without end: the load's wait is said once, and a SIGTERM
// (blocked, as the player blocks it) ends it after that. Its nil may have made the game store its
// default: nothing more is written, even once the lock is gone.
TEST_F(Store, AQuitEndsALoadsWaitOnALockHeldElsewhere) {
    sqlite(std::string(kTable) + "; INSERT INTO savedValues VALUES ('best', '1200');");
    OtherProcess other([&](const std::function<void()>& begun, const std::atomic<bool>& stop) {
        Connection lock = holding(m_file, "BEGIN EXCLUSIVE");
        begun();
        while (!stop) usleep(1000);
    });
    testing::internal::CaptureStderr();
    std::optional<DKDatabase> db(std::in_place, m_file, save);
    std::optional<std::string> loaded = "unset";
    std::atomic<bool> done{false};
    std::thread loader([&] {
        sigset_t term;
        sigemptyset(&term);
        sigaddset(&term, SIGTERM);
        pthread_sigmask(SIG_BLOCK, &term, nullptr);
        loaded = db->load("best");
        done = true;
        const timespec now{};
        sigtimedwait(&term, nullptr, &now);  // the signal was this test's alone
    });
    dktest::waitUntil([&] { return done || db->lockTries() != 0; }, 60);
    pthread_kill(loader.native_handle(), SIGTERM);
    const bool endedByTheQuit = dktest::waitUntil([&] { return done.load(); }, 60);
    other.release();
    loader.join();
    EXPECT_TRUE(endedByTheQuit);
    EXPECT_EQ(loaded, std::nullopt);
    db->store("best", "0");
    db.reset();
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "DKDatabase: " + m_file + " is locked by another process; loads wait for it\n"
              "DKDatabase: 1 value was not written to " + m_file +
                  ": a quit ended a load's wait on another process's lock, so nothing more is written\n");
    EXPECT_EQ(sqlite("SELECT value FROM savedValues"), "1200\n");
}

// Save paths are never cut to a fixed buffer: four levels (some 380 bytes) work. SQLite's own
// file layer stops at 512 bytes: at twelve levels (over 1 KB) the store fails (said at the end),
// and what was stored lasts only as long as the engine state.
TEST_F(Store, LongSavePaths) {
    std::string deep = dir.path();
    for (int i = 0; i < 12; ++i) {
        deep += "/" + std::string(90, static_cast<char>('a' + i));
        std::filesystem::create_directories(deep);
        if (i == 3 || i == 11) {
            open(deep + "/");
            EXPECT_EQ(run("return database.getTablesDirectoryPath()"), deep + "/");
            EXPECT_EQ(run("database.storeValueForKey('v', 'k') return database.loadValueForKey('k')"), "v");
            open(deep + "/");
            EXPECT_EQ(run("return database.loadValueForKey('k')"), i == 3 ? "v" : "nil");
        }
    }
}

}  // namespace
}  // namespace dktest
