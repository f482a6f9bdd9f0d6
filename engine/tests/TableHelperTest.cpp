// The "tableHelper" module as engine scripts see it: through a real engine state.
#include <climits>
#include <filesystem>
#include <string>

#include "engine/tests/EngineTestSupport.h"
#include "tables/DKTable.h"

namespace {

struct TableHelper : dktest::EngineTest {
    void SetUp() override {
        open(save);
        run("T = tableHelper.Tables function rows(t) local s = {} for i = 1, t:getNumRows() do "
            "s[i] = t:getValue(i, 1) end return table.concat(s, ' ') end");
    }
    // data/typed.xml as the file the scripts load as `path`: typed, titled columns and titled rows.
    void typedTable() {
        dktest::writeFile(dir.file("typed.xml"), dktest::readFile(DK_TEST_DATA_DIR "/typed.xml"));
        run("path = '" + dir.file("typed.xml") + "'");
    }
};

}  // namespace

TEST_F(TableHelper, ValuesByNumberOrTitleConvertedByColumnType) {
    typedTable();
    run("t = T.new() t:loadFromFile(path)");
    // Method calls and extra leading arguments reach the same function; numbers become texts.
    EXPECT_EQ(run("return t:getValue(1, 'price'), T.getValue('x', t, 1, 2), t:getValue('1', 'OPEN'), "
                  "t:getValue(2, 1), t:getValue(2, 2), t:getValue(2, 3), t:getValue(3, 3)"),
              "12,2.5,true,0,1000,false,false");
    // An out-of-range number is tried as a title.
    EXPECT_EQ(
        run("return t:getValue('9', 'name'), t:getValue('YEAR', 'Name'), t:getValue(8, 1), t:getValue(0, 1), "
            "t:getValue(1, 'missing')"),
        "b,c,,,");
    run("t:setValue('year', 'name', 2.5) t:setValue(4, 1, 'no') t:setValue(1, 5, 'no') t:setValue(1, 4, "
        "true)");
    EXPECT_EQ(run("return t:getValue(3, 4), type(t:getValue(3, 4)), rows(t), t:getNumCols()"),
              "2.5,string,12 0 -7,4");
    // copyTable copies everything but the name; an empty path saves where the table was loaded.
    run("u = T.new() u:setValue(1, 1, 'only') T.copyTable(t, u) u:setValue(1, 1, 'later') "
        "t:saveTableData('')");
    DKTable saved;
    ASSERT_TRUE(saved.loadTable(dir.file("typed.xml")));
    EXPECT_STREQ(saved.tableName(), "Typed");
    EXPECT_EQ(saved.numberOfRows(), 1);
    EXPECT_STREQ(saved.cellValue(0, 0), "only");
}

TEST_F(TableHelper, AddingAndRemovingRows) {
    typedTable();
    run("t = T.new() t:setValue(1, 1, 'a') t:addRow(-1) t:setValue(2, 1, 'b') t:addRow('1') t:setValue(1, 1, "
        "'top') "
        "t:addRow(4) t:setValue(4, 1, 'end') t:addRow(6) t:addRow('0') t:addRow(-2) t:addRow('none')");
    EXPECT_EQ(run("return rows(t)"), "top a b end");
    run("t:removeRow(2) t:removeRow(-1) t:removeRow(3) t:removeRow(0) t:removeRow('x')");
    EXPECT_EQ(run("return rows(t)"), "top b");
    run("for i = 1, 3 do t:removeRow(-1) end t:removeRow(1)");
    EXPECT_EQ(run("t:addRow(1) return t:getNumRows()"), "1");
    // A position that reads as 0 names a row by its title; an out-of-range number names none.
    run("u = T.new() u:loadFromFile(path) u:addRow('year') u:setValue(3, 1, 5) u:removeRow('9')");
    EXPECT_EQ(run("return rows(u)"), "12 0 5 -7");
}

TEST_F(TableHelper, TablesSurviveTheSaveDirectoryAcrossEngineStates) {
    const std::string text = "'Ünïcødé, \"q\" <&> \\\\ 20 °C\\nline 2'";
    run("local s = T.new() s:setValue(1, 1, " + text +
        ") T.saveTableToDatabase(database.getTablesDirectoryPath(), s, 'scores')");
    SetUp();  // a new engine state
    EXPECT_EQ(run("local t = T.new() T.loadTableFromDatabase(database.getTablesDirectoryPath(), t, 'scores') "
                  "return t:getValue(1, 1) == " +
                  text),
              "true");
}

