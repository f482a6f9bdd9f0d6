// CSV export and import: the exact text, round trip with UTF-8, record and field splitting,
// damaged input and unusable files.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tables/DKTable.h"
#include "tests/support/TestSupport.h"

using namespace dk::tables;

using Lines = std::vector<std::string>;

namespace dktest {
namespace {

// Every row as its cells joined by "|".
Lines grid(const DKTable& t) {
    Lines rows;
    for (int r = 0; r < t.numberOfRows(); ++r) {
        std::string row;
        for (int k = 0; k < t.numberOfColumns(); ++k) {
            if (k) row += '|';
            row += t.cellValue(r, k);
        }
        rows.push_back(row);
    }
    return rows;
}

TEST(TableCsv, ExportEscapesAndQuotesCellsAndImportGivesThemBack) {
    // Escapes decode once (an escape's result is never read again), and UTF-8 bytes such as the
    // B0 of the degree sign or the B1 of "б" are never taken for structure.
    const Lines cells = {"a",     "b,c",        "x<y", "a\\nb", "\\", "&lt;", "say \"hi\"\r\n\t",
                         "20 °C", "Привет, мир"};
    const int n = static_cast<int>(cells.size());
    DKTable t;
    t.setNumberOfColumns(n + 2);
    t.setNumberOfRows(2);
    t.setColumnType(n, Integer);
    for (int k = 0; k < n; ++k) t.setCellValue(0, k, cells[k]);
    t.setCellValue(1, 0, " ");
    TempDir dir;
    ASSERT_TRUE(t.exportCSV(dir.file("t.csv")));
    EXPECT_EQ(readFile(dir.file("t.csv")), readFile(DK_TEST_DATA_DIR "/cells.csv"));
    DKTable back;
    ASSERT_TRUE(back.loadCSV(dir.file("t.csv")));
    ASSERT_EQ(back.numberOfColumns(), n + 1);  // the trailing empty Text column leaves no field
    for (int k = 0; k < n; ++k) EXPECT_EQ(back.cellValue(0, k), cells[k]);
}

TEST(TableCsv, ImportSplitsRecordsFieldsAndQuotedSpans) {
    const std::vector<std::pair<std::string, Lines>> cases = {
        {"a,b\r\nc", {"a|b", "c|"}},
        {"a,b\nc\n", {"a|b", "c|"}},
        {"a,b\rc\r", {"a|b", "c|"}},
        // Blank lines are rows without cells; a record ending with a comma has no empty last field.
        {"a\n\nb,,d,\n\r\n°,б\n", {"a||", "||", "b||d", "||", "°|б|"}},
        {"\"a,b\",\"1\n2\",\"x\r\ny\"\n\"\",plain \"q,q\" end,\"ab\"cd",
         {"a,b|1\r2|x\ry", "|plain \"q,q\" end|ab\"c"}},
        // An unpaired quote runs to the end (its field then loses its last character as usual).
        {"a,\"b,c\nd,e\n", {"a|b,c\rd,e"}},
        {"\\,&bogus;,&amp,\"", {"\\|&bogus;|&amp|"}},
        {"", {""}},
    };
    for (const auto& [text, expected] : cases) {
        DKTable t;
        t.setNumberOfColumns(3);
        t.setNumberOfRows(4);
        t.setColumnType(0, Integer);
        t.setColumnTitle(0, "Price");
        t.setColumnReadOnly(0, true);
        t.setRowTitle(2, "row");
        t.importCSV(text);
        EXPECT_EQ(grid(t), expected) << text;
        // The whole table is replaced: no type, title, flag or row title survives.
        EXPECT_EQ(std::to_string(t.columnType(0)) + t.columnTitle(0) + std::to_string(t.columnReadOnly(0)) +
                      std::to_string(t.findRowNumberByName("row")),
                  "00-1");
    }
    EXPECT_EQ(DKTable::validateCSV("a,\"b,\r\nc\"\n\nd"),
              "a\xB0\"b,\rc\"\xB0\xB1\xB1"
              "d\xB0\xB1");
}

TEST(TableCsv, UnusableFilesChangeNothing) {
    TempDir dir;
    DKTable t;
    t.importCSV("keep");
    EXPECT_FALSE(t.loadCSV(dir.file("missing.csv")));
    EXPECT_FALSE(t.loadCSV(dir.path()));
    EXPECT_EQ(grid(t), (Lines{"keep"}));
    EXPECT_FALSE(t.exportCSV(dir.file("no/such/t.csv")));
    EXPECT_FALSE(t.exportCSV(dir.path()));  // a directory is never replaced
    writeFile(dir.file("t.csv"), std::string("x,y\n\0z,w\n", 9));
    ASSERT_TRUE(t.loadCSV(dir.file("t.csv")));  // read up to the first zero byte
    EXPECT_EQ(grid(t), (Lines{"x|y"}));
}

}  // namespace
}  // namespace dktest
