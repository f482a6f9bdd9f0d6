// dk-engine-cli as a whole program: start-up, the command file, exit status, screenshots, the
// sound manager's interruption commands and the sample game.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "platform/image/ImageCodec.h"
#include "tests/support/TestSupport.h"

namespace dktest {
namespace {

const std::string kCli = DK_BINARY_DIR "/apps/dk-engine-cli/dk-engine-cli";
const std::string kData = DK_TEST_DATA_DIR "/";
const std::string kRecorder = kData + "recorder.lua";
const std::string kSample = DK_SOURCE_DIR "/games/sample/Sample.app";
const std::string kSounds = kSample + "/Sample.gameproj/sounds/";

class Cli : public testing::Test {
protected:
    // Runs the program in the scratch directory; `commandText` goes to the file "commands.txt".
    ProcessResult cli(std::vector<std::string> args, const std::string& commandText = "",
                      const std::vector<std::string>& env = {}) {
        if (!commandText.empty()) {
            writeFile(m_dir.file("commands.txt"), commandText);
            args.insert(args.begin(), {"--commands", "commands.txt"});
        }
        args.insert(args.begin(), kCli);
        return runProcess(args, env, m_dir.path());
    }
    std::string path(const std::string& name) const { return m_dir.file(name); }

    TempDir m_dir;
};

// Every command with its arguments and printed results, script errors under both policies, state
// replacement, and the reports of lines that are not commands.
TEST_F(Cli, StartUpThenCommandsThenFramesThenDestroy) {
    writeFile(path("recorder.lua"), readFile(kRecorder));
    auto r =
        cli({"--size", "320x240", "--frames", "2", kRecorder, "game.proj"}, readFile(kData + "commands.txt"));
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, readFile(kData + "commands.out"));
    EXPECT_EQ(r.err, readFile(kData + "commands.err"));
}

TEST_F(Cli, ExitStatus) {
    writeFile(path("broken.lua"), "function (");
    const std::vector<std::pair<std::vector<std::string>, int>> cases = {
        {{path("absent.lua")}, 1},
        {{path("broken.lua")}, 1},
        {{"--frames", "many", kRecorder}, 2},
        {{"--bogus", kRecorder}, 2},
        {{}, 2},
        {{"--commands", path("absent.txt"), kRecorder}, 1},
    };
    for (const auto& [args, status] : cases)
        EXPECT_EQ(cli(args).status, status) << testing::PrintToString(args);
}

// --help answers with the usage on standard output, status 0, whatever else the line holds; it
// lists every command the command file of the test above uses.
TEST_F(Cli, HelpListsTheCommandFilesCommands) {
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"--help"}, {"-h"}, {"--frames", "2", "--help", kRecorder}}) {
        const ProcessResult r = cli(args);
        EXPECT_EQ(r.status, 0) << testing::PrintToString(args);
        EXPECT_EQ(r.err, "");
        EXPECT_TRUE(r.out.starts_with("usage: dk-engine-cli [--save DIR]")) << r.out;
    }
    // Every word of the file that the run did not refuse as unknown.
    const std::string help = cli({"--help"}).out;
    const std::string refused = readFile(kData + "commands.err");
    std::istringstream lines(readFile(kData + "commands.txt"));
    std::string line;
    int listed = 0;
    while (std::getline(lines, line)) {
        const std::string word = line.substr(0, line.find(' '));
        if (word.empty() || word[0] == '#' || refused.find("unknown command: " + word + "\n") != std::string::npos)
            continue;
        ++listed;
        EXPECT_TRUE(help.find("\n  " + word + " ") != std::string::npos ||
                    help.find("\n  " + word + "\n") != std::string::npos)
            << word;
    }
    EXPECT_GT(listed, 10);
    const ProcessResult bad = cli({"--bogus", kRecorder});
    EXPECT_EQ(bad.status, 2);
    EXPECT_TRUE(bad.err.starts_with("dk-engine-cli: unknown option --bogus\nusage: ")) << bad.err;
}

TEST_F(Cli, ScreenshotsArePngFilesOfTheSurfaceSizeWithAndWithoutGL) {
    for (const char* api : {"--es2", "--es1"}) {
        std::vector<std::string> args = {"--size", "64x32", "--screenshot", path("shot.png"), kRecorder};
        if (api == std::string("--es1")) args.insert(args.begin(), api);
        ASSERT_EQ(cli(args).status, 0) << api;
        int w = 0, h = 0;
        std::vector<uint8_t> pixels;
        ASSERT_TRUE(plat::image::readPNG(path("shot.png"), &w, &h, &pixels, nullptr));
        EXPECT_EQ(std::to_string(w) + "x" + std::to_string(h), "64x32") << api;
    }
    // No Mesa driver to load: the engine still runs, only the screenshot cannot be taken.
    const std::vector<std::string> noGL = {"LIBGL_DRIVERS_PATH=/nonexistent", "EGL_DRIVERS_PATH=/nonexistent",
                                           "__EGL_VENDOR_LIBRARY_FILENAMES=/nonexistent.json"};
    auto r = cli({"--frames", "3", "--screenshot", path("x.png"), kRecorder, "g"}, "", noGL);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("no GL context"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("cannot write screenshot"), std::string::npos) << r.err;
    EXPECT_NE(r.out.find("loadingWillEnd"), std::string::npos);
}

