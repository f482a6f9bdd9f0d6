// Each decoding road against known sample values, and what reaches the OpenAL buffer.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <limits>

#include "engine/sound/SGSound.h"
#include "engine/sound/SoundDecoding.h"
#include "engine/sound/SoundManager.h"
#include "engine/sound/tests/SoundTestSupport.h"
#include "port/DKFileProblems.h"

using dk::sound::SoundManager;
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

    // What OpenAL holds for a loaded sound; all zero when it has no buffer.
    static BufferInfo info(const SGSound& s) {
        BufferInfo b;
        const std::pair<ALenum, ALint*> fields[] = {
            {AL_FREQUENCY, &b.frequency}, {AL_BITS, &b.bits}, {AL_CHANNELS, &b.channels}, {AL_SIZE, &b.size}};
        for (auto [what, into] : fields)
            if (s.bufferCount() == 1) alGetBufferi(s.buffers()[0], what, into);
        return b;
    }
    using Road = bool (*)(const char*, DKPcm&);
    static std::vector<uint8_t> decoded(Road road, const std::string& path) {
        DKPcm pcm;
        EXPECT_TRUE(road(path.c_str(), pcm)) << path;
        return pcm.data;
    }
    static SoundManager* manager;
    TempDir dir;
};
SoundManager* SoundDecodingTest::manager = nullptr;

// Every road, chosen by the file's ending, from a file written here to the OpenAL buffer.
TEST_F(SoundDecodingTest, EachRoadBuffersTheWrittenSignal) {
    struct Case {
        const char* name;
        int format, channels;
        Road road;
        BufferInfo info;
        std::vector<int16_t> written;
        std::vector<uint8_t> buffered;  // the exact bytes, or empty: the written signal, lossily
    };
    auto tone = [](int frames, int channels, int rate) { return sine(frames, channels, rate, 500, 0.5); };
    const Road ogg = DKDecodeOggVorbis, mono = DKDecodeToMono16;
    const Road caf = [](const char* path, DKPcm& out) {
        return DKReadCafLinearPcm(path, out) == DKCafStatus::kLinearPcm;
    };
    const int kCafBE = SF_FORMAT_CAF | SF_FORMAT_PCM_16 | SF_ENDIAN_BIG,
              kCaf8 = SF_FORMAT_CAF | SF_FORMAT_PCM_S8;
    const std::vector<int16_t> extremes = {32767, 32765, -32768, -32768, 7, -8};
    const Case cases[] = {
        // Ogg: 65536 mono frames decode to exactly one 128 KiB chunk, 98304 to one and a half.
        {"b.ogg", kOgg, 1, ogg, {44100, 16, 1, 131072}, tone(65536, 1, 44100), {}},
        {"c.ogg", kOgg, 1, ogg, {44100, 16, 1, 196608}, tone(98304, 1, 44100), {}},
        {"d.ogg", kOgg, 2, ogg, {44100, 16, 2, 17640}, tone(4410, 2, 44100), {}},
        // Linear PCM CAF keeps its layout: big-endian samples swapped, 8-bit ones made unsigned.
        {"le.caf", kCaf16, 2, caf, {8000, 16, 2, 4}, {1000, -32768}, {0xE8, 3, 0, 0x80}},
        {"be.caf", kCafBE, 1, caf, {8000, 16, 1, 4}, {0x1234, -2}, {0x34, 0x12, 0xFE, 0xFF}},
        {"8.caf", kCaf8, 1, caf, {8000, 8, 1, 4}, {0, 127 << 8, -128 << 8, -256}, {128, 255, 0, 127}},
        // Anything else is converted to mono; upper-case ".OGG" is not the Ogg road.
        {"s.wav", kWav16, 2, mono, {8000, 16, 1, 6}, extremes, {0xFE, 0x7F, 0, 0x80, 0xFF, 0xFF}},
        {"loud.OGG", kOgg, 2, mono, {22050, 16, 1, 4000}, tone(2000, 2, 22050), {}}};
    for (const Case& c : cases) {
        const std::string path = dir.file(c.name);
        ASSERT_TRUE(writeSound(path, c.format, c.written, c.channels, c.info.frequency));
        SGSound s;
        ASSERT_TRUE(s.loadFromFile(path.c_str()));
        EXPECT_EQ(info(s), c.info) << c.name;
        const std::vector<uint8_t> pcm = decoded(c.road, path);
        // Ogg is lossy, but within about 1% of the peak; a gap or stray bytes at a chunk join would
        // be far off.
        EXPECT_TRUE(c.road == ogg ? rmsError(fromLE16(pcm), c.written) < 200
                                  : c.buffered.empty() || pcm == c.buffered)
            << c.name;
    }
}

