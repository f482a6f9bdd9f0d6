// The "physics" module from Lua: bodies under gravity, units at the boundary, the module's collision
// rules and callbacks, the lifetimes of definitions, shapes and records, and everything Box2D 2.4
// would abort on, refused with a report.
#include <gmock/gmock.h>

#include <algorithm>
#include <regex>
#include <sstream>

#include "engine/physics/wrap_Physics.h"
#include "tests/support/TestSupport.h"

using testing::HasSubstr;

namespace dktest {

// One report line "file.cpp:line assertion failed EXPRESSION", as reports() gives it back.
std::string reportLine(const std::string& expression) {
    return "assertion failed " + expression + "\n";
}

class Physics : public testing::Test {
protected:
    void SetUp() override { run("dofile('" DK_TEST_DATA_DIR "/prelude.lua')"); }
    // Runs a chunk; a Lua error fails the test.
    void run(const std::string& code) {
        std::string result = L.run(code);
        if (dktest::isLuaError(result)) ADD_FAILURE() << result << "\nin: " << code;
    }
    // What the chunk wrote to standard output (the module's reports) without the places.
    std::string reports(const std::string& code) {
        testing::internal::CaptureStdout();
        run(code);
        return std::regex_replace(testing::internal::GetCapturedStdout(),
                                  std::regex("[A-Za-z_]+\\.cpp:[0-9]+ "), "");
    }
    // The values of Lua expressions as text, joined by ",".
    std::string get(const std::string& expressions) { return L.run("return " + expressions); }
    double number(const std::string& expression) { return std::stod(get(expression)); }

