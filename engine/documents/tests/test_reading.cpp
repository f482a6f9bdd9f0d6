// Reading XML into element tables: structure, entities, malformed input, paths, long text, depth.
#include <algorithm>
#include <string>

#include "engine/documents/tests/PGFTestState.h"

using Reading = PGFTestState;

TEST_F(Reading, ElementsAttributesChildrenAndLeafText) {
    setGlobal("doc", R"(<?xml version="1.0"?><a x="1"><b>hi</b><c/></a>)");
    EXPECT_EQ(run("return dump(pgf.loadString(doc))"),
              R"({[0]="a",[1]={[0]="b",[1]="hi"},[2]={[0]="c"},x="1"})");
    // The same through the "parser" table, and the attribute stays a string.
    EXPECT_EQ(run("return type(pgf.parser.loadString(doc).x)"), "string");
    // Text between child elements is dropped; whitespace-only leaves keep their text.
    setGlobal("doc", "<r>lead<a>one</a>mid<b> </b>tail</r>");
    EXPECT_EQ(run("return dump(pgf.loadString(doc))"),
              R"({[0]="r",[1]={[0]="a",[1]="one"},[2]={[0]="b",[1]=" "}})");
}

TEST_F(Reading, EntitiesAndCharacterReferences) {
    setGlobal("doc",
              R"(<a v="x&amp;y&#38;z" w="&amp;#38;" q="&lt;&quot;&apos;&gt;">&lt;b&gt; &amp; &#233;</a>)");
    EXPECT_EQ(run("local t = pgf.loadString(doc) return t.v .. '|' .. t.w .. '|' .. t.q .. '|' .. t[1]"),
              "x&y&z|&#38;|<\"'>|<b> & \xC3\xA9");
    setGlobal("doc", "<a><![CDATA[x<y]]>&amp;<![CDATA[&amp;]]></a>");
    EXPECT_EQ(run("return pgf.loadString(doc)[1]"), "x<y&&amp;");
    // Entities outside the predefined five are not looked up anywhere.
    setGlobal("doc", R"(<!DOCTYPE a [<!ENTITY e "boom">]><a>&e;</a>)");
    EXPECT_EQ(run("local t = pgf.loadString(doc) return t and dump(t)"), "nil");
}

TEST_F(Reading, MalformedInputGivesNoResultAndLeavesTheStackAlone) {
    for (const char* bad : {"", "   ", "<a>", "<a><b></a>", "<a/><b/>", "<a x='1' x='2'/>", "<a>&nope;</a>",
                            "not xml", "<a/>trailing", "<a>\xff</a>"}) {
        setGlobal("bad", bad);
        EXPECT_EQ(run("local before = 'kept'\n"
                      "return select('#', pgf.loadString(bad)) .. ' ' .. before"),
                  "0 kept")
            << bad;
    }
    EXPECT_EQ(run("return select('#', pgf.loadFile('/no/such/file.xml'))"), "0");
    EXPECT_EQ(run("return select('#', pgf.loadFile('/'))"), "0");  // a directory
    // Missing arguments are a script error, not a read of a stack slot that does not exist.
    EXPECT_EQ(run("return tostring(pcall(pgf.loadString))"), "false");
}

TEST_F(Reading, FilePathIsTakenLiterally) {
    dktest::writeFile(dir.file("doc%41.xml"), "<literal/>");
    dktest::writeFile(dir.file("docA.xml"), "<decoded/>");
    setGlobal("path", dir.file("doc%41.xml"));
    EXPECT_EQ(run("return pgf.loadFile(path)[0]"), "literal");
}

TEST_F(Reading, LongLeafTextIsKeptWhole) {
    // Far past the parser's chunk size, with entities splitting the character callbacks.
    std::string text, expected;
    for (int i = 0; i < 20000; ++i) {
        text += "line " + std::to_string(i) + " &amp; more\n";
        expected += "line " + std::to_string(i) + " & more\n";
    }
    dktest::writeFile(dir.file("long.xml"), "<a><b>" + text + "</b><c>short</c></a>");
    setGlobal("path", dir.file("long.xml"));
    EXPECT_EQ(run("return pgf.loadFile(path)[1][1]"), expected);
    EXPECT_EQ(run("return pgf.loadFile(path)[2][1]"), "short");
}

TEST_F(Reading, DeepNestingGrowsTheStackAndWarnsPastExpectedLevels) {
    auto nested = [](int levels) {
        std::string open, close;
        for (int i = 0; i < levels; ++i) {
            open += "<e" + std::to_string(i) + ">";
            close = "</e" + std::to_string(i) + ">" + close;
        }
        return open + "deep" + close;
    };
    setGlobal("doc", nested(250));
    ::testing::internal::CaptureStdout();
    EXPECT_EQ(run("local t, n = pgf.loadString(doc), 1\n"
                  "while type(t[1]) == 'table' do t = t[1]; n = n + 1 end\n"
                  "return n .. ' ' .. t[0] .. ' ' .. t[1]"),
              "250 e249 deep");
    const std::string out = ::testing::internal::GetCapturedStdout();
    EXPECT_EQ(out.rfind("WARNING! stack size has grown past expected levels( 100 )\n", 0), 0u);
    EXPECT_NE(out.find("levels( 249 )\n"), std::string::npos);
    EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 150);
    // libxml2's own depth limit: no result, no crash.
    setGlobal("doc", nested(300));
    ::testing::internal::CaptureStdout();
    EXPECT_EQ(run("return select('#', pgf.loadString(doc))"), "0");
    ::testing::internal::GetCapturedStdout();
}

TEST_F(Reading, CollectorIsLeftAsTheScriptHadIt) {
    // Reading pauses collection; a failed or successful reading must not leave it changed.
    for (const char* doc : {"<a><b/></a>", "<a><b></a>"}) {
        setGlobal("doc", doc);
        run("pgf.loadString(doc)");
        EXPECT_TRUE(lua_gc(L, LUA_GCISRUNNING, 0)) << doc;
        lua_gc(L, LUA_GCSTOP, 0);
        run("pgf.loadString(doc)");
        EXPECT_FALSE(lua_gc(L, LUA_GCISRUNNING, 0)) << doc;
        lua_gc(L, LUA_GCRESTART, 0);
    }
}