TEST_F(Cli, InterruptionCommandsReachTheScriptsManagerAndLeaveMusicPlaying) {
    auto r = cli({kData + "sound.lua"},
                 "RaiseExternalEvent music " + kSounds +
                     "background.wav 1\nUpdate 0.1\nsuspendSound\nRaiseExternalEvent playing\n"
                     "resumeSound\nUpdate 0.1\nRaiseExternalEvent pause\n"
                     "RaiseExternalEvent playing\n");
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out, "manager userdata true\nplaying 1\nplaying 0\nshutdown\n");

    r = cli({kData + "sound.lua"},
            "RaiseExternalEvent useAfterDelete\nsuspendSound\nresumeSound\nUpdate 0.1\n"
            "RaiseExternalEvent forget\nsuspendSound\n");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "manager userdata true\nstill here\nshutdown\n");
    EXPECT_EQ(r.err, readFile(kData + "no-manager.err"));
}

TEST_F(Cli, WithoutAnAudioDeviceTheGameRunsQuietly) {
    std::string frames;
    for (int i = 0; i < 50; ++i) frames += "Update 0.016\n";
    auto r =
        cli({kData + "sound.lua"},
            "RaiseExternalEvent music " + kSounds + "touch.wav 0\nRaiseExternalEvent playing\n" + frames +
                "suspendSound\nresumeSound\n" + frames + "NewState\nInit " + kData + "sound.lua\n" + frames,
            {"ALSOFT_DRIVERS=none"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "manager userdata true\nplaying 1\nshutdown\nmanager userdata true\nshutdown\n");
    // Said once, in plain words, for the whole process: not per frame, not per state.
    EXPECT_EQ(r.err, "No audio device: sound and music are silent.\n");
}

TEST_F(Cli, SampleGameRunsAndSaves) {
    auto r = cli({"--save", path("save"), "--frames", "30", "--screenshot", path("sample.png"),
                  kSample + "/engine32.luo", kSample + "/Sample.gameproj"},
                 "TouchDown 100 100 1 1\nTouchUp 100 100 1 0\n");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_TRUE(exists(path("sample.png")));
    EXPECT_TRUE(exists(path("save/persistent.save")));
}

// Music whose file is a FIFO is named and never opened: nothing waits on the FIFO's writer.
TEST_F(Cli, MusicFromAFifoNeverHoldsTheRun) {
    const std::string fifo = path("background.wav");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    writeFile(path("commands.txt"),
              "RaiseExternalEvent music " + fifo + " 1\nUpdate 0.1\nRaiseExternalEvent playing\n");
    bool timedOut = false;
    const ProcessResult r = runProcessWithin({kCli, "--commands", "commands.txt", kData + "sound.lua"}, {},
                                             m_dir.path(), "/dev/null", O_RDONLY, 60, &timedOut);
    ASSERT_FALSE(timedOut);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "manager userdata true\nplaying 0\nshutdown\n");
    EXPECT_EQ(r.err, fifo + ": not a file (a FIFO)\n");
}

// An update that never returns, after a quit signal or --duration: interrupted by a hook where
// the runtime looks at it (the state is then destroyed: shutdownEngine saves), else the process
// ends; one line names the call.
TEST_F(Cli, AnUpdateThatNeverReturnsIsEndedAfterTheRunsEnd) {
    const std::string stuck =
        "dk-engine-cli: the game's update did not return within 3 s of the run's end; interrupting it, else "
        "ending the process\n";
    const struct Case {
        std::string loop;  // compiled at once, or with pairs, which never is
        std::vector<std::string> bound;
        int signal;
        int status;
        std::string keys;
    } cases[] = {
        {"", {"--frames", "2"}, SIGTERM, 1, "up\n"},
        {"for _ in pairs({1}) do end", {"--frames", "2"}, SIGINT, 0, "bye\nup\n"},
        {"", {"--duration", "1"}, 0, 1, "up\n"},
        {"for _ in pairs({1}) do end", {"--duration", "1"}, 0, 0, "bye\nup\n"},
    };
    for (const Case& c : cases) {
        const TempDir save;
        std::filesystem::remove(path("looping"));
        writeFile(
            path("loop.lua"),
            "function initEngine() end\n"
            "function update(dt) database.storeValueForKey('1', 'up'); io.open('looping', 'w'):close(); "
            "while true do " +
                c.loop +
                " end end\n"
                "function shutdownEngine() database.storeValueForKey('1', 'bye') end\n");
        std::vector<std::string> argv = {kCli, "--save", save.path() + "/"};
        argv.insert(argv.end(), c.bound.begin(), c.bound.end());
        argv.push_back("loop.lua");
        bool timedOut = false;
        const ProcessResult r = runProcessActing(
            argv, {}, m_dir.path(), [&] { return exists(path("looping")); },
            [&](int pid) {
                if (c.signal) kill(pid, c.signal);
            },
            60, &timedOut);
        const std::string what = c.bound[0] + " " + c.loop;
        ASSERT_FALSE(timedOut) << what;
        EXPECT_EQ(r.status, c.status) << what << "\n" << r.err;
        EXPECT_NE(r.err.find(stuck), std::string::npos) << what << "\n" << r.err;
        EXPECT_EQ(runProcess({"/usr/bin/sqlite3", save.file("persistent.save"),
                              "SELECT key FROM savedValues ORDER BY key"})
                      .out,
                  c.keys)
            << what;
    }
}

