// What the music player sends to the mixer, rendered through OpenAL Soft's loopback device.
#include "port/DKAudioDevice.h"
#include "port/DKMusic.h"
#include "port/DKPlatformPort.h"
#include "port/tests/MusicTestHelpers.h"
#include "port/tests/TestAudioFiles.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

using namespace dk;

namespace {

constexpr int kRate = 44100;

// Renders `frames` mono frames in small steps, giving the feeder thread time to keep up.
std::vector<int16_t> render(int frames) {
    std::vector<int16_t> out(frames);
    for (int done = 0; done < frames;) {
        int n = std::min(512, frames - done);
        DKAudioDevice::renderSamples(out.data() + done, n);
        done += n;
        std::this_thread::sleep_for(std::chrono::milliseconds(3));
    }
    return out;
}

int peak(const std::vector<int16_t>& s) {
    int p = 0;
    for (int16_t v : s) p = std::max(p, std::abs(static_cast<int>(v)));
    return p;
}

int zeroCrossings(const std::vector<int16_t>& s) {
    int n = 0;
    for (size_t i = 1; i < s.size(); ++i) n += (s[i - 1] < 0) != (s[i] < 0);
    return n;
}

TEST(DKMusicLoopbackTest, MusicReachesTheMixerAtTheStoredVolume) {
    ASSERT_TRUE(DKAudioDevice::useLoopback(kRate, 1));
    std::string file = test::tempPath("music-loopback.wav");
    ASSERT_TRUE(test::writeWav(file, test::sine(kRate / 2, 1, kRate, 441, 0.5), 1, kRate));

    // Before any music: the volume set now must hold for the first file.
    SetAACFileVolume(0.5f);
    DKPlayAACFile(file.c_str(), 1);
    ASSERT_TRUE(IsAACFilePlaying());
    ASSERT_TRUE(test::waitUntil([] { return peak(render(512)) > 1000; }, 5.0))
        << "no music reached the mixer";

    render(2048);  // past any gain ramp
    auto half = render(kRate / 10);
    SetAACFileVolume(1.0f);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    render(2048);
    auto full = render(kRate / 10);

    ASSERT_GT(peak(full), 1000);
    EXPECT_NEAR(static_cast<double>(peak(half)) / peak(full), 0.5, 0.05);
    // 441 Hz over a tenth of a second: 88 sign changes, give or take an edge.
    EXPECT_NEAR(zeroCrossings(full), 88, 3);

    // Paused music is silent; stopping it too.
    DKPauseAACFile();
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    render(2048);
    EXPECT_LE(peak(render(2048)), 2);  // rounding residue at most
    DKStopAACFile();
    std::remove(file.c_str());
}

}  // namespace
