-- Calls every native function the engine's libraries add, each with no arguments, in pcall:
-- those reached from the globals a plain state lacks (the names in `plain`) and from the
-- registry's "module.name" metatables. Returns how many it called.
local skipped = { socket = true } -- LuaSocket's own: select() with nothing to watch waits forever
for name in plain:gmatch("%S+") do skipped[name] = true end

local functions, seen = {}, {}
local function collect(value)
    if type(value) == "function" then
        if debug.getinfo(value, "S").what == "C" then functions[#functions + 1] = value end
    elseif type(value) == "table" and not seen[value] then
        seen[value] = true
        for _, member in pairs(value) do collect(member) end
    end
end
for name, value in pairs(_G) do
    if not skipped[name] then collect(value) end
end
for name, value in pairs(debug.getregistry()) do
    if type(name) == "string" and name:match("^[%w_]+%.[%w_]+$") then collect(value) end
end
-- Managers are never collected: what a constructor made goes through its own delete.
local function deleteMade(made)
    local found, delete = pcall(function() return made.delete end)
    if found and type(delete) == "function" then delete(made) end
end
for _, f in ipairs(functions) do
    local ok, made = pcall(f)
    if ok and type(made) == "userdata" then deleteMade(made) end
end
return #functions
