// Game Center driven from outside: the probe game (player/tests/data/Probe.app) calls the plugin's
// numbered actions, the input script plays the local game network's side, and standard error
// (script calls, trace lines) is compared with data/road/gamecenter-<case>.txt. The pending file
// is read back between and after runs.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/foundation/PropertyList.h"
#include "platform/image/ImageCodec.h"
#include "tests/support/TestSupport.h"

namespace {

namespace fs = std::filesystem;
using plat::foundation::Value;

const std::string kPlayer = DK_BINARY_DIR "/apps/drovik-player/drovik-player";
const std::string kData = DK_TEST_DATA_DIR;
const std::string kProbeApp = DK_SOURCE_DIR "/player/tests/data/Probe.app";

// The network's configuration: `entries` and the game's two described achievements.
std::string network(const std::string& entries) {
    return R"(<?xml version="1.0" encoding="UTF-8"?>
<plist version="1.0"><dict>)" +
           entries + R"(
<key>descriptions</key><array>
 <dict><key>identifier</key><string>a1</string><key>title</key><string>First Steps</string>
  <key>achievedDescription</key><string>You walked.</string></dict>
 <dict><key>identifier</key><string>a2</string><key>title</key><string>Second</string>
  <key>achievedDescription</key><string>Again.</string></dict>
</array></dict></plist>
)";
}
const std::string kAnn = "<key>player</key><string>G:ann</string>";

std::string replaced(std::string text, const std::string& from, const std::string& to) {
    for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
    return text;
}

struct GameCenterCase {
    const char* name;
    std::string config;  // empty: no network on this machine
    const char* project;
    const char* input;
    std::vector<std::string> options = {};
};

class GameCenterRoad : public testing::Test {
protected:
    // Runs the probe game with `c`'s project, network and input; the home is kept between runs.
    dktest::ProcessResult run(const GameCenterCase& c) {
        const std::string app = m_dir.file("Probe.app");
        fs::remove_all(app);
        fs::copy(kProbeApp, app, fs::copy_options::recursive);
        dktest::writeFile(app + "/Probe.gameproj/project.lua", c.project);
        const std::string config = m_dir.file("home/Library/LocalServices/gamenetwork.plist");
        fs::create_directories(fs::path(config).parent_path());
        if (c.config.empty())
            fs::remove(config);
        else
            dktest::writeFile(config, c.config);
        dktest::writeFile(m_dir.file("input.txt"), c.input);
        std::vector<std::string> arguments = {kPlayer, "--headless", "--input", "input.txt", "--trace",
                                              "plugin,gamenet,gkbanner,input,alert,net"};
        arguments.insert(arguments.end(), c.options.begin(), c.options.end());
        arguments.push_back(app);
        dktest::ProcessResult r = dktest::runProcess(arguments, {"DROVIK_HOME=" + m_dir.file("home")}, m_dir.path());
        r.err = replaced(r.err, m_dir.path(), "$DIR");
        return r;
    }
    void check(const GameCenterCase& c) {
        SCOPED_TRACE(c.name);
        const dktest::ProcessResult r = run(c);
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.err, expected(std::string("gamecenter-") + c.name, r.err));
    }
    // With DK_UPDATE_EXPECTED=1 the file is written from `actual` instead (review it before keeping).
    static std::string expected(const std::string& name, const std::string& actual) {
        const std::string path = kData + "/road/" + name + ".txt";
        if (dktest::updatingExpected()) dktest::writeFile(path, actual);
        return dktest::readFile(path);
    }
    std::string pendingPath() { return m_dir.file("home/Documents/DK_GAMECENTER_SAVED_INFO.plist"); }
    // The score values of `key` in the pending file, through libplist.
    std::vector<int64_t> pendingScores(const std::string& key) {
        std::vector<int64_t> values;
        const std::optional<Value> file = plat::foundation::readPropertyList(pendingPath());
        const Value* list = file ? file->find(key) : nullptr;
        if (list && list->array())
            for (const Value& score : *list->array()) values.push_back(score.find("value")->intValue());
        return values;
    }

    dktest::TempDir m_dir;
};

// The script's view of the file: whether it holds "<integer>N</integer>", at each event.
const char* const kFileProbe = R"(
function fileHolds(n)
  local f = io.open('home/Documents/DK_GAMECENTER_SAVED_INFO.plist')
  if not f then return 'no file' end
  local text = f:read('*a') f:close()
  return text:find('<integer>' .. n .. '</integer>', 1, true) and 'holds ' .. n or 'lacks ' .. n
end
)";

