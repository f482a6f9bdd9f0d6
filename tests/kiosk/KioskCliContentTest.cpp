// dk-kiosk-cli's content commands as a whole program against the content-API peer: the road of a
// unit on the fake page engine with the virtual clock (states, the hand-back, the close button's
// timer, the badge), and a template page on the real engine that grants a reward and offers a
// purchase, both signed.
#include <gtest/gtest.h>

#include <chrono>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/RecordingServer.h"
#include "tests/support/TestSupport.h"

namespace {

const std::string kCli = DK_BINARY_DIR "/apps/dk-kiosk-cli/dk-kiosk-cli";

// The content path's answer: a unit whose template the peer serves at /t.html, and a badge.
const char* kUnit =
    R"({\"response\":{\"url\":\"http://$HOST/t.html\",\"transition\":\"KS_DIALOG\",\"frame\":\"KS_FULLSCREEN\",)"
    R"(\"notification\":{\"type\":\"badge\",\"value\":\"12\"}}})";

std::vector<std::string> cli(const std::string& home, const std::string& server, const std::string& web,
                             const std::string& clock) {
    return {kCli,  "--home", home,   "--endpoint",   "kiosk.api=" + server, "--web", web, "--clock",
            clock, "--start-time", "1700000000"};
}

// The tool's output without its "http" lines, whose nonces differ from run to run, and with the
// peer's address, which does too, as "$HOST".
std::string cleaned(const dktest::ProcessResult& result, const std::string& server) {
    EXPECT_EQ(result.status, 0) << result.out << result.err;
    const std::string host = server.substr(server.find("://") + 3);
    std::istringstream in(result.out);
    std::string out;
    for (std::string line; std::getline(in, line);) {
        if (line.starts_with("http ")) continue;
        for (std::size_t at; (at = line.find(host)) != std::string::npos;) line.replace(at, host.size(), "$HOST");
        out += line + "\n";
    }
    return out;
}

std::string run(const std::string& home, const std::string& server, const std::string& web,
                const std::string& clock, const std::string& lines) {
    dktest::Conversation tool(cli(home, server, web, clock));
    tool.send(lines);
    return cleaned(tool.finish(), server);
}

TEST(KioskCliContent, AUnitsRoadOnTheFakeEngine) {
    dktest::TempDir dir;
    dktest::RecordingServer server(
        dir.file("server"),
        std::string(R"({"secret": "s3cr3t", "paths": {"/v3/publisher/content/": {"body": ")") + kUnit +
            R"("}}, "default": {"body": "<html></html>"}})",
        60, DK_SOURCE_DIR "/tests/servers/kiosk_api_server.py");
    ASSERT_TRUE(server.running());
    const std::string out = run(dir.file("home"), server.url(), "fake", "virtual",
                                "content request game_launch tok s3cr3t\n"
                                "content request game_launch tok s3cr3t\n"
                                "content omit requestDidFinishLoading:,request:contentWillDisplay:\n"
                                "content send game_launch\nsettle\nrun 1\nsettle\n"
                                "content state game_launch\nclose-button\nrun 4\nclose-button\n"
                                "content state game_launch\nclose-button\n"
                                "badge make tok s3cr3t more_games\nbadge test\nbadge size\n"
                                "badge refresh\nsettle\nrun 1\nbadge size\nbadge clear\nbadge size\n");
    const std::string golden = DK_TEST_DATA_DIR "/content/fake-road.out";
    if (dktest::updatingExpected()) dktest::writeFile(golden, out);
    EXPECT_EQ(out, dktest::readFile(golden));
}

