// Everything Box2D 2.4 would abort on is refused with a report and no result; handles kept past
// their objects raise Lua errors instead of reaching freed memory.
#include <gmock/gmock.h>

#include "engine/physics/tests/PhysicsTestSupport.h"

using testing::ContainsRegex;

class Misuse : public PhysicsTest {
protected:
    void SetUp() override {
        PhysicsTest::SetUp();
        run(R"(
            world = physics.World.new(0, 500, true)
            body = newBody(world, 0, 0, 2, 1)
            function fixtureWith(configure)
                local fd = physics.FixtureDefinition.new(nil)  fd:setDensity(1)
                configure(fd)
                return body:createFixture(fd)
            end
            function polygon(...)
                local s, v = physics.PolygonShape.new(), {...}
                for i = 1, #v, 2 do s:addVertex(v[i], v[i + 1]) end
                return s
            end)");
    }
    // Runs `code`: expects exactly the one report, and nil where the code stores a result.
    void expectRefused(const std::string& code, const std::string& expression) {
        SCOPED_TRACE(code);
        run("result = nil");
        std::string out = reports(code);
        EXPECT_THAT(out, testing::MatchesRegex(reportPattern(expression)));
        EXPECT_EQ(string("result"), "nil");
    }
};

TEST_F(Misuse, FixturesThatBox2DWouldAbortOn) {
    const char* const kConvex = "polygon is convex";
    const char* const kCount = "3 <= count && count <= b2_maxPolygonVertices";
    const char* const kValid = "ps[i].IsValid()";
    struct {
        const char* configure;  // the body of function(fd)
        const char* expression;
    } cases[] = {
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
    for (const auto& c : cases)
        expectRefused(std::string("result = fixtureWith(function(fd) ") + c.configure + " end)",
                      c.expression);
    // A small shape far from its body's origin: Box2D would assert if rounding left no inertia.
    for (int offset : {1000, 10000, 100000}) {
        std::string far = std::to_string(offset);
        std::string out =
            reports("far = fixtureWith(function(fd) fd:setShape(polygon(" + far + ", 0, " + far +
                    " + 1, 0, " + far + ", 1)) end)  if far then body:destroyFixture(far) end");
        EXPECT_THAT(out, testing::AnyOf("", testing::MatchesRegex(reportPattern("m_I > 0.0f")))) << far;
    }
    // A ninth vertex is refused when added; the eight before it make a valid octagon.
    std::string out = reports(R"(
        local s = physics.PolygonShape.new()
        for i = 0, 8 do s:addVertex(20 * math.cos(i * math.pi / 4.5), 20 * math.sin(i * math.pi / 4.5)) end
        octagon = fixtureWith(function(fd) fd:setShape(s) end))");
    EXPECT_THAT(out, testing::MatchesRegex(reportPattern("m_count < b2_maxPolygonVertices")));
    EXPECT_TRUE(boolean("octagon:testPoint(0, 0)"));
}

TEST_F(Misuse, BodiesAndWorldsThatBox2DWouldAbortOn) {
    expectRefused("result = physics.World.new(0/0, 0, true)", "gravity.IsValid()");
    expectRefused("result = newBody(world, 0/0, 0, 2)", "bd->position.IsValid()");
    expectRefused(R"(local d = physics.BodyDefinition.new()  d:setAngle(1/0)
                     result = world:createBody(d))",
                  "b2IsValid(bd->angle)");
    expectRefused("world:step(1/0, 8, 3)", "b2IsValid(dt)");
    expectRefused("world:setGravity(0, 0/0)", "gravity.IsValid()");
    expectRefused("body:setLinearVelocity(1/0, 0)", "v.IsValid()");
    expectRefused("body:setAngularVelocity(0/0)", "b2IsValid(w)");
    expectRefused("body:setAngularDamping(0/0)", "b2IsValid(angularDamping)");
    expectRefused("body:applyForce(0, 0, 0/0, 0)", "force.IsValid() && point.IsValid()");
    expectRefused("body:setPositionAndAngle(0, 0, 1/0)", "position.IsValid() && b2IsValid(angle)");

    // Objects of another body or world are refused.
    run(R"(other = physics.World.new(0, 0, true)
           stranger = newBody(other, 0, 0, 2, 9)  strangerFixture = addCircle(stranger, 5, 4)
           mine = addCircle(body, 5))");
    expectRefused("world:destroyBody(stranger)", "body->GetWorld() == this");
    expectRefused("body:destroyFixture(strangerFixture)", "fixture->m_body == this");
    EXPECT_EQ(number("select(2, stranger:position())"), 0.0);  // both still there
    EXPECT_TRUE(boolean("strangerFixture:testPoint(0, 0)"));
    // destroyFixture does nothing for arguments that are not userdata.
    EXPECT_EQ(reports("body:destroyFixture(nil)  body.destroyFixture(3, mine)"), "");
    EXPECT_TRUE(boolean("mine:testPoint(0, 0)"));

    // Stepping on: the world is unharmed by all of it.
    run("steps(world, 30)");
    EXPECT_GT(number("select(2, body:position())"), 0.0);
    EXPECT_EQ(number("select(1, body:position())"), 0.0);
    EXPECT_EQ(number("body:angle()"), 0.0);
}

TEST_F(Misuse, HandlesKeptPastTheirObjects) {
    run(R"(fixture = addCircle(body, 5)
           body:destroyFixture(fixture)
           world:destroyBody(body)
           ok1, err1 = pcall(function() return body:position() end)
           ok2, err2 = pcall(function() return fixture:fixtureID() end)
           ok3, err3 = pcall(function() world:destroyBody(body) end)
           -- A world going away takes its bodies' handles with it.
           local w = physics.World.new(0, 0, true)
           orphan = newBody(w, 0, 0, 2)
           w = nil  collectgarbage()  collectgarbage()
           ok4, err4 = pcall(function() return orphan:actorID() end))");
    for (int i = 1; i <= 4; ++i) {
        std::string n = std::to_string(i);
        EXPECT_FALSE(boolean("ok" + n));
        EXPECT_THAT(string("err" + n), testing::HasSubstr("destroyed")) << n;
    }
    // Wrong types are Lua errors, not casts.
    run("ok5, err5 = pcall(function() world:createBody(world) end)");
    EXPECT_THAT(string("err5"), testing::HasSubstr("physics.BodyDefMT expected"));
}

TEST_F(Misuse, WorldCollectedFromACallbackGoesAfterTheCall) {
    // The callback raised by destroyFixture drops the last reference to the world and collects.
    run(R"(
        ground = newBody(world, 0, 100, 0, 2, {1})  addBox(ground, 200, 10, 2, {1})
        ball = newBody(world, 0, 0, 2, 1, {1})  ballFixture = addCircle(ball, 10, 2, {1})
        steps(world, 90)
        function fixtureCollisionEnded() world = nil  collectgarbage()  collectgarbage()  ended = true end
        ball:destroyFixture(ballFixture)
        ok = pcall(function() return ball:position() end))");
    EXPECT_TRUE(boolean("ended"));
    EXPECT_FALSE(boolean("ok"));
}
