// The open-allocation adapters: creative views that show another ad network's banner. The
// networks' banner libraries are looked up by class name (the platform's class registry): none
// exists on Linux, so in production every adapter reports a failed load at once. What a library
// must offer is the small interface below; tests register fakes of it.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "orbad/ads/OrbadAdsView.h"
#include "platform/ui/View.h"

namespace plat::ui {
class ViewController;
}

namespace orbad {

class OrbadOpenAllocationAd;
class OrbadAdViewInternal;

// Posted by the Millennial library when one of its banners is tapped (object: that banner).
inline constexpr const char* kMillennialMediaAdWasTapped = "MillennialMediaAdWasTapped";

// What a network's banner tells its delegate. Main thread.
class OBNetworkBannerDelegate {
public:
    virtual ~OBNetworkBannerDelegate() = default;
    virtual void networkDidReceiveAd() = 0;
    virtual void networkDidFailToReceiveAd(const std::optional<plat::foundation::Error>& error) = 0;
    // A modal screen of the ad is coming: false when another ad has the screen.
    virtual bool networkWillPresentScreen() = 0;
    virtual void networkDidDismissScreen() = 0;
    // The ad opens another application: both of the above.
    virtual void networkWillLeaveApplication() = 0;
};

// What the adapter hands the network's class: the frame, the size or placement asked for, the
// keys, and the controller that presents the network's screens.
struct OBNetworkBannerRequest {
    plat::ui::Rect frame;
    plat::ui::Size requestedSize{0, 0};        // AdMob
    int placementType = 0;                     // Millennial: 1 top, 2 bottom, 3 rectangle
    std::optional<std::string> key;            // the publisher or placement key
    std::optional<std::map<std::string, std::string>> requestData;  // Millennial
    std::vector<std::string> contentSizes;     // iAd: required sizes, the current one first
    plat::ui::ViewController* rootViewController = nullptr;
};

// One network banner: a view, loaded once asked, reporting to its delegate (not owned).
class OBNetworkBanner : public plat::ui::View {
public:
    using View::View;
    OBNetworkBannerDelegate* delegate() const { return m_delegate; }
    void setDelegate(OBNetworkBannerDelegate* delegate) { m_delegate = delegate; }
    virtual void load() = 0;

private:
    OBNetworkBannerDelegate* m_delegate = nullptr;
};

// A network library's banner class by name ("ADBannerView", "AdMobView", "GADBannerView",
// "MMAdView"); also registered with the platform's class registry. An empty maker removes it.
using OBNetworkBannerClass = std::function<std::shared_ptr<OBNetworkBanner>(const OBNetworkBannerRequest&)>;
void registerNetworkBannerClass(const std::string& name, OBNetworkBannerClass make);

// The adapters' common road: the entry remembered, the network's banner made, loaded and shown
// inside the adapter, its first delivery reported once, its screens as the engine's take-overs.
class OrbadOpenAllocationAdView : public plat::ui::View, public OrbadAdsView, public OBNetworkBannerDelegate {
public:
    explicit OrbadOpenAllocationAdView(const plat::ui::Rect& frame) : View(frame) {}
    ~OrbadOpenAllocationAdView() override;

    void adHasBeenDismissed() override {}
    void adHasBeenDisplayed() override {}
    void stopLoading() override {}
    void loadWithAd(std::shared_ptr<OrbadAd> ad) override;
    bool canBeReused() const override { return false; }
    void prepareForReuse() override {}
    plat::ui::View& adsView() override { return *this; }
    const std::shared_ptr<OrbadAd>& currentAd() const { return m_currentAd; }
    const std::shared_ptr<OBNetworkBanner>& networkView() const { return m_networkView; }

    void networkDidReceiveAd() override;
    void networkDidFailToReceiveAd(const std::optional<plat::foundation::Error>& error) override;
    bool networkWillPresentScreen() override;
    void networkDidDismissScreen() override;
    void networkWillLeaveApplication() override;

protected:
    // The network's class name, and the request for it: none fails the load.
    virtual const char* networkClassName() const = 0;
    virtual std::optional<OBNetworkBannerRequest> request(OrbadAdViewInternal* engine) = 0;
    // Only iAd hands the network's error on.
    virtual bool passesErrors() const { return false; }
    void fail(const std::optional<plat::foundation::Error>& error = std::nullopt);
    // The publisher's key for a suballocation code, when the delegate gives one.
    std::optional<std::string> publisherKey(OrbadAdViewInternal* engine, int code) const;

private:
    std::shared_ptr<OrbadAd> m_currentAd;
    std::shared_ptr<OBNetworkBanner> m_networkView;
    bool m_hasLoaded = false;
};

class OrbadIAdAdView : public OrbadOpenAllocationAdView {
public:
    using OrbadOpenAllocationAdView::OrbadOpenAllocationAdView;
    const char* className() const override { return "OrbadIAdAdView"; }
    const char* adsViewClassName() const override { return "OrbadIAdAdView"; }

protected:
    const char* networkClassName() const override { return "ADBannerView"; }
    std::optional<OBNetworkBannerRequest> request(OrbadAdViewInternal* engine) override;
    bool passesErrors() const override { return true; }
};

class OrbadAdMobAdView : public OrbadOpenAllocationAdView {
public:
    using OrbadOpenAllocationAdView::OrbadOpenAllocationAdView;
    const char* className() const override { return "OrbadAdMobAdView"; }
    const char* adsViewClassName() const override { return "OrbadAdMobAdView"; }
    static bool isValid();

protected:
    const char* networkClassName() const override { return "AdMobView"; }
    std::optional<OBNetworkBannerRequest> request(OrbadAdViewInternal* engine) override;
};

class OrbadGoogleAdMobAdView : public OrbadOpenAllocationAdView {
public:
    using OrbadOpenAllocationAdView::OrbadOpenAllocationAdView;
    const char* className() const override { return "OrbadGoogleAdMobAdView"; }
    const char* adsViewClassName() const override { return "OrbadGoogleAdMobAdView"; }
    static bool isValid();

protected:
    const char* networkClassName() const override { return "GADBannerView"; }
    std::optional<OBNetworkBannerRequest> request(OrbadAdViewInternal* engine) override;
};

class OrbadMillennialAdView : public OrbadOpenAllocationAdView {
public:
    explicit OrbadMillennialAdView(const plat::ui::Rect& frame);
    const char* className() const override { return "OrbadMillennialAdView"; }
    const char* adsViewClassName() const override { return "OrbadMillennialAdView"; }
    // Key 2 as the library's request data: "name=value" -> {name: value}, else {"vendor": key}.
    static std::optional<std::map<std::string, std::string>> requestData(const std::optional<std::string>& key2);
    // Seconds between the library's own refreshes: a day, so it never rotates by itself.
    static constexpr double kAdRefreshDuration = 86400;

protected:
    const char* networkClassName() const override { return "MMAdView"; }
    std::optional<OBNetworkBannerRequest> request(OrbadAdViewInternal* engine) override;

private:
    plat::foundation::Observation m_tapped;
};

}  // namespace orbad
