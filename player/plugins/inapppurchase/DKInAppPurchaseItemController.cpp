#include "player/plugins/inapppurchase/DKInAppPurchaseItemController.h"

void DKInAppPurchaseItemController::loadView() {
    using namespace plat::ui;
    auto cover = std::make_shared<View>();
    cover->setFrame(Rect{0, 0, 320, 480});
    cover->setBackgroundColor(Color{0, 0, 0, 0.5});
    cover->setAutoresizingMask(kAutoresizingFlexibleWidth | kAutoresizingFlexibleHeight);
    auto spinner = std::make_shared<ActivityIndicator>(ActivityIndicatorStyle::WhiteLarge);
    const Rect box = spinner->frame();
    spinner->setFrame(Rect{(320 - box.width) / 2, (480 - box.height) / 2, box.width, box.height});
    spinner->setAutoresizingMask(kAutoresizingFlexibleLeftMargin | kAutoresizingFlexibleRightMargin |
                                 kAutoresizingFlexibleTopMargin | kAutoresizingFlexibleBottomMargin);
    spinner->setHidesWhenStopped(false);
    m_spinner = spinner;
    cover->addSubview(std::move(spinner));
    setView(std::move(cover));
}

void DKInAppPurchaseItemController::setSpinning(bool on) {
    view();
    if (on)
        m_spinner->startAnimating();
    else
        m_spinner->stopAnimating();
}
