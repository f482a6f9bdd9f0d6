// The engine's platform port: game clock, wall-clock date, background music, debug log, and the
// "platformWrappers" Lua library that hands them to the engine script.
#pragma once

#include <stdbool.h>

struct lua_State;

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

int luaopen_platformWrappers(struct lua_State* L);

#ifdef __cplusplus
}
#endif
