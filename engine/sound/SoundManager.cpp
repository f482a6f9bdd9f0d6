#include "engine/sound/SoundManager.h"

#include <vector>

#include "engine/sound/ALCheck.h"
#include "engine/sound/SoundContext.h"

namespace dk {

// ---------------------------------------------------------------------------------------------
// DKAudioSource

DKAudioSource::DKAudioSource() {
    if (!DKHasALContext()) return;  // no audio: a silent source
    alGenSources(1, &m_source);
    DKCheckALError("DKAudioSource::DKAudioSource : alGenSources");
}

DKAudioSource::~DKAudioSource() {
    owner = nullptr;
    if (m_source) {
        alDeleteSources(1, &m_source);
        DKCheckALError("DKAudioSource::~DKAudioSource : alDeleteSources");
    }
    queuedSounds.clear();
}

bool DKAudioSource::isStopped() {
    if (!m_source) return m_silent == Silent::kStopped || (m_silent == Silent::kPlaying && !m_silentLooping);
    ALint state = AL_INITIAL;
    alGetSourcei(m_source, AL_SOURCE_STATE, &state);
    return state == AL_STOPPED;
}

void DKAudioSource::play() {
    if (!m_source) {
        m_silent = Silent::kPlaying;
        return;
    }
    alSourcePlay(m_source);
    DKCheckALError("DKAudioSource::play : alSourcePlay");
}

void DKAudioSource::pause() {
    if (!m_source) {
        if (m_silent == Silent::kPlaying) m_silent = Silent::kPaused;
        return;
    }
    alSourcePause(m_source);
    DKCheckALError("DKAudioSource::pause : alSourcePause");
}

void DKAudioSource::stop() {
    if (!m_source) {
        m_silent = Silent::kStopped;
        return;
    }
    alSourceStop(m_source);
    DKCheckALError("DKAudioSource::stop : alSourceStop");
    alSourcei(m_source, AL_BUFFER, 0);
    DKCheckALError("DKAudioSource::stop : alSourcei (AL_BUFFER)");
}

void DKAudioSource::setToDefault() {
    if (!m_source) return;
    alSource3f(m_source, AL_POSITION, 0, 0, 0);
    alSource3f(m_source, AL_VELOCITY, 0, 0, 0);
    alSource3f(m_source, AL_DIRECTION, 0, 0, 0);
    alSourcef(m_source, AL_ROLLOFF_FACTOR, 1.0f);
    alSourcef(m_source, AL_REFERENCE_DISTANCE, 50.0f);
    DKCheckALError("DKAudioSource::setToDefault: alSource[3]f");
}

void DKAudioSource::setLocation(float x, float y) {
    if (!m_source) return;
    alSource3f(m_source, AL_POSITION, x, y, 0);
    DKCheckALError("DKAudioSource::setLocation: alSource3f");
}

void DKAudioSource::setVelocity(float dx, float dy) {
    if (!m_source) return;
    alSource3f(m_source, AL_VELOCITY, dx, dy, 0);
    DKCheckALError("DKAudioSource::setVelocity: alSource3f");
}

void DKAudioSource::setVolume(float gain) {
    if (!m_source) return;
    alSourcef(m_source, AL_GAIN, gain);
    DKCheckALError("DKAudioSource::setVolume: alSourcef");
}

void DKAudioSource::setPitch(float pitch) {
    if (!m_source) return;
    alSourcef(m_source, AL_PITCH, pitch);
    DKCheckALError("DKAudioSource::setPitch: alSourcef");
}

void DKAudioSource::setLooping(bool looping) {
    if (!m_source) {
        m_silentLooping = looping;
        return;
    }
    alSourcei(m_source, AL_LOOPING, looping ? 1 : 0);
    DKCheckALError("DKAudioSource::setLooping: alSourcei (AL_LOOPING)");
}

void DKAudioSource::setRelative(bool relative) {
    if (!m_source) return;
    alSourcei(m_source, AL_SOURCE_RELATIVE, relative ? 1 : 0);
    DKCheckALError("DKAudioSource::setRelative: alSourcei (AL_SOURCE_RELATIVE)");
}

void DKAudioSource::queueBuffers(const std::shared_ptr<SGSound>& sound) {
    if (!sound) return;
    queuedSounds.push_back(sound);
    if (!m_source || sound->bufferCount < 1 || !sound->buffers || sound->buffers[0] == 0) return;
    alSourceQueueBuffers(m_source, sound->bufferCount, sound->buffers);
    DKCheckALError("DKAudioSource::queueBuffers: alSourceQueueBuffers");
}

void DKAudioSource::unqueueBuffers() {
    if (m_source) alSourcei(m_source, AL_BUFFER, 0);
    queuedSounds.clear();
}

// ---------------------------------------------------------------------------------------------
// SoundManager

namespace {

std::set<const SoundManager*>& liveManagers() {
    static std::set<const SoundManager*> live;
    return live;
}

}  // namespace

bool SoundManager::isLive(const SoundManager* manager) {
    return manager && liveManagers().count(manager) != 0;
}

SoundManager::SoundManager() {
    liveManagers().insert(this);
    ALCcontext* context = DKSoundContextOpen();
    if (context) {
        alcMakeContextCurrent(context);
        DKCheckALCError("SoundManager::SoundManager: alcMakeContextCurrent");
        DKCheckALError("SoundManager::SoundManager");
    }
    for (int i = 0; i < kSourceCount; ++i) freeSources.insert(new DKAudioSource);
}

SoundManager::~SoundManager() {
    liveManagers().erase(this);
    ALCcontext* context = DKSoundContext();
    if (context) {
        DKCheckALError("SoundManager::~SoundManager");
        DKCheckALCError("SoundManager::~SoundManager");
        alcMakeContextCurrent(context);
        DKCheckALCError("SoundManager::~SoundManager: alcMakeContextCurrent");
    }
    std::vector<DKAudioSource*> playing(playingSources.begin(), playingSources.end());
    for (DKAudioSource* source : playing) {
        if (playingSources.count(source)) stopSource(source);
    }
    for (DKAudioSource* source : reservedSources) delete source;
    for (DKAudioSource* source : freeSources) delete source;
}

DKAudioSource* SoundManager::reserveSource() {
    DKCheckALError("SoundManager::reserveSource");
    if (freeSources.empty()) return nullptr;
    DKAudioSource* source = *freeSources.begin();
    reservedSources.insert(source);
    freeSources.erase(freeSources.begin());
    source->setToDefault();
    return source;
}

void SoundManager::playSource(DKAudioSource* source) {
    if (!source) return;  // an internal misuse; never worth a crash
    playingSources.insert(source);
    source->play();
}

void SoundManager::restartSource(DKAudioSource* source) {
    if (source) source->play();
}

void SoundManager::pauseSource(DKAudioSource* source) {
    if (source) source->pause();
}

void SoundManager::giveBack(DKAudioSource* source) {
    playingSources.erase(source);
    source->unqueueBuffers();
    freeSources.insert(source);
    reservedSources.erase(source);
    if (source->finishedCallback) source->finishedCallback(source);
}

void SoundManager::stopSource(DKAudioSource* source) {
    if (!source) return;
    source->stop();
    giveBack(source);
}

void SoundManager::update() {
    // A callback may stop or start other sources, so walk a copy and skip what it took back.
    std::vector<DKAudioSource*> playing(playingSources.begin(), playingSources.end());
    for (DKAudioSource* source : playing) {
        if (!playingSources.count(source) || !source->isStopped()) continue;
        if (source->sourceName()) alSourcei(source->sourceName(), AL_BUFFER, 0);
        giveBack(source);
    }
}

void SoundManager::makeCurrent() {
    ALCcontext* context = DKSoundContext();
    if (!context) return;
    DKCheckALError("SoundManager::makeCurrent");
    DKCheckALCError("SoundManager::makeCurrent");
    alcMakeContextCurrent(context);
    DKCheckALCError("SoundManager::makeCurrent: alcMakeContextCurrent");
}

void SoundManager::suspend() {
    ALCcontext* context = DKSoundContext();
    if (!context) return;
    DKCheckALError("SoundManager::suspend");
    DKCheckALCError("SoundManager::suspend");
    alcMakeContextCurrent(nullptr);
    DKCheckALCError("SoundManager::suspend: alcMakeContextCurrent");
    alcSuspendContext(context);
    DKCheckALCError("SoundManager::suspend: alcSuspendContext");
}

void SoundManager::resume() {
    ALCcontext* context = DKSoundContext();
    if (!context) return;
    DKCheckALError("SoundManager::resume");
    DKCheckALCError("SoundManager::resume");
    alcMakeContextCurrent(context);
    DKCheckALCError("SoundManager::resume: alcMakeContextCurrent");
    alcProcessContext(context);
    DKCheckALCError("SoundManager::resume: alcProcessContext");
}

}  // namespace dk
