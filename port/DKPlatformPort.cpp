#include "port/DKPlatformPort.h"

#include "port/DKDate.h"
#include "port/DKMusic.h"

extern "C" {

float DKGetSystemTime(void) {
    return DKDate::getTimeAsFloat();
}

void DKGetClockTime(unsigned int* components) {
    DKDate::getClockTimeComponent(components);
}

void DKPlayAACFile(const char* path, int loop) {
    // Only the low 8 bits of the flag count, as with a one-byte boolean.
    DKMusicManager::sharedMusicManager().playMusic(path ? path : "", (loop & 0xff) != 0);
}

void DKPauseAACFile(void) {
    DKMusicManager::sharedMusicManager().pauseMusic();
}

void DKStopAACFile(void) {
    DKMusicManager::sharedMusicManager().stopMusic();
}

void SetAACFileVolume(float volume) {
    DKMusicManager::sharedMusicManager().setVolume(volume);
}

bool IsAACFilePlaying(void) {
    return DKMusicManager::sharedMusicManager().isPlaying();
}

void DKLogDebugStatement(const char*) {}

}  // extern "C"
