// Points, sizes and rectangles in points, y growing downward (the platform's view coordinates).
#pragma once

namespace plat::sys {

struct Point {
    double x = 0, y = 0;
    friend bool operator==(const Point&, const Point&) = default;
};

struct Size {
    double width = 0, height = 0;
    friend bool operator==(const Size&, const Size&) = default;
};

struct Rect {
    double x = 0, y = 0, width = 0, height = 0;

    Point origin() const { return {x, y}; }
    Size size() const { return {width, height}; }
    // Half-open: the right and bottom edges are outside, as in the platform's hit tests.
    bool contains(Point p) const { return p.x >= x && p.y >= y && p.x < x + width && p.y < y + height; }
    friend bool operator==(const Rect&, const Rect&) = default;
};

}  // namespace plat::sys
