// A view tree as JSON lines, depth first, for outside checks.
#pragma once

#include <string>

namespace plat::ui {

class View;

// One line a view, keys in this order: "depth" (0 for `root`), "class", "controller" (the owning
// controller's class or null), "frame" [x,y,w,h] in the window's coordinates (interface points),
// "hidden", "alpha", "interaction", "bg" [r,g,b,a] or null, "image" and "text" (null when the view
// shows none), for an image view with frames "frames" (their count) and "frameDuration" (seconds
// a frame), "animations" (keys). Numbers are the shortest texts that read back.
std::string dumpViewTree(const View& root);

}  // namespace plat::ui
