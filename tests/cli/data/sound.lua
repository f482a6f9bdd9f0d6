-- Drives the sound manager and the music from host events; answers on standard output.
local pw = platformWrappers

local function say(...)
    local words = {}
    for i = 1, select("#", ...) do words[#words + 1] = tostring((select(i, ...))) end
    print(table.concat(words, " "))
end

function initEngine()
    sharedSoundManager = soundManager.new()
    say("manager", type(sharedSoundManager), sharedSoundManager.update == soundManager.update)
end

function update(dt)
    if sharedSoundManager then sharedSoundManager:update() end
end

function shutdownEngine()
    pw.stopMusic()
    if sharedSoundManager then sharedSoundManager:delete() end
    print("shutdown")
end

local actions = {
    music = function(args) pw.playMusic(args[1], tonumber(args[2])) end,
    pause = function() pw.pauseMusic() end,
    playing = function() say("playing", pw.isMusicPlaying()) end,
    useAfterDelete = function()
        sharedSoundManager:delete()
        sharedSoundManager:update()
        sharedSoundManager:makeCurrent()
        print("still here")
    end,
    forget = function() sharedSoundManager = nil end,
}

function raiseExternalEvent(name, args)
    actions[name](args)
end

for _, name in ipairs({ "loadProject", "loadInitialScene", "play", "systemInitiatedPause", "behaviorInitiatedPause",
        "stop", "touchDown", "touchMoved", "touchUp", "touchCancel", "mouseUp", "accelerated",
        "deviceOrientationChanged", "setVolume" }) do
    _G[name] = function() end
end
