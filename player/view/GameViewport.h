// Where the game's intended display size sits in the view's frame buffer, and touches mapped back
// through it. Worked in float, as the device did: 640x1136 with an intended 320x480 letterboxes to
// a 960-pixel-high viewport, where doubles would give 959.
#pragma once

namespace dk::player {

struct GameViewport {
    // In frame-buffer pixels; x or y is negative when cropping cuts the game's ends off.
    float x = 0, y = 0, width = 0, height = 0;
    // The intended size turned to the buffer's orientation; zero without one.
    float gameWidth = 0, gameHeight = 0;
};

// The intended size `gameWidth` x `gameHeight` (0 or less: none, the whole buffer) fitted into a
// `width` x `height` buffer: letterboxed whole, or, with `crop` ("DKOverscan"), filling the buffer
// with the overflow cut equally from both ends.
GameViewport fitGameViewport(int width, int height, int gameWidth, int gameHeight, bool crop);

struct GamePoint {
    float x = 0, y = 0;
};

// A point of the view (points, y down) in game coordinates, `scale` pixels per point. Without a
// viewport or a game size every point maps to (0, 0).
GamePoint mapToGame(double x, double y, double scale, const GameViewport& viewport);

}  // namespace dk::player
