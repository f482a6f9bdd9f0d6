// The ad network's full-screen ads as a stand-in, for the player's tests and for containers whose
// Library/LocalServices/adnetwork.plist has the input script play the network. Without that file a
// request fails on the next turn; with it the script acts on the controller made last that has
// something to act on: "fullscreen.load" (the requested ad has loaded), "fullscreen.fail \"TEXT\""
// (it has not, for that reason) and "fullscreen.close" (the user closes the ad on screen). Its
// screen is a placeholder; the traces are the controller's own.
#pragma once

#include <memory>

#include "orbad/OrbadFullScreenAdViewController.h"

class OrbadFullScreenAdViewControllerStandIn : public OrbadFullScreenAdViewController {
public:
    OrbadFullScreenAdViewControllerStandIn();
    ~OrbadFullScreenAdViewControllerStandIn() override;
    // A controller that the script's fullscreen commands reach from now on.
    static std::shared_ptr<OrbadFullScreenAdViewControllerStandIn> create();

    void loadView() override;
    // None of the client's screen: no toolbar, engine or status-bar work, the platform's rotation.
    void viewDidLoad() override {}
    void viewWillAppear(bool) override {}
    void viewDidAppear(bool) override {}
    void viewWillDisappear(bool) override {}
    void viewDidDisappear(bool) override {}
    bool shouldAutorotateToInterfaceOrientation(int orientation) const override {
        return ViewController::shouldAutorotateToInterfaceOrientation(orientation);
    }
    unsigned supportedInterfaceOrientations() const override {
        return ViewController::supportedInterfaceOrientations();
    }

protected:
    // Nothing more while one is loaded or requested.
    void prefetchAd() override;
    // Tells the delegate it will present, then presents.
    bool presentAdFrom(plat::ui::ViewController& presenter) override;

private:
    static void registerServiceCommands();
    void loaded();
    void failed(const plat::foundation::Error& error);
    void closed();

    bool m_requested = false;  // a request under way
};
