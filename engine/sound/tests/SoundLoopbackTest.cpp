// What reaches the mixer: sounds and music rendered through OpenAL Soft's loopback device.
#include <gtest/gtest.h>

#include "engine/sound/SoundManager.h"
#include "engine/sound/tests/SoundTestFiles.h"
#include "port/DKAudioDevice.h"
#include "port/DKPlatformPort.h"
#include "port/tests/MusicTestHelpers.h"

using namespace dk;
using namespace dk::test;

namespace {

constexpr int kRate = 44100;

std::vector<int16_t> render(int frames) {
    std::vector<int16_t> out(frames);
    DKAudioDevice::renderSamples(out.data(), frames);
    return out;
}

// The best correlation of `heard` with `expected` over small delays; `gain` gets the scale.
double bestCorrelation(const std::vector<int16_t>& heard, const std::vector<int16_t>& expected,
                       double* gain) {
    double best = -1;
    for (int lag = 0; lag < 64; ++lag) {
        double xy = 0, xx = 0, yy = 0;
        for (size_t i = 0; i + lag < heard.size() && i < expected.size(); ++i) {
            xy += double(heard[i + lag]) * expected[i];
            xx += double(expected[i]) * expected[i];
            yy += double(heard[i + lag]) * heard[i + lag];
        }
        double c = (xx > 0 && yy > 0) ? xy / std::sqrt(xx * yy) : 0;
        if (c > best) {
            best = c;
            *gain = xx > 0 ? xy / xx : 0;
        }
    }
    return best;
}

class SoundLoopbackTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { ASSERT_TRUE(DKAudioDevice::useLoopback(kRate, 1)); }
};

TEST_F(SoundLoopbackTest, DecodedSamplesReachTheMixer) {
    SoundManager m;
    DKAudioSource* s = m.reserveSource();
    s->setRelative(true);
    s->queueBuffers(toneSound(0.1));
    m.playSource(s);
    auto heard = render(kRate / 10);
    m.stopSource(s);
    double gain = 0;
    EXPECT_GT(bestCorrelation(heard, sine(kRate / 10, 1, kRate, 441, 0.5), &gain), 0.999);
    EXPECT_GT(gain, 0.3);

    // A stopped source is silent once its short fade-out has passed.
    render(1024);
    auto after = render(1024);
    EXPECT_LE(*std::max_element(after.begin(), after.end()), 2);
}

int peak(const std::vector<int16_t>& s) {
    int p = 0;
    for (int16_t v : s) p = std::max(p, std::abs(static_cast<int>(v)));
    return p;
}

// Renders in small steps at about the real rate, as a device would, so the feeder keeps up.
std::vector<int16_t> renderPaced(int frames) {
    std::vector<int16_t> out;
    while (static_cast<int>(out.size()) < frames) {
        auto part = render(std::min(512, frames - static_cast<int>(out.size())));
        out.insert(out.end(), part.begin(), part.end());
        std::this_thread::sleep_for(std::chrono::milliseconds(10));  // about real time
    }
    return out;
}

TEST_F(SoundLoopbackTest, MusicIsHeardAtItsVolumeAlsoWhileTheSoundManagerIsSuspended) {
    SoundManager m;
    std::string music = tempPath("music.wav");
    ASSERT_TRUE(writeWav(music, sine(kRate, 1, kRate, 441, 0.5), 1, kRate));
    // A volume set before any music holds for the first file.
    SetAACFileVolume(0.5f);
    DKPlayAACFile(music.c_str(), 1);
    ASSERT_TRUE(waitUntil([] { return peak(renderPaced(512)) > 1000; }, 5.0));
    renderPaced(2048);  // past any gain ramp
    const int half = peak(renderPaced(kRate / 10));

    m.suspend();
    EXPECT_EQ(alcGetCurrentContext(), nullptr);
    SetAACFileVolume(1.0f);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    renderPaced(2048);
    auto full = renderPaced(kRate / 10);
    ASSERT_GT(peak(full), 1000) << "suspending the sound manager silenced the music";
    EXPECT_NEAR(static_cast<double>(half) / peak(full), 0.5, 0.05);
    int crossings = 0;
    for (size_t i = 1; i < full.size(); ++i) crossings += (full[i - 1] < 0) != (full[i] < 0);
    EXPECT_NEAR(crossings, 88, 3);  // 441 Hz over a tenth of a second
    m.resume();

    DKPauseAACFile();
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    renderPaced(2048);
    EXPECT_LE(peak(renderPaced(2048)), 2) << "paused music is silent";
    DKStopAACFile();
    std::remove(music.c_str());
}

}  // namespace
