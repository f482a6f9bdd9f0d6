#include "player/plugins/DKKioskSupport.h"

#include "analytics/TrackwellSession.h"
#include "platform/foundation/Bundle.h"
#include "player/bridge/DKExternalFunctionTable.h"
#include "player/plugins/fullscreen/DKKioskViewController.h"

DKKioskSupport::DKKioskSupport(DKGameViewController* gameViewController)
    : DKPluginSupport(gameViewController), m_kioskViewController(std::make_shared<DKKioskViewController>()) {
    m_kioskViewController->setDelegate(this);
    m_moreGamesByKiosk = plat::foundation::Bundle::mainInfoString("MoregamesProvider") == "kiosk";
}

DKKioskSupport::~DKKioskSupport() {
    m_kioskViewController->setDelegate(nullptr);
}

void DKKioskSupport::registerActions(lua_State* L) {
    DKExternalFunctionTable::externalFunctionTableForState(L)->registerTarget(
        self<DKKioskSupport>(), gameViewController(), &DKKioskSupport::showMoreGames, "KioskShowMoreGames");
}

void DKKioskSupport::showMoreGames(DKGameViewController*) {
    if (!isKioskAvailable() || !m_moreGamesByKiosk || !m_kioskViewController->enabled()) return;
    if (beginPausedUnit("KioskShowMoreGames")) m_kioskViewController->showMoreGamesAd();
}

void DKKioskSupport::adDidDisplay() {
    TrackwellSession::sharedTrackwellSession().tagEvent("adShownFullscreen", {{"p", std::string("kiosk")}});
}

void DKKioskSupport::adDismissed() {
    endPausedUnit();
}
