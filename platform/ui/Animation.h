// Animations of views and their layers, on the application loop's clock (so the virtual clock makes
// them exact): the model takes the final value at once, the compositor draws the animated
// (presentation) value. Each animation (a view block's change of alpha or frame, under the keys
// "opacity", "position" and "bounds"; or a layer animation of "transform.rotation.z" or "opacity"
// under the caller's key) is a record on its view that presentationAlpha/Frame/Rotation apply in
// order, later ones winning. A new animation of a key replaces the running one, which ends
// unfinished; a block ends once all its animations have (a timer at its duration, or a later turn
// when the last was cut), telling its completion whether all ran out. Ends, named begins and layer
// keys are traced ("ui animation <name> begin|end").
#pragma once

#include <limits>
#include <optional>
#include <string>

namespace plat::ui {

enum class AnimationCurve { Linear, EaseInOut, EaseIn, EaseOut };

inline constexpr double kDefaultViewAnimationDuration = 0.2;
inline constexpr double kDefaultLayerAnimationDuration = 0.25;
inline constexpr double kRepeatForever = std::numeric_limits<double>::infinity();

// A view animation block (View::animate). Its changes of alpha (the layer's opacity), frame and
// layer transform animate from what shows to the new value. A named block traces "ui animation <name> begin" as
// it starts and "... end" as it ends.
struct ViewAnimationOptions {
    std::string name;
    double duration = kDefaultViewAnimationDuration;
    AnimationCurve curve = AnimationCurve::EaseInOut;
};

// A basic layer animation of one key path: "transform.rotation.z" (radians) or "opacity". Without
// `from` it starts at what shows; `to` ends it, else `by` past the start, else at the model value.
// Repeated `repeatCount` times (0 counts as 1; kRepeatForever), then removed.
struct BasicAnimation {
    std::string keyPath;
    std::optional<double> from, to, by;
    double duration = kDefaultLayerAnimationDuration;
    double repeatCount = 0;
    AnimationCurve curve = AnimationCurve::Linear;
};

// The fraction of the way a curve has gone at the fraction `t` (0 to 1) of the time: the platform's
// ease-in-out is the cubic Bezier (0.42, 0) (0.58, 1), ease-in (0.42, 0) (1, 1), ease-out
// (0, 0) (0.58, 1).
double animationCurveValue(AnimationCurve curve, double t);

}  // namespace plat::ui
