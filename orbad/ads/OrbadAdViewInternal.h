// The banner engine behind every ad slot: asks the ad server, loads the chosen creative off screen,
// swaps it in, reports to its delegate, refreshes on a timer and keeps quiet while an ad has the
// screen. Everything runs on the main thread; a request's own thread only reads the status and
// decodes the body, then hands over and waits. Made with std::make_shared, destroyed on the main
// thread.
//
// Requests report to a relay that holds the engine weakly, so a request never keeps an engine
// alive nor destroys it off the main thread, and an answer for an engine gone does nothing; the
// hand-over is given up when the request is cancelled before the main loop takes it up (a main
// thread that cancels requests and joins their threads would otherwise wait for itself).
// Destroying the engine cancels its requests and timers. One pending getAd per engine (one timer:
// refresh, 0.1 s retry, cancellation) and one 10 s not-started check, from the first held request.
//
// At the request gate the engine walks the host's open-allocation list for its size (none:
// straight to the ad server): "orbad" asks the server; the four outside networks' names make a
// creative whose six values are JSON-escaped into a fixed template, with its pings on the
// configuration's open-allocation base; any other name, like a made creative that does not
// decode, is dropped and the next tried 0.1 s later. A candidate leaves the list only when it
// fails; a loaded creative ends the list, and a delegate's hand-over makes the next request draw
// anew (unless continueRequest).
//
// Creatives are made by class name (OBBannerHost.h); a class without a view takes the
// creative-failure path. A creative whose action preloads (URL and HTML actions: 10 s at most) is
// loaded only once the action is preloaded. A creative has 30 s (our choice: nothing names a bound;
// long past the preloading wait, within the network's 60 s of silence) from being handed its ad to
// report its load; past that it is stopped and fails with -1001 like any failing creative, and
// what it reports later is ignored. Delegate operations are called only when `answers` says so,
// each with the public view, or null for an engine without one.
#pragma once

#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "orbad/OrbadAdView.h"
#include "orbad/ads/OBBannerHost.h"
#include "orbad/ads/OrbadAd.h"
#include "orbad/ads/OrbadAdsView.h"
#include "orbad/core/OrbadJSON.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/RunLoop.h"

namespace orbad {

class OBBannerRequestRelay;

// The full-screen unit's size.
inline constexpr plat::ui::Size kOBFullScreenAdSize{999, 999};

inline constexpr const char* kOrbadNotStartedDescription =
    "No application id found.  Please be sure to start Orbad prior to requesting ads.";
inline constexpr const char* kOrbadIntegrationErrorText =
    "Orbad SDK: Integration Error - A view controller could not be located for this OrbadAdView.  All "
    "OrbadAdView's MUST be attached to a view that is managed by a UIViewController.";

class OrbadAdViewInternal : public plat::ui::View, public OrbadAdsViewHost {
public:
    explicit OrbadAdViewInternal(const plat::ui::Rect& frame);
    ~OrbadAdViewInternal() override;
    const char* className() const override { return "OrbadAdViewInternal"; }

    // ---- set-up and control ----
    plat::ui::Size adSize() const { return m_adSize; }
    // Unless the refresh time was set explicitly, takes the configured one (0 before start).
    void setAdSize(plat::ui::Size size);
    OrbadAdViewDelegate* delegate() const { return m_delegate; }
    // The started client the engine asks (null before start).
    const std::shared_ptr<OBBannerHost>& clientHost() const { return m_host; }
    // Probes the three request hooks.
    void setDelegate(OrbadAdViewDelegate* delegate);
    double refreshTime() const { return m_refreshTime; }
    // From now on the configuration no longer sets it; > 0 requests now, else cancels the timer.
    void setRefreshTime(double seconds);
    bool testingMode() const { return m_testingMode; }
    void setTestingMode(bool on) { m_testingMode = on; }
    const std::string& adSpaceName() const { return m_adSpaceName; }
    void setAdSpaceName(std::string name) { m_adSpaceName = std::move(name); }
    OrbadAdView* externalAdView() const { return m_externalAdView; }
    void setExternalAdView(OrbadAdView* view) { m_externalAdView = view; }
    // The explicit controller, else the first found up the responder chain, else the delegate when
    // it is a controller (never here), else null.
    plat::ui::ViewController* viewController() const override;
    void setViewController(plat::ui::ViewController* controller) { m_viewController = controller; }

