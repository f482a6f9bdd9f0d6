// Each decoding road against known sample values, and what reaches the OpenAL buffer.
#include <gtest/gtest.h>

#include "engine/sound/SGSound.h"
#include "engine/sound/SoundDecoding.h"
#include "engine/sound/SoundManager.h"
#include "engine/sound/tests/SoundTestSupport.h"

using namespace dk;
using namespace dktest;

namespace {

struct BufferInfo {
    ALint frequency = 0, bits = 0, channels = 0, size = 0;
    bool operator==(const BufferInfo&) const = default;
};

class SoundDecodingTest : public ::testing::Test {
protected:
    // A manager makes the shared context current, as the engine does before assets load.
    static void SetUpTestSuite() { manager = new SoundManager; }
    static void TearDownTestSuite() { delete manager; }

    // What OpenAL holds for the loaded file; all zero when it has no buffer.
    static BufferInfo loaded(const std::string& path) {
        SGSound s;
        EXPECT_TRUE(s.loadFromFile(path.c_str())) << path;
        BufferInfo b;
        if (s.bufferCount != 1) return b;
        for (auto [what, into] : {std::pair{AL_FREQUENCY, &b.frequency},
                                  {AL_BITS, &b.bits},
                                  {AL_CHANNELS, &b.channels},
                                  {AL_SIZE, &b.size}})
            alGetBufferi(s.buffers[0], what, into);
        return b;
    }
    static std::vector<int16_t> decoded(bool (*decode)(const char*, DKPcm&), const std::string& path) {
        DKPcm pcm;
        EXPECT_TRUE(decode(path.c_str(), pcm)) << path;
        return fromLE16(pcm.data);
    }

    static SoundManager* manager;
    TempDir dir;
};
SoundManager* SoundDecodingTest::manager = nullptr;

TEST_F(SoundDecodingTest, OggVorbisDecodesToTheEncodedSignal) {
    // 65536 mono frames decode to exactly one 128 KiB chunk; 98304 to one and a half.
    for (auto [frames, rate, channels] :
         {std::tuple{22050, 22050, 1}, {65536, 44100, 1}, {98304, 44100, 1}, {4410, 44100, 2}}) {
        auto samples = sine(frames, channels, rate, 500, 0.5);
        std::string path = dir.file(std::to_string(frames) + ".ogg");
        ASSERT_TRUE(writeSound(path, kOgg, samples, channels, rate));
        // Lossy, but within about 1% of the peak; a gap or stray bytes at a chunk join would be far off.
        EXPECT_LT(rmsError(decoded(DKDecodeOggVorbis, path), samples), 200.0) << frames;
        EXPECT_EQ(loaded(path), (BufferInfo{rate, 16, channels, frames * 2 * channels}));
    }
}

TEST_F(SoundDecodingTest, CafLinearPcmKeepsItsSamples) {
    struct Case {
        int format, channels;
        std::vector<int16_t> written;
        std::vector<uint8_t> buffered;  // what OpenAL gets: 16-bit little-endian, 8-bit unsigned
        BufferInfo info;
    };
    const Case cases[] = {
        {kCaf16, 2, {1000, -1000, 32767, -32768}, {0xE8, 3, 0x18, 0xFC, 0xFF, 0x7F, 0, 0x80}, {8000, 16, 2, 8}},
        {SF_FORMAT_CAF | SF_FORMAT_PCM_16 | SF_ENDIAN_BIG, 1, {0x1234, -2}, {0x34, 0x12, 0xFE, 0xFF}, {8000, 16, 1, 4}},
        {SF_FORMAT_CAF | SF_FORMAT_PCM_S8, 1, {0, 127 << 8, -128 << 8, -256}, {128, 255, 0, 127}, {8000, 8, 1, 4}},
    };
    for (const Case& c : cases) {
        const std::string path = dir.file(std::to_string(&c - cases) + ".caf");
        ASSERT_TRUE(writeSound(path, c.format, c.written, c.channels, 8000));
        DKPcm pcm;
        EXPECT_EQ(DKReadCafLinearPcm(path.c_str(), pcm), DKCafStatus::kLinearPcm);
        EXPECT_EQ(pcm.data, c.buffered) << path;
        EXPECT_EQ(loaded(path), c.info) << path;
    }
}

TEST_F(SoundDecodingTest, Caf24BitGetsAnInvalidFormatReported) {
    ASSERT_TRUE(writeSound(dir.file("24.caf"), SF_FORMAT_CAF | SF_FORMAT_PCM_24 | SF_ENDIAN_LITTLE, std::vector<int16_t>(10, 1), 1, 44100));
    ::testing::internal::CaptureStderr();
    loaded(dir.file("24.caf"));
    std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("in call to CAFToOpenAL: alBufferData"), std::string::npos) << err;
}

