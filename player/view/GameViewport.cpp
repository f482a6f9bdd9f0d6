#include "player/view/GameViewport.h"

#include <utility>

namespace dk::player {

namespace {

// Truncated toward zero, held inside int's range (an absurd intended size must not overflow).
int truncate(float value) {
    if (!(value > -2147483520.0f)) return value != value ? 0 : -2147483520;
    if (value > 2147483520.0f) return 2147483520;
    return static_cast<int>(value);
}

}  // namespace

GameViewport fitGameViewport(int width, int height, int gameWidth, int gameHeight, bool crop) {
    GameViewport v;
    v.width = static_cast<float>(width);
    v.height = static_cast<float>(height);
    if (gameWidth <= 0 || gameHeight <= 0 || width <= 0 || height <= 0) return v;

    const float W = static_cast<float>(width);
    const float H = static_cast<float>(height);
    const float screenAspect = W / H;
    float gw = static_cast<float>(gameWidth);
    float gh = static_cast<float>(gameHeight);
    if ((width > height) != (gameWidth > gameHeight)) std::swap(gw, gh);
    v.gameWidth = gw;
    v.gameHeight = gh;
    const float gameAspect = gw / gh;

    if (crop == (screenAspect < gameAspect)) {
        const int vw = truncate(gameAspect * H);
        v.x = static_cast<float>((width - vw) / 2);
        v.width = static_cast<float>(vw);
    } else {
        const int vh = truncate(W / gameAspect);
        v.y = static_cast<float>((height - vh) / 2);
        v.height = static_cast<float>(vh);
    }
    return v;
}

GamePoint mapToGame(double x, double y, double scale, const GameViewport& v) {
    if (v.width == 0 || v.height == 0 || v.gameWidth == 0 || v.gameHeight == 0) return {};
    const float s = static_cast<float>(scale);
    const float rx = v.gameWidth / v.width;
    const float ry = v.gameHeight / v.height;
    return {(static_cast<float>(x) * s - v.x) * rx, (static_cast<float>(y) * s - v.y) * ry};
}

}  // namespace dk::player