    void getAd();
    void prefetchAd();
    void getAdWithParameters(const Value* parameters, bool shouldAutoDisplayAd);
    void displayAd();
    void cancelAd();
    void stopLoading();
    void scheduleNextGetAd();
    void scheduleNextGetAdFromError();
    void cancelScheduledGetAd();
    void clearDeveloperHandled() { m_developerHandled = false; }

    // The request's query for `ordinal` (-1 for pings, sent as 4294967295), as a dictionary.
    Value::Dictionary buildAdRequestParams(int ordinal, const Value* additionalParameters,
                                           bool shouldIncludePII);

    bool shouldAutoplay() const override { return m_shouldAutoplay; }
    bool richMediaRequiresUserInteraction() const override { return m_richMediaRequiresUserInteraction; }
    double adWidth() const override { return m_adSize.width; }
    double adHeight() const override { return m_adSize.height; }
    std::string mraidURL() const override { return m_host ? m_host->mraidURL() : std::string(); }
    void logInfo(const std::string& text) const override {
        if (m_host) m_host->logInfo(text);
    }
    int interfaceOrientation() const override;
    std::string deviceModel() const override { return m_deviceModel; }
    OrbadAdsView* currentAdView() const { return m_currentAdView; }
    const std::shared_ptr<OrbadAdsView>& nextAdView() const { return m_nextAdView; }
    const std::shared_ptr<OrbadAd>& currentAd() const { return m_currentAd; }
    const std::vector<std::shared_ptr<OrbadAd>>& currentAds() const { return m_currentAds; }
    bool isLoading() const { return m_isLoading; }
    bool hasPrefetchedAd() const { return m_hasPrefetchedAd; }
    bool hasFinishedStarting() const { return m_hasFinishedStarting.load(); }

    // ---- from creative views ----
    bool adsViewFinishedLoading(OrbadAdsView& view, const std::shared_ptr<OrbadAd>& ad) override;
    void adsViewFailedToLoad(OrbadAdsView& view, const std::shared_ptr<OrbadAd>& ad,
                             const std::optional<Error>& error) override;
    // Of the creative shown or waiting to be: it is taken off; a banner asks for its next ad at
    // once (not at its refresh), the full-screen unit reports a failure (code 0, the page's error
    // underlying) for its controller to close the ad or drop it.
    void adsViewPageEnded(OrbadAdsView& view, const std::shared_ptr<OrbadAd>& ad, const Error& error) override;
    // Through the action controller, unless another ad has the screen or no controller is found.
    void openActionForAd(const std::shared_ptr<OrbadAd>& ad) override;
    // The style of the ad's action when it is a browser action, else 0.
    void openActionURL(const std::string& url, const std::shared_ptr<OrbadAd>& ad) override;
    void openActionURL(const std::string& url);
    // The refresh stops; the browser dismisses itself when the application resigns active.
    void openURLInBrowser(const std::string& url, int browserStyle) override;
    // Presented from the view controller, as a take-over that ends with the browser's close; a
    // browser with no page to show is refused before either, and the refresh resumes.
    void openBrowser(const std::shared_ptr<OBBrowserViewController>& browser);
    // The last browser opened (for tools and tests).
    std::shared_ptr<OBBrowserViewController> lastBrowser() const { return m_lastBrowser.lock(); }
    bool adShouldTouchThrough(const std::shared_ptr<OrbadAd>& ad) override;
    void adDidFinishTouchThrough(const std::shared_ptr<OrbadAd>& ad) override;
    // A take-over shown by `object` (the in-app browser) that ends when it posts `didHideKey`.
    void willTouchThroughWithObject(const void* object, const std::string& didHideKey);
    bool shouldTouchThrough() const;
    // False (and the integration text on standard output) when no controller is found.
    bool verifyViewController() const;

    OrbadAdsViewPool& pool() { return m_pool; }

    // ---- the open-allocation waterfall ----
    const std::optional<Value::Array>& oacandidates() const { return m_oacandidates; }
    const std::string& currentOACandidate() const { return m_currentOACandidate; }
    // The first candidate named `name`; nothing when none is.
    void removeCandidateByKey(const std::string& name);
    // True: the engine shows the outside network itself; false: the delegate has it, or it failed.
    bool shouldHandleOpenAllocationInternally(const OrbadOpenAllocationAd& ad);
    void finishExternalSuballocationRequest(const std::shared_ptr<OrbadAd>& ad, int code);
    void prepareOpenAllocationSelections() {}

