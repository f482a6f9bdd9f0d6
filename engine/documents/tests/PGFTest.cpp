// The "pgf" module: XML read into element tables (structure, entities, malformed input, paths,
// long text, depth) and documents written as XML or JSON into strings and files.
#include <gtest/gtest.h>
#include <malloc.h>
#include <yajl/yajl_tree.h>
#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
#endif

#include <algorithm>
#include <filesystem>
#include <string>

#include "engine/documents/wrap_PGF.h"
#include "tests/support/TestSupport.h"

namespace dktest {

class PGF : public ::testing::Test {
protected:
    void SetUp() override { run("dofile('" DK_TEST_DATA_DIR "/prelude.lua')"); }
    // Runs a chunk and returns its results as text ("nil" when none); a Lua error fails the test.
    std::string run(const std::string& code) {
        const std::string result = L.run(code);
        if (dktest::isLuaError(result)) ADD_FAILURE() << result << "\nin: " << code;
        return result.empty() ? "nil" : result;
    }
    void set(const char* name, const std::string& value) { dktest::setGlobal(L, name, value); }
    static std::string golden(const char* name) {
        return dktest::readFile(DK_TEST_DATA_DIR "/" + std::string(name));
    }
    static std::string nested(int levels) {
        std::string open, close;
        for (int i = 0; i < levels; ++i) open += "<e>", close += "</e>";
        return open + "deep" + close;
    }

    dktest::LuaState L{luaopen_PGF, "pgf"};
    dktest::TempDir dir;
};

TEST_F(PGF, ReadsElementsAttributesChildrenLeafTextAndEntities) {
    const char* const cases[][2] = {
        {R"(<?xml version="1.0"?><a x="1"><b>hi</b><c/></a>)",
         R"({[0]="a",[1]={[0]="b",[1]="hi"},[2]={[0]="c"},x="1"})"},
        // Text between child elements is dropped; whitespace-only leaves keep their text.
        {"<r>lead<a>one</a>mid<b> </b>tail</r>",
         R"({[0]="r",[1]={[0]="a",[1]="one"},[2]={[0]="b",[1]=" "}})"},
        {R"(<a v="x&amp;y&#38;z" w="&amp;#38;" q="&lt;&quot;&apos;&gt;">&lt;b&gt; &amp; &#233;</a>)",
         "{[0]=\"a\",[1]=\"<b> & \xC3\xA9\",q=\"<\\\"'>\",v=\"x&y&z\",w=\"&#38;\"}"},
        {"<a><![CDATA[x<y]]>&amp;<![CDATA[&amp;]]></a>", R"({[0]="a",[1]="x<y&&amp;"})"},
        // Entities outside the predefined five are not looked up anywhere.
        {R"(<!DOCTYPE a [<!ENTITY e "boom">]><a>&e;</a>)", "nil"},
    };
    for (const auto& c : cases) {
        set("doc", c[0]);
        EXPECT_EQ(run("local t = pgf.loadString(doc) return t and dump(t)"), c[1]) << c[0];
    }
    EXPECT_EQ(run("return type(pgf.parser.loadString('<a x=\"1\"/>').x)"), "string");  // the "parser" table
}

TEST_F(PGF, MalformedInputGivesNoResultAndLeavesTheStackAlone) {
    for (const char* bad : {"", "   ", "<a>", "<a><b></a>", "<a/><b/>", "<a x='1' x='2'/>", "<a>&nope;</a>",
                            "not xml", "<a/>trailing", "<a>\xff</a>"}) {
        set("bad", bad);
        EXPECT_EQ(run("local before = 'kept' return select('#', pgf.loadString(bad)) .. ' ' .. before"),
                  "0 kept")
            << bad;
    }
    EXPECT_EQ(run("return select('#', pgf.loadFile('/no/such/file.xml')), select('#', pgf.loadFile('/'))"),
              "0,0");
    // Missing arguments are a script error, not a read of a stack slot that does not exist.
    EXPECT_EQ(run("return (pcall(pgf.loadString))"), "false");
}

TEST_F(PGF, LongLeafTextIsKeptWhole) {
    // Far past the parser's chunk size, with entities splitting the character callbacks.
    std::string text, expected;
    for (int i = 0; i < 20000; ++i) {
        text += "line " + std::to_string(i) + " &amp; more\n";
        expected += "line " + std::to_string(i) + " & more\n";
    }
    dktest::writeFile(dir.file("long.xml"), "<a><b>" + text + "</b><c>short</c></a>");
    set("path", dir.file("long.xml"));
    EXPECT_EQ(run("local t = pgf.loadFile(path) return t[1][1] .. t[2][1]"), expected + "short");
}

TEST_F(PGF, DeepNestingGrowsTheStackAndWarnsPastExpectedLevels) {
    set("doc", nested(250));
    ::testing::internal::CaptureStdout();
    EXPECT_EQ(run("local t, n = pgf.loadString(doc), 1 while type(t[1]) == 'table' do t = t[1] n = n + 1 end "
                  "return n .. ' ' .. t[0] .. ' ' .. t[1]"),
              "250 e deep");
    const std::string out = ::testing::internal::GetCapturedStdout();
    EXPECT_EQ(out.rfind("WARNING! stack size has grown past expected levels( 100 )\n", 0), 0u);
    EXPECT_NE(out.find("levels( 249 )\n"), std::string::npos);
    EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 150);
    // libxml2's own depth limit: no result, no crash.
    set("doc", nested(300));
    ::testing::internal::CaptureStdout();
    EXPECT_EQ(run("return select('#', pgf.loadString(doc))"), "0");
    ::testing::internal::GetCapturedStdout();
}

