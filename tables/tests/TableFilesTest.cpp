// Table XML files and the JSON export: exact texts, round trips, damaged input and failed saves.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <yajl/yajl_tree.h>

#include <algorithm>
#include <clocale>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>

#include "tables/DKTable.h"
#include "tests/support/TestSupport.h"

using namespace dk::tables;
namespace fs = std::filesystem;

namespace {

class TableFiles : public ::testing::Test {
protected:
    std::string path(const std::string& name) const { return dir.file(name); }
    static std::string read(const std::string& p) { return dktest::readFile(p); }
    static void write(const std::string& p, const std::string& text) { dktest::writeFile(p, text); }
    // Loads `xml` from a file into a fresh table.
    bool loadText(DKTable& t, const std::string& xml, const std::string& name = "in.xml") {
        write(path(name), xml);
        return t.loadTable(path(name));
    }

    dktest::TempDir dir;
};

const char* const kNewTableXml =
    "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
    "<table version=\"1.000000\" name=\"\" numRows=\"1\" numCols=\"1\" flags=\"0\" tableType=\"0\">\n"
    "    <rows>\n"
    "        <row id=\"0\" name=\"\"/>\n"
    "    </rows>\n"
    "    <columns>\n"
    "        <column id=\"0\" name=\"\" type=\"0\" readonly=\"0\"></column>\n"
    "    </columns>\n"
    "</table>\n";

}  // namespace

TEST_F(TableFiles, NewTableXmlIsExact) {
    DKTable t;
    EXPECT_EQ(std::string(t.getFileStream()), kNewTableXml);
    ASSERT_TRUE(t.saveTable(path("new.xml"), false));
    EXPECT_EQ(read(path("new.xml")), kNewTableXml);
}

TEST_F(TableFiles, SmallTableXmlEscapesCellsAndNames) {
    DKTable t;
    t.setTableName("Shop \"A\" & <co>");
    t.setNumberOfRows(3);
    t.setNumberOfColumns(3);
    t.setRowTitle(0, "r1");
    t.setRowTitle(2, "two\nlines");
    t.setColumnTitle(0, "Item");
    t.setColumnType(0, Text);
    t.setCellValue(0, 0, "a,b");
    t.setCellValue(1, 0, "\\");
    t.setCellValue(2, 0, "x<y & \"z\"");
    t.setColumnTitle(1, "Ok");
    t.setColumnType(1, Boolean);
    t.setCellValue(0, 1, " ");
    t.setCellValue(1, 1, "True");
    t.setColumnTitle(2, "N");
    t.setColumnType(2, Integer);
    t.setColumnReadOnly(2, true);
    t.setCellValue(1, 2, "&amp;");
    t.setCellValue(2, 2, "7");
    t.setFlags(4294967295u);
    t.setTableType(3);
    const std::string expected =
        "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
        "<table version=\"1.000000\" name=\"Shop &quot;A&quot; &amp; &lt;co&gt;\" numRows=\"3\" "
        "numCols=\"3\" "
        "flags=\"4294967287\" tableType=\"3\">\n"
        "    <rows>\n"
        "        <row id=\"0\" name=\"r1\"/>\n"
        "        <row id=\"1\" name=\"\"/>\n"
        "        <row id=\"2\" name=\"two\nlines\"/>\n"
        "    </rows>\n"
        "    <columns>\n"
        "        <column id=\"0\" name=\"Item\" type=\"1\" readonly=\"0\">"
        "a\\,b,\\\\,x&lt;y &amp; &quot;z&quot;</column>\n"
        "        <column id=\"1\" name=\"Ok\" type=\"4\" readonly=\"0\">False,True,False</column>\n"
        "        <column id=\"2\" name=\"N\" type=\"2\" readonly=\"1\">0,&amp;,7</column>\n"
        "    </columns>\n"
        "</table>\n";
    EXPECT_EQ(std::string(t.getFileStream()), expected);

    ASSERT_TRUE(t.saveTable(path("shop.xml"), false));
    DKTable back;
    ASSERT_TRUE(back.loadTable(path("shop.xml")));
    EXPECT_STREQ(back.tableName(), "Shop \"A\" & <co>");
    EXPECT_STREQ(back.cellValue(0, 0), "a,b");
    EXPECT_STREQ(back.cellValue(1, 0), "\\");
    EXPECT_STREQ(back.cellValue(2, 0), "x<y & \"z\"");
    EXPECT_STREQ(back.cellValue(0, 1), "False");  // a single space stands for the default
    EXPECT_STREQ(back.cellValue(1, 2), "&");      // an existing "&amp;" is not re-escaped
    EXPECT_STREQ(back.rowTitle(2), "two lines");  // XML attribute normalisation
    EXPECT_EQ(back.flags(), 4294967287u);
    EXPECT_EQ(back.tableType(), 3u);
    EXPECT_TRUE(back.columnReadOnly(2));
}

