-- Runs the engine script named by SB_ENGINE and says on stdout when each start-up step begins:
-- "script", "loadProject", "loadInitialScene" and, once, "update" (the first game frame).
io.write("script\n") io.flush()
dofile(os.getenv("SB_ENGINE"))

local function announce(name, once)
    local inner = _G[name]
    if type(inner) ~= "function" then return end
    local said = false
    _G[name] = function(...)
        if not (once and said) then
            said = true
            io.write(name, "\n") io.flush()
        end
        return inner(...)
    end
end
announce("loadProject")
announce("loadInitialScene")
announce("update", true)
