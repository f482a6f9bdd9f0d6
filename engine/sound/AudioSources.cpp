#include "engine/sound/AudioSources.h"

#include "engine/sound/ALCheck.h"

namespace dk::sound {
namespace {

class OpenALSource : public DKAudioSource {
public:
    explicit OpenALSource(ALuint name) : m_source(name) {}
    ~OpenALSource() override {
        alDeleteSources(1, &m_source);
        DKCheckALError("DKAudioSource::~DKAudioSource : alDeleteSources");
    }

    bool isStopped() override {
        ALint state = AL_INITIAL;
        alGetSourcei(m_source, AL_SOURCE_STATE, &state);
        return state == AL_STOPPED;
    }
    void play() override {
        alSourcePlay(m_source);
        DKCheckALError("DKAudioSource::play : alSourcePlay");
    }
    void pause() override {
        alSourcePause(m_source);
        DKCheckALError("DKAudioSource::pause : alSourcePause");
    }
    void stop() override {
        alSourceStop(m_source);
        DKCheckALError("DKAudioSource::stop : alSourceStop");
        alSourcei(m_source, AL_BUFFER, 0);
        DKCheckALError("DKAudioSource::stop : alSourcei (AL_BUFFER)");
    }
    void setToDefault() override {
        alSource3f(m_source, AL_POSITION, 0, 0, 0);
        alSource3f(m_source, AL_VELOCITY, 0, 0, 0);
        alSource3f(m_source, AL_DIRECTION, 0, 0, 0);
        alSourcef(m_source, AL_ROLLOFF_FACTOR, 1.0f);
        alSourcef(m_source, AL_REFERENCE_DISTANCE, 50.0f);
        DKCheckALError("DKAudioSource::setToDefault: alSource[3]f");
    }
    void setLocation(float x, float y) override {
        alSource3f(m_source, AL_POSITION, x, y, 0);
        DKCheckALError("DKAudioSource::setLocation: alSource3f");
    }
    void setVelocity(float dx, float dy) override {
        alSource3f(m_source, AL_VELOCITY, dx, dy, 0);
        DKCheckALError("DKAudioSource::setVelocity: alSource3f");
    }
    void setVolume(float gain) override {
        alSourcef(m_source, AL_GAIN, gain);
        DKCheckALError("DKAudioSource::setVolume: alSourcef");
    }
    void setPitch(float pitch) override {
        alSourcef(m_source, AL_PITCH, pitch);
        DKCheckALError("DKAudioSource::setPitch: alSourcef");
    }
    void setLooping(bool looping) override {
        alSourcei(m_source, AL_LOOPING, looping ? 1 : 0);
        DKCheckALError("DKAudioSource::setLooping: alSourcei (AL_LOOPING)");
    }
    void setRelative(bool relative) override {
        alSourcei(m_source, AL_SOURCE_RELATIVE, relative ? 1 : 0);
        DKCheckALError("DKAudioSource::setRelative: alSourcei (AL_SOURCE_RELATIVE)");
    }
    ALuint sourceName() const override { return m_source; }

protected:
    void queueOnSource(const SGSound& sound) override {
        if (sound.bufferCount() < 1 || !sound.buffers() || sound.buffers()[0] == 0) return;
        alSourceQueueBuffers(m_source, sound.bufferCount(), sound.buffers());
        DKCheckALError("DKAudioSource::queueBuffers: alSourceQueueBuffers");
    }
    void detachBuffers() override { alSourcei(m_source, AL_BUFFER, 0); }

private:
    ALuint m_source;
};

// A sound that is not looping ends as soon as it starts.
class SilentSource : public DKAudioSource {
public:
    bool isStopped() override {
        return m_state == State::kStopped || (m_state == State::kPlaying && !m_looping);
    }
    void play() override { m_state = State::kPlaying; }
    void pause() override {
        if (m_state == State::kPlaying) m_state = State::kPaused;
    }
    void stop() override { m_state = State::kStopped; }
    void setLooping(bool looping) override { m_looping = looping; }

private:
    enum class State { kInitial, kPlaying, kPaused, kStopped } m_state = State::kInitial;
    bool m_looping = false;
};

}  // namespace

std::unique_ptr<DKAudioSource> makeSource(bool audible) {
    if (audible) {
        ALuint name = 0;
        alGenSources(1, &name);
        DKCheckALError("DKAudioSource::DKAudioSource : alGenSources");
        if (name) return std::make_unique<OpenALSource>(name);
    }
    return std::make_unique<SilentSource>();
}

}  // namespace dk::sound
