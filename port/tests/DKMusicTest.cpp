// The music state machine on short files, with a real (null-output) device.
#include <gtest/gtest.h>

#include "port/DKMusic.h"
#include "port/DKPlatformPort.h"
#include "port/tests/AudioTestSupport.h"
#include "port/wrap_PlatformWrappers.h"

using dktest::waitUntil;

namespace {

constexpr int kRate = 22050;

class DKMusicTest : public ::testing::Test {
protected:
    void SetUp() override {
        manager().reset();
        dktest::writeWav(shortFile, dktest::sine(kRate / 5, 1, kRate, 440, 0.5), 1, kRate);       // 0.2 s
        dktest::writeWav(otherFile, dktest::sine(kRate * 3 / 10, 2, kRate, 220, 0.5), 2, kRate);  // stereo
        dktest::writeFile(notAudio, "this is not a sound file at all\n");
    }
    void TearDown() override { manager().reset(); }

    static DKMusicManager& manager() { return DKMusicManager::sharedMusicManager(); }
    static int state() { return manager().currentStateNumber(); }
    static bool ends() {
        return waitUntil([] { return !IsAACFilePlaying(); }, 3.0);
    }

    dktest::TempDir dir;
    std::string shortFile = dir.file("short.wav"), otherFile = dir.file("other.wav");
    std::string notAudio = dir.file("notaudio.m4a");
};

TEST_F(DKMusicTest, TransitionsOfTheMachine) {
    enum Op { kPlay, kPause, kStop, kWaitForTheEnd };
    struct Step {
        Op op;
        const char* path;  // for kPlay
        int state;
        bool playing;
    };
    const char *none = nullptr, *shortWav = shortFile.c_str(), *other = otherFile.c_str(),
               *junk = notAudio.c_str();
    const Step steps[] = {
        {kPause, none, kDKMusicStopped, false},  // Stopped ignores pause, stop and files that do not play
        {kStop, none, kDKMusicStopped, false},
        {kPlay, none, kDKMusicStopped, false},
        {kPlay, "", kDKMusicStopped, false},
        {kPlay, "/nonexistent/music.m4a", kDKMusicStopped, false},
        {kPlay, junk, kDKMusicStopped, false},
        {kPlay, other, kDKMusicPlaying, true},
        {kPlay, junk, kDKMusicStopped, false},  // a failed load while playing stops the old file
        {kPlay, shortWav, kDKMusicPlaying, true},
        {kWaitForTheEnd, none, kDKMusicPlaying, false},  // the end of the file is not a transition
        {kPlay, "", kDKMusicPlaying, false},             // no path while Playing: nothing
        {kPlay, other, kDKMusicPlaying, true},
        {kPause, none, kDKMusicPaused, false},
        {kPause, none, kDKMusicPaused, false},
        {kPlay, "", kDKMusicPlaying, true},  // no path while Paused: resume
        {kPause, none, kDKMusicPaused, false},
        {kStop, none, kDKMusicStopped, false},
    };
    for (const Step& step : steps) {
        if (step.op == kPlay) DKPlayAACFile(step.path, 0);
        if (step.op == kPause) DKPauseAACFile();
        if (step.op == kStop) DKStopAACFile();
        ASSERT_TRUE(step.op != kWaitForTheEnd || ends());
        EXPECT_EQ(state(), step.state) << &step - steps;
        EXPECT_EQ(IsAACFilePlaying(), step.playing) << &step - steps;
    }
}

TEST_F(DKMusicTest, LoopFlagUsesOnlyTheLowEightBits) {
    DKPlayAACFile(shortFile.c_str(), 1);
    std::this_thread::sleep_for(std::chrono::milliseconds(1000));  // five times the file's length
    EXPECT_TRUE(IsAACFilePlaying());
    DKPlayAACFile(shortFile.c_str(), 256);
    EXPECT_TRUE(ends());
}

TEST_F(DKMusicTest, LuaWrappersDriveTheMachineAndAVolumeSetWhilePausedIsKept) {
    dktest::LuaState L(luaopen_platformWrappers, "platformWrappers");
    lua_pushstring(L, otherFile.c_str());
    lua_setglobal(L, "FILE");
    EXPECT_EQ(L.run("local pw = platformWrappers\n"
                    "pw.setMusicVolume(0.25)\n"
                    "pw.playMusic(FILE, true)\n"  // a boolean counts as 0: play once
                    "local a = pw.isMusicPlaying()\n"
                    "pw.pauseMusic()\n"
                    "local b = pw.isMusicPlaying()\n"
                    "pw.setMusicVolume(0.5)\n"
                    "pw.playMusic(nil, 0)\n"
                    "return a, b, pw.isMusicPlaying()"),
              "1,0,1");
    EXPECT_FLOAT_EQ(manager().getVolume(), 0.5f);
    ASSERT_TRUE(ends());
    EXPECT_EQ(L.run("platformWrappers.stopMusic() return platformWrappers.isMusicPlaying()"), "0");
    EXPECT_EQ(state(), kDKMusicStopped);
}

}  // namespace