// The mended fault: the request's unit never heard the device turn in the tool, which made no
// application until a unit command did. A unit with no landscape frame, turned once its close
// button is up, fails the request with code 2.
TEST(KioskCliContent, ARotationReachesTheRequestsUnit) {
    dktest::TempDir dir;
    const char* portraitOnly =
        R"({\"response\":{\"url\":\"http://$HOST/t.html\",\"transition\":\"KS_DIALOG\",)"
        R"(\"frame\":{\"KS_PORTRAIT\":{\"x\":10,\"y\":10,\"w\":100,\"h\":100}}}})";
    dktest::RecordingServer server(
        dir.file("server"),
        std::string(R"({"secret": "s3cr3t", "paths": {"/v3/publisher/content/": {"body": ")") + portraitOnly +
            R"("}}, "default": {"body": "<html></html>"}})",
        60, DK_SOURCE_DIR "/tests/servers/kiosk_api_server.py");
    ASSERT_TRUE(server.running());
    const std::string out = run(dir.file("home"), server.url(), "fake", "virtual",
                                "content request game_launch tok s3cr3t\ncontent send game_launch\nsettle\n"
                                "run 5\nrotate 3\ncontent state game_launch\n");
    EXPECT_NE(out.find("delegate request:contentDidDisplay: game_launch\n"), std::string::npos) << out;
    EXPECT_NE(out.find("delegate request:contentDidFailWithError: game_launch KioskSDK 2 "), std::string::npos) << out;
    EXPECT_TRUE(out.ends_with("\nok\n4\n")) << out;
}

TEST(KioskCliContent, ATemplateOnTheRealEngineGrantsARewardAndOffersAPurchase) {
    dktest::TempDir dir;
    std::string page = dktest::readFile(DK_TEST_DATA_DIR "/content/template.html");
    std::string quoted;
    for (char c : page) {
        if (c == '\n') continue;
        if (c == '"' || c == '\\') quoted += '\\';
        quoted += c;
    }
    dktest::RecordingServer server(
        dir.file("server"),
        std::string(R"({"secret": "s3cr3t", "paths": {"/v3/publisher/content/": {"body": ")") + kUnit +
            R"("}}, "default": {"headers": [["Content-Type", "text/html"]], "body": ")" + quoted + R"("}})",
        60, DK_SOURCE_DIR "/tests/servers/kiosk_api_server.py");
    ASSERT_TRUE(server.running());
    // The page's calls come on the engine's own time: the tool runs on the real clock, a quarter
    // second a command, until the page has offered its purchase (a generous limit on that).
    dktest::Conversation tool(cli(dir.file("home"), server.url(), "wpe", "real"));
    tool.send("defaults set KioskGID \"gidGIDgidGIDgidGIDgidGIDgid\"\n"
              "content request game_launch tok s3cr3t\ncontent send game_launch\n");
    const auto start = std::chrono::steady_clock::now();
    while (tool.out().find("delegate request:makePurchase:") == std::string::npos &&
           std::chrono::steady_clock::now() - start < std::chrono::seconds(90)) {
        const std::size_t from = tool.out().size();
        tool.send("run 0.25\n");
        if (!tool.waitFor("ok\n", from)) break;
    }
    tool.send("purchase resolve 0\nclose-button\n");
    const std::string out = cleaned(tool.finish(), server.url());
    EXPECT_NE(out.find("delegate request:contentDidDisplay: game_launch\n"), std::string::npos) << out;
    EXPECT_NE(out.find("delegate request:unlockedReward: game_launch coins 1 rcpt-1\n"), std::string::npos)
        << out;
    EXPECT_NE(out.find("delegate request:makePurchase: game_launch com.example.gems Gems 2 rcpt-2 p1\n"),
              std::string::npos)
        << out;
    EXPECT_NE(out.find("KioskAPICallback(\"p1\",{\"resolution\":\"buy\"},null)\n"), std::string::npos) << out;
    // The template asked for its close button before the timer: it is there to tap.
    EXPECT_NE(out.find("tapped\njs document.open();document.close();\n"
                       "delegate request:contentDidDismissWithType: game_launch "
                       "KSPublisherNativeCloseButtonTriggeredDismiss\n"),
              std::string::npos)
        << out;
}

}  // namespace
