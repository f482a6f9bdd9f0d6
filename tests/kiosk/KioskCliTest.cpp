// dk-kiosk-cli's one-shot modes as a whole program: every case of data/cli.cases run through the
// shell (in data/, so "< FILE" reads its inputs), its output, the first line of its standard
// error and its status compared with data/cli.out (DK_UPDATE_EXPECTED=1 rewrites it).
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "platform/web/tests/WebProcesses.h"
#include "platform/web/tests/WebTestPages.h"
#include "tests/support/RecordingServer.h"
#include "tests/support/TestSupport.h"

namespace {

const std::string kCli = DK_BINARY_DIR "/apps/dk-kiosk-cli/dk-kiosk-cli";

TEST(KioskCli, OneShotModesGiveTheirExpectedOutput) {
    std::istringstream cases(dktest::readFile(DK_TEST_DATA_DIR "/cli.cases"));
    std::string transcript, line;
    while (std::getline(cases, line)) {
        dktest::ProcessResult result = dktest::runProcess({"/bin/sh", "-c", "exec \"$0\" " + line, kCli}, {}, DK_TEST_DATA_DIR);
        transcript += "$ " + line + "\n" + result.out;
        if (!result.err.empty()) transcript += "stderr: " + result.err.substr(0, result.err.find('\n')) + "\n";
        transcript += "exit " + std::to_string(result.status) + "\n";
    }
    const std::string golden = DK_TEST_DATA_DIR "/cli.out";
    if (dktest::updatingExpected()) dktest::writeFile(golden, transcript);
    EXPECT_EQ(transcript, dktest::readFile(golden));

    // Fresh tokens each time.
    dktest::ProcessResult first = dktest::runProcess({kCli, "util", "uuid"});
    dktest::ProcessResult second = dktest::runProcess({kCli, "util", "uuid"});
    EXPECT_EQ(first.status, 0);
    EXPECT_EQ(first.out.size(), 28u);
    EXPECT_NE(first.out, second.out);
}

// Command mode in `home`, sharing `pasteboards`; the output with the server's port as PORT.
std::string commands(const std::string& home, const std::string& pasteboards, const std::string& lines,
                     int port = 0, int* status = nullptr) {
    dktest::ProcessResult result = dktest::runProcess(
        {"/bin/sh", "-c", "printf '%s' \"$1\" | exec \"$0\" --home \"$2\" --pasteboards \"$3\" --start-time 1700000000",
         kCli, lines, home, pasteboards});
    if (status) *status = result.status;
    std::string out = result.out;
    if (port)
        for (std::size_t at; (at = out.find(":" + std::to_string(port) + "/")) != std::string::npos;)
            out.replace(at + 1, std::to_string(port).size(), "PORT");
    return out;
}

// Each answer by request order: the same responses the cache's rules are about.
const char* kCacheScript = R"({"requests": {
  "1": {"status": "HTTP/1.1 200 OK", "headers": [["Cache-Control", "max-age=60"]], "body": "sixty"},
  "2": {"status": "HTTP/1.1 200 OK", "headers": [["Cache-Control", "max-age=3600"]], "body": "an hour"},
  "3": {"status": "HTTP/1.1 404 Not Found", "headers": [["Cache-Control", "max-age=3600"]], "body": "missing"},
  "4": {"status": "HTTP/1.1 410 Gone", "body": "gone"},
  "5": {"status": "HTTP/1.1 200 OK", "headers": [["ETag", "\"v1\""], ["Cache-Control", "no-store"]], "body": "tagged"},
  "6": {"status": "HTTP/1.1 200 OK", "headers": [["Cache-Control", "max-age=3600"]], "body": "policy one"},
  "7": {"status": "HTTP/1.1 200 OK", "headers": [["Cache-Control", "max-age=3600"]], "body": "policy four"},
  "8": {"status": "HTTP/1.1 200 OK", "headers": [["Cache-Control", "max-age=3600"]], "body": "fragment"}},
  "default": {"status": "HTTP/1.1 500 Unexpected"}})";