// Sign-in: success once (a repeated success raises nothing), sign-out saving the queue while
// still signed in, the next sign-in loading it; the network's errors; the sign-in screen.
TEST_F(GameCenterRoad, SignIn) {
    const std::string fileProbe = kFileProbe;
    const std::string success = fileProbe + R"(
hooks.raiseExternalEvent = function(name, arg) log('file', fileHolds(10)) end
steps = {
  function() probe(0) probe(0) end,
  function() probe(2, 10, 'b') end,
  function() probe(0) end,
})";
    const std::string errors = R"(
steps = {
  function() probe(0) end,
  function() probe(2, 5, 'b') probe(3, 'b', 0) probe(5) probe(4, 'a1', 10) end,
  function() probe(0) end,
})";
    const GameCenterCase cases[] = {
        {"signin", network(kAnn), success.c_str(),
         "7 memory.warning\n+0.1 gamenet.signin G:ann\n+0.1 memory.warning\n+0.1 gamenet.signout\n"
         "+0.1 memory.warning\n+0.1 net wifi\n+0.1 app.quit\n",
         {"--net", "none"}},
        {"error15", network(kAnn + "<key>signIn</key><integer>15</integer>"), errors.c_str(),
         "7 memory.warning\n+0.1 alert.press 0\n+0.1 memory.warning\n+0.1 memory.warning\n+0.1 alert.press 0\n"
         "+0.1 app.quit\n"},
        {"error16", network(kAnn + "<key>signIn</key><integer>16</integer>"), errors.c_str(),
         "7 memory.warning\n+0.1 alert.press 0\n+0.1 memory.warning\n+0.1 memory.warning\n+0.1 alert.press 0\n"
         "+0.1 app.quit\n"},
        {"cancelled", network(kAnn + "<key>signIn</key><integer>2</integer>"), "steps = { function() probe(0) end }",
         "7 memory.warning\n+0.1 app.quit\n"},
        {"no-account", network(""), "steps = { function() probe(0) end }", "7 memory.warning\n+0.1 app.quit\n"},
        {"screen", network(kAnn + "<key>signIn</key><string>screen</string>"),
         "steps = { function() probe(0) end, function() probe(0) end }",
         "7 memory.warning\n+0.1 gamenet.screen cancel\n+0.1 memory.warning\n+0.1 gamenet.screen ok\n"
         "+0.1 app.quit\n"},
        // No network here: no action is there to call.
        {"absent", "", "steps = { function() probe(0) probe(2, 1, 'b') end }", "7 memory.warning\n+0.1 app.quit\n"},
    };
    for (const GameCenterCase& c : cases) {
        fs::remove_all(m_dir.file("home"));
        check(c);
    }
    // The score was accepted after the second sign-in: it left the file.
    EXPECT_TRUE(pendingScores("G:ann:Scores").empty());
}

// The queues and their gates: offline until reachable, the caches' readiness, one step per
// trigger, achievements only on progress, unknown ids dropped, banners at 100 %, the leaderboard
// asked for while signed out shown after sign-in, a second screen ignored, a reset.
TEST_F(GameCenterRoad, QueuesAndGates) {
    check({"queues",
           network(kAnn + "<key>achievements</key><dict><key>a1</key><real>10</real>"
                          "<key>x9</key><real>20</real></dict>"),
           R"(
hooks.raiseExternalEvent = function(name, args)
  if name == 'PlatformConnected' and args[1] == '1' then probe(4, 'a1', 50) end
end
steps = {
  function() probe(3, 'board', 1) end,
  function() probe(2, 99.9, 'board') probe(2, -0.5, 'board') end,
  function() probe(4, 'a1', 30) probe(4, 'zz', 50) end,
  function() probe(4, 'a2', 100) probe(4, 'x9', 100) end,
  function() probe(3, 'board', 0) probe(5) end,
  function() probe(6) end,
  function() probe(4, 'a1', 20) probe(4, 'zz', 60) end,
})",
           "7 memory.warning\n+0.1 gamenet.done\n+0.1 memory.warning\n+0.1 net wifi\n+0.1 memory.warning\n"
           "+0.1 memory.warning\n+0.1 memory.warning\n+0.1 gamenet.done\n+0.1 memory.warning\n"
           "+0.1 memory.warning\n+6 app.quit\n",
           {"--net", "none"}});
}

