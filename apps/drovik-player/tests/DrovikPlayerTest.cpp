// drovik-player as a whole program: its exit statuses and messages, the runs' ends, and a headless
// run driven by an input script whose trace, view dump and screenshot are compared with expected
// files.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <memory>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "platform/host/tests/OtherXClient.h"
#include "platform/image/ImageCodec.h"
#include "tests/support/TestSupport.h"

namespace {

const std::string kPlayer = DK_BINARY_DIR "/apps/drovik-player/drovik-player";
const std::string kData = DK_TEST_DATA_DIR;

const char* const kLandscapeOnly = R"(<?xml version="1.0" encoding="UTF-8"?>
<!DOCTYPE plist PUBLIC "-//Apple//DTD PLIST 1.0//EN" "http://www.apple.com/DTDs/PropertyList-1.0.dtd">
<plist version="1.0">
<dict>
  <key>CFBundleIdentifier</key><string>com.test.player</string>
  <key>UISupportedInterfaceOrientations</key>
  <array>
    <string>UIInterfaceOrientationLandscapeRight</string>
    <string>UIInterfaceOrientationLandscapeLeft</string>
  </array>
</dict>
</plist>
)";

const char* const kAllOrientations = R"(<?xml version="1.0" encoding="UTF-8"?>
<plist version="1.0"><dict><key>CFBundleIdentifier</key><string>com.test.turning</string>
<key>UISupportedInterfaceOrientations</key><array>
<string>UIInterfaceOrientationPortrait</string><string>UIInterfaceOrientationPortraitUpsideDown</string>
<string>UIInterfaceOrientationLandscapeLeft</string><string>UIInterfaceOrientationLandscapeRight</string>
</array></dict></plist>
)";

const char* const kNoOrientations = R"(<?xml version="1.0" encoding="UTF-8"?>
<plist version="1.0"><dict><key>CFBundleIdentifier</key><string>com.test.plain</string></dict></plist>
)";

class DrovikPlayer : public ::testing::Test {
protected:
    // Two bundles of a game that does nothing and says nothing.
    void SetUp() override {
        for (const char* app : {"Landscape.app", "Plain.app", "Turning.app"}) {
            std::filesystem::create_directories(m_dir.file(app) + "/Game.gameproj");
            std::filesystem::copy_file(kData + "/quiet-engine.lua", m_dir.file(app) + "/engine32.luo");
        }
        dktest::writeFile(m_dir.file("Landscape.app/Info.plist"), kLandscapeOnly);
        dktest::writeFile(m_dir.file("Plain.app/Info.plist"), kNoOrientations);
        dktest::writeFile(m_dir.file("Turning.app/Info.plist"), kAllOrientations);
    }

    dktest::ProcessResult run(std::vector<std::string> arguments, std::vector<std::string> environment = {}) {
        arguments.insert(arguments.begin(), kPlayer);
        environment.push_back("DROVIK_HOME=" + m_dir.file("home"));
        return dktest::runProcess(arguments, environment, m_dir.path());
    }

    // The screenshot's size, and whether every pixel is opaque black.
    bool blackPicture(const std::string& name, int* width, int* height) {
        std::vector<uint8_t> rgba;
        std::string error;
        EXPECT_TRUE(plat::image::readPNG(m_dir.file(name), width, height, &rgba, &error)) << error;
        for (size_t i = 0; i < rgba.size(); i += 4)
            if (rgba[i] || rgba[i + 1] || rgba[i + 2] || rgba[i + 3] != 255) return false;
        return !rgba.empty();
    }

    dktest::TempDir m_dir;
};

// The game view's word for a pause, here the resign of a quit while the game plays.
const std::string kQuitPause = "Game paused by system.  Count:  1\n";

