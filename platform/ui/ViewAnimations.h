// Inside platform/ui: the animations running on one view, and what setters and the compositor ask.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/foundation/RunLoop.h"
#include "platform/ui/Animation.h"

namespace plat::ui {

class View;
struct AnimationGroup;

// A block's Transform animates the layer transform's five numbers: tx, ty, rotation, scaleX, scaleY.
enum class AnimatedProperty { Opacity, Position, Bounds, Rotation, Transform };
inline constexpr int kAnimatedValuesMax = 5;

struct RunningAnimation {
    std::string key;
    AnimatedProperty property;
    double from[kAnimatedValuesMax] = {};
    double to[kAnimatedValuesMax] = {};
    double begin = 0;
    double duration = 0;
    double repeat = 1;  // whole passes or kRepeatForever
    AnimationCurve curve = AnimationCurve::Linear;
    std::shared_ptr<AnimationGroup> group;  // a block's; none for a layer animation
    foundation::Timer end;                  // a finite layer animation's removal
    std::uint64_t id = 0;
};

struct ViewAnimations {
    std::vector<std::unique_ptr<RunningAnimation>> list;

    // Ends every animation unfinished (the view is going).
    ~ViewAnimations();

    // Onto `view`'s list, replacing the one of its key.
    static void add(View& view, std::unique_ptr<RunningAnimation> animation);
    // The group's animations on `view`, at their end.
    static void removeGroup(View& view, const AnimationGroup* group);
    // Whether a block's changes are being made (setters then read what shows before they change).
    static bool blockOpen();
    // A setter's change from what showed to the model's new value: animated when a block is open.
    static void blockChange(View& view, AnimatedProperty property, const double* shown, const double* value,
                            int count);
    // The property's value now: `model` (count numbers) with the running animations applied.
    static void present(const View& view, AnimatedProperty property, double* model, int count);
    // Animations live anywhere: the compositor keeps committing while there are.
    static std::size_t runningCount();
};

}  // namespace plat::ui
