// Port writes and reads from Lua through the "scenegraph" module, against the same stores made
// from C++ and against a Lua loop that keeps one port table (what the per-access table costs).
// Prints nanoseconds per operation and operations per second, best of 5 runs.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "engine/sglua/wrap_Scenegraph.h"
#include "scenegraph/SGRenderManagerBase.h"
#include "scenegraph/SGScene.h"

namespace {

// Draws nothing: only the graph is measured.
class NullRenderManager : public SGRenderManagerBase {
protected:
    void drawClear(SGRenderNode*) override {}
    void drawOrtho2DSpace(SGSpace*) override {}
    void drawParticleSystem(SGRenderNode*) override {}
    void drawReplicator(SGSpace*) override {}
    void drawSprite(SGRenderNode*) override {}
    void drawWrapSpace(SGSpace*) override {}
};

constexpr int kOps = 2000000;

double seconds(const std::function<void()>& f) {
    double best = 1e9;
    for (int run = 0; run < 5; ++run) {
        auto start = std::chrono::steady_clock::now();
        f();
        best =
            std::min(best, std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
    return best;
}

void report(const char* label, double secs) {
    std::printf("%-58s %7.1f ns/op  %6.2f M ops/s\n", label, secs / kOps * 1e9, kOps / secs / 1e6);
}

void luaCase(lua_State* L, const char* label, const std::string& body) {
    std::string chunk = "local n, ortho, sprite = ... for i = 1, n do " + body + " end";
    luaL_loadstring(L, chunk.c_str());
    int fn = lua_gettop(L);
    report(label, seconds([&] {
               lua_pushvalue(L, fn);
               lua_pushinteger(L, kOps);
               lua_getglobal(L, "ortho");
               lua_getglobal(L, "sprite");
               if (lua_pcall(L, 3, 0, 0)) std::printf("error: %s\n", lua_tostring(L, -1));
           }));
    lua_settop(L, fn - 1);
}

// The floor of any `node.name` access: a userdata whose C `__index` returns a fresh two-slot table.
int floorIndex(lua_State* L) {
    lua_createtable(L, 2, 0);
    return 1;
}

}  // namespace

int main() {
    auto maker = [] { return std::unique_ptr<IRenderManager>(new NullRenderManager); };
    SGSetRenderManagerMaker(SGRenderAPI::ES1, maker);
    SGSetRenderManagerMaker(SGRenderAPI::ES2, maker);
    lua_State* L = luaL_newstate();
    luaL_openlibs(L);
    luaopen_scenegraph(L);
    luaL_dostring(L,
                  "scene = scenegraph.scene.new(nil, nil) "
                  "ortho = scene:createSpace(scenegraph.ortho2DSpace) "
                  "sprite = ortho:createNode(scenegraph.spriteNode) "
                  "label = scenegraph.attributeNode.new(scenegraph.STRING)");
    std::printf("%d operations per case, best of 5 runs\n", kOps);

    luaCase(L, "Lua  node.x:setValue(i, true)   (number, notify)", "ortho.x:setValue(i, true)");
    luaCase(L, "Lua  node.x:setValue(i)         (number, no notify)", "ortho.x:setValue(i)");
    luaCase(L, "Lua  node.tileWidth:setValue(i, true)  (integer)", "sprite.tileWidth:setValue(i, true)");
    luaCase(L, "Lua  node.x:value()", "local v = ortho.x:value()");
    luaCase(L, "Lua  label.value:setValue('abc', true)  (string)", "label.value:setValue('abc', true)");
    {
        luaL_loadstring(L, "local n, ortho = ... local p = ortho.x for i = 1, n do p:setValue(i, true) end");
        int fn = lua_gettop(L);
        report("Lua  one port table kept, p:setValue(i, true)", seconds([&] {
                   lua_pushvalue(L, fn);
                   lua_pushinteger(L, kOps);
                   lua_getglobal(L, "ortho");
                   lua_pcall(L, 2, 0, 0);
               }));
        lua_settop(L, fn - 1);
    }
    luaCase(L, "Lua  node.x  (port table only)", "local p = ortho.x");
    luaCase(L, "Lua  empty loop", "");
    lua_newuserdata(L, sizeof(void*));
    lua_newtable(L);
    lua_pushcfunction(L, floorIndex);
    lua_setfield(L, -2, "__index");
    lua_setmetatable(L, -2);
    lua_setglobal(L, "sprite");
    luaCase(L, "Lua  floor: a C __index making a 2-slot table", "local p = sprite.x");

    // A moving scene: x and y written on each of 20,000 sprites per frame, from a Lua heap that
    // holds them all; per sprite. The second case floods the caches between frames, as drawing does.
    luaL_dostring(L,
                  "sprites = {} for i = 1, 20000 do sprites[i] = ortho:createNode(scenegraph.spriteNode) end "
                  "function moveFrame(t) for i = 1, #sprites do local s = sprites[i] "
                  "s.x:setValue(t + i, true) s.y:setValue(t - i, true) end end");
    for (bool flood : {false, true}) {
        std::vector<char> lines(flood ? 64u << 20 : 0);
        constexpr int kFrames = 50;
        std::vector<double> frames;
        for (int frame = 0; frame < kFrames; ++frame) {
            for (size_t i = 0; i < lines.size(); i += 64) lines[i]++;
            lua_getglobal(L, "moveFrame");
            lua_pushnumber(L, frame);
            auto start = std::chrono::steady_clock::now();
            if (lua_pcall(L, 1, 0, 0)) std::printf("error: %s\n", lua_tostring(L, -1));
            frames.push_back(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
        }
        std::sort(frames.begin(), frames.end());
        std::printf("%-58s %7.1f ns/sprite (median of %d frames)\n",
                    flood ? "Lua  20,000 sprites, x and y, caches flooded"
                          : "Lua  20,000 sprites, x and y, per frame",
                    frames[kFrames / 2] / 20000 * 1e9, kFrames);
    }

    SGScene scene(nullptr, nullptr);
    auto* ortho = static_cast<SGOrtho2DSpace*>(scene.createSpace(SGNodeClassOrtho2DSpace));
    volatile float sink = 0;
    report("C++  SGNumberPort::setValue (notify)", seconds([&] {
               for (int i = 1; i <= kOps; ++i) ortho->x.setValue(static_cast<float>(i));
               sink = ortho->x.value;
           }));
    lua_close(L);
    return 0;
}
