#include "engine/sound/SoundManager.h"

#include <map>
#include <vector>

#include "engine/sound/ALCheck.h"
#include "engine/sound/AudioSources.h"
#include "engine/sound/SoundContext.h"

// ---------------------------------------------------------------------------------------------
// DKAudioSource

void DKAudioSource::queueBuffers(const std::shared_ptr<SGSound>& sound) {
    if (!sound) return;
    m_queuedSounds.push_back(sound);
    queueOnSource(*sound);
}

void DKAudioSource::unqueueBuffers() {
    detachBuffers();
    m_queuedSounds.clear();
}

// ---------------------------------------------------------------------------------------------
// SoundManager

namespace dk::sound {

namespace {

struct LiveManagers {
    std::map<const SoundManager*, uint64_t> serials;
    uint64_t lastSerial = 0;
};

LiveManagers& liveManagers() {
    static LiveManagers live;
    return live;
}

}  // namespace

uint64_t SoundManager::liveSerial(const SoundManager* manager) {
    auto it = liveManagers().serials.find(manager);
    return it == liveManagers().serials.end() ? 0 : it->second;
}

SoundManager::SoundManager() : m_context(DKSoundContextOpen()) {
    liveManagers().serials[this] = ++liveManagers().lastSerial;
    if (m_context) {
        alcMakeContextCurrent(m_context);
        DKCheckALCError("SoundManager::SoundManager: alcMakeContextCurrent");
        DKCheckALError("SoundManager::SoundManager");
    }
    // The kind of source is chosen here, once: OpenAL's when the context is in use.
    const bool audible = DKHasALContext();
    for (int i = 0; i < kSourceCount; ++i) {
        m_sources.push_back(makeSource(audible));
        m_freeSources.insert(m_sources.back().get());
    }
}

SoundManager::~SoundManager() {
    liveManagers().serials.erase(this);
    if (m_context) {
        DKCheckALError("SoundManager::~SoundManager");
        DKCheckALCError("SoundManager::~SoundManager");
        alcMakeContextCurrent(m_context);
        DKCheckALCError("SoundManager::~SoundManager: alcMakeContextCurrent");
    }
    std::vector<DKAudioSource*> playing(m_playingSources.begin(), m_playingSources.end());
    for (DKAudioSource* source : playing) {
        if (m_playingSources.count(source)) stopSource(source);
    }
}

DKAudioSource* SoundManager::reserveSource() {
    DKCheckALError("SoundManager::reserveSource");
    if (m_freeSources.empty()) return nullptr;
    DKAudioSource* source = *m_freeSources.begin();
    m_reservedSources.insert(source);
    m_freeSources.erase(m_freeSources.begin());
    source->setToDefault();
    return source;
}

void SoundManager::playSource(DKAudioSource* source) {
    if (!source) return;  // an internal misuse; never worth a crash
    m_playingSources.insert(source);
    source->play();
}

void SoundManager::restartSource(DKAudioSource* source) {
    if (source) source->play();
}

void SoundManager::pauseSource(DKAudioSource* source) {
    if (source) source->pause();
}

void SoundManager::giveBack(DKAudioSource* source) {
    m_playingSources.erase(source);
    source->unqueueBuffers();
    m_freeSources.insert(source);
    m_reservedSources.erase(source);
    if (source->finishedCallback()) source->finishedCallback()(source);
}

void SoundManager::stopSource(DKAudioSource* source) {
    if (!source) return;
    source->stop();
    giveBack(source);
}

void SoundManager::update() {
    // A callback may stop or start other sources, so walk a copy and skip what it took back. It
    // may also delete this manager (its sources with it): then the walk ends there.
    const uint64_t serial = liveSerial(this);
    std::vector<DKAudioSource*> playing(m_playingSources.begin(), m_playingSources.end());
    for (DKAudioSource* source : playing) {
        if (!m_playingSources.count(source) || !source->isStopped()) continue;
        giveBack(source);
        if (liveSerial(this) != serial) return;
    }
}

void SoundManager::makeCurrent() {
    ALCcontext* context = m_context;
    if (!context) return;
    DKCheckALError("SoundManager::makeCurrent");
    DKCheckALCError("SoundManager::makeCurrent");
    alcMakeContextCurrent(context);
    DKCheckALCError("SoundManager::makeCurrent: alcMakeContextCurrent");
}

void SoundManager::suspend() {
    ALCcontext* context = m_context;
    if (!context) return;
    DKCheckALError("SoundManager::suspend");
    DKCheckALCError("SoundManager::suspend");
    alcMakeContextCurrent(nullptr);
    DKCheckALCError("SoundManager::suspend: alcMakeContextCurrent");
    alcSuspendContext(context);
    DKCheckALCError("SoundManager::suspend: alcSuspendContext");
}

void SoundManager::resume() {
    ALCcontext* context = m_context;
    if (!context) return;
    DKCheckALError("SoundManager::resume");
    DKCheckALCError("SoundManager::resume");
    alcMakeContextCurrent(context);
    DKCheckALCError("SoundManager::resume: alcMakeContextCurrent");
    alcProcessContext(context);
    DKCheckALCError("SoundManager::resume: alcProcessContext");
}

}  // namespace dk::sound

extern "C" void SoundManager_Suspend(dk::sound::SoundManager* soundManager) {
    if (soundManager) soundManager->suspend();
}

extern "C" void SoundManager_Resume(dk::sound::SoundManager* soundManager) {
    if (soundManager) soundManager->resume();
}
