// drovik-player's road to a game, driven from outside: the probe game (player/tests/data/Probe.app,
// its project and Info.plist set by each case) under input scripts, its standard error (the
// script's calls, the player's messages and trace lines) compared with data/road/<case>.txt;
// the road's failures; the sample game's frames and screenshot.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "platform/image/ImageCodec.h"
#include "tests/support/TestSupport.h"

namespace {

namespace fs = std::filesystem;

const std::string kPlayer = DK_BINARY_DIR "/apps/drovik-player/drovik-player";
const std::string kData = DK_TEST_DATA_DIR;
const std::string kProbeApp = DK_SOURCE_DIR "/player/tests/data/Probe.app";

// `entries` are further Info.plist entries.
std::string infoPlist(const std::string& orientations, const std::string& entries = "") {
    return R"(<?xml version="1.0" encoding="UTF-8"?>
<plist version="1.0"><dict>
  <key>CFBundleIdentifier</key><string>com.test.probe</string>
  <key>UISupportedInterfaceOrientations</key><array>)" +
           orientations + "</array>\n" + entries + "</dict></plist>\n";
}
const std::string kPortrait = "<string>UIInterfaceOrientationPortrait</string>";
const std::string kLandscape =
    "<string>UIInterfaceOrientationLandscapeRight</string>"
    "<string>UIInterfaceOrientationLandscapeLeft</string>";

// Every line of `text` with `from` replaced by `to`.
std::string replaced(std::string text, const std::string& from, const std::string& to) {
    for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
    return text;
}

class GameRoad : public testing::Test {
protected:
    // A copy of the probe game with `project` as its project and `orientations` in its Info.plist.
    std::string bundle(const std::string& project, const std::string& orientations = kPortrait,
                       const std::string& entries = "") {
        const std::string app = m_dir.file("Probe.app");
        fs::remove_all(app);
        fs::copy(kProbeApp, app, fs::copy_options::recursive);
        dktest::writeFile(app + "/Probe.gameproj/project.lua", project);
        dktest::writeFile(app + "/Info.plist", infoPlist(orientations, entries));
        return app;
    }

    dktest::ProcessResult run(std::vector<std::string> arguments, std::vector<std::string> environment = {}) {
        arguments.insert(arguments.begin(), kPlayer);
        environment.push_back("DROVIK_HOME=" + m_dir.file("home"));
        dktest::ProcessResult r = dktest::runProcess(arguments, environment, m_dir.path());
        r.err = replaced(r.err, m_dir.path(), "$DIR");
        r.out = replaced(r.out, m_dir.path(), "$DIR");
        return r;
    }

    // The expected text data/road/<name>.txt; with DK_UPDATE_EXPECTED=1 the file is written from
    // `actual` instead (review the change before keeping it).
    static std::string expected(const std::string& name, const std::string& actual) {
        const std::string path = kData + "/road/" + name + ".txt";
        if (dktest::updatingExpected()) dktest::writeFile(path, actual);
        return dktest::readFile(path);
    }

    dktest::TempDir m_dir;
};

// Each case: the probe game's project and orientations, an input script, further options.
struct RoadCase {
    const char* name;
    const char* project;
    const char* input;
    std::vector<std::string> options = {};
    std::string orientations = kPortrait;
};

const RoadCase kRoadCases[] = {
    // Pauses of both kinds nest with resigns, activations and audio interruptions; a plugin
    // releases only its own; a timed pause ends by itself.
    {"pauses", R"(
steps = {
  function() probe('probe.pause', true, 0) end,
  function() probe('probe.pause', false, 0) end,
  function() probe('probe.play') end,
  function() probe('probe.play') end,
  function() probe('probe.play') end,
  function() probe('probe.pause', false, 0.5) end,
})",
     R"(7 memory.warning
+0.1 memory.warning
+0.1 app.resign
+0.1 app.active
+0.1 audio.interrupt.begin
+0.1 audio.interrupt.end
+0.1 memory.warning
+0.1 memory.warning
+0.1 memory.warning
+0.1 memory.warning
+0.1 app.resign
+0.1 app.active
+0.6 app.quit
)"},
    // However many plays registered for it, one resign is one system pause and one event, and
    // the next activation plays once.
    {"resign-once", R"(
steps = {
  function() probe('probe.rawplay') end,
  function() probe('probe.rawplay') end,
})",
     R"(7 memory.warning
