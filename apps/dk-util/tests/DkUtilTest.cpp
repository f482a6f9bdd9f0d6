#include <gtest/gtest.h>

#include <filesystem>
#include <regex>

#include "platform/foundation/PropertyList.h"
#include "tests/support/TestSupport.h"

namespace {

using namespace plat::foundation;

const std::string kTool = DK_BINARY_DIR "/apps/dk-util/dk-util";

class DkUtil : public ::testing::Test {
protected:
    void SetUp() override {
        for (const char* file : {"engine32.luo", "b.gameproj", "Z.gameproj", "Base.lproj/title.txt"}) {
            std::filesystem::create_directories(std::filesystem::path(m_app + "/" + file).parent_path());
            dktest::writeFile(m_app + "/" + file, file);
        }
        ASSERT_TRUE(writePropertyList(m_app + "/Info.plist",
                                      Value::Dictionary{{"CFBundleIdentifier", "com.test.util"}, {"DKOverscan", true}},
                                      PropertyListFormat::Binary));
        dktest::writeFile(m_dir.file("damaged.plist"), "<plist><dict>");
    }

    dktest::ProcessResult run(std::vector<std::string> args, const std::vector<std::string>& env = {}) {
        args.insert(args.begin(), kTool);
        return dktest::runProcess(args, env, m_dir.path());
    }

