#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/DKEngine.h"
#include "tests/support/TestSupport.h"

using testing::internal::CaptureStderr;
using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStderr;
using testing::internal::GetCapturedStdout;

namespace {

// Records every host call as "name arg ..." in the global `calls`; a function named in `failing`
// raises instead.
const char* const kRecordingScript = R"lua(
calls = {}
failing = {}
local function record(name, ...)
    local parts = { name }
    for i = 1, select("#", ...) do parts[#parts + 1] = tostring((select(i, ...))) end
    calls[#calls + 1] = table.concat(parts, " ")
    if failing[name] then error(failing[name], 0) end
end
for _, name in ipairs({ "initEngine", "loadProject", "loadInitialScene", "shutdownEngine", "update", "touchDown",
        "deviceOrientationChanged", "setVolume" }) do
    _G[name] = function(...) record(name, ...) end
end
function getInterfaceOrientation() record("getInterfaceOrientation") return 4 end
function raiseExternalEvent(name, args)
    local keys = {}
    for k in pairs(args) do keys[#keys + 1] = tostring(k) end
    table.sort(keys)
    record("raiseExternalEvent", name, "[" .. table.concat(keys, ",") .. "]", unpack(args))
end
game = { attributes = { displaySize = { width = { _value = 1024 }, height = { _value = "768" } } } }
function game:setNeedsToChangeScene(name, flag) record("setNeedsToChangeScene", self == game, name, flag) end
devices = {}
function devices:setScreenSize(w, h) record("setScreenSize", self == devices, w, h) end
)lua";

class EngineApi : public testing::Test {
protected:
    void SetUp() override {
        dktest::writeFile(script, kRecordingScript);
        state = DK_NewState(1);
    }
    void TearDown() override {
        if (state) DK_DestroyState(state);
    }
    void init(const char* savePath = nullptr) { DK_Init(state, script.c_str(), savePath); }
    std::string run(const std::string& chunk) { return dktest::runLua(state->L, chunk); }
    std::string calls() { return run("return table.concat(calls, '\\n')"); }
    std::string lastCall() { return run("return calls[#calls]"); }
    int stackTop() { return lua_gettop(state->L); }

    dktest::TempDir dir;
    std::string script = dir.file("engine.lua");
    DK_State* state = nullptr;
};

TEST_F(EngineApi, InitSetsGlobalsAndCallsInitEngine) {
    init();
    EXPECT_EQ(calls(), "initEngine");
    EXPECT_EQ(run("return PLATFORM"), "ios");
    EXPECT_EQ(run("return database"), "nil");
    EXPECT_EQ(run("return type(callbacks.loadingWillStart)"), "function");
    EXPECT_EQ(run("return type(socket.core.tcp)"), "function");
    EXPECT_EQ(run("return package.loaded['socket.core'] == socket.core"), "true");
    for (const char* lib : {"string", "table", "math", "os", "io", "package"})
        EXPECT_EQ(run(std::string("return type(") + lib + ")"), "table") << lib;
    EXPECT_EQ(stackTop(), 0);
}

TEST_F(EngineApi, LuaExtensions) {
    init();
    EXPECT_EQ(run("return typeCode('x'), typeCode({}), typeCode(nil), typeCode(1, 'last wins', print), "
                  "typeCode(coroutine.create(print))"),
              "4,5,0,6,8");
    EXPECT_EQ(run("local t = createTable(3, 2) return next(t) == nil, type(createTable(-5, -1))"),
              "true,table");
}

// Every call and its arguments are pinned through dk-engine-cli (tests/cli); here what the command
// file cannot show: the frame time, and methods reaching their script objects as `self`.
TEST_F(EngineApi, CallsReachTheScriptWithTheirArguments) {
    init();
    DK_LoadGame(state, "/games/x.gameproj");
    DK_Update(state, 0.25);
    EXPECT_EQ(DK_GetInterfaceOrientation(state), 4);
    DK_SetScreenSize(state, 480, 320);
    DK_SetShouldChangeToScene(state, "level 2");
    EXPECT_EQ(calls(),
              "initEngine\n"
              "loadProject /games/x.gameproj\n"
              "update 0.25\n"
              "getInterfaceOrientation\n"
              "setScreenSize true 480 320\n"
              "setNeedsToChangeScene true level 2 false");
    EXPECT_EQ(stackTop(), 0);
}

TEST_F(EngineApi, ExternalEventArgumentsAreATableOfExactlyCountStrings) {
    init();
    DK_RaiseExternalEvent(state, "AppHibernateStart", nullptr, 0);
    EXPECT_EQ(lastCall(), "raiseExternalEvent AppHibernateStart []");
    std::vector<const char*> ids = {"com.a", "com.b", "com.c", "not passed"};
    DK_RaiseExternalEvent(state, "InAppRestore", ids.data(), 3);
    EXPECT_EQ(lastCall(), "raiseExternalEvent InAppRestore [1,2,3] com.a com.b com.c");
    EXPECT_EQ(stackTop(), 0);
}

TEST_F(EngineApi, ReportedFailuresPrintTheErrorAndEmptyTheStack) {
    init();
    run("failing.deviceOrientationChanged = 'bad orientation'; failing.setVolume = 42; "
        "failing.loadInitialScene = 'no scene'");
    CaptureStderr();
    DK_LoadInitialScene(state);
    EXPECT_EQ(GetCapturedStderr(), "(DK_Report_Error) Lua Error: no scene\n");
    lua_pushinteger(state->L, 7);  // left behind by someone else: emptied too
    CaptureStderr();
    DK_SetDeviceOrientation(state, 1, 0);
    EXPECT_EQ(GetCapturedStderr(), "(DK_Report_Error) Lua Error: bad orientation\n");
    EXPECT_EQ(stackTop(), 0);

    CaptureStderr();
    DK_SetVolume(state, 1);
    EXPECT_EQ(GetCapturedStderr(), "(DK_Report_Error) Lua Error: 42\n");

    run("function getInterfaceOrientation() error({}) end");
    CaptureStderr();
    EXPECT_EQ(DK_GetInterfaceOrientation(state), 0);
    EXPECT_EQ(GetCapturedStderr(), "") << "a non-text error value is not printed";
    EXPECT_EQ(stackTop(), 0);
}

TEST_F(EngineApi, MissingScriptObjectsAreReportedNotFatal) {
    init();
    run("devices = nil; game = 5");
    CaptureStderr();
    DK_SetScreenSize(state, 1, 2);
    DK_SetShouldChangeToScene(state, "x");
    std::string err = GetCapturedStderr();
    EXPECT_NE(err.find("(DK_Report_Error) Lua Error: "), std::string::npos);
    EXPECT_NE(err.find("index"), std::string::npos) << err;
    EXPECT_EQ(stackTop(), 0);
}

TEST_F(EngineApi, IgnoredFailuresLeaveNothingOnTheStack) {
    init();
    run("failing.update = 'broken frame'; failing.touchDown = 'broken touch'");
    CaptureStderr();
    for (int i = 0; i < 1000; ++i) {
        DK_Update(state, 0.016);
        DK_TouchDown(state, 1, 2, 1, 1);
    }
    run("update = nil");  // a missing function fails the same way
    DK_Update(state, 0.016);
    EXPECT_EQ(GetCapturedStderr(), "");
    EXPECT_EQ(stackTop(), 0);
}

TEST_F(EngineApi, NullStateIsAcceptedByPlayAndPauses) {
    DK_Play(nullptr);
    DK_SystemInitiatedPause(nullptr);
    DK_BehaviorInitiatedPause(nullptr);
    DK_DestroyState(nullptr);
}

TEST_F(EngineApi, FailedGameLoadIsPrintedAndContained) {
    init();
    run("failing.loadProject = 'no such project'");
    CaptureStdout();
    EXPECT_EQ(DK_LoadGame(state, "/nowhere"), 0);
    EXPECT_EQ(GetCapturedStdout(), "DK_LoadGame Failure: no such project\n");
    EXPECT_EQ(stackTop(), 0);
}

TEST_F(EngineApi, BrokenOrMissingScriptStillInitialisesAndDestroys) {
    dktest::writeFile(script, "this is not lua");
    CaptureStderr();
    init();
    std::string err = GetCapturedStderr();
    EXPECT_EQ(err.rfind("(DK_Report_Error) Lua Error: ", 0), 0u) << err;
    // initEngine is attempted too and, being absent, reported.
    EXPECT_NE(err.find("attempt to call a nil value"), std::string::npos) << err;
    EXPECT_EQ(stackTop(), 0);
    DK_Update(state, 1);  // a frame on a state without a script does nothing
    EXPECT_EQ(stackTop(), 0);
}

TEST_F(EngineApi, IntendedDisplaySizeWalksTheScriptSafely) {
    init();
    int w = -1, h = -1;
    DK_GetIntendedDisplaySize(state, &w, &h);
    EXPECT_EQ(w, 1024);
    EXPECT_EQ(h, 768) << "numeric strings convert";

    const char* broken[] = {
        "game = nil",
        "game = { attributes = 3 }",
        "game = { attributes = { displaySize = {} } }",
        "game = { attributes = { displaySize = { width = { _value = 'wide' }, height = {} } } }",
        "game = setmetatable({}, { __index = function() error('trap') end })",
    };
    for (const char* setup : broken) {
        run(setup);
        lua_pushinteger(state->L, 99);
        w = h = -1;
        DK_GetIntendedDisplaySize(state, &w, &h);
        EXPECT_EQ(w, 0) << setup;
        EXPECT_EQ(h, 0) << setup;
        EXPECT_EQ(stackTop(), 1) << "stack left as found: " << setup;
        lua_settop(state->L, 0);
    }
}

struct HostLog {
    std::vector<std::string> events;
    std::vector<std::string> externalArgs;
    lua_State* externalStack = nullptr;
};

void onStart(void* user) {
    static_cast<HostLog*>(user)->events.push_back("start");
}
void onEnd(void* user) {
    static_cast<HostLog*>(user)->events.push_back("end");
}
void onGameEnd(void* user) {
    static_cast<HostLog*>(user)->events.push_back("gameDidEnd");
}
int onExternal(void* data, lua_State* L) {
    auto* log = static_cast<HostLog*>(data);
    log->externalStack = L;
    log->externalArgs.clear();
    for (int i = 1; i <= lua_gettop(L); ++i)
        log->externalArgs.push_back(lua_tostring(L, i) ? lua_tostring(L, i) : luaL_typename(L, i));
    lua_pushstring(L, "answer");
    lua_pushinteger(L, 7);
    return 2;
}

TEST_F(EngineApi, CallbacksLibraryReachesTheHostAtCallTime) {
    HostLog log;
    init();
    // Unset callbacks are no-ops.
    EXPECT_EQ(run("callbacks.loadingWillStart() return select('#', callbacks.callExternalFunction('x'))"),
              "0");
    // Set after DK_Init: read when the script calls.
    state->callbacks = {onStart, onEnd, onGameEnd, &log, onExternal, &log};
    run("callbacks.loadingWillStart() callbacks.loadingWillEnd() callbacks.gameDidEnd()");
    EXPECT_EQ(log.events, (std::vector<std::string>{"start", "end", "gameDidEnd"}));

    EXPECT_EQ(run("local a, b = callbacks.callExternalFunction('buy', 3) return a .. '/' .. b"), "answer/7");
    EXPECT_EQ(log.externalArgs, (std::vector<std::string>{"buy", "3"}));
    EXPECT_EQ(log.externalStack, state->L);
    // From a coroutine the host sees the coroutine's own stack.
    EXPECT_EQ(
        run(R"(local co = coroutine.create(function(x) return callbacks.callExternalFunction('share', x) end)
                     return coroutine.resume(co, 'from-coroutine'))"),
        "true,answer,7");
    EXPECT_EQ(log.externalArgs, (std::vector<std::string>{"share", "from-coroutine"}));
    EXPECT_NE(log.externalStack, state->L);
    EXPECT_EQ(stackTop(), 0);
}

TEST_F(EngineApi, DestroyCallsShutdownEngineLast) {
    init();
    run(R"(function shutdownEngine() local f = io.open(OUT, 'w') f:write(#calls) f:close() end)");
    std::string out = dir.file("shutdown.txt");
    lua_pushstring(state->L, out.c_str());
    lua_setglobal(state->L, "OUT");
    DK_DestroyState(state);
    state = nullptr;
    EXPECT_EQ(dktest::readFile(out), "1");
}

}  // namespace
