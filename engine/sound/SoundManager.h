// Sound effects: a pool of 32 DKAudioSources lent to the scene graph's sound players, on the one
// process-wide device and context. update takes back the sources that stopped by themselves and calls
// their holder's callback once. Managers are registered live with a serial that never restarts
// (liveSerial): a player checks its manager by the serial it had when made, so a manager deleted
// under a player's compute or from a holder's callback is noticed, the work under way goes no
// further, and a leftover player never takes a new manager for its own. OpenAL errors are printed,
// never fatal, and not asked for while no context is current.
#pragma once

#include <AL/al.h>
#include <AL/alc.h>

#include <cstdint>
#include <list>
#include <memory>
#include <set>
#include <vector>

#include "engine/sound/SGSound.h"

// A source lent by the SoundManager: an OpenAL source or, with no audio device, a silent one
// (engine/sound/AudioSources). What is queued is kept alive here either way.
class DKAudioSource {
public:
    DKAudioSource() = default;
    virtual ~DKAudioSource() = default;
    DKAudioSource(const DKAudioSource&) = delete;
    DKAudioSource& operator=(const DKAudioSource&) = delete;

    virtual bool isStopped() = 0;
    virtual void play() = 0;
    virtual void pause() = 0;
    virtual void stop() = 0;
    virtual void setToDefault() {}
    virtual void setLocation(float, float) {}
    virtual void setVelocity(float, float) {}
    virtual void setVolume(float) {}
    virtual void setPitch(float) {}
    virtual void setLooping(bool) {}
    virtual void setRelative(bool) {}
    void queueBuffers(const std::shared_ptr<SGSound>& sound);
    void unqueueBuffers();

    // The OpenAL name; 0 for a silent source.
    virtual ALuint sourceName() const { return 0; }
    size_t queuedSoundCount() const { return m_queuedSounds.size(); }

    using FinishedCallback = void (*)(DKAudioSource* source);
    // Set by the holder after reserving; kept when the source is lent again. The manager calls
    // `finished` when it takes the source back.
    void setOwner(void* owner, FinishedCallback finished) {
        m_owner = owner;
        m_finishedCallback = finished;
    }
    void* owner() const { return m_owner; }
    FinishedCallback finishedCallback() const { return m_finishedCallback; }

protected:
    virtual void queueOnSource(const SGSound&) {}
    virtual void detachBuffers() {}

private:
    std::list<std::shared_ptr<SGSound>> m_queuedSounds;
    void* m_owner = nullptr;
    FinishedCallback m_finishedCallback = nullptr;
};

namespace dk::sound {

class SoundManager {
public:
    static constexpr int kSourceCount = 32;

    SoundManager();
    ~SoundManager();
    SoundManager(const SoundManager&) = delete;
    SoundManager& operator=(const SoundManager&) = delete;

    // The first free source, reset to defaults, or null when all 32 are lent.
    DKAudioSource* reserveSource();
    void playSource(DKAudioSource* source);
    void restartSource(DKAudioSource* source);
    void pauseSource(DKAudioSource* source);
    // Stops it, empties its queue, takes it back and calls its finishedCallback.
    void stopSource(DKAudioSource* source);
    // Takes back every playing source that stopped by itself. A finished callback may delete the
    // manager (not while it is being deleted already): the update then goes no further.
    void update();
    void makeCurrent();
    void suspend();
    void resume();

    // The serial of the manager at `manager` now, 0 when none is there. Scene nodes keep a plain
    // pointer that a script can outlive by deleting its manager first, and a later manager may
    // take the same address: a node compares the serial it was made with.
    static uint64_t liveSerial(const SoundManager* manager);

    size_t freeCount() const { return m_freeSources.size(); }
    size_t playingCount() const { return m_playingSources.size(); }

private:
    void giveBack(DKAudioSource* source);

    ALCcontext* m_context;  // null with no audio device: every source is then silent
    std::vector<std::unique_ptr<DKAudioSource>> m_sources;
    std::set<DKAudioSource*> m_freeSources;
    std::set<DKAudioSource*> m_reservedSources;
    std::set<DKAudioSource*> m_playingSources;
};

}  // namespace dk::sound

// Entry points for the host, around audio interruptions. A null manager (the script keeps none in
// `sharedSoundManager`) is ignored.
extern "C" {
void SoundManager_Suspend(dk::sound::SoundManager* soundManager);
void SoundManager_Resume(dk::sound::SoundManager* soundManager);
}