TEST_F(PGF, ReadingLeavesTheCollectorAsTheScriptHadIt) {
    // Reading pauses collection; a failed or successful reading must not leave it changed.
    for (const char* doc : {"<a><b/></a>", "<a><b></a>"}) {
        for (bool running : {true, false}) {
            lua_gc(L, running ? LUA_GCRESTART : LUA_GCSTOP, 0);
            set("doc", doc);
            run("pgf.loadString(doc)");
            EXPECT_EQ(lua_gc(L, LUA_GCISRUNNING, 0) != 0, running) << doc;
        }
    }
    lua_gc(L, LUA_GCRESTART, 0);
}

TEST_F(PGF, WritesDocumentsInEachFormatAndRoundTripsThroughReading) {
    for (const char* format : {"json", "json-pretty", "xml", "JSON"}) {
        set("format", format);
        std::string expected =
            golden(format[0] == 'j' ? (format[4] ? "small-pretty.json" : "small.json") : "small.xml");
        EXPECT_EQ(run("return smallDocument(format)"), expected) << format;
        // XML statuses are libxml2's byte counts (buffered output counts when flushed), never -1 here.
        std::string statuses = run("return statuses");
        if (format[0] == 'j')
            EXPECT_EQ(statuses, "0,1,1,1,1,1,0");
        else
            EXPECT_EQ(statuses.find('-'), std::string::npos) << statuses;
    }
    // A save document read and written again.
    set("doc", golden("save.xml"));
    EXPECT_EQ(run("return writeDocument(nil, pgf.loadString(doc))"), golden("save.xml"));
    EXPECT_EQ(run("return writeDocument('json', pgf.loadString(doc))"), golden("save.json"));
}

TEST_F(PGF, FileWritersUseTheLiteralPathAndFlushOnCloseOrCollection) {
    set("xmlPath", dir.file("out%41.xml"));
    set("jsonPath", dir.file("out%20b.json"));
    run(R"(local doc = pgf.loadString('<a k="v"><b/></a>')
           local w = pgf.writer.newToFile(xmlPath)
           w:startDocument() emit(w, doc) w:endDocument()
           assert(w:getString() == nil)
           w:close() w:close()
           w = pgf.writer.newToFile(jsonPath, 'json')
           w:startDocument() emit(w, doc) w:endDocument()  -- never closed: collection must flush it)");
    lua_gc(L, LUA_GCCOLLECT, 0);
    EXPECT_FALSE(dktest::exists(dir.file("outA.xml")));
    dktest::writeFile(dir.file("outA.xml"), "<decoded/>");  // and read from the literal path too
    EXPECT_EQ(run("return pgf.loadFile(xmlPath)[0]"), "a");
    EXPECT_EQ(dktest::readFile(dir.file("out%41.xml")), golden("small.xml"));
    EXPECT_EQ(dktest::readFile(dir.file("out%20b.json")), golden("small.json"));
    // A file that cannot be created gives no writer.
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(run("return tostring(pgf.writer.newToFile('/no/such/dir/x.xml', 'json'))"), "nil");
    EXPECT_NE(::testing::internal::GetCapturedStderr().find("/no/such/dir/x.xml"), std::string::npos);
}

TEST_F(PGF, ClosedWritersAndBadArgumentsAreScriptErrors) {
    EXPECT_EQ(run("local w = pgf.writer.newToString('json') w:close() "
                  "local ok, err = pcall(w.startElement, w, 'a') return ok, err:match('used after delete')"),
              "false,used after delete");
    EXPECT_EQ(run("return pcall(pgf.writer.writeAttribute, 'x') or pcall(pgf.writer.endElement, {}) "
                  "or pcall(pgf.writer.close)"),
              "false");
}

