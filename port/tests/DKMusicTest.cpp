// The music state machine on short files, with a real (null-output) device.
#include <gtest/gtest.h>
#include <lua.hpp>

#include <cstdio>

#include "port/DKMusic.h"
#include "port/DKPlatformPort.h"
#include "port/tests/MusicTestHelpers.h"
#include "port/tests/TestAudioFiles.h"
#include "port/wrap_PlatformWrappers.h"
#include "tests/support/TestSupport.h"

using namespace dk;
using dk::test::waitUntil;

namespace {

constexpr int kRate = 22050;

class DKMusicTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        shortFile = test::tempPath("short.wav");  // 0.2 s
        ASSERT_TRUE(test::writeWav(shortFile, test::sine(kRate / 5, 1, kRate, 440, 0.5), 1, kRate));
        otherFile = test::tempPath("other.wav");  // 0.3 s, stereo
        ASSERT_TRUE(test::writeWav(otherFile, test::sine(kRate * 3 / 10, 2, kRate, 220, 0.5), 2, kRate));
        notAudio = test::tempPath("notaudio.m4a");
        ASSERT_TRUE(test::writeFile(notAudio, "this is not a sound file at all\n"));
    }
    static void TearDownTestSuite() {
        std::remove(shortFile.c_str());
        std::remove(otherFile.c_str());
        std::remove(notAudio.c_str());
    }
    void SetUp() override { manager().reset(); }
    void TearDown() override { manager().reset(); }

    static DKMusicManager& manager() { return DKMusicManager::sharedMusicManager(); }
    static int state() { return manager().currentStateNumber(); }

    static std::string shortFile, otherFile, notAudio;
};
std::string DKMusicTest::shortFile, DKMusicTest::otherFile, DKMusicTest::notAudio;

TEST_F(DKMusicTest, StoppedIgnoresPauseStopAndPathlessPlay) {
    DKPauseAACFile();
    DKStopAACFile();
    DKPlayAACFile(nullptr, 0);
    DKPlayAACFile("", 1);
    DKPlayAACFile("/nonexistent/music.m4a", 1);
    DKPlayAACFile(notAudio.c_str(), 1);
    EXPECT_EQ(state(), kDKMusicStopped);
    EXPECT_FALSE(IsAACFilePlaying());
    // A failed load while playing also ends in Stopped, and the old file no longer plays.
    DKPlayAACFile(otherFile.c_str(), 1);
    ASSERT_EQ(state(), kDKMusicPlaying);
    DKPlayAACFile(notAudio.c_str(), 1);
    EXPECT_EQ(state(), kDKMusicStopped);
    EXPECT_FALSE(IsAACFilePlaying());
}

TEST_F(DKMusicTest, AFileThatEndsLeavesThePlayingStateButNotPlaying) {
    DKPlayAACFile(shortFile.c_str(), 0);
    EXPECT_EQ(state(), kDKMusicPlaying);
    EXPECT_TRUE(IsAACFilePlaying());
    ASSERT_TRUE(waitUntil([] { return !IsAACFilePlaying(); }, 3.0));
    EXPECT_EQ(state(), kDKMusicPlaying);
    // Play without a path does nothing while Playing; a path starts the new file.
    DKPlayAACFile("", 0);
    EXPECT_FALSE(IsAACFilePlaying());
    DKPlayAACFile(otherFile.c_str(), 0);
    EXPECT_TRUE(IsAACFilePlaying());
    EXPECT_EQ(state(), kDKMusicPlaying);
}

TEST_F(DKMusicTest, PauseResumeAndStop) {
    DKPlayAACFile(otherFile.c_str(), 1);
    DKPauseAACFile();
    EXPECT_EQ(state(), kDKMusicPaused);
    EXPECT_FALSE(IsAACFilePlaying());
    DKPauseAACFile();
    EXPECT_EQ(state(), kDKMusicPaused);
    // An empty name while Paused resumes the paused file.
    DKPlayAACFile("", 0);
    EXPECT_EQ(state(), kDKMusicPlaying);
    EXPECT_TRUE(IsAACFilePlaying());
    DKStopAACFile();
    EXPECT_FALSE(IsAACFilePlaying());
    // Paused -> stop -> Stopped as well.
    DKPlayAACFile(otherFile.c_str(), 1);
    DKPauseAACFile();
    DKStopAACFile();
    EXPECT_EQ(state(), kDKMusicStopped);
}

TEST_F(DKMusicTest, LoopFlagUsesOnlyTheLowEightBits) {
    DKPlayAACFile(shortFile.c_str(), 1);
    // Five times the file's length later it is still playing.
    std::this_thread::sleep_for(std::chrono::milliseconds(1000));
    EXPECT_TRUE(IsAACFilePlaying());
    DKPlayAACFile(shortFile.c_str(), 256);
    EXPECT_TRUE(waitUntil([] { return !IsAACFilePlaying(); }, 3.0));
}

TEST_F(DKMusicTest, VolumeSetBeforeTheFirstFileIsKept) {
    SetAACFileVolume(0.25f);
    DKPlayAACFile(otherFile.c_str(), 1);
    EXPECT_FLOAT_EQ(manager().getVolume(), 0.25f);
    // Set while paused: stored, applied on resume.
    DKPauseAACFile();
    SetAACFileVolume(0.5f);
    DKPlayAACFile("", 0);
    EXPECT_FLOAT_EQ(manager().getVolume(), 0.5f);
}

TEST_F(DKMusicTest, LuaWrappersDriveTheMachine) {
    {
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
        ASSERT_TRUE(waitUntil([] { return !IsAACFilePlaying(); }, 3.0));
        EXPECT_EQ(L.run("platformWrappers.stopMusic() return platformWrappers.isMusicPlaying()"), "0");
    }
    EXPECT_EQ(state(), kDKMusicStopped);
}

}  // namespace
