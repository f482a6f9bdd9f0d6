// The Twitter plugin's roads, driven from outside: drovik-player runs the probe game, whose steps
// call "StartSendTweet", with the accounts file a case gives and the service's servers on a local
// server; the input script plays the player's part (alerts, the account picker, the compose
// sheet). Standard error is compared with data/road/twitter-<case>.txt, the requests the server
// got are checked, and every road leaves the game view's pause count where it found it.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <regex>
#include <string>
#include <vector>

#include "platform/image/ImageCodec.h"
#include "platform/services/social/tests/SocialTestSupport.h"
#include "tests/support/TestSupport.h"

namespace {

namespace fs = std::filesystem;
using dktest::ReceivedRequest;
using Requests = std::vector<ReceivedRequest>;

const std::string kPlayer = DK_BINARY_DIR "/apps/drovik-player/drovik-player";
const std::string kProbeApp = DK_SOURCE_DIR "/player/tests/data/Probe.app";
const std::string kUpdate = "/1/statuses/update.json";
const std::string kUpdateWithMedia = "/1/statuses/update_with_media.json";

struct TwitterRoad {
    const char* name;
    std::optional<std::string> accounts;  // accounts.plist; none: the service is absent
    const char* steps;                    // the probe project's steps
    const char* input;
    std::vector<dktest::Reply> replies = {};  // in order; then 200 "{}"
    std::function<void(const Requests&, const std::string& server)> check = [](const Requests& r, const std::string&) {
        EXPECT_TRUE(r.empty());
    };
    std::string systemVersion = "6.1";
};

std::string granted(int accounts, const std::string& entries = "") {
    std::vector<plat::social::Account> list;
    for (int i = 1; i <= accounts; ++i) list.push_back(dktest::testAccount(i));
    return dktest::accountsPlist(list, entries);
}

// The form's status of a text post.
std::string formStatus(const ReceivedRequest& request) {
    return request.body.rfind("status=", 0) == 0 ? request.body.substr(7) : "<no status>";
}

const TwitterRoad kRoads[] = {
    // Access refused: the road's pause and its play, nothing else.
    {"denied", granted(1, "<key>access</key><string>denied</string>"),
     "function() probe('StartSendTweet', 'hi', false) end", "7 memory.warning\n+0.5 app.quit\n"},
    // No account: play, then the alert; "Settings" opens the settings page.
    {"no-account", granted(0), "function() probe('StartSendTweet', 'hi', false) end",
     "7 memory.warning\n+0.5 alert.press \"Settings\"\n+0.5 app.quit\n"},
    // One account: a text post (200: posted), one with the image (413: too large), a nil message
    // (sent as ""; a JSON error shown), an image that cannot be read (no request), an answer whose
    // error is no string (the status's text).
    {"one-account", granted(1),
     R"(function() probe('StartSendTweet', 'Hello & w\195\182rld', false) end,
  function() probe('StartSendTweet', 'with a picture', false, 'pic.png') end,
  function() probe('StartSendTweet', nil, false) end,
  function() probe('StartSendTweet', 'lost', false, 'missing.png') end,
  function() probe('StartSendTweet', 'odd', false) end)",
     R"(7 memory.warning
+0.5 alert.press "Ok"
+0.5 memory.warning
+0.5 alert.press "Ok"
+0.5 memory.warning
+0.5 alert.press "Ok"
+0.5 memory.warning
+0.5 alert.press "Ok"
+0.5 memory.warning
+0.5 alert.press "Ok"
+0.5 app.quit
)",
     {{200, {}, R"({"id":1})"},
      {413, {{"Content-Type", "text/html"}}, "<html><body>Request Entity Too Large</body></html>"},
      {403, {}, R"({"error":"Status is a duplicate."})"},
      {500, {}, R"({"error":{"code":7}})"}},
     [](const Requests& r, const std::string& server) {
         ASSERT_EQ(r.size(), 4u);
         EXPECT_EQ(r[0].method, "POST");
         EXPECT_EQ(r[0].target, kUpdate);
         EXPECT_EQ(*r[0].header("Content-Type"), "application/x-www-form-urlencoded");
         EXPECT_EQ(formStatus(r[0]), "Hello%20%26%20w%C3%B6rld");
         EXPECT_TRUE(dktest::carriesValidSignature(r[0], server + kUpdate, dktest::testAccount(1)));
         EXPECT_EQ(r[1].target, kUpdateWithMedia);
         const auto parts = dktest::multipartParts(r[1]);
         ASSERT_EQ(parts.size(), 2u);
         EXPECT_EQ(parts[0].disposition, "form-data; name=\"media[]\"");
         EXPECT_EQ(parts[1].disposition, "form-data; name=\"status\"");
         for (const auto& part : parts) EXPECT_EQ(part.contentType, "multipart/form-data");
         plat::image::Bitmap sent;
         ASSERT_TRUE(plat::image::decode(reinterpret_cast<const uint8_t*>(parts[0].data.data()), parts[0].data.size(), &sent));
         EXPECT_EQ(sent.width, 8);
         EXPECT_EQ(sent.height, 6);
         EXPECT_EQ(parts[1].data, "with a picture");
         EXPECT_TRUE(dktest::carriesValidSignature(r[1], server + kUpdateWithMedia, dktest::testAccount(1)));
         EXPECT_EQ(formStatus(r[2]), "");
         EXPECT_EQ(formStatus(r[3]), "odd");
     }},
    // Two accounts: the chosen row's token signs; a cancel plays and sends nothing; the next showing
    // starts at the first row again.
    {"two-accounts", granted(2),
     R"(function() probe('StartSendTweet', 'first', false) end,
  function() probe('StartSendTweet', 'never', false) end,
  function() probe('StartSendTweet', 'third', false) end)",
     R"(7 memory.warning
