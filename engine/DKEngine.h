// The engine's C API: one DK_State per running game, every call from the host's main thread.
//
// DK_Init opens, in order, the Lua standard libraries and the native modules of DKLuaLibs, then
// createTable/typeCode, "socket.core", "callbacks", "database" (when a save path is given), runs the
// engine script and calls its initEngine. LuaJIT's compiler is on: the jit library is opened (only
// that loads its default settings) and its global removed again; `require "jit"` still finds it. A
// script that cannot be loaded ran nothing, so initEngine is not called; one that fails half way
// still has it called. DK_DestroyState calls shutdownEngine, closes the Lua state and only then the
// store (a finalizer may still use it); the last open state's teardown resets the process state
// (DKProcessState.h).
//
// Calls re-enter: a host callback or a native function may call the engine again on the same state.
// Each DK_ entry counts itself; a DK_DestroyState made under another call is deferred, never
// refused: running calls finish on a live state, new ones run no script (queries answer 0), and the
// outermost call tears the state down as it returns. The teardown counts as a call too, so a
// shutdownEngine that calls back finds the state closing.
//
// Every host event is a protected call of a script global, with one of two policies:
// - reported (start-up, orientation, screen size, scene change, volume, events, initial scene):
//   "(DK_Report_Error) Lua Error: ..." on standard error, and the Lua stack emptied (a failed
//   loadProject reads "DK_LoadGame Failure: ...", on standard error too);
// - ignored (frames, input, play, pauses, stop): the error is dropped with the stack restored, so a
//   script failing every frame does not grow the stack; or handed to scriptErrorHandler when set,
//   with a traceback from a message handler kept in the registry (a frame makes no closure).
// A missing script function is named in its report ("attempt to call a nil value (global
// 'initEngine')"). Method calls on script objects (devices:setScreenSize) and the walk of
// game.attributes.displaySize run inside the protected call, so a missing object is a script error,
// never an unprotected one that ends the process.
#pragma once

#include <lua.hpp>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct DKDatabase DKDatabase;

typedef struct DKCallbackInfo {
    void (*loadingWillStart)(void* userData);
    void (*loadingWillEnd)(void* userData);
    void (*gameDidEnd)(void* userData);
    void* userData;
    // Runs a native action for the script; reads its arguments from `L` and returns the number of
    // results it pushed there.
    int (*callExternalFunction)(void* externalData, lua_State* L);
    void* externalData;
} DKCallbackInfo;

typedef struct DK_State {
    lua_State* L;
    DKDatabase* database;
    DKCallbackInfo callbacks;
    // The engine's own: calls under way on this state, and whether DK_DestroyState has asked for
    // its teardown (carried out as the outermost of them returns).
    int engineCalls;
    int destroyRequested;
    // The engine's own: failures it has printed (reported calls, the engine script, game loads),
    // so a host can tell a start-up that went wrong.
    int printedFailures;
    // Set by the host, or left 0: the failures of ignored calls (frames, input, play, pauses, stop)
    // are then handed here, with the script function's name, the error text and its traceback,
    // rather than dropped. Functions the script leaves out are not failures here.
    void (*scriptErrorHandler)(void* data, const char* function, const char* message, const char* traceback);
    void* scriptErrorData;
} DK_State;

// Life cycle
DK_State* DK_NewState(int unused);
// An engine script that cannot be loaded (missing, unreadable, a syntax error) ran nothing, so
// initEngine is not called after it: it could only add a second report that names no cause.
void DK_Init(DK_State* state, const char* enginePath, const char* savePath);
void DK_LoadDatabaseLib(DK_State* state, const char* savePath);
void DK_LoadEngineFromPath(DK_State* state, const char* path);
void DK_InitEngine(DK_State* state);
int DK_LoadGame(DK_State* state, const char* gamePath);
void DK_LoadInitialScene(DK_State* state);
// Runs the script's shutdownEngine, closes the Lua state, then the store, and frees the state.
// Called during one of the state's own calls (from a callback of the block, or a native function
// the script calls), it only asks: the running calls finish on a live state, engine calls made on
// it meanwhile run no script (queries answer 0), and the outermost call destroys it as it returns.
void DK_DestroyState(DK_State* state);
// Unpacks a ZIP archive into the current directory. Absolute names and names with a ".." component
// are skipped with a message. An archive unpacks to at most 100 times its own size (any archive may
// reach 32 MB) and never past 2 GB: the directory's sizes are added up first, and past the cap one
// line names the archive, the size and the cap and nothing is extracted; the copy counts what it
// writes against the cap all the same.
int DK_ExtractGameAtPath(const char* archivePath);

// Game control
void DK_Play(DK_State* state);
void DK_SystemInitiatedPause(DK_State* state);
void DK_BehaviorInitiatedPause(DK_State* state);
void DK_Stop(DK_State* state);
void DK_Update(DK_State* state, double dt);

// Input
void DK_TouchDown(DK_State* state, double x, double y, int touchId, int touchCount);
void DK_TouchMoved(DK_State* state, double x, double y, int touchId);
void DK_TouchUp(DK_State* state, double x, double y, int touchId, int touchCount);
void DK_TouchCancel(DK_State* state);
void DK_MouseUp(DK_State* state, double x, double y);
void DK_Accelerated(DK_State* state, double x, double y, double z);

// Settings and queries
void DK_SetDeviceOrientation(DK_State* state, int orientation, int flag);
int DK_GetInterfaceOrientation(DK_State* state);
void DK_SetScreenSize(DK_State* state, int width, int height);
void DK_SetShouldChangeToScene(DK_State* state, const char* sceneName);
void DK_SetVolume(DK_State* state, float volume);
void DK_RaiseExternalEvent(DK_State* state, const char* name, const char** args, int count);
void DK_GetIntendedDisplaySize(DK_State* state, int* width, int* height);

#ifdef __cplusplus
}
#endif
