// Each decoding road against known sample values, and what reaches the OpenAL buffer.
#include <gtest/gtest.h>

#include "engine/sound/SGSound.h"
#include "engine/sound/SoundDecoding.h"
#include "engine/sound/SoundManager.h"
#include "engine/sound/tests/SoundTestFiles.h"

using namespace dk;
using namespace dk::test;

namespace {

struct BufferInfo {
    ALint frequency = 0, bits = 0, channels = 0, size = 0;
    bool operator==(const BufferInfo&) const = default;
};

// What OpenAL holds for a loaded sound; all zero when it has no buffer.
BufferInfo bufferInfo(const SGSound& s) {
    BufferInfo b;
    if (s.bufferCount != 1) return b;
    alGetBufferi(s.buffers[0], AL_FREQUENCY, &b.frequency);
    alGetBufferi(s.buffers[0], AL_BITS, &b.bits);
    alGetBufferi(s.buffers[0], AL_CHANNELS, &b.channels);
    alGetBufferi(s.buffers[0], AL_SIZE, &b.size);
    return b;
}

BufferInfo loaded(const std::string& path) {
    SGSound s;
    EXPECT_TRUE(s.loadFromFile(path.c_str())) << path;
    return bufferInfo(s);
}

class SoundDecodingTest : public ::testing::Test {
protected:
    // A manager makes the shared context current, as the engine does before assets load.
    static void SetUpTestSuite() { manager = new SoundManager; }
    static void TearDownTestSuite() { delete manager; }
    void TearDown() override {
        for (auto& p : files) std::remove(p.c_str());
    }
    std::string file(const std::string& name) {
        files.push_back(tempPath(name));
        return files.back();
    }
    static SoundManager* manager;
    std::vector<std::string> files;
};
SoundManager* SoundDecodingTest::manager = nullptr;

TEST_F(SoundDecodingTest, OggVorbisDecodesToTheEncodedSignal) {
    // 65536 mono frames decode to exactly one 128 KiB chunk; 98304 to one and a half.
    for (auto [frames, rate] : {std::pair{22050, 22050}, {65536, 44100}, {98304, 44100}}) {
        auto samples = sine(frames, 1, rate, 500, 0.5);
        std::string path = file("mono" + std::to_string(frames) + ".ogg");
        ASSERT_TRUE(writeOgg(path, samples, 1, rate));
        DKPcm pcm;
        ASSERT_TRUE(DKDecodeOggVorbis(path.c_str(), pcm));
        EXPECT_EQ(pcm.sampleRate, rate);
        auto decoded = fromLE16(pcm.data);
        ASSERT_EQ(decoded.size(), samples.size());
        // Lossy, but within about 1% of the peak; a gap or stray bytes at a chunk join would be far off.
        EXPECT_LT(rmsError(decoded, samples), 200.0);
        EXPECT_EQ(loaded(path), (BufferInfo{rate, 16, 1, frames * 2}));
    }
    std::string stereoPath = file("stereo.ogg");
    ASSERT_TRUE(writeOgg(stereoPath, sine(4410, 2, 44100, 300, 0.5), 2, 44100));
    EXPECT_EQ(loaded(stereoPath), (BufferInfo{44100, 16, 2, 4410 * 4}));
}

TEST_F(SoundDecodingTest, CafLinearPcmKeepsItsLayout) {
    // Stereo 16-bit little-endian: a stereo buffer with the bytes as stored.
    std::vector<int16_t> stereo = {1000, -1000, 32767, -32768, 5, 6};
    std::string path = file("stereo.caf");
    ASSERT_TRUE(writeCaf(path, CafDesc{}, le16(stereo)));
    DKPcm pcm;
    ASSERT_EQ(DKReadCafLinearPcm(path.c_str(), pcm), DKCafStatus::kLinearPcm);
    EXPECT_EQ(fromLE16(pcm.data), stereo);
    EXPECT_EQ(loaded(path), (BufferInfo{44100, 16, 2, 12}));

    // Big-endian 16-bit mono: swapped, not dropped.
    std::string be;
    for (int16_t v : {int16_t(0x1234), int16_t(-2)}) putBE(be, static_cast<uint16_t>(v), 2);
    std::string bePath = file("be.caf");
    ASSERT_TRUE(writeCaf(bePath, CafDesc{22050, "lpcm", 0, 2, 1, 1, 16}, be));
    ASSERT_EQ(DKReadCafLinearPcm(bePath.c_str(), pcm), DKCafStatus::kLinearPcm);
    EXPECT_EQ(fromLE16(pcm.data), (std::vector<int16_t>{0x1234, -2}));

    // 8-bit signed samples become OpenAL's unsigned ones.
    std::string eight = {char(0), char(127), char(-128), char(-1)};
    std::string eightPath = file("eight.caf");
    ASSERT_TRUE(writeCaf(eightPath, CafDesc{8000, "lpcm", 2, 1, 1, 1, 8}, eight));
    ASSERT_EQ(DKReadCafLinearPcm(eightPath.c_str(), pcm), DKCafStatus::kLinearPcm);
    EXPECT_EQ(pcm.data, (std::vector<uint8_t>{128, 255, 0, 127}));
    EXPECT_EQ(loaded(eightPath), (BufferInfo{8000, 8, 1, 4}));
}

TEST_F(SoundDecodingTest, Caf24BitGetsAnInvalidFormatReported) {
    std::string path = file("24.caf");
    ASSERT_TRUE(writeCaf(path, CafDesc{44100, "lpcm", 2, 3, 1, 1, 24}, std::string(30, '\1')));
    SGSound s;
    ::testing::internal::CaptureStderr();
    EXPECT_TRUE(s.loadFromFile(path.c_str()));
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
    EXPECT_EQ(s[0], 11);
    EXPECT_EQ(s[1], 41);
    EXPECT_EQ(s[2], -22);
    // A partial packet at the end is ignored; nothing is read past the data.
    EXPECT_EQ(DKDecodeIma4(packet, 33, 1).size(), 0u);
}

TEST_F(SoundDecodingTest, CompressedStereoCafBecomesMono) {
    const int frames = 64 * 40;
    auto stereo = sine(frames, 2, 22050, 440, 0.8);
    std::string path = file("ima4.caf");
    ASSERT_TRUE(writeCaf(path, CafDesc{22050, "ima4", 0, 68, 64, 2, 0}, encodeIma4(stereo, 2), frames - 10));
    ASSERT_EQ(DKReadCafLinearPcm(path.c_str(), *std::make_unique<DKPcm>()), DKCafStatus::kOtherFormat);
    DKPcm pcm;
    ASSERT_TRUE(DKDecodeToMono16(path.c_str(), pcm));
    EXPECT_EQ(pcm.channels, 1);
    EXPECT_EQ(pcm.sampleRate, 22050);
    auto mono = fromLE16(pcm.data);
    ASSERT_EQ(mono.size(), static_cast<size_t>(frames - 10));  // trimmed to the valid frames
    std::vector<int16_t> expected(mono.size());
    for (size_t i = 0; i < expected.size(); ++i) expected[i] = (stereo[2 * i] + stereo[2 * i + 1]) >> 1;
    // ADPCM tracks a sine within a few percent of full scale.
    EXPECT_LT(rmsError(mono, expected), 600.0);
    EXPECT_EQ(loaded(path), (BufferInfo{22050, 16, 1, (frames - 10) * 2}));
}

TEST_F(SoundDecodingTest, ConvertingRoadDownmixesAnyOtherFile) {
    std::vector<int16_t> stereo = {100, 300, -32768, -32768, 32767, 32765, 7, -8};
    std::string wav = file("stereo.wav");
    ASSERT_TRUE(writeWav(wav, stereo, 2, 11025));
    DKPcm pcm;
    ASSERT_TRUE(DKDecodeToMono16(wav.c_str(), pcm));
    EXPECT_EQ(fromLE16(pcm.data), (std::vector<int16_t>{200, -32768, 32766, -1}));
    EXPECT_EQ(loaded(wav), (BufferInfo{11025, 16, 1, 8}));

    // Upper-case ".OGG" is not the Ogg road: it converts to mono instead of failing.
    std::string upper = file("loud.OGG");
    ASSERT_TRUE(writeOgg(upper, sine(2000, 2, 22050, 200, 0.5), 2, 22050));
    EXPECT_EQ(loaded(upper).channels, 1);
}

TEST_F(SoundDecodingTest, UnreadableFilesLoadWithoutABuffer) {
    std::string junk = file("junk.caf"), four = file("four.wav");
    ASSERT_TRUE(writeFile(junk, "caff\0\1\0\0desc garbage"));
    ASSERT_TRUE(writeWav(four, std::vector<int16_t>(16, 1), 4, 8000));  // more than two channels
    for (const std::string& path : {std::string("/nonexistent/missing.wav"),
                                    std::string("/nonexistent/x.caf"), std::string("a"), junk, four}) {
        SGSound s;
        EXPECT_TRUE(s.loadFromFile(path.c_str())) << path;
        EXPECT_EQ(s.bufferCount, 0) << path;
    }
    // Only the Ogg road reports failure, and leaves the sound empty.
    std::string fake = file("fake.ogg");
    ASSERT_TRUE(writeFile(fake, "OggS but not really"));
    for (const std::string& path : {fake, std::string("/nonexistent/x.ogg")}) {
        SGSound s;
        EXPECT_FALSE(s.loadFromFile(path.c_str())) << path;
        EXPECT_EQ(s.buffers, nullptr) << path;
    }
}

TEST_F(SoundDecodingTest, FreeAndReloadReleaseTheBuffer) {
    std::string path = file("r.caf");
    ASSERT_TRUE(writeCaf(path, CafDesc{}, le16({1, 2, 3, 4})));
    SGSound s;
    ASSERT_TRUE(s.loadFromFile(path.c_str()));
    ASSERT_TRUE(s.loadFromFile(path.c_str()));
    ASSERT_EQ(s.bufferCount, 1);
    ALuint second = s.buffers[0];
    s.freeSound();
    EXPECT_EQ(s.bufferCount, 0);
    EXPECT_EQ(s.buffers, nullptr);
    EXPECT_FALSE(alIsBuffer(second));
    s.freeSound();  // twice is harmless
}

}  // namespace
