// The engine's platform port as C functions: game clock, wall-clock date, background music and the
// debug log (port/wrap_PlatformWrappers hands them to the engine script).
#pragma once

#include <stdbool.h>

#ifdef __cplusplus
extern "C" {
#endif

float DKGetSystemTime(void);
void DKGetClockTime(unsigned int* components);
void DKPlayAACFile(const char* path, int loop);
void DKPauseAACFile(void);
void DKStopAACFile(void);
void SetAACFileVolume(float volume);
bool IsAACFilePlaying(void);
void DKLogDebugStatement(const char* text);

#ifdef __cplusplus
}
#endif
