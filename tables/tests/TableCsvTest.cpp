// CSV export and import: exact texts, round trips, line ends, UTF-8 and damaged input.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "tables/DKTable.h"

using namespace dk::tables;
namespace fs = std::filesystem;

namespace {

class TableCsv : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "dkcsv-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        dir = pattern;
    }
    void TearDown() override { fs::remove_all(dir); }

    std::string path(const std::string& name) const { return (dir / name).string(); }
    static std::string read(const std::string& p) {
        std::ifstream in(p, std::ios::binary);
        std::stringstream ss;
        ss << in.rdbuf();
        return ss.str();
    }
    static void write(const std::string& p, const std::string& text) {
        std::ofstream(p, std::ios::binary) << text;
    }
    // Every row as its cells joined by "|".
    static std::vector<std::string> grid(const DKTable& t) {
        std::vector<std::string> rows;
        for (int r = 0; r < t.numberOfRows(); ++r) {
            std::string row;
            for (int k = 0; k < t.numberOfColumns(); ++k)
                row += (k ? "|" : "") + std::string(t.cellValue(r, k));
            rows.push_back(row);
        }
        return rows;
    }
    // A one-row table holding `cells`.
    static void fill(DKTable& t, const std::vector<std::string>& cells) {
        t.setNumberOfColumns(static_cast<int>(cells.size()));
        for (size_t k = 0; k < cells.size(); ++k) t.setCellValue(0, static_cast<int>(k), cells[k]);
    }

    fs::path dir;
};

using Rows = std::vector<std::string>;

TEST_F(TableCsv, ExportWritesEscapedQuotedCellsAndDefaultsForEmptyOnes) {
    DKTable t;
    t.setNumberOfColumns(4);
    t.setNumberOfRows(2);
    t.setColumnType(2, Integer);
    t.setColumnType(3, Text);
    t.setCellValue(0, 0, "a");
    t.setCellValue(0, 1, "b,c");
    t.setCellValue(1, 0, "x<y");
    t.setCellValue(1, 1, "say \"hi\"\n");
    t.setCellValue(0, 3, " ");
    ASSERT_TRUE(t.exportCSV(path("t.csv")));
    EXPECT_EQ(read(path("t.csv")), "\"a\",\"b\\,c\",0,\n\"x&lt;y\",\"say &quot;hi&quot;\\n\",0,\n");

    DKTable back;
    ASSERT_TRUE(back.loadCSV(path("t.csv")));
    // The trailing empty Text cells leave no field, so that column is not recreated.
    EXPECT_EQ(grid(back), (Rows{"a|b,c|0", "x<y|say \"hi\"\n|0"}));
}

TEST_F(TableCsv, EscapesRoundTripExactly) {
    // Each cell is decoded once: an escape's result is never read again as part of another one.
    const std::vector<std::string> cells = {"a\\nb",     "\\",   "&lt;", "C:\\temp\\x,y",
                                            "tab\there", "\r\n", "it's"};
    DKTable t;
    fill(t, cells);
    ASSERT_TRUE(t.exportCSV(path("t.csv")));
    DKTable back;
    ASSERT_TRUE(back.loadCSV(path("t.csv")));
    ASSERT_EQ(back.numberOfColumns(), static_cast<int>(cells.size()));
    for (size_t k = 0; k < cells.size(); ++k) EXPECT_EQ(back.cellValue(0, static_cast<int>(k)), cells[k]);
}

TEST_F(TableCsv, Utf8TextSurvivesBothWays) {
    // The degree sign is C2 B0, "б" is D0 B1: bytes that must not be taken for structure.
    const std::vector<std::string> cells = {"20 °C", "Привет, мир", "été ± ½", "日本"};
    DKTable t;
    fill(t, cells);
    ASSERT_TRUE(t.exportCSV(path("t.csv")));
    DKTable back;
    ASSERT_TRUE(back.loadCSV(path("t.csv")));
    EXPECT_EQ(grid(back), (Rows{"20 °C|Привет, мир|été ± ½|日本"}));

    back.importCSV("°,б\n±\n");
    EXPECT_EQ(grid(back), (Rows{"°|б", "±|"}));
}