TEST_F(DrovikPlayer, ExitStatusesAndMessages) {
    dktest::writeFile(m_dir.file("bad.txt"), "0 mark fine\n\n1.5 jump\n");
    dktest::writeFile(m_dir.file("good.txt"), "6.5 app.quit\n");
    const struct Case {
        std::vector<std::string> arguments;
        std::vector<std::string> environment;
        int status;
        std::string err;
    } cases[] = {
        {{"--headless", "--bogus", "Plain.app"}, {}, 2,
         "drovik-player: unknown option --bogus (see drovik-player --help)\n"},
        {{"--headless"}, {}, 2,
         "drovik-player: no BUNDLE: give its path, --bundle DIR or $DROVIK_BUNDLE (see drovik-player --help)\n"},
        {{"--headless", "--device", "watch", "Plain.app"}, {}, 2,
         "drovik-player: --device takes phone, phone-retina, phone5, tablet or tablet-retina, not \"watch\" (see "
         "drovik-player --help)\n"},
        {{"--headless", "--input", "bad.txt", "Plain.app"}, {}, 2,
         "drovik-player: bad.txt:3: unknown command \"jump\"\n"},
        {{"--headless", "--input", "absent.txt", "Plain.app"}, {}, 2,
         "drovik-player: absent.txt: No such file or directory\n"},
        {{"--headless", "--input", "bad.txt", "Missing.app"}, {}, 2,
         "drovik-player: bad.txt:3: unknown command \"jump\"\n"},
        {{"--headless", "--trace-file", "no/such/t.txt", "Plain.app"}, {}, 1,
         "cannot open trace file no/such/t.txt: No such file or directory\n"},
        {{"--headless", "Missing.app"}, {}, 1, "drovik-player: " + m_dir.file("Missing.app") + ": not a bundle directory\n"},
        // A run that ends after the game has played: the quit's resign pauses it.
        {{"--headless", "--input", "good.txt"}, {"DROVIK_BUNDLE=Plain.app"}, 0, kQuitPause},
        // On the real clock a slow start may reach the end before the game plays: no pause then.
        {{"--duration", "0.2", "Plain.app"}, {"SDL_VIDEODRIVER=dummy"}, 0,
         "drovik-player: no window (SDL's video driver dummy shows nothing): running headless on the real clock "
         "until quit\n"},
        {{"--duration", "0.2", "Plain.app"}, {"SDL_VIDEODRIVER=x11", "DISPLAY="}, 0,
         "drovik-player: no window (SDL: x11 not available): running headless on the real clock until quit\n"},
        // Found before the run, not after it has been played for nothing.
        {{"--headless", "--input", "good.txt", "--screenshot", "no/such/dir/shot.png", "Plain.app"}, {}, 1,
         "drovik-player: cannot write the screenshot no/such/dir/shot.png: No such file or directory\n"},
        {{"--headless", "--trace", "lifecycle,lifecylce", "Plain.app"}, {}, 2,
         "drovik-player: --trace: no category \"lifecylce\" (see drovik-player --help)\n"},
        // The environment's categories are held to the option's list: a typo traces nothing.
        {{"--headless", "Plain.app"}, {"DROVIK_TRACE=lifecycle,lifecylce"}, 2,
         "drovik-player: $DROVIK_TRACE: no category \"lifecylce\" (see drovik-player --help)\n"},
    };
    for (const Case& c : cases) {
        const dktest::ProcessResult r = run(c.arguments, c.environment);
        EXPECT_EQ(r.status, c.status) << c.arguments.back() << "\n" << r.err;
        const bool realClock = c.arguments.front() == "--duration";
        EXPECT_TRUE(r.err == c.err || (realClock && r.err == c.err + kQuitPause)) << r.err;
        EXPECT_EQ(r.out, "");
    }
    for (const char* asked : {"--help", "-h"}) {
        const dktest::ProcessResult help = run({asked});
        EXPECT_EQ(help.status, 0) << asked << ": " << help.err;
        EXPECT_EQ(help.out.rfind("usage: drovik-player [OPTIONS] BUNDLE", 0), 0u) << asked;
    }
    EXPECT_FALSE(std::filesystem::exists(m_dir.file("no")));
}

// The last trace line of a run: when and how it ended.
std::string lastLine(const std::string& text) {
    const size_t end = text.find_last_of('\n', text.size() - 2);
    return text.substr(end == std::string::npos ? 0 : end + 1);
}

TEST_F(DrovikPlayer, AHeadlessRunEndsAfterItsDurationOrTenSeconds) {
    dktest::writeFile(m_dir.file("quit.txt"), "12.5 app.quit\n");
    dktest::writeFile(m_dir.file("marks.txt"), "9.5 mark still running\n10 mark at the end\n");
    const struct Case {
        std::vector<std::string> arguments;
        std::string last;
    } cases[] = {
        {{}, "t=10.000000 lifecycle willTerminate\n"},
        {{"--input", "marks.txt"}, "t=10.000000 lifecycle willTerminate\n"},
        {{"--duration", "2.5"}, "t=2.500000 lifecycle willTerminate\n"},
        {{"--duration", "0"}, "t=0.000000 lifecycle willTerminate\n"},
        {{"--input", "quit.txt"}, "t=12.500000 lifecycle willTerminate\n"},
        {{"--input", "quit.txt", "--duration", "20"}, "t=12.500000 lifecycle willTerminate\n"},
        // Frames count from the game's first, drawn as play begins when the 5 s start-up screen ends;
        // the fifth one tick of 1/60 s later each.
        {{"--frames", "5", "--duration", "8"}, "t=5.066667 lifecycle willTerminate\n"},
    };
    for (const Case& c : cases) {
        std::vector<std::string> arguments = c.arguments;
        for (const char* common : {"--headless", "--trace", "lifecycle,input", "--trace-file", "-", "Plain.app"})
            arguments.push_back(common);
        const dktest::ProcessResult r = run(arguments);
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(lastLine(r.out), c.last) << r.out;
    }
    const dktest::ProcessResult marks = run({"--headless", "--input", "marks.txt", "--trace", "input", "--trace-file",
                                             "-", "Plain.app"});
    EXPECT_EQ(marks.out, "t=9.500000 input mark still running\nt=10.000000 input mark at the end\n");
}