TEST_F(SoundDecodingTest, Caf24BitGetsAnInvalidFormatReported) {
    ASSERT_TRUE(writeSound(dir.file("24.caf"), SF_FORMAT_CAF | SF_FORMAT_PCM_24 | SF_ENDIAN_LITTLE,
                           std::vector<int16_t>(10, 1), 1, 44100));
    ::testing::internal::CaptureStderr();
    SGSound s;
    s.loadFromFile(dir.file("24.caf").c_str());
    std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("in call to CAFToOpenAL: alBufferData"), std::string::npos) << err;
}

TEST_F(SoundDecodingTest, CompressedStereoCafBecomesMono) {
    // data/tone-ima4.caf: one second of the stereo tone (440 Hz, peak 0.8) at 44.1 kHz in IMA4
    // packets of 64 frames, of which the packet table declares all but the last 10 frames valid.
    SGSound s;
    ASSERT_TRUE(s.loadFromFile(DK_TEST_DATA_DIR "/tone-ima4.caf"));
    EXPECT_EQ(info(s), (BufferInfo{44100, 16, 1, 44090 * 2}));
    auto stereo = sine(44100, 2, 44100, 440, 0.8);
    std::vector<int16_t> expected(44090);
    for (size_t i = 0; i < expected.size(); ++i) expected[i] = (stereo[2 * i] + stereo[2 * i + 1]) >> 1;
    // ADPCM tracks a sine within a few percent of full scale.
    EXPECT_LT(rmsError(fromLE16(decoded(DKDecodeToMono16, DK_TEST_DATA_DIR "/tone-ima4.caf")), expected),
              600.0);
    const uint8_t packet[34] = {};
    EXPECT_TRUE(DKDecodeIma4(packet, 33, 1).empty()) << "a partial packet is read past its end";
}

// A sound kept silent is named with its reason, once however often it is loaded.
TEST_F(SoundDecodingTest, SilentSoundsAreNamedOnceWithTheirReason) {
    dk::port::forgetFileProblems();
    writeFile(dir.file("junk.caf"), std::string("caff\0\1\0\0desc garbage", 20));
    writeFile(dir.file("one-byte.wav"), "R");
    ASSERT_TRUE(writeWav(dir.file("four.wav"), std::vector<int16_t>(16, 1), 4, 8000));  // over two channels
    std::filesystem::create_directory(dir.file("folder.wav"));
    const std::pair<std::string, std::string> files[] = {
        {dir.file("missing.wav"), "No such file or directory"},
        {dir.file("missing.caf"), "No such file or directory"},
        {dir.file("junk.caf"), "not a sound file that can be decoded"},
        {dir.file("one-byte.wav"), "not a sound file that can be decoded"},
        {dir.file("four.wav"), "not a sound file that can be decoded"},
        {dir.file("folder.wav"), "a folder, not a file"},
    };
    std::string expected;
    for (const auto& [path, reason] : files) expected += path + ": " + reason + "\n";
    testing::internal::CaptureStderr();
    for (int round = 0; round < 2; ++round)
        for (const auto& [path, reason] : files) {
            SGSound s;
            EXPECT_TRUE(s.loadFromFile(path.c_str())) << path;
        }
    EXPECT_EQ(testing::internal::GetCapturedStderr(), expected);
}

