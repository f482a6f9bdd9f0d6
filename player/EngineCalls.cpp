#include "player/EngineCalls.h"

#include <string>

namespace dk::player {

using plat::foundation::TraceCategory;
using plat::foundation::tracef;

TraceCategory& engineTrace() {
    static TraceCategory category("engine");
    return category;
}

TraceCategory& frameTrace() {
    static TraceCategory category("frame");
    return category;
}

namespace engine {

namespace {

const char* text(const char* s) {
    return s ? s : "null";
}

}  // namespace

DK_State* newState(int unused) {
    tracef(engineTrace(), "DK_NewState %d", unused);
    return DK_NewState(unused);
}

void init(DK_State* state, const char* enginePath, const char* savePath) {
    tracef(engineTrace(), "DK_Init %s %s", text(enginePath), text(savePath));
    DK_Init(state, enginePath, savePath);
}

int loadGame(DK_State* state, const char* gamePath) {
    tracef(engineTrace(), "DK_LoadGame %s", text(gamePath));
    return DK_LoadGame(state, gamePath);
}

void loadInitialScene(DK_State* state) {
    plat::foundation::trace(engineTrace(), "DK_LoadInitialScene");
    DK_LoadInitialScene(state);
}

void destroyState(DK_State* state) {
    plat::foundation::trace(engineTrace(), "DK_DestroyState");
    DK_DestroyState(state);
}

int extractGameAtPath(const char* archivePath) {
    tracef(engineTrace(), "DK_ExtractGameAtPath %s", text(archivePath));
    return DK_ExtractGameAtPath(archivePath);
}

void play(DK_State* state) {
    plat::foundation::trace(engineTrace(), "DK_Play");
    DK_Play(state);
}

void systemInitiatedPause(DK_State* state) {
    plat::foundation::trace(engineTrace(), "DK_SystemInitiatedPause");
    DK_SystemInitiatedPause(state);
}

void behaviorInitiatedPause(DK_State* state) {
    plat::foundation::trace(engineTrace(), "DK_BehaviorInitiatedPause");
    DK_BehaviorInitiatedPause(state);
}

void stop(DK_State* state) {
    plat::foundation::trace(engineTrace(), "DK_Stop");
    DK_Stop(state);
}

void update(DK_State* state, double dt) {
    tracef(frameTrace(), "DK_Update %.6f", dt);
    DK_Update(state, dt);
}

void touchDown(DK_State* state, double x, double y, int touchId, int touchCount) {
    tracef(engineTrace(), "DK_TouchDown %.3f %.3f %d %d", x, y, touchId, touchCount);
    DK_TouchDown(state, x, y, touchId, touchCount);
}

void touchMoved(DK_State* state, double x, double y, int touchId) {
    tracef(engineTrace(), "DK_TouchMoved %.3f %.3f %d", x, y, touchId);
    DK_TouchMoved(state, x, y, touchId);
}

void touchUp(DK_State* state, double x, double y, int touchId, int touchCount) {
    tracef(engineTrace(), "DK_TouchUp %.3f %.3f %d %d", x, y, touchId, touchCount);
    DK_TouchUp(state, x, y, touchId, touchCount);
}

void touchCancel(DK_State* state) {
    plat::foundation::trace(engineTrace(), "DK_TouchCancel");
    DK_TouchCancel(state);
}

void mouseUp(DK_State* state, double x, double y) {
    tracef(engineTrace(), "DK_MouseUp %.3f %.3f", x, y);
    DK_MouseUp(state, x, y);
}

void accelerated(DK_State* state, double x, double y, double z) {
    tracef(frameTrace(), "DK_Accelerated %.9g %.9g %.9g", x, y, z);
    DK_Accelerated(state, x, y, z);
}

void setDeviceOrientation(DK_State* state, int orientation, int flag) {
    tracef(engineTrace(), "DK_SetDeviceOrientation %d %d", orientation, flag);
    DK_SetDeviceOrientation(state, orientation, flag);
}

void setScreenSize(DK_State* state, int width, int height) {
    tracef(engineTrace(), "DK_SetScreenSize %d %d", width, height);
    DK_SetScreenSize(state, width, height);
}

void setShouldChangeToScene(DK_State* state, const char* sceneName) {
    tracef(engineTrace(), "DK_SetShouldChangeToScene %s", text(sceneName));
    DK_SetShouldChangeToScene(state, sceneName);
}

void setVolume(DK_State* state, float volume) {
    tracef(engineTrace(), "DK_SetVolume %.3f", static_cast<double>(volume));
    DK_SetVolume(state, volume);
}

void raiseExternalEvent(DK_State* state, const char* name, const char** args, int count) {
    plat::foundation::trace(engineTrace(), [&] {
        std::string line = std::string("DK_RaiseExternalEvent ") + text(name);
        for (int i = 0; i < count; ++i) line.append(1, ' ').append(text(args ? args[i] : nullptr));
        return line;
    });
    DK_RaiseExternalEvent(state, name, args, count);
}

void getIntendedDisplaySize(DK_State* state, int* width, int* height) {
    DK_GetIntendedDisplaySize(state, width, height);
    tracef(engineTrace(), "DK_GetIntendedDisplaySize %d %d", *width, *height);
}

int getInterfaceOrientation(DK_State* state) {
    const int orientation = DK_GetInterfaceOrientation(state);
    tracef(engineTrace(), "DK_GetInterfaceOrientation %d", orientation);
    return orientation;
}

}  // namespace engine
}  // namespace dk::player