+0.1 memory.warning
+0.1 app.resign
+0.1 app.active
+0.1 app.quit
)"},
    // A rotation before the first frame only marks the view; one after it reaches the engine.
    {"rotation",
     "",
     R"(0 rotate 4
7 rotate 3
+0.1 app.quit
)",
     {"--device-orientation", "3", "--trace", "engine,gl,ui,input"},
     kLandscape},
    // The scene loads: the initial one, then one started from a touch; taps while the scene
    // loads and before the next frame are ignored.
    {"scene-load",
     R"(
local touches = 0
hooks.touchDown = function()
  touches = touches + 1
  if touches == 1 then loadScene('next') end
end)",
     R"(7 tap 10 10
+0.1 tap 20 20
+0.16 tap 30 30
+0.04 tap 40 40
+0.1 app.quit
)",
     {"--trace", "engine,frame,gl,pause,input"}},
    // An event raised inside the call; a stop, and the first frame again on the next play; a play
    // from another thread, queued: it runs on the main thread after the call.
    {"probe-actions",
     R"(
hooks.stop = function() callbacks.gameDidEnd() log('gameDidEnd asked') end
steps = {
  function() probe('probe.raise', 'Custom', 'an argument') end,
  function() probe('probe.raise', 'Bare') end,
  function() probe('probe.stop') end,
  function() probe('probe.rawplay') end,
  function() probe('probe.pause', false, 0) end,
  function() probe('probe.playFromThread') end,
})",
     R"(7 memory.warning
+0.1 memory.warning
+0.1 memory.warning
+0.1 memory.warning
+0.1 memory.warning
+0.1 memory.warning
+0.1 app.quit
)",
     {"--trace", "engine,pause,bridge,gl"}},
    // The keyboard: asked while the game loads (not ready: cancelled at once, inside the call,
    // whose failing handler the script survives); text with non-ASCII kept byte for byte; the
    // number pad; a second request ignored; a resign while the screen is up, then done, then
    // activation (the pause count back to 0); a scene change cancels once, the next raises nothing.
    {"plugin-keyboard", R"(
function devices:setScreenSize(width, height)
  log('setScreenSize', width, height)
  probe('KeyboardInput', 'early', 'x', 0)
  log('after early')
end
local failed = false
hooks.raiseExternalEvent = function() if not failed then failed = true error('handler fails') end end
steps = {
  function() probe('KeyboardInput', 'Name?', 'h\195\169llo', 0) end,
  function() probe('KeyboardInput', 'Number', '', 7) probe('KeyboardInput', 'again', '', 0) end,
  function() probe('KeyboardInput', 'Last', 'x', 0) end,
  function() probe('KeyboardInput', 'Scene', 'x', 0) loadScene('next') end,
  function() loadScene('again') end,
})",
     R"(7 memory.warning
+0.1 text.type " wörld"
+0.1 text.done
+0.1 memory.warning
+0.1 app.resign
+0.1 text.clear
+0.1 text.done
+0.1 app.active
+0.1 memory.warning
+0.1 text.done
+0.1 memory.warning
+0.5 memory.warning
+0.5 app.quit
)",
     {"--trace", "pause,plugin,input,text,bridge,notify"}},
    // A game's prompt and initial text holding NUL and a byte that is not UTF-8: each such byte
    // shows as U+FFFD, and Backspace then takes one character at a time, down to nothing.
    {"plugin-keyboard-bad-text", R"(
steps = {
  function() probe('KeyboardInput', 'N\0ame', 'ab\0c\255', 0) end,
  function() probe('KeyboardInput', 'Two', '\0\0', 0) end,
})",
     R"(7 memory.warning
