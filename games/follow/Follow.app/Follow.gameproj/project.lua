-- Follow's game project: read by the engine script's loadProject.
return {
    displaySize = { width = 480, height = 320 },  -- game units; touches arrive in them
    rectangle = { width = 40, height = 30, color = { 1, 0, 0 } },
}