    dktest::LuaState L{luaopen_physics, "physics"};
};

TEST_F(Physics, UnitsCrossTheBoundaryAsDocumented) {
    // Pixels in and out (50 to the metre); world centres in metres; angular velocity in degrees.
    run(R"(
        world = physics.World.new(0, 0, false)
        body = newBody(world, 100, 50, 2, 7)  box = addBox(body, 50, 25)
        body:setAngularVelocity(math.pi)  body:setLinearVelocity(100, -50)
        tiny = newBody(world, 0, 0, 2)  dot = addBox(tiny, 0.1, 0.1))");
    // Positions and extents in pixels are the other tests' units throughout.
    EXPECT_EQ(get("body:worldCenter()"), "2,1");
    EXPECT_NEAR(number("body:mass()"), 2.0, 1e-5);  // 2 m x 1 m at density 1
    EXPECT_NEAR(number("body:angularVelocity()"), 180.0, 1e-4);
    EXPECT_NEAR(number("select(2, body:linearVelocity())"), -50.0, 1e-4);
    run("body:setPositionAndAngle(10, 20, 0.5)");
    EXPECT_NEAR(number("body:angle()"), 0.5, 1e-6);  // radians both ways
    // setAsBox raises each half extent to 0.01 m: half a pixel.
    EXPECT_EQ(get("dot:testPoint(0.4, 0), dot:testPoint(0.6, 0)"), "true,false");
}

TEST_F(Physics, BodyTypes) {
    run(R"(
        world = physics.World.new(0, 500, true)
        local d = physics.BodyDefinition.new()  d:setType(2)  d:setType(3)  -- 3 changes nothing
        dynamic = world:createBody(d)  addCircle(dynamic, 5)
        d = physics.BodyDefinition.new()  d:setType(3)  -- a fresh definition is static
        static = world:createBody(d)  addCircle(static, 5)
        kinematic = newBody(world, 0, 0, 1)  addCircle(kinematic, 5)  kinematic:setLinearVelocity(50, 0)
        steps(world, 30))");
    EXPECT_GT(number("select(2, dynamic:position())"), 10.0);
    EXPECT_EQ(get("static:position()"), "0,0");
    EXPECT_NEAR(number("kinematic:position()"), 25.0, 0.1);
}

TEST_F(Physics, DefinitionsShapesAndRecordsOutliveWhatUsesThem) {
    // The shape goes out of reach before use; one definition makes two bodies and two fixtures.
    run(R"(
        world = physics.World.new(0, 0, true)
        local fd = physics.FixtureDefinition.new(nil)
        fd:setShape(physics.CircleShape.new(20))  fd:setFixtureID(4)
        collectgarbage()  collectgarbage()
        local bd = physics.BodyDefinition.new()  bd:setType(2)  bd:setActorID(11)
        first = world:createBody(bd)  second = world:createBody(bd)
        f1 = first:createFixture(fd)  f2 = second:createFixture(fd)
        bd:setActorID(12)  fd:setFixtureID(5)  -- reaches both: they share the records
        first:destroyFixture(f1)  world:destroyBody(first)
        collectgarbage()  collectgarbage())");
    // Destroying one user of a record, then collecting the definitions, frees it once (ASan).
    EXPECT_EQ(get("second:actorID(), f2:fixtureID(), f2:testPoint(19, 0)"), "12,5,true");
    // A definition made from a fixture copies its record; from anything else it starts afresh.
    run(R"(
        source = addCircle(second, 5, 9, {1, 2})
        copy = physics.FixtureDefinition.new(source)  copy:setShape(physics.CircleShape.new(5))
        copy:setFixtureID(3)  other = second:createFixture(copy)
        fresh = physics.FixtureDefinition.new(42)  fresh:setShape(physics.CircleShape.new(1))
        fresh = second:createFixture(fresh))");
    EXPECT_EQ(get("source:fixtureID(), other:fixtureID(), fresh:fixtureID()"), "9,3,0");
    run("world:destroyBody(second)  world = nil  collectgarbage()  collectgarbage()");
}

TEST_F(Physics, PolygonsFromVerticesLandInEitherWinding) {
    // Vertices added one by one get their normals and centroid from the module.
    run(R"(
        world = physics.World.new(0, 500, true)
        ground = newBody(world, 0, 300, 0, 0, {1})  addBox(ground, 400, 10)
        for i, s in ipairs({polygon(-20, 0, 20, 0, 0, -20), polygon(0, -20, 20, 0, -20, 0)}) do
            _G["body" .. i] = newBody(world, i * 100, 0, 2, i)
            local fd = physics.FixtureDefinition.new(nil)  fd:setShape(s)  fd:setDensity(1)
            fd:addCollisionMaskCategory(1)  _G["body" .. i]:createFixture(fd)
        end
        steps(world, 240))");
    for (const char* body : {"body1", "body2"}) {
        EXPECT_NEAR(number(std::string("select(2, ") + body + ":position())"), 290.0, 2.0) << body;
        EXPECT_GT(number(std::string(body) + ":mass()"), 0.15) << body;
    }
}

TEST_F(Physics, CollisionRulesOfFixtureIDsCategoriesAndMasks) {
    // Two overlapping dynamic boxes without gravity: whether one step pushes them apart. Each case
    // is pair(categories of A, masks of A, fixture ID of A, the same for B), then changes.
    run(R"(function pair(ca, ma, ia, cb, mb, ib)
               a = newBody(world, 0, 0, 2, 1, ca)  fa = addBox(a, 20, 20, ia, ma)
               b = newBody(world, 10, 0, 2, 2, cb)  fb = addBox(b, 20, 20, ib, mb)
           end)");
    const std::pair<const char*, bool> cases[] = {
        {"pair({1}, {2}, 1, {2}, {1}, 3)", false},  // different IDs never collide
        // Same ID: a mask of A matches B's body, or a mask of B matches A's body, and nothing else.
        {"pair({}, {5}, 1, {5}, {}, 1)", true},
        {"pair({5}, {}, 1, {6}, {5, 5}, 1)", true},
        {"pair({}, {5}, 1, {}, {5}, 1)", false},
        {"pair({1}, {3}, 1, {2}, {4}, 1)", false},
        // A removed category or mask no longer counts; one added later does.
        {"pair({5}, {}, 1, {}, {5, 7}, 1) a:removeCollisionCategory(5) fb:removeCollisionMaskCategory(5)",
         false},
        {"pair({}, {}, 1, {}, {}, 1) a:addCollisionCategory(8) fb:addCollisionMaskCategory(8)", true},
    };
    for (const auto& [setUp, collide] : cases) {
        run(std::string("world = physics.World.new(0, 0, true) ") + setUp + " steps(world, 1)");
        EXPECT_EQ(get("select(1, a:position()) < 0 or select(1, b:position()) > 10"),
                  collide ? "true" : "false")
            << setUp;
    }
}

TEST_F(Physics, CallbacksComeOnceForTheFirstBeginAndTheLastEndOrTheDestruction) {
    run("drop(2, 2)  lift()  lower()");
    EXPECT_EQ(get("logText()"), "began 1.2 2.2;ended 1.2 2.2;began 1.2 2.2");
    // The order of a pair is kept from its begin to its end.
    EXPECT_EQ(get("log[1]:sub(7) == log[2]:sub(7)"), "true");
    // Only bodies with a fixture of ID 2 are reported; the pair of ID-1 fixtures then is too.
    run("log = {}  drop(1, 1)");
    EXPECT_EQ(get("#log"), "0");
    EXPECT_NEAR(number("select(2, ball:position())"), 80.0, 2.0);  // they did collide
    run("lift()  addCircle(ball, 1, 2)  addBox(ground, 1, 1, 2)  steps(world, 90)");
    EXPECT_EQ(get("logText()"), "began 1.1 2.1");
    // Destroying ends the contact, without the destroyed one's record.
    run("drop(2, 2)  log = {}  ball:destroyFixture(ballFixture)");
    EXPECT_EQ(get("logText()"), "ended 1.-1 2.2");
    run("drop(2, 2)  log = {}  world:destroyBody(ball)");
    EXPECT_EQ(get("logText()"), "ended -1.2 2.2");
}

TEST_F(Physics, ScriptErrorsInCallbacksAreSwallowed) {
    run(R"(function fixtureCollisionBegan() began = true error("boom") end
           fixtureCollisionEnded = nil
           setmetatable(_G, { __index = function(_, k) error("no global " .. k) end }))");
    run("drop(2, 2)  lift()  lower()");
    EXPECT_EQ(get("rawget(_G, 'began')"), "true");
    EXPECT_EQ(lua_gettop(L), 0);  // no message left behind
}

TEST_F(Physics, TheWorldCannotBeChangedFromInsideACallback) {
    run(R"(function fixtureCollisionBegan(a, b)
               calls = (calls or 0) + 1
               made = world:createBody(physics.BodyDefinition.new())
               world:step(1 / 60, 8, 3)
               world:destroyBody(ground)
               ball:destroyFixture(ballFixture)
               ball:setPositionAndAngle(0, 0, 0)
               b:body():createFixture(physics.FixtureDefinition.new(nil))
           end)");
    std::string out = reports("drop(2, 2)");
    EXPECT_THAT(out, HasSubstr(reportLine("IsLocked() == false")));
    EXPECT_THAT(out, HasSubstr(reportLine("m_world->IsLocked() == false")));
    EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 6) << out;
    // The refused destroyBody and destroyFixture cost their records, as documented; the rest stands.
    EXPECT_EQ(get("calls, made, ground:actorID(), ballFixture:fixtureID()"), "1,nil,-1,-1");
    EXPECT_NEAR(number("select(2, ball:position())"), 80.0, 2.0);
}

