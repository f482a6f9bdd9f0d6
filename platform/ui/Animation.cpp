#include "platform/ui/Animation.h"

#include <algorithm>
#include <cmath>
#include <utility>

#include "platform/foundation/Log.h"
#include "platform/ui/Application.h"
#include "platform/ui/Compositor.h"
#include "platform/ui/UITrace.h"
#include "platform/ui/View.h"
#include "platform/ui/ViewAnimations.h"

namespace plat::ui {

// A view animation block: its animations share its clock and end together.
struct AnimationGroup {
    std::string name;
    double begin = 0;
    double duration = 0;
    AnimationCurve curve = AnimationCurve::EaseInOut;
    std::function<void(bool)> completion;
    int live = 0;       // its animations still on views
    bool open = true;   // its changes are being made
    bool cut = false;   // one was removed before its end
    bool ended = false;
    foundation::Timer timer;
    std::vector<std::weak_ptr<View>> views;
};

namespace {

// Main thread only, as views are; never destroyed, as a view may go during the process's exit.
std::vector<std::shared_ptr<AnimationGroup>>& g_open = *new std::vector<std::shared_ptr<AnimationGroup>>;
std::vector<std::shared_ptr<AnimationGroup>>& g_running = *new std::vector<std::shared_ptr<AnimationGroup>>;
std::size_t g_running_animations = 0;
std::uint64_t g_nextId = 1;

foundation::RunLoop& animationLoop() {
    Application* app = Application::shared();
    return app ? app->runLoop() : foundation::RunLoop::main();
}

void traceAnimation(const std::string& name, const char* what) {
    if (!name.empty()) foundation::trace(kTraceUI, [&] { return "animation " + name + " " + what; });
}

const char* keyFor(AnimatedProperty property) {
    switch (property) {
        case AnimatedProperty::Opacity: return "opacity";
        case AnimatedProperty::Position: return "position";
        case AnimatedProperty::Bounds: return "bounds";
        case AnimatedProperty::Rotation:
        case AnimatedProperty::Transform: break;
    }
    return "transform";
}

double bezier(double s, double p1, double p2) {
    const double r = 1 - s;
    return 3 * r * r * s * p1 + 3 * r * s * s * p2 + s * s * s;
}

void endGroup(const std::shared_ptr<AnimationGroup>& group);

void armGroupEnd(const std::shared_ptr<AnimationGroup>& group, double delay) {
    std::weak_ptr<AnimationGroup> weak = group;
    group->timer = animationLoop().addTimer(delay, [weak] {
        if (auto group = weak.lock()) endGroup(group);
    });
}

// An animation leaves its view: at its end, or `early` (removed, replaced, its view gone).
void retire(std::unique_ptr<RunningAnimation> animation, bool early) {
    --g_running_animations;
    Compositor::setNeedsCommit();
    const std::shared_ptr<AnimationGroup>& group = animation->group;
    if (!group) {
        traceAnimation(animation->key, "end");
        return;
    }
    if (group->ended) return;
    --group->live;
    if (!early) return;
    group->cut = true;
    if (group->live == 0 && !group->open) armGroupEnd(group, 0);  // over: told on a later turn
}

void endGroup(const std::shared_ptr<AnimationGroup>& group) {
    if (group->ended) return;
    for (const auto& weak : group->views) {
        if (std::shared_ptr<View> view = weak.lock()) ViewAnimations::removeGroup(*view, group.get());
    }
    group->ended = true;
    group->timer.invalidate();
    std::shared_ptr<AnimationGroup> keep = group;
    std::erase(g_running, group);
    traceAnimation(keep->name, "end");
    if (auto completion = std::move(keep->completion)) completion(!keep->cut);
}

}  // namespace

double animationCurveValue(AnimationCurve curve, double t) {
    t = std::clamp(t, 0.0, 1.0);
    // The control points (x1, y1) (x2, y2).
    double x1 = 0.42, y1 = 0, x2 = 0.58, y2 = 1;
    switch (curve) {
        case AnimationCurve::Linear: return t;
        case AnimationCurve::EaseInOut: break;
        case AnimationCurve::EaseIn: x2 = y2 = 1; break;
        case AnimationCurve::EaseOut: x1 = 0; break;
    }
    // x(s) rises monotonically from 0 to 1: find s for the time by halving, then take y(s).
    double lo = 0, hi = 1;
    for (int i = 0; i < 50; ++i) {
        const double mid = (lo + hi) / 2;
        (bezier(mid, x1, x2) < t ? lo : hi) = mid;
    }
    return bezier((lo + hi) / 2, y1, y2);
}

ViewAnimations::~ViewAnimations() {
    for (auto& animation : std::exchange(list, {})) retire(std::move(animation), true);
}

void ViewAnimations::add(View& view, std::unique_ptr<RunningAnimation> animation) {
    if (!view.m_animations) view.m_animations = std::make_unique<ViewAnimations>();
    auto& list = view.m_animations->list;
    auto same = std::find_if(list.begin(), list.end(), [&](const auto& a) { return a->key == animation->key; });
    if (!animation->key.empty() && same != list.end()) {
        std::unique_ptr<RunningAnimation> old = std::move(*same);
        list.erase(same);
        // A block changing one property twice keeps its last change, and still finishes.
        if (old->group && old->group == animation->group) {
            --g_running_animations;
            --old->group->live;
        } else {
            retire(std::move(old), true);
        }
    }
    animation->id = g_nextId++;
    list.push_back(std::move(animation));
    ++g_running_animations;
    Compositor::setNeedsCommit();
}

void ViewAnimations::removeGroup(View& view, const AnimationGroup* group) {
    if (!view.m_animations) return;
    auto& list = view.m_animations->list;
    for (auto it = list.begin(); it != list.end();) {
        if ((*it)->group.get() != group) {
            ++it;
            continue;
        }
        std::unique_ptr<RunningAnimation> done = std::move(*it);
        it = list.erase(it);
        retire(std::move(done), false);
    }
}

bool ViewAnimations::blockOpen() {
    return !g_open.empty();
}

void ViewAnimations::blockChange(View& view, AnimatedProperty property, const double* shown, const double* value,
                                 int count) {
    if (g_open.empty() || std::equal(shown, shown + count, value)) return;
    const std::shared_ptr<AnimationGroup>& group = g_open.back();
    auto animation = std::make_unique<RunningAnimation>();
    animation->key = keyFor(property);
    animation->property = property;
    std::copy(shown, shown + count, animation->from);
    std::copy(value, value + count, animation->to);
    animation->begin = group->begin;
    animation->duration = group->duration;
    animation->curve = group->curve;
    animation->group = group;
    ++group->live;
    group->views.push_back(view.weak_from_this());
    add(view, std::move(animation));
}

void ViewAnimations::present(const View& view, AnimatedProperty property, double* value, int count) {
    if (!view.m_animations) return;
    const double now = animationLoop().now();
    for (const auto& a : view.m_animations->list) {
        if (a->property != property || a->duration <= 0) continue;
        const double passes = (now - a->begin) / a->duration;
        if (passes < 0 || passes >= a->repeat) continue;  // over: its removal is due
        const double f = animationCurveValue(a->curve, passes - std::floor(passes));
        for (int i = 0; i < count; ++i) value[i] = a->from[i] + (a->to[i] - a->from[i]) * f;
    }
}

std::size_t ViewAnimations::runningCount() {
    return g_running_animations;
}

// The View side.

void View::animate(const ViewAnimationOptions& options, const std::function<void()>& changes,
                   std::function<void(bool)> completion) {
    auto group = std::make_shared<AnimationGroup>();
    group->name = options.name;
    group->begin = animationLoop().now();
    group->duration = std::max(options.duration, 0.0);
    group->curve = options.curve;
    group->completion = std::move(completion);
    g_running.push_back(group);
    traceAnimation(group->name, "begin");
    {
        g_open.push_back(group);
        struct Close {
            ~Close() {
                g_open.back()->open = false;
                g_open.pop_back();
            }
        } close;
        if (changes) changes();
    }
    armGroupEnd(group, group->live > 0 ? group->duration : 0);
}

bool View::addAnimation(const BasicAnimation& animation, const std::string& key) {
    AnimatedProperty property;
    double model;
    if (animation.keyPath == "transform.rotation.z") {
        property = AnimatedProperty::Rotation;
        model = m_layerTransform.rotation;
    } else if (animation.keyPath == "opacity") {
        property = AnimatedProperty::Opacity;
        model = m_alpha;
    } else {
        return false;
    }
    double shown = model;
    ViewAnimations::present(*this, property, &shown, 1);
    const double from = animation.from ? *animation.from : animation.to && animation.by ? *animation.to - *animation.by : shown;
    const double to = animation.to ? *animation.to : animation.by ? from + *animation.by : model;

    auto running = std::make_unique<RunningAnimation>();
    running->key = key;
    running->property = property;
    running->from[0] = from;
    running->to[0] = to;
    running->begin = animationLoop().now();
    running->duration = animation.duration > 0 ? animation.duration : kDefaultLayerAnimationDuration;
    running->repeat = animation.repeatCount > 0 ? animation.repeatCount : 1;
    running->curve = animation.curve;
    RunningAnimation& added = *running;
    ViewAnimations::add(*this, std::move(running));
    traceAnimation(key, "begin");
    if (std::isfinite(added.repeat)) {
        std::weak_ptr<View> weak = weak_from_this();
        const std::uint64_t id = added.id;
        added.end = animationLoop().addTimer(added.duration * added.repeat, [weak, id] {
            std::shared_ptr<View> view = weak.lock();
            if (!view || !view->m_animations) return;
            auto& list = view->m_animations->list;
            auto it = std::find_if(list.begin(), list.end(), [id](const auto& a) { return a->id == id; });
            if (it == list.end()) return;
            std::unique_ptr<RunningAnimation> done = std::move(*it);
            list.erase(it);
            retire(std::move(done), false);
        });
    }
    return true;
}

void View::removeAnimation(const std::string& key) {
    if (!m_animations) return;
    auto& list = m_animations->list;
    auto it = std::find_if(list.begin(), list.end(), [&](const auto& a) { return a->key == key; });
    if (it == list.end()) return;
    std::unique_ptr<RunningAnimation> removed = std::move(*it);
    list.erase(it);
    retire(std::move(removed), true);
}

void View::removeAllAnimations() {
    if (!m_animations) return;
    for (auto& animation : std::exchange(m_animations->list, {})) retire(std::move(animation), true);
}

std::vector<std::string> View::animationKeys() const {
    std::vector<std::string> keys;
    if (m_animations)
        for (const auto& a : m_animations->list) keys.push_back(a->key);
    return keys;
}

double View::presentationAlpha() const {
    double alpha = m_alpha;
    ViewAnimations::present(*this, AnimatedProperty::Opacity, &alpha, 1);
    return alpha;
}

Rect View::presentationFrame() const {
    double centre[2] = {m_frame.x + m_frame.width / 2, m_frame.y + m_frame.height / 2};
    double size[2] = {m_frame.width, m_frame.height};
    ViewAnimations::present(*this, AnimatedProperty::Position, centre, 2);
    ViewAnimations::present(*this, AnimatedProperty::Bounds, size, 2);
    return {centre[0] - size[0] / 2, centre[1] - size[1] / 2, size[0], size[1]};
}

double View::presentationRotation() const {
    return presentationTransform().rotation;
}

LayerTransform View::presentationTransform() const {
    const LayerTransform& t = m_layerTransform;
    double values[kAnimatedValuesMax] = {t.tx, t.ty, t.rotation, t.scaleX, t.scaleY};
    ViewAnimations::present(*this, AnimatedProperty::Transform, values, kAnimatedValuesMax);
    // A layer animation of the rotation shows over the block's.
    ViewAnimations::present(*this, AnimatedProperty::Rotation, &values[2], 1);
    return {values[2], values[3], values[4], values[0], values[1]};
}

}  // namespace plat::ui
