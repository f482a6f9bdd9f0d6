// Table XML files and the JSON export: exact texts, round trips, damaged input and failed saves.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#include <yajl/yajl_tree.h>

#include <clocale>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <set>
#include <string>

#include "tables/DKTable.h"
#include "tests/support/TestSupport.h"

using namespace dk::tables;

namespace fs = std::filesystem;

namespace dktest {
namespace {

std::string golden(const std::string& name) {
    return readFile(DK_TEST_DATA_DIR "/" + name);
}

class TableFiles : public ::testing::Test {
protected:
    std::string path(const std::string& name) const { return dir.file(name); }
    // Loads `xml` from a file into `t`.
    bool loadText(DKTable& t, const std::string& xml) {
        writeFile(path("in.xml"), xml);
        return t.loadTable(path("in.xml"));
    }
    // Saves `t` as XML and loads it into a fresh table, whose own text must be the same.
    void roundTrip(DKTable& t, DKTable& back) {
        ASSERT_TRUE(t.saveTable(path("trip.xml"), false));
        ASSERT_TRUE(back.loadTable(path("trip.xml")));
        EXPECT_EQ(std::string(back.getFileStream()), std::string(t.getFileStream()));
    }

    // A table whose text runs well past 4 KB.
    static void fillRows(DKTable& t) {
        t.setNumberOfRows(2000);
        for (int r = 0; r < 2000; ++r) t.setCellValue(r, 0, "some longer cell text " + std::to_string(r));
    }