TEST_F(TableFiles, JsonExportIsExact) {
    DKTable t;
    t.setColumnType(0, Text);
    t.setCellValue(0, 0, "hi");
    t.setTableName("Scores");
    t.setRowTitle(0, "first");
    t.addColumnAtIndex(1, TableColumn(Integer, "n", true));
    t.setFlags(0x80000000u);
    const std::string expected =
        "{\n"
        "   \"version\": \"0.1\",\n"
        "   \"id\": \"0\",\n"
        "   \"name\": \"Scores\",\n"
        "   \"numRows\": \"1\",\n"
        "   \"numCols\": \"2\",\n"
        "   \"flags\": \"-2147483648\",\n"
        "   \"tableType\": \"0\",\n"
        "   \"_type\":\"table\",\n"
        "   \"_children\": [\n"
        "       {\n"
        "           \"_type\": \"rows\",\n"
        "           \"_children\": [\n"
        "               {\n"
        "                   \"_type\": \"row\",\n"
        "                   \"id\": \"0\",\n"
        "                   \"name\":\"first\"\n"
        "               }\n"
        "           ]\n"
        "       },\n"
        "       {\n"
        "           \"_type\": \"columns\",\n"
        "           \"_children\":[\n"
        "               {\n"
        "                   \"_text\":[\"hi\"],\n"
        "                   \"_type\":\"column\",\n"
        "                   \"id\":\"0\",\n"
        "                   \"name\":\"\",\n"
        "                   \"type\":\"1\",\n"
        "                   \"readonly\":\"0\"\n"
        "               },\n"
        "               {\n"
        "                   \"_text\":[\"0\"],\n"
        "                   \"_type\":\"column\",\n"
        "                   \"id\":\"1\",\n"
        "                   \"name\":\"n\",\n"
        "                   \"type\":\"2\",\n"
        "                   \"readonly\":\"1\"\n"
        "               }\n"
        "           ]\n"
        "       }\n"
        "   ]\n"
        "}\n";
    EXPECT_EQ(std::string(t.getFileStreamJSON()), expected);
    ASSERT_TRUE(t.saveTable(path("t.json"), true));
    EXPECT_EQ(read(path("t.json")), expected);
}

TEST_F(TableFiles, JsonExportIsValidJsonForAnyText) {
    const std::string nasty = "q\"\\ \x01\x1f\t\n\r/\xC3\xA9\xF0\x9F\x90\x8E";
    DKTable t;
    t.setTableName(nasty);
    t.setNumberOfRows(2);
    t.setRowTitle(1, nasty);
    t.setColumnTitle(0, nasty);
    t.setCellValue(0, 0, nasty);
    t.setCellValue(1, 0, "a,b");

    // Every text comes back whole: the table name, the row title, the column title and the cell.
    char error[256] = "";
    yajl_val root = yajl_tree_parse(t.getFileStreamJSON(), error, sizeof error);
    ASSERT_NE(root, nullptr) << error;
    std::vector<std::string> texts;
    std::function<void(yajl_val)> collect = [&](yajl_val v) {
        if (YAJL_IS_STRING(v)) texts.push_back(YAJL_GET_STRING(v));
        if (YAJL_IS_ARRAY(v))
            for (size_t i = 0; i < v->u.array.len; ++i) collect(v->u.array.values[i]);
        if (YAJL_IS_OBJECT(v))
            for (size_t i = 0; i < v->u.object.len; ++i) collect(v->u.object.values[i]);
    };
    collect(root);
    EXPECT_EQ(std::count(texts.begin(), texts.end(), nasty), 4);
    EXPECT_EQ(std::count(texts.begin(), texts.end(), "a,b"), 1);
    yajl_tree_free(root);
}

