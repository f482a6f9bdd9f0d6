-- A trivial LÖVE game that says on standard output when its first frame has been presented:
-- LÖVE's own loop, with one line after the first present.
function love.load() end

function love.draw()
    love.graphics.clear(0.1, 0.1, 0.2)
    love.graphics.rectangle("fill", 100, 100, 50, 50)
end

function love.run()
    love.load(love.arg.parseGameArguments(arg), arg)
    love.timer.step()
    local first = true
    return function()
        love.event.pump()
        for name, a in love.event.poll() do
            if name == "quit" then return a or 0 end
        end
        love.update(love.timer.step())
        love.graphics.origin()
        love.graphics.clear(love.graphics.getBackgroundColor())
        love.draw()
        love.graphics.present()
        if first then
            first = false
            io.write("firstFrame\n")
            io.flush()
            return 0
        end
    end
end

function love.update() end
