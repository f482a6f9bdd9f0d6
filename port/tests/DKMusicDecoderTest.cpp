// The music decoder on what games ship most: AAC in MP4, made here with FFmpeg's own encoder.
#include <gtest/gtest.h>

#include "port/DKMusicPlayer.h"
#include "port/tests/TestAudioFiles.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

using namespace dk;

namespace {

// Encodes mono 16-bit `samples` as AAC in an MP4 container; false when this FFmpeg cannot.
bool writeAacM4a(const std::string& path, const std::vector<int16_t>& samples, int rate) {
    const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_AAC);
    AVFormatContext* fmt = nullptr;
    if (!codec || avformat_alloc_output_context2(&fmt, nullptr, "mp4", path.c_str()) < 0) return false;
    AVStream* stream = avformat_new_stream(fmt, nullptr);
    AVCodecContext* ctx = avcodec_alloc_context3(codec);
    ctx->sample_fmt = AV_SAMPLE_FMT_FLTP;
    ctx->sample_rate = rate;
    av_channel_layout_default(&ctx->ch_layout, 1);
    ctx->bit_rate = 128000;
    ctx->time_base = AVRational{1, rate};
    if (fmt->oformat->flags & AVFMT_GLOBALHEADER) ctx->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    bool ok = avcodec_open2(ctx, codec, nullptr) >= 0 &&
              avcodec_parameters_from_context(stream->codecpar, ctx) >= 0 &&
              avio_open(&fmt->pb, path.c_str(), AVIO_FLAG_WRITE) >= 0;
    stream->time_base = ctx->time_base;
    ok = ok && avformat_write_header(fmt, nullptr) >= 0;
    AVFrame* frame = av_frame_alloc();
    AVPacket* packet = av_packet_alloc();
    auto drain = [&] {
        while (avcodec_receive_packet(ctx, packet) == 0) {
            av_packet_rescale_ts(packet, ctx->time_base, stream->time_base);
            packet->stream_index = stream->index;
            av_interleaved_write_frame(fmt, packet);
        }
    };
    for (size_t at = 0; ok && at < samples.size(); at += ctx->frame_size) {
        frame->nb_samples = static_cast<int>(std::min<size_t>(ctx->frame_size, samples.size() - at));
        frame->format = ctx->sample_fmt;
        av_channel_layout_copy(&frame->ch_layout, &ctx->ch_layout);
        frame->sample_rate = rate;
        frame->pts = static_cast<int64_t>(at);
        ok = av_frame_get_buffer(frame, 0) >= 0;
        auto* out = reinterpret_cast<float*>(frame->data[0]);
        for (int i = 0; ok && i < frame->nb_samples; ++i) out[i] = samples[at + i] / 32768.0f;
        ok = ok && avcodec_send_frame(ctx, frame) >= 0;
        av_frame_unref(frame);
        drain();
    }
    avcodec_send_frame(ctx, nullptr);
    drain();
    ok = ok && av_write_trailer(fmt) >= 0;
    av_packet_free(&packet);
    av_frame_free(&frame);
    avcodec_free_context(&ctx);
    avio_closep(&fmt->pb);
    avformat_free_context(fmt);
    return ok;
}

std::vector<int16_t> decodeAll(DKMusicDecoder& d) {
    std::vector<int16_t> all, chunk(1000 * d.channels());
    while (int n = d.read(chunk.data(), 1000))
        all.insert(all.end(), chunk.begin(), chunk.begin() + n * d.channels());
    return all;
}

TEST(DKMusicDecoderTest, AacInMp4DecodesToTheEncodedTone) {
    const int rate = 44100;
    auto tone = test::sine(rate, 1, rate, 1000, 0.5);  // one second at 1 kHz
    std::string path = test::tempPath("music.m4a");
    ASSERT_TRUE(writeAacM4a(path, tone, rate));
    auto d = DKMusicDecoder::open(path);
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(d->channels(), 1);
    EXPECT_EQ(d->sampleRate(), rate);
    auto pcm = decodeAll(*d);
    // Encoder delay and padding may add or trim up to a couple of AAC frames.
    EXPECT_NEAR(static_cast<double>(pcm.size()), rate, 2 * 1024 + 64);
    // The middle half second: 1 kHz, amplitude half of full scale.
    int crossings = 0, peak = 0;
    for (size_t i = rate / 4; i < 3 * rate / 4; ++i) {
        crossings += (pcm[i - 1] < 0) != (pcm[i] < 0);
        peak = std::max(peak, std::abs(static_cast<int>(pcm[i])));
    }
    EXPECT_NEAR(crossings, 1000, 4);
    EXPECT_NEAR(peak, 16384, 1000);

    ASSERT_TRUE(d->rewind());
    EXPECT_EQ(decodeAll(*d), pcm) << "a rewound file decodes the same again";
    std::remove(path.c_str());
}

TEST(DKMusicDecoderTest, NonAudioIsRefused) {
    std::string path = test::tempPath("notes.txt");
    ASSERT_TRUE(test::writeFile(path, std::string(4096, 'x')));
    for (const std::string& p : {path, std::string(), std::string("/nonexistent/a.m4a")})
        EXPECT_EQ(DKMusicDecoder::open(p), nullptr) << p;
    std::remove(path.c_str());
}

}  // namespace
