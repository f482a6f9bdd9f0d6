// Colour values carried by colour ports and used by the renderers.
#pragma once

struct SGColor {
    float r;
    float g;
    float b;
    float a;

    friend bool operator==(const SGColor&, const SGColor&) = default;
};

inline constexpr SGColor SGBlackColor{0.0f, 0.0f, 0.0f, 1.0f};
inline constexpr SGColor SGWhiteColor{1.0f, 1.0f, 1.0f, 1.0f};
