// The worker half of the movie player: FFmpeg opens the source and decodes ahead of the player,
// video frames as RGBA and sound as 16-bit samples, into small queues the main thread takes from.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace plat::media {

struct VideoFrame {
    double pts = 0;
    int width = 0, height = 0;
    std::vector<uint8_t> rgba;
};

struct AudioChunk {
    double pts = 0;
    int channels = 1, sampleRate = 0;
    std::vector<int16_t> samples;
};

class MovieDecoder {
public:
    // `opened(ok, duration)` is called once on the worker: after the source opened (duration as
    // the container tells it, 0 when unknown), or when it could not be.
    MovieDecoder(std::string url, std::function<void(bool ok, double duration)> opened);
    ~MovieDecoder();
    MovieDecoder(const MovieDecoder&) = delete;
    MovieDecoder& operator=(const MovieDecoder&) = delete;

    // The newest frame due at `time`, waiting (a little, in real time) for the worker when it
    // has not decoded that far yet; nothing when no new frame is due.
    std::optional<VideoFrame> frameAt(double time);
    // Sound due before `time`, in order.
    std::vector<AudioChunk> audioBefore(double time);
    // True once everything was decoded and taken; the end time of the last frame or sample.
    bool drained(double* endTime) const;

private:
    struct Source;
    void run();
    bool waitForRoom();
    // Hand what the decoder has ready to the queues; false once cancelled.
    bool takeVideo(Source& source);
    bool takeAudio(Source& source);

    std::string m_url;
    std::function<void(bool, double)> m_opened;
    mutable std::mutex m_lock;
    std::condition_variable m_changed;
    std::deque<VideoFrame> m_video;
    std::deque<AudioChunk> m_audio;
    bool m_done = false, m_cancel = false;
    double m_end = 0;
    std::thread m_thread;
};

}  // namespace plat::media
