#include "port/DKMusic.h"

#include <mutex>

#include "port/DKAudioDevice.h"

namespace dk {

// ---------------------------------------------------------------------------------------------
// DKMusic

bool DKMusic::initSound(const std::string& path, bool looping) {
    currentMusicAsset.reset();
    currentMusicAsset = DKMusicPlayer::create(path);
    if (!currentMusicAsset) return false;
    currentMusicAsset->setNumberOfLoops(looping ? -1 : 0);
    return true;
}

void DKMusic::play() {
    if (!currentMusicAsset) return;
    currentMusicAsset->setVolume(volume);
    currentMusicAsset->play();
}

void DKMusic::resume() {
    play();
}

void DKMusic::stop() {
    if (currentMusicAsset) currentMusicAsset->stop();
}

void DKMusic::pause() {
    if (currentMusicAsset) currentMusicAsset->pause();
}

void DKMusic::setVolume(float v) {
    volume = v;
    if (currentMusicAsset && currentMusicAsset->isPlaying()) currentMusicAsset->setVolume(v);
}

float DKMusic::getVolume() const {
    return currentMusicAsset ? currentMusicAsset->volume() : volume;
}

bool DKMusic::isPlaying() const {
    return currentMusicAsset && currentMusicAsset->isPlaying();
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
    return loadAndPlay(currentDKMusic, path, looping);
}

int DKMusicPlayingState::play(const std::string& path, bool looping) {
    if (path.empty()) return kDKMusicPlaying;
    currentDKMusic->stop();
    return loadAndPlay(currentDKMusic, path, looping);
}

int DKMusicPlayingState::pause() {
    if (!currentDKMusic->isValid()) return kDKMusicStopped;
    currentDKMusic->pause();
    return kDKMusicPaused;
}

int DKMusicPlayingState::stop() {
    currentDKMusic->stop();
    return kDKMusicStopped;
}

int DKMusicPausedState::play(const std::string& path, bool looping) {
    if (path.empty()) {
        if (!currentDKMusic->isValid()) return kDKMusicStopped;
        currentDKMusic->resume();
        return kDKMusicPlaying;
    }
    currentDKMusic->stop();
    return loadAndPlay(currentDKMusic, path, looping);
}

int DKMusicPausedState::pause() {
    return kDKMusicPaused;
}

int DKMusicPausedState::stop() {
    currentDKMusic->stop();
    return kDKMusicStopped;
}

// ---------------------------------------------------------------------------------------------
// DKMusicManager

DKMusicManager& DKMusicManager::sharedMusicManager() {
    static std::mutex lock;
    static DKMusicManager* instance = nullptr;
    std::lock_guard<std::mutex> guard(lock);
    if (!instance) {
        instance = new DKMusicManager;  // lives as long as the process
        // Its feeder thread must be gone before the audio device closes at exit.
        DKAudioDevice::addShutdownHook([] { instance->reset(); });
    }
    return *instance;
}

DKMusicManager::DKMusicManager() : currentDKMusic(std::make_unique<DKMusic>()) {
    states[kDKMusicPlaying] = std::make_unique<DKMusicPlayingState>(currentDKMusic.get());
    states[kDKMusicPaused] = std::make_unique<DKMusicPausedState>(currentDKMusic.get());
    states[kDKMusicStopped] = std::make_unique<DKMusicStoppedState>(currentDKMusic.get());
    currentState = states[kDKMusicStopped].get();
}

void DKMusicManager::playMusic(const std::string& path, bool looping) {
    transitionToNewState(currentState->play(path, looping));
}

void DKMusicManager::pauseMusic() {
    transitionToNewState(currentState->pause());
}

void DKMusicManager::stopMusic() {
    transitionToNewState(currentState->stop());
}

void DKMusicManager::transitionToNewState(int state) {
    auto it = states.find(state);
    if (it != states.end() && it->second.get() != currentState) currentState = it->second.get();
}

void DKMusicManager::setVolume(float volume) {
    currentDKMusic->setVolume(volume);
}

float DKMusicManager::getVolume() const {
    return currentDKMusic->getVolume();
}

bool DKMusicManager::isPlaying() const {
    return currentDKMusic->isPlaying();
}

int DKMusicManager::currentStateNumber() const {
    for (const auto& [number, state] : states) {
        if (state.get() == currentState) return number;
    }
    return kDKMusicStopped;
}

void DKMusicManager::reset() {
    *currentDKMusic = DKMusic();
    currentState = states[kDKMusicStopped].get();
}

}  // namespace dk