// What went to disk is the user's alone, however permissive the umask.
TEST(KioskCliCache, ThroughURLLoadingAndIntoANewProcess) {
    dktest::TempDir dir;
    const dktest::ScopedUmask permissive(0);
    dktest::RecordingServer server(dir.file("server"), kCacheScript);
    ASSERT_TRUE(server.running());
    const std::string u = server.url();
    const std::string first = commands(dir.file("home"), dir.file("boards"),
                                       "cache install\n"
                                       "cache get " + u + "/m60\ncache get " + u + "/m60\n"
                                       "cache get " + u + "/h3600\ncache get " + u + "/404\n"
                                       "cache get " + u + "/410\ncache get " + u + "/etag\n"
                                       "cache get " + u + "/p1 1\ncache get " + u + "/p4 4\n"
                                       "cache get " + u + "/frag#a\ncache get " + u + "/frag#b\n"
                                       "cache has " + u + "/m60\ncache has " + u + "/p1\ncache usage\n",
                                       server.port());
    // A new process: only what went to disk, with no request made.
    const std::string second = commands(dir.file("home"), dir.file("boards"),
                                        "cache get " + u + "/h3600 3\ncache get " + u + "/410 3\n"
                                        "cache get " + u + "/etag 3\ncache get " + u + "/frag#c 3\n"
                                        "cache get " + u + "/m60 3\ncache get " + u + "/404 3\n"
                                        "cache get " + u + "/p1 3\ncache get " + u + "/p4 3\n"
                                        "cache has " + u + "/m60\ncache has " + u + "/frag\n",
                                        server.port());
    EXPECT_EQ(server.requestLines().size(), 8u);
    const std::string golden = DK_TEST_DATA_DIR "/cache-loading.out";
    const std::string transcript = first + "--- new process\n" + second;
    if (dktest::updatingExpected()) dktest::writeFile(golden, transcript);
    EXPECT_EQ(transcript, dktest::readFile(golden));
    EXPECT_EQ(dktest::unexpectedModes(dir.file("home"), 0600, 0700), std::vector<std::string>{});
}

// Their homes and the slots are the user's alone, however permissive the umask.
TEST(KioskCliUdid, TwoHomesOnOnePasteboardDirectoryAgree) {
    dktest::TempDir dir;
    const dktest::ScopedUmask permissive(0);
    const std::string ask = "udid\ndefaults get SharedUDID\n";
    const std::string first = commands(dir.file("one"), dir.file("boards"), ask);
    const std::string second = commands(dir.file("two"), dir.file("boards"), ask);
    ASSERT_GT(first.size(), 40u);
    EXPECT_EQ(first.substr(0, 40), second.substr(0, 40));
    EXPECT_NE(first.find(R"("SharedUDID_slot":"com.drovik.sharedudid.slot.0")"), std::string::npos) << first;
    EXPECT_NE(second.find(R"("SharedUDID_slot":"com.drovik.sharedudid.slot.1")"), std::string::npos) << second;
    EXPECT_EQ(commands(dir.file("two"), dir.file("boards"), "pasteboard names\n"),
              "com.drovik.sharedudid.slot.0 com.drovik.sharedudid.slot.1\n");
    // Opted out and back in a later process of the second home.
    EXPECT_EQ(commands(dir.file("two"), dir.file("boards"), "udid optout 1\nudid\n").substr(3, 42),
              std::string(40, '0') + " 1");
    EXPECT_EQ(commands(dir.file("two"), dir.file("boards"), "udid optout 0\nudid\n").substr(3, 42),
              first.substr(0, 40) + " 0");
    for (const char* home : {"one", "two"})
        EXPECT_EQ(dktest::unexpectedModes(dir.file(home), 0600, 0700), std::vector<std::string>{}) << home;
    EXPECT_EQ(dktest::unexpectedModes(dir.file("boards"), 0600, 0700), std::vector<std::string>{});
}