    TempDir dir;
};

// A new table's exact text is the locale test's.
TEST_F(TableFiles, ExactXmlAndJsonTexts) {
    DKTable shop;
    shop.setTableName("Shop \"A\" & <co>");
    shop.setNumberOfRows(3);
    shop.setNumberOfColumns(3);
    shop.setRowTitle(0, "r1");
    shop.setRowTitle(2, "two\nlines");
    const char* cells[3][3] = {{"a,b", " ", ""}, {"\\", "True", "&amp;"}, {"x<y & \"z\"", "", "7"}};
    const char* titles[3] = {"Item", "Ok", "N"};
    const ColumnType types[3] = {Text, Boolean, Integer};
    for (int c = 0; c < 3; ++c) {
        shop.setColumnTitle(c, titles[c]);
        shop.setColumnType(c, types[c]);
        for (int r = 0; r < 3; ++r) shop.setCellValue(r, c, cells[r][c]);
    }
    shop.setColumnReadOnly(2, true);
    shop.setFlags(4294967295u);
    shop.setTableType(3);
    EXPECT_EQ(std::string(shop.getFileStream()), golden("shop.xml"));
    ASSERT_TRUE(shop.saveTable(path("shop.json"), true));
    EXPECT_EQ(readFile(path("shop.json")), golden("shop.json"));
    DKTable back;
    ASSERT_TRUE(back.loadTable(DK_TEST_DATA_DIR "/shop.xml"));
    EXPECT_STREQ(back.cellValue(2, 0), "x<y & \"z\"");
    EXPECT_STREQ(back.cellValue(0, 1), "False");  // a single space stands for the default
    EXPECT_STREQ(back.cellValue(1, 2), "&");      // an existing "&amp;" is not re-escaped
    EXPECT_STREQ(back.rowTitle(2), "two lines");  // XML attribute normalisation
}

TEST_F(TableFiles, JsonExportCarriesAnyTextWhole) {
    const std::string nasty = "q\"\\ \x01\x1f\t\n\r/\xC3\xA9\xF0\x9F\x90\x8E";
    DKTable t;
    t.setTableName(nasty);
    t.setRowTitle(0, nasty);
    t.setColumnTitle(0, nasty);
    t.setCellValue(0, 0, nasty);
    char error[256] = "";
    yajl_val root = yajl_tree_parse(t.getFileStreamJSON(), error, sizeof error);
    ASSERT_NE(root, nullptr) << error;
    int found = 0;
    std::function<void(yajl_val)> walk = [&](yajl_val v) {
        found += YAJL_IS_STRING(v) && YAJL_GET_STRING(v) == nasty;
        for (size_t i = 0; YAJL_IS_ARRAY(v) && i < v->u.array.len; ++i) walk(v->u.array.values[i]);
        for (size_t i = 0; YAJL_IS_OBJECT(v) && i < v->u.object.len; ++i) walk(v->u.object.values[i]);
    };
    walk(root);
    yajl_tree_free(root);
    EXPECT_EQ(found, 4);  // the table name, the row title, the column title and the cell
}

TEST_F(TableFiles, RoundTripEveryColumnTypeUnicodeAndNoRows) {
    const std::vector<std::string> samples = {"a,b,,c",
                                              "back\\slash\\",
                                              "line\nfeed\r\nend\ttab",
                                              "<tag attr='1'>&\"</tag>",
                                              "trailing space ",
                                              "\\,\\n",
                                              "\xE6\xBC\xA2\xE5\xAD\x97 \xF0\x9F\x8E\xAE"};
    DKTable t;
    t.setTableName("Ünïcode ✓ 表");
    t.setNumberOfColumns(kColumnTypeCount);
    t.setNumberOfRows(static_cast<int>(samples.size()));
    for (int c = 0; c < kColumnTypeCount; ++c) {
        t.setColumnType(c, static_cast<ColumnType>(c));
        t.setColumnTitle(c, std::string("col ✓ ") + t.columnTypeName(static_cast<ColumnType>(c)));
        t.setColumnReadOnly(c, c % 2 == 1);
        for (int r = 0; r < t.numberOfRows(); ++r) t.setCellValue(r, c, samples[(r + c) % samples.size()]);
    }
    for (int r = 0; r < t.numberOfRows(); ++r) t.setRowTitle(r, "row \"" + std::to_string(r) + "\" é");
    DKTable back;
    roundTrip(t, back);
    EXPECT_STREQ(back.cellValue(2, 0), "line\nfeed\r\nend\ttab");
    ASSERT_TRUE(back.saveTable("", false));  // to the loaded path, the same bytes
    EXPECT_EQ(readFile(path("trip.xml")), std::string(t.getFileStream()));

    DKTable noRows, backNoRows;
    noRows.removeRowAtIndex(0);
    roundTrip(noRows, backNoRows);
    EXPECT_EQ(backNoRows.numberOfRows(), 0);
}

// A file is read as it is, whatever its counts and ids claim.
TEST_F(TableFiles, LoadingFollowsTheFileNotItsElementCount) {
    DKTable t;
    ASSERT_TRUE(t.loadTable(DK_TEST_DATA_DIR "/loose.xml"));
    EXPECT_EQ(std::string(t.getFileStream()), golden("loose.loaded.xml"));
    EXPECT_STREQ(t.cellValue(1, 0), "");  // beyond the column's text: no cell, not the default
    EXPECT_EQ(t.columnAtIndex(3), nullptr);
    EXPECT_TRUE(t.setCellValue(2, 3, "late"));

    // Damaged counts must not leave a table that misbehaves; no counts at all give 1 x 1.
    ASSERT_TRUE(
        loadText(t, "<table numRows=\"-5\" numCols=\"-1\"><rows><row id=\"-1\" name=\"x\"/></rows></table>"));
    EXPECT_EQ(t.numberOfRows() + t.numberOfColumns(), 0);
    t.setNumberOfColumns(1);
    EXPECT_EQ(t.addRowAtIndex(0), 1);
    EXPECT_TRUE(t.setCellValue(0, 0, "ok"));
    ASSERT_TRUE(loadText(t, "<table><columns><column>1,2,3</column></columns></table>"));
    EXPECT_EQ(t.numberOfRows(), 1);
}

TEST_F(TableFiles, VersionZeroFilesAreConverted) {
    DKTable t;
    ASSERT_TRUE(t.loadTable(DK_TEST_DATA_DIR "/version0.xml"));
    EXPECT_EQ(std::string(t.getFileStream()), golden("version0.loaded.xml"));
    EXPECT_STREQ(t.cellValue(3, 1), "");  // a trailing comma gives no token
    DKTable again;
    roundTrip(t, again);

    ASSERT_TRUE(loadText(t, "<table numRows=\"2\"><columns><column>\"a,b\",c</column></columns></table>"));
    EXPECT_STREQ(t.cellValue(0, 0), "\"a");  // version 1 (or none) is taken as it stands
}

TEST_F(TableFiles, MalformedAndTruncatedFilesChangeNothing) {
    DKTable t;
    t.setTableName("keep");
    t.setCellValue(0, 0, "value");
    const std::string before = t.getFileStream();

    testing::internal::CaptureStdout();
    EXPECT_FALSE(t.loadTable(path("missing.xml")));
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    writeFile(path("bad.xml"), "<table>\n<rows>\n</table>\n");
    testing::internal::CaptureStdout();
    EXPECT_FALSE(t.loadTable(path("bad.xml")));
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "TableParser Error: mismatched tag at line 3 in " + path("bad.xml") + "\n\n");

    // Every strict prefix of a good file up to its closing tag is rejected.
    const std::string good = golden("shop.xml");
    for (size_t n = 0; n < good.rfind("</table>") + 8; ++n) {
        writeFile(path("cut.xml"), good.substr(0, n));
        testing::internal::CaptureStdout();
        EXPECT_FALSE(t.loadTable(path("cut.xml"))) << n;
        EXPECT_EQ(testing::internal::GetCapturedStdout().rfind("TableParser Error: ", 0), 0u) << n;
    }
    EXPECT_EQ(std::string(t.getFileStream()), before);

