// The creative views of image banners and text ads: their pictures downloaded first, then the
// first item shown and the rest rotated in, each after the ad's duration.
#pragma once

#include <memory>

#include "orbad/ads/OrbadAd.h"
#include "orbad/ads/OrbadImageDownloads.h"
#include "orbad/ads/OrbadTransionableAdView.h"

namespace orbad {

class OrbadBannerAdView : public OrbadTransionableAdView {
public:
    explicit OrbadBannerAdView(const plat::ui::Rect& frame) : OrbadTransionableAdView(frame) {}
    ~OrbadBannerAdView() override;
    const char* className() const override { return "OrbadBannerAdView"; }

    // Without a picture to fetch, the ad fails (with no error) on the next main-loop turn.
    void loadWithAd(std::shared_ptr<OrbadAd> ad) override;
    void stopLoading() override;
    bool canBeReused() const override { return true; }
    void prepareForReuse() override;
    std::shared_ptr<OrbadAd> currentAd() const override { return m_currentAd; }

    // The pictures are in: the first image fitted to the bounds (or, with no transition, all of
    // them played as frames).
    void adDataLoaded();
    // The next image, centred, in place of `onScreen`.
    void transitionImageView(const std::shared_ptr<plat::ui::View>& onScreen);

    const OrbadImageDownloads& downloads() const { return m_downloads; }
    size_t currentIndex() const { return m_index; }

private:
    void scheduleRotation(const std::shared_ptr<plat::ui::View>& onScreen);

    std::shared_ptr<OrbadBannerAd> m_currentAd;
    OrbadImageDownloads m_downloads;
    size_t m_index = 0;
    unsigned m_generation = 0;  // of loads, for the no-picture failure
};

class OrbadTextAdView : public OrbadTransionableAdView {
public:
    explicit OrbadTextAdView(const plat::ui::Rect& frame) : OrbadTransionableAdView(frame) {}
    ~OrbadTextAdView() override;
    const char* className() const override { return "OrbadTextAdView"; }

    // Without an icon or background to fetch, the first panel shows on the next main-loop turn.
    void loadWithAd(std::shared_ptr<OrbadAd> ad) override;
    void stopLoading() override;
    bool canBeReused() const override { return true; }
    void prepareForReuse() override;
    std::shared_ptr<OrbadAd> currentAd() const override { return m_currentAd; }

    void adDataLoaded();
    void transitionTextAdView(const std::shared_ptr<plat::ui::View>& onScreen);
    // One panel in this view's bounds: background, icons, header and body.
    std::shared_ptr<plat::ui::View> viewForTextAd(const OrbadTextAdText& text) const;

    const OrbadImageDownloads& downloads() const { return m_downloads; }

private:
    void scheduleRotation(const std::shared_ptr<plat::ui::View>& onScreen);

    std::shared_ptr<OrbadTextAd> m_currentAd;
    OrbadImageDownloads m_downloads;
    size_t m_index = 0;
    unsigned m_generation = 0;
};

}  // namespace orbad
