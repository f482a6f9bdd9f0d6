// Bodies under gravity, units at the boundary, and the lifetimes of definitions, shapes and records.
#include <gmock/gmock.h>

#include <cmath>

#include "engine/physics/tests/PhysicsTestSupport.h"

TEST_F(PhysicsTest, BodyFallsUnderGravityAndRestsOnTheGround) {
    run(R"(
        world = physics.World.new(0, 500, true)
        ball = newBody(world, 100, 0, 2, 1, {1})  addCircle(ball, 10, 0, {1})
        ground = newBody(world, 100, 400, 0, 2, {1})  addBox(ground, 200, 10, 0, {1})
        ys, falling = {}, true
        for i = 1, 60 do
            world:step(1 / 60, 8, 3)
            local _, y = ball:position()
            if i > 1 and y <= ys[i - 1] then falling = false end
            ys[i] = y
        end
        x1, y1 = ball:position()  vx1, vy1 = ball:linearVelocity()
    )");
    // After one second of free fall: v = g t, and the distance close to g t^2 / 2.
    EXPECT_TRUE(boolean("falling"));
    EXPECT_NEAR(number("vy1"), 500.0, 5.0);
    EXPECT_NEAR(number("y1"), 250.0, 10.0);
    EXPECT_DOUBLE_EQ(number("x1"), 100.0);
    EXPECT_EQ(number("vx1"), 0.0);

    run("steps(world, 300)  x2, y2 = ball:position()  vx2, vy2 = ball:linearVelocity()");
    EXPECT_NEAR(number("y2"), 400.0 - 10.0 - 10.0, 2.0);  // resting on the ground's top
    EXPECT_NEAR(number("vy2"), 0.0, 1.0);
    EXPECT_NEAR(number("select(2, ground:position())"), 400.0, 1e-3);  // static bodies never move
}

TEST_F(PhysicsTest, UnitsCrossTheBoundaryAsDocumented) {
    run(R"(
        world = physics.World.new(0, 0, false)
        body = newBody(world, 100, 50, 2, 7)
        box = addBox(body, 50, 25)
    )");
    EXPECT_NEAR(number("select(1, body:position())"), 100.0, 1e-4);
    EXPECT_NEAR(number("select(2, body:position())"), 50.0, 1e-4);
    EXPECT_NEAR(number("select(1, body:worldCenter())"), 2.0, 1e-6);  // metres, unscaled
    EXPECT_NEAR(number("select(2, body:worldCenter())"), 1.0, 1e-6);
    EXPECT_NEAR(number("body:mass()"), 2.0 * 1.0, 1e-5);  // 2 m x 1 m at density 1

    run("body:setAngularVelocity(math.pi)  body:setLinearVelocity(100, -50)");
    EXPECT_NEAR(number("body:angularVelocity()"), 180.0, 1e-4);
    EXPECT_NEAR(number("select(1, body:linearVelocity())"), 100.0, 1e-4);
    EXPECT_NEAR(number("select(2, body:linearVelocity())"), -50.0, 1e-4);

    run("body:setPositionAndAngle(10, 20, 0.5)");
    EXPECT_NEAR(number("body:angle()"), 0.5, 1e-6);
    EXPECT_NEAR(number("select(2, body:position())"), 20.0, 1e-4);

    // setAsBox raises each half extent to 0.01 m: half a pixel.
    run(R"(
        tiny = newBody(world, 0, 0, 2)  dot = addBox(tiny, 0.1, 0.1)
        inside, outside = dot:testPoint(0.4, 0), dot:testPoint(0.6, 0)
    )");
    EXPECT_TRUE(boolean("inside"));
    EXPECT_FALSE(boolean("outside"));
    EXPECT_TRUE(boolean("box:testPoint(10 + 20, 20)"));
    EXPECT_FALSE(boolean("box:testPoint(10 + 80, 20)"));

    // A force at the centre accelerates without turning; off centre it also turns.
    run(R"(
        pushed = newBody(world, 0, 0, 2)  addBox(pushed, 50, 50)
        local cx, cy = pushed:worldCenter()
        pushed:applyForce(400, 0, cx, cy)  world:step(1, 1, 1)
        pvx = pushed:linearVelocity()  pw = pushed:angularVelocity()
        cx, cy = pushed:worldCenter()
        pushed:applyForce(0, 400, cx + 1, cy)  world:step(0.01, 1, 1)
    )");
    EXPECT_NEAR(number("pvx"), 400.0 / 4.0, 0.5);  // mass 4, pixels in and out
    EXPECT_EQ(number("pw"), 0.0);
    EXPECT_GT(number("pushed:angularVelocity()"), 0.0);
}

