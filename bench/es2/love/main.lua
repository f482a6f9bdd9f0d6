-- The scenes of bench_es2 in LÖVE: love DIR OUTFILE FRAMES N...
-- Writes one line per workload and sprite count: "workload n median_ms p95_ms drawcalls".
local W, H, S = 320, 240, 16

local function layout(n)
    local state, xs, ys, phases = 12345, {}, {}, {}
    local function rnd()
        state = (state * 1664525 + 1013904223) % 4294967296
        return state / 4294967296
    end
    for i = 1, n do
        xs[i], ys[i], phases[i] = rnd() * W, rnd() * H, rnd() * 6.2831853
    end
    return xs, ys, phases
end

local function spriteImage()
    local data = love.image.newImageData(S, S)
    data:mapPixel(function(px, py)
        local d = math.sqrt((px - 7.5) ^ 2 + (py - 7.5) ^ 2) / 8
        return px / 15, py / 15, 1, math.max(0, math.min(1, 1 - d))
    end)
    return love.graphics.newImage(data)
end

local function run(image, workload, n, frames)
    local xs, ys, phases = layout(n)
    local ps
    if workload == "particles" then
        ps = love.graphics.newParticleSystem(image, n)
        ps:setParticleLifetime(1.5, 3)
        ps:setEmissionRate(n / 2.25)
        ps:setDirection(-math.pi / 2)
        ps:setSpeed(80)
        ps:setLinearAcceleration(0, 40, 0, 40)
        ps:setSizes(0.75)
        ps:setColors(1, 0.8, 0.2, 1, 1, 0.2, 0.1, 0)
        ps:setPosition(160, 180)
        ps:start()
        for _ = 1, 180 do ps:update(1 / 60) end
    end
    local times, draws = {}, 0
    local warmup = 10
    for f = 0, warmup + frames - 1 do
        love.event.pump()
        local t0 = love.timer.getTime()
        local t = f / 60
        love.graphics.origin()
        love.graphics.clear(0.1, 0.1, 0.2, 1)
        if ps then
            ps:update(1 / 60)
            love.graphics.draw(ps)
        elseif workload == "rotated" then
            love.graphics.setColor(1, 1, 1, 0.5)
            love.graphics.setBlendMode("alpha")
            local half = math.floor(n / 2)
            for i = 1, n do
                if i == half + 1 then love.graphics.setBlendMode("add") end
                love.graphics.draw(image, xs[i], ys[i], phases[i] + f * 0.0349, 1, 1, 8, 8)
            end
            love.graphics.setBlendMode("alpha")
            love.graphics.setColor(1, 1, 1, 1)
        elseif workload == "moving" then
            local sin, cos = math.sin, math.cos
            for i = 1, n do
                love.graphics.draw(image, xs[i] + 20 * sin(t + phases[i]), ys[i] + 20 * cos(t + phases[i]), 0, 1, 1, 8, 8)
            end
        else
            for i = 1, n do love.graphics.draw(image, xs[i], ys[i], 0, 1, 1, 8, 8) end
        end
        local stats = love.graphics.getStats()
        love.graphics.present()
        local t1 = love.timer.getTime()
        if f >= warmup then
            times[#times + 1] = (t1 - t0) * 1000
            draws = draws + stats.drawcalls
        end
    end
    table.sort(times)
    local median = times[math.floor(#times / 2) + 1]
    local p95 = times[math.min(#times, math.floor(#times * 95 / 100) + 1)]
    return median, p95, draws / #times
end

function love.run()
    local args = love.arg.parseGameArguments(arg)
    local out = assert(io.open(args[1], "w"))
    local frames = tonumber(args[2])
    local image = spriteImage()
    for _, workload in ipairs({"static", "moving", "rotated", "particles"}) do
        for i = 3, #args do
            local n = tonumber(args[i])
            local median, p95, draws = run(image, workload, n, n >= 20000 and math.max(10, math.floor(frames / 2)) or frames)
            out:write(string.format("%s %d %.4f %.4f %.1f\n", workload, n, median, p95, draws))
        end
    end
    out:close()
    return function() return 0 end
end

-- Report and quit instead of showing LÖVE's error screen, which would wait for ever.
function love.errorhandler(message)
    io.stderr:write("bench_es2 (LÖVE): ", tostring(message), "\n", debug.traceback(), "\n")
    return function() return 1 end
end
