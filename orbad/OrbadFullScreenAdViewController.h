// The ad network client's interstitial: a modal controller that prefetches one full-screen ad
// through a banner engine of its own (999 x 999, no refresh), tells its delegate when the ad has
// loaded or failed, shows it on request, and tells the delegate when it is presented and when it
// is dismissed. Around the ad: a bottom toolbar (spinner slot, back, forward, Done) or, when the
// page asks for it, the close widget. Every call the player makes is traced ("svc orbad fullscreen
// request|display yes|display no") whatever stands behind. Main thread only.
//
// Its engine is (0, 0, 320, 480), unit 999 x 999, refresh -1: one request per requestAd, and a new
// engine after each dismissal, placed in the room the toolbar leaves (the toolbar's logical state
// outlives a presentation). Any creative but the full-screen web view gets the widget. Dismissal
// (Done, widget, resign-active while visible, the page on screen ending with its web process) lets
// the engine go, resets the widget and tells the delegate while the controller is still presented,
// then restores the status bar and dismisses; a loaded ad whose page ends before it is shown fails
// as a load would (code 0).
// "Left the screen" is the view-controller layer's: at viewDidDisappear a controller no longer
// presented has left (its flags clear), one that presents a browser or video is only covered. The
// status bar is saved at a presentation's first appearance only: coming back from a browser, the
// ad itself hid it.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "orbad/OrbadAdView.h"
#include "orbad/ads/OrbadFullScreenWebAdView.h"
#include "orbad/ads/OrbadWidgetButtonController.h"
#include "platform/foundation/Error.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/ui/ViewController.h"

namespace orbad {
class OrbadAdViewInternal;
}
namespace plat::ui {
class BarButtonItem;
class Toolbar;
}  // namespace plat::ui

class OrbadFullScreenAdViewController;

// Every operation optional: the four callbacks do nothing unless overridden; the four request
// hooks are asked only when `answers` says the delegate has them. Never owned by the controller.
class OrbadFullScreenAdDelegate {
public:
    enum class Hook {
        requestedAdUrl,
        requestedCreative,
        requestedVeltiMediaId,
        requestedVeltiMediaURL,
    };

    virtual ~OrbadFullScreenAdDelegate() = default;
    virtual bool answers(Hook) const { return false; }

    // An ad is ready: hasAd() is already true.
    virtual void fullScreenAdViewControllerDidFinishLoad(OrbadFullScreenAdViewController&) {}
    // The engine's error, unchanged.
    virtual void fullScreenAdViewControllerDidFailToLoad(OrbadFullScreenAdViewController&,
                                                         const plat::foundation::Error&) {}
    // Once per presentation, before the ad is shown.
    virtual void fullScreenAdViewControllerWillPresentAd(OrbadFullScreenAdViewController&) {}
    // The ad is being closed: sent before the controller dismisses itself.
    virtual void fullScreenAdViewControllerDidDismissAd(OrbadFullScreenAdViewController&) {}

    // The request hooks: null and "" differ (see the request's parameters). The engine asks the
    // media URL's whatever `answers` says, and takes null when the delegate has none.
    virtual std::optional<std::string> requestedAdUrlForFullScreenAdViewController(
        OrbadFullScreenAdViewController&) {
        return std::nullopt;
    }
    virtual std::optional<std::string> requestedCreativeForFullScreenAdViewController(
        OrbadFullScreenAdViewController&) {
        return std::nullopt;
    }
    virtual std::optional<std::string> requestedVeltiMediaIdForFullScreenAdViewController(
        OrbadFullScreenAdViewController&) {
        return std::nullopt;
    }
    virtual std::optional<std::string> requestedVeltiMediaURLForFullScreenAdViewController(
        OrbadFullScreenAdViewController&) {
        return std::nullopt;
    }
};

