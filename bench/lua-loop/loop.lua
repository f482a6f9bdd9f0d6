-- Plain Lua game logic: entities with methods moved and bounced, a grid of cells scored, a
-- sorted list of the nearest. Run by luajit itself and, as an engine script, by dk-engine-cli;
-- it prints the milliseconds of processor time the work took.
local Entity = {}
Entity.__index = Entity

local function newEntity(i)
    return setmetatable({ x = i % 320, y = (i * 7) % 240, vx = (i % 5) - 2, vy = (i % 3) - 1, hits = 0 }, Entity)
end

function Entity:step(dt)
    self.x = self.x + self.vx * dt
    self.y = self.y + self.vy * dt
    if self.x < 0 or self.x > 320 then self.vx = -self.vx self.hits = self.hits + 1 end
    if self.y < 0 or self.y > 240 then self.vy = -self.vy self.hits = self.hits + 1 end
end

local function run()
    local entities = {}
    for i = 1, 2000 do entities[i] = newEntity(i) end
    local cells, score = {}, 0
    for frame = 1, 10000 do
        for i = 1, #entities do entities[i]:step(16) end
        for c = 1, 192 do cells[c] = 0 end
        for i = 1, #entities do
            local e = entities[i]
            local c = math.floor(e.x / 20) % 16 + math.floor(e.y / 20) % 12 * 16 + 1
            cells[c] = cells[c] + 1
        end
        for c = 1, 192 do score = score + cells[c] * cells[c] end
        if frame % 40 == 0 then
            local near = {}
            for i = 1, 200 do near[i] = entities[i] end
            table.sort(near, function(a, b) return a.x * a.x + a.y * a.y < b.x * b.x + b.y * b.y end)
            score = score + near[1].hits
        end
    end
    return score
end

local start = os.clock()
local score = run()
print(string.format("%.1f ms (score %d)", (os.clock() - start) * 1000, score))

-- Enough of an engine script for dk-engine-cli to start and stop quietly.
function initEngine() end
function update() end
function shutdownEngine() end
