// The background-music player: one compressed audio file decoded with FFmpeg (loaded at first use
// through platform/av) to 16-bit mono or stereo and streamed into an OpenAL source by a feeder
// thread, four buffers queued. The source lives in a context of its own on the shared device,
// so suspending the sound manager's context leaves music alone. With no audio device the feeder
// still decodes at the real-time rate, so the playing state behaves the same, silently.
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
    static std::unique_ptr<DKMusicDecoder> open(const std::string& path);

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
    // Null when the file cannot be opened as audio.
    static std::unique_ptr<DKMusicPlayer> create(const std::string& path);
    ~DKMusicPlayer();

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
    explicit DKMusicPlayer(std::unique_ptr<DKMusicDecoder> decoder);
    void run();

    std::unique_ptr<DKMusicDecoder> m_decoder;
    mutable std::mutex m_mutex;
    std::condition_variable m_wake;
    // Shared with the feeder thread, under m_mutex.
    bool m_wantPlaying = false;
    bool m_playing = false;
    bool m_quit = false;
    float m_volume = 1.0f;
    int m_loops = 0;
    uint64_t m_playGeneration = 0;
    uint64_t m_stopGeneration = 0;
    std::thread m_thread;
};
