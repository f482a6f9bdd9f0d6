// What the command-file tests of dk-engine-cli cannot show: reported errors and the stack,
// protected method calls, the display-size walk, the callbacks library and socket.core's sleep.
// (Ignored errors of failing frames are in the command-file run.)
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include "engine/tests/EngineTestSupport.h"

namespace dktest {
namespace {

class EngineApi : public EngineTest {
protected:
    void SetUp() override { open(""); }
    int stackTop() { return lua_gettop(state->L); }
};

TEST_F(EngineApi, InitOpensTheLibrariesAndExtensions) {
    EXPECT_EQ(run("return PLATFORM, database, type(callbacks.gameDidEnd), type(socket.core.tcp), "
                  "package.loaded['socket.core'] == socket.core, type(io), type(tableHelper)"),
              "ios,nil,function,function,true,table,table");
    EXPECT_EQ(run("return typeCode('x'), typeCode({}), typeCode(nil), typeCode(1, 'last wins', print), "
                  "next(createTable(3, 2)), type(createTable(-5, -1))"),
              "4,5,0,6,nil,table");
    // LuaJIT's compiler is on (a hot loop leaves a trace), with no "jit" global.
    EXPECT_EQ(run("local s = 0 for i = 1, 1000 do s = s + i end "
                  "return jit, require('jit.util').traceinfo(1) ~= nil"),
              "nil,true");
    // The physics module is opened, and its collision callbacks reach the engine's script.
    EXPECT_EQ(
        run("dofile('" DK_SOURCE_DIR "/engine/physics/tests/data/prelude.lua') drop(2, 2) return logText()"),
        "began 1.2 2.2");
}

// LuaSocket's own sleep spins forever on NaN: the engine's takes it as 0 (also as a string the
// number conversion accepts) and hands everything else on. Should a sleep never return, the alarm
// ends the test rather than the suite's patience.
TEST_F(EngineApi, SocketSleepTakesNaNAsZero) {
    alarm(30);
    EXPECT_EQ(run("local sleep = socket.core.sleep sleep(0/0) sleep('nan') sleep(-1) sleep(0.001) "
                  "local ok, message = pcall(sleep, 'soon') "
                  "return ok, message:find('number expected') ~= nil, require('socket.core').sleep == sleep"),
              "false,true,true");
    alarm(0);
}

TEST_F(EngineApi, FailedAndMissingCallsPrintTheErrorAndEmptyTheStack) {
    run("failing.deviceOrientationChanged = 'bad orientation'; failing.setVolume = 42; "
        "failing.loadInitialScene = {}");
    lua_pushinteger(state->L, 7);  // left behind by someone else: emptied too
    testing::internal::CaptureStderr();
    DK_SetDeviceOrientation(state, 1, 0);
    DK_SetVolume(state, 1);
    DK_LoadInitialScene(state);  // a value that is not text is not printed
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "(DK_Report_Error) Lua Error: bad orientation\n(DK_Report_Error) Lua Error: 42\n");
    EXPECT_EQ(stackTop(), 0);
    // The command-file run shows the method calls reaching devices and game; here, those missing.
    run("devices = nil game = 5");
    testing::internal::CaptureStderr();
    DK_SetScreenSize(state, 1, 2);
    DK_SetShouldChangeToScene(state, "x");
    const std::string missing = testing::internal::GetCapturedStderr();
    EXPECT_EQ(missing.rfind("(DK_Report_Error) Lua Error: ", 0), 0u);
    EXPECT_EQ(std::count(missing.begin(), missing.end(), '\n'), 2) << missing;
    EXPECT_EQ(stackTop(), 0);
}

// "attempt to call a nil value" alone leaves an author guessing which function is missing.
TEST_F(EngineApi, MissingFunctionsAreNamed) {
    run("initEngine = nil getInterfaceOrientation = nil setVolume = 3 devices = {} game = nil");
    const int failures = state->printedFailures;
    testing::internal::CaptureStderr();
    DK_InitEngine(state);
    EXPECT_EQ(DK_GetInterfaceOrientation(state), 0);
    DK_SetVolume(state, 1);
    DK_SetScreenSize(state, 1, 2);
    DK_SetShouldChangeToScene(state, "x");
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "(DK_Report_Error) Lua Error: attempt to call a nil value (global 'initEngine')\n"
              "(DK_Report_Error) Lua Error: attempt to call a nil value (global 'getInterfaceOrientation')\n"
              "(DK_Report_Error) Lua Error: attempt to call a number value (global 'setVolume')\n"
              "(DK_Report_Error) Lua Error: attempt to call a nil value (method 'setScreenSize' of global "
              "'devices')\n"
              "(DK_Report_Error) Lua Error: attempt to index a nil value (global 'game')\n");
    EXPECT_EQ(state->printedFailures, failures + 5);
    EXPECT_EQ(stackTop(), 0);
    run("loadProject = nil");
    testing::internal::CaptureStderr();
    EXPECT_EQ(DK_LoadGame(state, "Game.gameproj"), 0);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "DK_LoadGame Failure: attempt to call a nil value (global 'loadProject')\n");
    EXPECT_EQ(state->printedFailures, failures + 6);
}