    // ---- from the client ----
    void finishStarting();
    void orbadConfigurationUpdated();

private:
    friend class OBBannerRequestRelay;
    enum class Outcome { Finished, Failed };

    void handleOrbadNotStarting();
    void touchThroughFinished();
    void sendTouchThrough(bool will);
    void getOrbadAdWithParameters(const Value* parameters, bool shouldAutoDisplayAd);
    void waterfallStep(const Value* parameters, bool shouldAutoDisplayAd);
    void loadOpenAllocationCreative(const std::string& name, const Value& candidate);
    void creativeDidFail(OrbadAdsView* view, const std::shared_ptr<OrbadAd>& ad, const std::optional<Error>& error);
    // Main-thread halves of the request's answer.
    void requestAnswered(int status, std::optional<Value> body);
    void requestFailed(int status, const Error& error);
    void finishLoadingAds(const Value::Array& list);
    void loadAd(const std::shared_ptr<OrbadAd>& ad);
    // Hands the ad to its creative, which must answer within the load time-out.
    void startCreativeLoad(const std::shared_ptr<OrbadAdsView>& view, const std::shared_ptr<OrbadAd>& ad);
    void creativeLoadTimedOut(const std::weak_ptr<OrbadAdsView>& view, const std::shared_ptr<OrbadAd>& ad);
    // A report of the creative given up at its time-out: it is taken off, and nothing else happens.
    bool isTimedOut(OrbadAdsView& view);
    void creativeFailed();
    void actionPreloaded(const void* action);
    void failWithErrorCode(int code, std::optional<std::string> description = std::nullopt);
    void failWithError(const Error& error);
    void handleAdLoadFailWithError(const Error& error);
    void removeCreative(OrbadAdsView& view);
    void dismissCreative(const std::shared_ptr<plat::ui::View>& view);

    std::shared_ptr<OBBannerHost> m_host;
    std::shared_ptr<OrbadAd> m_currentAd;
    std::optional<Value::Array> m_savedCustomAdArray;
    std::vector<std::shared_ptr<OrbadAd>> m_currentAds;
    OrbadAdsViewPool m_pool;
    OrbadAdViewDelegate* m_delegate = nullptr;
    double m_refreshTime = 0;
    bool m_shouldGetAdAfterConfig = false;
    bool m_shouldGetAdAfterFinishedStarting = false;
    bool m_refreshChanged = false;
    bool m_isLoading = false;
    // The take-over this engine granted and has not seen finished: the flag is every banner's, so
    // an engine that goes first gives it back.
    bool m_holdsTakeOver = false;
    plat::ui::Size m_adSize{};
    OrbadAdView* m_externalAdView = nullptr;
    plat::ui::ViewController* m_viewController = nullptr;
    std::string m_adSpaceName;
    std::shared_ptr<OrbadAdsView> m_nextAdView;
    bool m_shouldAutoplay = false;
    bool m_richMediaRequiresUserInteraction = false;
    bool m_wasPaused = false;
    bool m_pausedSelf = false;
    bool m_testingMode = false;
    bool m_applicationInactive = false;
    std::atomic<bool> m_hasFinishedStarting{false};
    bool m_developerHandled = false;
    double m_lastAutoplayTime = -1e300;
    unsigned m_ordinalNumber = 0;
    std::string m_deviceModel, m_deviceSystemVersion, m_locale;
    bool m_hasRequestAdURLCallback = false, m_hasRequestCreativeCallback = false,
         m_hasRequestVeltiMediaCallback = false;
    bool m_autoDisplayNextAdRequest = false;
    bool m_hasPrefetchedAd = false;
    // The open-allocation networks still to try for this request; none outside a waterfall.
    std::optional<Value::Array> m_oacandidates;
    std::string m_currentOACandidate;
    OrbadAdsView* m_currentAdView = nullptr;

    std::shared_ptr<OBBannerRequestRelay> m_relay;
    plat::foundation::Timer m_getAdTimer;
    plat::foundation::Timer m_notStartedTimer;
    plat::foundation::Timer m_creativeLoadTimer;
    std::weak_ptr<OrbadAdsView> m_timedOutCreative;
    std::vector<plat::foundation::Observation> m_observations;
    bool m_observingConfiguration = false;
    plat::foundation::Observation m_touchThroughEnd;
    plat::foundation::Observation m_preloadWait;
    std::weak_ptr<OBBrowserViewController> m_lastBrowser;
};

// The count shared by full-screen engines, and both back to 0 on a session restart.
unsigned fullScreenOrdinal();

}  // namespace orbad