+0.5 picker.select 1
+0.5 picker.done
+0.5 alert.press "Ok"
+0.5 memory.warning
+0.5 picker.select 1
+0.5 picker.cancel
+0.5 picker.done
+0.5 memory.warning
+0.5 picker.select 2
+0.5 picker.done
+0.5 alert.press "Ok"
+0.5 app.quit
)",
     {},
     [](const Requests& r, const std::string& server) {
         ASSERT_EQ(r.size(), 2u);
         EXPECT_EQ(formStatus(r[0]), "first");
         EXPECT_EQ(dktest::oauthHeaderParameters(*r[0].header("Authorization"))["oauth_token"], "token-2");
         EXPECT_TRUE(dktest::carriesValidSignature(r[0], server + kUpdate, dktest::testAccount(2)));
         EXPECT_EQ(formStatus(r[1]), "third");
         EXPECT_EQ(dktest::oauthHeaderParameters(*r[1].header("Authorization"))["oauth_token"], "token-1");
     }},
    // A second tweet while the picker is up is refused: its pause released at once, the first
    // road's at the cancel.
    {"picker-twice", granted(2),
     "function() probe('StartSendTweet', 'a', false) probe('StartSendTweet', 'b', false) end",
     "7 memory.warning\n+0.5 picker.cancel\n+0.5 app.quit\n"},
    // The platform says no tweet can be sent now.
    {"cannot-send", granted(1, "<key>canSendTweet</key><false/>"),
     "function() probe('StartSendTweet', 'hi', false) end", "7 memory.warning\n+0.5 alert.press \"Ok\"\n+0.5 app.quit\n"},
    // No services file: the question; "Yes" opens the web site, "No" nothing. Below system 5 the same.
    {"no-services", std::nullopt,
     "function() probe('StartSendTweet', 'hi', true) end, function() probe('StartSendTweet', 'hi', false) end",
     "7 memory.warning\n+0.5 alert.press \"Yes\"\n+0.5 memory.warning\n+0.5 alert.press \"No\"\n+0.5 app.quit\n"},
    {"old-system", granted(1), "function() probe('StartSendTweet', 'hi', true) end",
     "7 memory.warning\n+0.5 alert.press \"No\"\n+0.5 app.quit\n", {}, [](const Requests& r, const std::string&) {
         EXPECT_TRUE(r.empty());
     }, "4.3"},
    // The compose sheet: edited and sent with the first account and the image; cancelled; a nil
    // message and an image that cannot be read open it empty and without one.
    {"compose", granted(2),
     R"(function() probe('StartSendTweet', 'Look', true, 'pic.png') end,
  function() probe('StartSendTweet', 'gone', true) end,
  function() probe('StartSendTweet', nil, true, 'missing.png') end)",
     R"(7 memory.warning