TEST_F(SoundDecodingTest, Ima4DecodesKnownNibbles) {
    // Header: predictor 0, step index 0. Nibbles 7, 7, 0x8|7 by hand:
    // step 7 -> +(0+1+3+7)=11, index 8; step 16 -> +(2+4+8+16)=30 -> 41, index 16;
    // step 34 -> -(4+8+17+34)=-63 -> -22.
    uint8_t packet[34] = {0, 0, 0x77, 0x0f};
    auto s = DKDecodeIma4(packet, sizeof packet, 1);
    ASSERT_EQ(s.size(), 64u);
    EXPECT_EQ(std::vector<int16_t>(s.begin(), s.begin() + 3), (std::vector<int16_t>{11, 41, -22}));
    // A partial packet at the end is ignored; nothing is read past the data.
    EXPECT_EQ(DKDecodeIma4(packet, 33, 1).size(), 0u);
}

TEST_F(SoundDecodingTest, CompressedStereoCafBecomesMono) {
    // data/tone-ima4.caf: one second of the stereo tone (440 Hz, peak 0.8) at 44.1 kHz in IMA4
    // packets of 64 frames, of which the packet table declares all but the last 10 frames valid.
    const std::string path = DK_TEST_DATA_DIR "/tone-ima4.caf";
    DKPcm pcm;
    ASSERT_EQ(DKReadCafLinearPcm(path.c_str(), pcm), DKCafStatus::kOtherFormat);
    auto stereo = sine(44100, 2, 44100, 440, 0.8);
    std::vector<int16_t> expected(44090);
    for (size_t i = 0; i < expected.size(); ++i) expected[i] = (stereo[2 * i] + stereo[2 * i + 1]) >> 1;
    // ADPCM tracks a sine within a few percent of full scale.
    EXPECT_LT(rmsError(decoded(DKDecodeToMono16, path), expected), 600.0);
    EXPECT_EQ(loaded(path), (BufferInfo{44100, 16, 1, 44090 * 2}));
}

TEST_F(SoundDecodingTest, ConvertingRoadDownmixesAnyOtherFile) {
    ASSERT_TRUE(writeWav(dir.file("stereo.wav"), {100, 300, -32768, -32768, 32767, 32765, 7, -8}, 2, 11025));
    EXPECT_EQ(decoded(DKDecodeToMono16, dir.file("stereo.wav")),
              (std::vector<int16_t>{200, -32768, 32766, -1}));
    EXPECT_EQ(loaded(dir.file("stereo.wav")), (BufferInfo{11025, 16, 1, 8}));
    // Upper-case ".OGG" is not the Ogg road: it converts to mono instead of failing.
    ASSERT_TRUE(writeSound(dir.file("loud.OGG"), kOgg, sine(2000, 2, 22050, 200, 0.5), 2, 22050));
    EXPECT_EQ(loaded(dir.file("loud.OGG")).channels, 1);
}

TEST_F(SoundDecodingTest, UnreadableFilesLoadWithoutABufferExceptOgg) {
    writeFile(dir.file("junk.caf"), std::string("caff\0\1\0\0desc garbage", 20));
    writeFile(dir.file("fake.ogg"), "OggS but not really");
    ASSERT_TRUE(
        writeWav(dir.file("four.wav"), std::vector<int16_t>(16, 1), 4, 8000));  // more than two channels
    for (auto [path, loads] : {std::pair{std::string("/nonexistent/missing.wav"), true},
                               {"/nonexistent/x.caf", true},
                               {"a", true},
                               {dir.file("junk.caf"), true},
                               {dir.file("four.wav"), true},
                               {dir.file("fake.ogg"), false},
                               {"/nonexistent/x.ogg", false}}) {
        SGSound s;
        EXPECT_EQ(s.loadFromFile(path.c_str()), loads) << path;
        EXPECT_EQ(s.bufferCount, 0) << path;
        EXPECT_EQ(s.buffers, nullptr) << path;
    }
}

TEST_F(SoundDecodingTest, FreeAndReloadReleaseTheBuffer) {
    ASSERT_TRUE(writeSound(dir.file("r.caf"), kCaf16, {1, 2, 3, 4}, 2, 44100));
    SGSound s;
    ASSERT_TRUE(s.loadFromFile(dir.file("r.caf").c_str()));
    ALuint first = s.buffers[0];
    ASSERT_TRUE(s.loadFromFile(dir.file("r.caf").c_str()));
    ASSERT_EQ(s.bufferCount, 1);
    EXPECT_FALSE(alIsBuffer(first) && first != s.buffers[0]);
    ALuint second = s.buffers[0];
    s.freeSound();
    EXPECT_EQ(s.bufferCount, 0);
    EXPECT_EQ(s.buffers, nullptr);
    EXPECT_FALSE(alIsBuffer(second));
    s.freeSound();  // twice is harmless
}

}  // namespace
