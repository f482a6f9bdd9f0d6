// dk-util's commands over the shared utilities, run as a user runs them: exit status, standard
// output, and what they leave in the container.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "platform/crypto/Crypto.h"
#include "platform/foundation/PropertyList.h"
#include "platform/net/tests/NetTestSupport.h"
#include "platform/util/DKCrypto.h"
#include "tests/support/TestSupport.h"

namespace {

using plat::foundation::Value;

const std::string kTool = DK_BINARY_DIR "/apps/dk-util/dk-util";

std::string sha1Hex(const std::string& text) {
    return plat::crypto::hex(*plat::crypto::sha1(text));
}

class UtilCommands : public ::testing::Test {
protected:
    void SetUp() override {
        std::filesystem::create_directories(m_app);
        ASSERT_TRUE(plat::foundation::writePropertyList(
            m_app + "/Info.plist", Value::Dictionary{{"CFBundleIdentifier", "com.test.util"}},
            plat::foundation::PropertyListFormat::Xml));
    }

    dktest::ProcessResult run(std::vector<std::string> args, const std::vector<std::string>& env = {}) {
        args.insert(args.begin(), kTool);
        return dktest::runProcess(args, env, m_dir.path());
    }
    // With `input` on standard input.
    dktest::ProcessResult feed(const std::string& input, const std::string& args) {
        dktest::writeFile(m_dir.file("stdin"), input);
        return dktest::runProcess({"/bin/sh", "-c", "exec \"$0\" " + args + " < stdin", kTool}, {},
                                  m_dir.path());
    }

