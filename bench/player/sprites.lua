-- The player benchmark's second scene, as an engine script: 5,000 sprites of one 8x8 image moving
-- on circles over a 640x960 ortho space through the "scenegraph" module, drawn every update. The
-- image's path comes from BENCH_PLAYER_IMAGE.
local sg = scenegraph
local W, H, S, N = 640, 960, 8, 5000

project = {}
function project:pathForImage() return os.getenv("BENCH_PLAYER_IMAGE") end
function project:pathForSound() return nil end

local scene, sprites, xs, ys, phases, frame

local function build()
    scene = sg.scene.new(sharedSoundManager, sharedAssetManager)
    local root = scene:defaultSpace()
    local clear = root:createNode(sg.clearNode)
    local colour = root:createNode(sg.colorNode)
    colour.r:setValue(0.1) colour.g:setValue(0.1) colour.b:setValue(0.2) colour.a:setValue(1)
    clear.color:setValue(colour.output)
    local world = scene:createSpace(sg.ortho2DSpace)
    world.width:setValue(W) world.height:setValue(H)
    world.near:setValue(-1) world.far:setValue(1)
    local loader = world:createNode(sg.imageLoaderNode)
    loader.name:setValue("dot")
    local state = 12345
    local function rnd()
        state = (state * 1664525 + 1013904223) % 4294967296
        return state / 4294967296
    end
    sprites, xs, ys, phases, frame = {}, {}, {}, {}, 0
    for i = 1, N do
        xs[i], ys[i], phases[i] = rnd() * W, rnd() * H, rnd() * 6.2831853
        local s = world:createNode(sg.spriteNode)
        s.x:setValue(xs[i]) s.y:setValue(ys[i])
        s.width:setValue(S) s.height:setValue(S)
        s.image:setValue(loader.asset)
        sprites[i] = s
    end
    world:sortRenderNodes()
end

function initEngine()
    sharedSoundManager = soundManager.new()
    sharedAssetManager = assetManager.new()
    sharedAssetManager:loadImages({ "dot" })
end
function loadProject() build() end

function update()
    local t, sin, cos = frame / 60, math.sin, math.cos
    for i = 1, N do
        local s = sprites[i]
        s.x:setValue(xs[i] + 20 * sin(t + phases[i]), true)
        s.y:setValue(ys[i] + 20 * cos(t + phases[i]), true)
    end
    scene:render()
    frame = frame + 1
end

function shutdownEngine()
    if scene then scene:delete() scene = nil end
    sharedAssetManager:delete()
    sharedSoundManager:delete()
end

game = { attributes = { displaySize = { width = { _value = W }, height = { _value = H } } } }
function game:setNeedsToChangeScene() end
devices = {}
function devices:setScreenSize() end
for _, name in ipairs({ 'loadInitialScene', 'play', 'systemInitiatedPause', 'behaviorInitiatedPause', 'stop',
                        'touchDown', 'touchMoved', 'touchUp', 'touchCancel', 'mouseUp', 'accelerated',
                        'deviceOrientationChanged', 'setVolume', 'raiseExternalEvent' }) do
    _G[name] = function() end
end
function getInterfaceOrientation() return 1 end