    dktest::TempDir m_dir;
    std::string m_app = m_dir.file("Game.app");
    std::string m_home = m_dir.file("home");
};

TEST_F(DkUtil, AnswersWithItsExitStatus) {
    const std::string prefs = m_home + "/Library/Preferences/com.test.util.plist";
    const struct Case {
        std::vector<std::string> args;
        int status;
        std::string out;
    } cases[] = {
        {{}, 2, ""},
        {{"frobnicate"}, 2, ""},
        {{"plist"}, 2, ""},
        {{"plist", "convert", "--json", "Game.app/Info.plist", "out"}, 2, ""},
        {{"plist", "show", "Game.app/Info.plist"}, 0, "{\"CFBundleIdentifier\":\"com.test.util\",\"DKOverscan\":true}\n"},
        {{"plist", "show", "missing.plist"}, 1, ""},
        {{"plist", "show", "damaged.plist"}, 1, ""},
        {{"plist", "convert", "--xml", "Game.app/Info.plist", "info.xml"}, 0, ""},
        {{"plist", "convert", "--xml", "damaged.plist", "never.xml"}, 1, ""},
        {{"bundle", "Game.app", "info", "CFBundleIdentifier"}, 0, "\"com.test.util\"\n"},
        {{"bundle", "Game.app", "info", "Missing"}, 1, ""},
        {{"bundle", "Game.app", "path", "engine32", "luo"}, 0, m_app + "/engine32.luo\n"},
        {{"bundle", "Game.app/", "path", "title", "txt"}, 0, m_app + "/Base.lproj/title.txt\n"},
        {{"bundle", "Game.app", "path", "nothing", "luo"}, 1, ""},
        {{"bundle", "Game.app", "paths", "gameproj"}, 0, m_app + "/Z.gameproj\n" + m_app + "/b.gameproj\n"},
        {{"bundle", "Game.app", "paths", "none"}, 0, ""},
        {{"bundle", "Missing.app", "info"}, 1, ""},
        {{"bundle", "Game.app", "bogus"}, 2, ""},
        {{"bundle", "Game.app", "path", "engine32"}, 2, ""},
        {{"container", "--home", "home", "Game.app"}, 0,
         m_home + "/Documents\n" + m_home + "/Library/Caches\n" + m_home + "/Library/Application Support\n" + m_home +
             "/Library/Preferences\n" + m_home + "/tmp\n"},
        {{"container", "--home"}, 2, ""},
        {{"container", "--home", "damaged.plist/x", "Game.app"}, 1, ""},
        {{"defaults", "--home", "home", "Game.app", "get", "k"}, 1, ""},
        {{"defaults", "--home", "home", "Game.app", "set", "k", R"({"b":[1,2.5,{"date":"1999-01-01T00:00:00Z"}],"a":"\u00e9"})"},
         0, ""},
        {{"defaults", "--home", "home", "Game.app", "get", "k"}, 0,
         "{\"a\":\"\u00e9\",\"b\":[1,2.5,{\"date\":\"1999-01-01T00:00:00Z\"}]}\n"},
        {{"defaults", "--home", "home", "Game.app", "set", "k", "{not json"}, 2, ""},
        {{"defaults", "--home", "home", "Game.app", "set", "k", "[null]"}, 2, ""},
        {{"defaults", "--home", "home", "Game.app", "get", "k"}, 0,
         "{\"a\":\"\u00e9\",\"b\":[1,2.5,{\"date\":\"1999-01-01T00:00:00Z\"}]}\n"},
        {{"defaults", "--home", "home", "Game.app", "remove", "k"}, 0, ""},
        {{"defaults", "--home", "home", "Game.app", "get", "k"}, 1, ""},
        {{"defaults", "--home", "home", "Game.app", "remove", "k"}, 0, ""},
        {{"defaults", "Game.app", "fetch", "k"}, 2, ""},
        {{"plist", "show", prefs}, 0, "{}\n"},
    };
    for (const Case& c : cases) {
        std::string line;
        for (const std::string& a : c.args) line += a + " ";
        SCOPED_TRACE(line);
        const dktest::ProcessResult r = run(c.args);
        EXPECT_EQ(r.status, c.status) << r.err;
        EXPECT_EQ(r.out, c.out);
        EXPECT_EQ(r.err.empty(), c.status == 0) << r.err;
    }
    EXPECT_EQ(readPropertyList(m_dir.file("info.xml")), readPropertyList(m_app + "/Info.plist"));
    EXPECT_TRUE(dktest::readFile(m_dir.file("info.xml")).starts_with("<?xml"));
    EXPECT_FALSE(dktest::exists(m_dir.file("never.xml")));
}

TEST_F(DkUtil, FindsTheContainerThroughTheEnvironment) {
    const dktest::ProcessResult set =
        run({"defaults", "Game.app", "set", "n", "42"}, {"DROVIK_HOME=", "XDG_DATA_HOME=" + m_dir.file("xdg")});
    ASSERT_EQ(set.status, 0) << set.err;
    EXPECT_EQ(readPropertyList(m_dir.file("xdg/drovik/com.test.util/Library/Preferences/com.test.util.plist")),
              Value(Value::Dictionary{{"n", 42}}));
    const dktest::ProcessResult get = run({"defaults", "Game.app", "get", "n"}, {"DROVIK_HOME=" + m_home});
    EXPECT_EQ(get.status, 1);
}

// The bridge's trace on standard output between the script's own lines, time stamps aside.
TEST_F(DkUtil, BridgeRunsAScriptAgainstThePlugins) {
    const dktest::ProcessResult r =
        run({"bridge", DK_TEST_DATA_DIR "/bridge.lua"}, {"DROVIK_TRACE=", "DROVIK_TRACE_FILE="});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(std::regex_replace(r.out, std::regex("^t=[0-9]+\\.[0-9]{6} ", std::regex::multiline), ""),
              dktest::readFile(DK_TEST_DATA_DIR "/bridge.expected"));

    dktest::writeFile(m_dir.file("broken.lua"), "function initEngine(");
    for (const char* script : {"missing.lua", "broken.lua"}) {
        const dktest::ProcessResult failed = run({"bridge", script});
        EXPECT_EQ(failed.status, 1) << script;
        EXPECT_EQ(failed.out, "") << script;
        EXPECT_TRUE(failed.err.starts_with("dk-util: ") && failed.err.find(script) != std::string::npos)
            << failed.err;
    }
    EXPECT_EQ(run({"bridge"}).status, 2);
    EXPECT_EQ(run({"bridge", "a.lua", "b.lua"}).status, 2);
}

}  // namespace