+0.1 text.delete
+0.1 text.delete
+0.1 text.type "!"
+0.1 text.done
+0.1 memory.warning
+0.1 text.delete
+0.1 text.delete
+0.1 text.delete
+0.1 text.delete
+0.1 text.delete
+0.1 text.done
+0.1 app.quit
)",
     {"--trace", "plugin,input,text"}},
    // Open URL: external (the Lua number 0 is YES: no pause); the page (a system pause, a second
    // address loaded in it without another pause, closed: play and the blank page); nil, table,
    // relative and refused URLs; the next page after a resign while it shows.
    {"plugin-openurl", R"(
steps = {
  function() probe('openURL', 'http://example.com/out', 0) end,
  function() probe('openURL', 'http://example.com/page', false) probe('openURL', 'http://example.com/two') end,
  function() probe('openURL', nil, true) probe('openURL', {}, false) probe('openURL', 'no/scheme', false)
             probe('openURL', '-x:y', true) end,
  function() probe('openURL', 'https://example.com/next', nil) end,
})",
     R"(7 memory.warning
+0.1 memory.warning
+0.1 web.close
+0.1 memory.warning
+0.1 memory.warning
+0.1 app.resign
+0.1 web.close
+0.1 app.active
+0.1 web.close
+0.1 app.quit
)",
     {"--trace", "pause,plugin,input,web,open"}},
    // Metrics: the attributes end at the first missing name; an empty one is present.
    {"plugin-metrics", R"(
steps = {
  function()
    probe('TrackSceneChange', 'a', 'b')
    probe('TrackSceneChange', nil, 'b')
    probe('TrackSceneChange', 'a')
    probe('TrackSceneChange', '', '')
    probe('TrackSceneChange', 1, {})
  end,
})",
     "7 memory.warning\n+0.1 app.quit\n", {"--trace", "svc,input"}},
};

TEST_F(GameRoad, ProbeGameRuns) {
    for (const RoadCase& c : kRoadCases) {
        SCOPED_TRACE(c.name);
        const std::string app = bundle(c.project, c.orientations);
        dktest::writeFile(m_dir.file("input.txt"), c.input);
        std::vector<std::string> arguments = {"--headless", "--probe-plugin", "--input", "input.txt"};
        if (std::find(c.options.begin(), c.options.end(), "--trace") == c.options.end())
            arguments.insert(arguments.end(), {"--trace", "engine,pause,bridge,lifecycle,input"});
        arguments.insert(arguments.end(), c.options.begin(), c.options.end());
        arguments.push_back(app);
        const dktest::ProcessResult r = run(arguments);
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.err, expected(c.name, r.err));
    }
}

// The start-up road: what the launch reports and in which order, the intro and the game's load
// meeting whichever comes second, play at 5 s and the start-up screen released 1 s later, the
// indicator around scene loads, and the lifecycle's reports. Each case's trace is compared with
// data/road/startup-<case>.txt.
struct StartUpCase {
    const char* name;
    const char* project;
    const char* input;
    std::string entries = "";
    const char* trace = "startup,svc,lifecycle";
};

const std::string kClientKeys =
    "<key>DKUserID</key><string>ab-12</string><key>DKGameKS_Token</key><string>tok</string>"
    "<key>DKGameKS_Secret</key><string>secret-never-traced</string><key>DKOrbadId</key><string>orb-1</string>";

const StartUpCase kStartUpCases[] = {
    // The clients' keys set: the content-ads open and the ad client's start come at each
    // activation, before the load; background, foreground and the quit report to the metrics.
    {"launch", "", "7 app.background\n+0.5 app.foreground\n+0.5 app.quit\n", kClientKeys},
    // A load of more than 5 s: the intro ends first, and play starts when the load ends, with no
    // start-up promotion from that path; every scene load shows the indicator and posts the change.
    {"slow-load", "for i = 1, 16 do loadScene('s' .. i) end", "7 app.quit\n", "", "startup,notify"},
    // A scene load from a tap: the indicator once (the view dump inside the load shows it in the
    // corner), then the change.
    {"scene-load", "hooks.touchDown = function() loadScene('next') end",
     "7 tap 10 10\n7.05 dump.views views.jsonl\n7.05 screenshot shot.png\n7.5 app.quit\n", "",
     "startup,notify,input"},
};