TEST_F(Physics, WorldCollectedFromACallbackGoesAfterTheCall) {
    run(R"(drop(2, 2)
           function fixtureCollisionEnded() world = nil  collectgarbage()  collectgarbage()  ended = true end
           ball:destroyFixture(ballFixture)
           ok = pcall(function() return ball:position() end))");
    EXPECT_EQ(get("ended, ok"), "true,false");
}

class Misuse : public Physics {
protected:
    void SetUp() override {
        Physics::SetUp();
        run(R"(world = physics.World.new(0, 500, true)
               body = newBody(world, 0, 0, 2, 1)
               function fixtureWith(configure)
                   local fd = physics.FixtureDefinition.new(nil)  fd:setDensity(1)
                   configure(fd)
                   return body:createFixture(fd)
               end)");
    }
    // Runs `code`: expects exactly the one report, and nil where the code stores a result.
    void expectRefused(const std::string& code, const std::string& expression) {
        run("result = nil");
        EXPECT_EQ(reports(code), reportLine(expression)) << code;
        EXPECT_EQ(get("result"), "nil") << code;
    }
};

TEST_F(Misuse, EverythingBox2DWouldAbortOnIsRefused) {
    const char* const kConvex = "polygon is convex";
    const char* const kCount = "3 <= count && count <= b2_maxPolygonVertices";
    const char* const kValid = "ps[i].IsValid()";
    struct {
        const char* configure;  // the body of function(fd)
        const char* expression;
    } fixtures[] = {
        {"", "def->shape != nullptr"},
        {"fd:setShape(physics.PolygonShape.new())", kCount},
        {"fd:setShape(polygon(0, 0, 10, 0))", kCount},
        {"fd:setShape(polygon(0, 0, 10, 0, 20, 0))", kConvex},
        // A bow tie, and a dart (concave): both simple lists of distinct points.
        {"fd:setShape(polygon(0, 0, 10, 10, 10, 0, 0, 10))", kConvex},
        {"fd:setShape(polygon(0, 0, 20, 10, 0, 20, 5, 10))", kConvex},
        {"fd:setShape(polygon(0, 0, 0.01, 0, 10, 10))", "b2DistanceSquared(v, ps[j]) > 0.5f * b2_linearSlop"},
        {"fd:setShape(polygon(0, 0, 0/0, 0, 10, 10))", kValid},
        {"local s = physics.PolygonShape.new() s:setAsBox(1/0, 10) fd:setShape(s)", kValid},
        {"fd:setShape(physics.CircleShape.new(-1))", "b2IsValid(m_radius) && m_radius >= 0.0f"},
        {"fd:setShape(physics.CircleShape.new(5)) fd:setDensity(-1)",
         "b2IsValid(density) && density >= 0.0f"},
        {"fd:setShape(physics.CircleShape.new(5)) fd:setFriction(0/0)",
         "b2IsValid(friction) && friction >= 0.0f"},
        {"fd:setShape(physics.CircleShape.new(1e30))", "m_I > 0.0f"},
    };
    for (const auto& c : fixtures)
        expectRefused(std::string("result = fixtureWith(function(fd) ") + c.configure + " end)",
                      c.expression);
    const char* const others[][2] = {
        {"result = physics.World.new(0/0, 0, true)", "gravity.IsValid()"},
        {"result = newBody(world, 0/0, 0, 2)", "bd->position.IsValid()"},
        {"local d = physics.BodyDefinition.new() d:setAngle(1/0) result = world:createBody(d)",
         "b2IsValid(bd->angle)"},
        {"world:step(1/0, 8, 3)", "b2IsValid(dt)"},
        {"world:setGravity(0, 0/0)", "gravity.IsValid()"},
        {"body:setLinearVelocity(1/0, 0)", "v.IsValid()"},
        {"body:setAngularVelocity(0/0)", "b2IsValid(w)"},
        {"body:setAngularDamping(0/0)", "b2IsValid(angularDamping)"},
        {"body:applyForce(0, 0, 0/0, 0)", "force.IsValid() && point.IsValid()"},
        {"body:setPositionAndAngle(0, 0, 1/0)", "position.IsValid() && b2IsValid(angle)"},
    };
    for (const auto& c : others) expectRefused(c[0], c[1]);

    // A small shape far from its body's origin: refused exactly when rounding left no inertia.
    for (const char* far : {"1000", "10000", "100000"}) {
        std::string f = far;
        std::string out = reports("far = fixtureWith(function(fd) fd:setShape(polygon(" + f + ", 0, " + f +
                                  " + 1, 0, " + f + ", 1)) end)  if far then body:destroyFixture(far) end");
        EXPECT_THAT(out, testing::AnyOf("", reportLine("m_I > 0.0f"))) << far;
    }
    // A ninth vertex is refused when added; the eight before it make a valid octagon.
    EXPECT_EQ(reports(R"(local s = physics.PolygonShape.new()
        for i = 0, 8 do s:addVertex(20 * math.cos(i * math.pi / 4.5), 20 * math.sin(i * math.pi / 4.5)) end
        octagon = fixtureWith(function(fd) fd:setShape(s) end))"),
              reportLine("m_count < b2_maxPolygonVertices"));
    EXPECT_EQ(get("octagon:testPoint(0, 0)"), "true");

    // Stepping on: the world is unharmed by all of it.
    run("steps(world, 30)");
    EXPECT_GT(number("select(2, body:position())"), 0.0);
    EXPECT_EQ(get("select(1, body:position()), body:angle()"), "0,0");
}

