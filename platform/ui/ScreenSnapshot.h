// A picture of the screen as it shows now, for screens that lay the old screen behind what they
// bring up (an expanded ad).
#pragma once

#include <memory>

#include "platform/ui/Image.h"

namespace plat::ui {

class Application;

// The key window as the compositor shows it (the game's GL layer and the views; not the overlays),
// drawn onto the glass of a portrait screen of the main screen's bounds at `scale` pixels a point:
// an interface in another orientation comes out turned, as the platform's rendering of the key
// window's layer gives it. Null without a key window or when no GL context can be made.
std::shared_ptr<Image> snapshotKeyWindow(Application& app, double scale);

}  // namespace plat::ui