+0.5 text.type " at this"
+0.5 dump.views compose.jsonl
+0.5 compose.send
+0.5 compose.send
+0.5 memory.warning
+0.5 compose.cancel
+0.5 memory.warning
+0.5 text.type "typed"
+0.5 compose.send
+0.5 app.quit
)",
     {},
     [](const Requests& r, const std::string& server) {
         ASSERT_EQ(r.size(), 2u);
         EXPECT_EQ(r[0].target, kUpdateWithMedia);
         const auto parts = dktest::multipartParts(r[0]);
         ASSERT_EQ(parts.size(), 2u);
         EXPECT_EQ(parts[1].data, "Look at this");
         EXPECT_TRUE(dktest::carriesValidSignature(r[0], server + kUpdateWithMedia, dktest::testAccount(1)));
         EXPECT_EQ(r[1].target, kUpdate);
         EXPECT_EQ(formStatus(r[1]), "typed");
     }},
    // A message holding a NUL and a byte that is not UTF-8: the sheet shows each as U+FFFD, a
    // Backspace takes one whole, and what is sent is what the sheet showed.
    {"compose-bad-text", granted(1), R"(function() probe('StartSendTweet', 'a\0b\255', true) end)",
     "7 memory.warning\n+0.5 text.delete\n+0.5 text.type \"!\"\n+0.5 compose.send\n+0.5 app.quit\n", {},
     [](const Requests& r, const std::string&) {
         ASSERT_EQ(r.size(), 1u);
         EXPECT_EQ(formStatus(r[0]), "a%EF%BF%BDb%21");
     }},
};

class TwitterRoadTest : public testing::Test {
protected:
    dktest::ProcessResult run(const TwitterRoad& road, const std::string& serverBase) {
        const std::string app = m_dir.file("Probe.app");
        fs::remove_all(app);
        fs::remove_all(m_dir.file("home"));
        fs::copy(kProbeApp, app, fs::copy_options::recursive);
        dktest::writeFile(app + "/Probe.gameproj/project.lua", std::string("steps = {\n  ") + road.steps + ",\n}\n");
        if (road.accounts) {
            fs::create_directories(m_dir.file("home/Library/LocalServices"));
            dktest::writeFile(m_dir.file("home/Library/LocalServices/accounts.plist"), *road.accounts);
        }
        dktest::writeFile(m_dir.file("servers.plist"),
                          "<plist version=\"1.0\"><dict><key>twitter.api</key><string>" + serverBase +
                              "</string><key>twitter.upload</key><string>" + serverBase +
                              "/</string><key>twitter.web</key><string>https://example.com/twitter</string></dict></plist>");
        dktest::writeFile(m_dir.file("input.txt"), road.input);
        std::string error;
        EXPECT_TRUE(plat::image::writePNG(m_dir.file("pic.png"), 8, 6, std::vector<uint8_t>(8 * 6 * 4, 200), &error));
        dktest::ProcessResult r = dktest::runProcess(
            {kPlayer, "--headless", "--system-version", road.systemVersion, "--input", "input.txt", "--trace",
             "pause,plugin,input,alert,open,social", app},
            {"DROVIK_HOME=" + m_dir.file("home"), "DROVIK_SERVERS=" + m_dir.file("servers.plist")}, m_dir.path());
        r.err = std::regex_replace(r.err, std::regex(serverBase), "$SERVER");
        r.err = std::regex_replace(r.err, std::regex(m_dir.path()), "$DIR");
        return r;
    }

    // data/road/twitter-<name>.txt; DK_UPDATE_EXPECTED=1 writes it from `actual` (review it).
    static std::string expected(const std::string& name, const std::string& actual) {
        const std::string path = DK_TEST_DATA_DIR "/road/twitter-" + name + ".txt";
        if (dktest::updatingExpected()) dktest::writeFile(path, actual);
        return dktest::readFile(path);
    }

    dktest::TempDir m_dir;
};

// The count the last pause line before the quit leaves.
std::string lastPauseCount(const std::string& err) {
    const std::string before = err.substr(0, err.find("input app.quit"));
    const size_t at = before.rfind(" count=");
    return at == std::string::npos ? "none" : before.substr(at + 7, before.find('\n', at) - at - 7);
}

TEST_F(TwitterRoadTest, RoadsAnswerWithAlertsAndReleaseTheirPauses) {
    for (const TwitterRoad& road : kRoads) {
        SCOPED_TRACE(road.name);
        std::atomic<size_t> answered{0};
        dktest::TestServer server([&](const ReceivedRequest&) {
            const size_t n = answered++;
            return n < road.replies.size() ? road.replies[n] : dktest::Reply{200, {}, "{}"};
        });
        std::string base = server.url("");
        const dktest::ProcessResult r = run(road, base);
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.err, expected(road.name, r.err));
        EXPECT_EQ(lastPauseCount(r.err), "0");
        road.check(server.requests(), base);
    }
    // The compose sheet as it showed: the edited text and the image's preview.
    const std::string sheet = dktest::readFile(m_dir.file("compose.jsonl"));
    EXPECT_NE(sheet.find("Look at this"), std::string::npos) << sheet;
    EXPECT_NE(sheet.find("pic.png"), std::string::npos) << sheet;
}

}  // namespace
