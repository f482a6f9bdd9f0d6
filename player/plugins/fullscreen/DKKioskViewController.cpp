#include "player/plugins/fullscreen/DKKioskViewController.h"

#include "platform/foundation/Bundle.h"
#include "platform/foundation/Log.h"
#include "platform/ui/View.h"

DKKioskViewController::DKKioskViewController() {
    using plat::foundation::Bundle;
    const plat::foundation::Value* token = Bundle::mainInfoValue("DKGameKS_Token");
    const plat::foundation::Value* secret = Bundle::mainInfoValue("DKGameKS_Secret");
    if (token && token->string() && secret && secret->string()) {
        m_token = *token->string();
        m_secret = *secret->string();
        setEnabled(true);
    }
}

DKKioskViewController::~DKKioskViewController() {
    if (auto request = m_request.lock(); request && request->delegate() == this) request->setDelegate(nullptr);
}

void DKKioskViewController::showFullScreenAd() {
    m_placement = "game_launch";
    displayContent();
}

void DKKioskViewController::showMoreGamesAd() {
    m_placement = "more_games";
    displayContent();
}

void DKKioskViewController::displayContent() {
    if (!enabled()) return;
    auto request = KSContentRequestService::requestForApp(m_token, m_secret, m_placement, this);
    m_request = request;
    request->setShowsOverlayImmediately(true);
    request->overlayWindow()->setBackgroundColor(plat::ui::Color{0, 0, 0, 1});
    request->send();
}

void DKKioskViewController::requestContentDidDisplay(KSContentRequestService&) {
    if (DKFullscreenAdProviderDelegate* d = delegate()) d->adDidDisplay();
}

void DKKioskViewController::requestContentDidDismiss(KSContentRequestService&, int) {
    plat::foundation::log("ContentDidDismiss callback");
    if (DKFullscreenAdProviderDelegate* d = delegate()) d->adDismissed();
}

void DKKioskViewController::requestDidFail(KSContentRequestService&, const plat::foundation::Error& error) {
    // The delegate may let this provider go from either call: keep it for both.
    auto self = weak_from_this().lock();
    const std::string message = failureMessage(error);
    plat::foundation::log("%s", message.c_str());
    if (DKFullscreenAdProviderDelegate* d = delegate()) d->adError(message);
    if (DKFullscreenAdProviderDelegate* d = delegate()) d->adDismissed();
}
