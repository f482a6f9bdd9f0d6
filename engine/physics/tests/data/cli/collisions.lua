-- An engine script whose collision callbacks print: a ball falls on the ground, rests, and is
-- destroyed on frame 100.
function initEngine()
    world = physics.World.new(0, 500, true)
    local function body(x, y, kind, actor)
        local d = physics.BodyDefinition.new()
        d:setType(kind) d:setPosition(x, y) d:setActorID(actor) d:addCollisionCategory(1)
        return world:createBody(d)
    end
    local function fixture(b, shape)
        local fd = physics.FixtureDefinition.new(nil)
        fd:setShape(shape) fd:setDensity(1) fd:setFixtureID(2) fd:addCollisionMaskCategory(1)
        return b:createFixture(fd)
    end
    local box = physics.PolygonShape.new()
    box:setAsBox(200, 10)
    fixture(body(240, 300, 0, 1), box)
    ball = body(240, 100, 2, 2)
    fixture(ball, physics.CircleShape.new(10))
    frames = 0
end

function loadProject(path) end
function loadInitialScene() end
function play() end
devices = {}
function devices:setScreenSize(width, height) end

function update(dt)
    world:step(dt, 8, 3)
    frames = frames + 1
    if frames == 100 then
        local _, y = ball:position()
        print(string.format("resting %d", math.floor(y + 0.5)))
        world:destroyBody(ball)
    end
end

local function actors(a, b)
    local x, y = a:body():actorID(), b:body():actorID()
    return math.min(x, y) .. " " .. math.max(x, y)
end
function fixtureCollisionBegan(a, b) print("began " .. actors(a, b)) end
function fixtureCollisionEnded(a, b) print("ended " .. actors(a, b)) end
