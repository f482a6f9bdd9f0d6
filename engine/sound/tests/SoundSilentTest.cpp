// No audio device at all (a server, CI without sound): everything runs, quietly. The Lua module in
// this mode is run by the sound CLI tests.
#include <gtest/gtest.h>

#include "engine/sound/SoundManager.h"
#include "engine/sound/tests/SoundTestSupport.h"
#include "port/DKAudioDevice.h"
#include "port/DKPlatformPort.h"
#include "tests/support/TestMain.h"

using dk::sound::SoundManager;
using namespace dktest;

namespace {

// OpenAL reads its driver list once, at its first call: no driver, no device.
const bool kNoDriver = dktest::chooseSoundDrivers("none");

int g_callbacks = 0;

TEST(SoundSilentTest, ManagerSoundsAndMusicWorkWithoutADevice) {
    ASSERT_TRUE(kNoDriver);
    delete new SoundManager;  // says once that there is no device, in words the CLI tests check
    EXPECT_EQ(DKAudioDevice::device(), nullptr);
    EXPECT_TRUE(DKAudioDevice::isSilent());
    TempDir dir;
    const std::string music = dir.file("silent.wav");
    ASSERT_TRUE(writeWav(music, sine(4410, 1, 44100, 441, 0.5), 1, 44100));  // 0.1 s

    // From here on nothing is printed, however much is done.
    ::testing::internal::CaptureStderr();
    ::testing::internal::CaptureStdout();
    {
        SoundManager m;
        auto sound = toneSound(0.01);
        ASSERT_TRUE(sound);  // decoded, and plays nothing
        EXPECT_EQ(sound->buffers()[0], 0u);
        std::vector<DKAudioSource*> all;
        while (DKAudioSource* s = m.reserveSource()) {
            all.push_back(s);
            s->setOwner(nullptr, [](DKAudioSource*) { ++g_callbacks; });
            s->queueBuffers(sound);
            s->setLocation(1, 2);
        }
        all[0]->setLooping(true);
        for (DKAudioSource* s : all) m.playSource(s);
        m.pauseSource(all[1]);
        for (int frame = 0; frame < 100; ++frame) m.update();
        // A silent sound ends at once, except looping and paused ones.
        EXPECT_EQ(g_callbacks, 30);
        EXPECT_EQ(m.playingCount(), 2u);
        m.suspend();
        m.resume();
        m.makeCurrent();
    }
    EXPECT_EQ(g_callbacks, 32);

    // Music keeps its length, and loops.
    DKPlayAACFile(music.c_str(), 0);
    EXPECT_TRUE(IsAACFilePlaying());
    EXPECT_TRUE(waitUntil([] { return !IsAACFilePlaying(); }, 3.0));
    DKPlayAACFile(music.c_str(), 1);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_TRUE(IsAACFilePlaying());
    DKStopAACFile();
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
}

}  // namespace
