// dk-util run as a user runs it: exit status, standard output, and what it leaves behind.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <regex>
#include <tuple>

#include "platform/crypto/Crypto.h"
#include "platform/foundation/PropertyList.h"
#include "platform/net/tests/NetTestSupport.h"
#include "platform/util/DKCrypto.h"
#include "tests/support/TestSupport.h"

namespace {

using namespace plat::foundation;

const std::string kTool = DK_BINARY_DIR "/apps/dk-util/dk-util";

std::string sha1Hex(const std::string& text) {
    return plat::crypto::hex(*plat::crypto::sha1(text));
}

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
    // With `input` on standard input.
    dktest::ProcessResult feed(const std::string& input, const std::string& args) {
        dktest::writeFile(m_dir.file("stdin"), input);
        return dktest::runProcess({"/bin/sh", "-c", "exec \"$0\" " + args + " < stdin", kTool}, {}, m_dir.path());
    }

    struct Case {
        std::vector<std::string> args;
        int status;
        std::string out;
    };
    // Failures say why on standard error, but where `quietFailures` (fetch says it in its lines).
    void expect(const std::vector<Case>& cases, const std::vector<std::string>& env = {},
                bool quietFailures = false) {
        for (const Case& c : cases) {
            std::string line;
            for (const std::string& a : c.args) line += a + " ";
            SCOPED_TRACE(line);
            const dktest::ProcessResult r = run(c.args, env);
            EXPECT_EQ(r.status, c.status) << r.err;
            EXPECT_EQ(r.out, c.out);
            EXPECT_EQ(r.err.empty(), c.status == 0 || (quietFailures && c.status == 1)) << r.err;
        }
    }

    dktest::TempDir m_dir;
    std::string m_app = m_dir.file("Game.app");
    std::string m_home = m_dir.file("home");
};

TEST_F(DkUtil, AnswersWithItsExitStatus) {
    const std::string prefs = m_home + "/Library/Preferences/com.test.util.plist";
    expect({
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
    });
    EXPECT_EQ(readPropertyList(m_dir.file("info.xml")), readPropertyList(m_app + "/Info.plist"));
    EXPECT_TRUE(dktest::readFile(m_dir.file("info.xml")).starts_with("<?xml"));
    EXPECT_FALSE(dktest::exists(m_dir.file("never.xml")));
}

