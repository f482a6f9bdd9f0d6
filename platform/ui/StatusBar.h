// The status bar's visibility and the application frame it leaves: the screen's bounds less the
// bar when it shows. Games run full-screen, so it starts hidden. Main thread.
#pragma once

#include "platform/sys/Geometry.h"

namespace plat::ui {

inline constexpr double kStatusBarHeight = 20.0;

bool isStatusBarHidden();
void setStatusBarHidden(bool hidden);
// In portrait points, as the main screen's bounds.
plat::sys::Rect applicationFrame();

}  // namespace plat::ui
