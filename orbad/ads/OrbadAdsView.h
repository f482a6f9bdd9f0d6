// The contract between the banner engine and the creative views it shows, and the engine's pool
// of views kept for the next ad of the same kind.
#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/foundation/Error.h"
#include "platform/foundation/NotificationCenter.h"

class OrbadAdViewDelegate;

namespace plat::ui {
class View;
class ViewController;
}

namespace orbad {

class OrbadAd;
class OrbadAdsView;

// What a creative view reports to, and asks of, the engine that shows it (main thread).
class OrbadAdsViewHost {
public:
    virtual ~OrbadAdsViewHost() = default;
    // False when `ad` is no longer the one the engine waits for: the view then shows nothing.
    virtual bool adsViewFinishedLoading(OrbadAdsView& view, const std::shared_ptr<OrbadAd>& ad) = 0;
    virtual void adsViewFailedToLoad(OrbadAdsView& view, const std::shared_ptr<OrbadAd>& ad,
                                     const std::optional<plat::foundation::Error>& error) = 0;
    // The page of a creative that had loaded has gone (its web process ended): nothing shows.
    virtual void adsViewPageEnded(OrbadAdsView&, const std::shared_ptr<OrbadAd>&,
                                  const plat::foundation::Error&) {}
    // A touch on the creative: its ad's action.
    virtual void openActionForAd(const std::shared_ptr<OrbadAd>& ad) = 0;
    // A link the creative's page followed.
    virtual void openActionURL(const std::string& url, const std::shared_ptr<OrbadAd>& ad) = 0;
    virtual void openURLInBrowser(const std::string& url, int browserStyle) = 0;

    // What a rich-media page is held to and told. Until an engine answers: no autoplay, a user's
    // touch required, no unit size, no boot-loader address.
    virtual bool shouldAutoplay() const { return false; }
    virtual bool richMediaRequiresUserInteraction() const { return true; }
    virtual double adWidth() const { return 0; }
    virtual double adHeight() const { return 0; }
    virtual std::string mraidURL() const { return {}; }
    virtual void logInfo(const std::string&) const {}
    // The interface orientation of the engine's view controller (0 without one).
    virtual int interfaceOrientation() const { return 0; }
    // The controller that presents the creative's screens (null without one).
    virtual plat::ui::ViewController* viewController() const { return nullptr; }
    // The ad takes the screen: true counts the touch and holds the refresh until
    // adDidFinishTouchThrough; false (without an engine too) when another ad has it.
    virtual bool adShouldTouchThrough(const std::shared_ptr<OrbadAd>&) { return false; }
    virtual void adDidFinishTouchThrough(const std::shared_ptr<OrbadAd>&) {}
    // The URL-encoded hardware model the engine sends with its requests ("" without one).
    virtual std::string deviceModel() const { return {}; }
};

// A creative view as the engine drives it. The engine sets the delegate and itself before
// loadWithAd, and clears both when it takes the view off; the view holds neither.
class OrbadAdsView {
public:
    virtual ~OrbadAdsView() = default;

    void setAdViewDelegate(OrbadAdViewDelegate* delegate) { m_adViewDelegate = delegate; }
    OrbadAdViewDelegate* adViewDelegate() const { return m_adViewDelegate; }
    // A view may apply what the engine asks of it here.
    virtual void setMainAdView(std::weak_ptr<OrbadAdsViewHost> host) { m_mainAdView = std::move(host); }
    std::shared_ptr<OrbadAdsViewHost> mainAdView() const { return m_mainAdView.lock(); }
    // Taken off the engine; become the engine's current view.
    virtual void adHasBeenDismissed() = 0;
    virtual void adHasBeenDisplayed() = 0;
    // Abandons any loading.
    virtual void stopLoading() = 0;
    // Answers later with adsViewFinishedLoading or adsViewFailedToLoad on the main ad view.
    virtual void loadWithAd(std::shared_ptr<OrbadAd> ad) = 0;
    // May wait in the pool; reset before it does.
    virtual bool canBeReused() const = 0;
    virtual void prepareForReuse() = 0;

    // The view that shows, and the class name the pool keys it by.
    virtual plat::ui::View& adsView() = 0;
    virtual const char* adsViewClassName() const = 0;

protected:
    OrbadAdViewDelegate* m_adViewDelegate = nullptr;
    std::weak_ptr<OrbadAdsViewHost> m_mainAdView;
};

// At most one waiting view per class name, dropped on a memory warning. Every operation holds
// the pool's lock for its whole length.
class OrbadAdsViewPool {
public:
    OrbadAdsViewPool();
    ~OrbadAdsViewPool();
    OrbadAdsViewPool(const OrbadAdsViewPool&) = delete;
    OrbadAdsViewPool& operator=(const OrbadAdsViewPool&) = delete;

    // Kept (after prepareForReuse) only when it can be reused and none of its class waits.
    void queueReusableAdView(const std::shared_ptr<OrbadAdsView>& view);
    std::shared_ptr<OrbadAdsView> dequeueReusableAdViewWithClass(std::string_view className);
    void purge();
    size_t waitingCount() const;

private:
    mutable std::mutex m_lock;
    std::map<std::string, std::vector<std::shared_ptr<OrbadAdsView>>, std::less<>> m_views;
    plat::foundation::Observation m_memoryWarning;
};

}  // namespace orbad
