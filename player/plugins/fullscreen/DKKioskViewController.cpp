#include "player/plugins/fullscreen/DKKioskViewController.h"

#include "platform/foundation/Bundle.h"
#include "platform/foundation/Log.h"
#include "platform/ui/View.h"

namespace {

const std::string* infoString(std::string_view key) {
    const plat::foundation::Bundle* bundle = plat::foundation::Bundle::main();
    const plat::foundation::Value* value = bundle ? bundle->infoValue(key) : nullptr;
    return value ? value->string() : nullptr;
}

}  // namespace

DKKioskViewController::DKKioskViewController() {
    const std::string* token = infoString("DKGameKS_Token");
    const std::string* secret = infoString("DKGameKS_Secret");
    if (token && secret) {
        m_token = *token;
        m_secret = *secret;
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
    auto request = KSPublisherContentRequest::requestForApp(m_token, m_secret, m_placement, this);
    m_request = request;
    request->setShowsOverlayImmediately(true);
    request->overlayWindow()->setBackgroundColor(plat::ui::Color{0, 0, 0, 1});
    request->send();
}

void DKKioskViewController::requestContentDidDisplay(KSPublisherContentRequest&) {
    if (DKFullscreenAdProviderDelegate* d = delegate()) d->adDidDisplay();
}

void DKKioskViewController::requestContentDidDismiss(KSPublisherContentRequest&, int) {
    plat::foundation::log("ContentDidDismiss callback");
    if (DKFullscreenAdProviderDelegate* d = delegate()) d->adDismissed();
}

void DKKioskViewController::requestDidFail(KSPublisherContentRequest&, const plat::foundation::Error& error) {
    // The delegate may let this provider go from either call: keep it for both.
    auto self = weak_from_this().lock();
    const std::string message = failureMessage(error);
    plat::foundation::log("%s", message.c_str());
    if (DKFullscreenAdProviderDelegate* d = delegate()) d->adError(message);
    if (DKFullscreenAdProviderDelegate* d = delegate()) d->adDismissed();
}
