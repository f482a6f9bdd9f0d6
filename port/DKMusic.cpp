#include "port/DKMusic.h"

#include <mutex>

#include "port/DKAudioDevice.h"

// ---------------------------------------------------------------------------------------------
// DKMusic

void DKMusic::initSound(const std::string& path, bool looping) {
    m_player.reset();
    m_player = DKMusicPlayer::open(path);
    m_player->setNumberOfLoops(looping ? -1 : 0);
}

bool DKMusic::settle() {
    if (!m_player || m_player->opened()) return true;
    m_player.reset();
    return false;
}

void DKMusic::play() {
    if (!m_player) return;
    m_player->setVolume(m_volume);
    m_player->play();
}

void DKMusic::resume() {
    play();
}

void DKMusic::stop() {
    if (m_player) m_player->stop();
}

void DKMusic::pause() {
    if (m_player) m_player->pause();
}

void DKMusic::setVolume(float v) {
    m_volume = v;
    if (m_player && m_player->isPlaying()) m_player->setVolume(v);
}

float DKMusic::getVolume() const {
    return m_player ? m_player->volume() : m_volume;
}

bool DKMusic::isPlaying() const {
    return m_player && m_player->isPlaying();
}

// ---------------------------------------------------------------------------------------------
// States

int DKMusicState::play(const std::string&, bool) {
    return kDKMusicStopped;
}
int DKMusicState::pause() {
    return kDKMusicStopped;
}
int DKMusicState::stop() {
    return kDKMusicStopped;
}

namespace {
// Playing until the manager settles the load (DKMusicManager::settle).
int loadAndPlay(DKMusic* music, const std::string& path, bool looping) {
    music->initSound(path, looping);
    music->play();
    return kDKMusicPlaying;
}
}  // namespace

int DKMusicStoppedState::play(const std::string& path, bool looping) {
    if (path.empty()) return kDKMusicStopped;
    return loadAndPlay(m_music, path, looping);
}

int DKMusicPlayingState::play(const std::string& path, bool looping) {
    if (path.empty()) return kDKMusicPlaying;
    m_music->stop();
    return loadAndPlay(m_music, path, looping);
}

int DKMusicPlayingState::pause() {
    if (!m_music->isValid()) return kDKMusicStopped;
    m_music->pause();
    return kDKMusicPaused;
}

int DKMusicPlayingState::stop() {
    m_music->stop();
    return kDKMusicStopped;
}

int DKMusicPausedState::play(const std::string& path, bool looping) {
    if (path.empty()) {
        if (!m_music->isValid()) return kDKMusicStopped;
        m_music->resume();
        return kDKMusicPlaying;
    }
    m_music->stop();
    return loadAndPlay(m_music, path, looping);
}

int DKMusicPausedState::pause() {
    return kDKMusicPaused;
}

int DKMusicPausedState::stop() {
    m_music->stop();
    return kDKMusicStopped;
}

// ---------------------------------------------------------------------------------------------
// DKMusicManager

namespace {

std::mutex g_sharedLock;
DKMusicManager* g_shared = nullptr;  // lives as long as the process once made

}  // namespace

DKMusicManager& DKMusicManager::sharedMusicManager() {
    std::lock_guard<std::mutex> guard(g_sharedLock);
    if (!g_shared) {
        g_shared = new DKMusicManager;
        // Its feeder thread must be gone before the audio device closes at exit.
        DKAudioDevice::addShutdownHook([] { g_shared->reset(); });
    }
    return *g_shared;
}

void DKMusicManager::resetShared() {
    DKMusicManager* shared = nullptr;
    {
        std::lock_guard<std::mutex> guard(g_sharedLock);
        shared = g_shared;
    }
    if (shared) shared->reset();
}

DKMusicManager::DKMusicManager() : m_music(std::make_unique<DKMusic>()) {
    m_states[kDKMusicPlaying] = std::make_unique<DKMusicPlayingState>(m_music.get());
    m_states[kDKMusicPaused] = std::make_unique<DKMusicPausedState>(m_music.get());
    m_states[kDKMusicStopped] = std::make_unique<DKMusicStoppedState>(m_music.get());
    m_state = m_states[kDKMusicStopped].get();
}

void DKMusicManager::settle() {
    if (!m_music->settle()) m_state = m_states[kDKMusicStopped].get();
}

void DKMusicManager::playMusic(const std::string& path, bool looping) {
    // No path while Playing does nothing, and so does Stopped after a failed load: no need to
    // wait for the answer (a game's first scene starts its music and then its play).
    if (!path.empty() || m_state != m_states[kDKMusicPlaying].get()) settle();
    transitionToNewState(m_state->play(path, looping));
}

void DKMusicManager::pauseMusic() {
    settle();
    transitionToNewState(m_state->pause());
}

void DKMusicManager::stopMusic() {
    settle();
    transitionToNewState(m_state->stop());
}

void DKMusicManager::transitionToNewState(int state) {
    auto it = m_states.find(state);
    if (it != m_states.end() && it->second.get() != m_state) m_state = it->second.get();
}

// Stored, and applied when the player plays, whether or not its file turns out to: no wait.
void DKMusicManager::setVolume(float volume) {
    m_music->setVolume(volume);
}

float DKMusicManager::getVolume() {
    settle();
    return m_music->getVolume();
}

bool DKMusicManager::isPlaying() {
    settle();
    return m_music->isPlaying();
}

int DKMusicManager::currentStateNumber() {
    settle();
    for (const auto& [number, state] : m_states) {
        if (state.get() == m_state) return number;
    }
    return kDKMusicStopped;
}

void DKMusicManager::reset() {
    *m_music = DKMusic();
    m_state = m_states[kDKMusicStopped].get();
}
