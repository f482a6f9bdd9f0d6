#include "port/DKMusic.h"

#include <mutex>

#include "port/DKAudioDevice.h"

// ---------------------------------------------------------------------------------------------
// DKMusic

bool DKMusic::initSound(const std::string& path, bool looping) {
    m_player.reset();
    m_player = DKMusicPlayer::create(path);
    if (!m_player) return false;
    m_player->setNumberOfLoops(looping ? -1 : 0);
    return true;
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
int loadAndPlay(DKMusic* music, const std::string& path, bool looping) {
    if (!music->initSound(path, looping)) return kDKMusicStopped;
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

void DKMusicManager::playMusic(const std::string& path, bool looping) {
    transitionToNewState(m_state->play(path, looping));
}

void DKMusicManager::pauseMusic() {
    transitionToNewState(m_state->pause());
}

void DKMusicManager::stopMusic() {
    transitionToNewState(m_state->stop());
}

void DKMusicManager::transitionToNewState(int state) {
    auto it = m_states.find(state);
    if (it != m_states.end() && it->second.get() != m_state) m_state = it->second.get();
}

void DKMusicManager::setVolume(float volume) {
    m_music->setVolume(volume);
}

float DKMusicManager::getVolume() const {
    return m_music->getVolume();
}

bool DKMusicManager::isPlaying() const {
    return m_music->isPlaying();
}

int DKMusicManager::currentStateNumber() const {
    for (const auto& [number, state] : m_states) {
        if (state.get() == m_state) return number;
    }
    return kDKMusicStopped;
}

void DKMusicManager::reset() {
    *m_music = DKMusic();
    m_state = m_states[kDKMusicStopped].get();
}
