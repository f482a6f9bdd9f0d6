// What reaches the mixer: players and music rendered through OpenAL Soft's loopback device, mono
// at 44.1 kHz.
#include <gtest/gtest.h>

#include <functional>

#include "engine/sound/SGSoundNodes.h"
#include "engine/sound/SoundContext.h"
#include "engine/sound/tests/SoundTestSupport.h"
#include "port/DKAudioDevice.h"
#include "port/DKPlatformPort.h"

using dk::sound::SoundManager;
using namespace dktest;

namespace {

constexpr int kRate = 44100;

// Renders `frames` in steps of 512, at about the real rate when `paced` (the music feeder keeps
// up only with a device that does not run ahead).
std::vector<int16_t> render(int frames, bool paced = false) {
    std::vector<int16_t> out(frames);
    for (int at = 0; at < frames; at += 512) {
        DKAudioDevice::renderSamples(out.data() + at, std::min(512, frames - at));
        if (paced) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return out;
}

// Whether the tone is heard; the first block after a change may still hold a fade.
bool heard() {
    render(1024);
    auto out = render(4410);
    return peak(out) > 2000 && std::abs(zeroCrossings(out) - 88) <= 3;  // 441 Hz
}

class SoundLoopbackTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { ASSERT_TRUE(DKAudioDevice::useLoopback(kRate, 1)); }
};

TEST_F(SoundLoopbackTest, PlayerControlsActInTheOrderPauseResumeStopTrigger) {
    SoundManager m;
    SGSoundListenerNode listener;
    listener.x.setValue(10.0f);
    listener.compute();
    ALfloat at[3] = {};
    alGetListenerfv(AL_POSITION, at);
    EXPECT_EQ((std::vector<float>{at, at + 3}), (std::vector<float>{10, 160, -50}));
    SGSoundPlayerNode player(&m);
    player.sound.setValue(toneSound(1.0));
    player.loop.setValue(true);
    auto compute = [&](std::initializer_list<SGBooleanPort*> on) {
        setControls(player, on);
        player.compute();
        return heard();
    };
    EXPECT_TRUE(compute({&player.trigger}));
    EXPECT_FALSE(compute({&player.pause}));
    EXPECT_TRUE(compute({&player.pause, &player.resume}));
    EXPECT_FALSE(compute({&player.stop}));
    EXPECT_TRUE(compute({&player.stop, &player.trigger}));
    listener.gain.setValue(0.0f);
    listener.compute();
    EXPECT_FALSE(heard()) << "the listener's gain is the master gain";
    listener.gain.setValue(1.0f);
    listener.compute();
    EXPECT_TRUE(heard());
}

TEST_F(SoundLoopbackTest, MusicIsHeardAtItsVolumeAlsoWhileTheSoundManagerIsSuspended) {
    SoundManager m;
    TempDir dir;
    ASSERT_TRUE(writeWav(dir.file("music.wav"), sine(kRate, 1, kRate, 441, 0.5), 1, kRate));
    SetAACFileVolume(0.5f);  // set before any music: holds for the first file
    DKPlayAACFile(dir.file("music.wav").c_str(), 1);
    ASSERT_TRUE(waitUntil([] { return peak(render(512, true)) > 1000; }, 5.0));
    render(2048, true);  // past any gain ramp
    const int half = peak(render(kRate / 10, true));
    m.suspend();
    SetAACFileVolume(1.0f);
    std::vector<int16_t> full;
    waitUntil([&] {  // the new volume on its way to the mixer
        render(2048, true);
        full = render(kRate / 10, true);
        return peak(full) > half * 3 / 2;
    }, 30.0);
    ASSERT_GT(peak(full), 1000) << "suspending the sound manager silenced the music";
    EXPECT_NEAR(static_cast<double>(half) / peak(full), 0.5, 0.05);
    EXPECT_NEAR(zeroCrossings(full), 88, 3);
    m.resume();
    DKPauseAACFile();
    EXPECT_TRUE(waitUntil([] { return peak(render(2048, true)) <= 2; }, 30.0)) << "paused music is silent";
    DKStopAACFile();
}

// What a game leaves in the sound context (a muted listener, a manager suspended when its state
// closed, which leaves updates deferred) is gone once the last state has closed: the next state
// hears its sound, and its own listener's changes take effect.
TEST_F(SoundLoopbackTest, TheNextStateHearsTheSoundContextAsMade) {
    const struct {
        const char* left;
        std::function<void(SoundManager&, SGSoundListenerNode&)> leave;
    } cases[] = {
        {"a muted listener",
         [](SoundManager&, SGSoundListenerNode& l) {
             l.gain.setValue(0.0f);
             l.compute();
         }},
        {"a suspended manager", [](SoundManager& m, SGSoundListenerNode&) { m.suspend(); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.left);
        {
            SoundManager last;
            SGSoundListenerNode listener;
            c.leave(last, listener);
        }
        dk::sound::resetSoundContext();
        SoundManager m;
        SGSoundPlayerNode player(&m);
        player.sound.setValue(toneSound(1.0));
        player.loop.setValue(true);
        setControls(player, {&player.trigger});
        player.compute();
        EXPECT_TRUE(heard());
        SGSoundListenerNode listener;
        listener.gain.setValue(0.0f);
        listener.compute();
        EXPECT_FALSE(heard()) << "the new listener's gain takes effect";
        listener.gain.setValue(1.0f);
        listener.compute();
        setControls(player, {&player.stop});
        player.compute();
    }
}

}  // namespace
