// The ad network's full-screen ads as the player reaches them: one controller prefetches an ad
// (requestAd) and shows it modally once it has loaded. For now a stand-in whose operations trace
// ("svc orbad fullscreen ..."). Without the container's Library/LocalServices/adnetwork.plist a
// request fails on the next turn; with it the input script plays the network on the controller
// made last that has something to act on: "fullscreen.load" (the requested ad has loaded),
// "fullscreen.fail \"TEXT\"" (it has not, for that reason) and "fullscreen.close" (the user closes
// the ad on screen).
#pragma once

#include <memory>

#include "platform/foundation/Error.h"
#include "platform/ui/ViewController.h"

class OrbadFullScreenAdViewController;

// Every operation optional: the defaults do nothing.
class OrbadFullScreenAdDelegate {
public:
    virtual ~OrbadFullScreenAdDelegate() = default;
    virtual void fullScreenAdViewControllerDidFinishLoad(OrbadFullScreenAdViewController&) {}
    virtual void fullScreenAdViewControllerDidFailToLoad(OrbadFullScreenAdViewController&,
                                                         const plat::foundation::Error&) {}
    // Once, before the ad is shown.
    virtual void fullScreenAdViewControllerWillPresentAd(OrbadFullScreenAdViewController&) {}
    // After the user closed the ad and the controller dismissed itself.
    virtual void fullScreenAdViewControllerDidDismissAd(OrbadFullScreenAdViewController&) {}
};

// Made with std::make_shared (the input script's actions hold it weakly). Main thread.
class OrbadFullScreenAdViewController : public plat::ui::ViewController {
public:
    OrbadFullScreenAdViewController();
    ~OrbadFullScreenAdViewController() override;
    const char* className() const override { return "OrbadFullScreenAdViewController"; }

    // Prefetches an ad; again for the next one once one has been shown. Nothing more while one
    // is loaded.
    void requestAd();
    // Not retained; null clears it.
    void setDelegate(OrbadFullScreenAdDelegate* delegate) { m_delegate = delegate; }
    OrbadFullScreenAdDelegate* delegate() const { return m_delegate; }
    bool hasAd() const { return m_loaded; }
    bool isShowingAd() const { return m_showing; }
    // NO unless an ad is loaded and none is showing; else tells the delegate it will present and
    // presents the ad modally, animated, from `presenter`.
    bool displayRequestedAdFromViewController(plat::ui::ViewController& presenter);

    // The ad screen: a placeholder until the client lands.
    void loadView() override;

private:
    static void registerServiceCommands();
    void loaded();
    void failed(const plat::foundation::Error& error);
    void closed();

    OrbadFullScreenAdDelegate* m_delegate = nullptr;
    bool m_requested = false;  // a request under way
    bool m_loaded = false;
    bool m_showing = false;
};