// A game of the sample from its loading to a screenshot, as a command file: two seconds of frames
// with a touch (the play scene: physics, sounds, particles) between them.
std::string sampleGame(const std::string& screenshot) {
    std::string frames;
    for (int i = 0; i < 60; ++i) frames += "Update 0.0166666\n";
    return "LoadGame " + kSample + "/Sample.gameproj\nLoadInitialScene\nSetScreenSize 480 320\nPlay\n" +
           frames + "TouchDown 100 100 1 1\nTouchUp 100 100 1 0\n" + frames + "screenshot " + screenshot +
           "\n";
}

// A second engine state in one process starts as a fresh process does: the same standard output
// and error, the same calls logged by the script and the same pictures as two processes, with
// either renderer.
TEST_F(Cli, SampleGameTwiceInOneProcessIsTwoFreshProcesses) {
    const std::string script = kSample + "/engine32.luo";
    for (const std::string api : {"--es2", "--es1"}) {
        SCOPED_TRACE(api);
        auto file = [&](const std::string& name) { return path(api.substr(2) + "-" + name); };
        auto run = [&](const std::string& save, const std::string& commands, const std::string& log) {
            std::vector<std::string> args = {"--save", file(save), script};
            if (api == "--es1") args.insert(args.begin(), api);
            auto r = cli(args, commands, {"DK_SAMPLE_LOG=" + file(log)});
            EXPECT_EQ(r.status, 0) << r.err;
            return r;
        };
        auto first = run("fresh1", sampleGame(file("fresh1.png")), "fresh1.log");
        auto second = run("fresh2", sampleGame(file("fresh2.png")), "fresh2.log");
        ASSERT_TRUE(std::filesystem::create_directories(file("twice2")));
        auto twice = run("twice1",
                         sampleGame(file("twice1.png")) + "NewState\nInit " + script + " " + file("twice2/") +
                             "\n" + sampleGame(file("twice2.png")),
                         "twice.log");
        EXPECT_EQ(twice.out, first.out + second.out);
        EXPECT_EQ(twice.err, first.err + second.err);
        EXPECT_EQ(readFile(file("twice.log")), readFile(file("fresh1.log")) + readFile(file("fresh2.log")));
        for (const std::string n : {"1", "2"}) {
            const std::string fresh = readFile(file("fresh" + n + ".png"));
            EXPECT_FALSE(fresh.empty());
            EXPECT_TRUE(readFile(file("twice" + n + ".png")) == fresh) << "game " << n;
        }
    }
}

// Peak resident memory of the children waited for so far, in kilobytes.
long childrenPeakKb() {
    rusage usage{};
    getrusage(RUSAGE_CHILDREN, &usage);
    return usage.ru_maxrss;
}

// With llvmpipe drawing on its own threads, frames the host never ends pile up in its queue: the
// longer run must not peak much above the shorter one. (ASan's quarantine is kept small, so freed
// memory does not count as growth.)
TEST_F(Cli, SampleGameMemoryStaysFlatOverManyFramesWithRasterizerThreads) {
    const std::vector<std::string> env = {"LP_NUM_THREADS=4",
                                          "ASAN_OPTIONS=detect_leaks=0:quarantine_size_mb=8"};
    auto run = [&](const char* frames) {
        auto r = cli({"--save", path("save"), "--frames", frames, kSample + "/engine32.luo",
                      kSample + "/Sample.gameproj"},
                     "", env);
        EXPECT_EQ(r.status, 0) << r.err;
        return childrenPeakKb();
    };
    const long shortRun = run("100");
    const long longRun = run("1500");
    EXPECT_LT(longRun - shortRun, 64 * 1024)
        << shortRun << " KB after 100 frames, " << longRun << " KB after 1500";
}

}  // namespace
}  // namespace dktest
