// Writing documents as XML and JSON into strings and files; round trips through reading.
#include <yajl/yajl_tree.h>

#include <string>

#include "engine/documents/tests/PGFTestState.h"

using Writing = PGFTestState;

namespace {
bool isJSON(const std::string& text) {
    char error[256];
    yajl_val tree = yajl_tree_parse(text.c_str(), error, sizeof error);
    if (!tree) return false;
    yajl_tree_free(tree);
    return true;
}
}  // namespace

TEST_F(Writing, SmallDocumentInEachFormat) {
    const char* calls = R"(
        local w = pgf.writer.newToString(format)
        local r = {w:startDocument(), w:startElement('a'), w:writeAttribute('k', 'v'), w:startElement('b'),
                   w:endElement(), w:endElement(), w:endDocument()}
        local s = w:getString()
        w:close()
        return s .. '|' .. table.concat(r, ',')
    )";
    auto runWith = [&](const char* format) {
        setGlobal("format", format);
        return run(calls);
    };
    EXPECT_EQ(runWith("json"), R"({"_type":"a","k":"v","_children":[{"_type":"b"}]}|0,1,1,1,1,1,0)");
    EXPECT_EQ(runWith("json-pretty"),
              "{\n\t\"_type\": \"a\",\n\t\"k\": \"v\",\n\t\"_children\": [\n\t\t{\n\t\t\t\"_type\": \"b\"\n"
              "\t\t}\n\t]\n}\n|0,1,1,1,1,1,0");
    // XML statuses are libxml2's byte counts (buffered output counts when flushed), never -1 here.
    const std::string xml = runWith("xml");
    EXPECT_EQ(xml.substr(0, xml.find('|')),
              "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<a k=\"v\"><b/></a>\n");
    EXPECT_EQ(xml.find('-', xml.find('|')), std::string::npos) << xml;
    EXPECT_EQ(runWith("JSON").substr(0, 5), "<?xml");
}

TEST_F(Writing, RoundTripsThroughReading) {
    const std::string xml =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        "<save level=\"3\" name=\"Ann &amp; &quot;Bo&quot; &lt;1&gt;\"><item id=\"1\">sword &amp; "
        "shield</item>"
        "<item id=\"2\"/><notes><note>caf\xC3\xA9 \xE2\x9C\x93</note></notes></save>\n";
    setGlobal("doc", xml);
    EXPECT_EQ(run("return writeDocument(nil, pgf.loadString(doc))"), xml);
    EXPECT_EQ(run("return writeDocument('json', pgf.loadString(doc))"),
              R"({"_type":"save","level":"3","name":"Ann & \"Bo\" <1>","_children":[)"
              R"({"_type":"item","id":"1","_text":"sword & shield"},{"_type":"item","id":"2"},)"
              "{\"_type\":\"notes\",\"_children\":[{\"_type\":\"note\",\"_text\":\"caf\xC3\xA9 "
              "\xE2\x9C\x93\"}]}]}");
}

TEST_F(Writing, FileWritersUseTheLiteralPathAndFlushOnCloseOrCollection) {
    setGlobal("xmlPath", dir.file("out%41.xml"));
    setGlobal("jsonPath", dir.file("out%20b.json"));
    run(R"(
        local doc = pgf.loadString('<a><b>x</b></a>')
        local w = pgf.writer.newToFile(xmlPath)
        w:startDocument(); emit(w, doc); w:endDocument()
        assert(w:getString() == nil)
        w:close(); w:close()
        w = pgf.writer.newToFile(jsonPath, 'json')
        w:startDocument(); emit(w, doc); w:endDocument()
        -- never closed: collection must flush it
    )");
    lua_gc(L, LUA_GCCOLLECT, 0);
    EXPECT_FALSE(dktest::exists(dir.file("outA.xml")));
    EXPECT_EQ(dktest::readFile(dir.file("out%41.xml")),
              "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<a><b>x</b></a>\n");
    EXPECT_EQ(dktest::readFile(dir.file("out%20b.json")),
              R"({"_type":"a","_children":[{"_type":"b","_text":"x"}]})");

    // A file that cannot be created gives no writer.
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(run("return tostring(pgf.writer.newToFile('/no/such/dir/x.xml', 'json'))"), "nil");
    EXPECT_NE(::testing::internal::GetCapturedStderr().find("/no/such/dir/x.xml"), std::string::npos);
}

TEST_F(Writing, ClosedWritersAndBadArgumentsAreScriptErrors) {
    EXPECT_EQ(run(R"(
        local w = pgf.writer.newToString('json')
        w:close()
        local ok, err = pcall(w.startElement, w, 'a')
        return tostring(ok) .. ' ' .. err:match('used after delete')
    )"),
              "false used after delete");
    EXPECT_EQ(run("return pcall(pgf.writer.writeAttribute, 'x') or pcall(pgf.writer.endElement, {}) "
                  "or pcall(pgf.writer.close)"),
              "false");
}

TEST_F(Writing, JSONErrorsAreReportedAndKeepTheOutputWellFormed) {
    ::testing::internal::CaptureStdout();
    const std::string result = run(R"(
        local w = pgf.writer.newToString('json')
        local r = {}
        r[#r + 1] = w:endElement()              -- nothing open: no output
        r[#r + 1] = w:writeAttribute('k', 'v')  -- nothing open: no output
        w:startElement('a')
        w:startElement('b'); w:endElement()
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
    setGlobal("path", dir.file("f.json"));
    EXPECT_EQ(run("local w = pgf.writer.newToFile(path, 'json') local s = w:getString() w:close() return "
                  "tostring(s)"),
              "nil");
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "no internal buffer\n");

    // XML writers have their own element stack and report -1.
    EXPECT_EQ(run("local w = pgf.writer.newToString() local r = w:endElement() w:close() return r"), "-1");
}

TEST_F(Writing, DeepJSONStopsAtTheGeneratorLimitAndStaysWellFormed) {
    for (const char* format : {"json", "json-pretty"}) {
        setGlobal("format", format);
        ::testing::internal::CaptureStdout();
        const std::string json = run(R"(
            local w = pgf.writer.newToString(format)
            for i = 1, 200 do w:startElement('e' .. i); w:writeAttribute('i', tostring(i)) end
            for i = 1, 200 do w:endElement() end
            local s = w:getString()
            w:close()
            return s
        )");
        const std::string out = ::testing::internal::GetCapturedStdout();
        EXPECT_TRUE(isJSON(json)) << json;
        EXPECT_NE(json.find("\"e64\""), std::string::npos);
        EXPECT_EQ(json.find("\"e65\""), std::string::npos);
        EXPECT_EQ(out, "max depth exceeded\n");
    }
}
