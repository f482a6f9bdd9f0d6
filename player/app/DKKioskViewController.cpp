#include "player/app/DKKioskViewController.h"

#include "platform/foundation/Bundle.h"

namespace {

std::string infoString(std::string_view key) {
    const plat::foundation::Bundle* bundle = plat::foundation::Bundle::main();
    const plat::foundation::Value* value = bundle ? bundle->infoValue(key) : nullptr;
    const std::string* text = value ? value->string() : nullptr;
    return text ? *text : std::string();
}

}  // namespace

DKKioskViewController::DKKioskViewController() = default;

DKKioskViewController::~DKKioskViewController() {
    if (m_request) m_request->setDelegate(nullptr);
}

void DKKioskViewController::showMoreGamesAd() {
    if (m_request) m_request->setDelegate(nullptr);
    m_request = KSPublisherContentRequest::requestForApp(infoString("DKGameKS_Token"), infoString("DKGameKS_Secret"),
                                                         "more_games", this);
    m_request->send();
}

void DKKioskViewController::requestDidFail(KSPublisherContentRequest&, const plat::foundation::Error& error) {
    // The delegate may let this controller go from either call: keep it for both.
    auto self = weak_from_this().lock();
    if (m_delegate) m_delegate->adError(error);
    if (m_delegate) m_delegate->adDismissed();
}
