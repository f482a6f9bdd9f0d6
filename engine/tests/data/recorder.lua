-- Host calls append their name and arguments to `calls`; a name in `failing` raises its value.
calls, failing = {}, {}
local function record(name, ...)
    local words = { name }
    for i = 1, select("#", ...) do words[#words + 1] = tostring((select(i, ...))) end
    calls[#calls + 1] = table.concat(words, " ")
    if failing[name] then error(failing[name], 0) end
end
for _, name in ipairs({ "initEngine", "loadInitialScene", "deviceOrientationChanged", "setVolume" }) do
    _G[name] = function(...) record(name, ...) end
end
game = { attributes = { displaySize = { width = { _value = 1024 }, height = { _value = "768" } } } }
function game:setNeedsToChangeScene(name, flag) record("setNeedsToChangeScene", self == game, name, flag) end
devices = {}
function devices:setScreenSize(w, h) record("setScreenSize", self == devices, w, h) end
