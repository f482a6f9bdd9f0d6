// The music decoder, and the music state machine on short files with a real (null-output) device.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "port/DKMusic.h"
#include "port/DKFileProblems.h"
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

// Whether anyone has opened the file at `path` since the watch began (inotify's IN_OPEN): held
// opens (DKMusicPlayer::holdOpens) show what waits for a file and what does not.
class OpenWatch {
public:
    explicit OpenWatch(const std::string& path) : m_fd(inotify_init1(IN_NONBLOCK | IN_CLOEXEC)) {
        inotify_add_watch(m_fd, path.c_str(), IN_OPEN);
    }
    ~OpenWatch() { ::close(m_fd); }
    OpenWatch(const OpenWatch&) = delete;
    OpenWatch& operator=(const OpenWatch&) = delete;
    bool opened() {
        alignas(inotify_event) char events[4096];
        while (::read(m_fd, events, sizeof events) > 0) m_opened = true;
        return m_opened;
    }

private:
    int m_fd;
    bool m_opened = false;
};

class DKMusicTest : public ::testing::Test {
protected:
    void SetUp() override {
        DKMusicPlayer::releaseOpens();
        manager().reset();
        writeWav(shortFile, sine(kRate / 5, 1, kRate, 440, 0.5), 1, kRate);       // 0.2 s
        writeWav(otherFile, sine(kRate * 3 / 10, 2, kRate, 220, 0.5), 2, kRate);  // stereo
        writeFile(notAudio, "this is not a sound file at all\n");
    }
    void TearDown() override {
        DKMusicPlayer::releaseOpens();
        manager().reset();
    }

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

// The file opens on the player's thread: the requests do not wait for it, and what the machine
// then says is what the file turned out to be.
TEST_F(DKMusicTest, RequestsReturnBeforeTheFileOpensAndItsOutcomeIsKept) {
    const struct {
        const char* name;
        std::string file;
        bool playing;
        int state;
    } cases[] = {{"music", shortFile, true, kDKMusicPlaying},
                 {"not music", notAudio, false, kDKMusicStopped}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        manager().reset();
        DKMusicPlayer::holdOpens();
        OpenWatch watch(c.file);
        // Starting, playing on without a path and a volume need no answer from the file.
        DKPlayAACFile(c.file.c_str(), 0);
        DKPlayAACFile(nullptr, 0);
        SetAACFileVolume(0.5f);
        EXPECT_FALSE(watch.opened());
        DKMusicPlayer::releaseOpens();
        EXPECT_EQ(IsAACFilePlaying(), c.playing);
        EXPECT_TRUE(watch.opened());
        EXPECT_EQ(state(), c.state);
        EXPECT_TRUE(ends());
    }
}

// Held opens wait for the release, or for a question that needs the answer; a player that goes
// away while held never opens its file.
TEST_F(DKMusicTest, HeldOpensWaitForTheReleaseOrAQuestion) {
    DKMusicPlayer::holdOpens();
    auto junk = DKMusicPlayer::open(notAudio);
    EXPECT_FALSE(junk->opened());

    OpenWatch never(shortFile);
    auto unopened = DKMusicPlayer::open(shortFile);
    unopened->play();
    unopened.reset();
    EXPECT_FALSE(never.opened());

    OpenWatch later(otherFile);
    auto player = DKMusicPlayer::open(otherFile);
    player->play();
    EXPECT_FALSE(later.opened());
    DKMusicPlayer::releaseOpens();
    EXPECT_TRUE(player->opened());
    EXPECT_TRUE(later.opened());
    EXPECT_TRUE(player->isPlaying());
    EXPECT_TRUE(waitUntil([&] { return !player->isPlaying(); }, 30.0));
}

// A game's music that does not play is as silent as a game without music: its author hears why,
// once per file and reason, as for images and sounds.
TEST_F(DKMusicTest, MusicThatCannotBePlayedIsNamedOnceWithItsReason) {
    dk::port::forgetFileProblems();
    std::filesystem::create_directory(dir.file("folder.m4a"));
    std::string bytes;
    for (int i = 0; i < 4096; ++i) bytes += static_cast<char>((i * 7919 + 13) % 251);
    writeFile(dir.file("random.mp3"), bytes);
    const struct {
        std::string file, reason;
    } cases[] = {
        {dir.file("missing.m4a"), "No such file or directory"},
        {dir.file("random.mp3"), "not music that can be decoded"},
        {notAudio, "not music that can be decoded"},
        {dir.file("folder.m4a"), "a folder, not a file"},
    };
    std::string expected;
    for (const auto& c : cases) expected += c.file + ": " + c.reason + "\n";
    testing::internal::CaptureStderr();
    for (int round = 0; round < 2; ++round) {
        for (const auto& c : cases) {
            DKPlayAACFile(c.file.c_str(), 1);
            EXPECT_EQ(state(), kDKMusicStopped) << c.file;  // waits for the player's answer
        }
    }
    EXPECT_EQ(testing::internal::GetCapturedStderr(), expected);
    dk::port::forgetFileProblems();
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
