#include "player/plugins/fullscreen/DKFullscreenAdWrapperViewController.h"

#include <cmath>

#include "player/app/DrovikPlayerAppDelegate.h"

DKFullscreenAdWrapperViewController::DKFullscreenAdWrapperViewController()
    : m_pendingImageView(std::make_shared<plat::ui::ActivityIndicator>(plat::ui::ActivityIndicatorStyle::WhiteLarge)) {}

void DKFullscreenAdWrapperViewController::viewDidLoad() {
    view()->setBackgroundColor(std::nullopt);
}

void DKFullscreenAdWrapperViewController::viewWillAppear(bool animated) {
    DKPluginViewController::viewWillAppear(animated);
    const plat::ui::Rect bounds = view()->bounds();
    plat::ui::Rect frame = m_pendingImageView->frame();
    frame.x = std::ceil(bounds.width - frame.width);
    frame.y = std::ceil(bounds.height - frame.height);
    m_pendingImageView->setFrame(frame);
    view()->addSubview(m_pendingImageView);
    m_sceneChange = plat::foundation::NotificationCenter::defaultCenter().observe(
        DKSceneDidChangeNotification, nullptr, [this](const plat::foundation::Notification&) { startAdLoadingIndicator(); });
}

void DKFullscreenAdWrapperViewController::startAdLoadingIndicator() {
    m_pendingImageView->startAnimating();
}

void DKFullscreenAdWrapperViewController::viewWillDisappear(bool animated) {
    DKPluginViewController::viewWillDisappear(animated);
    m_sceneChange = {};
    m_pendingImageView->stopAnimating();
    m_pendingImageView->removeFromSuperview();
}
