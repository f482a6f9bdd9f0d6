#include "port/DKMusicPlayer.h"

#include "port/MusicOutput.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <utility>

#include "platform/av/FFmpeg.h"
#include "port/DKFileProblems.h"

namespace {

constexpr int kChunkFrames = 4096;

// Only once the decoder has been opened: open() has loaded the libraries.
const plat::av::FFmpeg& ff() {
    return *plat::av::ffmpeg();
}

// The hold on opening files (DKMusicPlayer::holdOpens), and each waiting player's way past it.
struct OpenHold {
    std::mutex mutex;
    std::condition_variable changed;
    bool held = false;
};

OpenHold& openHold() {
    static auto* hold = new OpenHold;  // outlives static destructors, which may still end players
    return *hold;
}

void changeHold(const std::function<void()>& change) {
    OpenHold& hold = openHold();
    {
        std::lock_guard<std::mutex> lock(hold.mutex);
        change();
    }
    hold.changed.notify_all();
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// DKMusicDecoder

DKMusicDecoder::~DKMusicDecoder() {
    release();
}

void DKMusicDecoder::release() {
    ff().av_packet_free(&m_packet);
    ff().av_frame_free(&m_frame);
    ff().swr_free(&m_swr);
    ff().avcodec_free_context(&m_codec);
    ff().avformat_close_input(&m_format);
}

std::unique_ptr<DKMusicDecoder> DKMusicDecoder::open(const std::string& path, std::string* why) {
    if (why) why->clear();
    if (path.empty()) return nullptr;
    std::string error;
    if (!plat::av::ffmpeg(&error)) {
        static std::once_flag said;
        std::call_once(said, [&] { std::fprintf(stderr, "music: FFmpeg could not be loaded (%s)\n", error.c_str()); });
        return nullptr;
    }
    // FFmpeg's own chatter about a file that is not music would only repeat the one line said of it.
    static std::once_flag quiet;
    std::call_once(quiet, [] { ff().av_log_set_level(AV_LOG_QUIET); });

    auto fail = [&] {
        if (why) {
            *why = dk::port::fileOpenProblem(path);
            if (why->empty()) *why = "not music that can be decoded";
        }
        return nullptr;
    };
    // FFmpeg opens the path itself and would wait in open() for a FIFO's writer for ever, its
    // feeder with it and the run's end after them: only a regular file is handed over.
    if (std::string problem = dk::port::fileOpenProblem(path); !problem.empty()) {
        if (why) *why = problem;
        return nullptr;
    }
    std::unique_ptr<DKMusicDecoder> d(new DKMusicDecoder);
    d->m_path = path;
    if (ff().avformat_open_input(&d->m_format, path.c_str(), nullptr, nullptr) < 0) return fail();
    if (ff().avformat_find_stream_info(d->m_format, nullptr) < 0) return fail();
    const AVCodec* codec = nullptr;
    d->m_stream = ff().av_find_best_stream(d->m_format, AVMEDIA_TYPE_AUDIO, -1, -1, &codec, 0);
    if (d->m_stream < 0 || !codec) return fail();
    d->m_codec = ff().avcodec_alloc_context3(codec);
    if (!d->m_codec) return fail();
    if (ff().avcodec_parameters_to_context(d->m_codec, d->m_format->streams[d->m_stream]->codecpar) < 0)
        return fail();
    if (ff().avcodec_open2(d->m_codec, codec, nullptr) < 0) return fail();

    AVChannelLayout in{};
    if (d->m_codec->ch_layout.order != AV_CHANNEL_ORDER_UNSPEC && d->m_codec->ch_layout.nb_channels > 0) {
        ff().av_channel_layout_copy(&in, &d->m_codec->ch_layout);
    } else {
        ff().av_channel_layout_default(&in, std::max(1, d->m_codec->ch_layout.nb_channels));
    }
    d->m_channels = in.nb_channels >= 2 ? 2 : 1;
    d->m_sampleRate = d->m_codec->sample_rate;
    AVChannelLayout out{};
    ff().av_channel_layout_default(&out, d->m_channels);
    int rc = ff().swr_alloc_set_opts2(&d->m_swr, &out, AV_SAMPLE_FMT_S16, d->m_sampleRate, &in,
                                 d->m_codec->sample_fmt, d->m_sampleRate, 0, nullptr);
    ff().av_channel_layout_uninit(&in);
    ff().av_channel_layout_uninit(&out);
    if (rc < 0 || d->m_sampleRate <= 0 || ff().swr_init(d->m_swr) < 0) return fail();
    d->m_frame = ff().av_frame_alloc();
    d->m_packet = ff().av_packet_alloc();
    if (!d->m_frame || !d->m_packet) return fail();
    return d;
}

// Decodes the next frame into m_pending; false at the end of the stream.
bool DKMusicDecoder::fetch() {
    while (!m_decoderDone) {
        int rc = ff().avcodec_receive_frame(m_codec, m_frame);
        if (rc == 0) {
            int room = ff().swr_get_out_samples(m_swr, m_frame->nb_samples);
            m_pending.resize(static_cast<size_t>(std::max(room, 0)) * m_channels);
            uint8_t* out = reinterpret_cast<uint8_t*>(m_pending.data());
            int n = ff().swr_convert(m_swr, &out, room, const_cast<const uint8_t**>(m_frame->extended_data),
                                m_frame->nb_samples);
            ff().av_frame_unref(m_frame);
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
        rc = ff().av_read_frame(m_format, m_packet);
        if (rc < 0) {
            m_inputDone = true;
            ff().avcodec_send_packet(m_codec, nullptr);
            continue;
        }
        if (m_packet->stream_index == m_stream) ff().avcodec_send_packet(m_codec, m_packet);
        ff().av_packet_unref(m_packet);
    }
    // Whatever the resampler still holds.
    int room = ff().swr_get_out_samples(m_swr, 0);
    if (room <= 0) return false;
    m_pending.resize(static_cast<size_t>(room) * m_channels);
    uint8_t* out = reinterpret_cast<uint8_t*>(m_pending.data());
    int n = ff().swr_convert(m_swr, &out, room, nullptr, 0);
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
// The feeder

namespace dk::port {
namespace {

// The file in chunks, starting over while loops are left.
class LoopingChunks : public MusicChunks {
public:
    explicit LoopingChunks(DKMusicDecoder& decoder)
        : m_decoder(decoder), m_chunk(static_cast<size_t>(kChunkFrames) * decoder.channels()) {}

    void setLoops(int loops) { m_loopsLeft = loops; }
    int next() override {
        int n = m_decoder.read(m_chunk.data(), kChunkFrames);
        if (n == 0 && m_loopsLeft != 0) {
            if (m_loopsLeft > 0) --m_loopsLeft;
            m_decoder.rewind();
            n = m_decoder.read(m_chunk.data(), kChunkFrames);
        }
        return n;
    }
    const int16_t* data() const override { return m_chunk.data(); }
    int channels() const override { return m_decoder.channels(); }
    int sampleRate() const override { return m_decoder.sampleRate(); }

private:
    DKMusicDecoder& m_decoder;
    std::vector<int16_t> m_chunk;
    int m_loopsLeft = 0;
};

// What the player asked for, read under its lock at the top of a turn.
struct Request {
    bool want;
    float volume;
    int loops;
    uint64_t playGeneration;
    uint64_t stopGeneration;
};

// The feeder thread's own state: the output and where the file stands.
class Feeder {
public:
    explicit Feeder(DKMusicDecoder& decoder)
        : m_decoder(decoder), m_chunks(decoder), m_output(MusicOutput::open()) {}

    // One turn; true when the music reached its end (rewound, ready to play from the top).
    bool turn(const Request& r) {
        if (r.stopGeneration != m_seenStop) {
            m_seenStop = r.stopGeneration;
            m_output->flush();
        }
        m_output->setVolume(r.volume);
        if (!r.want) {
            m_output->pause();
            return false;
        }
        if (m_atStart) {
            m_chunks.setLoops(r.loops);
            m_atStart = false;
        }
        if (!m_output->feed(m_chunks)) return false;
        m_output->flush();
        m_decoder.rewind();
        m_atStart = true;
        return true;
    }

private:
    DKMusicDecoder& m_decoder;
    LoopingChunks m_chunks;
    std::unique_ptr<MusicOutput> m_output;
    bool m_atStart = true;  // the next play starts with a fresh loop count
    uint64_t m_seenStop = 0;
};

}  // namespace
}  // namespace dk::port

// ---------------------------------------------------------------------------------------------
// DKMusicPlayer

std::unique_ptr<DKMusicPlayer> DKMusicPlayer::open(const std::string& path) {
#if defined(__SANITIZE_ADDRESS__)
    // The address sanitizer's runtime (GCC 12's) mis-records the main thread's block of a library's
    // dynamic TLS when another thread loaded the library, and its leak check then crashes at exit.
    // Under it FFmpeg and the audio device's backends load here, on the caller's thread; only the
    // file opens on the feeder's.
    plat::av::ffmpeg();
    dk::port::MusicOutput::prepare();
#endif
    return std::unique_ptr<DKMusicPlayer>(new DKMusicPlayer(path));
}

DKMusicPlayer::DKMusicPlayer(std::string path) : m_path(std::move(path)) {
    m_thread = std::thread([this] { run(); });
}

void DKMusicPlayer::holdOpens() {
    changeHold([] { openHold().held = true; });
}

void DKMusicPlayer::releaseOpens() {
    changeHold([] { openHold().held = false; });
}

bool DKMusicPlayer::waitUntilOpenable() {
    OpenHold& hold = openHold();
    std::unique_lock<std::mutex> lock(hold.mutex);
    hold.changed.wait(lock, [&] { return !hold.held || m_openNow || m_leaving; });
    // A player let through opens even on its way out: what it was asked stays what it did.
    return !hold.held || m_openNow;
}

DKMusicPlayer::~DKMusicPlayer() {
    changeHold([this] { m_leaving = true; });
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_quit = true;
    }
    m_wake.notify_all();
    m_thread.join();
}

bool DKMusicPlayer::opened() const {
    changeHold([this] { m_openNow = true; });
    std::unique_lock<std::mutex> lock(m_mutex);
    m_wake.wait(lock, [this] { return m_open != Open::kPending; });
    return m_open == Open::kOpened;
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

// The feeder thread: every output call of this player happens here, so the main thread's current
// OpenAL context does not matter.
void DKMusicPlayer::run() {
    if (!waitUntilOpenable()) return;
    std::string why;
    std::unique_ptr<DKMusicDecoder> decoder = DKMusicDecoder::open(m_path, &why);
    // Said before the answer is given, so whoever waits for it finds it said.
    if (!decoder && !why.empty()) dk::port::reportFileProblem(m_path, why);
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_open = decoder ? Open::kOpened : Open::kFailed;
        if (!decoder) m_wantPlaying = m_playing = false;
    }
    m_wake.notify_all();
    if (!decoder) return;
    dk::port::Feeder feeder(*decoder);
    std::unique_lock<std::mutex> lock(m_mutex);
    while (!m_quit) {
        const dk::port::Request r{m_wantPlaying, m_volume, m_loops, m_playGeneration, m_stopGeneration};
        lock.unlock();
        const bool finished = feeder.turn(r);
        lock.lock();
        if (finished) {
            if (m_playGeneration == r.playGeneration) m_wantPlaying = m_playing = false;
            continue;
        }
        auto changed = [&] {
            return m_quit || m_wantPlaying != r.want || m_playGeneration != r.playGeneration ||
                   m_stopGeneration != r.stopGeneration || m_volume != r.volume;
        };
        // While playing, the output wants feeding every few milliseconds.
        if (r.want) {
            m_wake.wait_for(lock, std::chrono::milliseconds(10), changed);
        } else {
            m_wake.wait(lock, changed);
        }
    }
}
