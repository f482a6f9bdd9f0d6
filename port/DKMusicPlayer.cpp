#include "port/DKMusicPlayer.h"

#include "port/DKAudioDevice.h"

#define AL_ALEXT_PROTOTYPES
#include <AL/al.h>
#include <AL/alext.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/log.h>
#include <libswresample/swresample.h>
}

#include <algorithm>
#include <chrono>
#include <utility>

namespace dk {
namespace {

constexpr int kBufferCount = 4;
constexpr int kChunkFrames = 4096;
// How far ahead of the clock the silent feeder decodes.
constexpr double kSilentLead = 0.1;

// Music has its own context on the shared device, made once, never destroyed.
ALCcontext* musicContext() {
    static std::once_flag once;
    static ALCcontext* context = nullptr;
    std::call_once(once, [] { context = DKAudioDevice::createContext(); });
    return context;
}

double monotonicSeconds() {
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// DKMusicDecoder

DKMusicDecoder::~DKMusicDecoder() {
    release();
}

void DKMusicDecoder::release() {
    av_packet_free(&m_packet);
    av_frame_free(&m_frame);
    swr_free(&m_swr);
    avcodec_free_context(&m_codec);
    avformat_close_input(&m_format);
}

std::unique_ptr<DKMusicDecoder> DKMusicDecoder::open(const std::string& path) {
    // A file that is not music fails quietly; FFmpeg's own chatter would only repeat that.
    static std::once_flag quiet;
    std::call_once(quiet, [] { av_log_set_level(AV_LOG_QUIET); });
    if (path.empty()) return nullptr;

    std::unique_ptr<DKMusicDecoder> d(new DKMusicDecoder);
    d->m_path = path;
    if (avformat_open_input(&d->m_format, path.c_str(), nullptr, nullptr) < 0) return nullptr;
    if (avformat_find_stream_info(d->m_format, nullptr) < 0) return nullptr;
    const AVCodec* codec = nullptr;
    d->m_stream = av_find_best_stream(d->m_format, AVMEDIA_TYPE_AUDIO, -1, -1, &codec, 0);
    if (d->m_stream < 0 || !codec) return nullptr;
    d->m_codec = avcodec_alloc_context3(codec);
    if (!d->m_codec) return nullptr;
    if (avcodec_parameters_to_context(d->m_codec, d->m_format->streams[d->m_stream]->codecpar) < 0)
        return nullptr;
    if (avcodec_open2(d->m_codec, codec, nullptr) < 0) return nullptr;

    AVChannelLayout in{};
    if (d->m_codec->ch_layout.order != AV_CHANNEL_ORDER_UNSPEC && d->m_codec->ch_layout.nb_channels > 0) {
        av_channel_layout_copy(&in, &d->m_codec->ch_layout);
    } else {
        av_channel_layout_default(&in, std::max(1, d->m_codec->ch_layout.nb_channels));
    }
    d->m_channels = in.nb_channels >= 2 ? 2 : 1;
    d->m_sampleRate = d->m_codec->sample_rate;
    AVChannelLayout out{};
    av_channel_layout_default(&out, d->m_channels);
    int rc = swr_alloc_set_opts2(&d->m_swr, &out, AV_SAMPLE_FMT_S16, d->m_sampleRate, &in,
                                 d->m_codec->sample_fmt, d->m_sampleRate, 0, nullptr);
    av_channel_layout_uninit(&in);
    av_channel_layout_uninit(&out);
    if (rc < 0 || d->m_sampleRate <= 0 || swr_init(d->m_swr) < 0) return nullptr;
    d->m_frame = av_frame_alloc();
    d->m_packet = av_packet_alloc();
    if (!d->m_frame || !d->m_packet) return nullptr;
    return d;
}

// Decodes the next frame into m_pending; false at the end of the stream.
bool DKMusicDecoder::fetch() {
    while (!m_decoderDone) {
        int rc = avcodec_receive_frame(m_codec, m_frame);
        if (rc == 0) {
            int room = swr_get_out_samples(m_swr, m_frame->nb_samples);
            m_pending.resize(static_cast<size_t>(std::max(room, 0)) * m_channels);
            uint8_t* out = reinterpret_cast<uint8_t*>(m_pending.data());
            int n = swr_convert(m_swr, &out, room, const_cast<const uint8_t**>(m_frame->extended_data),
                                m_frame->nb_samples);
            av_frame_unref(m_frame);
            if (n < 0) continue;
            m_pending.resize(static_cast<size_t>(n) * m_channels);
            m_pendingPos = 0;
            if (n > 0) return true;
            continue;
        }
        if (rc == AVERROR_EOF) {
            m_decoderDone = true;
            break;
        }
        if (rc != AVERROR(EAGAIN)) {
            // A broken frame: skip it and go on with the next packet.
        }
        if (m_inputDone) {
            // The decoder was already told the input ended and still wants more.
            m_decoderDone = true;
            break;
        }
        rc = av_read_frame(m_format, m_packet);
        if (rc < 0) {
            m_inputDone = true;
            avcodec_send_packet(m_codec, nullptr);
            continue;
        }
        if (m_packet->stream_index == m_stream) avcodec_send_packet(m_codec, m_packet);
        av_packet_unref(m_packet);
    }
    // Whatever the resampler still holds.
    int room = swr_get_out_samples(m_swr, 0);
    if (room <= 0) return false;
    m_pending.resize(static_cast<size_t>(room) * m_channels);
    uint8_t* out = reinterpret_cast<uint8_t*>(m_pending.data());
    int n = swr_convert(m_swr, &out, room, nullptr, 0);
    if (n <= 0) return false;
    m_pending.resize(static_cast<size_t>(n) * m_channels);
    m_pendingPos = 0;
    return true;
}

int DKMusicDecoder::read(int16_t* out, int maxFrames) {
    int frames = 0;
    while (frames < maxFrames) {
        if (m_pendingPos >= m_pending.size() && !fetch()) break;
        size_t available = (m_pending.size() - m_pendingPos) / m_channels;
        size_t take = std::min<size_t>(available, static_cast<size_t>(maxFrames - frames));
        std::copy_n(m_pending.data() + m_pendingPos, take * m_channels, out + frames * m_channels);
        m_pendingPos += take * m_channels;
        frames += static_cast<int>(take);
    }
    return frames;
}

bool DKMusicDecoder::rewind() {
    // Opened afresh rather than seeked: after a seek, FFmpeg no longer drops an AAC file's
    // encoder delay, which would put a gap of silence into every loop.
    std::unique_ptr<DKMusicDecoder> fresh = open(m_path);
    if (!fresh) return false;
    release();
    m_format = std::exchange(fresh->m_format, nullptr);
    m_codec = std::exchange(fresh->m_codec, nullptr);
    m_swr = std::exchange(fresh->m_swr, nullptr);
    m_frame = std::exchange(fresh->m_frame, nullptr);
    m_packet = std::exchange(fresh->m_packet, nullptr);
    m_stream = fresh->m_stream;
    m_inputDone = false;
    m_decoderDone = false;
    m_pending.clear();
    m_pendingPos = 0;
    return true;
}

// ---------------------------------------------------------------------------------------------
// DKMusicPlayer

std::unique_ptr<DKMusicPlayer> DKMusicPlayer::create(const std::string& path) {
    auto decoder = DKMusicDecoder::open(path);
    if (!decoder) return nullptr;
    musicContext();  // made here, on the caller's thread, before the feeder needs it
    return std::unique_ptr<DKMusicPlayer>(new DKMusicPlayer(std::move(decoder)));
}

DKMusicPlayer::DKMusicPlayer(std::unique_ptr<DKMusicDecoder> decoder) : m_decoder(std::move(decoder)) {
    m_thread = std::thread([this] { run(); });
}

DKMusicPlayer::~DKMusicPlayer() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_quit = true;
    }
    m_wake.notify_all();
    m_thread.join();
}

void DKMusicPlayer::setNumberOfLoops(int loops) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_loops = loops;
}

