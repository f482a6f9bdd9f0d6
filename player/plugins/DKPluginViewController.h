// The base of the plugins' screens: every interface orientation (mask 30), always rotating, the
// status bar turned with the interface before each rotation.
//
// Open URL's in-app page is the one plugin screen paused as a system pause; external addresses go to
// the application's opener with no pause.
#pragma once

#include "platform/ui/Application.h"
#include "platform/ui/ViewController.h"

class DKPluginViewController : public plat::ui::ViewController {
public:
    static constexpr unsigned kAllOrientations = 30;

    unsigned supportedInterfaceOrientations() const override { return kAllOrientations; }
    bool shouldAutorotate() const override { return true; }
    bool shouldAutorotateToInterfaceOrientation(int) const override { return true; }
    void willRotateToInterfaceOrientation(int orientation, double) override {
        if (auto* app = plat::ui::Application::shared()) app->setStatusBarOrientation(orientation, true);
    }
};