    struct Case {
        std::vector<std::string> args;
        int status;
        std::string out;
    };
    // Failures say why on standard error; `fetch` says it in its lines.
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

TEST_F(UtilCommands, Base64AndDigests) {
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

TEST_F(UtilCommands, ProfilesAndReachability) {
    const std::string plist = *plat::foundation::serializePropertyList(
        Value::Dictionary{{"Name", "Ad Hoc"},
                          {"Entitlements", Value::Dictionary{{"application-identifier", "T.com.test.util"}}},
                          {"ProvisionedDevices", Value::Array{"d1"}}},
        plat::foundation::PropertyListFormat::Xml);
    dktest::writeFile(m_dir.file("embedded.mobileprovision"), "\x30\x82\xff" + plist + "\xa0\x00\xfe");
    dktest::writeFile(m_dir.file("bare.mobileprovision"), "\x30\x82\xff<plist/>");
    expect({
        {{"profile", "embedded.mobileprovision"},
         0,
         "type 1\nname Ad Hoc\napplication-identifier T.com.test.util\n"},
        {{"profile", "bare.mobileprovision"}, 1, ""},
        {{"profile", "missing"}, 1, ""},
        {{"profile"}, 2, ""},
        {{"reachability", "flags", "0x40006"}, 0, "status 2\n"},
        {{"reachability", "flags", "22"}, 0, "status 0\n"},  // 0x16: required, intervention
        {{"reachability", "flags", "0xe"}, 0, "status 1\n"},
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
        const dktest::ProcessResult r = run(args, {std::string("DROVIK_NET=") + net});
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.out, out) << net;
    }
}

TEST_F(UtilCommands, DeviceIdentifiersAndTheKeychain) {
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
    const std::optional<Value> prefs =
        plat::foundation::readPropertyList(m_home + "/Library/Preferences/com.test.util.plist");
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
        {keychain({"get", "bob"}), 0, "b\n"},
        {keychain({"fetch", "bob"}), 2, ""},
        {keychain({"store", "bob"}), 2, ""},
    });
    struct stat st {};
    ASSERT_EQ(stat((m_home + "/Library/Keychains/keychain.plist").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    const std::optional<Value> items =
        plat::foundation::readPropertyList(m_home + "/Library/Keychains/keychain.plist");
    EXPECT_EQ(items,
              Value(Value::Dictionary{{"Drovik", Value::Dictionary{{"bob", plat::foundation::Data{'b'}}}}}));
}

// `ip` from wherever Debian put it.
bool ip(std::vector<std::string> args) {
    std::string tool = "ip";
    for (const char* place : {"/usr/sbin/ip", "/sbin/ip", "/usr/bin/ip", "/bin/ip"})
        if (access(place, X_OK) == 0) tool = place;
    args.insert(args.begin(), tool);
    return dktest::runProcess(args).status == 0;
}

TEST_F(UtilCommands, TheAddressOfTheFirstEthernetInterfaceOrNone) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root to make a network namespace";
    const std::string ns = "dkutil" + std::to_string(getpid());
    if (!ip({"netns", "add", ns})) GTEST_SKIP() << "cannot make a network namespace here";
    struct Removed {
        const std::string& ns;
        ~Removed() { ip({"netns", "del", ns}); }
    } removed{ns};
    auto inside = [&](const std::string& command) {
        return dktest::runProcess(
            {"/bin/sh", "-c", "exec ip netns exec \"$0\" \"$1\" hardware " + command, ns, kTool});
    };
    // Only a loopback interface: no address, and the identifier of the empty text.
    EXPECT_EQ(inside("mac").out, "\n");
    EXPECT_EQ(inside("device-id").out, "da39a3ee5e6b4b0d3255bfef95601890afd80709\n");
    // A pair of Ethernet links; both ends carry the address, whichever the list gives first.
    ASSERT_TRUE(ip({"-n", ns, "link", "add", "v0", "address", "02:00:5e:0a:bc:0f", "type", "veth", "peer",
                    "name", "v1", "address", "02:00:5e:0a:bc:0f"}));
    EXPECT_EQ(inside("mac").out, "02:00:5e:0a:bc:0f\n");
    EXPECT_EQ(inside("device-id").out, sha1Hex("02:00:5e:0a:bc:0f") + "\n");
}

TEST_F(UtilCommands, FetchPrintsEachCallback) {
    dktest::TestServer server([](const dktest::ReceivedRequest& r) -> dktest::Reply {
        if (r.target == "/moved") return {302, {{"Location", "/there"}}, "moving"};
        if (r.target == "/missing") return {404, {}, "no such page"};
        if (r.target == "/held") return {200, {}, "late", true};
        if (r.target == "/echo")
            return {200, {}, r.method + " " + r.body + " " + (r.header("X-Test") ? *r.header("X-Test") : "")};
        return {200, {}, "hello"};
    });
    const std::string hello = " 5 " + sha1Hex("hello");
    expect(
        {
            {{"fetch", server.url("/a")},
             0,
             "response 200 " + server.url("/a") + " main\ndata 5 main\nfinished" + hello + " main\n"},
            {{"fetch", "--mode", "thread", server.url("/a")},
             0,
             "response 200 " + server.url("/a") + " thread\ndata 5 thread\nfinished" + hello + " thread\n"},
            {{"fetch", "--mode", "sync", server.url("/a")},
             0,
             "response 200 " + server.url("/a") + " main\ndata 5 main\nfinished" + hello + " main\n"},
            {{"fetch", server.url("/moved")},
             0,
             "response 200 " + server.url("/there") + " main\ndata 5 main\nfinished" + hello + " main\n"},
            {{"fetch", server.url("/missing")},
             0,
             "response 404 " + server.url("/missing") + " main\ndata 12 main\nfinished 12 " +
                 sha1Hex("no such page") + " main\n"},
            {{"fetch", "--mode", "sync", dktest::refusedURL()},
             1,
             "failed -1004 Could not connect to the server. main\n"},
            {{"fetch", "--cancel-after", "0.2", server.url("/held")}, 1, "cancelled\n"},
            {{"fetch", "--mode", "thread", "--cancel-after", "0.2", server.url("/held")}, 1, "cancelled\n"},
            {{"fetch", "--timeout", "0.3", server.url("/held")},
             1,
             "failed -1001 The request timed out. main\n"},
            {{"fetch", "--mode", "sync", "--cancel-after", "1", server.url("/a")}, 2, ""},
            {{"fetch", "--mode", "later", server.url("/a")}, 2, ""},
            {{"fetch", "--header", "nocolon", server.url("/a")}, 2, ""},
            {{"fetch"}, 2, ""},
        },
        {}, true);
    const std::string echoed = "POST a=1 yes";
    expect({{{"fetch", "--data", "a=1", "--header", "X-Test:  yes", server.url("/echo")},
             0,
             "response 200 " + server.url("/echo") + " main\ndata 12 main\nfinished 12 " + sha1Hex(echoed) +
                 " main\n"},
            {{"fetch", "--method", "PUT", "--data", "a=1", server.url("/echo")},
             0,
             "response 200 " + server.url("/echo") + " main\ndata 8 main\nfinished 8 " + sha1Hex("PUT a=1 ") +
                 " main\n"}});
}

}  // namespace
