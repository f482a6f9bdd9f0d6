#include "platform/host/Glass.h"

#include <cmath>

namespace plat::host {

namespace {

int heldAs(int orientation) {
    return orientation >= 1 && orientation <= 4 ? orientation : 1;
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

}  // namespace plat::host
