// The "tableHelper" module as engine scripts see it: through a real engine state.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "engine/DKEngine.h"
#include "tables/DKTable.h"

namespace fs = std::filesystem;
using dk::tables::DKTable;

namespace {

class TableHelper : public testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "dk-tablehelper-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        dir = pattern;
        std::ofstream(file("engine.lua")) << "T = tableHelper.Tables\n"
                                             "function initEngine() end function shutdownEngine() end\n";
        open();
    }
    void TearDown() override {
        close();
        fs::remove_all(dir);
    }
    void open() {
        state = DK_NewState(1);
        DK_Init(state, file("engine.lua").c_str(), (dir.string() + "/").c_str());
    }
    void close() {
        if (state) DK_DestroyState(state);
        state = nullptr;
    }
    std::string file(const std::string& name) const { return (dir / name).string(); }

    // Runs a chunk; its results joined by "," with tostring, or "error: ...".
    std::string run(const std::string& chunk) {
        lua_State* L = state->L;
        int top = lua_gettop(L);
        std::string result;
        if (luaL_loadstring(L, chunk.c_str()) || lua_pcall(L, 0, LUA_MULTRET, 0)) {
            result = std::string("error: ") + lua_tostring(L, -1);
        } else {
            for (int i = top + 1; i <= lua_gettop(L); ++i) {
                lua_getglobal(L, "tostring");
                lua_pushvalue(L, i);
                lua_call(L, 1, 1);
                result += (i > top + 1 ? "," : "") + std::string(lua_tostring(L, -1));
                lua_pop(L, 1);
            }
        }
        lua_settop(L, top);
        return result;
    }
    void setGlobal(const char* name, const std::string& value) {
        lua_pushlstring(state->L, value.data(), value.size());
        lua_setglobal(state->L, name);
    }

    fs::path dir;
    DK_State* state = nullptr;
};

TEST_F(TableHelper, ModuleShapeAndArgumentsFromTheTop) {
    EXPECT_EQ(run("local n = 0 for k, f in pairs(T) do n = n + (type(f) == 'function' and 1 or 0) end "
                  "local mt = getmetatable(T.new()) "
                  "return n, next(tableHelper, 'Tables') == nil, mt.__index == T"),
              "13,true,true");
    // Method calls and leading extra arguments both reach the same table.
    EXPECT_EQ(run("t = T.new() t:setValue(1, 1, 'x') T.addRow('ignored', 'also', t, -1) "
                  "return t:getValue(1, 1), T.getNumRows(nil, t), t:getNumCols(), T.getValue(t, '1', '1')"),
              "x,2,1,x");
    // Numbers become their text form.
    EXPECT_EQ(run("t:setValue(1, 1, 2.5) return type(t:getValue(1, 1)), t:getValue(1, 1)"), "string,2.5");
}

