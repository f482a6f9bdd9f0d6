// The music decoder on what games ship most: AAC in MP4 (data/tone-1khz.m4a: one second of a 1 kHz
// tone at half of full scale, mono, 44.1 kHz, encoded once with FFmpeg's AAC encoder).
#include <gtest/gtest.h>

#include "port/DKMusicPlayer.h"
#include "port/tests/AudioTestSupport.h"

namespace {

std::vector<int16_t> decodeAll(DKMusicDecoder& d) {
    std::vector<int16_t> all, chunk(1000 * d.channels());
    while (int n = d.read(chunk.data(), 1000))
        all.insert(all.end(), chunk.begin(), chunk.begin() + n * d.channels());
    return all;
}

TEST(DKMusicDecoderTest, AacInMp4DecodesToTheToneAndAgainAfterRewind) {
    auto d = DKMusicDecoder::open(DK_TEST_DATA_DIR "/tone-1khz.m4a");
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(d->channels(), 1);
    EXPECT_EQ(d->sampleRate(), 44100);
    auto pcm = decodeAll(*d);
    // Encoder delay and padding may add or trim up to a couple of AAC frames.
    EXPECT_NEAR(static_cast<double>(pcm.size()), 44100, 2 * 1024 + 64);
    std::vector<int16_t> middle(pcm.begin() + 44100 / 4, pcm.begin() + 3 * 44100 / 4);
    EXPECT_NEAR(dktest::zeroCrossings(middle, 0, middle.size()), 1000, 4);
    EXPECT_NEAR(dktest::peak(middle), 16384, 1000);
    // Reopened rather than seeked, so a loop has no encoder-delay gap.
    ASSERT_TRUE(d->rewind());
    EXPECT_EQ(decodeAll(*d), pcm);
}

TEST(DKMusicDecoderTest, NonAudioIsRefused) {
    dktest::TempDir dir;
    dktest::writeFile(dir.file("notes.txt"), std::string(4096, 'x'));
    for (const std::string& p : {dir.file("notes.txt"), std::string(), std::string("/nonexistent/a.m4a")})
        EXPECT_EQ(DKMusicDecoder::open(p), nullptr) << p;
}

}  // namespace
