// The persistent store ("database") as scripts see it, and its file as the sqlite3 tool sees it.
#include <filesystem>
#include <string>

#include "engine/tests/EngineTestSupport.h"

namespace dktest {
namespace {

class Store : public EngineTest {
protected:
    std::string sqlite(const std::string& sql) { return runProcess({"/usr/bin/sqlite3", m_file, sql}).out; }

    std::string m_file = dir.file("persistent.save");
};

TEST_F(Store, ValuesComeBackWholeInTheNextEngineState) {
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
    const char* schemas[] = {"CREATE TABLE savedValues (key char(32) primary key, value char(32))",
                             "CREATE TABLE savedValues(key, value)",
                             "CREATE TABLE savedValues(key text, value text)"};
    for (const char* schema : schemas) {
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

// Save paths are never cut to a fixed buffer: four levels (some 380 bytes) work. SQLite's own
// file layer stops at 512 bytes: at twelve levels (over 1 KB) the store fails quietly.
TEST_F(Store, LongSavePaths) {
    std::string deep = dir.path();
    for (int i = 0; i < 12; ++i) {
        deep += "/" + std::string(90, static_cast<char>('a' + i));
        std::filesystem::create_directories(deep);
        if (i == 3 || i == 11) {
            open(deep + "/");
            EXPECT_EQ(run("return database.getTablesDirectoryPath()"), deep + "/");
            EXPECT_EQ(run("database.storeValueForKey('v', 'k') return database.loadValueForKey('k')"),
                      i == 3 ? "v" : "nil");
        }
    }
}

}  // namespace
}  // namespace dktest