TEST_F(SoundDecodingTest, UnreadableFilesLoadWithoutABufferExceptOgg) {
    writeFile(dir.file("junk.caf"), std::string("caff\0\1\0\0desc garbage", 20));
    writeFile(dir.file("fake.ogg"), "OggS but not really");
    ASSERT_TRUE(writeWav(dir.file("four.wav"), std::vector<int16_t>(16, 1), 4, 8000));  // over two channels
    // clang-format off
    const std::pair<std::string, bool> files[] = {
        {"/nonexistent/missing.wav", true}, {"/nonexistent/x.caf", true}, {"a", true}, {dir.file("junk.caf"), true},
        {dir.file("four.wav"), true}, {dir.file("fake.ogg"), false}, {"/nonexistent/x.ogg", false}};
    // clang-format on
    for (const auto& [path, loads] : files) {
        SGSound s;
        EXPECT_EQ(s.loadFromFile(path.c_str()), loads) << path;
        EXPECT_EQ(s.bufferCount(), 0) << path;
        EXPECT_EQ(s.buffers(), nullptr) << path;
    }
}

// libvorbis's residue decoder divides by a codebook's dimension: by the stage book's, and by the
// class book's, which is 0 when its code tree is not full. Neither may reach it.
TEST_F(SoundDecodingTest, OggSetupsThatWouldDivideByZeroLoadAsNoSound) {
    const struct {
        int stageBookDim, classBookLength2;
        bool loads;
    } cases[] = {{1, 1, true}, {0, 1, false}, {1, 2, false}};
    for (const auto& c : cases) {
        const std::string path = dir.file("books.ogg");
        writeFile(path, tinyOggVorbis(c.stageBookDim, c.classBookLength2));
        SGSound s;
        EXPECT_EQ(s.loadFromFile(path.c_str()), c.loads) << c.stageBookDim << " " << c.classBookLength2;
        EXPECT_EQ(info(s).size > 0, c.loads) << c.stageBookDim << " " << c.classBookLength2;
    }
}

// A FLAC header with no frames after it, claiming 2^36 - 1 stereo frames: the claim is not
// allocated, and nothing comes out of a file that holds nothing.
TEST_F(SoundDecodingTest, ForgedFlacFrameCountIsNotTrusted) {
    const uint8_t streamInfo[] = {
        'f',  'L',  'a',  'C',  0x80, 0,    0,    34,          // the last metadata block, 34 bytes
        0x10, 0,    0x10, 0,    0,    0,    0,    0,    0, 0,  // block sizes 4096, frame sizes unknown
        0x0A, 0xC4, 0x42, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,        // 44100 Hz, 2 channels, 16 bits, frames
        0,    0,    0,    0,    0,    0,    0,    0,    0, 0, 0, 0, 0, 0, 0, 0};  // MD5
    const std::string path = dir.file("forged.flac");
    writeFile(path, std::string(std::begin(streamInfo), std::end(streamInfo)));
    DKPcm pcm;
    EXPECT_NO_THROW(DKDecodeToMono16(path.c_str(), pcm));
    EXPECT_TRUE(pcm.data.empty()) << pcm.data.size();
    SGSound s;
    EXPECT_NO_THROW(s.loadFromFile(path.c_str()));
    EXPECT_EQ(info(s).size, 0);
}

