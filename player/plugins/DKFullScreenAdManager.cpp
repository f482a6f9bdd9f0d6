#include "player/plugins/DKFullScreenAdManager.h"

#include "analytics/TrackwellSession.h"
#include "platform/foundation/Bundle.h"
#include "player/bridge/DKExternalFunctionTable.h"
#include "player/plugins/fullscreen/DKKioskViewController.h"
#include "player/plugins/fullscreen/DKOrbadFullscreenAdProvider.h"

DKFullScreenAdManager::DKFullScreenAdManager(DKGameViewController* gameViewController)
    : DKPluginSupport(gameViewController), m_adType(plat::foundation::Bundle::mainInfoString("InterstitialProvider")) {
    if (m_adType == "kiosk")
        m_adProvider = std::make_shared<DKKioskViewController>();
    else if (m_adType == "orbad")
        m_adProvider = std::make_shared<DKOrbadFullscreenAdProvider>();
    if (m_adProvider) m_adProvider->setDelegate(this);
}

DKFullScreenAdManager::~DKFullScreenAdManager() {
    if (m_adProvider) m_adProvider->setDelegate(nullptr);
}

void DKFullScreenAdManager::registerActions(lua_State* L) {
    DKExternalFunctionTable::externalFunctionTableForState(L)->registerTarget(
        self<DKFullScreenAdManager>(), gameViewController(), &DKFullScreenAdManager::interstitialAdDisplay,
        "InterstitialAdDisplay");
}

void DKFullScreenAdManager::interstitialAdDisplay(DKGameViewController*, bool shouldDisplayAd) {
    if (!shouldDisplayAd || !m_adProvider || !m_adProvider->enabled()) return;
    if (beginPausedUnit("InterstitialAdDisplay")) m_adProvider->showFullScreenAd();
}

void DKFullScreenAdManager::adDidDisplay() {
    TrackwellSession::sharedTrackwellSession().tagEvent(
        "adShownFullscreen", {{"p", std::string(m_adProvider->fullscreenAdProviderIdentifier())}});
}

void DKFullScreenAdManager::adError(const std::string&) {
    TrackwellSession::sharedTrackwellSession().tagEvent(
        "adFailedToLoad", {{"p", std::string(m_adProvider->fullscreenAdProviderIdentifier())}});
}

void DKFullScreenAdManager::adDismissed() {
    interstitialDismiss();
}

void DKFullScreenAdManager::interstitialDismiss() {
    endPausedUnit();
    raiseEvent("interstitialAdDismiss");
}
