#include "platform/host/Glass.h"

#include <cmath>

namespace plat::host {

namespace {

int heldAs(int orientation) {
    return orientation >= 1 && orientation <= 4 ? orientation : 1;
}

// From the coordinates of the interface in `orientation` to those of the screen held portrait, and
// back. Landscape right (3) has the screen's top on the viewer's left, landscape left (4) on the right.
sys::Point toPortrait(int orientation, sys::Point p, double w, double h) {
    switch (orientation) {
        case 2:
            return {w - p.x, h - p.y};
        case 3:
            return {w - p.y, p.x};
        case 4:
            return {p.y, h - p.x};
        default:
            return p;
    }
}

sys::Point fromPortrait(int orientation, sys::Point q, double w, double h) {
    switch (orientation) {
        case 2:
            return {w - q.x, h - q.y};
        case 3:
            return {q.y, w - q.x};
        case 4:
            return {h - q.y, q.x};
        default:
            return q;
    }
}

// Clockwise quarter turns from the portrait screen to the viewer's picture of each orientation.
int quarterTurns(int orientation) {
    switch (orientation) {
        case 2:
            return 2;
        case 3:
            return 1;
        case 4:
            return 3;
        default:
            return 0;
    }
}

}  // namespace

sys::Size Glass::points() const {
    const int held = heldAs(orientation);
    return held == 3 || held == 4 ? sys::Size{height, width} : sys::Size{width, height};
}

Glass glassFor(double width, double height, double scale, int deviceOrientation) {
    return {width, height, scale, heldAs(deviceOrientation)};
}

WindowSize windowSizeFor(const Glass& glass, double zoom, int usableWidth, int usableHeight) {
    const sys::Size points = glass.points();
    auto pixels = [&](double length, double z) {
        return static_cast<int>(std::lround(length * glass.scale * z));
    };
    if (!(zoom > 0)) zoom = 1;
    // Down to a window of a few pixels at most: a tiny display still gets one.
    while (usableWidth > 0 && usableHeight > 0 && zoom > 1.0 / 64 &&
           (pixels(points.width, zoom) > usableWidth || pixels(points.height, zoom) > usableHeight))
        zoom /= 2;
    return {pixels(points.width, zoom), pixels(points.height, zoom), zoom};
}

sys::Point glassToInterface(const Glass& glass, sys::Point point, int interfaceOrientation) {
    const sys::Point portrait = toPortrait(heldAs(glass.orientation), point, glass.width, glass.height);
    return fromPortrait(heldAs(interfaceOrientation), portrait, glass.width, glass.height);
}

sys::Point interfaceToGlass(const Glass& glass, sys::Point point, int interfaceOrientation) {
    const sys::Point portrait = toPortrait(heldAs(interfaceOrientation), point, glass.width, glass.height);
    return fromPortrait(heldAs(glass.orientation), portrait, glass.width, glass.height);
}

int interfaceQuarterTurns(const Glass& glass, int interfaceOrientation) {
    return ((quarterTurns(heldAs(interfaceOrientation)) - quarterTurns(heldAs(glass.orientation))) % 4 + 4) %
           4;
}

}  // namespace plat::host
