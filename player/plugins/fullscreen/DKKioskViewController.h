// The content-ads client's units as a full-screen provider: interstitials on the "game_launch"
// placement, the more-games unit on "more_games", each a content request whose overlay goes on
// screen at once, opaque black, until the unit has displayed and gone or failed. The start-up
// screen's more-games button uses one too.
#pragma once

#include <memory>
#include <string>

#include "kiosk/KSContentRequestService.h"
#include "player/plugins/fullscreen/DKFullscreenAdProvider.h"

class DKKioskViewController : public DKFullscreenAdProvider, private KSContentRequestServiceDelegate {
public:
    // Enabled exactly when the Info.plist has both "DKGameKS_Token" and "DKGameKS_Secret".
    DKKioskViewController();
    ~DKKioskViewController() override;

    const char* fullscreenAdProviderIdentifier() const override { return "kiosk"; }
    void showFullScreenAd() override;
    void showMoreGamesAd() override;
    // Sends the request of the current placement; nothing when not enabled.
    void displayContent();

    const std::string& kioskPlacement() const { return m_placement; }
    void setKioskPlacement(std::string placement) { m_placement = std::move(placement); }

private:
    void requestContentDidDisplay(KSContentRequestService&) override;
    void requestContentDidDismiss(KSContentRequestService&, int dismissType) override;
    void requestDidFail(KSContentRequestService&, const plat::foundation::Error& error) override;

    std::string m_token;
    std::string m_secret;
    std::string m_placement = "game_launch";
    // The client owns its requests; this one is only asked to forget us when we go.
    std::weak_ptr<KSContentRequestService> m_request;
};