TEST_F(TableFiles, RoundTripEveryColumnTypeAndUnicode) {
    DKTable t;
    t.setTableName("Ünïcode ✓ 表");
    t.setFlags(0x55);
    t.setTableType(12);
    t.setNumberOfColumns(kColumnTypeCount);
    const std::vector<std::string> samples = {"plain",
                                              "\xE6\xBC\xA2\xE5\xAD\x97 \xF0\x9F\x8E\xAE",
                                              "a,b,,c",
                                              "back\\slash\\",
                                              "tab\there",
                                              "line\nfeed\r\nend",
                                              "<tag attr='1'>&\"</tag>",
                                              "trailing space ",
                                              ",",
                                              "\\,\\n"};
    t.setNumberOfRows(static_cast<int>(samples.size()));
    for (int c = 0; c < kColumnTypeCount; ++c) {
        t.setColumnType(c, static_cast<ColumnType>(c));
        t.setColumnTitle(c, std::string("col ") + t.columnTypeName(static_cast<ColumnType>(c)) + " ✓");
        t.setColumnReadOnly(c, c % 2 == 1);
        for (int r = 0; r < t.numberOfRows(); ++r) t.setCellValue(r, c, samples[(r + c) % samples.size()]);
    }
    for (int r = 0; r < t.numberOfRows(); ++r) t.setRowTitle(r, "row \"" + std::to_string(r) + "\" é");

    // The file text carries every field and the exact-text tests pin its form: what was loaded
    // writes the same text, and saving it again gives the same bytes.
    ASSERT_TRUE(t.saveTable(path("all.xml"), false));
    DKTable back;
    ASSERT_TRUE(back.loadTable(path("all.xml")));
    EXPECT_EQ(std::string(back.getFileStream()), std::string(t.getFileStream()));
    EXPECT_STREQ(back.cellValue(5, 0), "line\nfeed\r\nend");
    ASSERT_TRUE(back.saveTable("", false));
    EXPECT_EQ(read(path("all.xml")), std::string(t.getFileStream()));
}

TEST_F(TableFiles, RoundTripEmptyTables) {
    DKTable noRows;
    noRows.setColumnType(0, Integer);
    noRows.removeRowAtIndex(0);
    ASSERT_EQ(noRows.numberOfRows(), 0);
    ASSERT_TRUE(noRows.saveTable(path("norows.xml"), false));
    DKTable back;
    back.setNumberOfRows(4);
    ASSERT_TRUE(back.loadTable(path("norows.xml")));
    EXPECT_EQ(back.numberOfRows(), 0);
    EXPECT_EQ(std::string(back.getFileStream()), std::string(noRows.getFileStream()));
}

TEST_F(TableFiles, LoadingFollowsTheFileNotItsElementCount) {
    DKTable t;
    ASSERT_TRUE(loadText(
        t,
        "<table version=\"1.0\" name=\"n\" numRows=\"3\" numCols=\"4\">"
        "<rows><row id=\"0\" name=\"A\"/><row id=\"1\" name=\"B\"/><row id=\"9\" name=\"far\"/></rows>"
        "<columns>"
        "<column id=\"7\" name=\"x\" type=\"2\" readonly=\"5\"></column>"
        "<column name=\"y\">a,,b</column>"
        "<column type=\"4\">p<!-- c --> q\\,r</column>"
        "</columns></table>"));
    EXPECT_EQ(t.numberOfRows(), 3);
    EXPECT_EQ(t.numberOfColumns(), 4);
    EXPECT_STREQ(t.rowTitle(1), "B");
    EXPECT_STREQ(t.rowTitle(2), "");
    EXPECT_EQ(t.findRowNumberByName("far"), -1);
    EXPECT_EQ(t.flags(), 0u);
    // Column elements are numbered by position, not by their id.
    EXPECT_STREQ(t.columnTitle(0), "x");
    EXPECT_TRUE(t.columnReadOnly(0));
    EXPECT_STREQ(t.cellValue(0, 0), "0");  // empty text: one default cell
    EXPECT_STREQ(t.cellValue(1, 0), "");   // beyond the text: no cell
    EXPECT_EQ(t.columnType(1), static_cast<ColumnType>(-1));
    EXPECT_STREQ(t.cellValue(1, 1), "");
    EXPECT_STREQ(t.cellValue(2, 1), "b");
    EXPECT_STREQ(t.cellValue(0, 2), "p q,r");  // text pieces around a comment join
    EXPECT_EQ(t.columnAtIndex(3), nullptr);
    EXPECT_STREQ(t.columnTitle(3), "");
    EXPECT_TRUE(t.setCellValue(2, 3, "late"));
    EXPECT_STREQ(t.cellValue(2, 3), "late");

    DKTable bare;
    ASSERT_TRUE(loadText(bare, "<table><columns><column>1,2,3</column></columns></table>"));
    EXPECT_EQ(bare.numberOfRows(), 1);  // no counts in the file: 1 x 1
    EXPECT_STREQ(bare.cellValue(0, 0), "1");

    DKTable negative;  // damaged counts must not leave a table that misbehaves
    ASSERT_TRUE(loadText(
        negative, "<table numRows=\"-5\" numCols=\"-1\"><rows><row id=\"-1\" name=\"x\"/></rows></table>"));
    EXPECT_EQ(negative.numberOfRows(), 0);
    EXPECT_EQ(negative.numberOfColumns(), 0);
    negative.setNumberOfColumns(1);
    EXPECT_EQ(negative.addRowAtIndex(0), 1);
    EXPECT_TRUE(negative.setCellValue(0, 0, "ok"));
}

