// Sound effects: a pool of 32 OpenAL sources lent to the scene graph's sound players, on the one
// process-wide device and context.
#pragma once

#include <AL/al.h>

#include <list>
#include <memory>
#include <set>

#include "engine/sound/SGSound.h"

struct lua_State;

namespace dk {

class DKAudioSource {
public:
    DKAudioSource();
    ~DKAudioSource();
    DKAudioSource(const DKAudioSource&) = delete;
    DKAudioSource& operator=(const DKAudioSource&) = delete;

    bool isStopped();
    void play();
    void pause();
    void stop();
    void setToDefault();
    void setLocation(float x, float y);
    void setVelocity(float dx, float dy);
    void setVolume(float gain);
    void setPitch(float pitch);
    void setLooping(bool looping);
    void setRelative(bool relative);
    void queueBuffers(const std::shared_ptr<SGSound>& sound);
    void unqueueBuffers();

    ALuint sourceName() const { return m_source; }
    size_t queuedSoundCount() const { return queuedSounds.size(); }

    // Written by the holder after reserving; kept when the source is lent again.
    void* owner = nullptr;
    void (*finishedCallback)(DKAudioSource* source) = nullptr;

private:
    ALuint m_source = 0;
    std::list<std::shared_ptr<SGSound>> queuedSounds;
    // With no audio device there is no OpenAL source: the state is kept here instead, and a
    // sound that is not looping ends as soon as it starts.
    enum class Silent { kInitial, kPlaying, kPaused, kStopped } m_silent = Silent::kInitial;
    bool m_silentLooping = false;
};

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
    // Takes back every playing source that stopped by itself.
    void update();
    void makeCurrent();
    void suspend();
    void resume();

    // Whether `manager` exists now: scene nodes keep a plain pointer that a script can outlive by
    // deleting its manager first.
    static bool isLive(const SoundManager* manager);

    size_t freeCount() const { return freeSources.size(); }
    size_t reservedCount() const { return reservedSources.size(); }
    size_t playingCount() const { return playingSources.size(); }

private:
    void giveBack(DKAudioSource* source);

    std::set<DKAudioSource*> freeSources;
    std::set<DKAudioSource*> reservedSources;
    std::set<DKAudioSource*> playingSources;
};

}  // namespace dk

// The registry metatable of the "soundManager" module's manager objects.
inline constexpr const char* DKSoundManagerMetatable = "SoundManager.MT";

// Entry points for the host, around audio interruptions.
extern "C" {
dk::SoundManager* SoundManager_FromLuaState(lua_State* L);
// A null manager (the script keeps none in `sharedSoundManager`) is ignored.
void SoundManager_Suspend(dk::SoundManager* soundManager);
void SoundManager_Resume(dk::SoundManager* soundManager);

int luaopen_soundManager(lua_State* L);
}