TEST_F(DrovikPlayer, TheScreenHasTheDevicesShapeAsTheInterfaceTurns) {
    dktest::writeFile(m_dir.file("turn.txt"), "6 rotate 4\n");
    const struct Case {
        std::vector<std::string> arguments;
        int width, height;
    } cases[] = {
        {{"Turning.app"}, 640, 960},
        {{"--device", "phone", "Turning.app"}, 320, 480},
        // The phone's start-up screen is portrait: the game turns with the device once it is gone.
        {{"--device", "phone5", "--device-orientation", "4", "Turning.app"}, 640, 1136},
        {{"--device", "phone5", "--input", "turn.txt", "Turning.app"}, 1136, 640},
        {{"--device", "tablet", "--device-orientation", "3", "Turning.app"}, 1024, 768},
        // A tablet without launch images: the start-up screen's image is a landscape one, and the
        // interface stays landscape under the game until the device turns.
        {{"--device", "tablet-retina", "--device-orientation", "2", "Turning.app"}, 2048, 1536},
        // No orientation listed: the game's controller allows none, and the interface stays as it was.
        {{"--device", "phone5", "--device-orientation", "4", "Plain.app"}, 640, 1136},
        // Landscape only: a portrait device still shows the interface landscape.
        {{"--device-orientation", "1", "Landscape.app"}, 960, 640},
    };
    for (const Case& c : cases) {
        // Once the start-up screen has gone and the game's controller decides.
        std::vector<std::string> arguments = {"--headless", "--duration", "7", "--screenshot", "screen.png"};
        arguments.insert(arguments.end(), c.arguments.begin(), c.arguments.end());
        const dktest::ProcessResult r = run(arguments);
        ASSERT_EQ(r.status, 0) << r.err;
        int width = 0, height = 0;
        EXPECT_TRUE(blackPicture("screen.png", &width, &height));
        EXPECT_EQ(width, c.width) << c.arguments.front();
        EXPECT_EQ(height, c.height);
    }
}

TEST_F(DrovikPlayer, ReadsItsScriptFromStandardInputAndTracesToAFile) {
    const dktest::ProcessResult r = dktest::runProcess(
        {"/bin/sh", "-c", "printf '0.25 mark piped\\n+0.25 app.quit\\n' | \"$0\" --headless --input - Plain.app", kPlayer},
        {"DROVIK_HOME=" + m_dir.file("home"), "DROVIK_TRACE=input", "DROVIK_TRACE_FILE=trace.txt"}, m_dir.path());
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(dktest::readFile(m_dir.file("trace.txt")), "t=0.250000 input mark piped\nt=0.500000 input app.quit\n");
}

TEST_F(DrovikPlayer, OpensAWindowWhenADisplayIsUsableAndPlaysItsScriptThere) {
    dktest::XvfbServer x;
    if (!x.installed()) GTEST_SKIP() << x.why();
    ASSERT_TRUE(x.running()) << x.why();
    dktest::writeFile(m_dir.file("quit.txt"), "0.1 mark windowed\n0.2 app.quit\n");
    const dktest::ProcessResult r =
        run({"--input", "quit.txt", "--trace", "window,input", "--trace-file", "-", "Landscape.app"},
            // Leaks are the host tests' business (the same driver in process); here Mesa's X11
            // driver, unloaded with the window's display, would leave its lifelong blocks unowned.
            {"DISPLAY=" + x.display(), "ASAN_OPTIONS=detect_leaks=0"});
    EXPECT_EQ(r.status, 0) << r.err;
    // On the real clock the quit may come before the game plays: no pause then.
    EXPECT_TRUE(r.err.empty() || r.err == kQuitPause) << r.err;
    // On the real clock the times are whatever they were, and so is the number of the game's
    // accelerometer samples (the virtual accelerometer at rest, held landscape).
    std::string trace;
    for (size_t at = 0; at < r.out.size();) {
        const size_t end = r.out.find('\n', at);
        const std::string line = r.out.substr(r.out.find(' ', at) + 1, end - r.out.find(' ', at));
        if (line != "input accel -1 0 0\n") trace += line;
        at = end + 1;
    }
    EXPECT_EQ(trace, "window open 960x640 zoom 1 accelerometer virtual\ninput mark windowed\ninput app.quit\n");
}

// A second player started on the home of one still running says so and stops: its saves would
// overwrite the first one's (a high score made in one was lost). Once the first has ended, the
// home is free again.
TEST_F(DrovikPlayer, ASecondPlayerOnOneHomeSaysSoAndStops) {
    const std::string script =
        "\"$0\" --headless --clock real --trace lifecycle --trace-file t.txt Plain.app & echo $! > first.pid; "
        "until grep -q didBecomeActive t.txt 2>/dev/null; do sleep 0.01; done; "
        "\"$0\" --headless --frames 1 Turning.app > second.out 2> second.err; echo $? > second.status; "
        "kill -TERM $!; wait $!";
    const dktest::ProcessResult r =
        dktest::runProcess({"/bin/sh", "-c", script, kPlayer}, {"DROVIK_HOME=" + m_dir.file("home")}, m_dir.path());
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(dktest::readFile(m_dir.file("second.status")), "1\n");
    std::string pid = dktest::readFile(m_dir.file("first.pid"));
    pid.pop_back();
    EXPECT_EQ(dktest::readFile(m_dir.file("second.err")),
              "drovik-player: another player (pid " + pid + ") is running on the home " + m_dir.file("home") +
                  "; two would overwrite each other's saved values, so this one stops\n");
    EXPECT_EQ(dktest::readFile(m_dir.file("second.out")), "");
    EXPECT_EQ(run({"--headless", "--frames", "1", "Turning.app"}).status, 0);
}

