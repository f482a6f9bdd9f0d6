-- The lua-frame scenes in LÖVE: the same sprites, places and motions as ../frame.lua, in LÖVE's
-- y-down window (y flipped). Same environment variables and result lines as frame.lua; frame
-- time from the start of one frame to the start of the next, present included; the last figure is
-- the CPU time of the loop over the sprites (the draw calls) (on Xvfb the swap
-- copies the finished frame out, so each frame is finished before the next begins), then the main
-- thread's own CPU time per frame (the kernel's count; the rest of the process's is Mesa's
-- rasteriser threads and LÖVE's helpers).
local W, H, S = 320, 240, 8

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

-- An 8x8 soft disc, colours running across it (the harness writes the same pixels for the engine).
local function spriteImage()
    local data = love.image.newImageData(S, S)
    data:mapPixel(function(px, py)
        local d = math.sqrt((px - 3.5) ^ 2 + (py - 3.5) ^ 2) / 4
        return px / 7, py / 7, 1, math.max(0, math.min(1, 1 - d))
    end)
    return love.graphics.newImage(data)
end

-- The calling thread's time on a CPU in seconds, nil where the kernel does not say.
local function threadClock()
    local f = io.open("/proc/thread-self/schedstat")
    if not f then return nil end
    local ns = f:read("*n")
    f:close()
    return ns and ns / 1e9
end

local function percentile(times, p)
    table.sort(times)
    return times[math.min(#times, math.floor(#times * p / 100) + 1)]
end

local function run(image, workload, n, frames, warmup, scaled)
    local xs, ys, phases = layout(n)
    local ps, batch
    if workload == "particles" then
        ps = love.graphics.newParticleSystem(image, n)
        ps:setParticleLifetime(1.5, 3)
        ps:setEmissionRate(n / 2.25)
        ps:setDirection(-math.pi / 2)
        ps:setSpeed(80)
        ps:setLinearAcceleration(0, 40, 0, 40)
        ps:setSizes(12 / S)
        ps:setColors(1, 0.8, 0.2, 1, 1, 0.2, 0.1, 0)
        ps:setPosition(160, H - 60)
        ps:start()
        for _ = 1, 180 do ps:update(1 / 60) end
    elseif workload == "static" then
        batch = love.graphics.newSpriteBatch(image, n, "static")
        for i = 1, n do batch:add(xs[i], H - ys[i], 0, 1, 1, S / 2, S / 2) end
    end
    local times, cpus, loops, mains = {}, {}, {}, {}
    local lastWall, lastCpu, lastMain
    local sin, cos, draw = math.sin, math.cos, love.graphics.draw
    for f = 0, warmup + frames do
        love.event.pump()
        local wall, cpu, main = love.timer.getTime(), os.clock(), threadClock()
        if f > warmup then
            times[#times + 1] = (wall - lastWall) * 1000
            cpus[#cpus + 1] = (cpu - lastCpu) * 1000
            if main and lastMain then mains[#mains + 1] = (main - lastMain) * 1000 end
        end
        local loopStart
        lastWall, lastCpu, lastMain = wall, cpu, main
        if f == warmup + frames then break end
        local t = f / 60
        love.graphics.origin()
        if scaled then love.graphics.scale(1 / W, 1 / H) end
        love.graphics.clear(0.1, 0.1, 0.2, 1)
        loopStart = os.clock()
        if ps then
            ps:update(1 / 60)
            draw(ps)
        elseif batch then
            draw(batch)
        elseif workload == "rotated" then
            love.graphics.setColor(1, 1, 1, 0.5)
            love.graphics.setBlendMode("alpha")
            for i = 1, n do
                if i - 1 == math.ceil(n / 2) then love.graphics.setBlendMode("add") end
                draw(image, xs[i], H - ys[i], -(phases[i] + f * 0.0349066), 1, 1, S / 2, S / 2)
            end
            love.graphics.setBlendMode("alpha")
            love.graphics.setColor(1, 1, 1, 1)
        else
            for i = 1, n do
                draw(image, xs[i] + 20 * sin(t + phases[i]), H - (ys[i] + 20 * cos(t + phases[i])), 0, 1, 1,
                     S / 2, S / 2)
            end
        end
        if f >= warmup then loops[#loops + 1] = (os.clock() - loopStart) * 1000 end
        love.graphics.present()
    end
    return percentile(times, 50), percentile(times, 95), percentile(cpus, 50), percentile(loops, 50),
        #mains > 0 and percentile(mains, 50) or -1
end

function love.run()
    local out = assert(io.open(os.getenv("LF_OUT"), "w"))
    local frames = tonumber(os.getenv("LF_FRAMES") or "30")
    local warmup = tonumber(os.getenv("LF_WARMUP") or "5")
    local scaled = os.getenv("LF_SIZE") == "1"
    local image = spriteImage()
    for workload in (os.getenv("LF_WORKLOADS") or "static moving rotated particles"):gmatch("%S+") do
        for n in (os.getenv("LF_COUNTS") or "1000"):gmatch("%d+") do
            n = tonumber(n)
            local median, p95, cpu, loop, main = run(image, workload, n, frames, warmup, scaled)
            out:write(string.format("%s %d %.4f %.4f %.4f %.4f %.4f\n", workload, n, median, p95, cpu, loop, main))
            out:flush()
        end
    end
    out:close()
    return function() return 0 end
end

-- Report and quit instead of showing LÖVE's error screen, which would wait for ever.
function love.errorhandler(message)
    io.stderr:write("lua-frame (LÖVE): ", tostring(message), "\n", debug.traceback(), "\n")
    return function() return 1 end
end
