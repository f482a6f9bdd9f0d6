// The background-music player: one compressed audio file opened on the player's feeder thread,
// decoded with FFmpeg (loaded at first use through platform/av) to 16-bit mono or stereo and
// streamed into an OpenAL source by that thread, four buffers queued. The source lives in a context
// of its own on the shared device, so suspending the sound manager's context leaves music alone.
// With no audio device the feeder still decodes at the real-time rate, so the playing state behaves
// the same, silently. A file that cannot be played is named with its reason on standard error, once
// per file and reason (DKFileProblems.h); only a regular file is opened, so a FIFO is named rather
// than waited on by the feeder (and the run's end after it).
#pragma once

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

struct AVFormatContext;
struct AVCodecContext;
struct SwrContext;
struct AVFrame;
struct AVPacket;

// Decodes an audio file into interleaved signed 16-bit frames, mono or stereo (more channels
// are folded down to stereo), at the file's own rate.
class DKMusicDecoder {
public:
    ~DKMusicDecoder();
    // Null when the file cannot be played, with `why` (when given) saying so in a few words: empty
    // when there is nothing to say of the file (no path, FFmpeg missing: said once already).
    static std::unique_ptr<DKMusicDecoder> open(const std::string& path, std::string* why = nullptr);

    int channels() const { return m_channels; }
    int sampleRate() const { return m_sampleRate; }
    // Up to `maxFrames` frames into `out`; 0 at the end of the file.
    int read(int16_t* out, int maxFrames);
    // Back to the first frame.
    bool rewind();

private:
    DKMusicDecoder() = default;
    bool fetch();
    void release();

    std::string m_path;
    ::AVFormatContext* m_format = nullptr;
    ::AVCodecContext* m_codec = nullptr;
    ::SwrContext* m_swr = nullptr;
    ::AVFrame* m_frame = nullptr;
    ::AVPacket* m_packet = nullptr;
    int m_stream = -1;
    int m_channels = 0;
    int m_sampleRate = 0;
    bool m_inputDone = false;
    bool m_decoderDone = false;
    std::vector<int16_t> m_pending;
    size_t m_pendingPos = 0;
};

// What the music state machine needs of a platform audio player.
class DKMusicPlayer {
public:
    // A player for `path`, at once: the file opens on the player's own thread (the first file also
    // loads FFmpeg, tens of milliseconds), so the calls below may come before it is open and take
    // effect once it is.
    static std::unique_ptr<DKMusicPlayer> open(const std::string& path);
    ~DKMusicPlayer();

    // While held, players keep their files unopened (what they are asked meanwhile takes effect
    // once open) until released, or until opened() is asked. A host holds them through its launch:
    // loading FFmpeg keeps the dynamic loader locked for tens of milliseconds, and the GL driver
    // takes that lock for every shader it compiles on the way to the first frame.
    static void holdOpens();
    static void releaseOpens();

    // Waits for the file to be opened; false when it cannot be played (the player then never plays).
    bool opened() const;
    // -1 repeats forever, 0 plays once, n plays n + 1 times.
    void setNumberOfLoops(int loops);
    void setVolume(float volume);
    float volume() const;
    void play();
    void pause();
    void stop();
    // Playing from play() until pause(), stop() or the end of the last loop; a buffer underrun
    // of the feeder does not count as an end.
    bool isPlaying() const;

private:
    enum class Open { kPending, kOpened, kFailed };

    explicit DKMusicPlayer(std::string path);
    void run();
    // False when the player goes away while still held.
    bool waitUntilOpenable();

    const std::string m_path;
    mutable std::mutex m_mutex;
    mutable std::condition_variable m_wake;
    // Shared with the feeder thread, under m_mutex.
    Open m_open = Open::kPending;
    bool m_wantPlaying = false;
    bool m_playing = false;
    bool m_quit = false;
    float m_volume = 1.0f;
    int m_loops = 0;
    uint64_t m_playGeneration = 0;
    uint64_t m_stopGeneration = 0;
    // Past the hold, under the hold's own lock.
    mutable bool m_openNow = false;
    bool m_leaving = false;
    std::thread m_thread;
};
