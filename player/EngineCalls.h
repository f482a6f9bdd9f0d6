// Every engine call the player makes goes through here, so each one is traced in one format:
// "engine <function> <arguments>" (category "engine"), the per-frame ones as "frame DK_Update <dt>"
// and "frame DK_Accelerated <x> <y> <z>" (category "frame"). Arguments follow the C function's
// order after the state: floating values "%.3f", a null string "null", ints as they are. With
// tracing off a call formats nothing and allocates nothing.
#pragma once

#include "engine/DKEngine.h"
#include "platform/foundation/Log.h"

namespace dk::player {

plat::foundation::TraceCategory& engineTrace();
plat::foundation::TraceCategory& frameTrace();

namespace engine {

DK_State* newState(int unused);
void init(DK_State* state, const char* enginePath, const char* savePath);
int loadGame(DK_State* state, const char* gamePath);
void loadInitialScene(DK_State* state);
void destroyState(DK_State* state);
int extractGameAtPath(const char* archivePath);

void play(DK_State* state);
void systemInitiatedPause(DK_State* state);
void behaviorInitiatedPause(DK_State* state);
void stop(DK_State* state);
// "frame DK_Update <dt %.6f>".
void update(DK_State* state, double dt);

void touchDown(DK_State* state, double x, double y, int touchId, int touchCount);
void touchMoved(DK_State* state, double x, double y, int touchId);
void touchUp(DK_State* state, double x, double y, int touchId, int touchCount);
void touchCancel(DK_State* state);
void mouseUp(DK_State* state, double x, double y);
// "frame DK_Accelerated <x> <y> <z>", each "%.9g" so a float's narrowing shows.
void accelerated(DK_State* state, double x, double y, double z);

void setDeviceOrientation(DK_State* state, int orientation, int flag);
void setScreenSize(DK_State* state, int width, int height);
void setShouldChangeToScene(DK_State* state, const char* sceneName);
void setVolume(DK_State* state, float volume);
// The name, then each argument.
void raiseExternalEvent(DK_State* state, const char* name, const char** args, int count);
// Traced after the call, with its two results.
void getIntendedDisplaySize(DK_State* state, int* width, int* height);
// Traced after the call, with its result.
int getInterfaceOrientation(DK_State* state);

}  // namespace engine
}  // namespace dk::player
