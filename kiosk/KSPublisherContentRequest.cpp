#include "kiosk/KSPublisherContentRequest.h"

#include <algorithm>
#include <vector>

#include "platform/foundation/LocalServices.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/RunLoop.h"
#include "platform/sys/Device.h"
#include "platform/ui/Application.h"
#include "platform/ui/View.h"

namespace {

plat::foundation::TraceCategory kSvc("svc");

// Sent requests until their outcome is reported; they keep themselves alive meanwhile.
std::vector<std::shared_ptr<KSPublisherContentRequest>>& pending() {
    static std::vector<std::shared_ptr<KSPublisherContentRequest>> requests;
    return requests;
}

}  // namespace

std::shared_ptr<KSPublisherContentRequest> KSPublisherContentRequest::requestForApp(
    const std::string& token, const std::string& secret, const std::string& placement,
    KSPublisherContentRequestDelegate* delegate) {
    std::shared_ptr<KSPublisherContentRequest> request;
    for (const auto& p : pending())
        if (p->m_token == token && p->m_secret == secret && p->m_placement == placement) request = p;
    if (!request) request = std::make_shared<KSPublisherContentRequest>(Token{}, token, secret, placement);
    request->setDelegate(delegate);
    return request;
}

KSPublisherContentRequest::KSPublisherContentRequest(Token, std::string token, std::string secret,
                                                     std::string placement)
    : m_token(std::move(token)), m_secret(std::move(secret)), m_placement(std::move(placement)) {}

KSPublisherContentRequest::~KSPublisherContentRequest() = default;

const std::shared_ptr<plat::ui::View>& KSPublisherContentRequest::overlayWindow() {
    if (!m_overlay) {
        m_overlay = std::make_shared<plat::ui::View>(plat::sys::Screen::main().bounds());
        m_overlay->setBackgroundColor(plat::ui::Color{0, 0, 0, 0.5});
    }
    return m_overlay;
}

void KSPublisherContentRequest::send() {
    plat::foundation::trace(kSvc, [&] { return "kiosk content " + m_placement; });
    auto self = shared_from_this();
    if (std::find(pending().begin(), pending().end(), self) != pending().end()) return;
    pending().push_back(self);
    m_scripted = plat::foundation::hasLocalService("contentads");
    m_displayed = false;
    if (m_scripted) {
        registerServiceCommands();
        if (m_showsOverlayImmediately) showOverlay();
        return;
    }
    // Nothing to show until the client lands: the request fails on the next turn.
    plat::foundation::RunLoop::main().perform([self] {
        std::erase(pending(), self);
        if (KSPublisherContentRequestDelegate* delegate = self->m_delegate)
            delegate->requestDidFail(*self, plat::foundation::Error{"KSErrorDomain", 1, "no content", {}});
    });
}

void KSPublisherContentRequest::showOverlay() {
    plat::ui::Application* app = plat::ui::Application::shared();
    const auto& overlay = overlayWindow();
    if (!app || std::find(app->overlays().begin(), app->overlays().end(), overlay) != app->overlays().end()) return;
    app->addOverlay(overlay);
}

void KSPublisherContentRequest::finish() {
    auto self = shared_from_this();
    std::erase(pending(), self);
    if (plat::ui::Application* app = plat::ui::Application::shared(); app && m_overlay) app->removeOverlay(m_overlay.get());
}

void KSPublisherContentRequest::registerServiceCommands() {
    using Arguments = std::vector<std::string>;
    using Action = std::function<void()>;
    // The request the script plays: the last one sent that is still pending.
    static const auto scripted = []() -> std::shared_ptr<KSPublisherContentRequest> {
        for (auto it = pending().rbegin(); it != pending().rend(); ++it)
            if ((*it)->m_scripted) return *it;
        return nullptr;
    };
    plat::foundation::registerServiceCommand("content.display", [](const Arguments&) -> Action {
        auto request = scripted();
        if (!request || request->m_displayed) return nullptr;
        return [request] {
            request->m_displayed = true;
            request->showOverlay();
            if (KSPublisherContentRequestDelegate* delegate = request->m_delegate)
                delegate->requestContentDidDisplay(*request);
        };
    });
    plat::foundation::registerServiceCommand("content.dismiss", [](const Arguments&) -> Action {
        auto request = scripted();
        if (!request) return nullptr;
        return [request] {
            request->finish();
            if (KSPublisherContentRequestDelegate* delegate = request->m_delegate)
                delegate->requestContentDidDismiss(*request, 0);
        };
    });
    plat::foundation::registerServiceCommand("content.fail", [](const Arguments& arguments) -> Action {
        auto request = scripted();
        if (!request || arguments.empty()) return nullptr;
        return [request, text = arguments[0]] {
            request->finish();
            if (KSPublisherContentRequestDelegate* delegate = request->m_delegate)
                delegate->requestDidFail(*request, plat::foundation::Error{"KSErrorDomain", 1, text, {}});
        };
    });
}
