// Interface orientations 1 to 4 and their masks (1 << orientation).
#pragma once

#include <string_view>

#include "platform/sys/Geometry.h"

namespace plat::foundation {
class Value;
}

namespace plat::ui {

using sys::Point;
using sys::Rect;
using sys::Size;

inline constexpr int kInterfaceOrientationPortrait = 1;
inline constexpr int kInterfaceOrientationPortraitUpsideDown = 2;
inline constexpr int kInterfaceOrientationLandscapeRight = 3;
inline constexpr int kInterfaceOrientationLandscapeLeft = 4;

inline constexpr unsigned kInterfaceOrientationMaskPortrait = 1u << 1;
inline constexpr unsigned kInterfaceOrientationMaskPortraitUpsideDown = 1u << 2;
inline constexpr unsigned kInterfaceOrientationMaskLandscapeRight = 1u << 3;
inline constexpr unsigned kInterfaceOrientationMaskLandscapeLeft = 1u << 4;
inline constexpr unsigned kInterfaceOrientationMaskLandscape = 24;
inline constexpr unsigned kInterfaceOrientationMaskAllButUpsideDown = 26;
inline constexpr unsigned kInterfaceOrientationMaskAll = 30;

inline constexpr std::string_view kSupportedInterfaceOrientationsKey = "UISupportedInterfaceOrientations";

inline bool isInterfaceOrientation(int o) {
    return o >= kInterfaceOrientationPortrait && o <= kInterfaceOrientationLandscapeLeft;
}
inline bool isLandscape(int o) {
    return o == kInterfaceOrientationLandscapeRight || o == kInterfaceOrientationLandscapeLeft;
}
inline bool maskAllows(unsigned mask, int o) {
    return isInterfaceOrientation(o) && (mask & (1u << o)) != 0;
}

// An Info.plist orientation name as a mask: "UIInterfaceOrientationLandscapeLeft" 16, "...Portrait" 2,
// "...PortraitUpsideDown" 4, any other text 8 (landscape right).
unsigned interfaceOrientationMaskForString(std::string_view name);
// The same names as orientations: 4, 1, 2, and 3 for any other text.
int interfaceOrientationForString(std::string_view name);
// The Info.plist list's masks joined (strings only; an empty list is 0); all four when the entry is
// absent or not a list.
unsigned interfaceOrientationMaskForInfoList(const foundation::Value* list);

// The screen's bounds in points as the interface is turned: portrait for 1 and 2, swapped for 3 and 4.
Rect interfaceBounds(int orientation);

// The glass is the screen as a window shows it: upright for the interface orientation
// `glassOrientation` (a window made while the device was held that way). An interface in another
// orientation shows turned on it by this many clockwise quarter turns (0 to 3); anything outside 1-4
// counts as portrait.
int interfaceQuarterTurns(int interfaceOrientation, int glassOrientation);
// A point on the glass (top-left origin; `glassSize` in the same units) as a point of the interface
// turned on it, in those units: what a window driver does with a click before dividing by the scale.
Point interfacePointFromGlass(Point glass, Size glassSize, int glassOrientation, int interfaceOrientation);

}  // namespace plat::ui
