#include "platform/media/MovieDecoder.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/imgutils.h>
#include <libavutil/log.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}

#include <algorithm>
#include <chrono>

namespace plat::media {

namespace {

// Frames decoded ahead: enough to ride over a slow packet, little enough for a long clip.
constexpr size_t kFramesAhead = 8;
// How long the main thread waits for a frame the worker has not decoded yet.
constexpr auto kFrameWait = std::chrono::seconds(2);

struct Stream {
    int index = -1;
    AVCodecContext* codec = nullptr;
    double timeBase = 0;
    double frameDuration = 0;  // from the stream's rate, for frames that tell none
    ~Stream() { avcodec_free_context(&codec); }
};

bool openStream(AVFormatContext* format, AVMediaType type, Stream& stream) {
    const AVCodec* codec = nullptr;
    stream.index = av_find_best_stream(format, type, -1, -1, &codec, 0);
    if (stream.index < 0 || !codec) return false;
    stream.codec = avcodec_alloc_context3(codec);
    const AVStream* s = format->streams[stream.index];
    stream.timeBase = av_q2d(s->time_base);
    if (s->avg_frame_rate.num > 0 && s->avg_frame_rate.den > 0) stream.frameDuration = 1 / av_q2d(s->avg_frame_rate);
    if (!stream.codec || avcodec_parameters_to_context(stream.codec, s->codecpar) < 0 ||
        avcodec_open2(stream.codec, codec, nullptr) < 0) {
        stream.index = -1;
        return false;
    }
    return true;
}

double ptsOf(const AVFrame* frame, const Stream& stream) {
    const int64_t pts = frame->best_effort_timestamp;
    return pts == AV_NOPTS_VALUE ? 0 : static_cast<double>(pts) * stream.timeBase;
}

}  // namespace

MovieDecoder::MovieDecoder(std::string url, std::function<void(bool, double)> opened)
    : m_url(std::move(url)), m_opened(std::move(opened)) {
    m_thread = std::thread([this] { run(); });
}

MovieDecoder::~MovieDecoder() {
    {
        std::lock_guard<std::mutex> hold(m_lock);
        m_cancel = true;
    }
    m_changed.notify_all();
    m_thread.join();
}

bool MovieDecoder::waitForRoom() {
    std::unique_lock<std::mutex> hold(m_lock);
    m_changed.wait(hold, [this] { return m_cancel || m_video.size() < kFramesAhead; });
    return !m_cancel;
}

// What one decoding owns, freed together whichever step it ends at.
struct MovieDecoder::Source {
    AVFormatContext* format = nullptr;
    Stream video, audio;
    SwsContext* sws = nullptr;
    SwrContext* swr = nullptr;
    int audioChannels = 0;
    AVFrame* frame = av_frame_alloc();
    AVPacket* packet = av_packet_alloc();
    double end = 0;  // of the last frame or sample decoded

    ~Source() {
        av_packet_free(&packet);
        av_frame_free(&frame);
        sws_freeContext(sws);
        swr_free(&swr);
        avformat_close_input(&format);
    }

    // Opens `url` and its streams; false when it has neither picture nor sound.
    bool open(const std::string& url, const AVIOInterruptCB& interrupt) {
        AVDictionary* options = nullptr;
        av_dict_set(&options, "rw_timeout", "10000000", 0);  // microseconds
        format = avformat_alloc_context();
        if (!format) return false;
        format->interrupt_callback = interrupt;
        const bool ok = avformat_open_input(&format, url.c_str(), nullptr, &options) >= 0 &&
                        avformat_find_stream_info(format, nullptr) >= 0;
        av_dict_free(&options);
        if (!ok) return false;
        openStream(format, AVMEDIA_TYPE_VIDEO, video);
        openStream(format, AVMEDIA_TYPE_AUDIO, audio);
        return video.index >= 0 || audio.index >= 0;
    }

    double duration() const { return format->duration > 0 ? format->duration / double(AV_TIME_BASE) : 0; }

    // The decoded `frame` as RGBA.
    VideoFrame convertVideo() {
        VideoFrame out;
        out.pts = ptsOf(frame, video);
        out.width = frame->width;
        out.height = frame->height;
        const double frameDuration =
            frame->pkt_duration > 0 ? frame->pkt_duration * video.timeBase : video.frameDuration;
        end = std::max(end, out.pts + frameDuration);
        sws = sws_getCachedContext(sws, frame->width, frame->height, AVPixelFormat(frame->format), frame->width,
                                   frame->height, AV_PIX_FMT_RGBA, SWS_BILINEAR, nullptr, nullptr, nullptr);
        if (sws) {
            out.rgba.resize(size_t(frame->width) * frame->height * 4);
            uint8_t* dst[4] = {out.rgba.data(), nullptr, nullptr, nullptr};
            int stride[4] = {frame->width * 4, 0, 0, 0};
            sws_scale(sws, frame->data, frame->linesize, 0, frame->height, dst, stride);
        }
        av_frame_unref(frame);
        return out;
    }

