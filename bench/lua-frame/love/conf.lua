-- The benchmark's window: 320x240, or 1x1 with LF_SIZE=1 (the harness's CPU runs); no vsync, no sound.
function love.conf(t)
    local side = os.getenv("LF_SIZE") == "1"
    t.window.title = "lua-frame"
    t.window.width = side and 1 or 320
    t.window.height = side and 1 or 240
    t.window.vsync = 0
    t.modules.audio = false
    t.modules.sound = false
    t.modules.joystick = false
    t.modules.physics = false
end