// Made with std::make_shared (make() or init()).
class OrbadFullScreenAdViewController : public plat::ui::ViewController,
                                        public orbad::OrbadFullScreenWebAdToolbarDelegate,
                                        private OrbadAdViewDelegate,
                                        private orbad::OrbadWidgetButtonControllerDelegate {
public:
    // The engine's frame at creation, its ad size and refresh time.
    static constexpr plat::ui::Rect kEngineFrame{0, 0, 320, 480};
    static constexpr double kEngineRefreshTime = -1.0;

    // The player's way in: the client's controller once the client has started, else (and while
    // the container holds Library/LocalServices/adnetwork.plist) the stand-in the input script plays.
    static std::shared_ptr<OrbadFullScreenAdViewController> init();
    // The client's controller.
    static std::shared_ptr<OrbadFullScreenAdViewController> make();

    OrbadFullScreenAdViewController();
    ~OrbadFullScreenAdViewController() override;
    const char* className() const override { return "OrbadFullScreenAdViewController"; }

    // ---- the player's interface ----
    // Builds the engine when there is none, takes the status bar's orientation and prefetches (a
    // prefetched ad still waiting stays).
    void requestAd();
    // Not retained; null clears it. The engine probes the request hooks again.
    void setDelegate(OrbadFullScreenAdDelegate* delegate);
    OrbadFullScreenAdDelegate* delegate() const { return m_delegate; }
    // Loaded and not yet shown and dismissed.
    bool hasAd() const { return m_hasAd; }
    // From the hand-over to the screen until the controller has left it.
    bool isDisplayingAd() const { return m_displayingAd; }
    // False without a loaded ad or while one is displayed; else presents this controller modally,
    // animated, from `presenter` (false too when that cannot present it: the ad stays waiting).
    bool displayRequestedAdFromViewController(plat::ui::ViewController& presenter);
    // Requests, and presents from `presenter` as soon as the ad loads (at once when one is already
    // waiting; nothing after a failure).
    // The presenter is not retained.
    void requestAndDisplayAdFromViewController(plat::ui::ViewController& presenter);
    // The engine let go, the widget reset, the delegate told, the status bar restored, then the
    // dismissal.
    void dismissAdAnimated(bool animated);
    // The Done item's action.
    void dismissAd() { dismissAdAnimated(true); }

    // ---- the toolbar ----
    void goBack();
    void goForward();
    // The spinner (true) or the 40-point space in slot 0; the widget hears it too.
    void setLoading(bool loading);
    // Back and forward enabled by the page's history (a full-screen web creative only).
    void updateToolbar();
    // Exactly one of toolbar and close widget is in use.
    void shouldShowToolbar(bool show, bool animated);

    // ---- as the full-screen creative's toolbar delegate ----
    void fullscreenWebAdViewShouldShowToolbar() override { shouldShowToolbar(true, true); }
    void fullscreenWebAdShouldUpdateToolbar() override { updateToolbar(); }
    void fullscreenWebAdViewCanHideToolbar() override { shouldShowToolbar(false, true); }
    void fullWebAdViewIsLoading(bool loading) override { setLoading(loading); }
    void fullWebAdViewCanAllowOpenInSafari(bool) override {}

    // ---- state, for tools and tests ----
    const std::shared_ptr<orbad::OrbadAdViewInternal>& internalAdView() const { return m_internalAdView; }
    const std::shared_ptr<orbad::OrbadWidgetButtonController>& widgetButtonController() const {
        return m_widgetButtonController;
    }
    const std::shared_ptr<plat::ui::Toolbar>& toolbar() const { return m_toolbar; }
    const std::shared_ptr<plat::ui::BarButtonItem>& loadingItem() const { return m_loadingItem; }
    const std::shared_ptr<plat::ui::BarButtonItem>& notLoadingItem() const { return m_notLoadingItem; }
    // The Done item (null before the view is made).
    const std::shared_ptr<plat::ui::BarButtonItem>& doneItem() const { return m_doneItem; }
    bool toolbarHidden() const { return m_toolbarHidden; }
    bool statusBarHidden() const { return m_statusBarHidden; }
    bool wasPresented() const { return m_wasPresented; }
    bool adIsVisible() const { return m_adIsVisible; }
    int requestOrientation() const { return m_requestOrientation; }

    // ---- the view controller ----
    void viewDidLoad() override;
    void viewWillAppear(bool animated) override;
    void viewDidAppear(bool animated) override;
    void viewWillDisappear(bool animated) override;
    void viewDidDisappear(bool animated) override;
    // Only the orientation of the last request.
    bool shouldAutorotateToInterfaceOrientation(int orientation) const override;
    unsigned supportedInterfaceOrientations() const override;
    bool shouldAutorotate() const override { return true; }

protected:
    // What requestAd and a granted display do beyond their traces: the client's work, or the
    // stand-in's. The display is granted only with an ad loaded and none displayed; false when
    // the presenter would not show it.
    virtual void prefetchAd();
    virtual bool presentAdFrom(plat::ui::ViewController& presenter);

    bool m_hasAd = false;
    bool m_displayingAd = false;
    OrbadFullScreenAdDelegate* m_delegate = nullptr;

private:
    // ---- as the engine's delegate ----
    bool answers(Op op) const override;
    void adViewDidFinishLoad(OrbadAdView* view) override;
    void adViewDidFailLoadWithError(OrbadAdView* view, const plat::foundation::Error& error) override;
    bool adViewCanAutoplay(OrbadAdView*) override { return true; }
    bool richMediaRequiresUserInteraction(OrbadAdView*) override { return false; }
    std::optional<std::string> requestedAdUrlForAdView(OrbadAdView*) override;
    std::optional<std::string> requestedCreativeForAdView(OrbadAdView*) override;
    std::optional<std::string> requestedVeltiMediaIdForAdView(OrbadAdView*) override;
    std::optional<std::string> requestedVeltiMediaURL(OrbadAdView*) override;

    // ---- as the close widget's delegate ----
    void widgetButtonControllerDismissTriggered(orbad::OrbadWidgetButtonController&) override {
        dismissAdAnimated(true);
    }

    // The engine's creative on screen when it is a full-screen web creative, else null.
    orbad::OrbadFullScreenWebAdView* webAdView() const;
    // Lets the engine go: cancelled, its delegate cleared, out of the view.
    void releaseEngine();
    void applicationWillResignActive();

    std::shared_ptr<orbad::OrbadAdViewInternal> m_internalAdView;
    std::shared_ptr<orbad::OrbadWidgetButtonController> m_widgetButtonController;
    bool m_statusBarHidden = false;
    std::shared_ptr<plat::ui::Toolbar> m_toolbar;
    std::shared_ptr<plat::ui::BarButtonItem> m_loadingItem;
    std::shared_ptr<plat::ui::BarButtonItem> m_notLoadingItem;
    std::shared_ptr<plat::ui::BarButtonItem> m_backItem, m_forwardItem, m_doneItem;
    std::weak_ptr<plat::ui::ViewController> m_tempDisplayViewController;
    bool m_wasPresented = false;
    bool m_adIsVisible = false;
    // The toolbar starts hidden, so its logical state does too: a toolbar page then shows it on
    // the first presentation.
    bool m_toolbarHidden = true;
    int m_requestOrientation = 0;
    plat::foundation::Observation m_resignActive;
};