TEST_F(GameRoad, StartUpRoad) {
    for (const StartUpCase& c : kStartUpCases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(m_dir.file("home"));
        const std::string app = bundle(c.project, kPortrait, c.entries);
        fs::copy_file(DK_SOURCE_DIR "/games/sample/Sample.app/loading_spinner.png", app + "/loading_spinner.png");
        dktest::writeFile(m_dir.file("input.txt"), c.input);
        // The road's own timing: without the page engine that the ad client's start brings up on
        // the main loop (for its user agent), whose sources change how the virtual clock steps.
        const dktest::ProcessResult r = run(
            {"--headless", "--web", "none", "--input", "input.txt", "--trace", c.trace, "--trace-file", "-", app});
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.out, expected(std::string("startup-") + c.name, r.out));
    }
    // The dump made inside the scene load: the indicator's box, 41 x 41 points in the corner.
    const std::string views = dktest::readFile(m_dir.file("views.jsonl"));
    EXPECT_NE(views.find(R"("class":"DKRoundedRectView","controller":null,"frame":[279,439,41,41])"), std::string::npos)
        << views;
    // On the screen (the probe game draws nothing): the spinner lights only that corner, 82 x 82
    // pixels of the retina phone.
    int width = 0, height = 0;
    std::vector<uint8_t> rgba;
    std::string error;
    ASSERT_TRUE(plat::image::readPNG(m_dir.file("shot.png"), &width, &height, &rgba, &error)) << error;
    ASSERT_EQ(width, 640);
    ASSERT_EQ(height, 960);
    size_t inside = 0, outside = 0;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const uint8_t* p = &rgba[(static_cast<size_t>(y) * width + x) * 4];
            if (p[0] || p[1] || p[2]) ++(x >= 640 - 82 && y >= 960 - 82 ? inside : outside);
        }
    EXPECT_GT(inside, 82u * 82 / 10);
    EXPECT_EQ(outside, 0u);
}

// "firstLaunch" is tracked and kept in the defaults the first time only.
TEST_F(GameRoad, FirstLaunchIsTrackedOnce) {
    const std::string app = bundle("");
    const std::string defaults = m_dir.file("home/Library/Preferences/com.test.probe.plist");
    for (const bool first : {true, false}) {
        const dktest::ProcessResult r = run({"--headless", "--duration", "1", "--trace", "svc", "--trace-file", "-", app});
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.out.find("svc analytics trackAppInfo firstLaunch") != std::string::npos, first) << r.out;
        EXPECT_NE(r.out.find("svc analytics trackAppInfo appLaunch"), std::string::npos) << r.out;
        EXPECT_NE(dktest::readFile(defaults).find("<key>firstLaunch</key>"), std::string::npos);
    }
}

// Banner ads from the script through the bridge, their views' callbacks from the input script:
// the plugin's trace ("banner attach|state|remove"), the animations, the metrics events, the
// pauses, the clients' calls. Each case's standard error is compared with data/road/<case>.txt.
struct BannerCase {
    const char* name;
    const char* provider;
    const char* project;
    const char* input;
    std::vector<std::string> options = {};
    std::string orientations = kPortrait;
};

