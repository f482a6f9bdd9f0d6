// The platform's view transitions (flips and curls) on a view whose subviews change: the changes
// are made at once, and the view is shown turning over them for the transition's length. A flip
// is drawn as a squash across the width, a curl as one across the height.
#pragma once

#include <functional>

namespace plat::ui {

class View;

enum class ViewTransition { FlipFromLeft, FlipFromRight, CurlUp, CurlDown };

// `completion` runs once on the main loop: finished at `duration` seconds, unfinished when another
// transition of `view` replaces this one or the view goes. `cache` (the platform's caching of the
// view's drawing during the transition) changes nothing here: views keep their drawings anyway.
void transitionView(View& view, ViewTransition transition, double duration, bool cache,
                    const std::function<void()>& changes, std::function<void(bool finished)> completion = {});
// A transition of `view` is under way.
bool isTransitioning(const View& view);

}  // namespace plat::ui
