// What the X server shows of a window (apart from the tests: Xlib's macros clash with gtest's).
#pragma once

#include <SDL2/SDL.h>

#include <cstdint>
#include <vector>

namespace dktest {

// The pixel at (x, y) of `window` as 0xRRGGBB; 0xDEAD when it cannot be read.
unsigned long shownPixel(SDL_Window* window, int x, int y);
// The window's top left `width` x `height` pixels as RGBA (alpha 255), top row first; empty when
// they cannot be read.
std::vector<std::uint8_t> shownPixels(SDL_Window* window, int width, int height);

}  // namespace dktest