TEST_F(PGF, JSONErrorsAreReportedAndKeepTheOutputWellFormed) {
    ::testing::internal::CaptureStdout();
    const std::string result = run(R"(
        local w = pgf.writer.newToString('json')
        local r = {w:endElement(), w:writeAttribute('k', 'v')}  -- nothing open: no output
        w:startElement('a')
        w:startElement('b') w:endElement()
        w:writeAttribute('k', 'v')              -- closes the children array
        r[#r + 1] = w:startElement('c')         -- keys must be strings: c is dropped
        r[#r + 1] = w:writeAttribute('lost', 'x')
        r[#r + 1] = w:endElement()
        r[#r + 1] = w:endElement()
        r[#r + 1] = w:endElement()              -- one more than opened
        r[#r + 1] = w:startElement('second')    -- a second root
        r[#r + 1] = w:endElement()
        local s = w:getString()
        w:close()
        return s .. '|' .. table.concat(r, ',')
    )");
    EXPECT_EQ(::testing::internal::GetCapturedStdout(),
              "keys must be strings\ncomplete document has been generated\n");
    EXPECT_EQ(result, R"({"_type":"a","_children":[{"_type":"b"}],"k":"v"}|0,0,0,0,0,1,0,0,0)");

    ::testing::internal::CaptureStdout();
    set("path", dir.file("f.json"));
    EXPECT_EQ(run("local w = pgf.writer.newToFile(path, 'json') local s = w:getString() w:close() return "
                  "tostring(s)"),
              "nil");
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "no internal buffer\n");
    // XML writers have their own element stack and report -1.
    EXPECT_EQ(run("local w = pgf.writer.newToString() local r = w:endElement() w:close() return r"), "-1");
}

TEST_F(PGF, DeepJSONStopsAtTheGeneratorLimitAndStaysWellFormed) {
    for (const char* format : {"json", "json-pretty"}) {
        set("format", format);
        ::testing::internal::CaptureStdout();
        const std::string json = run(R"(local w = pgf.writer.newToString(format)
            for i = 1, 200 do w:startElement('e' .. i) w:writeAttribute('i', tostring(i)) end
            for i = 1, 200 do w:endElement() end
            local s = w:getString()
            w:close()
            return s)");
        EXPECT_EQ(::testing::internal::GetCapturedStdout(), "max depth exceeded\n");
        char error[256];
        yajl_val tree = yajl_tree_parse(json.c_str(), error, sizeof error);
        EXPECT_NE(tree, nullptr) << json;
        yajl_tree_free(tree);
        EXPECT_NE(json.find("\"e64\""), std::string::npos);
        EXPECT_EQ(json.find("\"e65\""), std::string::npos);
    }
}

// libxml2 keeps a DOCTYPE's entity declarations in a document of its own, which a read cut off in
// the declarations must free.
TEST_F(PGF, AFailedReadOfADoctypeLeaksNothing) {
    for (const char* doc :
         {R"(<!DOCTYPE a [<!ENTITY e "boom")", R"(<!DOCTYPE a [<!ENTITY e "x"><!ENTITY f "y)"}) {
        set("doc", doc);
        run("pgf.loadString(doc)");  // libxml2's one-time set-up
        const auto before = static_cast<long>(mallinfo2().uordblks);
        for (int i = 0; i < 20; ++i) EXPECT_EQ(run("return select('#', pgf.loadString(doc))"), "0");
#if defined(__SANITIZE_ADDRESS__)
        EXPECT_EQ(__lsan_do_recoverable_leak_check(), 0) << doc;
#endif
        // Twenty leaks of a document would be over 200 KB.
        EXPECT_LT(static_cast<long>(mallinfo2().uordblks) - before, 20 * 1024) << doc;
    }
}

// The old document stays whole until a new one is complete: a rewrite killed mid-write changes
// nothing, a finished one replaces it, and a dead writer's temporary goes at the next write.
TEST_F(PGF, ARewriteKilledMidWayLeavesTheOldDocumentWhole) {
    set("path", dir.file("doc"));
    const std::string write =
        "local w = pgf.writer.newToFile(path, format) w:startDocument() w:startElement(root) "
        "for i = 1, count do w:writeAttribute('a' .. i, ('x'):rep(100)) end w:endElement() ";
    for (const char* format : {"xml", "json"}) {
        set("format", format);
        run("root, count = 'old', 1 " + write + "w:close()");
        const std::string old = dktest::readFile(dir.file("doc"));
        EXPECT_TRUE(dktest::killedMidWrite([&] { L.run("root, count = 'new', 1000 " + write); })) << format;
        EXPECT_EQ(dktest::readFile(dir.file("doc")), old) << format;
        run("root, count = 'new', 1 " + write + "w = nil collectgarbage()");
        EXPECT_NE(dktest::readFile(dir.file("doc")).find("new"), std::string::npos) << format;
        EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1) << format;
    }
}

}  // namespace dktest