TEST_F(Misuse, ObjectsOfAnotherBodyOrWorldAreRefused) {
    run(R"(other = physics.World.new(0, 0, true)
           stranger = newBody(other, 0, 0, 2, 9)  strangerFixture = addCircle(stranger, 5, 4)
           mine = addCircle(body, 5))");
    expectRefused("world:destroyBody(stranger)", "body->GetWorld() == this");
    expectRefused("body:destroyFixture(strangerFixture)", "fixture->m_body == this");
    EXPECT_EQ(get("select(2, stranger:position()), strangerFixture:testPoint(0, 0)"),
              "0,true");  // both still there
    // destroyFixture does nothing for arguments that are not userdata.
    EXPECT_EQ(reports("body:destroyFixture(nil)  body.destroyFixture(3, mine)"), "");
    EXPECT_EQ(get("mine:testPoint(0, 0)"), "true");
}

TEST_F(Misuse, HandlesKeptPastTheirObjectsAreLuaErrors) {
    run(R"(fixture = addCircle(body, 5)
           body:destroyFixture(fixture)
           world:destroyBody(body)
           local w = physics.World.new(0, 0, true)  -- a world going takes its bodies' handles with it
           orphan = newBody(w, 0, 0, 2)
           w = nil  collectgarbage()  collectgarbage())");
    for (const char* use :
         {"body:position()", "fixture:fixtureID()", "world:destroyBody(body)", "orphan:actorID()"})
        EXPECT_THAT(get(std::string("select(2, pcall(function() return ") + use + " end))"),
                    HasSubstr("destroyed"))
            << use;
    // Wrong types are Lua errors, not casts.
    EXPECT_THAT(get("select(2, pcall(world.createBody, world, world))"),
                HasSubstr("physics.BodyDefMT expected"));
}

