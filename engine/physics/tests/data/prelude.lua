-- Builds worlds in few lines. newBody(world, x, y, type, actorID, categories) and
-- addBox/addCircle(body, size, fixtureID, masks) return the object and its definition; `log`
-- collects the collision callbacks as "began|ended <actor of A>.<fixture of A> <actor of B>.<fixture of B>".
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
function polygon(...)
    local s, v = physics.PolygonShape.new(), {...}
    for i = 1, #v, 2 do s:addVertex(v[i], v[i + 1]) end
    return s
end
function steps(world, n) for i = 1, n do world:step(1 / 60, 8, 3) end end
-- A ball (actor 1) dropped on the ground (actor 2) and left to rest.
function drop(ballID, groundID)
    world = physics.World.new(0, 500, true)
    ground = newBody(world, 0, 100, 0, 2, {1})  groundFixture = addBox(ground, 200, 10, groundID, {1})
    ball = newBody(world, 0, 0, 2, 1, {1})  ballFixture = addCircle(ball, 10, ballID, {1})
    steps(world, 90)
end
-- Moves the resting ball away (waking it, for Box2D to see it gone) or back onto the ground.
function lift() ball:setPositionAndAngle(0, -500, 0) ball:setAwake(true) steps(world, 2) end
function lower() ball:setPositionAndAngle(0, 50, 0) steps(world, 90) end
log = {}
local function name(f) return f:body():actorID() .. "." .. f:fixtureID() end
function fixtureCollisionBegan(a, b) log[#log + 1] = "began " .. name(a) .. " " .. name(b) end
function fixtureCollisionEnded(a, b) log[#log + 1] = "ended " .. name(a) .. " " .. name(b) end
-- The log with each pair in a fixed order (Box2D may report either fixture first).
function logText()
    local out = {}
    for i, entry in ipairs(log) do
        local what, a, b = entry:match("(%S+) (%S+) (%S+)")
        if a > b then a, b = b, a end
        out[i] = what .. " " .. a .. " " .. b
    end
    return table.concat(out, ";")
end
