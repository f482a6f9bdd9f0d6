// The persistent store ("database") as scripts see it, and its file as the sqlite3 tool sees it.
#include <fcntl.h>
#include <sqlite3.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
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
// before or after stores too and loading one never stored: loads meanwhile see what was stored,
// and the file holds the latest value of every key, written by the stores after the lock went or,
// failing those, when the store is closed. The frames run back to back, so a lock outlasts many
// calls: once a store or a load has waited on it in vain, the calls of its kind after it do not
// wait (a writer's or a reader's lock stops no load, so loads do not wait on it at all).
TEST_F(Store, StoresMadeWhileAnotherConnectionHoldsTheFileAreKept) {
    const int kFrames = 150;
    struct Case {
        const char* lock;
        int from, to;  // frames; to == kFrames: released only when the game closes
        int waits;     // at most, by stores and loads together
    };
    const Case cases[] = {
        {"BEGIN EXCLUSIVE", 50, 80, 2},                          // neither reads nor writes
        {"BEGIN IMMEDIATE", 50, 80, 1},                          // another writer: reads go on
        {"BEGIN; SELECT count(*) FROM savedValues", 50, 80, 1},  // a reader: no write can commit
        {"BEGIN EXCLUSIVE", 120, kFrames, 2},
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
            seen += run("database.storeValueForKey(" + value + ", '" + key +
                        "') return database.loadValueForKey('" + key +
                        "'), database.loadValueForKey('none')") == value + ",nil";
        }
        EXPECT_EQ(seen, kFrames);
        EXPECT_LE(state->database->lockWaits(), c.waits);
        if (c.to < kFrames) {
            EXPECT_EQ(pairsInFile(), "75|75\n");
        }
        other.reset();
        close();
        EXPECT_EQ(pairsInFile(), "75|75\n");
    }
}

// A call that gets through ends the lock-out at once: a lock met right after it is waited on as
// a first one is (it may be another game's short store, which a wait outlasts). A store getting
// through frees loads too.
TEST_F(Store, ACallThatGetsThroughEndsTheLockOut) {
    const char* const store = "database.storeValueForKey('v', 'k')";
    const char* const load = "database.loadValueForKey('old')";
    const struct {
        const char *first, *through, *again;
    } cases[] = {{store, store, store}, {load, load, load}, {load, store, load}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.first) + "; " + c.through + "; " + c.again);
        std::filesystem::remove(m_file);
        sqlite(std::string(kTable) + "; INSERT INTO savedValues VALUES ('old', '0');");
        open(save);
        Connection other = holding(m_file, "BEGIN EXCLUSIVE");
        run(c.first);
        other.reset();
        run(c.through);
        other = holding(m_file, "BEGIN EXCLUSIVE");
        run(c.again);
        EXPECT_EQ(state->database->lockWaits(), 2);
    }
}

// Two games saving into one folder at the same moment each keep every key they stored; a key
// both store ends with the last value of one of them.
TEST_F(Store, TwoProcessesOnOneSaveFolderBothKeepTheirStores) {
    int start[2];
    ASSERT_EQ(pipe(start), 0);
    std::fflush(nullptr);
    pid_t children[2];
    for (int id = 0; id < 2; ++id) {
        if ((children[id] = fork()) != 0) continue;
        ::close(start[1]);
        open(save);
        char go;
        if (read(start[0], &go, 1) != 0) _exit(1);  // both start when the parent lets go
        const std::string p = std::to_string(id);
        for (int i = 0; i < 100; ++i) {  // a store a frame, as games do, frames kept short
            run("database.storeValueForKey(" + std::to_string(i) + ", 'p" + p + "_" + std::to_string(i) +
                "') database.storeValueForKey('" + p + ":" + std::to_string(i) + "', 'shared')");
            usleep(2000);
        }
        close();
        _exit(0);
    }
    ::close(start[0]);
    ::close(start[1]);
    for (pid_t child : children) {
        int status = -1;
        waitpid(child, &status, 0);
        EXPECT_EQ(status, 0);
    }
    EXPECT_EQ(
        sqlite("SELECT substr(key, 1, 2), count(*) FROM savedValues WHERE key = substr(key, 1, 3) || value "
               "GROUP BY 1; SELECT value IN ('0:99', '1:99') FROM savedValues WHERE key = 'shared'"),
        "p0|100\np1|100\n1\n");
}

// Save paths are never cut to a fixed buffer: four levels (some 380 bytes) work. SQLite's own
// file layer stops at 512 bytes: at twelve levels (over 1 KB) the store fails quietly, and what
// was stored lasts only as long as the engine state.
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