// The authors' guide's example (docs/GAMES.md) does what the guide says: the crate rests on the
// floor with one contact reported, and falls through it without a mask category.
TEST_F(Physics, TheGuidesCrateRestsOnTheFloor) {
    const std::string guide = readFile(DK_SOURCE_DIR "/docs/GAMES.md");
    std::istringstream lines(guide.substr(guide.find("A crate dropped on a floor")));
    std::string example, line;
    std::getline(lines, line);
    while (std::getline(lines, line) && (line.empty() || line.rfind("    ", 0) == 0))
        example += line.substr(std::min<size_t>(4, line.size())) + "\n";
    const std::string mask = "def:addCollisionMaskCategory(1)";
    ASSERT_NE(example.find(mask), std::string::npos) << example;
    const struct Case {
        bool masked;
        double lowest, highest;
        const char* touching;
    } cases[] = {{true, 268, 270, "1"}, {false, 400, 1e9, "0"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.masked);
        std::string code = example;
        if (!c.masked) code.replace(code.find(mask), mask.size(), "");
        run(code);
        EXPECT_NEAR(number("crate:position()"), 240, 0.5);
        EXPECT_GE(number("select(2, crate:position())"), c.lowest);
        EXPECT_LE(number("select(2, crate:position())"), c.highest);
        EXPECT_EQ(get("touching"), c.touching);
    }
}

}  // namespace dktest