// Report errors: the alert (texts, "Cancel", the pause released at its dismissal) and no retry
// until the next trigger (a new report, reachability); error 17 drops the item. Before that:
// nothing reported while signed out, and an update made at sign-in waits for the caches.
TEST_F(GameCenterRoad, ReportFailures) {
    check({"failures", network(kAnn + "<key>achievements</key><dict><key>a1</key><real>10</real></dict>"),
           R"(
hooks.raiseExternalEvent = function(name, args)
  if name == 'PlatformConnected' and args[1] == '1' then probe(4, 'a1', 15) end
end
steps = {
  function() probe(2, 9, 'b') probe(4, 'a1', 5) probe(0) end,
  function() probe(2, 1, 'b') end,
  function() probe(2, 2, 'b') end,
  function() probe(4, 'a1', 60) end,
  function() probe(2, 3, 'b') end,
})",
           "7 memory.warning\n+0.1 gamenet.fail score 5 \"Server down\"\n+0.1 memory.warning\n+0.1 alert.press 0\n"
           "+0.1 memory.warning\n+0.1 gamenet.fail achievement 17 \"Bad\"\n+0.1 memory.warning\n"
           "+0.1 alert.press \"Cancel\"\n+0.1 gamenet.fail score 3 \"Busy\"\n+0.1 memory.warning\n"
           "+0.1 alert.press 0\n+0.1 net none\n+0.1 net wifi\n+0.1 app.quit\n",
           {"--net", "wifi"}});
}

// An achievement whose report failed is sent again at the next trigger, not dropped as if the
// progress had already been made.
TEST_F(GameCenterRoad, AFailedAchievementIsRetried) {
    const dktest::ProcessResult r =
        run({"retry", network(kAnn), "steps = { function() probe(0) end, function() probe(4, 'a1', 60) end }",
             "7 memory.warning\n+0.1 gamenet.fail achievement 5 \"Busy\"\n+0.1 memory.warning\n"
             "+0.1 alert.press 0\n+0.1 net none\n+0.1 net wifi\n+0.1 app.quit\n",
             {"--net", "wifi"}});
    ASSERT_EQ(r.status, 0) << r.err;
    size_t sent = 0;
    for (size_t at = r.err.find("gamenet achievement a1 60\n"); at != std::string::npos;
         at = r.err.find("gamenet achievement a1 60\n", at + 1))
        ++sent;
    EXPECT_EQ(sent, 2u) << r.err;
}

// Two players' queues across processes: each sign-out and change writes only that player's keys.
TEST_F(GameCenterRoad, PendingFileAcrossProcessesAndPlayers) {
    const GameCenterCase first{"two-players", network(kAnn),
                               "steps = { function() probe(0) end, function() probe(2, 1, 'a') end,"
                               " function() probe(2, 2, 'b') end }",
                               "7 memory.warning\n+0.1 memory.warning\n+0.1 gamenet.signin G:bob\n"
                               "+0.1 memory.warning\n+0.1 app.quit\n",
                               {"--net", "none"}};
    check(first);
    EXPECT_EQ(pendingScores("G:ann:Scores"), std::vector<int64_t>{1});
    EXPECT_EQ(pendingScores("G:bob:Scores"), std::vector<int64_t>{2});
    const GameCenterCase second{"two-players-next", network(kAnn), "steps = { function() probe(0) end }",
                                "7 memory.warning\n+0.1 app.quit\n", {"--net", "wifi"}};
    check(second);
    EXPECT_TRUE(pendingScores("G:ann:Scores").empty());
    EXPECT_EQ(pendingScores("G:bob:Scores"), std::vector<int64_t>{2});
}

// The first sign-in of a run: the file's items first, then those reported while signing in.
TEST_F(GameCenterRoad, ScoresReportedWhileSigningInFollowTheFilesItems) {
    fs::create_directories(m_dir.file("home/Documents"));
    dktest::writeFile(pendingPath(), R"(<plist version="1.0"><dict><key>G:ann:Scores</key><array>
<dict><key>value</key><integer>1</integer><key>date</key><date>2020-01-01T00:00:00Z</date></dict>
</array></dict></plist>)");
    check({"signing-in", network(kAnn + "<key>signIn</key><string>screen</string>"),
           "steps = { function() probe(0) end, function() probe(2, 7, 'x') end }",
           "7 memory.warning\n+0.1 memory.warning\n+0.1 gamenet.screen ok\n+0.1 app.quit\n", {"--net", "none"}});
    EXPECT_EQ(pendingScores("G:ann:Scores"), (std::vector<int64_t>{1, 7}));
}

