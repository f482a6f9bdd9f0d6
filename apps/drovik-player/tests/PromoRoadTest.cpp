// The cross-promotion's roads from the game's side: drovik-player runs the probe game with the feed
// served from 127.0.0.1, under input scripts; its standard error (script calls, messages, trace) is
// compared with data/promo/<case>.txt. The start-up offer (cached, and waiting for the feed), the
// more-games action with and without a cached feed, the throttle's draws, dismissal reasons and
// their events, and the pause count back where it started.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "platform/foundation/PropertyList.h"
#include "platform/net/tests/NetTestSupport.h"
#include "tests/support/TestSupport.h"

namespace {

namespace fs = std::filesystem;

const std::string kPlayer = DK_BINARY_DIR "/apps/drovik-player/drovik-player";
const std::string kData = DK_TEST_DATA_DIR "/promo/";
const std::string kProbeApp = DK_SOURCE_DIR "/player/tests/data/Probe.app";

std::string replaced(std::string text, const std::string& from, const std::string& to) {
    for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
    return text;
}

// Nine games; "Game 5" leads somewhere no one opens.
std::string feedOf(const std::string& base, const std::string& throttle, const std::string& duration) {
    std::string ads;
    for (int i = 0; i < 9; ++i) {
        const std::string target = i == 5 ? "prefs:root=GAMES" : base + "/game/" + std::to_string(i);
        ads += std::string(i ? "," : "") + R"({"name":"Game )" + std::to_string(i) + R"(","iphone_url":")" + target + "\"}";
    }
    return R"({"throttle_pct":")" + throttle + R"(","more_games_display_duration":")" + duration +
           R"(","more_games_display_exit_delay":"1","ads":[)" + ads + "]}";
}

struct PromoCase {
    const char* name;
    std::string entries;                 // Info.plist
    std::string project;                 // the probe game's steps
    std::string input;
    std::vector<int> feedStatuses = {};  // the feed request's answers in turn; then 200
    bool cached = false;                 // a feed in the cache before the run
    const char* random = "0";
    std::string throttle = "100";
    bool waitForOffer = false;           // the feed answers once the start-up offer has been made
};

const std::string kStartup = "<key>StartupProvider</key><string>drovikNetwork</string>";
// The feed counts as available only with a start-up provider named, whichever it is.
const std::string kMoreGames =
    "<key>MoregamesProvider</key><string>drovikNetwork</string><key>StartupProvider</key><string>none</string>";
const std::string kShowMoreGames = "steps = { function() probe('ShowMoreGames') end, "
                                   "function() probe('ShowMoreGames') end, function() probe('ShowMoreGames') end }";

const PromoCase kCases[] = {
    // Start-up with a cached feed: the strip at once, unpaused; pages report their icons; the close
    // button counts only once shown; a tap on what cannot be opened says nothing; its close plays
    // nothing. The next activation offers it again, which times out.
    {"startup-cached", kStartup, "",
     "7 promo.page 1\n7.5 promo.page 5\n7.7 promo.page 0\n8 promo.close\n8.5 promo.tap 5\n9 promo.tap 2\n10.5 promo.close\n"
     "11 app.resign\n11.5 app.active\n11.6 promo.close\n20 promo.dim\n20.5 app.quit\n",
     {}, true, "0", "100"},
    // Nothing cached: the offer waits for the feed and shows it unpaused; the dimmed area closes.
    {"startup-waits", kStartup, "", "7 promo.dim\n7.5 promo.dim\n8 app.quit\n", {}, false, "0", "100", true},
    // The more-games action: no cached feed (the first request failed) shows nothing and pauses
    // nothing; then the feed fetched by that action is shown, paused, and played again when
    // closed; a time-out closes the third.
    {"more-games", kMoreGames, kShowMoreGames,
     "7 memory.warning\n8 memory.warning\n9 promo.dim\n10 memory.warning\n25 app.quit\n", {500}, false, "0", "100"},
    // "kiosk" names the content-ads plugin: the action goes there (its request fails at once here,
    // which plays again), and the feed shows nothing.
    {"forward-kiosk",
     "<key>MoregamesProvider</key><string>kiosk</string><key>StartupProvider</key><string>none</string>"
     "<key>DKGameKS_Token</key><string>tok</string><key>DKGameKS_Secret</key><string>sec</string>",
     kShowMoreGames, "7 memory.warning\n8 promo.dim\n9 app.quit\n", {}, true, "0", "100"},
    // The throttle: "0" shows for a draw of 0 only.
    {"throttle-zero", kMoreGames, kShowMoreGames, "7 memory.warning\n8 promo.dim\n9 app.quit\n", {}, true, "0", "0"},
    {"throttle-zero-missed", kMoreGames, kShowMoreGames, "7 memory.warning\n8 promo.dim\n9 app.quit\n", {}, true, "1",
     "0"},
    {"throttle-hundred", kMoreGames, kShowMoreGames, "7 memory.warning\n8 promo.dim\n9 app.quit\n", {}, true, "99",
     "100"},
};

