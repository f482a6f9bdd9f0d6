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

plat::foundation::TraceCategory kSvc("svc");

// Live controllers, oldest first: the input script acts on the last that can take its command.
std::vector<OrbadFullScreenAdViewController*>& controllers() {
    static std::vector<OrbadFullScreenAdViewController*> list;
    return list;
}

}  // namespace

OrbadFullScreenAdViewController::OrbadFullScreenAdViewController() {
    controllers().push_back(this);
    registerServiceCommands();
}

OrbadFullScreenAdViewController::~OrbadFullScreenAdViewController() {
    std::erase(controllers(), this);
}

void OrbadFullScreenAdViewController::requestAd() {
    plat::foundation::trace(kSvc, "orbad fullscreen request");
    if (m_loaded || m_requested) return;
    m_requested = true;
    if (plat::foundation::hasLocalService("adnetwork")) return;
    // No network to ask until the client lands: the request fails on the next turn.
    plat::foundation::RunLoop::main().perform([weak = weak_from_this()] {
        if (auto self = std::static_pointer_cast<OrbadFullScreenAdViewController>(weak.lock()))
            self->failed(plat::foundation::Error{"Orbad", 1, "no ad", {}});
    });
}

bool OrbadFullScreenAdViewController::displayRequestedAdFromViewController(plat::ui::ViewController& presenter) {
    const bool display = m_loaded && !m_showing;
    plat::foundation::trace(kSvc, display ? "orbad fullscreen display yes" : "orbad fullscreen display no");
    if (!display) return false;
    auto self = shared_from_this();
    m_loaded = false;
    m_showing = true;
    if (m_delegate) m_delegate->fullScreenAdViewControllerWillPresentAd(*this);
    presenter.presentViewController(self, true);
    return true;
}

void OrbadFullScreenAdViewController::loadView() {
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

void OrbadFullScreenAdViewController::loaded() {
    m_requested = false;
    m_loaded = true;
    if (m_delegate) m_delegate->fullScreenAdViewControllerDidFinishLoad(*this);
}

void OrbadFullScreenAdViewController::failed(const plat::foundation::Error& error) {
    if (!m_requested) return;
    m_requested = false;
    if (m_delegate) m_delegate->fullScreenAdViewControllerDidFailToLoad(*this, error);
}

void OrbadFullScreenAdViewController::closed() {
    auto self = shared_from_this();
    m_showing = false;
    dismissViewController(true);
    if (m_delegate) m_delegate->fullScreenAdViewControllerDidDismissAd(*this);
}

void OrbadFullScreenAdViewController::registerServiceCommands() {
    using Arguments = std::vector<std::string>;
    using Action = std::function<void()>;
    // An action on the last live controller that `can` take the command; null when none can.
    static const auto on = [](bool (*can)(const OrbadFullScreenAdViewController&),
                              std::function<void(OrbadFullScreenAdViewController&)> act) -> Action {
        for (auto it = controllers().rbegin(); it != controllers().rend(); ++it) {
            if (!can(**it)) continue;
            return [weak = (*it)->weak_from_this(), act] {
                if (auto self = std::static_pointer_cast<OrbadFullScreenAdViewController>(weak.lock())) act(*self);
            };
        }
        return nullptr;
    };
    static const auto requested = [](const OrbadFullScreenAdViewController& c) { return c.m_requested; };
    plat::foundation::registerServiceCommand("fullscreen.load", [](const Arguments&) {
        return on(requested, [](OrbadFullScreenAdViewController& c) { c.loaded(); });
    });
    plat::foundation::registerServiceCommand("fullscreen.fail", [](const Arguments& arguments) -> Action {
        if (arguments.empty()) return nullptr;
        return on(requested, [text = arguments[0]](OrbadFullScreenAdViewController& c) {
            c.failed(plat::foundation::Error{"Orbad", 1, text, {}});
        });
    });
    plat::foundation::registerServiceCommand("fullscreen.close", [](const Arguments&) {
        return on([](const OrbadFullScreenAdViewController& c) { return c.m_showing; },
                  [](OrbadFullScreenAdViewController& c) { c.closed(); });
    });
}
