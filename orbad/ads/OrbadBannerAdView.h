// The creative views of image banners and text ads: their pictures downloaded first, then the
// first item shown and the rest rotated in, each after the ad's duration.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "orbad/ads/OrbadAd.h"
#include "orbad/ads/OrbadImageDownloads.h"
#include "orbad/ads/OrbadTransionableAdView.h"

namespace orbad {

// What the two share: the pictures fetched first (a newer load or a stop outdating an older one),
// then one item after another, each after the ad's duration.
class OrbadRotatingAdView : public OrbadTransionableAdView {
public:
    using OrbadTransionableAdView::OrbadTransionableAdView;
    ~OrbadRotatingAdView() override;

    void stopLoading() override;
    bool canBeReused() const override { return true; }
    void prepareForReuse() override;

    // The pictures are in: the first item shows.
    virtual void adDataLoaded() = 0;

    const OrbadImageDownloads& downloads() const { return m_downloads; }
    size_t currentIndex() const { return m_index; }

protected:
    // Fetches `urls`, then `adDataLoaded`; with none, `none` runs on the next main-loop turn unless
    // a newer load or a stop came first (nothing would ever answer otherwise).
    void fetch(const std::vector<std::string>& urls, std::function<void(OrbadRotatingAdView&)> none);
    // The item after `onScreen`, `duration` seconds on; never for 0 or less, which would rotate
    // without a pause for ever.
    void scheduleRotation(const std::shared_ptr<plat::ui::View>& onScreen, double duration);
    virtual void rotateFrom(const std::shared_ptr<plat::ui::View>& onScreen) = 0;
    // Steps to the next of `count` items; false past the last of an ad that does not loop.
    bool advance(size_t count, bool loops);
    // Shows `next` in place of `onScreen` with the ad's transition and schedules the one after.
    void rotateTo(const std::shared_ptr<plat::ui::View>& onScreen, const std::shared_ptr<plat::ui::View>& next,
                  int transition, double duration);

    OrbadImageDownloads m_downloads;
    size_t m_index = 0;

private:
    unsigned m_generation = 0;  // of loads
};

class OrbadBannerAdView : public OrbadRotatingAdView {
public:
    explicit OrbadBannerAdView(const plat::ui::Rect& frame) : OrbadRotatingAdView(frame) {}
    const char* className() const override { return "OrbadBannerAdView"; }

    // Without a picture to fetch, the ad fails (with no error) on the next main-loop turn.
    void loadWithAd(std::shared_ptr<OrbadAd> ad) override;
    void prepareForReuse() override;
    std::shared_ptr<OrbadAd> currentAd() const override { return m_currentAd; }

    // The first image fitted to the bounds (or, with no transition, all of them played as frames).
    void adDataLoaded() override;
    // The next image, centred, in place of `onScreen`.
    void transitionImageView(const std::shared_ptr<plat::ui::View>& onScreen);

private:
    void rotateFrom(const std::shared_ptr<plat::ui::View>& onScreen) override { transitionImageView(onScreen); }

    std::shared_ptr<OrbadBannerAd> m_currentAd;
};

class OrbadTextAdView : public OrbadRotatingAdView {
public:
    explicit OrbadTextAdView(const plat::ui::Rect& frame) : OrbadRotatingAdView(frame) {}
    const char* className() const override { return "OrbadTextAdView"; }

    // Without an icon or background to fetch, the first panel shows on the next main-loop turn.
    void loadWithAd(std::shared_ptr<OrbadAd> ad) override;
    void prepareForReuse() override;
    std::shared_ptr<OrbadAd> currentAd() const override { return m_currentAd; }

    void adDataLoaded() override;
    void transitionTextAdView(const std::shared_ptr<plat::ui::View>& onScreen);
    // One panel in this view's bounds: background, icons, header and body.
    std::shared_ptr<plat::ui::View> viewForTextAd(const OrbadTextAdText& text) const;

private:
    void rotateFrom(const std::shared_ptr<plat::ui::View>& onScreen) override { transitionTextAdView(onScreen); }

    std::shared_ptr<OrbadTextAd> m_currentAd;
};

}  // namespace orbad
