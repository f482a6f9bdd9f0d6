// The persistent store ("database") as scripts see it, and its file as the sqlite3 tool sees it.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "engine/DKEngine.h"
#include "tests/support/TestSupport.h"

namespace {

class Store : public testing::Test {
protected:
    void SetUp() override {
        dktest::writeFile(script, "function initEngine() end function shutdownEngine() end");
    }
    void TearDown() override { close(); }
    void open(const std::string& save) {
        close();
        state = DK_NewState(1);
        DK_Init(state, script.c_str(), save.c_str());
    }
    void open() { open(savePath); }
    void close() {
        if (state) DK_DestroyState(state);
        state = nullptr;
    }
    std::string run(const std::string& chunk) { return dktest::runLua(state->L, chunk); }
    std::string sqlite(const std::string& sql) {
        return dktest::runProcess({"/usr/bin/sqlite3", file, sql}).out;
    }

    dktest::TempDir dir;
    std::string script = dir.file("engine.lua");
    std::string savePath = dir.path() + "/";
    std::string file = dir.file("persistent.save");
    DK_State* state = nullptr;
};

TEST_F(Store, NothingStoredCreatesNoFile) {
    open();
    EXPECT_EQ(run("return database.loadValueForKey('score')"), "nil");
    // Keys that are not text store nothing.
    run("database.storeValueForKey('v', nil) database.storeValueForKey('v', true) "
        "database.storeValueForKey('v', {})");
    EXPECT_EQ(run("return database.loadValueForKey(nil)"), "nil");
    EXPECT_EQ(run("return database.loadValueForKey(true)"), "nil");
    close();
    EXPECT_FALSE(dktest::exists(file));
}

TEST_F(Store, ValuesSurviveAcrossEngineStatesWhole) {
    open();
    run("database.storeValueForKey(\"it's mine\", \"player's name\")");
    run("database.storeValueForKey('a\\0b\\0c', 'k\\0ey') database.storeValueForKey('Привет °', 'ключ')");
    run("database.storeValueForKey(string.rep('x', 100000), 'long')");
    close();
    open();
    EXPECT_EQ(run("return database.loadValueForKey(\"player's name\")"), "it's mine");
    EXPECT_EQ(run("return database.loadValueForKey('k\\0ey') == 'a\\0b\\0c'"), "true");
    EXPECT_EQ(run("return database.loadValueForKey('k')"), "nil") << "keys are not cut at NUL either";
    EXPECT_EQ(run("return database.loadValueForKey('ключ')"), "Привет °");
    EXPECT_EQ(run("return #database.loadValueForKey('long')"), "100000");
}

TEST_F(Store, ValueConversions) {
    open();
    run("database.storeValueForKey(42.5, 'n') database.storeValueForKey('x', 'gone')");
    run("database.storeValueForKey(nil, 'gone') database.storeValueForKey({}, 't')");
    EXPECT_EQ(run("local v = database.loadValueForKey('n') return v, type(v)"), "42.5,string");
    EXPECT_EQ(run("return database.loadValueForKey('gone')"), "nil");
    EXPECT_EQ(run("return database.loadValueForKey('t')"), "nil");
    run("database.storeValueForKey('by number', 7)");
    EXPECT_EQ(run("return database.loadValueForKey('7')"), "by number");
}

TEST_F(Store, FileIsSharedWithTheSqliteToolOneRowPerKey) {
    sqlite(
        "CREATE TABLE savedValues (key char(32) primary key, value char(32));"
        " INSERT INTO savedValues VALUES ('level', '12');"
        " INSERT INTO savedValues VALUES ('quote''s', 'it''s');"
        " INSERT INTO savedValues VALUES ('empty', NULL);");
    open();
    EXPECT_EQ(run("return database.loadValueForKey('level')"), "12");
    EXPECT_EQ(run("return database.loadValueForKey(\"quote's\")"), "it's");
    EXPECT_EQ(run("return database.loadValueForKey('empty')"), "nil");
    run("database.storeValueForKey('13', 'level') database.storeValueForKey('14', 'level')");
    close();
    EXPECT_EQ(sqlite("select count(*), value from savedValues where key='level'"), "1|14\n");
}

TEST_F(Store, SavePathIsUsedAsGiven) {
    open();
    EXPECT_EQ(run("return database.getTablesDirectoryPath()"), savePath);
    open(dir.path() + "/game");  // no slash: a file beside it
    run("database.storeValueForKey('1', 'k')");
    close();
    EXPECT_TRUE(dktest::exists(dir.file("gamepersistent.save")));
}

// Save paths are never cut to a fixed buffer. SQLite's own file layer stops at 512 bytes: beyond
// that the store fails quietly, like any store that cannot be opened.
TEST_F(Store, LongAndUnwritableSavePaths) {
    auto makeDeep = [&](int levels) {
        std::string deep = dir.path();
        for (int i = 0; i < levels; ++i) deep += "/" + std::string(90, static_cast<char>('a' + i));
        std::filesystem::create_directories(deep);
        return deep + "/";
    };
    std::string deep = makeDeep(4);
    ASSERT_GT(deep.size(), 300u);
    open(deep);
    run("database.storeValueForKey('deep', 'where')");
    EXPECT_EQ(run("return database.loadValueForKey('where')"), "deep");

    std::string deeper = makeDeep(12);
    ASSERT_GT(deeper.size(), 1024u);
    for (const std::string& save : {deeper, std::string("/proc/no-such-dir/")}) {
        open(save);
        EXPECT_EQ(run("return database.getTablesDirectoryPath()"), save);
        EXPECT_EQ(run("database.storeValueForKey('v', 'k') return database.loadValueForKey('k')"), "nil");
    }
}

}  // namespace
