#include "engine/physics/tests/PhysicsTestSupport.h"

#include "engine/physics/PhysicsModule.h"
#include "tests/support/TestSupport.h"

namespace {

// newBody(world, x, y, type, actorID, categories) and addBox/addCircle(body, size, fixtureID, masks)
// return the object and its definition; `log` collects the collision callbacks as
// "began|ended <actor of A>.<fixture ID of A> <actor of B>.<fixture ID of B>".
const char* kPrelude = R"lua(
function newBody(world, x, y, kind, actorID, categories)
    local d = physics.BodyDefinition.new()
    d:setType(kind) d:setPosition(x, y) d:setActorID(actorID or 0)
    for _, c in ipairs(categories or {}) do d:addCollisionCategory(c) end
    return world:createBody(d), d
end
local function addShape(body, shape, fixtureID, masks)
    local fd = physics.FixtureDefinition.new(nil)
    fd:setShape(shape) fd:setDensity(1) fd:setFixtureID(fixtureID or 0)
    for _, m in ipairs(masks or {}) do fd:addCollisionMaskCategory(m) end
    return body:createFixture(fd), fd
end
function addBox(body, halfWidth, halfHeight, fixtureID, masks)
    local s = physics.PolygonShape.new() s:setAsBox(halfWidth, halfHeight)
    return addShape(body, s, fixtureID, masks)
end
function addCircle(body, radius, fixtureID, masks)
    return addShape(body, physics.CircleShape.new(radius), fixtureID, masks)
end
function steps(world, n) for i = 1, n do world:step(1 / 60, 8, 3) end end
log = {}
local function name(f) return f:body():actorID() .. "." .. f:fixtureID() end
function fixtureCollisionBegan(a, b) log[#log + 1] = "began " .. name(a) .. " " .. name(b) end
function fixtureCollisionEnded(a, b) log[#log + 1] = "ended " .. name(a) .. " " .. name(b) end
function logText() return table.concat(log, ";") end
)lua";

}  // namespace

void PhysicsTest::SetUp() {
    run(kPrelude);
}

void PhysicsTest::run(const std::string& code) {
    std::string result = dktest::runLua(L, code);
    if (dktest::isLuaError(result)) ADD_FAILURE() << result;
}

std::string PhysicsTest::reports(const std::string& code) {
    testing::internal::CaptureStdout();
    run(code);
    return testing::internal::GetCapturedStdout();
}

double PhysicsTest::number(const std::string& expression) {
    run("__result = " + expression);
    lua_getglobal(L, "__result");
    EXPECT_TRUE(lua_isnumber(L, -1)) << expression;
    double v = lua_tonumber(L, -1);
    lua_pop(L, 1);
    return v;
}

std::string PhysicsTest::string(const std::string& expression) {
    std::string result = dktest::runLua(L, "return tostring(" + expression + ")");
    if (dktest::isLuaError(result)) ADD_FAILURE() << result;
    return result;
}

std::string reportPattern(const std::string& expression) {
    std::string escaped;
    for (char c : expression) {
        if (std::string("()[]{}.*+?^$|\\").find(c) != std::string::npos) escaped += '\\';
        escaped += c;
    }
    return "[A-Za-z]+\\.cpp:[0-9]+ assertion failed " + escaped + "\n";
}