// Bad usage names what was wrong before the usage text, so a person need not compare the two.
TEST_F(DkUtil, BadUsageSaysWhatWasWrong) {
    const struct {
        std::vector<std::string> args;
        std::string first;
    } cases[] = {
        {{}, "no command"},
        {{"frobnicate"}, "unknown command \"frobnicate\""},
        {{"plist"}, "plist takes show FILE or convert --xml|--binary IN OUT"},
        {{"plist", "convert", "--json", "a", "b"}, "plist convert takes --xml or --binary, not \"--json\""},
        {{"bundle", "Game.app", "bogus"}, "bundle: no subcommand \"bogus\" (info, path or paths)"},
        {{"bundle", "Game.app", "path", "engine32"}, "bundle path takes NAME TYPE"},
        {{"container", "--home"}, "--home needs a directory"},
        {{"defaults", "Game.app", "fetch", "k"}, "defaults: no subcommand \"fetch\" (get, set or remove)"},
        {{"base64", "encode", "--line", "x"}, "base64 encode --line takes a whole number, not \"x\""},
        {{"sha1", "--strin", "x"}, "sha1 takes [FILE] or --string TEXT"},
        {{"reachability", "flags", "zz"}, "reachability: cannot read \"zz\""},
        {{"fetch", "--timeout", "soon", "http://127.0.0.1/"}, "fetch: --timeout takes seconds, not \"soon\""},
        {{"fetch", "--bogus", "http://127.0.0.1/"}, "fetch: unknown option --bogus"},
        {{"fetch", "--mode"}, "fetch: missing value for --mode"},
        {{"fetch"}, "fetch needs a URL"},
        {{"keychain", "Game.app", "store", "a"}, "keychain takes [--home DIR] BUNDLE store ACCOUNT PASSWORD | get "
                                                 "ACCOUNT | forget ACCOUNT"},
    };
    for (const auto& c : cases) {
        const dktest::ProcessResult r = run(c.args);
        EXPECT_EQ(r.status, 2) << testing::PrintToString(c.args);
        EXPECT_EQ(r.err.substr(0, r.err.find('\n')), "dk-util: " + c.first) << r.err;
        EXPECT_NE(r.err.find("\nusage: dk-util plist show FILE\n"), std::string::npos) << r.err;
    }
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

// ---- the commands over the shared utilities ----

TEST_F(DkUtil, Base64AndDigests) {
    std::string bytes;
    for (int i = 0; i < 48; ++i) bytes += static_cast<char>(i * 37 + 200);
    const DKCrypto::Data data(bytes.begin(), bytes.end());
    const struct {
        std::string input, args;
        int status;
        std::string out;
    } cases[] = {
        {bytes, "base64 encode", 0, DKCrypto::encodeBase64(data)},
        {bytes, "base64 encode --line 10", 0, DKCrypto::encodeBase64(data, 10)},
        {"Zm 9v\nYg==QUJD", "base64 decode", 0, "foob"},
        {"Zm9v\xc3\xa9", "base64 decode", 0, ""},
        {"x", "base64 encode --line -1", 2, ""},
        {"x", "base64 frob", 2, ""},
        {"abc", "sha1", 0, "a9993e364706816aba3e25717850c26c9cd0d89d\n"},
        {"", "sha1 --string ''", 0, "da39a3ee5e6b4b0d3255bfef95601890afd80709\n"},
        {bytes, "sha1 stdin", 0, sha1Hex(bytes) + "\n"},
        {"", "sha1 .", 1, ""},  // a directory cannot be read
        {"", "sha1 missing", 1, ""},
        {"", "sha1 --string", 2, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args);
        const dktest::ProcessResult r = feed(c.input, c.args);
        EXPECT_EQ(r.status, c.status) << r.err;
        EXPECT_EQ(r.out, c.out);
    }
}

TEST_F(DkUtil, ProfilesAndReachability) {
    const std::string plist = *serializePropertyList(
        Value::Dictionary{{"Name", "Ad Hoc"},
                          {"Entitlements", Value::Dictionary{{"application-identifier", "T.com.test.util"}}},
                          {"ProvisionedDevices", Value::Array{"d1"}}},
        PropertyListFormat::Xml);
    dktest::writeFile(m_dir.file("embedded.mobileprovision"), "\x30\x82\xff" + plist + "\xa0\x00\xfe");
    dktest::writeFile(m_dir.file("bare.mobileprovision"), "\x30\x82\xff<plist/>");
    expect({
        {{"profile", "embedded.mobileprovision"}, 0, "type 1\nname Ad Hoc\napplication-identifier T.com.test.util\n"},
        {{"profile", "bare.mobileprovision"}, 1, ""},
        {{"profile", "missing"}, 1, ""},
        {{"profile"}, 2, ""},
        {{"reachability", "flags", "0x40006"}, 0, "status 2\n"},
        {{"reachability", "flags", "22"}, 0, "status 0\n"},  // 0x16: required, intervention
        {{"reachability", "flags", "0x20002", "--local"}, 0, "status 1\n"},
        {{"reachability", "flags", "--local", "0x2"}, 0, "status 0\n"},
        {{"reachability", "flags", "0x"}, 2, ""},
        {{"reachability", "flags", "0x100000000"}, 2, ""},
        {{"reachability", "flags"}, 2, ""},
        {{"reachability", "watch", "--seconds", "-1"}, 2, ""},
    });
    EXPECT_NE(run({"profile", "bare.mobileprovision"}).err.find("no profile"), std::string::npos);
    // The watch's first line comes from the override; no change follows in its time.
    for (const auto& [net, local, out] :
         {std::tuple{"wwan", false, "status 2\n"}, std::tuple{"wifi", true, "status 1\n"},
          std::tuple{"wwan", true, "status 0\n"}}) {
        std::vector<std::string> args{"reachability", "watch", "--seconds", "0.05"};
        if (local) args.push_back("--local");
        expect({{args, 0, out}}, {std::string("DROVIK_NET=") + net});
    }
}

TEST_F(DkUtil, DeviceIdentifiersAndTheKeychain) {
    const dktest::ProcessResult mac = run({"hardware", "mac"});
    ASSERT_EQ(mac.status, 0);
    ASSERT_EQ(mac.out.back(), '\n');
    expect({{{"hardware", "device-id"}, 0, sha1Hex(mac.out.substr(0, mac.out.size() - 1)) + "\n"}});

    // Made once, kept in the user defaults.
    const dktest::ProcessResult first = run({"hardware", "uuid", "--home", "home", "Game.app"});
    ASSERT_EQ(first.status, 0) << first.err;
    EXPECT_EQ(first.out.size(), 37u);
    EXPECT_EQ(first.out.find_first_of("abcdef"), std::string::npos);
    expect({{{"hardware", "uuid", "--home", "home", "Game.app"}, 0, first.out},
            {{"hardware", "uuid", "--home", "home"}, 2, ""},
            {{"hardware", "frob"}, 2, ""}});
    const std::optional<Value> prefs = readPropertyList(m_home + "/Library/Preferences/com.test.util.plist");
    ASSERT_TRUE(prefs && prefs->find("DKDeviceIdentifier"));
    EXPECT_EQ(*prefs->find("DKDeviceIdentifier")->string() + "\n", first.out);

    auto keychain = [](std::vector<std::string> rest) {
        rest.insert(rest.begin(), {"keychain", "--home", "home", "Game.app"});
        return rest;
    };
    expect({
        {keychain({"get", "ann"}), 1, ""},
        {keychain({"store", "ann", "pw\xc3\xa9"}), 0, ""},
        {keychain({"get", "ann"}), 0, "pw\xc3\xa9\n"},
        {keychain({"store", "ann", "pw\xc3\xa9"}), 0, ""},  // the same again stays
        {keychain({"store", "ann", "other"}), 0, ""},
        {keychain({"store", "bob", "b"}), 0, ""},
        {keychain({"get", "ann"}), 0, "other\n"},
        {keychain({"forget", "ann"}), 0, ""},
        {keychain({"get", "ann"}), 1, ""},
        {keychain({"forget", "ann"}), 0, ""},
        {keychain({"fetch", "bob"}), 2, ""},
        {keychain({"store", "bob"}), 2, ""},
    });
    const std::string file = m_home + "/Library/Keychains/keychain.plist";
    struct stat st {};
    ASSERT_EQ(stat(file.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_EQ(readPropertyList(file), Value(Value::Dictionary{{"Drovik", Value::Dictionary{{"bob", Data{'b'}}}}}));
}

TEST_F(DkUtil, TheAddressOfTheFirstEthernetInterfaceOrNone) {
    dktest::NetworkNamespace ns;
    if (!ns.made()) GTEST_SKIP() << "cannot make a network namespace here (needs root and ip)";
    auto inside = [&](const std::string& command) {
        return dktest::runProcess(
            {"/bin/sh", "-c", "exec ip netns exec \"$0\" \"$1\" hardware " + command, ns.name(), kTool}).out;
    };
    // Only a loopback interface: no address, and the identifier of the empty text.
    EXPECT_EQ(inside("mac"), "\n");
    EXPECT_EQ(inside("device-id"), "da39a3ee5e6b4b0d3255bfef95601890afd80709\n");
    // A pair of Ethernet links; both ends carry the address, whichever the list gives first.
    ASSERT_TRUE(ns.ip({"link", "add", "v0", "address", "02:00:5e:0a:bc:0f", "type", "veth", "peer", "name", "v1",
                       "address", "02:00:5e:0a:bc:0f"}));
    EXPECT_EQ(inside("mac"), "02:00:5e:0a:bc:0f\n");
    EXPECT_EQ(inside("device-id"), sha1Hex("02:00:5e:0a:bc:0f") + "\n");
}

TEST_F(DkUtil, FetchPrintsEachCallback) {
    dktest::TestServer server([](const dktest::ReceivedRequest& r) -> dktest::Reply {
        if (r.target == "/moved") return {302, {{"Location", "/there"}}, "moving"};
        if (r.target == "/missing") return {404, {}, "no such page"};
        if (r.target == "/held") return {200, {}, "late", true};
        if (r.target == "/echo")
            return {200, {}, r.method + " " + r.body + " " + (r.header("X-Test") ? *r.header("X-Test") : "")};
        return {200, {}, "hello"};
    });
    // The lines of a load that finished.
    auto lines = [&](int status, const std::string& path, const std::string& body, const std::string& where) {
        const std::string size = std::to_string(body.size());
        return "response " + std::to_string(status) + " " + server.url(path) + " " + where + "\ndata " + size + " " +
               where + "\nfinished " + size + " " + sha1Hex(body) + " " + where + "\n";
    };
    expect(
        {
            {{"fetch", server.url("/a")}, 0, lines(200, "/a", "hello", "main")},
            {{"fetch", "--mode", "thread", server.url("/a")}, 0, lines(200, "/a", "hello", "thread")},
            {{"fetch", "--mode", "sync", server.url("/a")}, 0, lines(200, "/a", "hello", "main")},
            {{"fetch", server.url("/moved")}, 0, lines(200, "/there", "hello", "main")},
            {{"fetch", server.url("/missing")}, 0, lines(404, "/missing", "no such page", "main")},
            {{"fetch", "--data", "a=1", "--header", "X-Test:  yes", server.url("/echo")},
             0,
             lines(200, "/echo", "POST a=1 yes", "main")},
            {{"fetch", "--method", "PUT", "--data", "a=1", server.url("/echo")}, 0, lines(200, "/echo", "PUT a=1 ", "main")},
            {{"fetch", "--mode", "sync", dktest::refusedURL()}, 1, "failed -1004 Could not connect to the server. main\n"},
            {{"fetch", "--cancel-after", "0.2", server.url("/held")}, 1, "cancelled\n"},
            {{"fetch", "--mode", "thread", "--cancel-after", "0.2", server.url("/held")}, 1, "cancelled\n"},
            {{"fetch", "--timeout", "0.3", server.url("/held")}, 1, "failed -1001 The request timed out. main\n"},
            {{"fetch", "--mode", "sync", "--cancel-after", "1", server.url("/a")}, 2, ""},
            {{"fetch", "--mode", "later", server.url("/a")}, 2, ""},
            {{"fetch", "--header", "nocolon", server.url("/a")}, 2, ""},
            {{"fetch"}, 2, ""},
        },
        {}, true);
}

// --help answers with the whole usage on standard output, status 0; nothing at all is still bad
// usage, on standard error.
TEST_F(DkUtil, HelpPrintsTheUsageOnStandardOutput) {
    for (const char* option : {"--help", "-h"}) {
        const dktest::ProcessResult r = run({option});
        EXPECT_EQ(r.status, 0) << option;
        EXPECT_EQ(r.err, "");
        for (const char* command : {"plist", "bundle", "container", "defaults", "bridge", "base64", "sha1", "profile",
                                    "reachability", "fetch", "hardware", "keychain"})
            EXPECT_NE(r.out.find("dk-util " + std::string(command) + " "), std::string::npos) << command;
    }
    const dktest::ProcessResult none = run({});
    EXPECT_EQ(none.status, 2);
    EXPECT_EQ(none.out, "");
    EXPECT_TRUE(none.err.starts_with("dk-util: no command\nusage: dk-util plist show FILE")) << none.err;
}

}  // namespace
