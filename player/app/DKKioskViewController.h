// The content-ads client's full-screen views behind one provider interface. Here only what the
// start-up screen's more-games button needs: the "more_games" content request, whose failure
// reaches the delegate as adError then adDismissed (a failed view is still a dismissed one, so a
// screen waiting for the dismissal never waits for ever).
#pragma once

#include <memory>
#include <string>

#include "kiosk/KSPublisherContentRequest.h"
#include "platform/ui/ViewController.h"

class DKFullscreenAdProviderDelegate {
public:
    virtual ~DKFullscreenAdProviderDelegate() = default;
    virtual void adDidDisplay() {}
    virtual void adDismissed() {}
    virtual void adError(const plat::foundation::Error&) {}
};

class DKKioskViewController : public plat::ui::ViewController, private KSPublisherContentRequestDelegate {
public:
    DKKioskViewController();
    ~DKKioskViewController() override;
    const char* className() const override { return "DKKioskViewController"; }

    static const char* fullscreenAdProviderIdentifier() { return "kiosk"; }
    // Not retained; the delegate clears itself before it goes.
    void setDelegate(DKFullscreenAdProviderDelegate* delegate) { m_delegate = delegate; }
    DKFullscreenAdProviderDelegate* delegate() const { return m_delegate; }

    // Sends the "more_games" content request with the game's token and secret.
    void showMoreGamesAd();

private:
    void requestDidFail(KSPublisherContentRequest&, const plat::foundation::Error& error) override;

    DKFullscreenAdProviderDelegate* m_delegate = nullptr;
    std::shared_ptr<KSPublisherContentRequest> m_request;
};
