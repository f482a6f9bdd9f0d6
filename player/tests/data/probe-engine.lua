-- The game view tests' engine script: every call of the engine's contract is logged through the
-- host's external function "log" (traced "script <call> <arguments>"), fractions "%.3f". The game
-- project is a Lua file that may set the display size and define hooks:
--   onUpdate(frame, dt), onTouchDown(x, y, id, count) -- frame counts updates from 1
-- and the host's actions: host("pause", "system"|"behavior"), host("play"), host("stop").

local call = callbacks.callExternalFunction
function host(...) return call(...) end

local function words(...)
  local out = {}
  for i = 1, select('#', ...) do
    local v = select(i, ...)
    if type(v) == 'number' then
      out[#out + 1] = v == math.floor(v) and string.format('%d', v) or string.format('%.3f', v)
    else
      out[#out + 1] = tostring(v)
    end
  end
  return table.concat(out, ' ')
end

function log(name, ...) call('log', name .. (select('#', ...) > 0 and ' ' .. words(...) or '')) end

-- Calls not logged while quiet (the frame and touch traces say as much).
quiet = { update = true, accelerated = true, touchDown = true, touchMoved = true, touchUp = true,
          touchCancel = true, mouseUp = true }

local function logged(name, hook)
  _G[name] = function(...)
    if not quiet[name] then log(name, ...) end
    if hook then return hook(...) end
  end
end

game = { attributes = { displaySize = { width = { _value = 0 }, height = { _value = 0 } } } }
function game:setNeedsToChangeScene(name, flag) log('setNeedsToChangeScene', name, flag) end
devices = {}
function devices:setScreenSize(w, h) log('setScreenSize', w, h) end

function setDisplaySize(w, h)
  game.attributes.displaySize.width._value = w
  game.attributes.displaySize.height._value = h
end

-- Runs a whole scene load as the engine does around one: both callbacks, inside this call.
function loadScene(name)
  log('load', name)
  callbacks.loadingWillStart()
  callbacks.loadingWillEnd()
  log('loaded', name)
end

frame = 0
for _, name in ipairs({ 'initEngine', 'loadInitialScene', 'shutdownEngine', 'play', 'systemInitiatedPause',
                        'behaviorInitiatedPause', 'stop', 'touchMoved', 'touchUp', 'touchCancel', 'mouseUp',
                        'accelerated', 'deviceOrientationChanged', 'setVolume', 'raiseExternalEvent' }) do
  logged(name)
end
logged('loadProject', function(path) dofile(path) end)
logged('getInterfaceOrientation', function() return 1 end)
logged('update', function(dt)
  frame = frame + 1
  if onUpdate then onUpdate(frame, dt) end
end)
logged('touchDown', function(...) if onTouchDown then onTouchDown(...) end end)