TEST_F(TableFiles, OldVersionFilesAreConverted) {
    DKTable t;
    ASSERT_TRUE(loadText(t,
                         "<table version=\"0.5\" numRows=\"4\" numCols=\"3\"><columns>"
                         "<column type=\"1\">\"a,b\",c</column>"
                         "<column type=\"2\">1, ,x&amp;y,</column>"
                         "<column type=\"1\">\"two\nlines\",q</column>"
                         "</columns></table>"));
    EXPECT_STREQ(t.cellValue(0, 0), "a,b");
    EXPECT_STREQ(t.cellValue(1, 0), "c");
    EXPECT_STREQ(t.cellValue(0, 1), "1");
    EXPECT_STREQ(t.cellValue(1, 1), "0");  // a blank token takes the type's default
    EXPECT_STREQ(t.cellValue(2, 1), "x&amp;y");
    EXPECT_STREQ(t.cellValue(3, 1), "");  // a trailing comma gives no token
    EXPECT_STREQ(t.cellValue(0, 2), "two\nlines");
    EXPECT_STREQ(t.cellValue(1, 2), "q");

    // Version 1 (or no version) is taken as it stands.
    DKTable v1;
    ASSERT_TRUE(loadText(v1, "<table numRows=\"2\"><columns><column>\"a,b\",c</column></columns></table>"));
    EXPECT_STREQ(v1.cellValue(0, 0), "\"a");
    EXPECT_STREQ(v1.cellValue(1, 0), "b\"");

    // A converted table saves as version 1 and loads back the same.
    ASSERT_TRUE(t.saveTable(path("converted.xml"), false));
    DKTable again;
    ASSERT_TRUE(again.loadTable(path("converted.xml")));
    EXPECT_EQ(std::string(again.getFileStream()), std::string(t.getFileStream()));
    EXPECT_STREQ(again.cellValue(0, 0), "a,b");
}

TEST_F(TableFiles, MalformedAndTruncatedFilesChangeNothing) {
    DKTable t;
    t.setTableName("keep");
    t.setNumberOfRows(2);
    t.setCellValue(1, 0, "value");
    const std::string before = t.getFileStream();

    testing::internal::CaptureStdout();
    EXPECT_FALSE(t.loadTable(path("missing.xml")));
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(t.filePath(), path("missing.xml"));

    write(path("bad.xml"), "<table>\n<rows>\n</table>\n");
    testing::internal::CaptureStdout();
    EXPECT_FALSE(t.loadTable(path("bad.xml")));
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "TableParser Error: mismatched tag at line 3 in " + path("bad.xml") + "\n\n");
    EXPECT_EQ(std::string(t.getFileStream()), before);

    // Every strict prefix of a good file up to its closing tag is rejected.
    DKTable source;
    source.setNumberOfRows(3);
    source.setCellValue(2, 0, "x");
    const std::string good = source.getFileStream();
    const size_t end = good.rfind("</table>") + 8;
    for (size_t n = 0; n < end; ++n) {
        write(path("cut.xml"), good.substr(0, n));
        testing::internal::CaptureStdout();
        EXPECT_FALSE(t.loadTable(path("cut.xml"))) << n;
        std::string out = testing::internal::GetCapturedStdout();
        EXPECT_EQ(out.rfind("TableParser Error: ", 0), 0u) << n << ": " << out;
        EXPECT_NE(out.find(" in " + path("cut.xml")), std::string::npos);
    }
    EXPECT_EQ(std::string(t.getFileStream()), before);
}