class PromoRoad : public testing::Test {
protected:
    std::string run(const PromoCase& c) {
        fs::remove_all(m_dir.file("home"));
        size_t feedRequests = 0;
        const std::string traceFile = m_dir.file("trace.txt");
        dktest::writeFile(traceFile, "");
        std::string feed;
        dktest::TestServer server([&](const dktest::ReceivedRequest& r) -> dktest::Reply {
            if (r.target != "/v1/more_games.json") return {200, {}, "a game's page"};
            const size_t n = feedRequests++;
            if (c.waitForOffer)
                for (int i = 0; i < 3000 && dktest::readFile(traceFile).find("playGame") == std::string::npos; ++i)
                    std::this_thread::sleep_for(std::chrono::milliseconds(10));
            if (n < c.feedStatuses.size()) return {c.feedStatuses[n], {}, "{}"};
            return {200, {{"Content-Type", "application/json"}}, feed};
        });
        std::string base = server.url("/");
        base.pop_back();
        feed = feedOf(base, c.throttle, "8");
        const std::string app = m_dir.file("Probe.app");
        fs::remove_all(app);
        fs::copy(kProbeApp, app, fs::copy_options::recursive);
        dktest::writeFile(app + "/Probe.gameproj/project.lua", c.project);
        dktest::writeFile(app + "/Info.plist",
                          "<plist version=\"1.0\"><dict><key>CFBundleIdentifier</key><string>com.test.probe</string>"
                          "<key>UISupportedInterfaceOrientations</key><array><string>UIInterfaceOrientationPortrait"
                          "</string></array><key>DKAdServerDomain</key><string>" +
                              base.substr(7) + "</string>" + c.entries + "</dict></plist>");
        if (c.cached) {
            // What an earlier run left: written as the plugin writes it, in the container's caches.
            const std::string cache = m_dir.file("home") + "/Library/Caches/DrovikNetworkCache";
            fs::create_directories(cache);
            EXPECT_TRUE(plat::foundation::writePropertyList(cache + "/ads.json", *plat::foundation::Value::fromJSON(feed),
                                                            plat::foundation::PropertyListFormat::Xml));
        }
        dktest::writeFile(m_dir.file("input.txt"), c.input);
        const dktest::ProcessResult r = dktest::runProcess(
            {kPlayer, "--headless", "--probe-plugin", "--input", "input.txt", "--trace", "promo,plugin,svc,input,pause,open",
             "--trace-file", traceFile, app},
            {"DROVIK_HOME=" + m_dir.file("home"), "DROVIK_FIXED_RANDOM=" + std::string(c.random)}, m_dir.path());
        EXPECT_EQ(r.status, 0) << r.err;
        std::string trace = dktest::readFile(traceFile);
        // Where the feed lands in time depends on the real time its request takes.
        if (c.waitForOffer) trace = std::regex_replace(trace, std::regex("(^|\n)t=[0-9.]+ "), "$1");
        return replaced(replaced(trace, base, "http://$SERVER"), m_dir.path(), "$DIR");
    }

    static std::string expected(const std::string& name, const std::string& actual) {
        const std::string path = kData + name + ".txt";
        if (dktest::updatingExpected()) dktest::writeFile(path, actual);
        return dktest::readFile(path);
    }

    dktest::TempDir m_dir;
};

TEST_F(PromoRoad, FromTheGamesSide) {
    for (const PromoCase& c : kCases) {
        SCOPED_TRACE(c.name);
        const std::string trace = run(c);
        EXPECT_EQ(trace, expected(c.name, trace));
    }
}

}  // namespace
