// What the X server shows of a window (apart from the tests: Xlib's macros clash with gtest's).
#pragma once

#include <SDL2/SDL.h>

namespace dktest {

// The pixel at (x, y) of `window` as 0xRRGGBB; 0xDEAD when it cannot be read.
unsigned long shownPixel(SDL_Window* window, int x, int y);

}  // namespace dktest