struct Failure {
    std::string function, message, traceback;
};

void keepFailure(void* data, const char* function, const char* message, const char* traceback) {
    static_cast<std::vector<Failure>*>(data)->push_back({function, message, traceback});
}

// With a host handler the failures of ignored calls reach it with their traceback; a function the
// script leaves out is none, and the stack is left as it was found either way.
TEST_F(EngineApi, IgnoredFailuresReachTheHostsHandlerWithTheirTraceback) {
    std::vector<Failure> failures;
    state->scriptErrorHandler = keepFailure;
    state->scriptErrorData = &failures;
    run("function helper(t) return t.x end "
        "function update(dt) local x = helper(nil) return x end "
        "touchDown = nil stop = 5 "
        "function play() error({}) end "
        "function touchCancel() error('stack traceback: in the text', 0) end "
        "function mouseUp(x, y) end");
    lua_pushinteger(state->L, 42);
    for (int frame = 0; frame < 3; ++frame) DK_Update(state, 0.1);
    DK_TouchDown(state, 1, 2, 1, 1);
    DK_Stop(state);
    DK_Play(state);
    DK_TouchCancel(state);
    DK_MouseUp(state, 0, 0);
    EXPECT_EQ(stackTop(), 1);
    ASSERT_EQ(failures.size(), 6u);
    for (int frame = 0; frame < 3; ++frame) {
        EXPECT_EQ(failures[frame].function, "update");
        EXPECT_NE(failures[frame].message.find("attempt to index local 't' (a nil value)"), std::string::npos)
            << failures[frame].message;
        EXPECT_EQ(failures[frame].traceback.rfind("stack traceback:\n", 0), 0u) << failures[frame].traceback;
        EXPECT_NE(failures[frame].traceback.find("'helper'"), std::string::npos) << failures[frame].traceback;
    }
    EXPECT_EQ(failures[3].function, "stop");
    EXPECT_EQ(failures[3].message, "attempt to call a number value (global 'stop')");
    EXPECT_EQ(failures[3].traceback, "");
    EXPECT_EQ(failures[4].function, "play");
    EXPECT_EQ(failures[4].message, "(error object is a table value)");
    EXPECT_EQ(failures[5].message, "stack traceback: in the text");
    EXPECT_EQ(failures[5].traceback.rfind("stack traceback:\n", 0), 0u);
    // Without a handler the failures are dropped, as before.
    state->scriptErrorHandler = nullptr;
    testing::internal::CaptureStderr();
    DK_Update(state, 0.1);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(failures.size(), 6u);
    EXPECT_EQ(stackTop(), 1);
}

// An error text with a NUL in it was cut there, on every road out: each keeps it whole, the NUL
// written \0.
TEST_F(EngineApi, AnErrorTextWithANulIsKeptWhole) {
    run("function setVolume() error('before\\0after', 0) end "
        "function play() error('in\\0play', 0) end "
        "function loadProject() error('no\\0scenes', 0) end");
    testing::internal::CaptureStderr();
    DK_SetVolume(state, 1);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "(DK_Report_Error) Lua Error: before\\0after\n");
    std::vector<Failure> failures;
    state->scriptErrorHandler = keepFailure;
    state->scriptErrorData = &failures;
    DK_Play(state);
    ASSERT_EQ(failures.size(), 1u);
    EXPECT_EQ(failures[0].message, "in\\0play");
    testing::internal::CaptureStderr();
    DK_LoadGame(state, "Game.gameproj");
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "DK_LoadGame Failure: no\\0scenes\n");
}

// A script that cannot be loaded ran nothing: its one report says why, and no initEngine call adds
// a second line that names no cause.
TEST_F(EngineApi, AnEngineScriptThatCannotBeLoadedIsReportedOnce) {
    writeFile(dir.file("broken.lua"), "function initEngine() end\nx = = 1\n");
    writeFile(dir.file("failing.lua"), "function initEngine() end\nerror('half way')\n");
    const struct {
        std::string script;
        std::string says;
        int failures;
    } cases[] = {
        {dir.file("broken.lua"), "broken.lua:2: unexpected symbol near '='", 1},
        {dir.file("missing.lua"), "missing.lua", 1},
        {dir.path(), "cannot read " + dir.path(), 1},
        // It ran half way: initEngine is called, as it exists.
        {dir.file("failing.lua"), "failing.lua:2: half way", 1},
    };
    for (const auto& c : cases) {
        testing::internal::CaptureStderr();
        open("", c.script);
        const std::string err = testing::internal::GetCapturedStderr();
        EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
        EXPECT_EQ(err.rfind("(DK_Report_Error) Lua Error: ", 0), 0u) << err;
        EXPECT_NE(err.find(c.says), std::string::npos) << err;
        EXPECT_EQ(state->printedFailures, c.failures) << c.script;
    }
}

