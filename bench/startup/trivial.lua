-- A trivial game as an engine script, the player's counterpart of love/: a clear and one square
-- drawn every frame, no music, no assets.
local sg = scenegraph

devices = { setScreenSize = function() end }
function deviceOrientationChanged() end
function raiseExternalEvent() end

function initEngine()
    sharedSoundManager = soundManager.new()
    sharedAssetManager = assetManager.new()
end

function loadProject() end

local scene
function loadInitialScene()
    scene = sg.scene.new(sharedSoundManager, sharedAssetManager)
    local root = scene:defaultSpace()
    local function color(space, r, g, b)
        local c = space:createNode(sg.colorNode)
        c.r:setValue(r) c.g:setValue(g) c.b:setValue(b) c.a:setValue(1)
        return c
    end
    root:createNode(sg.clearNode).color:setValue(color(root, 0.1, 0.1, 0.2).output)
    local world = scene:createSpace(sg.ortho2DSpace)
    world.width:setValue(320) world.height:setValue(480)
    world.near:setValue(-1) world.far:setValue(1)
    local square = world:createNode(sg.spriteNode)
    square.x:setValue(125) square.y:setValue(125)
    square.width:setValue(50) square.height:setValue(50)
    square.color:setValue(color(world, 1, 1, 1).output)
    world:sortRenderNodes()
end

function update()
    if scene then scene:render() end
end

function shutdownEngine()
    if scene then scene:delete() scene = nil end
    sharedAssetManager:delete()
    sharedSoundManager:delete()
end
