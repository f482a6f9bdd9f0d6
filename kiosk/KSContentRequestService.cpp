#include "kiosk/KSContentRequestService.h"

#include <algorithm>
#include <vector>

#include "kiosk/content/KSPublisherContentRequest.h"
#include "platform/foundation/LocalServices.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/RunLoop.h"
#include "platform/sys/Device.h"
#include "platform/ui/Application.h"
#include "platform/ui/View.h"

namespace {

plat::foundation::TraceCategory kSvc("svc");

// Sent requests until their outcome is reported; they keep themselves alive meanwhile.
std::vector<std::shared_ptr<KSContentRequestService>>& pending() {
    static std::vector<std::shared_ptr<KSContentRequestService>> requests;
    return requests;
}

const char* const kDismissTypes[] = {kKSContentUnitTriggeredDismiss, kKSNativeCloseButtonTriggeredDismiss,
                                     kKSApplicationBackgroundTriggeredDismiss, kKSNoContentTriggeredDismiss};

}  // namespace

// The client's outcomes, as the player hears them.
class KSContentRequestService::ClientDelegate : public KSPublisherContentRequestDelegate {
public:
    explicit ClientDelegate(KSContentRequestService& owner) : m_owner(owner) {}
    unsigned responds() const override { return kContentDidDisplay | kContentDidDismissWithType | kDidFail; }
    void requestContentDidDisplay(KSPublisherContentRequest&, const KSContent&) override {
        m_owner.displayed();
    }
    void requestContentDidDismissWithType(KSPublisherContentRequest&, const std::string& type) override {
        auto at = std::find_if(std::begin(kDismissTypes), std::end(kDismissTypes),
                               [&](const char* t) { return type == t; });
        m_owner.dismissed(static_cast<int>(at - std::begin(kDismissTypes)));
    }
    void requestDidFailWithError(KSPublisherContentRequest&, const plat::foundation::Error& error) override {
        m_owner.failed(error);
    }

private:
    KSContentRequestService& m_owner;
};

std::shared_ptr<KSContentRequestService> KSContentRequestService::requestForApp(
    const std::string& token, const std::string& secret, const std::string& placement,
    KSContentRequestServiceDelegate* delegate) {
    std::shared_ptr<KSContentRequestService> request;
    for (const auto& p : pending())
        if (p->m_token == token && p->m_secret == secret && p->m_placement == placement) request = p;
    if (!request) request = std::make_shared<KSContentRequestService>(Token{}, token, secret, placement);
    request->setDelegate(delegate);
    return request;
}

KSContentRequestService::KSContentRequestService(Token, std::string token, std::string secret,
                                                 std::string placement)
    : m_scripted(plat::foundation::hasLocalService("contentads")),
      m_token(std::move(token)),
      m_secret(std::move(secret)),
      m_placement(std::move(placement)) {
    if (m_scripted) return;
    m_clientDelegate = std::make_unique<ClientDelegate>(*this);
    m_client =
        KSPublisherContentRequest::requestForApp(m_token, m_secret, m_placement, m_clientDelegate.get());
}

KSContentRequestService::~KSContentRequestService() {
    if (m_client && m_client->contentDelegate() == m_clientDelegate.get())
        m_client->setContentDelegate(nullptr);
}

void KSContentRequestService::setShowsOverlayImmediately(bool on) {
    m_showsOverlayImmediately = on;
    if (m_client) m_client->setShowsOverlayImmediately(on);
}

const std::shared_ptr<plat::ui::View>& KSContentRequestService::overlayWindow() {
    if (m_client) return m_client->overlayWindow();
    if (!m_overlay) {
        m_overlay = std::make_shared<plat::ui::View>(plat::sys::Screen::main().bounds());
        m_overlay->setBackgroundColor(plat::ui::Color{0, 0, 0, 0.5});
    }
    return m_overlay;
}

void KSContentRequestService::send() {
    plat::foundation::trace(kSvc, [&] { return "kiosk content " + m_placement; });
    auto self = shared_from_this();
    if (std::find(pending().begin(), pending().end(), self) != pending().end()) return;
    pending().push_back(self);
    m_displayed = false;
    if (m_client) {
        // A finished client takes no more sends: a new one for the same placement does.
        if (m_client->state() == KSPublisherContentRequest::kDone) {
            m_client->setContentDelegate(nullptr);
            m_client = KSPublisherContentRequest::requestForApp(m_token, m_secret, m_placement,
                                                                m_clientDelegate.get());
            m_client->setShowsOverlayImmediately(m_showsOverlayImmediately);
        }
        m_client->send();
        return;
    }
    registerServiceCommands();
    if (m_showsOverlayImmediately) showOverlay();
}

void KSContentRequestService::displayed() {
    if (m_displayed) return;
    m_displayed = true;
    if (KSContentRequestServiceDelegate* delegate = m_delegate) delegate->requestContentDidDisplay(*this);
}

void KSContentRequestService::dismissed(int type) {
    auto self = shared_from_this();
    finish();
    if (KSContentRequestServiceDelegate* delegate = m_delegate)
        delegate->requestContentDidDismiss(*this, type);
}

void KSContentRequestService::failed(const plat::foundation::Error& error) {
    auto self = shared_from_this();
    finish();
    if (KSContentRequestServiceDelegate* delegate = m_delegate) delegate->requestDidFail(*this, error);
}

void KSContentRequestService::showOverlay() {
    plat::ui::Application* app = plat::ui::Application::shared();
    const auto& overlay = overlayWindow();
    if (!app || std::find(app->overlays().begin(), app->overlays().end(), overlay) != app->overlays().end())
        return;
    app->addOverlay(overlay);
}

void KSContentRequestService::finish() {
    auto self = shared_from_this();
    std::erase(pending(), self);
    if (plat::ui::Application* app = plat::ui::Application::shared(); app && m_overlay)
        app->removeOverlay(m_overlay.get());
}

void KSContentRequestService::registerServiceCommands() {
    using Arguments = std::vector<std::string>;
    using Action = std::function<void()>;
    // The request the script plays: the last one sent that is still pending.
    static const auto scripted = []() -> std::shared_ptr<KSContentRequestService> {
        for (auto it = pending().rbegin(); it != pending().rend(); ++it)
            if ((*it)->m_scripted) return *it;
        return nullptr;
    };
    plat::foundation::registerServiceCommand("content.display", [](const Arguments&) -> Action {
        auto request = scripted();
        if (!request || request->m_displayed) return nullptr;
        return [request] {
            request->showOverlay();
            request->displayed();
        };
    });
    plat::foundation::registerServiceCommand("content.dismiss", [](const Arguments&) -> Action {
        auto request = scripted();
        if (!request) return nullptr;
        return [request] { request->dismissed(0); };
    });
    plat::foundation::registerServiceCommand("content.fail", [](const Arguments& arguments) -> Action {
        auto request = scripted();
        if (!request || arguments.empty()) return nullptr;
        return [request, text = arguments[0]] {
            request->failed(plat::foundation::Error{"KSErrorDomain", 1, text, {}});
        };
    });
}
