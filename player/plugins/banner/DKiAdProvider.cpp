#include "player/plugins/banner/DKiAdProvider.h"

#include <algorithm>

#include "platform/sys/ClassRegistry.h"
#include "player/app/DrovikPlayerAppDelegate.h"

namespace adbanner = plat::adbanner;

DKiAdProvider::DKiAdProvider() {
    adbanner::ADBannerView::registerClass();
}

DKiAdProvider::~DKiAdProvider() {
    if (m_bannerView) m_bannerView->setDelegate(nullptr);
}

std::shared_ptr<plat::ui::View> DKiAdProvider::generateBannerAdWithFormat(std::uint32_t format) {
    if (!plat::sys::hasClass(adbanner::kADBannerViewClassName) || DKBannerHelper::isVerticalBannerAd(format))
        return nullptr;
    if (m_bannerView) return m_bannerView;

    const bool landscape = isLandscape(getCurrentDeviceOrientation());
    const char* identifier = landscape ? adbanner::kADBannerContentSizeIdentifierLandscape
                                       : adbanner::kADBannerContentSizeIdentifierPortrait;
    const plat::ui::Size size = adbanner::ADBannerView::sizeFromBannerContentSizeIdentifier(identifier);
    const plat::ui::Rect reference = referenceFrame();
    double y = 0;
    if (DKBannerHelper::convertToPositionIndexForBannerFormat(format) == 1) {
        // The interface's height: the short side in landscape, the long one otherwise, whichever
        // way the root frame is turned (the platform this comes from kept it portrait-shaped).
        const double shortSide = std::min(reference.width, reference.height);
        const double longSide = std::max(reference.width, reference.height);
        y = (landscape ? shortSide : longSide) - size.height;
    }

    m_bannerView = adbanner::ADBannerView::create({});
    m_bannerView->setBackgroundColor(plat::ui::Color{1, 0, 0, 1});
    m_bannerView->setDelegate(this);
    m_bannerView->setRequiredContentSizeIdentifiers({identifier});
    m_bannerView->setCurrentContentSizeIdentifier(identifier);
    m_bannerView->setFrame({0, y, size.width, size.height});
    // The application entering the background ends an ad action under way.
    m_willHibernate = plat::foundation::NotificationCenter::defaultCenter().observe(
        DKAppWillHibernateNotification, nullptr, [this](const plat::foundation::Notification&) {
            if (m_actionInProgress && m_bannerView) bannerViewActionDidFinish(*m_bannerView);
        });
    return m_bannerView;
}

void DKiAdProvider::freeBannerAd() {
    if (!m_bannerView) return;
    m_willHibernate.remove();
    m_bannerView->setDelegate(nullptr);
    m_bannerView.reset();
    m_actionInProgress = false;
}

void DKiAdProvider::bannerViewDidLoadAd(adbanner::ADBannerView& view) {
    if (!isCurrent(view)) return;
    if (DKBannerAdProviderDelegate* d = delegate()) d->adDidLoad();
}

void DKiAdProvider::bannerViewDidFailToReceiveAd(adbanner::ADBannerView& view, const plat::foundation::Error& error) {
    if (!isCurrent(view)) return;
    if (DKBannerAdProviderDelegate* d = delegate()) d->adLoadFailedWithError(error);
}

bool DKiAdProvider::bannerViewActionShouldBegin(adbanner::ADBannerView& view, bool) {
    if (!isCurrent(view)) return true;
    m_actionInProgress = true;
    if (DKBannerAdProviderDelegate* d = delegate()) d->adClicked();
    return true;
}

void DKiAdProvider::bannerViewActionDidFinish(adbanner::ADBannerView& view) {
    if (!isCurrent(view)) return;
    m_actionInProgress = false;
    if (DKBannerAdProviderDelegate* d = delegate()) d->adClickFinished();
}
