// The "scenegraph" module from Lua: its tables, ports by name, values by port type, connections,
// and misuse that must stay a Lua error.
#include <gtest/gtest.h>

#include "engine/assets/wrap_AssetManager.h"
#include "engine/sglua/wrap_Scenegraph.h"
#include "engine/sound/wrap_SoundManager.h"
#include "scenegraph/nodes/SGSpriteNode.h"
#include "scenegraph/tests/SceneGraphTestSupport.h"
#include "tests/support/TestSupport.h"

namespace dktest {

// Render managers that record instead of drawing; err(f, ...) answers the message of the error f
// raises, without its position prefix.
class SGLuaTest : public ::testing::Test {
protected:
    void SetUp() override {
        dktest::openLib(L, luaopen_soundManager, "soundManager");
        run("function err(f, ...) local ok, m = pcall(f, ...) "
            "return ok and 'no error' or (tostring(m):gsub('^[^:]*:%d+: ', '')) end");
    }
    void TearDown() override {
        run("if scene then pcall(scene.delete, scene) end");
    }  // scenes live until deleted
    std::string run(const std::string& chunk) { return L.run(chunk); }

    RecordingRenderers renderers;
    dktest::LuaState L{luaopen_scenegraph, "scenegraph"};
};

constexpr const char* kScene = R"(
    scene = scenegraph.scene.new(nil, nil)
    ortho = scene:createSpace(scenegraph.ortho2DSpace)
)";

TEST_F(SGLuaTest, MethodsFallThroughTheNodeKindsAndLayersSort) {
    // space -> render node -> node; port names come first, and each read is a fresh port object.
    EXPECT_EQ(run(std::string(kScene) + R"(
        local s, inner, second = scene:defaultSpace(), ortho:createNode(scenegraph.space), ortho:createNode(scenegraph.space)
        inner:setLayer(5) second:setLayer(-2) ortho:sortRenderNodes()
        return type(ortho.compute), ortho.x[2], ortho.x:value(), s.x == s.x, ortho:countRenderNodes(),
               inner:getLayer(), second:getLayer(), ortho:createNode(2), ortho:createNode(scenegraph.ortho2DSpace)
    )"),
              "function,28,0,false,2,5,-2,nil,nil");
}