// A CAF rate OpenAL cannot take, or an int cannot hold, makes the file unreadable: linear PCM
// and IMA4 alike.
TEST_F(SoundDecodingTest, CafRatesOutsideWhatOpenALTakesAreRefused) {
    ASSERT_TRUE(writeSound(dir.file("pcm.caf"), kCaf16, {1, 2, 3, 4}, 1, 8000));
    const std::string sources[] = {dir.file("pcm.caf"), DK_TEST_DATA_DIR "/tone-ima4.caf"};
    const double inf = std::numeric_limits<double>::infinity();
    const std::pair<double, bool> rates[] = {{22050, true}, {1e300, false},        {-1, false},
                                             {0, false},    {0.5, false},          {std::nan(""), false},
                                             {inf, false},  {2147483648.0, false}, {-inf, false}};
    for (const std::string& source : sources) {
        for (auto [rate, kept] : rates) {
            std::string bytes = readFile(source);
            ASSERT_EQ(bytes.compare(8, 4, "desc"), 0) << source;
            uint64_t bits;
            std::memcpy(&bits, &rate, 8);
            for (int i = 0; i < 8; ++i)
                bytes[20 + i] = static_cast<char>(bits >> (56 - 8 * i));  // big-endian
            writeFile(dir.file("rate.caf"), bytes);
            SGSound s;
            EXPECT_TRUE(s.loadFromFile(dir.file("rate.caf").c_str()));
            EXPECT_EQ(s.bufferCount(), kept ? 1 : 0) << source << " " << rate;
            EXPECT_EQ(info(s).frequency, kept ? static_cast<int>(rate) : 0) << source << " " << rate;
        }
    }
}

// A sound effect is held whole: one past its bound is refused with its one line, before it is
// decoded whole (Ogg and CAF by what their headers say; the others where decoding passes it),
// holding no samples. Just under the bound it loads.
TEST_F(SoundDecodingTest, ASoundEffectPastItsBoundIsRefusedBeforeItIsDecodedWhole) {
    constexpr int kRate = 8000;
    const std::vector<int16_t> over(kRate * (kMaxSoundEffectSeconds + 1)), under(over.size() - 2 * kRate);
    const struct {
        const char* name;
        int format;
        const std::vector<int16_t>& silence;
        Road road;
    } cases[] = {{"over.ogg", kOgg, over, DKDecodeOggVorbis},
                 {"over.caf", kCaf16, over,
                  [](const char* path, DKPcm& out) {
                      return DKReadCafLinearPcm(path, out) == DKCafStatus::kLinearPcm;
                  }},
                 {"over.wav", kWav16, over, DKDecodeToMono16},
                 {"under.wav", kWav16, under, DKDecodeToMono16}};
    dk::port::forgetFileProblems();
    for (const auto& c : cases) {
        const std::string path = dir.file(c.name);
        const bool kept = &c.silence == &under;
        ASSERT_TRUE(writeSound(path, c.format, c.silence, 1, kRate)) << c.name;
        DKPcm pcm;
        EXPECT_EQ(c.road(path.c_str(), pcm), kept) << c.name;
        EXPECT_EQ(pcm.tooLong, !kept) << c.name;
        EXPECT_TRUE(kept || pcm.data.capacity() == 0) << c.name << " holds " << pcm.data.capacity();
        testing::internal::CaptureStderr();
        SGSound s;
        EXPECT_TRUE(s.loadFromFile(path.c_str())) << c.name;
        EXPECT_EQ(testing::internal::GetCapturedStderr(),
                  kept ? "" : path + ": " + kSoundTooLongReason + "\n");
        EXPECT_EQ(info(s).size, kept ? int(c.silence.size() * 2) : 0) << c.name;
    }
}

TEST_F(SoundDecodingTest, FreeAndReloadReleaseTheBuffer) {
    ASSERT_TRUE(writeSound(dir.file("r.caf"), kCaf16, {1, 2, 3, 4}, 2, 44100));
    SGSound s;
    ASSERT_TRUE(s.loadFromFile(dir.file("r.caf").c_str()));
    ALuint first = s.buffers()[0];
    ASSERT_TRUE(s.loadFromFile(dir.file("r.caf").c_str()));
    ASSERT_EQ(s.bufferCount(), 1);
    EXPECT_FALSE(alIsBuffer(first) && first != s.buffers()[0]);
    ALuint second = s.buffers()[0];
    s.freeSound();
    EXPECT_EQ(s.bufferCount(), 0);
    EXPECT_EQ(s.buffers(), nullptr);
    EXPECT_FALSE(alIsBuffer(second));
    s.freeSound();  // twice is harmless
}

}  // namespace