// A one-player lock that cannot be had for another reason than another player (a folder at its
// name, here) is named as it is: "another player is running" sent the user looking for none.
TEST_F(DrovikPlayer, ALockThatCannotBeHadIsNamed) {
    std::filesystem::create_directories(m_dir.file("home/.drovik-player.lock"));
    const dktest::ProcessResult r = run({"--headless", "--frames", "1", "Turning.app"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "drovik-player: the home's one-player lock cannot be taken (" + m_dir.file("home") +
                         "/.drovik-player.lock: Is a directory), so this one stops\n");
}

// A home whose path is legal but so long that SQLite cannot open the save file under it: the start
// ends with status 1 and one line naming the file and the limit, rather than losing every save.
TEST_F(DrovikPlayer, AHomeTooLongForTheSaveFileEndsTheStart) {
    std::string home = std::filesystem::canonical(m_dir.path()).string();
    while (home.size() < 480) home += "/" + std::string(std::min<size_t>(100, 480 - home.size()), 'h');
    std::filesystem::create_directories(home);
    const dktest::ProcessResult r = run({"--headless", "--frames", "5", "--home", home, "Plain.app"});
    const std::string save = home + "/Documents/persistent.save";
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(
        r.err.substr(0, r.err.find(" bytes, over the ")),
        "drovik-player: the saved file " + save + " would have a path of " + std::to_string(save.size()));
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
}

// Another process (the sqlite3 tool) holds the save file's lock without end while the game loads
// a value: the wait is said once, and a SIGTERM ends it and the run, the lock still held; the load
// answers nil and the stored value stays as it was.
TEST_F(DrovikPlayer, ASigtermEndsALoadsWaitOnALockHeldElsewhere) {
    std::filesystem::create_directories(m_dir.file("home/Documents"));
    const std::string save = m_dir.file("home/Documents/persistent.save");
    dktest::runProcess({"/usr/bin/sqlite3", save,
                        "CREATE TABLE savedValues (key char(32) primary key, value char(32)); "
                        "INSERT INTO savedValues VALUES ('best', '1200');"});
    std::filesystem::copy_file(kData + "/quiet-engine.lua", m_dir.file("Plain.app/engine32.luo"),
                               std::filesystem::copy_options::overwrite_existing);
    std::ofstream(m_dir.file("Plain.app/engine32.luo"), std::ios::app)
        << "function loadInitialScene() print('best', database.loadValueForKey('best')) end\n";
    // Every wait ends by itself after a minute, so that a player that never ends fails the test.
    const std::string script =
        "wait_for() { i=0; until eval \"$1\" || [ $i -ge 6000 ]; do sleep 0.01; i=$((i+1)); done; }; "
        "save=$1; mkfifo in; /usr/bin/sqlite3 \"$save\" < in > /dev/null & holder=$!; exec 3>in; "
        "echo '.timeout 60000' >&3; echo 'BEGIN EXCLUSIVE;' >&3; "
        "wait_for '/usr/bin/sqlite3 \"$save\" \"SELECT count(*) FROM savedValues\" 2>&1 | grep -q locked'; "
        "\"$0\" --headless --clock real Plain.app > player.out 2> player.err 3>&- & player=$!; "
        "wait_for 'grep -q \"loads wait\" player.err'; kill -TERM $player; "
        "wait_for '! kill -0 $player 2>/dev/null'; kill -0 $player 2>/dev/null || echo ended > before-the-lock-went; "
        "exec 3>&-; wait $player; echo $? > player.status; wait $holder";
    const dktest::ProcessResult r = dktest::runProcess({"/bin/sh", "-c", script, kPlayer, save},
                                                       {"DROVIK_HOME=" + m_dir.file("home")}, m_dir.path());
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(dktest::readFile(m_dir.file("before-the-lock-went")), "ended\n");
    EXPECT_EQ(dktest::readFile(m_dir.file("player.status")), "0\n");
    EXPECT_EQ(dktest::readFile(m_dir.file("player.out")), "best\tnil\n");
    EXPECT_EQ(dktest::readFile(m_dir.file("player.err")),
              "DKDatabase: " + save + " is locked by another process; loads wait for it\n");
    EXPECT_EQ(dktest::runProcess({"/usr/bin/sqlite3", save, "SELECT value FROM savedValues"}).out, "1200\n");
}

TEST_F(DrovikPlayer, SignalsQuitThroughTheRunLoop) {
    for (const char* signal : {"INT", "TERM"}) {
        // On the real clock, without an end of its own: the run lasts until the signal.
        const std::string script = std::string("\"$0\" --headless --clock real --trace lifecycle --trace-file t.txt "
                                               "Plain.app & until grep -q didBecomeActive t.txt 2>/dev/null; do "
                                               "sleep 0.01; done; kill -") +
                                   signal + " $!; wait $!";
        std::filesystem::remove(m_dir.file("t.txt"));
        const dktest::ProcessResult r =
            dktest::runProcess({"/bin/sh", "-c", script, kPlayer}, {"DROVIK_HOME=" + m_dir.file("home")}, m_dir.path());
        EXPECT_EQ(r.status, 0) << signal << ": " << r.err;
        const std::string trace = dktest::readFile(m_dir.file("t.txt"));
        EXPECT_NE(trace.find("lifecycle willResignActive\n"), std::string::npos) << trace;
        EXPECT_EQ(trace.substr(trace.size() - std::string("lifecycle willTerminate\n").size()),
                  "lifecycle willTerminate\n");
    }
}

// The game's script with an update that stores "up", marks the file "looping" and loops with
// `body`, and a shutdownEngine that stores "bye".
std::string endlessUpdate(const std::string& body) {
    return "function update(dt) database.storeValueForKey('1', 'up'); io.open('looping', 'w'):close(); "
           "while true do " +
           body +
           " end end\n"
           "function shutdownEngine() database.storeValueForKey('1', 'bye') end\n";
}

// The keys of the save file at `path`, sorted, one a line.
std::string savedKeys(const std::string& path) {
    return dktest::runProcess({"/usr/bin/sqlite3", path, "SELECT key FROM savedValues ORDER BY key"}).out;
}

const std::string kCompiledLoop = "";                               // compiled at once: no hook reaches it
const std::string kInterpretedLoop = "for _ in pairs({1}) do end";  // pairs is never compiled

// An update that never returns is ended a few seconds after a quit signal or the run's end: a
// hook where the runtime looks at it (the way out then runs: shutdownEngine saves), else the
// process ends. A second signal ends it at once.
TEST_F(DrovikPlayer, AnUpdateThatNeverReturnsIsEndedAfterTheRunsEnd) {
    const std::string stuck =
        "drovik-player: the game's update did not return within 3 s of the run's end; interrupting it, else "
        "ending the process\n";
    const struct Case {
        std::string loop;
        std::string duration;
        std::vector<int> signals;
        int status;
        std::string keys;
        std::string err;
    } cases[] = {
        {kCompiledLoop, "600", {SIGTERM}, 1, "up\n", stuck},
        {kCompiledLoop, "6", {}, 1, "up\n", stuck},
        {kInterpretedLoop, "600", {SIGTERM}, 0, "bye\nup\n", stuck},
        // Killed by whichever of the two is read second.
        {kCompiledLoop, "600", {SIGTERM, SIGINT}, 128 + SIGTERM, "up\n", "drovik-player: a second SIG"},
    };
    for (const Case& c : cases) {
        const dktest::TempDir home;
        std::filesystem::remove(m_dir.file("looping"));
        dktest::writeFile(m_dir.file("Plain.app/engine32.luo"),
                          dktest::readFile(kData + "/quiet-engine.lua") + endlessUpdate(c.loop));
        bool timedOut = false;
        const dktest::ProcessResult r = dktest::runProcessActing(
            {kPlayer, "--headless", "--duration", c.duration, "Plain.app"}, {"DROVIK_HOME=" + home.path()},
            m_dir.path(), [&] { return dktest::exists(m_dir.file("looping")); },
            [&](int pid) {
                for (int signal : c.signals) kill(pid, signal);
            },
            60, &timedOut);
        const std::string what = c.duration + " " + std::to_string(c.signals.size()) + " " + c.loop;
        ASSERT_FALSE(timedOut) << what;
        const bool eitherSignal = c.signals.size() == 2 && r.status == 128 + c.signals[1];
        EXPECT_TRUE(r.status == c.status || eitherSignal) << what << "\n" << r.err;
        EXPECT_NE(r.err.find(c.err), std::string::npos) << what << "\n" << r.err;
        EXPECT_EQ(savedKeys(home.file("Documents/persistent.save")), c.keys) << what;
    }
}

// Music whose file is a FIFO is named and never opened: the run ends at its frame count rather
// than waiting on the FIFO's writer with its feeder.
TEST_F(DrovikPlayer, MusicFromAFifoNeverHoldsTheRun) {
    const std::string fifo = m_dir.file("background.wav");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    dktest::writeFile(m_dir.file("Plain.app/engine32.luo"), dktest::readFile(kData + "/quiet-engine.lua") +
                                                                "function loadInitialScene() "
                                                                "platformWrappers.playMusic('" +
                                                                fifo + "', 1) end\n");
    bool timedOut = false;
    const dktest::ProcessResult r = dktest::runProcessWithin(
        {kPlayer, "--headless", "--frames", "30", "Plain.app"}, {"DROVIK_HOME=" + m_dir.file("home")},
        m_dir.path(), "/dev/null", O_RDONLY, 60, &timedOut);
    ASSERT_FALSE(timedOut);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find(fifo + ": not a file (a FIFO)\n"), std::string::npos) << r.err;
}

