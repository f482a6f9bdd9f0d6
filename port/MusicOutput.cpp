#include "port/MusicOutput.h"

#define AL_ALEXT_PROTOTYPES
#include <AL/al.h>
#include <AL/alext.h>

#include <algorithm>
#include <chrono>
#include <mutex>
#include <vector>

#include "port/DKAudioDevice.h"

namespace dk::port {
namespace {

constexpr int kBufferCount = 4;
// How far ahead of the clock the silent output decodes.
constexpr double kSilentLead = 0.1;

double monotonicSeconds() {
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

// Four buffers queued in turn on one source of the music context, the thread's own context.
class OpenALMusicOutput : public MusicOutput {
public:
    bool start(ALCcontext* context) {
        if (!alcSetThreadContext(context)) return false;
        alGetError();
        alGenSources(1, &m_source);
        alGenBuffers(kBufferCount, m_buffers);
        if (alGetError() != AL_NO_ERROR) {
            if (alIsSource(m_source)) alDeleteSources(1, &m_source);
            alcSetThreadContext(nullptr);
            return false;
        }
        alSourcei(m_source, AL_SOURCE_RELATIVE, AL_TRUE);
        m_free.assign(m_buffers, m_buffers + kBufferCount);
        m_started = true;
        return true;
    }
    ~OpenALMusicOutput() override {
        if (!m_started) return;
        flush();
        alDeleteSources(1, &m_source);
        alDeleteBuffers(kBufferCount, m_buffers);
        alcSetThreadContext(nullptr);
    }

    void setVolume(float volume) override { alSourcef(m_source, AL_GAIN, volume); }

    void flush() override {
        alSourceStop(m_source);
        alSourcei(m_source, AL_BUFFER, 0);
        m_free.assign(m_buffers, m_buffers + kBufferCount);
    }

    void pause() override {
        if (state() == AL_PLAYING) alSourcePause(m_source);
    }

    bool feed(MusicChunks& chunks) override {
        reclaimPlayed();
        while (!m_free.empty() && !m_ended) {
            int frames = chunks.next();
            if (frames == 0) {
                m_ended = true;
                break;
            }
            ALuint b = m_free.back();
            m_free.pop_back();
            ALenum format = chunks.channels() == 1 ? AL_FORMAT_MONO16 : AL_FORMAT_STEREO16;
            alBufferData(b, format, chunks.data(), frames * chunks.channels() * 2, chunks.sampleRate());
            alSourceQueueBuffers(m_source, 1, &b);
        }
        ALint queued = 0;
        alGetSourcei(m_source, AL_BUFFERS_QUEUED, &queued);
        if (m_ended && queued == 0) {
            m_ended = false;
            return true;
        }
        // Starting, resuming, or catching up after an underrun.
        if (state() != AL_PLAYING && queued > 0) alSourcePlay(m_source);
        return false;
    }

private:
    ALint state() const {
        ALint s = 0;
        alGetSourcei(m_source, AL_SOURCE_STATE, &s);
        return s;
    }
    void reclaimPlayed() {
        ALint processed = 0;
        alGetSourcei(m_source, AL_BUFFERS_PROCESSED, &processed);
        while (processed-- > 0) {
            ALuint b = 0;
            alSourceUnqueueBuffers(m_source, 1, &b);
            m_free.push_back(b);
        }
    }

    ALuint m_source = 0;
    ALuint m_buffers[kBufferCount] = {};
    std::vector<ALuint> m_free;
    bool m_started = false;
    bool m_ended = false;  // the last chunk is queued
};

// No device: decodes a little ahead of a clock and counts the decoded audio's length.
class SilentMusicOutput : public MusicOutput {
public:
    void setVolume(float) override {}

    void flush() override {
        m_remaining = 0;
        m_running = false;
    }

    void pause() override {
        if (m_running) m_remaining = std::max(0.0, m_clockEnd - monotonicSeconds());
        m_running = false;
    }

    bool feed(MusicChunks& chunks) override {
        double now = monotonicSeconds();
        if (!m_running) m_clockEnd = now + m_remaining;
        m_remaining = 0;
        while (!m_ended && m_clockEnd - now < kSilentLead) {
            int frames = chunks.next();
            if (frames == 0) {
                m_ended = true;
                break;
            }
            m_clockEnd += static_cast<double>(frames) / chunks.sampleRate();
        }
        bool finished = m_ended && now >= m_clockEnd;
        if (finished) m_ended = false;
        m_running = !finished;
        return finished;
    }

private:
    double m_clockEnd = 0;   // when the decoded audio runs out
    double m_remaining = 0;  // what was left of it at a pause
    bool m_running = false;
    bool m_ended = false;
};

// Music has its own context on the shared device, made once, never destroyed.
ALCcontext* musicContext() {
    static std::once_flag once;
    static ALCcontext* context = nullptr;
    std::call_once(once, [] { context = DKAudioDevice::createContext(); });
    return context;
}

}  // namespace

void MusicOutput::prepare() {
    musicContext();
}

std::unique_ptr<MusicOutput> MusicOutput::open() {
    if (ALCcontext* context = musicContext()) {
        auto al = std::make_unique<OpenALMusicOutput>();
        if (al->start(context)) return al;
    }
    return std::make_unique<SilentMusicOutput>();
}

}  // namespace dk::port
