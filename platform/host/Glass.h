// The device's glass as a window shows it: the screen held as it was at launch, the interface
// turned inside it as the device turns later.
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

// Between the glass as the window shows it and the interface's coordinates (both in points) while
// the interface is in `interfaceOrientation` (1-4).
sys::Point glassToInterface(const Glass& glass, sys::Point point, int interfaceOrientation);
sys::Point interfaceToGlass(const Glass& glass, sys::Point point, int interfaceOrientation);

// The interface's turn on the glass, in quarter turns clockwise (0-3).
int interfaceQuarterTurns(const Glass& glass, int interfaceOrientation);

}  // namespace plat::host