TEST(KioskCliCommands, RefusedLinesAndPasteboardValues) {
    dktest::TempDir dir;
    int status = 0;
    const std::string out = commands(dir.file("home"), dir.file("boards"),
                                     "pasteboard put odd/name t {\"a\":[1,\"x\"]}\npasteboard get odd/name t\n"
                                     "pasteboard get odd/name other\npasteboard string odd/name\n"
                                     "defaults set k \"text\"\ndefaults get k\ndefaults remove k\ndefaults get k\n"
                                     "cache get http://127.0.0.1:1/x 7\nbogus\n",
                                     0, &status);
    EXPECT_EQ(out,
              "ok\n{\"a\":[1,\"x\"]}\nnone\nnone\nok\n\"text\"\nok\nnone\n"
              "error usage: cache get URL [POLICY]\nerror unknown command: bogus\n");
    EXPECT_EQ(status, 2);
}

}  // namespace


namespace {

// The query values of each request the content-API peer read: "scount ssum session gid signature".
std::vector<std::string> openChecks(const std::string& out) {
    std::vector<std::string> lines;
    std::istringstream in(dktest::readFile(out + "/checks.jsonl"));
    for (std::string line; std::getline(in, line);) {
        auto value = [&](const std::string& key) {
            // The verdict comes after the parameters, one of which is also "signature".
            std::size_t at = line.rfind("\"" + key + "\": \"");
            if (at == std::string::npos) return std::string("-");
            at += key.size() + 5;
            return line.substr(at, line.find('"', at) - at);
        };
        lines.push_back(value("scount") + " " + value("ssum") + " " + value("session") + " " + value("gid") + " " +
                        value("signature"));
    }
    return lines;
}

TEST(KioskCliOpen, GameIdTimeInGameAndSessionAcrossProcesses) {
    dktest::TempDir dir;
    dktest::RecordingServer server(dir.file("server"), R"({"secret": "sec", "paths": {"/v3/publisher/open/": [
        {"body": "{\"error\": \"busy\"}"}, {"body": "{\"response\": {\"session\": \"S2\"}}"}]}})", 60,
                                   DK_SOURCE_DIR "/tests/servers/kiosk_api_server.py");
    ASSERT_TRUE(server.running());
    const std::string endpoint = "kiosk.api=" + server.url();
    auto session = [&](const std::string& lines) {
        dktest::ProcessResult result = dktest::runProcess(
            {"/bin/sh", "-c", "printf '%s' \"$1\" | exec \"$0\" --home \"$2\" --pasteboards \"$3\" --endpoint \"$4\"",
             kCli, lines, dir.file("home"), dir.file("pasteboards"), endpoint});
        EXPECT_EQ(result.status, 0) << result.out;
        return result.out;
    };
    std::string first = session("gid\nopen tok sec\nrun 10\napp background\ntimeingame\nrequests\n");
    std::string second = session("gid\nopen tok sec\nrun 3\nsession\nopen tok sec\nrun 1\ntimeingame\n");
    EXPECT_NE(first.find("delegate request:didFailWithError: KSPublisherOpenRequest KioskSDK 0 "), std::string::npos);
    EXPECT_NE(first.find("count=1 sum=10.000 current=0.000\nnone\n"), std::string::npos) << first;
    EXPECT_NE(second.find("session=S2\n"), std::string::npos) << second;
    EXPECT_NE(second.find("count=1 sum=1.000 current=1.000\n"), std::string::npos) << second;
    const std::string gid = first.substr(0, first.find('\n'));
    EXPECT_EQ(second.substr(0, second.find('\n')), gid);
    server.stop();
    EXPECT_EQ(openChecks(dir.file("server")), (std::vector<std::string>{"0 0  " + gid + " ok", "1 10  " + gid + " ok",
                                                                        "1 3 S2 " + gid + " ok"}));
}

}  // namespace

