// The clear screen the ad network provider puts over the game while its ad loads: the game still
// shows beneath, and a large white spinner waits in the bottom-right corner, turning once a scene
// change has been posted while the screen is up.
#pragma once

#include <memory>

#include "platform/foundation/NotificationCenter.h"
#include "platform/ui/ActivityIndicator.h"
#include "player/plugins/DKPluginViewController.h"

class DKFullscreenAdWrapperViewController : public DKPluginViewController {
public:
    DKFullscreenAdWrapperViewController();
    const char* className() const override { return "DKFullscreenAdWrapperViewController"; }

    void viewDidLoad() override;
    void viewWillAppear(bool animated) override;
    void viewWillDisappear(bool animated) override;
    void startAdLoadingIndicator();

    plat::ui::ActivityIndicator& pendingImageView() const { return *m_pendingImageView; }

private:
    std::shared_ptr<plat::ui::ActivityIndicator> m_pendingImageView;
    plat::foundation::Observation m_sceneChange;
};
