// CSV export and import: exact texts, round trips, line ends, UTF-8 and damaged input.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tables/DKTable.h"
#include "tests/support/TestSupport.h"

using namespace dk::tables;
using Lines = std::vector<std::string>;

namespace {

// Every row as its cells joined by "|".
Lines grid(const DKTable& t) {
    Lines rows;
    for (int r = 0; r < t.numberOfRows(); ++r) {
        std::string row;
        for (int k = 0; k < t.numberOfColumns(); ++k) row += (k ? "|" : "") + std::string(t.cellValue(r, k));
        rows.push_back(row);
    }
    return rows;
}

struct TableCsv : ::testing::Test {
    dktest::TempDir dir;
    std::string csv = dir.file("t.csv");
};

}  // namespace

TEST_F(TableCsv, ExportEscapesAndQuotesCellsAndImportGivesThemBack) {
    // Escapes decode once (an escape's result is never read again), and UTF-8 bytes such as the
    // B0 of the degree sign or the B1 of "б" are never taken for structure.
    const Lines cells = {"a",     "b,c",        "x<y", "a\\nb", "\\", "&lt;", "say \"hi\"\r\n\t",
                         "20 °C", "Привет, мир"};
    DKTable t;
    t.setNumberOfColumns(static_cast<int>(cells.size()) + 2);
    t.setNumberOfRows(2);
    t.setColumnType(static_cast<int>(cells.size()), Integer);
    for (size_t k = 0; k < cells.size(); ++k) t.setCellValue(0, static_cast<int>(k), cells[k]);
    t.setCellValue(1, 0, " ");
    ASSERT_TRUE(t.exportCSV(csv));
    EXPECT_EQ(dktest::readFile(csv),
              "\"a\",\"b\\,c\",\"x&lt;y\",\"a\\\\nb\",\"\\\\\",\"&amp;lt;\",\"say &quot;hi&quot;\\r\\n\\t\","
              "\"20 °C\",\"Привет\\, мир\",0,\n,,,,,,,,,0,\n");
    DKTable back;
    ASSERT_TRUE(back.loadCSV(csv));
    // The trailing empty Text column leaves no field, so it is not recreated.
    ASSERT_EQ(back.numberOfColumns(), static_cast<int>(cells.size()) + 1);
    for (size_t k = 0; k < cells.size(); ++k) EXPECT_EQ(back.cellValue(0, static_cast<int>(k)), cells[k]);
    EXPECT_STREQ(back.cellValue(0, static_cast<int>(cells.size())), "0");
}

TEST_F(TableCsv, ImportReadsRecordsFieldsAndQuotedSpans) {
    DKTable t;
    for (const char* text : {"a,b\r\nc", "a,b\nc\n", "a,b\rc\r"}) {
        t.importCSV(text);
        EXPECT_EQ(grid(t), (Lines{"a|b", "c|"})) << text;
        EXPECT_EQ(t.columnAtIndex(1)->findCell(1), nullptr);
    }
    // Blank lines are rows without cells; a record ending with a comma has no empty last field.
    t.importCSV("a\n\nb,,d,\n\r\n°,б\n");
    EXPECT_EQ(grid(t), (Lines{"a||", "||", "b||d", "||", "°|б|"}));
    t.importCSV("\"a,b\",\"1\n2\",\"x\r\ny\"\n\"\",plain \"q,q\" end,\"ab\"cd");
    EXPECT_EQ(grid(t), (Lines{"a,b|1\r2|x\ry", "|plain \"q,q\" end|ab\"c"}));
    EXPECT_EQ(DKTable::validateCSV("a,\"b,\r\nc\"\n\nd"),
              "a\xB0\"b,\rc\"\xB0\xB1\xB1"
              "d\xB0\xB1");
}

TEST_F(TableCsv, ImportReplacesTheWholeTable) {
    DKTable t;
    t.setNumberOfColumns(3);
    t.setNumberOfRows(4);
    t.setColumnType(0, Integer);
    t.setColumnTitle(0, "Price");
    t.setColumnReadOnly(0, true);
    t.setRowTitle(2, "row");
    t.importCSV("1,2");
    EXPECT_EQ(grid(t), (Lines{"1|2"}));
    EXPECT_EQ(t.columnType(0), Undefined);
    EXPECT_STREQ(t.columnTitle(0), "");
    EXPECT_FALSE(t.columnReadOnly(0));
    EXPECT_EQ(t.findRowNumberByName("row"), -1);
    t.importCSV("");
    EXPECT_EQ(grid(t), (Lines{""}));
}

TEST_F(TableCsv, DamagedInputAndUnusableFiles) {
    DKTable t;
    // An unpaired quote runs to the end (its field then loses its last character as usual).
    t.importCSV("a,\"b,c\nd,e\n");
    EXPECT_EQ(grid(t), (Lines{"a|b,c\rd,e"}));
    t.importCSV("\\,&bogus;,&amp,\"");
    EXPECT_EQ(grid(t), (Lines{"\\|&bogus;|&amp|"}));

    EXPECT_FALSE(t.loadCSV(dir.file("missing.csv")));
    EXPECT_FALSE(t.loadCSV(dir.path()));
    EXPECT_EQ(grid(t), (Lines{"\\|&bogus;|&amp|"}));
    EXPECT_FALSE(t.exportCSV(dir.file("no/such/t.csv")));
    dktest::writeFile(csv, std::string("x,y\n\0z,w\n", 9));
    EXPECT_FALSE(t.exportCSV(dir.path()));  // a directory is never replaced
    ASSERT_TRUE(t.loadCSV(csv));            // read up to the first zero byte
    EXPECT_EQ(grid(t), (Lines{"x|y"}));
}
