// Colour values carried by colour ports and used by the renderers.
#pragma once

#include <cstring>

struct SGColor {
    float r;
    float g;
    float b;
    float a;

    friend bool operator==(const SGColor&, const SGColor&) = default;
};

namespace dk::scenegraph {

// Bytewise equality, what the renderers' GL state caches compare: a NaN channel matches itself,
// so a cached colour is never sent again and again.
inline bool sameColor(const SGColor& a, const SGColor& b) {
    return std::memcmp(&a, &b, sizeof(SGColor)) == 0;
}

}  // namespace dk::scenegraph

inline constexpr SGColor SGBlackColor{0.0f, 0.0f, 0.0f, 1.0f};
inline constexpr SGColor SGWhiteColor{1.0f, 1.0f, 1.0f, 1.0f};