TEST_F(TableHelper, ValuesByNumberOrTitleConvertedByColumnType) {
    DKTable t;
    t.setNumberOfColumns(4);
    t.setNumberOfRows(3);
    t.setColumnTitle(0, "Price");
    t.setColumnType(0, dk::tables::Integer);
    t.setColumnTitle(1, "Weight");
    t.setColumnType(1, dk::tables::Real);
    t.setColumnTitle(2, "Open");
    t.setColumnType(2, dk::tables::Boolean);
    t.setColumnTitle(3, "Name");
    t.setRowTitle(1, "9");
    t.setRowTitle(2, "2010");
    for (auto [r, price, weight, open, name] : {std::tuple{0, "12abc", "2.5", "TRUE", "first"},
                                                {1, "x", "1e3", "False", "nine"},
                                                {2, "-7", "", "1", "year"}}) {
        t.setCellValue(r, 0, price);
        t.setCellValue(r, 1, weight);
        t.setCellValue(r, 2, open);
        t.setCellValue(r, 3, name);
    }
    ASSERT_TRUE(t.saveTable(file("typed.xml"), false));
    setGlobal("path", file("typed.xml"));
    run("t = T.new() t:loadFromFile(path)");
    EXPECT_EQ(run("return t:getValue(1, 'price'), t:getValue(1, 2), t:getValue(1, 'OPEN'), t:getValue(1, 4)"),
              "12,2.5,true,first");
    EXPECT_EQ(run("return t:getValue(2, 1), t:getValue(2, 2), t:getValue(2, 3), t:getValue(3, 3)"),
              "0,1000,false,false");
    // An out-of-range number is tried as a title.
    EXPECT_EQ(run("return t:getValue('9', 'name'), t:getValue(2010, 'Name'), t:getValue('3rd', 'name')"),
              "nine,year,year");
    EXPECT_EQ(run("return t:getValue(8, 1), t:getValue(1, 'missing'), t:getValue(0, 1), t:getValue('', '')"),
              ",,,");
    run("t:setValue('2010', 'price', '99') t:setValue(4, 1, 'nowhere') t:setValue(1, 5, 'nowhere')");
    EXPECT_EQ(run("return t:getValue(3, 1), t:getNumRows(), t:getNumCols()"), "99,3,4");
    EXPECT_EQ(run("return T.new():getValue('1', '1')"), "");
}

TEST_F(TableHelper, AddingAndRemovingRows) {
    // Row i holds "r<i>" as created; the result lists column 1 from the top.
    run("function rows(t) local s = {} for i = 1, t:getNumRows() do s[#s + 1] = t:getValue(i, 1) end "
        "return table.concat(s, ' ') end "
        "t = T.new() t:setValue(1, 1, 'a')");
    run("t:addRow(-1) t:setValue(2, 1, 'b') t:addRow('1') t:setValue(1, 1, 'top') t:addRow(4) "
        "t:setValue(4, 1, 'end')");
    EXPECT_EQ(run("return rows(t)"), "top a b end");
    run("t:addRow(6) t:addRow('0') t:addRow(-2) t:addRow('none')");  // out of range; no row titled 0
    EXPECT_EQ(run("return rows(t)"), "top a b end");
    run("t:removeRow(2) t:removeRow(-1) t:removeRow(3) t:removeRow(0) t:removeRow('x')");
    EXPECT_EQ(run("return rows(t)"), "top b");
    run("t:removeRow(-1) t:removeRow(-1) t:removeRow(-1) t:removeRow(1)");
    EXPECT_EQ(run("return t:getNumRows()"), "0");
    run("t:addRow(1)");
    EXPECT_EQ(run("return t:getNumRows()"), "1");

    // A titled row is found when the position reads as 0.
    DKTable titled;
    titled.setNumberOfRows(2);
    titled.setRowTitle(1, "boss");
    titled.setCellValue(1, 0, "B");
    ASSERT_TRUE(titled.saveTable(file("titled.xml"), false));
    setGlobal("path", file("titled.xml"));
    run("u = T.new() u:loadFromFile(path) u:addRow('BOSS') u:setValue(2, 1, 'before')");
    EXPECT_EQ(run("return rows(u)"), " before B");
    run("u:removeRow('boss')");
    EXPECT_EQ(run("return rows(u)"), " before");
}

TEST_F(TableHelper, CopyKeepsTheDestinationsNameAndCopiesContent) {
    DKTable named;
    named.setTableName("Destination");
    ASSERT_TRUE(named.saveTable(file("named.xml"), false));
    setGlobal("path", file("named.xml"));
    run("a = T.new() a:loadFromFile(path) b = T.new() b:setValue(1, 1, 'one') b:addRow(-1) "
        "b:setValue(2, 1, 'two') T.copyTable(a, b) b:setValue(1, 1, 'changed') a:copyTable(a) "
        "a:saveTableData('')");
    EXPECT_EQ(run("return a:getNumRows(), a:getValue(1, 1), a:getValue(2, 1), b:getValue(1, 1)"),
              "2,one,two,changed");
    DKTable saved;
    ASSERT_TRUE(saved.loadTable(file("named.xml")));
    EXPECT_STREQ(saved.tableName(), "Destination");
    EXPECT_STREQ(saved.cellValue(1, 0), "two");
}

