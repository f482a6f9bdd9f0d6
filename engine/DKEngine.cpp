#include "engine/DKEngine.h"

#include <cassert>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "engine/DKDatabase.h"
#include "engine/DKLuaLibs.h"
#include "engine/DKProcessState.h"
#include "engine/wrap_Callbacks.h"
#include "engine/wrap_Database.h"
#include "engine/wrap_LuaExtensions.h"
#include "platform/sys/Excerpt.h"
#include "platform/sys/QuitWatch.h"

namespace {

// An error's text, cut to a bounded length (an error may carry any string the script made): a NUL
// in it (error("a\0b")) ended it wherever it was printed or handed on as a C string, so each is
// written \0.
std::string errorText(lua_State* L, int index) {
    size_t length = 0;
    const char* text = lua_tolstring(L, index, &length);
    return plat::sys::excerpt(std::string_view(text ? text : "", text ? length : 0),
                              [](std::string_view rest, std::string& out) -> size_t {
                                  if (rest[0] != '\0') return plat::sys::showAsIs(rest, out);
                                  out += "\\0";
                                  return 1;
                              });
}

void reportError(DK_State* state) {
    lua_State* L = state->L;
    if (lua_type(L, -1) == LUA_TSTRING || lua_type(L, -1) == LUA_TNUMBER) {
        std::fprintf(stderr, "(DK_Report_Error) Lua Error: %s\n", errorText(L, -1).c_str());
    }
    ++state->printedFailures;
    lua_settop(L, 0);
}

bool callable(lua_State* L, int index) {
    if (lua_isfunction(L, index)) return true;
    if (!luaL_getmetafield(L, index, "__call")) return false;
    lua_pop(L, 1);
    return true;
}

// Lua's own words for calling what is not a function, naming the script function the engine
// looked for (a bare C-level call says only "attempt to call a nil value").
void pushNotCallable(lua_State* L, int index, const char* global) {
    lua_pushfstring(L, "attempt to call a %s value (global '%s')", luaL_typename(L, index), global);
}

// A reported call prints the error and empties the stack. With `global`, the function below the
// arguments is that script global, named when it is missing.
bool pcallReported(DK_State* state, int nargs, int nresults, const char* global = nullptr) {
    lua_State* L = state->L;
    if (global && !callable(L, -nargs - 1)) {
        pushNotCallable(L, -nargs - 1, global);
        reportError(state);
        return false;
    }
    if (lua_pcall(L, nargs, nresults, 0) == 0) return true;
    reportError(state);
    return false;
}

char kTracebackKey;

// The message handler of ignored calls that hand their failures to the host: the error text
// followed by Lua's traceback.
int addTraceback(lua_State* L) {
    if (lua_type(L, 1) == LUA_TSTRING || lua_type(L, 1) == LUA_TNUMBER) {
        const std::string text = errorText(L, 1);
        lua_pushlstring(L, text.data(), text.size());
    }
    else
        lua_pushfstring(L, "(error object is a %s value)", luaL_typename(L, 1));
    luaL_traceback(L, L, lua_tostring(L, -1), 1);
    return 1;
}

// The handler, kept in the registry: a frame pushes it without making a new closure.
void pushTracebackHandler(lua_State* L) {
    lua_pushlightuserdata(L, &kTracebackKey);
    lua_rawget(L, LUA_REGISTRYINDEX);
    if (!lua_isnil(L, -1)) return;
    lua_pop(L, 1);
    lua_pushcfunction(L, addTraceback);
    lua_pushlightuserdata(L, &kTracebackKey);
    lua_pushvalue(L, -2);
    lua_rawset(L, LUA_REGISTRYINDEX);
}

// Hands the text on top of the stack (the error, then "stack traceback:" and its lines when there
// is one) to the host's handler.
void handOver(DK_State* state, const char* global) {
    size_t length = 0;
    const char* text = lua_tolstring(state->L, -1, &length);
    std::string message(text ? text : "", text ? length : 0);
    std::string traceback;
    if (const size_t split = message.rfind("\nstack traceback:"); split != std::string::npos) {
        traceback = message.substr(split + 1);
        message.resize(split);
    }
    state->scriptErrorHandler(state->scriptErrorData, global, message.c_str(), traceback.c_str());
}

// An ignored call restores the stack whatever happens: a script failing every frame must not grow
// it. Its failure goes to the host's handler when there is one; a function the script leaves out
// is no failure.
void pcallIgnored(DK_State* state, const char* global, int nargs) {
    lua_State* L = state->L;
    const int base = lua_gettop(L) - nargs - 1;
    if (!state->scriptErrorHandler) {
        if (lua_pcall(L, nargs, 0, 0) != 0) lua_settop(L, base);
        return;
    }
    if (lua_isnil(L, base + 1)) {
        lua_settop(L, base);
        return;
    }
    if (!callable(L, base + 1)) {
        pushNotCallable(L, base + 1, global);
        handOver(state, global);
        lua_settop(L, base);
        return;
    }
    pushTracebackHandler(L);
    lua_insert(L, base + 1);
    if (lua_pcall(L, nargs, 0, base + 1) != 0) handOver(state, global);
    lua_settop(L, base);
}

// obj = _G[global]; return obj[method](obj, ...): looked up inside the protected call so that a
// missing object is a reported script error rather than an unprotected one.
int callMethod(lua_State* L) {
    int n = lua_gettop(L);
    lua_getglobal(L, lua_tostring(L, 1));
    if (lua_isnil(L, n + 1)) return luaL_error(L, "attempt to index a nil value (global '%s')", lua_tostring(L, 1));
    lua_getfield(L, n + 1, lua_tostring(L, 2));
    if (!callable(L, n + 2))
        return luaL_error(L, "attempt to call a %s value (method '%s' of global '%s')", luaL_typename(L, n + 2),
                          lua_tostring(L, 2), lua_tostring(L, 1));
    lua_pushvalue(L, n + 1);
    for (int i = 3; i <= n; ++i) lua_pushvalue(L, i);
    lua_call(L, n - 1, 0);
    return 0;
}

void pushMethodCall(lua_State* L, const char* global, const char* method) {
    lua_pushcfunction(L, callMethod);
    lua_pushstring(L, global);
    lua_pushstring(L, method);
}

void push(lua_State* L, double v) {
    lua_pushnumber(L, v);
}
void push(lua_State* L, int v) {
    lua_pushinteger(L, v);
}

// Calls the script global `name` with the given numbers; a failure is dropped.
template <class... Args>
void callGlobal(DK_State* state, const char* name, Args... args) {
    lua_State* L = state->L;
    lua_getglobal(L, name);
    (push(L, args), ...);
    pcallIgnored(state, name, static_cast<int>(sizeof...(args)));
}

// A call that outlasted the run's end: every line of Lua from now on fails, so a pcall inside the
// loop cannot keep it going. The runtime looks at the hook on its own; compiled code never does.
void stopHook(lua_State* L, lua_Debug*) {
    luaL_error(L, "interrupted: the call outlasted the run's end");
}

void interruptScript(void* L) {
    lua_sethook(static_cast<lua_State*>(L), stopHook,
                LUA_MASKCALL | LUA_MASKRET | LUA_MASKLINE | LUA_MASKCOUNT, 1);
}

// The teardown of a marked state, as its outermost call returns. It counts as a call that never
// ends, so a shutdownEngine or finalizer calling back into the engine finds the state closing
// and starts no second teardown.
void destroy(DK_State* state) {
    ++state->engineCalls;
    plat::sys::ScriptCallMark mark("shutdownEngine", interruptScript, state->L);
    callGlobal(state, "shutdownEngine");
    if (mark.end()) lua_sethook(state->L, nullptr, 0, 0);  // the finalizers still run
    lua_close(state->L);     // before the store: a finalizer may still use it
    delete state->database;  // writes what it still holds
    std::free(state);
    dk::engine::stateClosed();  // last: nothing of the state is left to meet the reset
}

// One engine call on a state. Calls nest (a callback of the block, or a native function the
// script calls, may call the engine again) and the inner ones run above the script's frames and
// the host's: DK_DestroyState only marks the state, and the outermost call destroys it as it
// returns. Calls made once it is marked run no script.
class EngineCall {
public:
    // `name`: the script function the call runs, for the watch over calls outlasting the run.
    EngineCall(DK_State* state, const char* name) : m_state(state), m_mark(name, interruptScript, state->L) {
        ++state->engineCalls;
    }
    ~EngineCall() {
        if (m_mark.end()) lua_sethook(m_state->L, nullptr, 0, 0);
        if (--m_state->engineCalls == 0 && m_state->destroyRequested) destroy(m_state);
    }
    EngineCall(const EngineCall&) = delete;
    EngineCall& operator=(const EngineCall&) = delete;
    // False once the state is to be destroyed.
    explicit operator bool() const { return !m_state->destroyRequested; }

private:
    DK_State* m_state;
    plat::sys::ScriptCallMark m_mark;
};

// callGlobal as one engine call.
template <class... Args>
void callGlobalIgnored(DK_State* state, const char* name, Args... args) {
    EngineCall call(state, name);
    if (call) callGlobal(state, name, args...);
}

struct DisplaySize {
    int width = 0;
    int height = 0;
};

// Walks game.attributes.displaySize inside a protected call: any missing link is an error that
// the caller turns into 0, 0.
int readDisplaySize(lua_State* L) {
    auto* out = static_cast<DisplaySize*>(lua_touserdata(L, 1));
    lua_getglobal(L, "game");
    lua_getfield(L, -1, "attributes");
    lua_getfield(L, -1, "displaySize");
    int displaySize = lua_gettop(L);
    lua_getfield(L, displaySize, "width");
    lua_getfield(L, -1, "_value");
    int width = static_cast<int>(lua_tointeger(L, -1));
    lua_getfield(L, displaySize, "height");
    lua_getfield(L, -1, "_value");
    out->width = width;
    out->height = static_cast<int>(lua_tointeger(L, -1));
    return 0;
}

// Runs the engine script, inside an engine call the caller holds; false when the script could not
// be loaded, so none of it ran.
bool loadEngine(DK_State* state, const char* path) {
    lua_State* L = state->L;
    if (luaL_loadfile(L, path ? path : "") != 0) {
        reportError(state);
        return false;
    }
    pcallReported(state, 0, 0);
    return true;
}

}  // namespace

