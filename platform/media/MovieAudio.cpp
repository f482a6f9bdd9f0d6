#include "platform/media/MovieAudio.h"

#define AL_ALEXT_PROTOTYPES
#include <AL/al.h>
#include <AL/alc.h>
#include <AL/alext.h>

#include <mutex>

namespace plat::media {

namespace {

std::mutex g_contextLock;
ALCcontext* g_context = nullptr;
bool g_opened = false;  // once: a closed device stays closed

ALCcontext* sharedContext() {
    std::lock_guard<std::mutex> lock(g_contextLock);
    if (g_opened) return g_context;
    g_opened = true;
    if (!alcIsExtensionPresent(nullptr, "ALC_EXT_thread_local_context")) return nullptr;
    ALCdevice* device = alcOpenDevice(nullptr);
    if (!device) return nullptr;
    g_context = alcCreateContext(device, nullptr);
    if (!g_context) alcCloseDevice(device);
    return g_context;
}

// Our context current on this thread for the scope, whatever was current before coming back.
class Current {
public:
    Current() : m_before(alcGetThreadContext()), m_ok(sharedContext() && alcSetThreadContext(sharedContext())) {}
    ~Current() {
        if (m_ok) alcSetThreadContext(m_before);
    }
    explicit operator bool() const { return m_ok; }

private:
    ALCcontext* m_before;
    bool m_ok;
};

}  // namespace

MovieAudio::MovieAudio() {
    Current current;
    if (!current) return;
    ALuint source = 0;
    alGenSources(1, &source);
    if (alGetError() == AL_NO_ERROR) m_source = source;
}

MovieAudio::~MovieAudio() {
    if (!m_source) return;
    Current current;
    ALuint source = m_source;
    alSourceStop(source);
    ALint queued = 0;
    alGetSourcei(source, AL_BUFFERS_QUEUED, &queued);
    std::vector<ALuint> buffers(size_t(queued > 0 ? queued : 0));
    if (!buffers.empty()) alSourceUnqueueBuffers(source, queued, buffers.data());
    for (ALuint b : buffers) m_free.push_back(b);
    alDeleteSources(1, &source);
    if (!m_free.empty()) alDeleteBuffers(ALsizei(m_free.size()), m_free.data());
}

void MovieAudio::queue(std::vector<AudioChunk> chunks) {
    if (!m_source) return;
    Current current;
    ALint processed = 0;
    alGetSourcei(m_source, AL_BUFFERS_PROCESSED, &processed);
    while (processed-- > 0) {
        ALuint b = 0;
        alSourceUnqueueBuffers(m_source, 1, &b);
        m_free.push_back(b);
    }
    for (const AudioChunk& chunk : chunks) {
        if (chunk.samples.empty() || chunk.sampleRate <= 0) continue;
        ALuint b = 0;
        if (m_free.empty()) {
            alGenBuffers(1, &b);
        } else {
            b = m_free.back();
            m_free.pop_back();
        }
        alBufferData(b, chunk.channels == 2 ? AL_FORMAT_STEREO16 : AL_FORMAT_MONO16, chunk.samples.data(),
                     ALsizei(chunk.samples.size() * sizeof(int16_t)), chunk.sampleRate);
        alSourceQueueBuffers(m_source, 1, &b);
    }
    resume();
}

void MovieAudio::pause() {
    if (!m_source) return;
    Current current;
    alSourcePause(m_source);
}

void MovieAudio::resume() {
    if (!m_source) return;
    Current current;
    ALint state = 0, queued = 0;
    alGetSourcei(m_source, AL_SOURCE_STATE, &state);
    alGetSourcei(m_source, AL_BUFFERS_QUEUED, &queued);
    if (state != AL_PLAYING && queued > 0) alSourcePlay(m_source);
}

void closeMovieAudio() {
    std::lock_guard<std::mutex> lock(g_contextLock);
    g_opened = true;
    if (!g_context) return;
    ALCdevice* device = alcGetContextsDevice(g_context);
    if (alcGetThreadContext() == g_context) alcSetThreadContext(nullptr);
    alcDestroyContext(g_context);
    alcCloseDevice(device);
    g_context = nullptr;
}

}  // namespace plat::media