    // The decoded `frame` as 16-bit samples, mono or stereo at its own rate.
    AudioChunk convertAudio() {
        if (!swr) {
            audioChannels = frame->ch_layout.nb_channels >= 2 ? 2 : 1;
            AVChannelLayout out{};
            av_channel_layout_default(&out, audioChannels);
            swr_alloc_set_opts2(&swr, &out, AV_SAMPLE_FMT_S16, frame->sample_rate, &frame->ch_layout,
                                AVSampleFormat(frame->format), frame->sample_rate, 0, nullptr);
            if (swr && swr_init(swr) < 0) swr_free(&swr);
        }
        AudioChunk chunk;
        chunk.pts = ptsOf(frame, audio);
        chunk.channels = audioChannels;
        chunk.sampleRate = frame->sample_rate;
        if (swr && frame->sample_rate > 0) {
            const int room = swr_get_out_samples(swr, frame->nb_samples);
            chunk.samples.resize(size_t(std::max(room, 0)) * audioChannels);
            uint8_t* dst = reinterpret_cast<uint8_t*>(chunk.samples.data());
            const int n = swr_convert(swr, &dst, room, const_cast<const uint8_t**>(frame->extended_data),
                                      frame->nb_samples);
            chunk.samples.resize(size_t(std::max(n, 0)) * audioChannels);
            end = std::max(end, chunk.pts + double(std::max(n, 0)) / frame->sample_rate);
        }
        av_frame_unref(frame);
        return chunk;
    }
};

bool MovieDecoder::takeVideo(Source& source) {
    while (avcodec_receive_frame(source.video.codec, source.frame) == 0) {
        VideoFrame out = source.convertVideo();
        if (!waitForRoom()) return false;
        std::lock_guard<std::mutex> hold(m_lock);
        m_video.push_back(std::move(out));
        m_changed.notify_all();
    }
    return true;
}

bool MovieDecoder::takeAudio(Source& source) {
    while (avcodec_receive_frame(source.audio.codec, source.frame) == 0) {
        AudioChunk chunk = source.convertAudio();
        std::lock_guard<std::mutex> hold(m_lock);
        if (m_cancel) return false;
        m_audio.push_back(std::move(chunk));
    }
    return true;
}

void MovieDecoder::run() {
    static std::once_flag quiet;
    std::call_once(quiet, [] { av_log_set_level(AV_LOG_QUIET); });

    // The cancel flag also stops a network open that hangs.
    const AVIOInterruptCB interrupt{[](void* self) -> int {
                                        auto* d = static_cast<MovieDecoder*>(self);
                                        std::lock_guard<std::mutex> hold(d->m_lock);
                                        return d->m_cancel ? 1 : 0;
                                    },
                                    this};
    Source source;
    const bool ok = source.open(m_url, interrupt);
    m_opened(ok, ok ? source.duration() : 0);

    bool going = ok && source.frame && source.packet;
    while (going && av_read_frame(source.format, source.packet) >= 0) {
        const int stream = source.packet->stream_index;
        if (stream == source.video.index && avcodec_send_packet(source.video.codec, source.packet) >= 0)
            going = takeVideo(source);
        else if (stream == source.audio.index && avcodec_send_packet(source.audio.codec, source.packet) >= 0)
            going = takeAudio(source);
        av_packet_unref(source.packet);
    }
    if (going) {
        // What the decoders still hold.
        if (source.video.codec && avcodec_send_packet(source.video.codec, nullptr) >= 0) going = takeVideo(source);
        if (going && source.audio.codec && avcodec_send_packet(source.audio.codec, nullptr) >= 0) takeAudio(source);
    }
    std::lock_guard<std::mutex> hold(m_lock);
    m_done = true;
    m_end = source.end;
    m_changed.notify_all();
}

std::optional<VideoFrame> MovieDecoder::frameAt(double time) {
    std::unique_lock<std::mutex> hold(m_lock);
    const auto deadline = std::chrono::steady_clock::now() + kFrameWait;
    std::optional<VideoFrame> due;
    for (;;) {
        while (!m_video.empty() && m_video.front().pts <= time) {
            due = std::move(m_video.front());
            m_video.pop_front();
            m_changed.notify_all();
        }
        // A frame later than `time` waiting, or none to come: nothing more is due.
        if (m_done || !m_video.empty()) break;
        if (m_changed.wait_until(hold, deadline) == std::cv_status::timeout) break;
    }
    return due;
}

std::vector<AudioChunk> MovieDecoder::audioBefore(double time) {
    std::lock_guard<std::mutex> hold(m_lock);
    std::vector<AudioChunk> out;
    while (!m_audio.empty() && m_audio.front().pts < time) {
        out.push_back(std::move(m_audio.front()));
        m_audio.pop_front();
    }
    return out;
}

bool MovieDecoder::drained(double* endTime) const {
    std::lock_guard<std::mutex> hold(m_lock);
    if (endTime) *endTime = m_end;
    return m_done && m_video.empty() && m_audio.empty();
}

}  // namespace plat::media
