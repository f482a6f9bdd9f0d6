#include "platform/host/Glass.h"

#include <algorithm>
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

Picture pictureIn(const Glass& glass, int width, int height) {
    width = std::max(width, 0);
    height = std::max(height, 0);
    const sys::Size points = glass.points();
    if (!width || !height || !(points.width > 0) || !(points.height > 0)) return {0, 0, width, height};
    const double scale = std::min(width / points.width, height / points.height);
    int shownWidth = static_cast<int>(std::lround(points.width * scale));
    int shownHeight = static_cast<int>(std::lround(points.height * scale));
    if (width - shownWidth <= 1) shownWidth = width;
    if (height - shownHeight <= 1) shownHeight = height;
    return {(width - shownWidth) / 2, (height - shownHeight) / 2, shownWidth, shownHeight};
}

}  // namespace plat::host
