-- The engine script of the bridge tests: no game, just what the calls need.
events = {}

-- "<count> <type> <value> ..." of a call's results.
function show(...)
  local out = { select('#', ...) }
  for i = 1, select('#', ...) do
    local v = select(i, ...)
    out[#out + 1] = type(v) .. ' ' .. tostring(v)
  end
  return table.concat(out, ' ')
end

function initEngine() end
function shutdownEngine() end

-- Collects garbage first, so that anything only the failing call's stack held is gone; fails on
-- the event "fail".
function raiseExternalEvent(name, args)
  events[#events + 1] = name .. '(' .. table.concat(args, ',') .. ')'
  collectgarbage()
  collectgarbage()
  if name == 'fail' then error('the handler failed') end
end