extern "C" {

DK_State* DK_NewState(int /*unused*/) {
    auto* state = static_cast<DK_State*>(std::calloc(1, sizeof(DK_State)));
    assert(state);
    state->L = luaL_newstate();
    assert(state->L);
    if (!state->L) std::abort();
    dk::engine::stateOpened();
    return state;
}

void DK_Init(DK_State* state, const char* enginePath, const char* savePath) {
    EngineCall call(state, "initEngine");
    if (!call) return;
    lua_State* L = state->L;
    for (const DKLuaLib* lib = dk_lualibs; lib->name; ++lib) {
        lua_pushcfunction(L, lib->open);
        lua_pushstring(L, lib->name);
        pcallReported(state, 1, 0);
    }
    // LuaJIT compiles nothing until its "jit" library has set the compiler up. Scripts keep their
    // globals: the library is opened for that effect and its global dropped (the module stays
    // loaded).
    lua_pushcfunction(L, luaopen_jit);
    lua_pushstring(L, LUA_JITLIBNAME);
    pcallReported(state, 1, 0);
    lua_pushnil(L);
    lua_setglobal(L, LUA_JITLIBNAME);
    luaopen_luaExtensions(L);
    lua_pushcfunction(L, luaregister_socket_core);
    pcallReported(state, 0, 0);
    luaopen_callbacks(L, state);
    if (savePath) DK_LoadDatabaseLib(state, savePath);
    if (loadEngine(state, enginePath)) DK_InitEngine(state);
}

void DK_LoadDatabaseLib(DK_State* state, const char* savePath) {
    EngineCall call(state, "database");
    if (!call) return;
    state->database = new DKDatabase(std::string(savePath) + "persistent.save", savePath);
    luaopen_database(state->L, state->database);
}

void DK_LoadEngineFromPath(DK_State* state, const char* path) {
    EngineCall call(state, "the engine script");
    if (call) loadEngine(state, path);
}

void DK_InitEngine(DK_State* state) {
    EngineCall call(state, "initEngine");
    if (!call) return;
    lua_State* L = state->L;
    lua_pushstring(L, "ios");
    lua_setglobal(L, "PLATFORM");
    lua_getglobal(L, "initEngine");
    pcallReported(state, 0, 0, "initEngine");
}

int DK_LoadGame(DK_State* state, const char* gamePath) {
    EngineCall call(state, "loadProject");
    if (!call) return 0;
    lua_State* L = state->L;
    int base = lua_gettop(L);
    lua_getglobal(L, "loadProject");
    lua_pushstring(L, gamePath);
    const bool missing = !callable(L, -2);
    if (missing) pushNotCallable(L, -2, "loadProject");
    if (missing || lua_pcall(L, 1, 0, 0) != 0) {
        const std::string message = lua_isstring(L, -1) ? errorText(L, -1) : "(error object is not a string)";
        // On standard error, as every other start-up failure: a person running the game reads it
        // there, and standard output stays the script's.
        std::fprintf(stderr, "DK_LoadGame Failure: %s\n", message.c_str());
        ++state->printedFailures;
        lua_settop(L, base);
    }
    return 0;
}

void DK_LoadInitialScene(DK_State* state) {
    EngineCall call(state, "loadInitialScene");
    if (!call) return;
    lua_getglobal(state->L, "loadInitialScene");
    pcallReported(state, 0, 0, "loadInitialScene");
}

void DK_DestroyState(DK_State* state) {
    if (!state) return;
    EngineCall call(state, "shutdownEngine");
    state->destroyRequested = 1;  // carried out as the outermost call returns: maybe this one
}

void DK_Play(DK_State* state) {
    if (state) callGlobalIgnored(state, "play");
}

void DK_SystemInitiatedPause(DK_State* state) {
    if (state) callGlobalIgnored(state, "systemInitiatedPause");
}

void DK_BehaviorInitiatedPause(DK_State* state) {
    if (state) callGlobalIgnored(state, "behaviorInitiatedPause");
}

void DK_Stop(DK_State* state) {
    callGlobalIgnored(state, "stop");
}

void DK_Update(DK_State* state, double dt) {
    callGlobalIgnored(state, "update", dt);
}

void DK_TouchDown(DK_State* state, double x, double y, int touchId, int touchCount) {
    callGlobalIgnored(state, "touchDown", x, y, touchId, touchCount);
}

void DK_TouchMoved(DK_State* state, double x, double y, int touchId) {
    callGlobalIgnored(state, "touchMoved", x, y, touchId);
}

void DK_TouchUp(DK_State* state, double x, double y, int touchId, int touchCount) {
    callGlobalIgnored(state, "touchUp", x, y, touchId, touchCount);
}

void DK_TouchCancel(DK_State* state) {
    callGlobalIgnored(state, "touchCancel");
}

void DK_MouseUp(DK_State* state, double x, double y) {
    callGlobalIgnored(state, "mouseUp", x, y);
}

void DK_Accelerated(DK_State* state, double x, double y, double z) {
    callGlobalIgnored(state, "accelerated", x, y, z);
}

void DK_SetDeviceOrientation(DK_State* state, int orientation, int flag) {
    EngineCall call(state, "deviceOrientationChanged");
    if (!call) return;
    lua_State* L = state->L;
    lua_getglobal(L, "deviceOrientationChanged");
    lua_pushinteger(L, orientation);
    lua_pushboolean(L, flag);
    pcallReported(state, 2, 0, "deviceOrientationChanged");
}

int DK_GetInterfaceOrientation(DK_State* state) {
    EngineCall call(state, "getInterfaceOrientation");
    if (!call) return 0;
    lua_State* L = state->L;
    lua_getglobal(L, "getInterfaceOrientation");
    if (!pcallReported(state, 0, 1, "getInterfaceOrientation")) return 0;
    int orientation = static_cast<int>(lua_tointeger(L, -1));
    lua_pop(L, 1);
    return orientation;
}

void DK_SetScreenSize(DK_State* state, int width, int height) {
    EngineCall call(state, "devices:setScreenSize");
    if (!call) return;
    lua_State* L = state->L;
    pushMethodCall(L, "devices", "setScreenSize");
    lua_pushinteger(L, width);
    lua_pushinteger(L, height);
    pcallReported(state, 4, 0);
}

void DK_SetShouldChangeToScene(DK_State* state, const char* sceneName) {
    EngineCall call(state, "game:setNeedsToChangeScene");
    if (!call) return;
    lua_State* L = state->L;
    pushMethodCall(L, "game", "setNeedsToChangeScene");
    lua_pushstring(L, sceneName);
    lua_pushboolean(L, 0);
    pcallReported(state, 4, 0);
}

void DK_SetVolume(DK_State* state, float volume) {
    EngineCall call(state, "setVolume");
    if (!call) return;
    lua_State* L = state->L;
    lua_getglobal(L, "setVolume");
    lua_pushnumber(L, static_cast<double>(volume));
    pcallReported(state, 1, 0, "setVolume");
}

void DK_RaiseExternalEvent(DK_State* state, const char* name, const char** args, int count) {
    EngineCall call(state, "raiseExternalEvent");
    if (!call) return;
    lua_State* L = state->L;
    if (!args || count < 0) count = 0;
    lua_getglobal(L, "raiseExternalEvent");
    lua_pushstring(L, name);
    lua_createtable(L, count, 0);
    for (int i = 0; i < count; ++i) {
        lua_pushstring(L, args[i]);
        lua_rawseti(L, -2, i + 1);
    }
    pcallReported(state, 2, 0, "raiseExternalEvent");
}

void DK_GetIntendedDisplaySize(DK_State* state, int* width, int* height) {
    DisplaySize size;
    EngineCall call(state, "game.attributes.displaySize");
    if (call) {
        int top = lua_gettop(state->L);
        if (lua_cpcall(state->L, readDisplaySize, &size) != 0) size = DisplaySize{};
        lua_settop(state->L, top);
    }
    if (width) *width = size.width;
    if (height) *height = size.height;
}

}  // extern "C"
