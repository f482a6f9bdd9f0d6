#include "platform/media/tests/MediaTestSupport.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
}

#include <cmath>
#include <functional>

namespace dktest {

namespace {

struct Writer {
    AVFormatContext* format = nullptr;
    AVCodecContext* video = nullptr;
    AVCodecContext* audio = nullptr;
    AVStream* videoStream = nullptr;
    AVStream* audioStream = nullptr;
    AVPacket* packet = av_packet_alloc();
    ~Writer() {
        av_packet_free(&packet);
        avcodec_free_context(&video);
        avcodec_free_context(&audio);
        if (format && format->pb) avio_closep(&format->pb);
        avformat_free_context(format);
    }
    bool drain(AVCodecContext* codec, AVStream* stream) {
        for (;;) {
            int rc = avcodec_receive_packet(codec, packet);
            if (rc == AVERROR(EAGAIN) || rc == AVERROR_EOF) return true;
            if (rc < 0) return false;
            av_packet_rescale_ts(packet, codec->time_base, stream->time_base);
            packet->stream_index = stream->index;
            if (av_interleaved_write_frame(format, packet) < 0) return false;
        }
    }
};

AVCodecContext* openEncoder(AVCodecID id, const std::function<void(AVCodecContext*)>& setUp) {
    const AVCodec* codec = avcodec_find_encoder(id);
    if (!codec) return nullptr;
    AVCodecContext* context = avcodec_alloc_context3(codec);
    setUp(context);
    if (avcodec_open2(context, codec, nullptr) < 0) avcodec_free_context(&context);
    return context;
}

}  // namespace

bool writeClip(const std::string& path, const ClipSpec& spec, std::string* error) {
    auto fail = [&](const char* why) {
        if (error) *error = why;
        return false;
    };
    Writer w;
    if (avformat_alloc_output_context2(&w.format, nullptr, "nut", path.c_str()) < 0) return fail("no NUT muxer");
    w.video = openEncoder(AV_CODEC_ID_RAWVIDEO, [&](AVCodecContext* c) {
        c->width = spec.width;
        c->height = spec.height;
        c->pix_fmt = AV_PIX_FMT_RGB24;
        c->time_base = {1, spec.fps};
    });
    if (!w.video) return fail("no raw video encoder");
    w.videoStream = avformat_new_stream(w.format, nullptr);
    avcodec_parameters_from_context(w.videoStream->codecpar, w.video);
    w.videoStream->time_base = w.video->time_base;
    if (spec.sound) {
        w.audio = openEncoder(AV_CODEC_ID_PCM_S16LE, [](AVCodecContext* c) {
            c->sample_rate = 8000;
            c->sample_fmt = AV_SAMPLE_FMT_S16;
            av_channel_layout_default(&c->ch_layout, 1);
            c->time_base = {1, 8000};
        });
        if (!w.audio) return fail("no PCM encoder");
        w.audioStream = avformat_new_stream(w.format, nullptr);
        avcodec_parameters_from_context(w.audioStream->codecpar, w.audio);
        w.audioStream->time_base = w.audio->time_base;
    }
    if (avio_open(&w.format->pb, path.c_str(), AVIO_FLAG_WRITE) < 0) return fail("cannot open the file");
    if (avformat_write_header(w.format, nullptr) < 0) return fail("header");

    AVFrame* frame = av_frame_alloc();
    bool ok = true;
    for (size_t i = 0; ok && i < spec.frames.size(); ++i) {
        frame->format = AV_PIX_FMT_RGB24;
        frame->width = spec.width;
        frame->height = spec.height;
        ok = av_frame_get_buffer(frame, 0) >= 0;
        for (int y = 0; ok && y < spec.height; ++y)
            for (int x = 0; x < spec.width; ++x)
                for (int c = 0; c < 3; ++c) frame->data[0][y * frame->linesize[0] + x * 3 + c] = spec.frames[i][c];
        frame->pts = int64_t(i);
        ok = ok && avcodec_send_frame(w.video, frame) >= 0 && w.drain(w.video, w.videoStream);
        av_frame_unref(frame);
    }
    if (ok && w.audio) {
        const int total = int(spec.frames.size()) * 8000 / spec.fps;
        const int chunk = 800;
        for (int start = 0; ok && start < total; start += chunk) {
            frame->format = AV_SAMPLE_FMT_S16;
            frame->sample_rate = 8000;
            av_channel_layout_default(&frame->ch_layout, 1);
            frame->nb_samples = std::min(chunk, total - start);
            ok = av_frame_get_buffer(frame, 0) >= 0;
            auto* samples = reinterpret_cast<int16_t*>(frame->data[0]);
            for (int s = 0; ok && s < frame->nb_samples; ++s)
                samples[s] = int16_t(8000 * std::sin(2 * M_PI * 440 * (start + s) / 8000.0));
            frame->pts = start;
            ok = ok && avcodec_send_frame(w.audio, frame) >= 0 && w.drain(w.audio, w.audioStream);
            av_frame_unref(frame);
        }
    }
    av_frame_free(&frame);
    if (!ok) return fail("encoding");
    avcodec_send_frame(w.video, nullptr);
    w.drain(w.video, w.videoStream);
    if (w.audio) {
        avcodec_send_frame(w.audio, nullptr);
        w.drain(w.audio, w.audioStream);
    }
    if (av_write_trailer(w.format) < 0) return fail("trailer");
    return true;
}

}  // namespace dktest