const BannerCase kBannerCases[] = {
    // The fade machine (orbad, phone): two shows before a load (one view, the first format); loads
    // while fading in and while shown (adShown again, no second fade); hides in states 2, 0, 3 (with
    // and without a view) and 1; a failure while shown, and a load on the freed view (ignored); a
    // new show while shown (the old view cancelled, a new one); a format narrowed to 32 bits.
    {"banner-states", "orbad", R"(
steps = {
  function() probe('ShowBanner', 1) probe('ShowBanner', 0) end,
  function() probe('HideBanner') end,
  function() probe('ShowBanner', 1) end,
  function() probe('HideBanner') end,
  function() probe('ShowBanner', 1) probe('HideBanner') end,
  function() probe('HideBanner') end,
  function() probe('ShowBanner', 1) end,
  function() probe('HideBanner') end,
  function() probe('HideBanner') end,
  function() probe('ShowBanner', 1) end,
  function() probe('ShowBanner', 1) end,
  function() probe('ShowBanner', 0) end,
  function() probe('ShowBanner', 4294967297) end,
})",
     R"(7 memory.warning
7.1 banner.load
7.15 banner.load
7.4 banner.load
7.5 memory.warning
7.8 memory.warning
7.9 banner.load
7.95 memory.warning
8.2 memory.warning
8.3 memory.warning
8.4 memory.warning
8.5 banner.load
8.8 memory.warning
8.85 memory.warning
9.1 memory.warning
9.2 banner.load
9.5 banner.fail "no fill"
9.8 banner.load
9.9 memory.warning
10 banner.load
10.3 memory.warning
10.4 banner.load
10.7 memory.warning
10.8 app.quit
)"},
    // A show the provider refuses (a vertical format on the phone) while a banner waits for its
    // ad: the waiting banner goes, and its load is ignored.
    {"banner-refused", "orbad", R"(
steps = {
  function() probe('ShowBanner', 1) probe('ShowBanner', 4) end,
  function() probe('HideBanner') end,
})",
     "7 memory.warning\n7.1 banner.load\n7.5 memory.warning\n7.8 app.quit\n"},
    // Clicks (iad, phone): "adClicked" and a system pause, the return plays; the application
    // entering the background during an ad action plays, without one it does not; a return after
    // that finds no pause to release; a banner hidden during a click releases its pause, and its
    // view's return is ignored. The game view's pause count ends where it started.
    {"banner-clicks", "iad", R"(
steps = {
  function() probe('ShowBanner', 1) end,
  function() probe('HideBanner') end,
})",
     R"(7 memory.warning
7.1 banner.load
7.4 banner.click
7.5 banner.back
7.6 banner.click
7.7 app.resign
7.75 app.background
7.9 app.foreground
8.1 banner.back
8.2 app.resign
8.3 app.background
8.4 app.foreground
8.6 banner.click
8.7 memory.warning
9 banner.back
9.1 app.quit
)"},
    // The banner's orientation (iad): the interface's when the game supports it (portrait), else
    // the first the game lists (landscape right) while the device is held upside down on a system
    // that reads the device's orientation.
    {"banner-orientation", "iad", R"(
steps = {
  function() probe('ShowBanner', 1) probe('HideBanner') end,
  function() probe('ShowBanner', 1) end,
})",
     "7 memory.warning\n7.1 rotate 2\n7.2 memory.warning\n7.3 app.quit\n", {"--system-version", "5.1", "--device-orientation", "1"},
     "<string>UIInterfaceOrientationLandscapeRight</string><string>UIInterfaceOrientationPortrait</string>"},
};

TEST_F(GameRoad, BannerAds) {
    for (const BannerCase& c : kBannerCases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(m_dir.file("home"));
        fs::create_directories(m_dir.file("home/Library/LocalServices"));
        dktest::writeFile(m_dir.file("home/Library/LocalServices/adbanner.plist"),
                          "<plist version=\"1.0\"><dict/></plist>\n");
        const std::string app = bundle(c.project, c.orientations,
                                       std::string("<key>BannerProvider</key><string>") + c.provider + "</string>");
        dktest::writeFile(m_dir.file("input.txt"), c.input);
        std::vector<std::string> arguments = {"--headless",  "--probe-plugin", "--input", "input.txt", "--trace",
                                              "banner,plugin,pause,input,svc,ui,notify"};
        arguments.insert(arguments.end(), c.options.begin(), c.options.end());
        arguments.push_back(app);
        const dktest::ProcessResult r = run(arguments);
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.err, expected(c.name, r.err));
    }
}

