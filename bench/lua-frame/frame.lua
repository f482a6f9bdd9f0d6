-- The lua-frame scenes as an engine script, run by dk-engine-cli. The harness passes, through the
-- environment: LF_OUT (result file), LF_IMAGE (the 8x8 sprite), LF_FRAMES (timed frames per scene),
-- LF_WARMUP, LF_COUNTS ("1000 5000 20000") and LF_WORKLOADS. Every scene runs in turn, built in the
-- frame the previous one ends; the result file gets one line per scene:
-- "workload n median_ms p95_ms cpu_ms lua_ms main_ms", frame time from the start of one update to
-- the start of the next (the host's render and end of frame included), cpu the process's CPU time
-- per frame, lua the CPU time of the script's loop over the sprites (the port writes) inside the
-- frame, main the main thread's own CPU time per frame (the kernel's count for the thread that runs
-- the script; the rest of the process's is Mesa's rasteriser threads and the host's helpers).
-- The workload "still" runs the moving scene's loop, the same values computed and kept in a Lua
-- table, without writing them: the frame with the writes minus this one is what they cost.
local sg = scenegraph
local W, H, S = 320, 240, 8
local clock = platformWrappers.getSystemTime

-- The calling thread's time on a CPU in seconds, nil where the kernel does not say.
local function threadClock()
    local f = io.open("/proc/thread-self/schedstat")
    if not f then return nil end
    local ns = f:read("*n")
    f:close()
    return ns and ns / 1e9
end

local frames = tonumber(os.getenv("LF_FRAMES") or "30")
local warmup = tonumber(os.getenv("LF_WARMUP") or "5")
local plan = {}
for workload in (os.getenv("LF_WORKLOADS") or "static moving rotated particles"):gmatch("%S+") do
    for n in (os.getenv("LF_COUNTS") or "1000"):gmatch("%d+") do
        plan[#plan + 1] = { workload = workload, n = tonumber(n) }
    end
end

project = {}
function project:pathForImage() return os.getenv("LF_IMAGE") end
function project:pathForSound() return nil end

-- The sprites' starting places, the same sequence as the LÖVE scene and the floor use.
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

local function colorNode(space, r, g, b, a)
    local c = space:createNode(sg.colorNode)
    c.r:setValue(r) c.g:setValue(g) c.b:setValue(b) c.a:setValue(a)
    return c
end

local function build(workload, n)
    local scene = sg.scene.new(sharedSoundManager, sharedAssetManager)
    local root = scene:defaultSpace()
    root:createNode(sg.clearNode).color:setValue(colorNode(root, 0.1, 0.1, 0.2, 1).output)
    local world = scene:createSpace(sg.ortho2DSpace)
    world.width:setValue(W) world.height:setValue(H)
    world.near:setValue(-1) world.far:setValue(1)
    local loader = world:createNode(sg.imageLoaderNode)
    loader.name:setValue("dot")
    local v = { scene = scene, workload = workload, n = n, sprites = {}, kept = {} }
    v.xs, v.ys, v.phases = layout(n)
    if workload == "particles" then
        local p = world:createNode(sg.particleSystemNode)
        p.numParticles:setValue(n)
        p.image:setValue(loader.asset)
        p.x:setValue(160) p.y:setValue(60)
        p.direction:setValue(90) p.speed:setValue(80)
        p.gravityY:setValue(-40)
        p.lifetime:setValue(3) p.lifestart:setValue(-3)
        p.size:setValue(12) p.sizeTarget:setValue(12)
        p.color:setValue(colorNode(world, 1, 0.8, 0.2, 1).output)
        p.colorTarget:setValue(colorNode(world, 1, 0.2, 0.1, 0).output)
        p.colorTransitionTime:setValue(2)
        p.spawnParticles:setValue(true)
        v.particles = p
    else
        local half = workload == "rotated" and colorNode(world, 1, 1, 1, 0.5)
        for i = 1, n do
            local s = world:createNode(sg.spriteNode)
            s.x:setValue(v.xs[i]) s.y:setValue(v.ys[i])
            s.width:setValue(S) s.height:setValue(S)
            s.image:setValue(loader.asset)
            if half then
                s.color:setValue(half.output)
                s.blendingMode:setValue(i - 1 < n / 2 and 0 or 2)
            end
            v.sprites[i] = s
        end
    end
    world:sortRenderNodes()
    return v
end

local function step(v, f)
    local t, loopStart = f / 60, os.clock()
    local sprites, xs, ys, phases = v.sprites, v.xs, v.ys, v.phases
    if v.workload == "moving" then
        local sin, cos = math.sin, math.cos
        for i = 1, v.n do
            local s = sprites[i]
            s.x:setValue(xs[i] + 20 * sin(t + phases[i]), true)
            s.y:setValue(ys[i] + 20 * cos(t + phases[i]), true)
        end
    elseif v.workload == "still" then
        local sin, cos, kept = math.sin, math.cos, v.kept
        for i = 1, v.n do
            kept[2 * i - 1] = xs[i] + 20 * sin(t + phases[i])
            kept[2 * i] = ys[i] + 20 * cos(t + phases[i])
        end
    elseif v.workload == "rotated" then
        for i = 1, v.n do
            sprites[i].angle:setValue(phases[i] * 57.29578 + f * 2, true)
        end
    elseif v.particles then
        v.particles.time:setValue(t, true)
    end
    v.loop = os.clock() - loopStart
    v.scene:render()
end

local function percentile(times, p)
    table.sort(times)
    return times[math.min(#times, math.floor(#times * p / 100) + 1)]
end

local out, current, index, frame, lastWall, lastCpu, lastMain, times, cpus, loops, mains
local function startScene()
    index = index + 1
    if current then current.scene:delete() current = nil end
    local entry = plan[index]
    if not entry then return end
    current = build(entry.workload, entry.n)
    frame, times, cpus, loops, mains = 0, {}, {}, {}, {}
end

function initEngine()
    sharedSoundManager = soundManager.new()
    sharedAssetManager = assetManager.new()
    out = assert(io.open(os.getenv("LF_OUT") or "/dev/stdout", "w"))
    index = 0
end

-- Run as a bundle's engine script by the player (bench_lua_frame --player), which calls these and
-- has no GL context before its first frame: the image is loaded and the first scene built in the
-- first update.
function loadProject() end
function loadInitialScene() end

function update()
    local wall, cpu, main = clock(), os.clock(), threadClock()
    if index == 0 then
        sharedAssetManager:loadImages({ "dot" })
        startScene()
    end
    if not current then return end
    if frame > warmup then
        times[#times + 1] = (wall - lastWall) * 1000
        cpus[#cpus + 1] = (cpu - lastCpu) * 1000
        loops[#loops + 1] = current.loop * 1000
        if main and lastMain then mains[#mains + 1] = (main - lastMain) * 1000 end
    end
    if #times >= frames then
        out:write(string.format("%s %d %.4f %.4f %.4f %.4f %.4f\n", current.workload, current.n,
            percentile(times, 50), percentile(times, 95), percentile(cpus, 50), percentile(loops, 50),
            #mains > 0 and percentile(mains, 50) or -1))
        out:flush()
        startScene()
        if not current then return end
    end
    step(current, frame)
    frame = frame + 1
    lastWall, lastCpu, lastMain = wall, cpu, main
end

function shutdownEngine()
    if current then current.scene:delete() current = nil end
    if out then out:close() out = nil end
    sharedAssetManager:delete()
    sharedSoundManager:delete()
end
