// The plain HTML creative: the ad's markup in a transparent web view that never scrolls, links
// handed to the engine, and the page's shouldOpen() answer opened once it has loaded. The page's
// load is reported once per ad; its cookies ("accept all") stay in the ads' own web context.
#pragma once

#include <memory>

#include "orbad/ads/OrbadAd.h"
#include "orbad/ads/OrbadAdsView.h"
#include "platform/ui/WebView.h"

namespace orbad {

inline constexpr const char* kOrbadShouldOpenScript = "if(typeof shouldOpen == 'function') shouldOpen();";

class OrbadWebAdView : public plat::ui::WebView, public OrbadAdsView, private plat::ui::WebViewDelegate {
public:
    explicit OrbadWebAdView(const plat::ui::Rect& frame);
    ~OrbadWebAdView() override;
    const char* className() const override { return "OrbadWebAdView"; }

    void adHasBeenDismissed() override {}
    void adHasBeenDisplayed() override {}
    // The page's load reports its end once per ad.
    void loadWithAd(std::shared_ptr<OrbadAd> ad) override;
    void stopLoading() override;
    bool canBeReused() const override { return true; }
    void prepareForReuse() override;
    plat::ui::View& adsView() override { return *this; }
    const char* adsViewClassName() const override { return className(); }

    const std::shared_ptr<OrbadWebAd>& currentAd() const { return m_currentAd; }

private:
    bool shouldStartLoad(plat::ui::WebView&, const plat::ui::WebRequest& request,
                         plat::ui::WebNavigationType type) override;
    void didFinishLoad(plat::ui::WebView&) override;
    void didFailLoad(plat::ui::WebView&, const plat::foundation::Error& error) override;
    void scrolled();

    std::shared_ptr<OrbadWebAd> m_currentAd;
    bool m_shouldBeLoading = false;
    bool m_reported = false;
};

}  // namespace orbad
