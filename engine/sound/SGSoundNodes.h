// The scene-graph nodes that put sound into a scene: the listener, placed on every frame (nothing
// while no context is current), and the player, which plays one sound through a source lent by the
// sound manager. They sit above the scene graph, beside the manager they use. A player holds a
// source only while it has something to play: a trigger without a usable sound gives it straight
// back; a destroyed player stops a looping or paused source (a one-shot plays to its end, without
// calling back). A player's port read may run the script (a loader asks for a path), so its compute
// reads every input first and the sound last (a loader storing its sound marks the player dirty again
// and the inputs are read once more), and acts only if the manager, the held source and the compute
// itself (not overtaken by a nested one) are as they were.
#pragma once

#include "engine/sound/SoundManager.h"
#include "scenegraph/SGSpace.h"

// Places the OpenAL listener at ("x", "y", -50) with gain "gain" on every compute. A render node
// that the renderers do not draw; it stays dirty (its space computes it every frame anyway).
class SGSoundListenerNode : public SGRenderNode {
public:
    SGSoundListenerNode();

    void compute() override;
    SGPort* portForID(SGPortID id) override;

    SGNumberPort x{240};
    SGNumberPort y{160};
    SGNumberPort gain{1};
};

// Plays "sound" while "trigger" reads true; "pause", "resume" and "stop" act on every compute in
// which they read true. Computes only when "playing" is read while dirty, or when asked.
class SGSoundPlayerNode : public SGNode {
public:
    explicit SGSoundPlayerNode(dk::sound::SoundManager* manager);
    // A held source stops calling back into the node. A sound that would never end by itself
    // (looping or paused) is stopped, so the source comes back to the pool.
    ~SGSoundPlayerNode() override;

    void compute() override;
    SGPort* portForID(SGPortID id) override;

    // The finished callback installed in a lent source.
    static void soundFinished(DKAudioSource* source);

    // The lent source, null when none is held.
    DKAudioSource* source() const { return m_source; }

    // Outputs first: members die in reverse order, and an input lists the outputs as destinations.
    SGBooleanPort playing{false};
    SGSoundPort sound;
    SGNumberPort x{0};
    SGNumberPort y{0};
    SGNumberPort dx{0};
    SGNumberPort dy{0};
    SGBooleanPort sourceRelative{true};
    SGNumberPort volume{1};
    SGNumberPort pitch{1};
    SGBooleanPort loop{false};
    SGBooleanPort trigger{false};
    SGBooleanPort stop{false};
    SGBooleanPort pause{false};
    SGBooleanPort resume{false};

private:
    // What one compute reads, all of it before acting on any.
    struct Inputs {
        bool pause = false, resume = false, stop = false, trigger = false, loop = false;
        std::shared_ptr<SGSound> sound;  // read only when a source is to be queued
        float x = 0, y = 0, dx = 0, dy = 0, volume = 1, pitch = 1;
    };
    // Reads every input but the sound.
    void readControls(Inputs& in, bool holding);
    void act(dk::sound::SoundManager& manager, const Inputs& in);

    dk::sound::SoundManager* liveManager() const {
        const bool live =
            m_managerSerial && dk::sound::SoundManager::liveSerial(m_soundManager) == m_managerSerial;
        return live ? m_soundManager : nullptr;
    }
    // The manager is gone, and the source with it.
    void forgetSource();

    dk::sound::SoundManager* m_soundManager;  // not owned; checked with liveManager() before use
    uint64_t m_managerSerial;                 // 0 when the manager was gone before the node was made
    unsigned m_pass = 0;                      // computes begun, so one can tell a nested compute ran
    DKAudioSource* m_source = nullptr;
    bool m_queued = false;   // whether m_source has the sound's buffers queued
    bool m_looping = false;  // what the held source was last told
    bool m_paused = false;
};

// Installs the makers SGSpace::createNode uses for the listener and the player (which gets the
// space's sound manager). The "soundManager" library installs them when it opens.
void DKInstallSoundNodeMakers();