TEST_F(TableFiles, FileSizeOnChunkBoundaryLoads) {
    DKTable t;
    t.setCellValue(0, 0, "chunk");
    std::string xml = t.getFileStream();
    xml.append(8192 - xml.size(), '\n');  // trailing white space is allowed after the root
    DKTable back;
    ASSERT_TRUE(loadText(back, xml));
    EXPECT_STREQ(back.cellValue(0, 0), "chunk");
}

TEST_F(TableFiles, FailedSavesKeepTheOldFile) {
    DKTable t;
    t.setCellValue(0, 0, "original");
    ASSERT_TRUE(t.saveTable(path("keep.xml"), false));
    const std::string old = read(path("keep.xml"));
    ASSERT_TRUE(t.loadTable(path("keep.xml")));
    t.setCellValue(0, 0, "changed");

    // Directories that cannot be created, even by root.
    EXPECT_FALSE(t.saveTable("/nonexistent-dktables-dir/sub/t.xml", false));
    EXPECT_FALSE(t.saveTable(path("keep.xml") + "/inside.xml", false));
    EXPECT_FALSE(t.saveTable(dir.path(), false));  // a directory is not replaced
    EXPECT_TRUE(fs::is_directory(dir.path()));
    DKTable fresh;
    EXPECT_FALSE(fresh.saveTable("", false));  // nothing loaded: nowhere to save
    EXPECT_EQ(read(path("keep.xml")), old);

    // Text that XML cannot carry would make the file unreadable: refused, old file kept.
    t.setCellValue(0, 0, "bell\x07");
    EXPECT_FALSE(t.saveTable("", false));
    t.setCellValue(0, 0, "latin-1 \xB0");
    EXPECT_FALSE(t.saveTable("", false));
    EXPECT_EQ(read(path("keep.xml")), old);
    EXPECT_TRUE(t.saveTable(path("any.json"), true));  // JSON escapes control characters
    fs::remove(path("any.json"));
    t.setCellValue(0, 0, "changed");

    // A write that fails part-way (file size limit) leaves the old file and no temporary.
    DKTable big;
    big.setNumberOfRows(2000);
    for (int r = 0; r < 2000; ++r) big.setCellValue(r, 0, "some longer cell text " + std::to_string(r));
    struct rlimit saved;
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = saved;
    small.rlim_cur = 4096;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    bool saved_ok = big.saveTable(path("keep.xml"), false);
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, oldHandler);
    EXPECT_FALSE(saved_ok);
    EXPECT_EQ(read(path("keep.xml")), old);
    int files = 0;
    for (auto& entry : fs::directory_iterator(dir.path())) files += entry.is_regular_file() ? 1 : 0;
    EXPECT_EQ(files, 1);

    // Saving to the loaded path replaces the file and keeps its permissions.
    ASSERT_EQ(chmod(path("keep.xml").c_str(), 0640), 0);
    ASSERT_TRUE(t.saveTable("", false));
    DKTable back;
    ASSERT_TRUE(back.loadTable(path("keep.xml")));
    EXPECT_STREQ(back.cellValue(0, 0), "changed");
    struct stat st;
    ASSERT_EQ(stat(path("keep.xml").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
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
    bool comma = std::string(probe) == "1,500000";

    DKTable t;
    std::string xml = t.getFileStream();
    DKTable old;
    bool loaded = loadText(old,
                           "<table version=\"0.5\" numRows=\"1\"><columns>"
                           "<column>\"a,b\"</column></columns></table>");
    std::setlocale(LC_ALL, "C");
    unsetenv("LOCPATH");
    ASSERT_TRUE(comma) << probe;
    EXPECT_EQ(xml, kNewTableXml);
    ASSERT_TRUE(loaded);
    EXPECT_STREQ(old.cellValue(0, 0), "a,b");
}