TEST_F(TableCsv, LineEndsBlankLinesAndRaggedRecords) {
    DKTable t;
    for (const char* text : {"a,b\r\nc", "a,b\nc\n", "a,b\rc\r"}) {
        t.importCSV(text);
        EXPECT_EQ(grid(t), (Rows{"a|b", "c|"})) << text;
        EXPECT_EQ(t.columnAtIndex(1)->findCell(1), nullptr);
    }
    t.importCSV("a\n\nb,c,d\n\r\n");
    EXPECT_EQ(grid(t), (Rows{"a||", "||", "b|c|d", "||"}));
    EXPECT_EQ(t.columnAtIndex(0)->findCell(1), nullptr);
    // A record ending with a comma has no empty last field; one in the middle does.
    t.importCSV("a,,b,\n");
    EXPECT_EQ(t.numberOfColumns(), 3);
    EXPECT_EQ(grid(t), (Rows{"a||b"}));
}

TEST_F(TableCsv, QuotedSpansKeepCommasAndLineBreaks) {
    DKTable t;
    t.importCSV("\"a,b\",\"line1\nline2\",\"x\r\ny\"\n\"\",plain \"q,q\" end\n");
    EXPECT_EQ(grid(t), (Rows{"a,b|line1\rline2|x\ry", "|plain \"q,q\" end|"}));
    // Only the first and last characters go, whatever the last one is.
    t.importCSV("\"ab\"cd,\"");
    EXPECT_EQ(grid(t), (Rows{"ab\"c|"}));
}

TEST_F(TableCsv, ImportReplacesTheWholeTable) {
    DKTable t;
    t.setNumberOfColumns(3);
    t.setNumberOfRows(4);
    t.setColumnType(0, Integer);
    t.setColumnTitle(0, "Price");
    t.setColumnReadOnly(0, true);
    t.setRowTitle(2, "row");
    t.setCellValue(3, 2, "old");
    t.importCSV("1,2");
    EXPECT_EQ(grid(t), (Rows{"1|2"}));
    EXPECT_EQ(t.columnType(0), Undefined);
    EXPECT_STREQ(t.columnTitle(0), "");
    EXPECT_FALSE(t.columnReadOnly(0));
    EXPECT_EQ(t.findRowNumberByName(""), 0);
    EXPECT_EQ(t.findRowNumberByName("row"), -1);
    t.importCSV("");
    EXPECT_EQ(t.numberOfRows(), 1);
    EXPECT_EQ(t.numberOfColumns(), 1);
    EXPECT_STREQ(t.cellValue(0, 0), "");
}

TEST_F(TableCsv, DamagedInputEndsWithoutLosingText) {
    DKTable t;
    // An unpaired quote runs to the end: the rest is one field, commas and lines included.
    // (A quoted field loses its last character, here the final line end.)
    t.importCSV("a,\"b,c\nd,e\n");
    EXPECT_EQ(grid(t), (Rows{"a|b,c\rd,e"}));
    t.importCSV("\\");
    EXPECT_EQ(grid(t), (Rows{"\\"}));
    t.importCSV("&bogus;,&amp");
    EXPECT_EQ(grid(t), (Rows{"&bogus;|&amp"}));
    t.importCSV(std::string("a\0b,c", 5));
    EXPECT_EQ(t.numberOfColumns(), 2);
    EXPECT_EQ(std::string(t.cellValue(0, 0), 3), std::string("a\0b", 3));
}

TEST_F(TableCsv, FilesThatCannotBeUsedChangeNothing) {
    DKTable t;
    t.importCSV("keep,me");
    EXPECT_FALSE(t.loadCSV(path("missing.csv")));
    EXPECT_FALSE(t.loadCSV(dir.string()));
    EXPECT_EQ(grid(t), (Rows{"keep|me"}));
    EXPECT_FALSE(t.exportCSV(path("no/such/dir/t.csv")));

    write(path("old.csv"), "old\n");
    fs::create_directory(path("old.csv.d"));
    EXPECT_FALSE(t.exportCSV(path("old.csv.d")));  // a directory is never replaced
    EXPECT_EQ(read(path("old.csv")), "old\n");

    // The file is read up to its first zero byte.
    write(path("z.csv"), std::string("x,y\n\0z,w\n", 9));
    ASSERT_TRUE(t.loadCSV(path("z.csv")));
    EXPECT_EQ(grid(t), (Rows{"x|y"}));
}

TEST_F(TableCsv, ValidateShowsTheStructureWithMarkers) {
    EXPECT_EQ(DKTable::validateCSV("a,\"b,\r\nc\"\r\n\nd"),
              "a\xB0\"b,\rc\"\xB0\xB1\xB1"
              "d\xB0\xB1");
    EXPECT_EQ(DKTable::validateCSV(""), "\xB1");
}

}  // namespace
