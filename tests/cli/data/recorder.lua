-- Prints every call the host makes, one line each, on standard output.
local function record(name, ...)
    local words = { "script:", name }
    for i = 1, select("#", ...) do words[#words + 1] = tostring((select(i, ...))) end
    print(table.concat(words, " "))
end

for _, name in ipairs({ "initEngine", "shutdownEngine", "play", "systemInitiatedPause", "behaviorInitiatedPause",
        "stop", "touchDown", "touchMoved", "touchUp", "touchCancel", "mouseUp", "accelerated",
        "deviceOrientationChanged", "setVolume" }) do
    _G[name] = function(...) record(name, ...) end
end

local frames = 0
function update(dt)
    frames = frames + 1
    if FAIL_UPDATES then error("frame " .. frames .. " failed") end
end

function loadProject(path)
    record("loadProject", path)
    if path == "missing" then error("cannot open " .. path, 0) end
end

function loadInitialScene()
    record("loadInitialScene")
    callbacks.loadingWillStart()
    callbacks.loadingWillEnd()
end

function getInterfaceOrientation() record("getInterfaceOrientation") return 2 end

function raiseExternalEvent(name, args)
    record("raiseExternalEvent", name, #args, unpack(args))
    if name == "fail" then error("event failed", 0) end
    if name == "external" then callbacks.callExternalFunction("showBanner", 1, true, args[1]) end
    if name == "failupdates" then FAIL_UPDATES = true end
    if name == "frames" then print("frames " .. frames) end
end

game = { attributes = { displaySize = { width = { _value = 640 }, height = { _value = 960 } } } }
function game:setNeedsToChangeScene(name, flag) record("setNeedsToChangeScene", name, flag) end
devices = {}
function devices:setScreenSize(w, h) record("setScreenSize", w, h) end
