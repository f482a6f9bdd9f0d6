// The music state machine on short files, with a real (null-output) device.
#include <gtest/gtest.h>

#include "port/DKMusic.h"
#include "port/DKPlatformPort.h"
#include "port/tests/AudioTestSupport.h"
#include "port/wrap_PlatformWrappers.h"

using namespace dk;
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

TEST_F(DKMusicTest, StoppedIgnoresPauseStopAndFilesThatDoNotPlay) {
    DKPauseAACFile();
    DKStopAACFile();
    for (const char* path :
         {static_cast<const char*>(nullptr), "", "/nonexistent/music.m4a", notAudio.c_str()}) {
        DKPlayAACFile(path, 1);
        EXPECT_EQ(state(), kDKMusicStopped);
        EXPECT_FALSE(IsAACFilePlaying());
    }
    // A failed load while playing also ends in Stopped, and the old file no longer plays.
    DKPlayAACFile(otherFile.c_str(), 1);
    ASSERT_EQ(state(), kDKMusicPlaying);
    DKPlayAACFile(notAudio.c_str(), 1);
    EXPECT_EQ(state(), kDKMusicStopped);
    EXPECT_FALSE(IsAACFilePlaying());
}

TEST_F(DKMusicTest, TransitionsOfTheMachine) {
    DKPlayAACFile(shortFile.c_str(), 0);
    EXPECT_TRUE(IsAACFilePlaying());
    ASSERT_TRUE(ends());
    EXPECT_EQ(state(), kDKMusicPlaying);  // the end of the file is not a transition
    DKPlayAACFile("", 0);                 // no path while Playing: nothing
    EXPECT_FALSE(IsAACFilePlaying());
    DKPlayAACFile(otherFile.c_str(), 1);
    DKPauseAACFile();
    DKPauseAACFile();
    EXPECT_EQ(state(), kDKMusicPaused);
    EXPECT_FALSE(IsAACFilePlaying());
    DKPlayAACFile("", 0);  // no path while Paused: resume
    EXPECT_EQ(state(), kDKMusicPlaying);
    EXPECT_TRUE(IsAACFilePlaying());
    DKPauseAACFile();
    DKStopAACFile();
    EXPECT_EQ(state(), kDKMusicStopped);
    EXPECT_FALSE(IsAACFilePlaying());
}

TEST_F(DKMusicTest, LoopFlagUsesOnlyTheLowEightBits) {
    DKPlayAACFile(shortFile.c_str(), 1);
    std::this_thread::sleep_for(std::chrono::milliseconds(1000));  // five times the file's length
    EXPECT_TRUE(IsAACFilePlaying());
    DKPlayAACFile(shortFile.c_str(), 256);
    EXPECT_TRUE(ends());
}

TEST_F(DKMusicTest, VolumeSetBeforeTheFirstFileOrWhilePausedIsKept) {
    SetAACFileVolume(0.25f);
    DKPlayAACFile(otherFile.c_str(), 1);
    EXPECT_FLOAT_EQ(manager().getVolume(), 0.25f);
    DKPauseAACFile();
    SetAACFileVolume(0.5f);
    DKPlayAACFile("", 0);
    EXPECT_FLOAT_EQ(manager().getVolume(), 0.5f);
}

TEST_F(DKMusicTest, LuaWrappersDriveTheMachine) {
    dktest::LuaState L(luaopen_platformWrappers, "platformWrappers");
    lua_pushstring(L, otherFile.c_str());
    lua_setglobal(L, "FILE");
    EXPECT_EQ(L.run("local pw = platformWrappers\n"
                    "pw.setMusicVolume(0.75)\n"
                    "pw.playMusic(FILE, true)\n"  // a boolean counts as 0: play once
                    "local a = pw.isMusicPlaying()\n"
                    "pw.pauseMusic()\n"
                    "local b = pw.isMusicPlaying()\n"
                    "pw.playMusic(nil, 0)\n"
                    "return a, b, pw.isMusicPlaying()"),
              "1,0,1");
    EXPECT_FLOAT_EQ(manager().getVolume(), 0.75f);
    ASSERT_TRUE(ends());
    EXPECT_EQ(L.run("platformWrappers.stopMusic() return platformWrappers.isMusicPlaying()"), "0");
    EXPECT_EQ(state(), kDKMusicStopped);
}

}  // namespace
