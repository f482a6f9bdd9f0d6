// bench_physics: the cost of stepping a world through the "physics" Lua module against the same
// world stepped by a plain C++ program on Box2D, measured side by side in one run.
//
// The two worlds are built from the same float values in the same order and every pair collides in
// both, so they simulate identically; the final positions are compared to make sure.
#include <box2d/box2d.h>
#include <lua.hpp>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "engine/physics/wrap_Physics.h"

namespace {

constexpr int kColumns = 25;
constexpr int kRows = 20;
constexpr int kSteps = 600;
constexpr int kRepeats = 5;
constexpr double kMetresPerPixel = double(0.02f);

float metres(double pixels) {
    return float(pixels * kMetresPerPixel);
}

const char* kScript = R"lua(
local P = physics
local function body(x, y, kind)
    local d = P.BodyDefinition.new()
    d:setType(kind) d:setPosition(x, y) d:addCollisionCategory(1)
    return world:createBody(d)
end
local function fixture(b, shape)
    local fd = P.FixtureDefinition.new(nil)
    fd:setShape(shape) fd:setDensity(1) fd:addCollisionMaskCategory(1)
    b:createFixture(fd)
end
local function box(x, y, hw, hh)
    local s = P.PolygonShape.new() s:setAsBox(hw, hh)
    fixture(body(x, y, 0), s)
end
function build(columns, rows)
    world = P.World.new(0, 500, true)
    box(400, 590, 400, 10)  box(0, 300, 10, 300)  box(800, 300, 10, 300)
    balls = {}
    for row = 0, rows - 1 do
        for column = 0, columns - 1 do
            local b = body(100 + column * 12 + (row % 2) * 3, 50 + row * 12, 2)
            fixture(b, P.CircleShape.new(5))
            balls[#balls + 1] = b
        end
    end
end
function run(steps)
    for i = 1, steps do world:step(1 / 60, 8, 3) end
end
function runAndRead(steps)
    local sum = 0
    for i = 1, steps do
        world:step(1 / 60, 8, 3)
        for j = 1, #balls do local x, y = balls[j]:position() sum = sum + x + y end
    end
    return sum
end
function positions()
    local out = {}
    for j = 1, #balls do local x, y = balls[j]:position() out[#out + 1] = x out[#out + 1] = y end
    return out
end
)lua";

struct RawWorld {
    b2World world{b2Vec2(metres(0), metres(500))};
    std::vector<b2Body*> balls;

    b2Body* body(double x, double y, b2BodyType type) {
        b2BodyDef d;
        d.type = type;
        d.position.Set(metres(x), metres(y));
        return world.CreateBody(&d);
    }
    void fixture(b2Body* b, const b2Shape& shape) {
        b2FixtureDef fd;
        fd.shape = &shape;
        fd.density = 1;
        b->CreateFixture(&fd);
    }
    void box(double x, double y, double hw, double hh) {
        b2PolygonShape s;
        s.SetAsBox(std::max(metres(hw), 0.01f), std::max(metres(hh), 0.01f));
        fixture(body(x, y, b2_staticBody), s);
    }
    RawWorld() {
        world.SetAllowSleeping(true);
        box(400, 590, 400, 10);
        box(0, 300, 10, 300);
        box(800, 300, 10, 300);
        for (int row = 0; row < kRows; ++row) {
            for (int column = 0; column < kColumns; ++column) {
                b2Body* b = body(100 + column * 12 + (row % 2) * 3, 50 + row * 12, b2_dynamicBody);
                b2CircleShape c;
                c.m_radius = metres(5);
                fixture(b, c);
                balls.push_back(b);
            }
        }
    }
    void run(int steps) {
        for (int i = 0; i < steps; ++i) world.Step(1.0f / 60.0f, 8, 3);
    }
    double runAndRead(int steps) {
        double sum = 0;
        for (int i = 0; i < steps; ++i) {
            world.Step(1.0f / 60.0f, 8, 3);
            for (b2Body* b : balls) {
                const b2Vec2& p = b->GetPosition();
                sum += double(p.x * 50.0f) + double(p.y * 50.0f);
            }
        }
        return sum;
    }
    std::vector<double> positions() const {
        std::vector<double> out;
        for (b2Body* b : balls) {
            out.push_back(b->GetPosition().x * 50.0f);
            out.push_back(b->GetPosition().y * 50.0f);
        }
        return out;
    }
};

struct LuaWorld {
    lua_State* L = luaL_newstate();

    LuaWorld() {
        luaL_openlibs(L);
        lua_pushcfunction(L, luaopen_physics);
        lua_call(L, 0, 0);
        if (luaL_dostring(L, kScript) != 0) fail();
        call("build", kColumns, kRows);
    }
    ~LuaWorld() { lua_close(L); }
    void fail() {
        std::fprintf(stderr, "bench_physics: %s\n", lua_tostring(L, -1));
        std::exit(1);
    }
    void call(const char* name, int a, int b = -1) {
        lua_getglobal(L, name);
        lua_pushinteger(L, a);
        if (b >= 0) lua_pushinteger(L, b);
        if (lua_pcall(L, b >= 0 ? 2 : 1, 0, 0) != 0) fail();
    }
    std::vector<double> positions() {
        lua_getglobal(L, "positions");
        if (lua_pcall(L, 0, 1, 0) != 0) fail();
        std::vector<double> out;
        for (int i = 1; i <= int(lua_objlen(L, -1)); ++i) {
            lua_rawgeti(L, -1, i);
            out.push_back(lua_tonumber(L, -1));
            lua_pop(L, 1);
        }
        lua_pop(L, 1);
        return out;
    }
};

template <class F>
double secondsOf(F&& f) {
    auto start = std::chrono::steady_clock::now();
    f();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Best of kRepeats fresh worlds, in milliseconds per step; the two sides alternate.
struct Pair {
    double raw = 1e9, lua = 1e9;
};

Pair measure(bool read, bool* identical) {
    Pair best;
    for (int r = 0; r < kRepeats; ++r) {
        {
            RawWorld raw;
            best.raw =
                std::min(best.raw, secondsOf([&] { read ? (void)raw.runAndRead(kSteps) : raw.run(kSteps); }));
            LuaWorld lua;
            best.lua = std::min(best.lua, secondsOf([&] { lua.call(read ? "runAndRead" : "run", kSteps); }));
            if (r == 0) *identical = *identical && raw.positions() == lua.positions();
        }
    }
    best.raw *= 1000.0 / kSteps;
    best.lua *= 1000.0 / kSteps;
    return best;
}

}  // namespace

int main() {
    bool identical = true;
    Pair step = measure(false, &identical);
    Pair read = measure(true, &identical);
    std::printf(
        "bench_physics: %d circles in a box, %d steps of 1/60 s (8 velocity, 3 position iterations), "
        "best of %d\n",
        kColumns * kRows, kSteps, kRepeats);
    std::printf("  step only           raw Box2D %.4f ms/step   through Lua %.4f ms/step   ratio %.3f\n",
                step.raw, step.lua, step.lua / step.raw);
    std::printf("  step + read 500     raw Box2D %.4f ms/step   through Lua %.4f ms/step   ratio %.3f\n",
                read.raw, read.lua, read.lua / read.raw);
    std::printf("  same final positions in both worlds: %s\n", identical ? "yes" : "NO");
    return identical ? 0 : 1;
}