TEST_F(TableHelper, TablesSurviveTheSaveDirectoryAcrossEngineStates) {
    run("s = T.new() s:setId('highScores') s:setValue(1, 1, 'Ünïcødé, \"quoted\" <&> \\\\ 20 °C') "
        "s:addRow(-1) s:setValue(2, 1, 'line1\\nline2') "
        "T.saveTableToDatabase(database.getTablesDirectoryPath(), s, 'scores')");
    ASSERT_TRUE(fs::exists(file("scores.xml")));
    close();
    open();
    EXPECT_EQ(run("local t = T.new() T.loadTableFromDatabase(database.getTablesDirectoryPath(), t, 'scores') "
                  "return t:getNumRows(), t:getValue(1, 1) == 'Ünïcødé, \"quoted\" <&> \\\\ 20 °C', "
                  "t:getValue(2, 1) == 'line1\\nline2'"),
              "2,true,true");
    // A failed load (missing or damaged file) leaves the content; a failed save leaves the file.
    std::ofstream(file("broken.xml")) << "<table";
    std::string before = [&] {
        std::ifstream in(file("scores.xml"));
        std::stringstream ss;
        ss << in.rdbuf();
        return ss.str();
    }();
    EXPECT_EQ(run("local d = database.getTablesDirectoryPath() local t = T.new() t:setValue(1, 1, 'kept') "
                  "T.loadTableFromDatabase(d, t, 'broken') T.loadTableFromDatabase(d, t, 'missing') "
                  "t:setValue(1, 1, 'bad \\1 byte') T.saveTableToDatabase(d, t, 'scores') "
                  "return t:getValue(1, 1)"),
              "bad \x01 byte");
    std::ifstream in(file("scores.xml"));
    std::stringstream after;
    after << in.rdbuf();
    EXPECT_EQ(after.str(), before);
}

TEST_F(TableHelper, WrongArgumentsAreIgnored) {
    EXPECT_EQ(
        run("t = T.new() t:setValue(1, 1, 'x') "
            "t:setValue(1, 1, true) t:setValue(1, 1, nil) t:setValue({}, 1, 'y') "
            "T.setValue({}, 1, 1, 'y') T.setValue() T.getValue() T.addRow(t) T.removeRow({}, 1) "
            "T.copyTable(t, 5) T.copyTable({}, t) T.setId(io.stdout, 'x') T.loadFromFile(t, {}) "
            "T.saveTableToDatabase(nil, t, 'x') T.loadTableFromDatabase(t, 'x') "
            "T.addRow(t, '99999999999999999999') T.removeRow(t, '-99999999999999999999') "
            "T.getValue(t, '-99999999999999999999', '99999999999999999999') "
            "return t:getValue(1, 1), t:getNumRows(), T.getNumRows('x'), T.getNumCols(), T.getValue(t)"),
        "x,1,0,0,");
    EXPECT_EQ(run("return pcall(T.getNumRows, newproxy(true))"), "true,0");
}

TEST_F(TableHelper, CollectedTablesAreFreedSafely) {
    // Under the sanitizers: no leak at exit, and a finalizer collected in the same cycle that
    // still holds a table reaches no freed memory.
    EXPECT_EQ(run("for i = 1, 200 do local t = T.new() t:setValue(1, 1, string.rep('x', 1000)) end "
                  "do local p = newproxy(true) local t = T.new() "
                  "getmetatable(p).__gc = function() late = T.getNumRows(t) end end "
                  "collectgarbage() collectgarbage() return late"),
              "0");
    run("kept = T.new()");  // freed when the state closes
}

}  // namespace
