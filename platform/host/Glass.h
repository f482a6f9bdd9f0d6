// The device's glass as a window shows it: the screen held as it was at launch, the interface
// turned inside it as the device turns later (ui::interfaceQuarterTurns, interfacePointFromGlass).
#pragma once

#include "platform/sys/Geometry.h"

namespace plat::host {

struct Glass {
    double width = 0, height = 0;  // the screen in points, portrait
    double scale = 1;              // pixels per point
    int orientation = 1;           // how the device was held at launch: 1-4 (any other counts as 1)

    // How the window shows it, in points: swapped when held landscape.
    sys::Size points() const;
};

// The glass of a device preset held in a device orientation (face up or down, or unknown, count as
// portrait).
Glass glassFor(double width, double height, double scale, int deviceOrientation);

// A window of `glass` at `zoom` screen pixels per device pixel, the zoom halved until the window
// fits `usableWidth` x `usableHeight` (0 or less: anything fits).
struct WindowSize {
    int width = 0, height = 0;
    double zoom = 1;
};
WindowSize windowSizeFor(const Glass& glass, double zoom, int usableWidth, int usableHeight);

// Where the glass shows in a window of `width` x `height` pixels (top-left origin): as large as
// fits with its proportions kept, centred, the rest black bars. An axis within a pixel of the
// window's is the whole window's, so a window of the glass's own size is all picture.
struct Picture {
    int x = 0, y = 0, width = 0, height = 0;
};
Picture pictureIn(const Glass& glass, int width, int height);

}  // namespace plat::host
