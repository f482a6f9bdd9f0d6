// FFmpeg's libraries, loaded when music or a movie first needs them rather than at every start:
// with the codec libraries under them they are over a hundred shared objects, and mapping and
// relocating them cost more than everything else a program does before its first frame.
#pragma once

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/dict.h>
#include <libavutil/frame.h>
#include <libavutil/log.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}

#include <string>

namespace plat::av {

// Every function the program calls, with the library that defines it.
#define DK_FFMPEG_FUNCTIONS(X)                                                                     \
    X(avutil, av_channel_layout_copy)                                                              \
    X(avutil, av_channel_layout_default)                                                           \
    X(avutil, av_channel_layout_uninit)                                                            \
    X(avutil, av_dict_free)                                                                        \
    X(avutil, av_dict_set)                                                                         \
    X(avutil, av_frame_alloc)                                                                      \
    X(avutil, av_frame_free)                                                                       \
    X(avutil, av_frame_unref)                                                                      \
    X(avutil, av_log_set_level)                                                                    \
    X(avcodec, av_packet_alloc)                                                                    \
    X(avcodec, av_packet_free)                                                                     \
    X(avcodec, av_packet_unref)                                                                    \
    X(avcodec, avcodec_alloc_context3)                                                             \
    X(avcodec, avcodec_free_context)                                                               \
    X(avcodec, avcodec_open2)                                                                      \
    X(avcodec, avcodec_parameters_to_context)                                                      \
    X(avcodec, avcodec_receive_frame)                                                              \
    X(avcodec, avcodec_send_packet)                                                                \
    X(avformat, av_find_best_stream)                                                               \
    X(avformat, av_read_frame)                                                                     \
    X(avformat, avformat_alloc_context)                                                            \
    X(avformat, avformat_close_input)                                                              \
    X(avformat, avformat_find_stream_info)                                                         \
    X(avformat, avformat_open_input)                                                               \
    X(swresample, swr_alloc_set_opts2)                                                             \
    X(swresample, swr_convert)                                                                     \
    X(swresample, swr_free)                                                                        \
    X(swresample, swr_get_out_samples)                                                             \
    X(swresample, swr_init)                                                                        \
    X(swscale, sws_freeContext)                                                                    \
    X(swscale, sws_getCachedContext)                                                               \
    X(swscale, sws_scale)

struct FFmpeg {
#define DK_FFMPEG_MEMBER(library, name) decltype(&::name) name = nullptr;
    DK_FFMPEG_FUNCTIONS(DK_FFMPEG_MEMBER)
#undef DK_FFMPEG_MEMBER
};

// The functions, the libraries loaded at the first call (from any thread; FFmpeg's log level is
// left as it is). Null when a library or a function is missing, with why in `error`, every call.
const FFmpeg* ffmpeg(std::string* error = nullptr);

}  // namespace plat::av