    // A file whose size is a whole number of read chunks loads.
    std::string padded = good;
    padded.append(8192 - good.size(), '\n');
    ASSERT_TRUE(loadText(t, padded));
    EXPECT_STREQ(t.cellValue(2, 2), "7");
}

TEST_F(TableFiles, FailedSavesKeepTheOldFile) {
    DKTable t;
    t.setCellValue(0, 0, "original");
    ASSERT_TRUE(t.saveTable(path("keep.xml"), false));
    const std::string old = readFile(path("keep.xml"));
    ASSERT_TRUE(t.loadTable(path("keep.xml")));

    // Directories that cannot be created even by root, a directory as target, nowhere loaded,
    // and text XML cannot carry (it would make the file unreadable).
    EXPECT_FALSE(t.saveTable("/nonexistent-dktables-dir/sub/t.xml", false));
    EXPECT_FALSE(t.saveTable(path("keep.xml") + "/inside.xml", false));
    EXPECT_FALSE(t.saveTable(dir.path(), false));
    EXPECT_FALSE(DKTable().saveTable("", false));
    for (const char* text : {"bell\x07", "latin-1 \xB0"}) {
        t.setCellValue(0, 0, text);
        EXPECT_FALSE(t.saveTable("", false)) << text;
        EXPECT_TRUE(t.saveTable(path("any.json"), true));  // JSON escapes it
    }
    fs::remove(path("any.json"));
    EXPECT_EQ(readFile(path("keep.xml")), old);

    // A write that fails part-way (file size limit) leaves the old file and no temporary.
    DKTable big;
    fillRows(big);
    struct rlimit saved, small;
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    small = saved;
    small.rlim_cur = 4096;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    const bool bigSaved = big.saveTable(path("keep.xml"), false);
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, oldHandler);
    EXPECT_FALSE(bigSaved);
    EXPECT_EQ(readFile(path("keep.xml")), old);
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 1);

    // Saving to the loaded path replaces the file and keeps its permissions.
    ASSERT_EQ(chmod(path("keep.xml").c_str(), 0640), 0);
    t.setCellValue(0, 0, "changed");
    ASSERT_TRUE(t.saveTable("", false));
    EXPECT_NE(readFile(path("keep.xml")).find(">changed<"), std::string::npos);
    struct stat st;
    ASSERT_EQ(stat(path("keep.xml").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
}

// A save killed mid-write leaves its temporary behind; the next save of the table removes it, but
// never a temporary whose writer still runs or still holds its lock.
TEST_F(TableFiles, ASaveRemovesTheTemporariesOfKilledSaves) {
    DKTable big;
    fillRows(big);
    ASSERT_TRUE(killedMidWrite([&] { big.saveTable(path("t.xml"), false); }));
    auto leftBehind = [&] {
        std::set<std::string> names;
        for (const auto& entry : fs::directory_iterator(dir.path())) names.insert(entry.path().filename());
        return names;
    };
    ASSERT_EQ(leftBehind().size(), 1u);
    // Temporaries of the same file by other writers: a live one (pid 1), and a dead one whose lock
    // is held (as by a writer in another pid namespace).
    const std::string killed = *leftBehind().begin();
    const size_t pidEnd = killed.rfind('-'), pidStart = killed.rfind('-', pidEnd - 1) + 1;
    const std::string live = killed.substr(0, pidStart) + "1-0.tmp",
                      locked = killed.substr(0, pidEnd) + "-99.tmp";
    writeFile(path(live), "partial");
    writeFile(path(locked), "partial");
    const int lock = open(path(locked).c_str(), O_RDONLY);
    ASSERT_EQ(flock(lock, LOCK_EX), 0);
    EXPECT_TRUE(big.saveTable(path("t.xml"), false));
    EXPECT_EQ(leftBehind(), (std::set<std::string>{live, locked, "t.xml"}));
    close(lock);
    EXPECT_TRUE(big.saveTable(path("t.xml"), false));
    EXPECT_EQ(leftBehind(), (std::set<std::string>{live, "t.xml"}));
}

TEST_F(TableFiles, NumbersIgnoreTheProcessLocale) {
    // Build a locale whose decimal separator is a comma, in a private directory.
    const std::string locales = path("locales");
    fs::create_directory(locales);
    std::string cmd = "localedef -i de_DE -f UTF-8 " + locales + "/de_DE.UTF-8 >/dev/null 2>&1";
    if (std::system(cmd.c_str()) != 0 && !fs::exists(locales + "/de_DE.UTF-8"))
        GTEST_SKIP() << "no localedef";
    setenv("LOCPATH", locales.c_str(), 1);
    if (!std::setlocale(LC_ALL, "de_DE.UTF-8")) GTEST_SKIP() << "comma locale unavailable";
    char probe[32];
    std::snprintf(probe, sizeof probe, "%f", 1.5);
    DKTable t, old;
    const std::string xml = t.getFileStream();
    const bool loaded = old.loadTable(DK_TEST_DATA_DIR "/version0.xml");
    std::setlocale(LC_ALL, "C");
    unsetenv("LOCPATH");
    ASSERT_STREQ(probe, "1,500000");
    EXPECT_EQ(xml, golden("new.xml"));
    ASSERT_TRUE(loaded);
    EXPECT_EQ(std::string(old.getFileStream()), golden("version0.loaded.xml"));
}

}  // namespace
}  // namespace dktest