TEST_F(PhysicsTest, BodyDefinitionTypesAndAwakeness) {
    run(R"(
        world = physics.World.new(0, 500, true)
        local d = physics.BodyDefinition.new()  d:setType(2)  d:setType(3)  d:setPosition(0, 0)
        dynamic = world:createBody(d)  addCircle(dynamic, 5)
        d = physics.BodyDefinition.new()  d:setType(3)
        static = world:createBody(d)  addCircle(static, 5)
        d = physics.BodyDefinition.new()  d:setType(1)
        kinematic = world:createBody(d)  addCircle(kinematic, 5)  kinematic:setLinearVelocity(50, 0)
        sleeper = newBody(world, 200, 0, 2)  addCircle(sleeper, 5)
        sleeper:setLinearVelocity(0, 100)  sleeper:setAwake(false)
        steps(world, 30)
    )");
    EXPECT_GT(number("select(2, dynamic:position())"), 10.0);  // type 3 left it dynamic
    EXPECT_EQ(number("select(2, static:position())"), 0.0);    // type 3 left it static
    EXPECT_NEAR(number("select(1, kinematic:position())"), 25.0, 0.1);
    EXPECT_EQ(number("select(2, kinematic:position())"), 0.0);
    EXPECT_EQ(number("select(2, sleeper:position())"), 0.0);  // asleep, velocity dropped
    run("sleeper:setAwake(true)  steps(world, 10)");
    EXPECT_GT(number("select(2, sleeper:position())"), 0.0);
}

TEST_F(PhysicsTest, DefinitionsShapesAndRecordsOutliveWhatUsesThem) {
    // The shape and the definitions go out of reach and are collected before and after use.
    run(R"(
        world = physics.World.new(0, 0, true)
        local fd = physics.FixtureDefinition.new(nil)
        fd:setShape(physics.CircleShape.new(20))  fd:setFixtureID(4)
        collectgarbage()  collectgarbage()
        local bd = physics.BodyDefinition.new()  bd:setType(2)  bd:setActorID(11)
        first = world:createBody(bd)  second = world:createBody(bd)
        f1 = first:createFixture(fd)  f2 = second:createFixture(fd)
        bd:setActorID(12)  fd:setFixtureID(5)  -- reaches both: they share the records
    )");
    EXPECT_TRUE(boolean("f1:testPoint(19, 0)"));
    EXPECT_EQ(number("second:actorID()"), 12.0);
    EXPECT_EQ(number("f1:fixtureID()"), 5.0);
    // Destroying both users of one record, then the definitions, frees it once (checked under ASan).
    run(R"(
        first:destroyFixture(f1)  world:destroyBody(first)
        keptBody, keptFixture = second, f2
        collectgarbage()  collectgarbage()
    )");
    EXPECT_EQ(number("keptBody:actorID()"), 12.0);
    EXPECT_EQ(number("keptFixture:fixtureID()"), 5.0);
    run("world:destroyBody(keptBody)  world = nil  collectgarbage()  collectgarbage()");
}

TEST_F(PhysicsTest, FixtureDefinitionCopiesTheRecordOfAFixture) {
    run(R"(
        world = physics.World.new(0, 0, true)
        body = newBody(world, 0, 0, 2)
        source = addCircle(body, 5, 9, {1, 2})
        copy = physics.FixtureDefinition.new(source)
        copy:setShape(physics.CircleShape.new(5))  copy:setFixtureID(3)
        other = body:createFixture(copy)
        fresh = body:createFixture((function() local d = physics.FixtureDefinition.new(42)
            d:setShape(physics.CircleShape.new(1)) return d end)())
    )");
    EXPECT_EQ(number("source:fixtureID()"), 9.0);  // the copy is a copy
    EXPECT_EQ(number("other:fixtureID()"), 3.0);
    EXPECT_EQ(number("fresh:fixtureID()"), 0.0);
}

TEST_F(PhysicsTest, PolygonFromVerticesCollidesInEitherWinding) {
    // Vertices added one by one get their normals and centroid: the triangles land on the ground.
    run(R"(
        world = physics.World.new(0, 500, true)
        ground = newBody(world, 0, 300, 0, 0, {1})  addBox(ground, 400, 10)
        for i, order in ipairs({ {{-20, 0}, {20, 0}, {0, -20}}, {{0, -20}, {20, 0}, {-20, 0}} }) do
            local body = newBody(world, i * 100, 0, 2, i)  -- collides through the ground's category
            local s = physics.PolygonShape.new()
            for _, v in ipairs(order) do s:addVertex(v[1], v[2]) end
            local fd = physics.FixtureDefinition.new(nil)  fd:setShape(s)  fd:setDensity(1)
            fd:addCollisionMaskCategory(1)
            _G["fixture" .. i] = body:createFixture(fd)
            _G["body" .. i] = body
        end
        steps(world, 240)
    )");
    for (int i = 1; i <= 2; ++i) {
        std::string body = "body" + std::to_string(i);
        EXPECT_NEAR(number("select(2, " + body + ":position())"), 290.0, 2.0) << body;
        EXPECT_GT(number(body + ":mass()"), 0.15);  // 0.8 m x 0.4 m / 2 at density 1
    }
}
