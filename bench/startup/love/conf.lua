-- A trivial LÖVE game, as it comes: every module on, a 320x480 window.
function love.conf(t)
    t.window.title = "startup"
    t.window.width = 320
    t.window.height = 480
end
