#include "player/plugins/banner/DKBannerAdProvider.h"

#include "platform/ui/Application.h"
#include "platform/ui/ViewController.h"
#include "platform/ui/Window.h"
#include "player/app/DKOrientationAnswers.h"

std::uint32_t DKBannerHelper::convertToSizeIndexFromBannerFormat(std::uint32_t format) {
    if (format > 11) return 12;
    if (format > 7) return 8;
    if (format > 3) return 4;
    if (format < 2) return 0;
    return 2;
}

plat::ui::Size DKBannerHelper::convertToSizeFromBannerFormat(std::uint32_t format) {
    switch (convertToSizeIndexFromBannerFormat(format)) {
        case 2: return {300, 250};
        case 4: return {120, 600};
        case 8: return {468, 60};
        case 12: return {728, 90};
        default: return {320, 50};
    }
}

std::uint32_t DKBannerHelper::convertToPositionIndexForBannerFormat(std::uint32_t format) {
    return format - convertToSizeIndexFromBannerFormat(format);
}

bool DKBannerHelper::isVerticalBannerAd(std::uint32_t format) {
    return format >= 4 && format < 8;
}

int DKBannerAdProvider::getCurrentDeviceOrientation() const {
    const DKOrientationAnswers* answers = DKApplicationOrientationAnswers();
    const int orientation = answers ? answers->getInterfaceOrientation() : 0;
    // Asked without the optional-operation test: no delegate counts as NO.
    if (orientation >= 1 && orientation <= 4 && m_delegate && m_delegate->isSupportedOrientation(orientation))
        return orientation;
    return answers ? answers->getAnySupportedOrientation() : 1;
}

plat::ui::Rect DKBannerAdProvider::referenceFrame() {
    const plat::ui::Application* app = plat::ui::Application::shared();
    const plat::ui::Window* window = app ? app->keyWindow() : nullptr;
    plat::ui::ViewController* root = window ? window->rootViewController() : nullptr;
    const std::shared_ptr<plat::ui::View> view = root ? root->view() : nullptr;
    return view ? view->frame() : plat::ui::Rect{};
}