// Two scene loads while the game is paused, the second inside the first's turn of the run loop:
// the frame clock stays stopped, so the virtual clock jumps straight to the run's far end. A clock
// left ticking would step there 1/60 s at a time; `timeout` turns that into a failure. The far end
// is near enough for the page-view dispatcher's 10 s ticks to pass in seconds under a sanitizer.
TEST_F(GameRoad, ScenesLoadedWhilePausedLeaveTheClockStopped) {
    const std::string app = bundle(R"(
steps = {
  function() probe('probe.pause', true, 0) end,
  function() loadScene('a') end,
  function() loadScene('b') end,
})");
    dktest::writeFile(m_dir.file("input.txt"), "6 memory.warning\n+0.1 memory.warning\n+0.15 memory.warning\n");
    dktest::ProcessResult r = dktest::runProcess(
        {"/usr/bin/timeout", "120", kPlayer, "--headless", "--probe-plugin", "--input", "input.txt", "--duration", "100000",
         "--trace", "engine,frame,pause,input", app},
        {"DROVIK_HOME=" + m_dir.file("home")}, m_dir.path());
    r.err = replaced(r.err, m_dir.path(), "$DIR");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, expected("paused-loads", r.err));
}

// Where the road cannot lead to a game the program ends at once, status 1, saying why.
TEST_F(GameRoad, EndsWhenThereIsNoGameToRun) {
    const std::string app = bundle("");
    const struct Case {
        const char* name;
        std::function<void()> breakIt;
        std::vector<std::string> environment;
        std::string message;
    } cases[] = {
        {"no engine script",
         [&] { fs::remove(app + "/engine32.luo"); },
         {},
         "DKGameViewController: file engine32 not found in app bundle\n"},
        {"no game project",
         [&] { fs::remove_all(app + "/Probe.gameproj"); },
         {},
         "DrovikPlayerAppDelegate: no gameproj resource in app bundle\n"},
        // libglvnd finds no EGL vendor, so no context can be made.
        {"no GL context",
         [] {},
         {"LIBGL_DRIVERS_PATH=/nonexistent", "EGL_DRIVERS_PATH=/nonexistent",
          "__EGL_VENDOR_LIBRARY_FILENAMES=/nonexistent.json"},
         "EAGLView: could not create an OpenGL ES 2.0 context: "},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        bundle("");
        c.breakIt();
        const dktest::ProcessResult r = run({"--headless", "--trace", "lifecycle", app}, c.environment);
        EXPECT_EQ(r.status, 1);
        EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
        // Ended from the launch: the application quits without ever becoming active.
        EXPECT_EQ(r.err.find("didBecomeActive"), std::string::npos) << r.err;
        EXPECT_NE(r.err.find("t=0.000000 lifecycle willTerminate"), std::string::npos) << r.err;
    }
}

// The sample game under the road: --frames counts the frames drawn, and the screenshot is the
// composited screen with the game in it, headless and in a window (whose contexts the game's joins).
TEST_F(GameRoad, SampleGameFramesAndScreenshot) {
    dktest::XvfbServer x;
    const struct Case {
        const char* name;
        std::vector<std::string> arguments;
        std::vector<std::string> environment;
        std::string window;  // the window's trace line
    } cases[] = {
        {"headless", {"--headless"}, {}, ""},
        // Mesa's X11 driver, unloaded with the window's display, leaves its lifelong blocks unowned.
        {"window", {}, {"DISPLAY=" + x.display(), "ASAN_OPTIONS=detect_leaks=0"},
         "window open 960x640 zoom 1 accelerometer virtual\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        if (!c.window.empty() && !x.running()) {
            if (x.installed()) ADD_FAILURE() << x.why();
            continue;
        }
        std::vector<std::string> arguments = {"--frames", "30", "--screenshot", "shot.png", "--trace", "window",
                                              "--trace-file", "trace.txt", DK_SOURCE_DIR "/games/sample/Sample.app"};
        arguments.insert(arguments.begin(), c.arguments.begin(), c.arguments.end());
        const dktest::ProcessResult r = run(arguments, c.environment);
        ASSERT_EQ(r.status, 0) << r.err;
        const std::string trace = dktest::readFile(m_dir.file("trace.txt"));
        EXPECT_EQ(trace.empty() ? "" : trace.substr(trace.find(' ') + 1), c.window);
        int width = 0, height = 0;
        std::vector<uint8_t> rgba;
        std::string error;
        ASSERT_TRUE(plat::image::readPNG(m_dir.file("shot.png"), &width, &height, &rgba, &error)) << error;
        EXPECT_EQ(width, 960);  // landscape, the retina phone's pixels
        EXPECT_EQ(height, 640);
        size_t lit = 0;
        for (size_t i = 0; i < rgba.size(); i += 4) lit += rgba[i] || rgba[i + 1] || rgba[i + 2];
        EXPECT_GT(lit, rgba.size() / 4 / 10) << "the game drew less than a tenth of the screen";
    }
}

