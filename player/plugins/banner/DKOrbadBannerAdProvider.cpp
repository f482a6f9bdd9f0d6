#include "player/plugins/banner/DKOrbadBannerAdProvider.h"

#include <algorithm>

#include "platform/foundation/Log.h"
#include "platform/sys/Device.h"

namespace {

constexpr int kTabletIdiom = 1;

// The class of a size class on an idiom; null where the idiom has none.
const OrbadAdViewClass* adViewClass(std::uint32_t sizeClass, bool tablet) {
    switch (sizeClass) {
        case 0: return tablet ? nullptr : &OrbadAdViewiPhone_320x50;
        case 2: return tablet ? &OrbadAdViewiPad_300x250 : &OrbadAdViewiPhone_300x250;
        case 4: return tablet ? &OrbadAdViewiPad_120x600 : nullptr;
        case 8: return tablet ? &OrbadAdViewiPad_468x60 : nullptr;
        case 12: return tablet ? &OrbadAdViewiPad_728x90 : nullptr;
        default: return nullptr;
    }
}

}  // namespace

DKOrbadBannerAdProvider::~DKOrbadBannerAdProvider() {
    if (!m_bannerView) return;
    m_bannerView->setDelegate(nullptr);
    m_bannerView->cancelAd();
}

std::shared_ptr<plat::ui::View> DKOrbadBannerAdProvider::generateBannerAdWithFormat(std::uint32_t format) {
    const std::uint32_t sizeClass = DKBannerHelper::convertToSizeIndexFromBannerFormat(format);
    const bool tablet = plat::sys::Device::current().userInterfaceIdiom() == kTabletIdiom;
    if (tablet ? sizeClass < 2 : sizeClass > 3) return nullptr;
    if (m_bannerView) return m_bannerView;

    const plat::ui::Rect reference = referenceFrame();
    const double longSide = std::max(reference.width, reference.height);
    const double shortSide = std::min(reference.width, reference.height);
    const bool landscape = isLandscape(getCurrentDeviceOrientation());
    const double W = landscape ? longSide : shortSide, H = landscape ? shortSide : longSide;

    const OrbadAdViewClass* adClass = adViewClass(sizeClass, tablet);
    std::shared_ptr<OrbadAdView> view = adClass ? adClass->init() : nullptr;
    if (!view) return nullptr;

    const double bw = view->frame().width, bh = view->frame().height;
    plat::ui::Point origin;
    switch (DKBannerHelper::convertToPositionIndexForBannerFormat(format)) {
        case 0: origin = {W / 2 - bw / 2, 0}; break;
        case 1: origin = {W / 2 - bw / 2, H - bh}; break;
        case 2: origin = {0, H / 2 - bh / 2}; break;
        case 3: origin = {W - bw, H / 2 - bh / 2}; break;
        default: break;
    }
    view->setDelegate(this);
    view->setFrame({origin.x, origin.y, bw, bh});
    view->resumeAdAutoRefresh();
    m_bannerView = std::move(view);
    return m_bannerView;
}

void DKOrbadBannerAdProvider::freeBannerAd() {
    if (!m_bannerView) return;
    m_bannerView->cancelAd();
    m_bannerView->setDelegate(nullptr);
    m_bannerView.reset();
}

bool DKOrbadBannerAdProvider::answers(Op op) const {
    return op == Op::adViewDidFinishLoad || op == Op::adViewDidFailLoadWithError || op == Op::adViewWillTouchThrough ||
           op == Op::adViewDidFinishTouchThrough;
}

void DKOrbadBannerAdProvider::adViewDidFinishLoad(OrbadAdView* view) {
    if (!isCurrent(view)) return;
    if (DKBannerAdProviderDelegate* d = delegate()) d->adDidLoad();
}

void DKOrbadBannerAdProvider::adViewDidFailLoadWithError(OrbadAdView* view, const plat::foundation::Error& error) {
    if (!isCurrent(view)) return;
    plat::foundation::log("%s", error.message.c_str());
    if (DKBannerAdProviderDelegate* d = delegate()) d->adLoadFailedWithError(error);
}

void DKOrbadBannerAdProvider::adViewWillTouchThrough(OrbadAdView* view) {
    if (!isCurrent(view)) return;
    if (DKBannerAdProviderDelegate* d = delegate()) d->adClicked();
}

void DKOrbadBannerAdProvider::adViewDidFinishTouchThrough(OrbadAdView* view) {
    if (!isCurrent(view)) return;
    if (DKBannerAdProviderDelegate* d = delegate()) d->adClickFinished();
}
