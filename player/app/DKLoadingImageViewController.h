// The launch image of the start-up screen, chosen for the device: "Default-568h@2x" on a 568-point
// retina phone, on a tablet the landscape or portrait image for the game's orientation, else
// "Default" (all "png" in the main bundle).
#pragma once

#include <optional>
#include <string>

#include "platform/ui/ViewController.h"

class DKLoadingImageViewController : public plat::ui::ViewController {
public:
    DKLoadingImageViewController();
    const char* className() const override { return "DKLoadingImageViewController"; }

    // The chosen image's path (none when the bundle lacks it); sets portraitOrientationSupport.
    std::optional<std::string> getImagePath();
    bool portraitOrientationSupport() const { return m_portraitOrientationSupport; }

    // An image view showing the chosen image over red (red alone when there is none). Traces
    // "startup launchImage <path in the bundle, or none>".
    void loadView() override;
    // Portrait and upside down for a portrait image, both landscapes otherwise.
    unsigned supportedInterfaceOrientations() const override;
    bool shouldAutorotateToInterfaceOrientation(int orientation) const override;

private:
    bool m_portraitOrientationSupport = false;
};