// The endings that skipped the way out: SIGHUP (a closed terminal), the window's display gone, the
// window destroyed by another client. Each runs it: the resign's AppHibernateStart and
// shutdownEngine save; a lost window says so and ends with status 1, never Xlib's exit.
TEST_F(DrovikPlayer, EveryEndingKeepsTheGamesLastSave) {
    dktest::writeFile(m_dir.file("Plain.app/engine32.luo"),
                      dktest::readFile(kData + "/quiet-engine.lua") +
                          "function update(dt) io.open('playing', 'w'):close() end\n"
                          "function raiseExternalEvent(name, args)\n"
                          "  if name == 'AppHibernateStart' then database.storeValueForKey('1', 'hib') end\n"
                          "end\n"
                          "function shutdownEngine() database.storeValueForKey('1', 'bye') end\n");
    enum class End { Hangup, DisplayGone, WindowDestroyed };
    const struct Case {
        End end;
        int status;
        std::string err;  // a line it holds
    } cases[] = {
        {End::Hangup, 0, ""},
        {End::DisplayGone, 1, "drovik-player: the window's display DISPLAY went away; the game quits\n"},
        {End::WindowDestroyed, 1, "drovik-player: another X client destroyed the window; the game quits\n"},
    };
    for (const Case& c : cases) {
        const std::string what = std::to_string(static_cast<int>(c.end));
        auto x = std::make_unique<dktest::XvfbServer>();
        std::vector<std::string> argv = {kPlayer, "--clock", "real", "Plain.app"};
        if (c.end == End::Hangup) {
            argv.insert(argv.begin() + 1, "--headless");
        } else if (!x->running()) {
            if (x->installed()) ADD_FAILURE() << x->why();
            continue;
        }
        const dktest::TempDir home;
        std::filesystem::remove(m_dir.file("playing"));
        const std::string display = x->display();
        bool timedOut = false;
        const dktest::ProcessResult r = dktest::runProcessActing(
            argv, {"DROVIK_HOME=" + home.path(), "DISPLAY=" + display, "ASAN_OPTIONS=detect_leaks=0"},
            m_dir.path(), [&] { return dktest::exists(m_dir.file("playing")); },
            [&](int pid) {
                if (c.end == End::Hangup) kill(pid, SIGHUP);
                if (c.end == End::DisplayGone) x.reset();
                if (c.end == End::WindowDestroyed) {
                    EXPECT_EQ(dktest::destroyWindowsTitled(display, "Drovik Player"), 1);
                }
            },
            60, &timedOut);
        ASSERT_FALSE(timedOut) << what;
        EXPECT_EQ(r.status, c.status) << what << "\n" << r.err;
        const std::string line = std::regex_replace(c.err, std::regex("DISPLAY"), display);
        EXPECT_NE(r.err.find(line), std::string::npos) << what << "\n" << r.err;
        EXPECT_EQ(r.err.find("X Error"), std::string::npos) << what << "\n" << r.err;
        EXPECT_EQ(savedKeys(home.file("Documents/persistent.save")), "bye\nhib\n") << what;
    }
}

