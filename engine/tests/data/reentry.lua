-- Every host call tells the host it began, calls each callback of the block (from one of which the
-- host destroys the state), and tells the host it ended.
local external = callbacks.callExternalFunction
local function entry(name)
    return function()
        external("enter", name)
        callbacks.loadingWillStart()
        callbacks.loadingWillEnd()
        callbacks.gameDidEnd()
        external("call", name)
        external("leave", name)
        return 1
    end
end
for _, name in ipairs({ "initEngine", "loadProject", "update", "touchDown", "raiseExternalEvent",
        "getInterfaceOrientation", "shutdownEngine" }) do
    _G[name] = entry(name)
end
-- From a coroutine, the host is called on the coroutine's stack.
function touchUp() coroutine.wrap(entry("touchUp"))() end
devices = { setScreenSize = entry("setScreenSize") }
-- The display-size walk reads game.attributes.
game = setmetatable({}, { __index = entry("attributes") })
-- Tells the host when the Lua state is closed.
sentinel = newproxy(true)
getmetatable(sentinel).__gc = function() external("closed") end
