// The music decoder, and the music state machine on short files with a real (null-output) device.
#include <gtest/gtest.h>

#include "port/DKMusic.h"
#include "port/DKMusicPlayer.h"
#include "port/DKPlatformPort.h"
#include "port/tests/AudioTestSupport.h"
#include "port/wrap_PlatformWrappers.h"

using namespace dktest;

namespace {

std::vector<int16_t> decodeAll(DKMusicDecoder& d) {
    std::vector<int16_t> all, chunk(1000 * d.channels());
    while (int n = d.read(chunk.data(), 1000))
        all.insert(all.end(), chunk.begin(), chunk.begin() + n * d.channels());
    return all;
}

// data/tone-1khz.m4a: one second of a 1 kHz tone at half of full scale, mono, 44.1 kHz, encoded
// once with FFmpeg's AAC encoder (what games ship most).
TEST(DKMusicDecoderTest, AacInMp4DecodesToTheToneAndAgainAfterRewind) {
    auto d = DKMusicDecoder::open(DK_TEST_DATA_DIR "/tone-1khz.m4a");
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(d->channels(), 1);
    EXPECT_EQ(d->sampleRate(), 44100);
    auto pcm = decodeAll(*d);
    // Encoder delay and padding may add or trim up to a couple of AAC frames.
    EXPECT_NEAR(static_cast<double>(pcm.size()), 44100, 2 * 1024 + 64);
    std::vector<int16_t> middle(pcm.begin() + 44100 / 4, pcm.begin() + 3 * 44100 / 4);
    EXPECT_NEAR(zeroCrossings(middle), 1000, 4);
    EXPECT_NEAR(peak(middle), 16384, 1000);
    // Reopened rather than seeked, so a loop has no encoder-delay gap.
    ASSERT_TRUE(d->rewind());
    EXPECT_EQ(decodeAll(*d), pcm);
}

constexpr int kRate = 22050;

class DKMusicTest : public ::testing::Test {
protected:
    void SetUp() override {
        manager().reset();
        writeWav(shortFile, sine(kRate / 5, 1, kRate, 440, 0.5), 1, kRate);       // 0.2 s
        writeWav(otherFile, sine(kRate * 3 / 10, 2, kRate, 220, 0.5), 2, kRate);  // stereo
        writeFile(notAudio, "this is not a sound file at all\n");
    }
    void TearDown() override { manager().reset(); }

    static DKMusicManager& manager() { return DKMusicManager::sharedMusicManager(); }
    static int state() { return manager().currentStateNumber(); }
    static bool ends() {
        return waitUntil([] { return !IsAACFilePlaying(); }, 3.0);
    }

    TempDir dir;
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
    // Stopped ignores pause, stop and files that do not play; a failed load while playing stops
    // the old file; the end of a file is not a transition; no path while Playing does nothing, and
    // while Paused resumes.
    const int stopped = kDKMusicStopped, playing = kDKMusicPlaying, paused = kDKMusicPaused;
    // clang-format off
    const Step steps[] = {
        {kPause, none, stopped, false}, {kStop, none, stopped, false}, {kPlay, none, stopped, false},
        {kPlay, "", stopped, false}, {kPlay, "/nonexistent/music.m4a", stopped, false},
        {kPlay, junk, stopped, false}, {kPlay, other, playing, true}, {kPlay, junk, stopped, false},
        {kPlay, shortWav, playing, true}, {kWaitForTheEnd, none, playing, false},
        {kPlay, "", playing, false}, {kPlay, other, playing, true}, {kPause, none, paused, false},
        {kPause, none, paused, false}, {kPlay, "", playing, true}, {kPause, none, paused, false},
        {kStop, none, stopped, false}};
    // clang-format on
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

// The CLI tests drive the other wrappers.
TEST_F(DKMusicTest, AVolumeSetWhilePausedIsKeptAndABooleanLoopFlagPlaysOnce) {
    LuaState L(luaopen_platformWrappers, "platformWrappers");
    setGlobal(L, "FILE", otherFile);
    EXPECT_EQ(
        L.run("local pw = platformWrappers pw.setMusicVolume(0.25) pw.playMusic(FILE, true) pw.pauseMusic() "
              "pw.setMusicVolume(0.5) pw.playMusic(nil, 0) return pw.isMusicPlaying()"),
        "1");
    EXPECT_FLOAT_EQ(manager().getVolume(), 0.5f);
    EXPECT_TRUE(ends());
}

}  // namespace