TEST_F(TableHelper, WrongArgumentsAreIgnoredAndCollectedTablesFreed) {
    EXPECT_EQ(
        run("t = T.new() t:setValue(1, 1, 'x') t:setValue(1, 1, nil) T.setValue({}, 1, 1, 'y') T.setValue() "
            "T.getValue() T.addRow(t) T.removeRow({}, 1) T.copyTable(t, 5) T.copyTable({}, t) "
            "T.setId(io.stdout, 'x') T.loadFromFile(t, {}) T.saveTableToDatabase(nil, t, 'x') "
            "T.addRow(t, '99999999999999999999') T.removeRow(t, '-99999999999999999999') "
            "return t:getValue(1, 1), t:getNumRows(), T.getNumRows('x'), T.getNumCols(newproxy(true)), "
            "T.getValue(t, '-99999999999999999999', '99999999999999999999')"),
        "x,1,0,0,");
    // Under the sanitizers: no leak at exit, and a finalizer of the same cycle that still holds a
    // collected table reaches no freed memory.
    EXPECT_EQ(run("for i = 1, 100 do T.new():setValue(1, 1, string.rep('x', 1000)) end "
                  "do local p = newproxy(true) local t = T.new() "
                  "getmetatable(p).__gc = function() late = T.getNumRows(t) end end "
                  "collectgarbage() collectgarbage() kept = T.new() return late"),
              "0");
}

// A header's counts are bounded by what the file holds: a forged one loads bounded or not at all,
// with no exception reaching the script, and a save afterwards stays small. Rows stop at the limit.
TEST_F(TableHelper, ForgedCountsStayBoundedAndRowsStopAtTheIntLimit) {
    const char* const counts[][2] = {{"20000000", "1"},
                                     {"2147483647", "1"},
                                     {"1", "2147483647"},
                                     {"2147483647", "2147483647"},
                                     {"-5", "-9"}};
    for (const auto& c : counts) {
        const std::string xml = std::string("<table numRows=\"") + c[0] + "\" numCols=\"" + c[1] +
                                "\"><rows><row id=\"0\" name=\"r\"/></rows><columns><column>a,b</column>"
                                "</columns></table>";
        dktest::writeFile(dir.file("forged.xml"), xml);
        run("path, out = '" + dir.file("forged.xml") + "', '" + dir.file("out.xml") + "'");
        EXPECT_EQ(run("local t = T.new() t:loadFromFile(path) t:saveTableData(out) "
                      "return t:getNumRows() * t:getNumCols() <= " +
                      std::to_string(xml.size())),
                  "true")
            << c[0] << " x " << c[1];
        // Every row, column and cell of a table costs its saved file less than 100 bytes.
        EXPECT_LT(std::filesystem::file_size(dir.file("out.xml")), 100 * xml.size()) << c[0] << " x " << c[1];
    }
    run("t = T.new()");
    lua_getglobal(state->L, "t");
    (*static_cast<DKTable**>(lua_touserdata(state->L, -1)))->setNumberOfRows(INT_MAX);
    lua_pop(state->L, 1);
    EXPECT_EQ(run("t:addRow(-1) t:addRow(1) return t:getNumRows()"), std::to_string(INT_MAX));
}

// A save that writes nothing says so in one line naming the file and why, and for text no XML
// parser reads, the cell holding it; the file there before is left as it was.
TEST_F(TableHelper, ASaveThatFailsIsNamedWithItsReason) {
    const std::string file = dir.file("best.xml");
    const std::pair<const char*, std::string> cases[] = {
        {"'12'", "Is a directory"},
        {"'1\\1'", "row 2, column 1 holds a control byte (0x01)"},
        {"'\\255'", "row 2, column 1 holds a byte that is not UTF-8 (0xFF)"},
        {"'1\\0'", "row 2, column 1 holds a NUL"},
    };
    for (const auto& [cell, why] : cases) {
        SCOPED_TRACE(why);
        std::filesystem::remove_all(file);
        if (why == "Is a directory")
            std::filesystem::create_directory(file);
        else
            dktest::writeFile(file, "kept");
        testing::internal::CaptureStderr();
        run(std::string("t = T.new() t:addRow(-1) t:setValue(2, 1, ") + cell +
            ") T.saveTableToDatabase(database.getTablesDirectoryPath(), t, 'best')");
        EXPECT_EQ(testing::internal::GetCapturedStderr(),
                  "DKTable: the table was not written to " + file + ": " + why + "\n");
        EXPECT_EQ(std::filesystem::is_directory(file) ? "kept" : dktest::readFile(file), "kept");
    }
}
