// What a game leaves in the process is gone for the next engine state: all the process state a
// script can move reads the same in a state opened after one that moved it as in a fresh one.
#include <functional>
#include <string>

#include "engine/tests/EngineTestSupport.h"
#include "port/DKMusic.h"

namespace dktest {
namespace {

using ProcessState = EngineTest;

const std::string kPlaySong =
    "platformWrappers.playMusic('" DK_SOURCE_DIR "/games/sample/Sample.app/Sample.gameproj/sounds/background.wav', 1) ";

TEST_F(ProcessState, WhatAGameLeavesIsGoneForTheNextState) {
    auto lua = [this](const std::string& chunk) { return [this, chunk] { return run(chunk); }; };
    const struct {
        const char* what;
        std::string leave;  // run in the first state, which then closes
        std::function<std::string()> probe;
    } cases[] = {
        {"the game clock starts at 0", "", lua("return platformWrappers.getSystemTime()")},
        {"music stops and its volume comes back",
         "platformWrappers.setMusicVolume(0.3) " + kPlaySong,
         [&] {
             return run("return platformWrappers.isMusicPlaying()") + " " +
                    std::to_string(DKMusicManager::sharedMusicManager().getVolume());
         }},
        {"node tokens start again",
         "nodes = {} for i = 1, 3 do nodes[i] = scenegraph.attributeNode.new(scenegraph.NUMBER) end",
         lua("return tostring(scenegraph.attributeNode.new(scenegraph.NUMBER).x[1])")},
        {"the host's locale comes back", "os.setlocale('C.UTF-8')", lua("return os.setlocale()")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        open("");
        const std::string fresh = c.probe();
        EXPECT_FALSE(isLuaError(fresh)) << fresh;
        EXPECT_EQ(run(c.leave), "");
        close();
        open("");
        EXPECT_EQ(c.probe(), fresh);
    }
}

// Only the last state's closing resets: a state closing beside another leaves the other's nodes,
// music and clock alone.
TEST_F(ProcessState, AStateClosingBesideAnotherResetsNothing) {
    open("");
    EXPECT_EQ(run("node = scenegraph.attributeNode.new(scenegraph.NUMBER) " + kPlaySong +
                  "platformWrappers.getSystemTime()"),
              "");
    DK_State* other = DK_NewState(1);
    DK_Init(other, DK_TEST_DATA_DIR "/recorder.lua", nullptr);
    DK_DestroyState(other);
    EXPECT_EQ(run("node:setValue(1) return platformWrappers.isMusicPlaying(), "
                  "platformWrappers.getSystemTime() > 0"),
              "1,true");
}

}  // namespace
}  // namespace dktest
