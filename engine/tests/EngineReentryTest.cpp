// A host that destroys its state from inside one of the state's own calls: from each callback of
// the block, under each kind of engine call that runs the script.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "engine/DKEngine.h"

namespace {

// Destroys the state from the callback `via` while the script runs `at`, then tries more engine
// calls on it; logs what the script (data/reentry.lua) tells it, joined by "|".
struct Destroyer {
    Destroyer(const char* at, const char* via) : at(at), via(via) {}
    std::string at, via, current, log;
    DK_State* state = nullptr;
    bool done = false;

    void note(const std::string& line) { log += (log.empty() ? "" : "|") + line; }
    void callback(const std::string& name) {
        if (done || current != at || name != via) return;
        done = true;
        DK_DestroyState(state);
        DK_DestroyState(state);  // asked twice, done once
        DK_Update(state, 0.1);   // would log "enter update"
        int width = -1, height = -1;
        DK_GetIntendedDisplaySize(state, &width, &height);
        note("destroy " + std::to_string(DK_GetInterfaceOrientation(state)) + " " + std::to_string(width) +
             " " + std::to_string(height));
    }
    static void on(void* host, const char* name) { static_cast<Destroyer*>(host)->callback(name); }
    static int external(void* data, lua_State* L) {
        auto* host = static_cast<Destroyer*>(data);
        const std::string kind = lua_tostring(L, 1), name = lua_isstring(L, 2) ? lua_tostring(L, 2) : "";
        if (kind == "call") host->callback("callExternalFunction");
        if (kind == "enter") host->current = name;
        if (kind != "call") host->note(name.empty() ? kind : kind + " " + name);
        return 0;
    }
};

TEST(EngineReentry, AStateDestroyedFromItsOwnCallbacksGoesWhenTheOutermostCallReturns) {
    struct Case {
        const char* at;
        const char* via;
        std::function<void(DK_State*)> start;  // after DK_Init; none: DK_Init itself
    };
    const Case cases[] = {
        {"initEngine", "loadingWillStart", nullptr},
        {"loadProject", "loadingWillEnd", [](DK_State* s) { DK_LoadGame(s, "game"); }},
        {"update", "gameDidEnd", [](DK_State* s) { DK_Update(s, 0.1); }},
        {"update", "callExternalFunction", [](DK_State* s) { DK_Update(s, 0.1); }},
        {"touchDown", "loadingWillEnd", [](DK_State* s) { DK_TouchDown(s, 1, 2, 3, 1); }},
        {"touchUp", "callExternalFunction", [](DK_State* s) { DK_TouchUp(s, 1, 2, 3, 0); }},
        {"raiseExternalEvent", "gameDidEnd", [](DK_State* s) { DK_RaiseExternalEvent(s, "e", nullptr, 0); }},
        {"getInterfaceOrientation", "callExternalFunction",
         [](DK_State* s) { DK_GetInterfaceOrientation(s); }},
        {"attributes", "gameDidEnd", [](DK_State* s) { DK_GetIntendedDisplaySize(s, nullptr, nullptr); }},
        {"setScreenSize", "loadingWillStart", [](DK_State* s) { DK_SetScreenSize(s, 4, 3); }},
        {"shutdownEngine", "gameDidEnd", [](DK_State* s) { DK_DestroyState(s); }},
    };
    for (const Case& c : cases) {
        Destroyer host(c.at, c.via);
        host.state = DK_NewState(1);
        host.state->callbacks = {[](void* h) { Destroyer::on(h, "loadingWillStart"); },
                                 [](void* h) { Destroyer::on(h, "loadingWillEnd"); },
                                 [](void* h) { Destroyer::on(h, "gameDidEnd"); },
                                 &host,
                                 Destroyer::external,
                                 &host};
        DK_Init(host.state, DK_TEST_DATA_DIR "/reentry.lua", nullptr);
        if (c.start) {
            host.log.clear();
            c.start(host.state);
        }
        // The running call ends on a live state, nothing runs the script after the request but the
        // shutdown, and the state is closed once.
        const std::string shutdown =
            host.at == "shutdownEngine" ? "" : "enter shutdownEngine|leave shutdownEngine|";
        EXPECT_EQ(host.log,
                  "enter " + host.at + "|destroy 0 0 0|leave " + host.at + "|" + shutdown + "closed")
            << c.at << " via " << c.via;
    }
}

}  // namespace
