// What keeps a script's moving sprites cheap: LuaJIT compiles the loop that writes their ports,
// the module's own functions included, and the port tables the loop makes never reach the
// collector. Trace events tell which code aborted a trace; counting with the collector stopped
// shows every byte the frames allocate.
#include <gtest/gtest.h>

#include "engine/sglua/wrap_Scenegraph.h"
#include "scenegraph/tests/SceneGraphTestSupport.h"
#include "tests/support/TestSupport.h"

namespace dktest {
namespace {

// 300 sprites that only move, written the way a game writes them. The loop is a chunk of its own
// ("=move") so that trace events can tell its code from the module's.
constexpr const char* kMovingScene = R"(
    scene = scenegraph.scene.new(nil, nil)
    local ortho = scene:createSpace(scenegraph.ortho2DSpace)
    sprites = {}
    for i = 1, 300 do sprites[i] = ortho:createNode(scenegraph.spriteNode) end
    move = loadstring([[
        local sprites, t = ...
        for i = 1, #sprites do
            local s = sprites[i]
            s.x:setValue(t + i, true)
            s.y:setValue(t - i * 0.5, true)
        end
    ]], "=move")
    function frame(t) move(sprites, t) scene:render() end

    local jit, util, vmdef = require("jit"), require("jit.util"), require("jit.vmdef")
    local moduleSource = util.funcinfo(getmetatable(sprites[1]).__index).source
    local ours = { ["=move"] = true, [moduleSource or "=move"] = true }
    local startedIn = {}
    aborts, loops = {}, 0
    jit.attach(function(what, trace, func, pc, code, info)
        local where = util.funcinfo(func, pc)
        if what == "start" then
            startedIn[trace] = where.source
        elseif what == "abort" and (ours[where.source] or ours[startedIn[trace]]) then
            local reason = string.format(vmdef.traceerr[code], info)
            -- A trace started at the entry of the node __index metamethod (hot a little before
            -- the loop is) cannot return through the metamethod's caller. That costs nothing:
            -- the loop's own trace takes the function in.
            if not (startedIn[trace] == moduleSource and reason == "NYI: return to lower frame") then
                aborts[#aborts + 1] = where.source .. ":" .. tostring(where.currentline) .. " " .. reason
            end
        elseif what == "stop" and where.source == "=move" and util.traceinfo(trace).linktype == "loop" then
            loops = loops + 1
        end
    end, "trace")
)";

class SGLuaCompilerTest : public ::testing::Test {
protected:
    void TearDown() override { L.run("if scene then scene:delete() end"); }  // scenes live until deleted
    void frame(int t) {
        lua_getglobal(L, "frame");
        lua_pushnumber(L, t);
        ASSERT_EQ(lua_pcall(L, 1, 0, 0), 0) << lua_tostring(L, -1);
    }
    long allocatedBytes() { return lua_gc(L, LUA_GCCOUNT, 0) * 1024L + lua_gc(L, LUA_GCCOUNTB, 0); }

    RecordingRenderers renderers;
    LuaState L{luaopen_scenegraph, "scenegraph"};
};

TEST_F(SGLuaCompilerTest, MovingSpritesCompileAndAllocateNothing) {
    ASSERT_EQ(L.run(kMovingScene), "");
    for (int t = 0; t < 60; ++t) frame(t);  // compiled within the first, settled well before the last
    lua_gc(L, LUA_GCCOLLECT, 0);
    lua_gc(L, LUA_GCSTOP, 0);
    long before = allocatedBytes();
    for (int t = 60; t < 80; ++t) frame(t);
    long grown = allocatedBytes() - before;
    lua_gc(L, LUA_GCRESTART, 0);
    EXPECT_EQ(grown, 0) << "bytes allocated by 20 frames of 300 moved sprites";
    EXPECT_EQ(L.run("require('jit').attach(function() end) return loops > 0, table.concat(aborts, '; ')"),
              "true,");
    EXPECT_EQ(L.run("return sprites[300].x:value(), sprites[300].y:value()"), "379,-71");
}

}  // namespace
}  // namespace dktest