// The categories the help lists: the words of its --trace entry's continuation lines.
std::set<std::string> listedCategories(const std::string& help) {
    std::set<std::string> names;
    size_t at = help.find("  --trace CATS");
    at = help.find('\n', at) + 1;
    while (help.compare(at, 25, std::string(25, ' ')) == 0) {
        const size_t end = help.find('\n', at);
        std::istringstream words(help.substr(at, end - at));
        for (std::string word; words >> word;) names.insert(word);
        at = end + 1;
    }
    return names;
}

// Every category a run traces is one --trace accepts and the help lists.
TEST_F(DrovikPlayer, TheHelpListsEveryCategoryARunTraces) {
    std::filesystem::copy_file(kData + "/everything.txt", m_dir.file("everything.txt"));
    const std::set<std::string> listed = listedCategories(run({"--help"}).out);
    EXPECT_GT(listed.size(), 20u);
    const dktest::ProcessResult r =
        run({"--headless", "--input", "everything.txt", "--trace", "all", "--trace-file", "-", "Landscape.app"});
    EXPECT_EQ(r.status, 0) << r.err;
    std::set<std::string> traced;
    std::istringstream lines(r.out);
    for (std::string time, category, rest; lines >> time >> category && std::getline(lines, rest);)
        traced.insert(category);
    EXPECT_GT(traced.size(), 5u);
    for (const std::string& category : traced) {
        EXPECT_TRUE(listed.count(category)) << category;
        EXPECT_EQ(run({"--headless", "--duration", "0", "--trace", category, "Plain.app"}).status, 0) << category;
    }
}

// A start-up that cannot give a game ends at once with status 1 and one line on standard error
// saying why, rather than running an empty or half-built game to a status of 0: the same rule for
// every start-up call of the script.
TEST_F(DrovikPlayer, AStartUpWithNoGameEndsWithOneLine) {
    for (const char* app : {"Broken.app", "Folder.app", "FileProject.app", "LoadFails.app", "NoScene.app",
                            "SceneFails.app", "NoInit.app"}) {
        std::filesystem::create_directories(m_dir.file(app));
        dktest::writeFile(m_dir.file(app) + "/Info.plist", kNoOrientations);
        if (std::string(app) != "FileProject.app") std::filesystem::create_directories(m_dir.file(app) + "/Game.gameproj");
        if (std::string(app) == "FileProject.app")
            std::filesystem::copy_file(kData + "/quiet-engine.lua", m_dir.file(app) + "/engine32.luo");
    }
    dktest::writeFile(m_dir.file("Broken.app/engine32.luo"), "function initEngine() end\nx = = 1\n");
    std::filesystem::create_directories(m_dir.file("Folder.app/engine32.luo"));
    dktest::writeFile(m_dir.file("FileProject.app/Game.gameproj"), "not a folder");
    const std::string quiet = dktest::readFile(kData + "/quiet-engine.lua");
    dktest::writeFile(m_dir.file("LoadFails.app/engine32.luo"),
                      quiet + "function loadProject(path) error('no scenes in it', 0) end\n");
    dktest::writeFile(m_dir.file("NoScene.app/engine32.luo"), quiet + "loadInitialScene = nil\n");
    dktest::writeFile(m_dir.file("SceneFails.app/engine32.luo"),
                      quiet + "function loadInitialScene() error('the first scene is missing', 0) end\n");
    dktest::writeFile(m_dir.file("NoInit.app/engine32.luo"), quiet + "initEngine = nil\n");
    const struct {
        const char* app;
        std::string err;
    } cases[] = {
        {"Broken.app", "engine32.luo:2: unexpected symbol near '='\n"},
        {"Folder.app", "/Folder.app/engine32.luo in app bundle is not a file\n"},
        {"FileProject.app", "/FileProject.app/Game.gameproj is not a folder\n"},
        {"LoadFails.app", "DK_LoadGame Failure: no scenes in it\n"},
        {"NoScene.app", "(DK_Report_Error) Lua Error: attempt to call a nil value (global 'loadInitialScene')\n"},
        {"SceneFails.app", "(DK_Report_Error) Lua Error: the first scene is missing\n"},
        {"NoInit.app", "(DK_Report_Error) Lua Error: attempt to call a nil value (global 'initEngine')\n"},
    };
    for (const auto& c : cases) {
        const dktest::ProcessResult r = run({"--headless", c.app});
        EXPECT_EQ(r.status, 1) << c.app << "\n" << r.err;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
        EXPECT_TRUE(r.err.size() >= c.err.size() && r.err.compare(r.err.size() - c.err.size(), c.err.size(), c.err) == 0)
            << r.err;
        EXPECT_EQ(r.out, "") << c.app;
    }
}

