#include "orbad/OrbadFullscreenAdController.h"

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "platform/foundation/LocalServices.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/RunLoop.h"
#include "platform/ui/Application.h"
#include "platform/ui/Label.h"

namespace {

// Live controllers, oldest first: the input script acts on the last that can take its command.
std::vector<OrbadFullScreenAdViewControllerStandIn*>& controllers() {
    static std::vector<OrbadFullScreenAdViewControllerStandIn*> list;
    return list;
}

}  // namespace

OrbadFullScreenAdViewControllerStandIn::OrbadFullScreenAdViewControllerStandIn() {
    controllers().push_back(this);
}

OrbadFullScreenAdViewControllerStandIn::~OrbadFullScreenAdViewControllerStandIn() {
    std::erase(controllers(), this);
}

std::shared_ptr<OrbadFullScreenAdViewControllerStandIn> OrbadFullScreenAdViewControllerStandIn::create() {
    auto controller = std::make_shared<OrbadFullScreenAdViewControllerStandIn>();
    registerServiceCommands();
    return controller;
}

void OrbadFullScreenAdViewControllerStandIn::prefetchAd() {
    if (m_hasAd || m_requested) return;
    m_requested = true;
    if (plat::foundation::hasLocalService("adnetwork")) return;
    // No network to ask until the client lands: the request fails on the next turn.
    plat::foundation::RunLoop::main().perform([weak = weak_from_this()] {
        if (auto self = std::static_pointer_cast<OrbadFullScreenAdViewControllerStandIn>(weak.lock()))
            self->failed(plat::foundation::Error{"Orbad", 1, "no ad", {}});
    });
}

bool OrbadFullScreenAdViewControllerStandIn::presentAdFrom(plat::ui::ViewController& presenter) {
    auto self = shared_from_this();
    m_hasAd = false;
    m_displayingAd = true;
    if (m_delegate) m_delegate->fullScreenAdViewControllerWillPresentAd(*this);
    presenter.presentViewController(self, true);
    return true;
}

void OrbadFullScreenAdViewControllerStandIn::loadView() {
    plat::ui::Application* app = plat::ui::Application::shared();
    const plat::ui::Rect bounds = app ? app->interfaceBounds() : plat::ui::Rect{0, 0, 320, 480};
    auto view = std::make_shared<plat::ui::View>(bounds);
    view->setBackgroundColor(plat::ui::Color{0.15, 0.15, 0.2, 1});
    auto label = std::make_shared<plat::ui::Label>(plat::ui::Rect{0, bounds.height / 2 - 20, bounds.width, 40});
    label->setText("Advertisement");
    label->setTextColor({1, 1, 1, 1});
    label->setTextAlignment(plat::ui::TextAlignment::Center);
    label->setAutoresizingMask(plat::ui::kAutoresizingFlexibleWidth | plat::ui::kAutoresizingFlexibleTopMargin |
                               plat::ui::kAutoresizingFlexibleBottomMargin);
    view->addSubview(label);
    setView(view);
}

void OrbadFullScreenAdViewControllerStandIn::loaded() {
    m_requested = false;
    m_hasAd = true;
    if (m_delegate) m_delegate->fullScreenAdViewControllerDidFinishLoad(*this);
}

void OrbadFullScreenAdViewControllerStandIn::failed(const plat::foundation::Error& error) {
    if (!m_requested) return;
    m_requested = false;
    if (m_delegate) m_delegate->fullScreenAdViewControllerDidFailToLoad(*this, error);
}

void OrbadFullScreenAdViewControllerStandIn::closed() {
    auto self = shared_from_this();
    m_displayingAd = false;
    dismissViewController(true);
    if (m_delegate) m_delegate->fullScreenAdViewControllerDidDismissAd(*this);
}

void OrbadFullScreenAdViewControllerStandIn::registerServiceCommands() {
    using Arguments = std::vector<std::string>;
    using Action = std::function<void()>;
    // An action on the last live controller that `can` take the command; null when none can.
    static const auto on = [](bool (*can)(const OrbadFullScreenAdViewControllerStandIn&),
                              std::function<void(OrbadFullScreenAdViewControllerStandIn&)> act) -> Action {
        for (auto it = controllers().rbegin(); it != controllers().rend(); ++it) {
            if (!can(**it)) continue;
            return [weak = (*it)->weak_from_this(), act] {
                if (auto self = std::static_pointer_cast<OrbadFullScreenAdViewControllerStandIn>(weak.lock()))
                    act(*self);
            };
        }
        return nullptr;
    };
    static const auto requested = [](const OrbadFullScreenAdViewControllerStandIn& c) { return c.m_requested; };
    plat::foundation::registerServiceCommand("fullscreen.load", [](const Arguments&) {
        return on(requested, [](OrbadFullScreenAdViewControllerStandIn& c) { c.loaded(); });
    });
    plat::foundation::registerServiceCommand("fullscreen.fail", [](const Arguments& arguments) -> Action {
        if (arguments.empty()) return nullptr;
        return on(requested, [text = arguments[0]](OrbadFullScreenAdViewControllerStandIn& c) {
            c.failed(plat::foundation::Error{"Orbad", 1, text, {}});
        });
    });
    plat::foundation::registerServiceCommand("fullscreen.close", [](const Arguments&) {
        return on([](const OrbadFullScreenAdViewControllerStandIn& c) { return c.m_displayingAd; },
                  [](OrbadFullScreenAdViewControllerStandIn& c) { c.closed(); });
    });
}