TEST_F(EngineApi, IntendedDisplaySizeWalksTheScriptSafely) {
    const std::vector<std::pair<const char*, std::string>> cases = {
        {"", "1024 768"},  // numeric strings convert
        {"game = nil", "0 0"},
        {"game = { attributes = 3 }", "0 0"},
        {"game = { attributes = { displaySize = {} } }", "0 0"},
        {"game = { attributes = { displaySize = { width = { _value = 'wide' }, height = {} } } }", "0 0"},
        {"game = setmetatable({}, { __index = function() error('trap') end })", "0 0"},
    };
    for (const auto& [setup, expected] : cases) {
        run(setup);
        lua_pushinteger(state->L, 99);
        int w = -1, h = -1;
        DK_GetIntendedDisplaySize(state, &w, &h);
        EXPECT_EQ(std::to_string(w) + " " + std::to_string(h), expected) << setup;
        EXPECT_EQ(stackTop(), 1) << "stack left as found: " << setup;
        lua_settop(state->L, 0);
    }
}

struct Host {
    std::vector<std::string> log;
    lua_State* stack = nullptr;
    int results = 0;  // what the host claims to have pushed
};

// Logs the arguments it finds on the caller's stack and pushes "answer", 7.
int onExternal(void* data, lua_State* L) {
    auto* host = static_cast<Host*>(data);
    host->stack = L;
    for (int i = 1; i <= lua_gettop(L); ++i) host->log.push_back(lua_tostring(L, i));
    lua_pushstring(L, "answer");
    lua_pushinteger(L, 7);
    return host->results;
}

TEST_F(EngineApi, CallbacksReachTheHostAtCallTimeOnTheCallersStack) {
    EXPECT_EQ(run("callbacks.loadingWillStart() return select('#', callbacks.callExternalFunction('x'))"),
              "0");
    Host host;
    state->callbacks = {nullptr, nullptr, nullptr, nullptr, onExternal, &host};
    host.results = 2;
    EXPECT_EQ(run("return callbacks.callExternalFunction('buy', 3)"), "answer,7");
    EXPECT_EQ(host.stack, state->L);
    EXPECT_EQ(
        run("local co = coroutine.create(function(x) return callbacks.callExternalFunction('share', x) end)"
            "return coroutine.resume(co, 'co')"),
        "true,answer,7");
    EXPECT_NE(host.stack, state->L);
    EXPECT_EQ(host.log, (std::vector<std::string>{"buy", "3", "share", "co"}));
    // A host claiming more results than the stack holds gets what is there; a negative count none.
    host.results = 10;
    EXPECT_EQ(run("return select('#', callbacks.callExternalFunction('a'))"), "3");
    host.results = -1;
    EXPECT_EQ(run("return select('#', callbacks.callExternalFunction('a'))"), "0");
    EXPECT_EQ(stackTop(), 0);
}

// Native functions count their arguments from the top of the stack: called short, they read the
// missing ones as nil, never the slots below their frame.
class ShortCalls : public EngineTest {
    void SetUp() override { open(save); }
};

TEST_F(ShortCalls, FromTheScriptsUpdate) {
    const char* calls[] = {"database.storeValueForKey('k')",
                           "database.storeValueForKey()",
                           "local v = database.loadValueForKey()",
                           "platformWrappers.playMusic('song.ogg')",
                           "platformWrappers.logDebugStatement()",
                           "local t = createTable()",
                           "local c = typeCode()"};
    for (const char* call : calls) {
        SCOPED_TRACE(call);
        runLua(state->L, std::string("done = false function update() ") + call + " done = true end");
        DK_Update(state, 0.1);
        EXPECT_EQ(runLua(state->L, "return done"), "true");
    }
    EXPECT_FALSE(exists(dir.file("persistent.save")));  // a key read as nil stores nothing
}

TEST_F(ShortCalls, EveryNativeFunctionWithNoArguments) {
    lua_State* L = state->L;
    LuaState plain;
    setGlobal(L, "plain",
              plain.run("local names = {} for name in pairs(_G) do names[#names + 1] = name end "
                        "return table.concat(names, ' ')"));
    openLib(L, luaopen_debug, LUA_DBLIBNAME);
    const int top = lua_gettop(L);
    ASSERT_EQ(luaL_loadfile(L, DK_TEST_DATA_DIR "/no_arguments.lua"), 0);
    ASSERT_EQ(lua_pcall(L, 0, 1, 0), 0) << lua_tostring(L, -1);
    EXPECT_EQ(lua_gettop(L), top + 1);
    EXPECT_GT(lua_tonumber(L, -1), 0);
    lua_settop(L, top);
}

}  // namespace
}  // namespace dktest