namespace {

// Units on the fake page engine, whose template loads from the recording server: what the tool
// answers and the happenings, in order, against data/unit-fake.out (the server's port as PORT).
TEST(KioskCliUnits, ShowFramesEvalDismissAndFailures) {
    dktest::TempDir dir;
    dktest::RecordingServer server(dir.file("server"));
    ASSERT_TRUE(server.running());
    const std::string page = server.url() + "/unit.html";
    auto unit = [&](const std::string& transition, const std::string& frame) {
        return R"({"url":")" + page + R"(","transition":")" + transition + R"(","frame":)" + frame + "}";
    };
    const std::string dialog = unit("KS_DIALOG", R"({"KS_PORTRAIT":{"x":20,"y":40.5,"w":200,"h":100}})");
    const std::string lines = "unit frames\nunit show 0 {\"url\":\"x\"}\n"
                              "unit show 0 " + dialog + "\nsettle\nunit frames\nunit eval \"1 + 1\"\n"
                              "status-bar 1\nunit show 0 " + unit("KS_MODAL", "\"KS_FULLSCREEN\"") + "\nsettle\nunit frames\n"
                              "unit dismiss 0\nunit dismiss 0\nunit dismiss\n"
                              "unit show 0 " + unit("KS_DIALOG", R"({"KS_LANDSCAPE":{"x":0,"y":0,"w":9,"h":9}})") + "\n"
                              "tap 10 10\nmemory.warning\nunit show 2 {}\nunit eval 1\nunit bogus\n";
    dktest::ProcessResult result = dktest::runProcess(
        {"/bin/sh", "-c", "printf '%s' \"$1\" | exec \"$0\" --home \"$2\" --web fake", kCli, lines, dir.file("home")});
    std::string out = result.out;
    const std::string port = std::to_string(server.port());
    for (std::size_t at; (at = out.find(":" + port + "/")) != std::string::npos;) out.replace(at + 1, port.size(), "PORT");
    const std::string golden = DK_TEST_DATA_DIR "/unit-fake.out";
    if (dktest::updatingExpected()) dktest::writeFile(golden, out);
    EXPECT_EQ(out, dktest::readFile(golden));
    EXPECT_EQ(result.status, 2);  // the refused lines
}

// The mended fault: nothing asked the device for its turns, so a unit shown by the tool never
// followed a rotation. A dialog moves to its landscape frame (the status bar hidden), its view over
// the interface's bounds as the window has turned (never turned again inside it), and a unit with
// no landscape frame fails with code 2 when the device turns.
TEST(KioskCliUnits, AUnitFollowsTheDevicesTurns) {
    dktest::TempDir dir;
    dktest::RecordingServer server(dir.file("server"));
    ASSERT_TRUE(server.running());
    auto unit = [&](const std::string& frame) {
        return "unit show 0 {\"url\":\"" + server.url() + "/unit.html\",\"transition\":\"KS_DIALOG\",\"frame\":" +
               frame + "}\n";
    };
    const std::string lines =
        "status-bar 0\n" + unit(R"({"KS_PORTRAIT":{"x":20,"y":40,"w":200,"h":100},"KS_LANDSCAPE":{"x":60,"y":10,"w":300,"h":150}})") +
        "settle\nunit frames\nrotate 3\nunit frames\nrotate 1\n" +
        unit(R"({"KS_PORTRAIT":{"x":0,"y":0,"w":100,"h":100}})") + "settle\nrotate 3\nunit frames\n";
    const dktest::ProcessResult result = dktest::runProcess(
        {"/bin/sh", "-c", "printf '%s' \"$1\" | exec \"$0\" --home \"$2\" --web fake", kCli, lines, dir.file("home")});
    EXPECT_EQ(result.status, 0) << result.out << result.err;
    std::vector<std::string> answers;
    std::istringstream in(result.out);
    for (std::string line; std::getline(in, line);)
        if (line.starts_with("view ") || line.starts_with("delegate contentView:didFailWithError:")) answers.push_back(line);
    EXPECT_EQ(answers, (std::vector<std::string>{
                           "view 0,0,320,480 web 20,40,200,100 border 0,0,0,1 1",
                           "view 0,0,480,320 web 60,10,300,150 border 0,0,0,1 1",
                           "delegate contentView:didFailWithError: KioskSDK 2 The content you requested was not able to "
                           "be shown because it is missing required orientation data.",
                           // The first unit, on top again, turned as well.
                           "view 0,0,480,320 web 60,10,300,150 border 0,0,0,1 1",
                       }))
        << result.out;
}

// The page engine is WPE unless told otherwise, as in the player: a unit's page loads and runs;
// with `--web none` a web view only shows its address. What the engine's own processes store in
// the home is the user's alone, whatever the umask.
TEST(KioskCliUnits, TheRealPageEngineByDefault) {
    dktest::TempDir dir;
    const dktest::ScopedUmask permissive(0);
    dktest::RecordingServer server(
        dir.file("server"),
        R"({"default": {"headers": [["Content-Type", "text/html"]], "body": "<html><head><title>web</title></head></html>"}})");
    ASSERT_TRUE(server.running());
    const std::string lines = "unit show 0 {\"url\":\"" + server.url() +
                              "/unit.html\",\"transition\":\"KS_MODAL\",\"frame\":\"KS_FULLSCREEN\"}\n"
                              "settle 60\nunit eval \"document.title\"\n";
    for (const char* engine : {"", "none"}) {
        std::string options = *engine ? std::string(" --web ") + engine : "";
        const dktest::ProcessResult result = dktest::runProcess(
            {"/bin/sh", "-c", "printf '%s' \"$1\" | exec \"$0\" --home \"$2\" --clock real" + options, kCli, lines,
             dir.file(std::string("home") + engine)});
        EXPECT_EQ(result.status, 0) << result.err;
        const bool loaded = result.out.find("delegate contentViewDidLoad:\nidle\n") != std::string::npos;
        EXPECT_EQ(loaded, !*engine) << engine << "\n" << result.out;
        EXPECT_TRUE(result.out.ends_with(*engine ? "\n\n" : "\nweb\n")) << engine << "\n" << result.out;
    }
    ASSERT_TRUE(dktest::exists(dir.file("home/Library/Caches/WebKit")));
    EXPECT_EQ(dktest::unexpectedModes(dir.file("home"), 0600, 0700), std::vector<std::string>{});
}

// Ends the input of the program `pid` that this process writes through a pipe: our end of it is
// closed, its descriptor left open on /dev/null for its owner to close.
void endInputOf(pid_t pid) {
    char pipe[64] = {}, ours[64];
    ASSERT_GT(readlink(("/proc/" + std::to_string(pid) + "/fd/0").c_str(), pipe, sizeof pipe - 1), 0);
    for (const auto& fd : std::filesystem::directory_iterator("/proc/self/fd")) {
        const ssize_t n = readlink(fd.path().c_str(), ours, sizeof ours - 1);
        if (n <= 0 || std::string(ours, static_cast<std::size_t>(n)) != pipe) continue;
        const int null = open("/dev/null", O_WRONLY);
        dup2(null, std::stoi(fd.path().filename().string()));
        close(null);
    }
}

// However the tool ends (a signal, the end of its input) with a page shown that never yields, no
// process of the page engine outlives it: the stuck one would never read that the tool has gone.
TEST(KioskCliUnits, NoWebProcessOutlivesTheToolWithAStuckPageShown) {
    dktest::TempDir dir;
    const std::string page = dktest::neverYieldingPage("while (true) {}");  // no quotes to escape
    dktest::RecordingServer server(dir.file("server"),
                                   R"({"default": {"headers": [["Content-Type", "text/html"]], "body": ")" + page + R"("}})",
                                   120);
    ASSERT_TRUE(server.running());
    for (const int road : {SIGTERM, SIGINT, 0}) {
        SCOPED_TRACE(road ? strsignal(road) : "end of input");
        dktest::Conversation tool({kCli, "--home", dir.file("home" + std::to_string(road)), "--clock", "real"});
        tool.send("unit show 0 {\"url\":\"" + server.url() +
                  "/unit.html\",\"transition\":\"KS_MODAL\",\"frame\":\"KS_FULLSCREEN\"}\n");
        auto loops = [&] {
            const std::vector<std::string> lines = server.requestLines();
            return std::count_if(lines.begin(), lines.end(),
                                 [](const std::string& line) { return line.find("/looping") != std::string::npos; });
        };
        const auto before = loops();
        auto looping = [&] { return loops() > before; };
        for (int turns = 0; !looping() && turns < 240; ++turns) {
            const std::size_t from = tool.out().size();
            tool.send("run 0.25\n");
            ASSERT_TRUE(tool.waitFor("ok\n", from)) << tool.out();
        }
        const std::vector<pid_t> pages = dktest::webProcessesOf(tool.pid());
        ASSERT_FALSE(pages.empty());
        if (road)
            kill(tool.pid(), road);
        else
            endInputOf(tool.pid());
        // Checked once the tool has ended, before it is reaped: the engine's processes hold its
        // output open, so the end of its output would come only with theirs.
        ASSERT_TRUE(dktest::waitUntil([&] { return dktest::processState(tool.pid()) == 'Z'; }, 60));
        for (pid_t pid : pages) EXPECT_TRUE(dktest::processEnded(pid)) << pid;
        const dktest::ProcessResult result = tool.finish();
        if (!road) {
            EXPECT_EQ(result.status, 0) << result.err;  // a signal ends the tool by its default action
        }
    }
}

// --help answers with the one-shot modes, the utilities and every command of command mode, on
// standard output; each command it lists is one command mode knows.
TEST(KioskCli, HelpListsTheCommandsTheToolKnows) {
    dktest::TempDir work;
    for (const std::vector<std::string>& argv : {std::vector<std::string>{kCli, "--help"}, {kCli, "-h"},
                                                 {kCli, "--home", work.file("home"), "--help"}}) {
        const dktest::ProcessResult result = dktest::runProcess(argv);
        EXPECT_EQ(result.status, 0) << argv.back();
        EXPECT_EQ(result.err, "");
        EXPECT_TRUE(result.out.starts_with("usage: dk-kiosk-cli json parse")) << result.out;
        EXPECT_NE(result.out.find("query-quirky JSON"), std::string::npos);
    }
    const std::string help = dktest::runProcess({kCli, "--help"}).out;
    const std::vector<std::string> words = dktest::helpCommandWords(help, "With --home");
    for (const char* expected : {"run", "settle", "cache", "unit", "content", "badge", "loader"})
        EXPECT_NE(std::find(words.begin(), words.end(), expected), words.end()) << expected;
    EXPECT_EQ(dktest::commandsRefusedAsUnknown({kCli, "--home", work.file("home"), "--net", "none"}, words,
                                               work.path()),
              std::vector<std::string>{});
    // The page engines are spelt as the player spells them; the old "real" is no longer one.
    EXPECT_NE(help.find("[--web wpe|fake|none]"), std::string::npos) << help;
    for (const char* engine : {"real", "webkit"}) {
        const dktest::ProcessResult bad = dktest::runProcess({kCli, "--home", work.file("home"), "--web", engine});
        EXPECT_EQ(bad.status, 2) << engine;
        EXPECT_TRUE(bad.err.starts_with("dk-kiosk-cli: --web takes wpe, fake or none\n")) << bad.err;
    }
    // The last option of the line is named for what it is, not for the value it lacks.
    const dktest::ProcessResult unknown = dktest::runProcess({kCli, "--home", work.file("home"), "--bogus"});
    EXPECT_EQ(unknown.status, 2);
    EXPECT_TRUE(unknown.err.starts_with("dk-kiosk-cli: unknown option --bogus\n")) << unknown.err;
}

}  // namespace