void DKMusicPlayer::setVolume(float volume) {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_volume = volume;
    }
    m_wake.notify_all();
}

float DKMusicPlayer::volume() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_volume;
}

void DKMusicPlayer::play() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_wantPlaying = true;
        m_playing = true;
        ++m_playGeneration;
    }
    m_wake.notify_all();
}

void DKMusicPlayer::pause() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_wantPlaying = false;
        m_playing = false;
    }
    m_wake.notify_all();
}

void DKMusicPlayer::stop() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_wantPlaying = false;
        m_playing = false;
        ++m_stopGeneration;
    }
    m_wake.notify_all();
}

bool DKMusicPlayer::isPlaying() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_playing;
}

// The feeder thread: every OpenAL call of this player happens here, with the music context as
// the thread's own context, so the main thread's current context does not matter.
void DKMusicPlayer::run() {
    ALCcontext* context = musicContext();
    bool al = context && alcSetThreadContext(context);
    ALuint source = 0;
    ALuint buffers[kBufferCount] = {};
    std::vector<ALuint> freeBuffers;
    if (al) {
        alGetError();
        alGenSources(1, &source);
        alGenBuffers(kBufferCount, buffers);
        if (alGetError() != AL_NO_ERROR) {
            al = false;
        } else {
            alSourcei(source, AL_SOURCE_RELATIVE, AL_TRUE);
            freeBuffers.assign(buffers, buffers + kBufferCount);
        }
    }
    const int channels = m_decoder->channels();
    const int rate = m_decoder->sampleRate();
    const ALenum format = channels == 1 ? AL_FORMAT_MONO16 : AL_FORMAT_STEREO16;
    std::vector<int16_t> chunk(static_cast<size_t>(kChunkFrames) * channels);

    int loopsLeft = 0;
    bool atStart = true;  // the next play starts the file from the top, with a fresh loop count
    bool endOfData = false;
    bool wasPlaying = false;
    double clockEnd = 0, remaining = 0;  // silent mode: when the decoded audio runs out
    uint64_t seenStop = 0;

    auto decodeChunk = [&]() -> int {
        int n = m_decoder->read(chunk.data(), kChunkFrames);
        if (n == 0 && loopsLeft != 0) {
            if (loopsLeft > 0) --loopsLeft;
            m_decoder->rewind();
            n = m_decoder->read(chunk.data(), kChunkFrames);
        }
        return n;
    };
    auto flushQueue = [&] {
        if (!al) return;
        alSourceStop(source);
        alSourcei(source, AL_BUFFER, 0);
        freeBuffers.assign(buffers, buffers + kBufferCount);
    };

    std::unique_lock<std::mutex> lock(m_mutex);
    while (!m_quit) {
        const bool want = m_wantPlaying;
        const float volume = m_volume;
        const int loops = m_loops;
        const uint64_t playGeneration = m_playGeneration;
        const uint64_t stopGeneration = m_stopGeneration;
        lock.unlock();

        if (stopGeneration != seenStop) {
            seenStop = stopGeneration;
            flushQueue();
            remaining = 0;
            wasPlaying = false;
        }
        if (al) alSourcef(source, AL_GAIN, volume);

        bool finished = false;
        if (!want) {
            if (al) {
                ALint state = 0;
                alGetSourcei(source, AL_SOURCE_STATE, &state);
                if (state == AL_PLAYING) alSourcePause(source);
            } else if (wasPlaying) {
                remaining = std::max(0.0, clockEnd - monotonicSeconds());
            }
            wasPlaying = false;
        } else {
            if (atStart) {
                loopsLeft = loops;
                atStart = false;
            }
            if (al) {
                ALint processed = 0;
                alGetSourcei(source, AL_BUFFERS_PROCESSED, &processed);
                while (processed-- > 0) {
                    ALuint b = 0;
                    alSourceUnqueueBuffers(source, 1, &b);
                    freeBuffers.push_back(b);
                }
                while (!freeBuffers.empty() && !endOfData) {
                    int n = decodeChunk();
                    if (n == 0) {
                        endOfData = true;
                        break;
                    }
                    ALuint b = freeBuffers.back();
                    freeBuffers.pop_back();
                    alBufferData(b, format, chunk.data(), n * channels * 2, rate);
                    alSourceQueueBuffers(source, 1, &b);
                }
                ALint queued = 0, state = 0;
                alGetSourcei(source, AL_BUFFERS_QUEUED, &queued);
                alGetSourcei(source, AL_SOURCE_STATE, &state);
                if (endOfData && queued == 0) {
                    finished = true;
                } else if (state != AL_PLAYING && queued > 0) {
                    // Starting, resuming, or catching up after an underrun.
                    alSourcePlay(source);
                }
            } else {
                double now = monotonicSeconds();
                if (!wasPlaying) clockEnd = now + remaining;
                remaining = 0;
                while (!endOfData && clockEnd - now < kSilentLead) {
                    int n = decodeChunk();
                    if (n == 0) {
                        endOfData = true;
                        break;
                    }
                    clockEnd += static_cast<double>(n) / rate;
                }
                if (endOfData && now >= clockEnd) finished = true;
            }
            wasPlaying = !finished;
        }
        if (finished) {
            // Like a platform player at its end: rewound, ready to play from the top.
            flushQueue();
            m_decoder->rewind();
            endOfData = false;
            atStart = true;
            remaining = 0;
        }

        lock.lock();
        if (finished && m_playGeneration == playGeneration) {
            m_wantPlaying = false;
            m_playing = false;
        }
        auto changed = [&] {
            return m_quit || m_wantPlaying != want || m_playGeneration != playGeneration ||
                   m_stopGeneration != stopGeneration || m_volume != volume;
        };
        if (want && !finished) {
            m_wake.wait_for(lock, std::chrono::milliseconds(10), changed);
        } else if (!finished) {
            m_wake.wait(lock, changed);
        }
    }
    lock.unlock();

    if (al) {
        alSourceStop(source);
        alSourcei(source, AL_BUFFER, 0);
        alDeleteSources(1, &source);
        alDeleteBuffers(kBufferCount, buffers);
        alcSetThreadContext(nullptr);
    }
}

}  // namespace dk
