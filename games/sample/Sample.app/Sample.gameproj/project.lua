-- The sample game's project: what the engine script needs to know about the game.
return {
    name = "Sample",
    displaySize = { width = 480, height = 320 },
    initialScene = "title",
    scenes = {
        title = { background = { 0.10, 0.12, 0.20, 1.0 } },
        play = { background = { 0.05, 0.20, 0.10, 1.0 } },
    },
}