// What would leave an author puzzling over a game that sits still or turns oddly is said at start,
// one line each, and the game goes on.
TEST_F(DrovikPlayer, AScriptWithoutUpdateAndAnUnknownOrientationAreSaidAtStart) {
    std::filesystem::create_directories(m_dir.file("Odd.app/Game.gameproj"));
    dktest::writeFile(m_dir.file("Odd.app/Info.plist"), R"(<?xml version="1.0" encoding="UTF-8"?>
<plist version="1.0"><dict><key>CFBundleIdentifier</key><string>com.test.odd</string>
<key>UISupportedInterfaceOrientations</key><array>
<string>UIInterfaceOrientationPortrait</string><string>UIInterfaceOrientationLandscape</string>
<string>Sideways</string></array></dict></plist>
)");
    dktest::writeFile(m_dir.file("Odd.app/engine32.luo"),
                      dktest::readFile(kData + "/quiet-engine.lua") + "update = nil\n");
    const dktest::ProcessResult r = run({"--headless", "--duration", "1", "Odd.app"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err,
              "drovik-player: warning: UISupportedInterfaceOrientations names \"UIInterfaceOrientationLandscape\", "
              "\"Sideways\", which the player does not know: taken as UIInterfaceOrientationLandscapeRight\n"
              "drovik-player: warning: the engine script defines no update(dt): no frame reaches the game\n");
    // The known names and a script with update: nothing to say.
    const dktest::ProcessResult plain = run({"--headless", "--duration", "1", "Turning.app"});
    EXPECT_EQ(plain.status, 0);
    EXPECT_EQ(plain.err, "");
}

// The game goes on past an error raised every frame, and its author reads it: once, with its
// traceback, then as a count.
TEST_F(DrovikPlayer, AScriptErrorInUpdateIsLoggedOnceThenCounted) {
    std::filesystem::create_directories(m_dir.file("Erring.app/Game.gameproj"));
    dktest::writeFile(m_dir.file("Erring.app/Info.plist"), kNoOrientations);
    dktest::writeFile(m_dir.file("Erring.app/engine32.luo"),
                      dktest::readFile(kData + "/quiet-engine.lua") +
                          "local function position(sprite) return sprite.x end\n"
                          "function update(dt) local x = position(nil) return x end\n");
    const dktest::ProcessResult r = run({"--headless", "--frames", "150", "Erring.app"});
    EXPECT_EQ(r.status, 0) << r.err;
    const std::string error = "Erring.app/engine32.luo:10: attempt to index local 'sprite' (a nil value)";
    const std::string first = "Lua error in update (the game goes on): ";
    const size_t at = r.err.find(first);
    ASSERT_NE(at, std::string::npos) << r.err;
    EXPECT_EQ(r.err.find(first, at + 1), std::string::npos) << r.err;
    EXPECT_NE(r.err.find(error + "\nstack traceback:\n", at), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("in function 'position'", at), std::string::npos) << r.err;
    for (const std::string count : {"10 times so far: ", "100 times so far: "})
        EXPECT_TRUE(std::regex_search(r.err, std::regex("\nLua error in update, " + count + "[^\n]*" +
                                                        "engine32\\.luo:10: attempt to index local 'sprite'")))
            << r.err;
    // At the end, the whole count: a frame each, the first and the loading's step included.
    std::smatch total;
    ASSERT_TRUE(std::regex_search(r.err, total, std::regex("\nLua error in update, ([0-9]+) times in all: ")))
        << r.err;
    EXPECT_GE(std::stoi(total[1]), 150);
    EXPECT_LE(std::stoi(total[1]), 152);
}

// A game that stops drawing (here resigned for good) would leave --frames unreached and the virtual
// clock racing: the run ends at its bound and says why.
TEST_F(DrovikPlayer, AHeadlessRunWhoseGameStopsDrawingEndsAtItsBound) {
    dktest::writeFile(m_dir.file("resign.txt"), "6 app.resign\n");
    const dktest::ProcessResult r = run({"--headless", "--frames", "100", "--input", "resign.txt", "--trace",
                                         "lifecycle", "--trace-file", "-", "Plain.app"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(lastLine(r.out), "t=11.666667 lifecycle willTerminate\n") << r.out;
    EXPECT_TRUE(std::regex_search(r.err, std::regex("\ndrovik-player: [0-9]+ of 100 frames drawn when the run "
                                                    "reached its end at 11.6667 clock seconds \\(see --duration\\)\n")))
        << r.err;
    const dktest::ProcessResult timed = run({"--headless", "--frames", "100", "--duration", "7", "--input",
                                             "resign.txt", "Plain.app"});
    EXPECT_EQ(timed.status, 0) << timed.err;
    EXPECT_NE(timed.err.find("of 100 frames drawn when the run reached its end at 7 clock seconds\n"),
              std::string::npos)
        << timed.err;
}

// What is not a regular file ends the start-up at once with one line naming it: /dev/zero never
// ends (it grew to gigabytes and aborted) and a FIFO blocked the open for ever, SIGTERM and all.
TEST_F(DrovikPlayer, AnInputScriptOrInfoPlistThatIsNoFileEndsTheStartUpWithOneLine) {
    ASSERT_EQ(mkfifo(m_dir.file("script.fifo").c_str(), 0600), 0);
    for (const char* app : {"Zero.app", "Fifo.app"}) {
        std::filesystem::create_directories(m_dir.file(app) + "/Game.gameproj");
        std::filesystem::copy_file(kData + "/quiet-engine.lua", m_dir.file(app) + "/engine32.luo");
    }
    std::filesystem::create_symlink("/dev/zero", m_dir.file("Zero.app/Info.plist"));
    ASSERT_EQ(mkfifo(m_dir.file("Fifo.app/Info.plist").c_str(), 0600), 0);
    const struct {
        std::vector<std::string> arguments;
        std::string input;  // standard input, opened for reading and writing (a FIFO its own writer)
        int status;
        std::string err;
    } cases[] = {
        {{"--input", "/dev/zero", "Plain.app"}, "/dev/null", 2, "/dev/zero: not a file (a character device)"},
        {{"--input", "-", "Plain.app"}, "/dev/zero", 2, "<stdin>: not a file (a character device)"},
        {{"--input", "script.fifo", "Plain.app"}, "/dev/null", 2, "script.fifo: not a file (a FIFO)"},
        {{"--input", "-", "Plain.app"}, m_dir.file("script.fifo"), 2, "<stdin>: not a file (a FIFO)"},
        {{"Zero.app"}, "/dev/null", 1, m_dir.file("Zero.app") + "/Info.plist: not a file (a character device)"},
        {{"Fifo.app"}, "/dev/null", 1, m_dir.file("Fifo.app") + "/Info.plist: not a file (a FIFO)"},
    };
    for (const auto& c : cases) {
        std::vector<std::string> argv{kPlayer, "--headless"};
        argv.insert(argv.end(), c.arguments.begin(), c.arguments.end());
        bool timedOut = false;
        const dktest::ProcessResult r = dktest::runProcessWithin(argv, {"DROVIK_HOME=" + m_dir.file("home")},
                                                                 m_dir.path(), c.input, O_RDWR, 60, &timedOut);
        EXPECT_FALSE(timedOut) << c.err;
        EXPECT_EQ(r.status, c.status) << c.err << "\n" << r.err;
        EXPECT_EQ(r.err, "drovik-player: " + c.err + "\n");
    }
}

// A quit signal while the script is still read from standard input (its writer holding the pipe
// open) ends the player as a quit does, status 0, saying where the read stopped: it said "bad
// input script", status 2.
TEST_F(DrovikPlayer, AQuitSignalWhileTheScriptIsReadFromStandardInputQuits) {
    // The trace file is opened after the signals are blocked; every wait ends by itself after a minute.
    const std::string script =
        "wait_for() { i=0; until eval \"$1\" || [ $i -ge 6000 ]; do sleep 0.01; i=$((i+1)); done; }; "
        "mkfifo held; cat held | \"$0\" --headless --input - --trace input --trace-file t.txt Plain.app "
        "2> player.err & player=$!; exec 3>held; "
        "wait_for '[ -e t.txt ]'; kill -TERM $player; exec 3>&-; wait $player; echo $? > player.status";
    const dktest::ProcessResult r =
        dktest::runProcess({"/bin/sh", "-c", script, kPlayer}, {"DROVIK_HOME=" + m_dir.file("home")}, m_dir.path());
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(dktest::readFile(m_dir.file("player.status")), "0\n");
    EXPECT_EQ(dktest::readFile(m_dir.file("player.err")), "drovik-player: <stdin>: stopped before its end\n");
}

TEST_F(DrovikPlayer, AScriptedRunTracesEveryCommand) {
    std::filesystem::copy_file(kData + "/everything.txt", m_dir.file("everything.txt"));
    // The host's own categories: the game's are the road's tests' business.
    const dktest::ProcessResult r = run({"--headless", "--input", "everything.txt", "--trace",
                                         "lifecycle,notify,ui,input,audio", "--trace-file", "-", "Landscape.app"});
    EXPECT_EQ(r.status, 0) << r.err;
    // Paused by the resign, the background, the audio interruption and the quit.
    EXPECT_EQ(r.err, kQuitPause + kQuitPause + kQuitPause + kQuitPause);
    EXPECT_EQ(r.out, dktest::readFile(kData + "/everything-trace.txt"));
    EXPECT_EQ(dktest::readFile(m_dir.file("views.jsonl")), dktest::readFile(kData + "/everything-views.jsonl"));
    int width = 0, height = 0;
    EXPECT_TRUE(blackPicture("shot.png", &width, &height));
    EXPECT_EQ(width, 960);  // landscape: the interface's shape, at the retina phone's scale
    EXPECT_EQ(height, 640);
}

}  // namespace
