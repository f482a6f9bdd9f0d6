// Background music: one file at a time, driven by a three-state machine (Playing, Paused, Stopped).
// "Is music playing" is our own flag (from play to pause, stop or the end of the last loop), so a
// buffer underrun is not an end. A volume set before the first file is kept. A loop reopens the
// file rather than seeking, so an AAC file's encoder delay leaves no gap. When the last engine state
// closes the manager stays, its player stopped, state Stopped, volume 1.
#pragma once

#include <map>
#include <memory>
#include <string>

#include "port/DKMusicPlayer.h"

// One audio player and a stored volume.
class DKMusic {
public:
    // Replaces the current player with one for `path`, whose file opens on the player's own
    // thread: settle() says later whether it plays.
    void initSound(const std::string& path, bool looping);
    // Waits for the current player's file to be opened, and drops the player when it cannot be
    // played; false then.
    bool settle();
    void play();
    void resume();
    void stop();
    void pause();
    // Stored even while there is no player, so a volume set before the first file is kept.
    void setVolume(float volume);
    float getVolume() const;
    bool isPlaying() const;
    bool isValid() const { return m_player != nullptr; }

private:
    std::unique_ptr<DKMusicPlayer> m_player;
    float m_volume = 1.0f;
};

enum DKMusicStateNumber { kDKMusicPlaying = 0, kDKMusicPaused = 1, kDKMusicStopped = 2 };

// Each operation returns the number of the next state. The base operations do nothing.
class DKMusicState {
public:
    explicit DKMusicState(DKMusic* music) : m_music(music) {}
    virtual ~DKMusicState() = default;
    virtual int play(const std::string& path, bool looping);
    virtual int pause();
    virtual int stop();

protected:
    DKMusic* m_music;  // not owned
};

class DKMusicPlayingState : public DKMusicState {
public:
    using DKMusicState::DKMusicState;
    int play(const std::string& path, bool looping) override;
    int pause() override;
    int stop() override;
};

class DKMusicPausedState : public DKMusicState {
public:
    using DKMusicState::DKMusicState;
    int play(const std::string& path, bool looping) override;
    int pause() override;
    int stop() override;
};

class DKMusicStoppedState : public DKMusicState {
public:
    using DKMusicState::DKMusicState;
    int play(const std::string& path, bool looping) override;
};

class DKMusicManager {
public:
    static DKMusicManager& sharedMusicManager();

    void playMusic(const std::string& path, bool looping);
    void pauseMusic();
    void stopMusic();
    void transitionToNewState(int state);
    void setVolume(float volume);
    float getVolume();
    bool isPlaying();
    // The number of the current state (0 Playing, 1 Paused, 2 Stopped).
    int currentStateNumber();

    // Stops and drops the current player: back to Stopped at volume 1 (tests, process exit).
    void reset();
    // reset() on the shared manager if there is one yet (none is made for it): what the engine
    // does when its last state closes, so music left playing or a volume set ends with the game.
    static void resetShared();

private:
    DKMusicManager();
    // A load's answer comes from the player's thread: the machine goes on as if the file played,
    // and whatever depends on the answer first waits for it here, which puts the machine back in
    // Stopped, where a failed load leaves it, when the file could not be played.
    void settle();
    std::unique_ptr<DKMusic> m_music;
    std::map<int, std::unique_ptr<DKMusicState>> m_states;
    DKMusicState* m_state;
};