TEST_F(SGLuaTest, ValuesAreStoredByThePortTypeAndReadThroughConnections) {
    EXPECT_EQ(run(std::string(kScene) + R"(
        local out = {}
        local function put(port, ...)
            for i = 1, select("#", ...) do port:setValue((select(i, ...))) out[#out + 1] = tostring(port:value()) end
        end
        put(scenegraph.attributeNode.new(scenegraph.STRING).value, 5, true, nil, 1.5)
        put(scenegraph.attributeNode.new(scenegraph.INTEGER).value, 3.7, -3.7, "x")
        put(ortho.x, "12.5", false)
        local flag = scenegraph.attributeNode.new(scenegraph.BOOLEAN)
        flag:setValue(0) out[#out + 1] = tostring(flag.x:value())
        put(scenegraph.attributeNode.new(scenegraph.ASSETNAME).value, "logo", true)
        -- Connections read the source converted by the source.
        local text = scenegraph.attributeNode.new(scenegraph.STRING)
        text:setValue("3.5", true)
        ortho.y:setValue(9)
        ortho.y:setValue(text.value)
        local viaPort = ortho.y:value()
        local attribute = { node = scenegraph.attributeNode.new(scenegraph.NUMBER) }
        function attribute:getNode() return self.node end
        attribute.node:setValue(0.25)
        ortho.width:connectToAttribute(attribute)
        return table.concat(out, "|"), viaPort, ortho.width:value()
    )"),
              "5|true|true|1.5|3|-3|0|12.5|0|true|logo|logo,3.5,0.25");
}

// Every plain value on every port type that takes one, with and without notify (the typed setter
// and the direct store must agree). nil is written as NIL; each port starts from `preset`.
TEST_F(SGLuaTest, PlainValuesAreConvertedByThePortType) {
    EXPECT_EQ(run(R"(
        local NIL, sg = {}, scenegraph
        local cases = {
            { sg.STRING, "old", "abc", "abc" }, { sg.STRING, "old", 5, "5" }, { sg.STRING, "old", 1.5, "1.5" },
            { sg.STRING, "old", 1e15, "1e+15" }, { sg.STRING, "old", true, "true" },
            { sg.STRING, "old", false, "false" }, { sg.STRING, "old", NIL, "old" }, { sg.STRING, "old", "", "" },
            { sg.STRING, "old", "a\0b", "a\0b" },
            { sg.ASSETNAME, "old", "logo", "logo" }, { sg.ASSETNAME, "old", 7, "7" },
            { sg.ASSETNAME, "old", true, "old" }, { sg.ASSETNAME, "old", NIL, "old" },
            { sg.NUMBER, 7, 2.5, 2.5 }, { sg.NUMBER, 7, 1 / 3, 0.3333333432674407958984375 },
            { sg.NUMBER, 7, "12.5", 12.5 }, { sg.NUMBER, 7, " 0x10 ", 16 }, { sg.NUMBER, 7, "x", 0 },
            { sg.NUMBER, 7, true, 0 }, { sg.NUMBER, 7, NIL, 0 }, { sg.NUMBER, 7, 1e300, math.huge },
            { sg.INTEGER, 7, 3.7, 3 }, { sg.INTEGER, 7, -3.7, -3 }, { sg.INTEGER, 7, "8.9", 8 },
            { sg.INTEGER, 7, "x", 0 }, { sg.INTEGER, 7, true, 0 }, { sg.INTEGER, 7, NIL, 0 },
            { sg.INTEGER, 7, 1e12, 2147483647 }, { sg.INTEGER, 7, -1e12, -2147483648 }, { sg.INTEGER, 7, 0 / 0, 0 },
            { sg.BOOLEAN, false, true, true }, { sg.BOOLEAN, true, false, false }, { sg.BOOLEAN, false, 0, true },
            { sg.BOOLEAN, true, NIL, false }, { sg.BOOLEAN, false, "no", true },
        }
        local wrong = {}
        for _, case in ipairs(cases) do
            local kind, preset, value, expected = unpack(case)
            if value == NIL then value = nil end
            for _, notify in ipairs({ false, true }) do
                local port = sg.attributeNode.new(kind).value
                port:setValue(preset)
                port:setValue(value, notify)
                local got = port:value()
                if got ~= expected then
                    wrong[#wrong + 1] = string.format("type %d, %s, notify %s: %s", kind, tostring(value),
                                                      tostring(notify), tostring(got))
                end
            end
        end
        return table.concat(wrong, "; ")
    )"),
              "");
}

// A port table is the script's to keep or change: the next access is a new table, as first made.
TEST_F(SGLuaTest, PortTablesAreNewOnEveryAccessAndChangesStayInThem) {
    EXPECT_EQ(run(std::string(kScene) + R"(
        local s = ortho:createNode(scenegraph.spriteNode)
        local p = s.x
        p.extra = true
        setmetatable(p, nil)
        local r = s.x
        r[2] = s.y[2]
        r:setValue(9)  -- the table now names y
        local q = s.x
        q:setValue(5)
        return s.x == s.x, rawequal(p, q), q[2], q.extra, getmetatable(q) == debug.getregistry()["scenegraph.portMT"],
               s.x:value(), s.y:value(), type(q[1]), q[1] == s.y[1], rawequal(q[1], ortho.x[1])
    )"),
              "false,false,28,nil,true,5,9,userdata,true,false");
}

// A frame draws what notified changes reached. Without notify nothing downstream hears of a change:
// the sprite keeps its draw record, and even when it computes again the arithmetic node still
// holds its earlier sum.
TEST_F(SGLuaTest, FramesDrawWhatNotifiedChangesReached) {
    run(std::string(kScene) + R"(
        ortho.width:setValue(64) ortho.height:setValue(64) ortho.near:setValue(-1) ortho.far:setValue(1)
        offset, square = scenegraph.attributeNode.new(scenegraph.NUMBER), ortho:createNode(scenegraph.spriteNode)
        local sum = ortho:createNode(scenegraph.arithmeticNode)
        sum.input1:setValue(offset.value) sum.input2:setValue(16)
        square.x:setValue(sum.output) square.width:setValue(16) square.height:setValue(16))");
    auto drawn = [&](const std::string& chunk) -> const SGSpriteNode* {
        renderers.drawn.clear();
        run(chunk + " scene:render()");
        for (const SGRenderNode* node : renderers.drawn)
            if (auto* sprite = dynamic_cast<const SGSpriteNode*>(node)) return sprite;
        return nullptr;
    };
    auto drawnAt = [&](const std::string& chunk) {
        const SGSpriteNode* sprite = drawn(chunk);
        return sprite ? sprite->record.centerX : -1.0f;
    };
    EXPECT_EQ(drawnAt(""), 16.0f);
    EXPECT_EQ(drawnAt("offset:setValue(24, true)"), 40.0f);
    EXPECT_EQ(drawnAt("offset:setValue(0)"), 40.0f);
    EXPECT_EQ(drawnAt("square.height:setValue(20, true)"), 40.0f);
    // The offset already holds 0: storing it again with notify marks nothing, and the sum keeps 40.
    EXPECT_EQ(drawnAt("offset.value:setValue(0, true)"), 40.0f);
    EXPECT_EQ(drawnAt("offset.value:setValue(8, true)"), 24.0f);
    // Stored without notify, a width is drawn once a move marks the sprite (which alone would
    // refresh only its placement).
    const SGSpriteNode* square = drawn("square.width:setValue(40) square.y:setValue(3, true)");
    ASSERT_TRUE(square);
    EXPECT_EQ(square->record.halfWidth, 20.0f);
}

TEST_F(SGLuaTest, ValuesThatCannotBeStoredAreReported) {
    testing::internal::CaptureStdout();
    std::string result = run(std::string(kScene) + R"(
        local ok = pcall(function() scenegraph.attributeNode.new(scenegraph.COLOR).value:setValue(1) end)
            or pcall(function() scenegraph.attributeNode.new(42).value:setValue(1) end)
        local a = scenegraph.attributeNode.new(scenegraph.NUMBER)
        a:setValue({}, true)
        local sprite = ortho:createNode(scenegraph.spriteNode)
        sprite.color:setValue(1, true)
        sprite.image:setValue("logo")
        ortho:createNode(scenegraph.soundPlayerNode).sound:setValue(true, true)
        return ok, a.value:value(), sprite.color:value()
    )");
    std::fflush(stdout);
    std::string printed = testing::internal::GetCapturedStdout();
    // Nodes of unsupported types have no value port at all, so using it is an error.
    EXPECT_EQ(result, "false,0,nil");
    EXPECT_EQ(printed,
              "SGAttributeNode creation failed - unsupported type\nSGAttributeNode creation failed - "
              "unsupported type\nAttributeNode:setValue unhandled type\n"
              "SGPort:setValue unhandled typeSGPort:setValue unhandled typeSGPort:setValue unhandled type");
}

TEST_F(SGLuaTest, RemoveNodeWithNilCallsLogtrace) {
    EXPECT_EQ(run(std::string(kScene) + R"(
        local calls = 0
        function logtrace(...) calls = calls + 1 + select("#", ...) end
        local space = scene:defaultSpace()
        space:removeNode(nil)
        space:removeNode(42)
        logtrace = function() error("from logtrace") end
        local ok, message = pcall(space.removeNode, space, nil)
        return calls, ok, message:match("from logtrace") ~= nil
    )"),
              "2,false,true");
}

TEST_F(SGLuaTest, DeletedAndDestroyedObjectsAreLuaErrors) {
    const std::string destroyed = "scenegraph: node used after it was destroyed";
    EXPECT_EQ(run(std::string(kScene) + R"(
        local inner, x, other = ortho:createNode(scenegraph.space), ortho.x, scene:createSpace(scenegraph.space)
        local sprite = ortho:createNode(scenegraph.spriteNode)
        local spriteX = sprite.x
        ortho:removeNode(sprite)
        local newSprite = ortho:createNode(scenegraph.spriteNode)  -- most likely at the removed one's address
        ortho:removeNode(inner) scene:removeSpace(other)
        local again = ortho:createNode(scenegraph.space)  -- most likely at the address of one of them
        local removed = err(inner.getLayer, inner) .. "|" .. err(other.countRenderNodes, other) .. "|" ..
                        err(spriteX.value, spriteX) .. again:getLayer() .. newSprite.x:value()
        scene:delete()
        return removed, err(scene.delete, scene), err(scene.render, scene), err(function() return ortho.x end),
               err(x.value, x))"),
              destroyed + "|" + destroyed +
                  "|scenegraph: port of a destroyed node00,scenegraph: scene deleted "
                  "twice,scenegraph.sceneMT used after delete," +
                  destroyed + ",scenegraph: port of a destroyed node");
}

// Writes through a port table whose node is gone fail whatever the value, also when a new node took
// its place, and also once the module has forgotten the gone node altogether (after many more).
TEST_F(SGLuaTest, StalePortTablesAndNodesAreErrorsAfterReuse) {
    const std::string gone = "scenegraph: port of a destroyed node|";
    const std::string stale =
        gone + gone + gone + gone + gone + "scenegraph: node used after it was destroyed|";
    EXPECT_EQ(run(std::string(kScene) + R"(
        local sprite = ortho:createNode(scenegraph.spriteNode)
        local x = sprite.x
        ortho:removeNode(sprite)
        local fresh = ortho:createNode(scenegraph.spriteNode)  -- most likely at the removed one's address
        local kept = fresh.x
        local function stale()
            return table.concat({ err(x.setValue, x, 5, true), err(x.setValue, x, "5"), err(x.setValue, x, true),
                                  err(x.setValue, x, fresh.y), err(x.setValue, x, nil), err(function() return sprite.x end),
                                  fresh.x:value() }, "|")
        end
        local first = stale()
        for i = 1, 5000 do ortho:removeNode(ortho:createNode(scenegraph.spriteNode)) end
        kept:setValue(4, true)
        return first, stale()
    )"),
              stale + "0," + stale + "4");
}

// A game that keeps making and removing nodes must not grow the module's memory of them.
TEST_F(SGLuaTest, GoneNodesAreForgotten) {
    EXPECT_EQ(run(std::string(kScene) + R"(
        local function churn(n)
            for i = 1, n do ortho:removeNode(ortho:createNode(scenegraph.spriteNode)) end
            collectgarbage() collectgarbage()
            return collectgarbage("count")
        end
        local settled = churn(5000)
        local grown = churn(30000) - settled
        return grown < 64 or grown .. " KB"
    )"),
              "true");
}

// The module's Lua side runs over LuaJIT's ffi library. Opening the module adds no global but
// "scenegraph", in a state that could load ffi already (every standard library, and a script that
// required it) as in one that could not (the engine's list); and everyone shares one ffi library:
// opening it again would start its type state afresh under the cdata already made.
TEST(SGLuaOpenTest, OpeningAddsOnlyTheLibraryAndSharesFFI) {
    RecordingRenderers renderers;
    for (bool allLibraries : {true, false}) {
        lua_State* L = luaL_newstate();
        if (allLibraries) {
            luaL_openlibs(L);
        } else {
            for (lua_CFunction open : {luaopen_base, luaopen_package, luaopen_table, luaopen_string}) {
                lua_pushcfunction(L, open);
                lua_call(L, 0, 0);
            }
        }
        runLua(L, std::string(allLibraries ? "early = require('ffi').new('int32_t[1]', 5)"
                                           : "early = { [0] = 5 }") +
                      " before = {} for name in pairs(_G) do before[name] = true end");
        openLib(L, luaopen_scenegraph, "scenegraph");
        EXPECT_EQ(runLua(L, R"(
            local added = {}
            for name in pairs(_G) do if not before[name] then added[#added + 1] = name end end
            local scene = scenegraph.scene.new(nil, nil)
            local space = scene:createSpace(scenegraph.ortho2DSpace)
            space.x:setValue(early[0], true)
            space.y:setValue(require("ffi").new("int32_t[1]", 7)[0] + 0.5, true)
            local result = table.concat(added, " ") .. " " .. space.x:value() .. " " .. space.y:value()
            scene:delete()
            return result)"),
                  "scenegraph 5 7.5")
            << (allLibraries ? "every standard library" : "the engine's");
        lua_close(L);
    }
}

TEST_F(SGLuaTest, MalformedArgumentsAreLuaErrors) {
    run(kScene);
    const char* calls[] = {
        "ortho.x.value({})",
        "local p = ortho.x p[2] = 99 p:value()",
        "ortho.gain:value()",  // a name the ortho space has no port for
        "ortho.x:setValue({})",
        // Identifiers that would name x once narrowed: the final read shows that x took nothing.
        "local p = ortho.x p[2] = 28.5 p:setValue(1)",
        "local p = ortho.x p[2] = 4294967324 p:setValue(1)",
        "local p = ortho.x p[2] = '28' p:setValue(1)",
        "local p = ortho.x p[1] = nil p:setValue(1)",
        "local p = ortho.x p[1] = newproxy() p:setValue(1)",
        "ortho.gain:setValue(1)",
        "getmetatable(ortho.x).setValue(nil, 1)",
        "getmetatable(ortho).__index(newproxy(), 'x')",
        "getmetatable(ortho).__index(ortho.x[1], 'x')",  // a light userdata names no memory to read
        "ortho.x:connectToAttribute(nil)",
        "ortho.x:connectToAttribute({ getNode = function() return ortho end })",
        "scenegraph.scene.new(1, nil)",
        "scenegraph.scene.new(nil, scene)",
        "scenegraph.scene.delete(ortho)",
        "scene:createSpace(nil)",
        "scene:removeSpace({})",
        "ortho:createNode('x')",
        "ortho:removeNode(newproxy())",
        "ortho.setLayer(scene, 1)",
        "scenegraph.attributeNode.setValue(ortho, 1)",
        "getmetatable(ortho).__index({}, 'x')",
        "getmetatable(ortho).__index(scene, 'x')",  // a userdata, but no node's
        "scene:renderWithInitialState(nil)",
    };
    for (const char* call : calls)
        EXPECT_EQ(run(std::string("return pcall(function() ") + call + " end)").rfind("false,", 0), 0u)
            << call;
    EXPECT_EQ(run("return ortho.x:value()"), "0");
}

TEST_F(SGLuaTest, CollectedAttributeNodesLiveWhileConnected) {
    EXPECT_EQ(run(std::string(kScene) + R"(
        local a = scenegraph.attributeNode.new(scenegraph.NUMBER)
        a:setValue(7)
        ortho.x:setValue(a.value)
        local keep = a.value
        a = nil
        collectgarbage() collectgarbage()
        local stillThere = keep:value()
        ortho.x:setValue(ortho.y)  -- drops the last reference
        return stillThere, err(keep.value, keep), err(keep.setValue, keep, 1, true)
    )"),
              "7,scenegraph: port of a destroyed node,scenegraph: port of a destroyed node");
}

TEST_F(SGLuaTest, SceneNeedsARendererAndTakesItsManagers) {
    // Sound nodes are made with the scene's manager: a trigger with nothing to play gives its source back.
    EXPECT_EQ(run(R"(sm = soundManager.new() s = scenegraph.scene.new(sm, nil)
        local space = s:defaultSpace()
        local listener, player = space:createNode(scenegraph.soundListenerNode), space:createNode(scenegraph.soundPlayerNode)
        player.trigger:setValue(true, true)
        local idle = player.playing:value()
        s:render()
        return idle, listener.x:value(), space:countRenderNodes(), player.sourceRelative:value())"),
              "false,240,1,true");
    SGRenderManagerMaker es1 = SGSetRenderManagerMaker(SGRenderAPI::ES1, nullptr);
    SGRenderManagerMaker es2 = SGSetRenderManagerMaker(SGRenderAPI::ES2, nullptr);
    EXPECT_EQ(run("return err(scenegraph.scene.new, nil, nil), err(s.createSpace, s, 0)"),
              "scenegraph: no renderer is installed for this GL API,scenegraph: no renderer is installed for "
              "this GL API");
    SGSetRenderManagerMaker(SGRenderAPI::ES1, es1);
    SGSetRenderManagerMaker(SGRenderAPI::ES2, es2);
    EXPECT_EQ(run("s:delete() sm:delete() return err(scenegraph.scene.new, sm, nil)"),
              "SoundManager.MT used after delete");
}

// Both managers are plain pointers under the nodes, and under the asset manager's own frames while
// the script answers a path, which calls onLookup() first (which may note what it saw).
constexpr const char* kManagersAndLoaders = R"(
    am, sm = assetManager.new(), soundManager.new()
    scene = scenegraph.scene.new(sm, am)
    local space = scene:defaultSpace()
    imageLoader, soundLoader = space:createNode(scenegraph.imageLoaderNode), space:createNode(scenegraph.soundLoaderNode)
    player, other = space:createNode(scenegraph.soundPlayerNode), space:createNode(scenegraph.soundPlayerNode)
    imageLoader.name:setValue("logo") soundLoader.name:setValue("boom")
    space:createNode(scenegraph.spriteNode).image:setValue(imageLoader.asset)
    player.sound:setValue(soundLoader.asset) player.trigger:setValue(true, true)
    local function answer(self, name) onLookup() return "missing-" .. name end
    project, seen = { pathForImage = answer, pathForSound = answer }, "not asked"
)";

// Such a callback must not destroy or rearrange what is being computed either.
TEST_F(SGLuaTest, CallbacksDuringComputeCannotDestroyTheGraph) {
    dktest::openLib(L, luaopen_assetManager, "assetManager");
    run("function onLookup() local space = scene:defaultSpace() seen = table.concat({ err(scene.delete, "
        "scene), "
        "err(space.removeNode, space, imageLoader), err(space.createNode, space, scenegraph.spriteNode) }, "
        "'|') end");
    EXPECT_EQ(
        run(std::string(kManagersAndLoaders) +
            "scene:render() scene:delete() sm:delete() am:delete() return seen"),
        "scenegraph: delete while the scene graph computes|scenegraph: removeNode while the scene graph "
        "computes|scenegraph: createNode while the scene graph computes");
}

TEST_F(SGLuaTest, AssetManagerCannotBeDeletedWhileItAsksForAPath) {
    dktest::openLib(L, luaopen_assetManager, "assetManager");
    run("function onLookup() seen = err(am.delete, am) end");
    const char* const entries[] = {
        "am:loadImageForName('a')", "am:loadImages({'a', 'b'})", "am:cleanupAndLoadImages({'a'})",
        "am:loadSoundForName('a')", "am:loadSounds({'a', 'b'})", "am:cleanupAndLoadSounds({'a'})",
        "scene:render()",          // the sprite reads its image: the image loader computes
        "player.playing:value()",  // the player reads its sound: the sound loader computes
    };
    for (const char* entry : entries)
        EXPECT_EQ(run(std::string(kManagersAndLoaders) + entry + R"(
            local alive = err(am.imageNames, am)
            scene:delete() sm:delete() am:delete()
            return seen, alive, err(am.imageNames, am))"),
                  "assetManager: delete while the manager asks the script for a path,no error,"
                  "AssetManager.MT used after delete")
            << entry;
}

// The sound manager goes with its sources: a player whose port read made the script delete it
// must not go on with either.
TEST_F(SGLuaTest, SoundManagerDeletedWhileAPlayerComputesLeavesItIdle) {
    dktest::openLib(L, luaopen_assetManager, "assetManager");
    run("function onLookup() sm:delete() seen = 'deleted' end");
    const char* const reads[] = {
        "",  // its sound, on its first trigger; then its trigger, while the other player computes:
        "player.trigger:setValue(other.playing) other.sound:setValue(soundLoader.asset) "
        "other.trigger:setValue(true, true)",
    };
    for (const char* read : reads)
        EXPECT_EQ(run(std::string(kManagersAndLoaders) + read + R"(
            local first = player.playing:value()
            player:compute()
            local again = player.playing:value()
            scene:delete() am:delete()
            return seen, first, again)"),
                  "deleted,false,false")
            << read;
}

}  // namespace dktest
