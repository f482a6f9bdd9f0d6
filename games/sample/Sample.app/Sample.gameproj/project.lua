-- The sample game's project: what the engine script needs to know about the game.
return {
    name = "Sample",
    displaySize = { width = 480, height = 320 },
    initialScene = "title",
    -- Asset names and their files under images/ and sounds/.
    images = { logo = "logo.png", backdrop = "backdrop.jpg", crate = "crate.pvrtc" },
    sounds = { touch = "touch.wav" },
    scenes = {
        title = {
            background = { 0.10, 0.12, 0.20, 1.0 },
            images = { "backdrop", "logo" },
            label = { text = "Tap to play", font = "DejaVu Sans", size = 18 },
        },
        play = {
            background = { 0.05, 0.20, 0.10, 1.0 },
            images = { "backdrop", "crate" },
            sounds = { "touch" },
        },
    },
}
