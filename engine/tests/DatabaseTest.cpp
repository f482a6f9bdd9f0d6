#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "engine/DKEngine.h"
#include "engine/tests/TestSupport.h"

using dktest::eval;

namespace {

class Store : public testing::Test {
protected:
    void SetUp() override {
        script = dir.file("engine.lua");
        dktest::writeFile(script, "function initEngine() end function shutdownEngine() end");
        savePath = dir.path() + "/";
    }
    void TearDown() override { close(); }
    DK_State* open(const std::string& save) {
        close();
        state = DK_NewState(1);
        DK_Init(state, script.c_str(), save.c_str());
        return state;
    }
    DK_State* open() { return open(savePath); }
    void close() {
        if (state) DK_DestroyState(state);
        state = nullptr;
    }
    std::string run(const std::string& chunk) { return eval(state, chunk); }

    dktest::TempDir dir;
    std::string script;
    std::string savePath;
    DK_State* state = nullptr;
};

TEST_F(Store, LoadBeforeAnyStoreIsNilAndCreatesNoFile) {
    open();
    EXPECT_EQ(run("return database.loadValueForKey('score')"), "nil");
    close();
    EXPECT_FALSE(dktest::exists(dir.file("persistent.save")));
}

TEST_F(Store, ValuesSurviveAcrossEngineStates) {
    open();
    run("database.storeValueForKey('1200', 'high score')");
    run("database.storeValueForKey(\"it's mine\", \"player's name\")");
    close();
    EXPECT_TRUE(dktest::exists(dir.file("persistent.save")));
    open();
    EXPECT_EQ(run("return database.loadValueForKey('high score')"), "1200");
    EXPECT_EQ(run("return database.loadValueForKey(\"player's name\")"), "it's mine");
}

TEST_F(Store, ReplacingKeepsOneRowPerKey) {
    open();
    run("database.storeValueForKey('a', 'k') database.storeValueForKey('b', 'k')");
    EXPECT_EQ(run("return database.loadValueForKey('k')"), "b");
    close();
    std::string rows = dir.file("rows.txt");
    std::string cmd =
        "sqlite3 '" + dir.file("persistent.save") + "' 'select count(*) from savedValues' > '" + rows + "'";
    ASSERT_EQ(std::system(cmd.c_str()), 0);
    EXPECT_EQ(dktest::readFile(rows), "1\n");
}

TEST_F(Store, ValueConversions) {
    open();
    run("database.storeValueForKey(42.5, 'n') database.storeValueForKey('x', 'gone')");
    run("database.storeValueForKey(nil, 'gone') database.storeValueForKey({}, 't')");
    EXPECT_EQ(run("return database.loadValueForKey('n')"), "42.5");
    EXPECT_EQ(run("return type(database.loadValueForKey('n'))"), "string");
    EXPECT_EQ(run("return database.loadValueForKey('gone')"), "nil");
    EXPECT_EQ(run("return database.loadValueForKey('t')"), "nil");
    run("database.storeValueForKey('by number', 7)");
    EXPECT_EQ(run("return database.loadValueForKey('7')"), "by number");
}

TEST_F(Store, TextIsKeptWholeIncludingNulAndUnicode) {
    open();
    run("database.storeValueForKey('a\\0b\\0c', 'k\\0ey') database.storeValueForKey('Привет °', 'ключ')");
    run("database.storeValueForKey(string.rep('x', 100000), 'long')");
    close();
    open();
    EXPECT_EQ(run("return #database.loadValueForKey('k\\0ey')"), "5");
    EXPECT_EQ(run("return database.loadValueForKey('k\\0ey') == 'a\\0b\\0c'"), "true");
    EXPECT_EQ(run("return database.loadValueForKey('k')"), "nil") << "keys are not cut at NUL either";
    EXPECT_EQ(run("return database.loadValueForKey('ключ')"), "Привет °");
    EXPECT_EQ(run("return #database.loadValueForKey('long')"), "100000");
}

TEST_F(Store, KeysThatAreNotTextStoreNothing) {
    open();
    run("database.storeValueForKey('v', nil) database.storeValueForKey('v', true) "
        "database.storeValueForKey('v', {})");
    EXPECT_EQ(run("return database.loadValueForKey(nil)"), "nil");
    EXPECT_EQ(run("return database.loadValueForKey(true)"), "nil");
    close();
    EXPECT_FALSE(dktest::exists(dir.file("persistent.save")));
}

TEST_F(Store, ReadsAFileMadeByTheSqliteTool) {
    std::string file = dir.file("persistent.save");
    std::string cmd = "sqlite3 '" + file +
                      "' \"CREATE TABLE savedValues (key char(32) primary key, value char(32));"
                      " INSERT INTO savedValues VALUES ('level', '12');"
                      " INSERT INTO savedValues VALUES ('quote''s', 'it''s');"
                      " INSERT INTO savedValues VALUES ('empty', NULL);\"";
    ASSERT_EQ(std::system(cmd.c_str()), 0);
    open();
    EXPECT_EQ(run("return database.loadValueForKey('level')"), "12");
    EXPECT_EQ(run("return database.loadValueForKey(\"quote's\")"), "it's");
    EXPECT_EQ(run("return database.loadValueForKey('empty')"), "nil");
    run("database.storeValueForKey('13', 'level')");
    close();
    std::string out = dir.file("out.txt");
    cmd = "sqlite3 '" + file + "' \"select value from savedValues where key='level'\" > '" + out + "'";
    ASSERT_EQ(std::system(cmd.c_str()), 0);
    EXPECT_EQ(dktest::readFile(out), "13\n");
}

TEST_F(Store, TablesDirectoryIsTheSavePathAsGiven) {
    open();
    EXPECT_EQ(run("return database.getTablesDirectoryPath()"), savePath);
}

TEST_F(Store, SavePathWithoutSlashNamesAFileBesideIt) {
    open(dir.path() + "/game");
    run("database.storeValueForKey('1', 'k')");
    close();
    EXPECT_TRUE(dktest::exists(dir.file("gamepersistent.save")));
}

// Save paths are never cut to a fixed buffer. SQLite's own file layer stops at 512 bytes: beyond
// that the store fails quietly, like any store that cannot be opened.
TEST_F(Store, LongSavePaths) {
    auto makeDeep = [&](int levels) {
        std::string deep = dir.path();
        for (int i = 0; i < levels; ++i) deep += "/" + std::string(90, static_cast<char>('a' + i));
        std::string cmd = "mkdir -p '" + deep + "'";
        EXPECT_EQ(std::system(cmd.c_str()), 0);
        return deep + "/";
    };
    std::string deep = makeDeep(4);
    ASSERT_GT(deep.size(), 300u);
    open(deep);
    run("database.storeValueForKey('deep', 'where')");
    EXPECT_EQ(run("return database.loadValueForKey('where')"), "deep");

    std::string deeper = makeDeep(12);
    ASSERT_GT(deeper.size(), 1024u);
    open(deeper);
    EXPECT_EQ(run("return database.getTablesDirectoryPath()"), deeper);
    EXPECT_EQ(run("database.storeValueForKey('v', 'k') return database.loadValueForKey('k')"), "nil");
}

TEST_F(Store, UnwritableLocationFailsQuietly) {
    open("/proc/no-such-dir/");
    EXPECT_EQ(run("database.storeValueForKey('v', 'k') return database.loadValueForKey('k')"), "nil");
}

}  // namespace