// A picture of a portrait interface as a landscape glass held LandscapeRight shows it: the
// interface's top left at the glass's bottom left.
std::vector<uint8_t> onLandscapeGlass(const std::vector<uint8_t>& rgba, int width, int height) {
    std::vector<uint8_t> turned(rgba.size());
    for (int y = 0; y < width; ++y)
        for (int x = 0; x < height; ++x)
            std::copy_n(&rgba[(static_cast<size_t>(x) * width + (width - 1 - y)) * 4], 4,
                        &turned[(static_cast<size_t>(y) * height + x) * 4]);
    return turned;
}

// The sample's screens under the start-up screen, fading in and playing, headless and in a window
// (on the virtual clock, so both take them at the same moments): byte for byte the pictures in
// data/screens/, taken before the compositor learned to skip what the game covers. The window's
// are what it shows: the portrait start-up screen on its side on the landscape glass.
TEST_F(GameRoad, TheSampleGamesScreensStayByteForByte) {
    dktest::XvfbServer x;
    const struct Case {
        const char* name;
        std::vector<std::string> arguments;
        std::vector<std::string> environment;
        bool onGlass;
    } cases[] = {
        {"headless", {"--headless"}, {}, false},
        {"window", {"--clock", "virtual"}, {"DISPLAY=" + x.display(), "ASAN_OPTIONS=detect_leaks=0"}, true},
    };
    const char* const screens[] = {"startup", "fading", "game"};
    dktest::writeFile(m_dir.file("input.txt"),
                      "1 screenshot startup.png\n5.1 screenshot fading.png\n7 screenshot game.png\n7.1 app.quit\n");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.name == std::string("window") && !x.running()) {
            if (x.installed()) ADD_FAILURE() << x.why();
            continue;
        }
        fs::remove_all(m_dir.file("home"));
        std::vector<std::string> arguments = {"--input", "input.txt", DK_SOURCE_DIR "/games/sample/Sample.app"};
        arguments.insert(arguments.begin(), c.arguments.begin(), c.arguments.end());
        const dktest::ProcessResult r = run(arguments, c.environment);
        ASSERT_EQ(r.status, 0) << r.err;
        for (const char* screen : screens) {
            SCOPED_TRACE(screen);
            int width = 0, height = 0, expectedWidth = 0, expectedHeight = 0;
            std::vector<uint8_t> rgba, expected;
            std::string error;
            ASSERT_TRUE(plat::image::readPNG(m_dir.file(std::string(screen) + ".png"), &width, &height, &rgba, &error))
                << error;
            ASSERT_TRUE(plat::image::readPNG(kData + "/screens/sample-" + screen + ".png", &expectedWidth,
                                             &expectedHeight, &expected, &error))
                << error;
            if (c.onGlass && expectedWidth < expectedHeight) {
                expected = onLandscapeGlass(expected, expectedWidth, expectedHeight);
                std::swap(expectedWidth, expectedHeight);
            }
            ASSERT_EQ(width, expectedWidth);
            ASSERT_EQ(height, expectedHeight);
            size_t differing = 0;
            for (size_t i = 0; i < rgba.size(); ++i) differing += rgba[i] != expected[i];
            EXPECT_EQ(differing, 0u);
        }
    }
}

}  // namespace
