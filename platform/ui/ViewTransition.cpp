#include "platform/ui/ViewTransition.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <memory>
#include <numbers>

#include "platform/foundation/RunLoop.h"
#include "platform/ui/View.h"

namespace plat::ui {

namespace {

using foundation::RunLoop;

struct Running {
    std::weak_ptr<View> view;
    ViewTransition transition;
    LayerTransform before;
    double begin = 0, duration = 0;
    std::function<void(bool)> completion;
    foundation::Timer tick, end;
};

std::map<const View*, std::shared_ptr<Running>>& running() {
    static std::map<const View*, std::shared_ptr<Running>> all;
    return all;
}

// Takes the transition off its view, puts the view's transform back and tells the owner.
void finish(const View* key, const std::shared_ptr<Running>& r, bool finished) {
    auto it = running().find(key);
    if (it == running().end() || it->second != r) return;
    running().erase(it);
    r->tick.invalidate();
    r->end.invalidate();
    if (auto view = r->view.lock()) view->setLayerTransform(r->before);
    if (r->completion) r->completion(finished && !r->view.expired());
}

void draw(const std::shared_ptr<Running>& r) {
    auto view = r->view.lock();
    if (!view) return;
    const double t = std::clamp((RunLoop::main().now() - r->begin) / r->duration, 0.0, 1.0);
    const double squash = std::max(std::abs(std::cos(std::numbers::pi * t)), 0.01);
    LayerTransform shown = r->before;
    const bool flip = r->transition == ViewTransition::FlipFromLeft || r->transition == ViewTransition::FlipFromRight;
    (flip ? shown.scaleX : shown.scaleY) *= squash;
    view->setLayerTransform(shown);
}

}  // namespace

void transitionView(View& view, ViewTransition transition, double duration, bool, const std::function<void()>& changes,
                    std::function<void(bool)> completion) {
    if (auto it = running().find(&view); it != running().end()) {
        std::shared_ptr<Running> replaced = it->second;  // finish() erases the entry
        finish(&view, replaced, false);
    }
    auto r = std::make_shared<Running>();
    r->view = view.weak_from_this();
    r->transition = transition;
    r->before = view.layerTransform();
    r->begin = RunLoop::main().now();
    r->duration = std::max(duration, 0.0);
    r->completion = std::move(completion);
    running()[&view] = r;
    if (changes) changes();
    const View* key = &view;
    std::weak_ptr<Running> weak = r;
    r->tick = RunLoop::main().addRepeatingTimer(1.0 / 60, [weak] {
        if (auto self = weak.lock()) draw(self);
    });
    r->end = RunLoop::main().addTimer(r->duration, [key, weak] {
        if (auto self = weak.lock()) finish(key, self, true);
    });
    draw(r);
}

bool isTransitioning(const View& view) {
    auto it = running().find(&view);
    return it != running().end() && !it->second->view.expired();
}

}  // namespace plat::ui
