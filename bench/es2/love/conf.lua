-- The benchmark's window: 320x240, no vsync, no sound.
function love.conf(t)
    t.window.title = "bench_es2"
    t.window.width = 320
    t.window.height = 240
    t.window.vsync = 0
    t.modules.audio = false
    t.modules.sound = false
    t.modules.joystick = false
    t.modules.physics = false
end