// A damaged pending file: empty queues and one line said, then set aside before the next write.
TEST_F(GameCenterRoad, DamagedPendingFile) {
    fs::create_directories(m_dir.file("home/Documents"));
    dktest::writeFile(pendingPath(), "<plist><dict><key>G:ann:Scores</key>");
    check({"damaged", network(kAnn), "steps = { function() probe(0) end, function() probe(2, 3, 'c') end }",
           "7 memory.warning\n+0.1 memory.warning\n+0.1 app.quit\n", {"--net", "none"}});
    EXPECT_EQ(dktest::readFile(pendingPath() + ".damaged"), "<plist><dict><key>G:ann:Scores</key>");
    EXPECT_EQ(pendingScores("G:ann:Scores"), std::vector<int64_t>{3});
}

// The banner at rest on the composited screen: both labels' white text inside its frame, and
// nothing lit anywhere else (the probe game draws nothing; the bundle has no banner images).
TEST_F(GameCenterRoad, BannerLabelsLieInsideTheBanner) {
    const GameCenterCase c{"banner", network(kAnn),
                           "steps = { function() probe(0) end, function() probe(4, 'a2', 100) end }",
                           "7 memory.warning\n+0.1 memory.warning\n+1 screenshot shot.png\n+0.1 app.quit\n"};
    const dktest::ProcessResult r = run(c);
    ASSERT_EQ(r.status, 0) << r.err;
    int width = 0, height = 0;
    std::vector<uint8_t> rgba;
    std::string error;
    ASSERT_TRUE(plat::image::readPNG(m_dir.file("shot.png"), &width, &height, &rgba, &error)) << error;
    ASSERT_EQ(width, 640);  // the retina phone: 2 pixels a point
    // At rest: x 19.2 to 300.8, y 10 to 62 points; the title's row above y 36, the message's below.
    size_t title = 0, message = 0, outside = 0;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const uint8_t* p = &rgba[(static_cast<size_t>(y) * width + x) * 4];
            if (p[0] < 128 || p[1] < 128 || p[2] < 128) continue;
            const double px = x / 2.0, py = y / 2.0;
            if (px < 19.2 || px > 300.8 || py < 10 || py > 62)
                ++outside;
            else
                ++(py < 36 ? title : message);
        }
    EXPECT_GT(title, 50u);
    EXPECT_GT(message, 20u);
    EXPECT_EQ(outside, 0u);
}

// The network's input-script commands are there from the plugin's creation: a failure armed
// before the first sign-in answers the first report.
TEST_F(GameCenterRoad, CommandsBeforeTheFirstSignIn) {
    const dktest::ProcessResult r =
        run({"early", network(kAnn), "steps = { function() probe(0) end, function() probe(2, 4, 'b') end }",
             "6 gamenet.fail score 5 \"Early\"\n7 memory.warning\n+0.1 memory.warning\n+0.1 alert.press 0\n"
             "+0.1 app.quit\n",
             {"--net", "wifi"}});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err.find("ignored"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("alert show Score report failed|Early|Cancel"), std::string::npos) << r.err;
}

// Systems before 6.0 sign in once: a sign-out and another account reach the plugin only through
// the network's change notification, leaving the application signs the player out (the queue
// saved first), and the sign-in screen is the network's own. From 6.0 on the same run keeps the
// player signed in across the resign.
TEST_F(GameCenterRoad, SystemsBeforeSixFollowTheNetworksNotificationAndTheResign) {
    const std::string project = kFileProbe + std::string(R"(
hooks.raiseExternalEvent = function(name, arg) log('file', fileHolds(10)) end
steps = {
  function() probe(0) end,
  function() probe(2, 10, 'b') end,
  function() probe(0) end,
})");
    const std::string input =
        "7 memory.warning\n+0.1 gamenet.signout\n+0.1 gamenet.signin G:bob\n+0.1 memory.warning\n+0.1 app.resign\n"
        "+0.1 app.active\n+0.1 memory.warning\n+0.1 app.quit\n";
    const GameCenterCase cases[] = {
        {"old-system", network(kAnn), project.c_str(), input.c_str(), {"--system-version", "5.1", "--net", "none"}},
        {"old-system-six", network(kAnn), project.c_str(), input.c_str(), {"--system-version", "6.0", "--net", "none"}},
        {"old-system-screen", network(kAnn + "<key>signIn</key><string>screen</string>"),
         "steps = { function() probe(0) end, function() probe(0) end }",
         "7 memory.warning\n+0.1 gamenet.screen cancel\n+0.1 memory.warning\n+0.1 gamenet.screen ok\n"
         "+0.1 app.quit\n",
         {"--system-version", "5.1"}},
    };
    for (const GameCenterCase& c : cases) {
        fs::remove_all(m_dir.file("home"));
        check(c);
    }
}

}  // namespace
