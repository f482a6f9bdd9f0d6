// Sound and music through dk-engine-cli: the script's manager, the host's interruption commands,
// and the quiet no-audio mode.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/cli/RunProcess.h"

namespace fs = std::filesystem;
using dktest::runProcess;

namespace {

const std::string kCli = DK_BINARY_DIR "/apps/dk-engine-cli/dk-engine-cli";
const std::string kScript = DK_TEST_DATA_DIR "/sound.lua";
const std::string kSounds = DK_SOURCE_DIR "/games/sample/Sample.app/Sample.gameproj/sounds/";

class SoundCli : public testing::Test {
protected:
    void SetUp() override {
        dir = fs::temp_directory_path() / ("dk-soundcli-" + std::to_string(::getpid()) + "-" +
                                           testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directories(dir);
    }
    void TearDown() override { fs::remove_all(dir); }
    dktest::ProcessResult run(const std::string& commands, const std::vector<std::string>& env = {}) {
        std::string file = (dir / "commands.txt").string();
        std::ofstream(file) << commands;
        return runProcess({kCli, "--commands", file, kScript}, env, dir.string());
    }
    fs::path dir;
};

size_t count(const std::string& text, const std::string& what) {
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

TEST_F(SoundCli, InterruptionCommandsReachTheScriptsManagerAndLeaveMusicPlaying) {
    auto r =
        run("RaiseExternalEvent volume 0.5\n"
            "RaiseExternalEvent music " +
            kSounds +
            "background.wav 1\n"
            "Update 0.1\n"
            "suspendSound\n"
            "RaiseExternalEvent playing\n"
            "resumeSound\n"
            "Update 0.1\n"
            "RaiseExternalEvent pause\n"
            "RaiseExternalEvent playing\n"
            "RaiseExternalEvent clock\n"
            "RaiseExternalEvent time\n");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out,
              "manager userdata true\n"
              "playing 1\n"
              "playing 0\n"
              "clock true true true\n"
              "time true\n"
              "shutdown\n");
}

TEST_F(SoundCli, NoManagerAndUseAfterDeleteAreHarmless) {
    auto r =
        run("RaiseExternalEvent useAfterDelete\n"
            "suspendSound\n"
            "resumeSound\n"
            "Update 0.1\n"
            "RaiseExternalEvent forget\n"
            "suspendSound\n"
            "RaiseExternalEvent badClock\n");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("still here\n"), std::string::npos) << r.out;
    EXPECT_EQ(count(r.err, "suspendSound: the script keeps no sound manager"), 2u) << r.err;
    EXPECT_EQ(count(r.err, "resumeSound: the script keeps no sound manager"), 1u) << r.err;
    EXPECT_NE(r.err.find("Lua Error: "), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("getClockTime: table expected, got number"), std::string::npos) << r.err;
}

TEST_F(SoundCli, WithoutAnAudioDeviceTheGameRunsQuietly) {
    std::string frames;
    for (int i = 0; i < 50; ++i) frames += "Update 0.016\n";
    auto r = run("RaiseExternalEvent music " + kSounds +
                     "touch.wav 0\n"
                     "RaiseExternalEvent playing\n" +
                     frames + "suspendSound\nresumeSound\n" + frames,
                 {"ALSOFT_DRIVERS=none"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "manager userdata true\nplaying 1\nshutdown\n");
    // Said once at start-up, then nothing per frame.
    EXPECT_EQ(count(r.err, "no audio device"), 1u) << r.err;
    EXPECT_EQ(count(r.err, "\n"), 2u) << r.err;
}

}  // namespace
