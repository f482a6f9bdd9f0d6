// Banners of the ad network ("orbad"): a view of the format's size class for the device's idiom,
// placed by the format's position in the interface's layout box.
#pragma once

#include <memory>

#include "orbad/OrbadAdView.h"
#include "player/plugins/banner/DKBannerAdProvider.h"

class DKOrbadBannerAdProvider : public DKBannerAdProvider, private OrbadAdViewDelegate {
public:
    DKOrbadBannerAdProvider() = default;
    ~DKOrbadBannerAdProvider() override;

    const char* bannerAdProviderIdentifier() const override { return "orbad"; }
    std::shared_ptr<plat::ui::View> generateBannerAdWithFormat(std::uint32_t format) override;
    void freeBannerAd() override;

    const std::shared_ptr<OrbadAdView>& bannerView() const { return m_bannerView; }

    // The view's callbacks: from any view but the current one they change nothing.
    bool answers(Op op) const override;
    void adViewDidFinishLoad(OrbadAdView* view) override;
    void adViewDidFailLoadWithError(OrbadAdView* view, const plat::foundation::Error& error) override;
    void adViewWillTouchThrough(OrbadAdView* view) override;
    void adViewDidFinishTouchThrough(OrbadAdView* view) override;

private:
    bool isCurrent(const OrbadAdView* view) const { return view && view == m_bannerView.get(); }

    std::shared_ptr<OrbadAdView> m_bannerView;
};
