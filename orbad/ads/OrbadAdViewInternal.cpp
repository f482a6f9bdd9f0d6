#include "orbad/ads/OrbadAdViewInternal.h"

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <functional>
#include <mutex>

#include "orbad/ads/OrbadOpenAllocationAdViews.h"
#include "orbad/ads/OrbadAdActionController.h"
#include "orbad/ads/OrbadAdAction.h"
#include "orbad/core/OBEnvironment.h"
#include "orbad/core/OBSession.h"
#include "orbad/core/OBSessionTracking.h"
#include "orbad/core/OrbadController.h"
#include "orbad/core/OrbadHelper.h"
#include "orbad/core/http/OBHTTPRequest.h"
#include "platform/foundation/DeviceFactsFile.h"
#include "platform/foundation/JSONText.h"
#include "platform/net/URLLoading.h"
#include "platform/ui/Application.h"
#include "platform/ui/ViewController.h"

namespace orbad {

namespace {

using plat::foundation::NotificationCenter;
using plat::foundation::RunLoop;
using Op = OrbadAdViewDelegate::Op;

constexpr double kRetryDelay = 0.1;
constexpr double kNotStartedDelay = 10.0;
// A creative that has reported neither its load nor a failure by then fails, so the next creative
// or the refresh goes on: a page whose pictures or scripts trickle in never finishes by itself.
// Long past an action's preloading wait (10 s), well within the network's silence limit (60 s).
constexpr double kCreativeLoadTimeout = 30.0;
constexpr const char* kUnderlyingErrorKey = "NSUnderlyingError";
constexpr const char* kUnitDisabled =
    "This ad unit size has been remotely disabled in the developer dashboard.";
constexpr const char* kFeedStopped =
    "Feed does not exist or has been stopped (disabled) see developer dashboard.";

// Main thread only, like every engine's state.
unsigned g_fullScreenOrdinal = 0;

bool isFullScreen(plat::ui::Size size) {
    return size == kOBFullScreenAdSize;
}

Value errorValue(const Error& error) {
    Value::Dictionary d{{"domain", Value(error.domain)}, {"code", Value(error.code)}};
    if (!error.message.empty()) d.emplace("description", Value(error.message));
    return Value(std::move(d));
}

// The class of the view that shows `ad`; empty for none.
std::string creativeClassFor(const OrbadAd& ad, plat::ui::Size adSize) {
    switch (ad.type()) {
        case kOrbadAdTypeWeb:
            return isFullScreen(adSize) ? "OrbadFullScreenWebAdView" : "OrbadRichMediaWebAdView";
        case kOrbadAdTypeText:
            return "OrbadTextAdView";
        case kOrbadAdTypeBanner:
            return "OrbadBannerAdView";
        case kOrbadAdTypeOpenAllocation: {
            const auto* open = dynamic_cast<const OrbadOpenAllocationAd*>(&ad);
            switch (open ? open->openAllocationType() : -1) {
                case 0:
                    return "OrbadGoogleAdMobAdView";
                case 1:
                    return OrbadGoogleAdMobAdView::isValid() ? "OrbadGoogleAdMobAdView" : "OrbadAdMobAdView";
                case 2:
                    return "OrbadIAdAdView";
                case 3:
                    return "OrbadMillennialAdView";
                default:
                    return "";
            }
        }
        default:
            return "";
    }
}

OrbadAdsView* asCreative(plat::ui::View* view) {
    return dynamic_cast<OrbadAdsView*>(view);
}

}  // namespace

unsigned fullScreenOrdinal() {
    return g_fullScreenOrdinal;
}

// The requests' delegate. It holds the engine weakly, so a request never keeps an engine alive and
// an engine is never destroyed on a request's thread; an answer for an engine gone does nothing.
// The hand-over waits until the main loop has run it, unless the request is cancelled before the
// main loop takes it up: a main thread that cancels requests and waits for their threads (the
// way out of a tool) would otherwise wait for a thread that waits for it.
class OBBannerRequestRelay : public OBHTTPRequestDelegate {
public:
    explicit OBBannerRequestRelay(std::weak_ptr<plat::ui::View> engine) : m_engine(std::move(engine)) {}

    void requestDidFinish(OBCoreHTTPRequest& request) override {
        const int status = request.responseStatusCode();
        std::optional<Value> body;
        if (status == 200 || status == 251) body = obDictionaryWithJSONData(request.responseData());
        onMain(request,
               [&](OrbadAdViewInternal& engine) { engine.requestAnswered(status, std::move(body)); });
    }

    void requestDidFail(OBCoreHTTPRequest& request, const Error& error) override {
        const int status = request.responseStatusCode();
        onMain(request, [&](OrbadAdViewInternal& engine) { engine.requestFailed(status, error); });
    }

private:
    void onMain(OBCoreHTTPRequest& request, const std::function<void(OrbadAdViewInternal&)>& fn) {
        request.performOnMainAndWait([&fn, target = m_engine] {
            // Held for the length of the call: a delegate that frees the banner inside a callback
            // leaves the engine to go when the call has returned, still on the main thread.
            if (auto live = std::static_pointer_cast<OrbadAdViewInternal>(target.lock())) fn(*live);
        });
    }

    const std::weak_ptr<plat::ui::View> m_engine;
};

OrbadAdViewInternal::OrbadAdViewInternal(const plat::ui::Rect& frame) : View(frame) {
    setClipsToBounds(true);
    NotificationCenter& center = NotificationCenter::defaultCenter();
    const void* app = plat::ui::Application::shared();
    m_observations.push_back(center.observe(plat::ui::kApplicationWillResignActiveNotification, app,
                                            [this](const auto&) { m_applicationInactive = true; }));
    m_observations.push_back(center.observe(plat::ui::kApplicationDidBecomeActiveNotification, app,
                                            [this](const auto&) { m_applicationInactive = false; }));
    m_observations.push_back(
        center.observe(kOrbadDidFinishStarting, nullptr, [this](const auto&) { finishStarting(); }));
    if (bannerHost()) finishStarting();
    setBackgroundColor(plat::ui::Color{0, 0, 0, 0});
    m_ordinalNumber = 0;
    m_observations.push_back(center.observe(kOBSessionRestartedNotification, nullptr, [this](const auto&) {
        m_ordinalNumber = 0;
        g_fullScreenOrdinal = 0;
    }));
}

OrbadAdViewInternal::~OrbadAdViewInternal() {
    const std::vector<std::shared_ptr<View>> children = subviews();
    for (const auto& child : children) {
        child->removeFromSuperview();
        if (OrbadAdsView* creative = asCreative(child.get())) {
            creative->adHasBeenDismissed();
            creative->setMainAdView({});
            creative->setAdViewDelegate(nullptr);
        }
    }
    if (m_holdsTakeOver && m_host) m_host->setInModalAd(false);
    if (m_relay) OBCoreHTTPRequest::cancelRequestsForDelegate(m_relay.get());
    m_getAdTimer.invalidate();
    m_notStartedTimer.invalidate();
    m_creativeLoadTimer.invalidate();
    if (m_host && m_observingConfiguration) m_host->removeObserver(this);
    m_observations.clear();
}

// ---- start-up ----

void OrbadAdViewInternal::finishStarting() {
    bool expected = false;
    if (!m_hasFinishedStarting.compare_exchange_strong(expected, true)) return;
    m_host = bannerHost();
    if (!m_host) {
        m_hasFinishedStarting = false;
        return;
    }
    m_host->addObserver(this);
    m_observingConfiguration = true;
    m_deviceModel = obURLEncodedString(m_host->environment().deviceType());
    m_deviceSystemVersion = obURLEncodedString(plat::foundation::deviceFacts().systemVersion);
    m_locale = obURLEncodedString(m_host->environment().locale());
    if (m_shouldGetAdAfterFinishedStarting) {
        m_shouldGetAdAfterFinishedStarting = false;
        getAdWithParameters(nullptr, m_autoDisplayNextAdRequest);
    }
}

void OrbadAdViewInternal::handleOrbadNotStarting() {
    if (hasFinishedStarting()) return;
    m_shouldGetAdAfterFinishedStarting = false;
    failWithErrorCode(-8888888, kOrbadNotStartedDescription);
}

void OrbadAdViewInternal::orbadConfigurationUpdated() {
    if (!m_refreshChanged && m_host) m_refreshTime = m_host->refreshInterval(m_adSize);
    if (m_shouldGetAdAfterConfig) {
        m_shouldGetAdAfterConfig = false;
        getAd();
    }
}

// ---- set-up ----

void OrbadAdViewInternal::setAdSize(plat::ui::Size size) {
    m_adSize = size;
    if (!m_refreshChanged) m_refreshTime = m_host ? m_host->refreshInterval(size) : 0;
}

void OrbadAdViewInternal::setDelegate(OrbadAdViewDelegate* delegate) {
    m_delegate = delegate;
    m_hasRequestAdURLCallback = delegate && delegate->answers(Op::requestedAdUrlForAdView);
    m_hasRequestCreativeCallback = delegate && delegate->answers(Op::requestedCreativeForAdView);
    m_hasRequestVeltiMediaCallback = delegate && delegate->answers(Op::requestedVeltiMediaURL);
}

void OrbadAdViewInternal::setRefreshTime(double seconds) {
    m_refreshChanged = true;
    m_refreshTime = seconds;
    if (seconds > 0)
        getAd();
    else
        cancelScheduledGetAd();
}

plat::ui::ViewController* OrbadAdViewInternal::viewController() const {
    if (m_viewController) return m_viewController;
    for (View* view = superview(); view; view = view->superview())
        if (auto* controller = dynamic_cast<plat::ui::ViewController*>(view->nextResponder()))
            return controller;
    return dynamic_cast<plat::ui::ViewController*>(m_delegate);
}

int OrbadAdViewInternal::interfaceOrientation() const {
    plat::ui::ViewController* controller = viewController();
    return controller ? controller->interfaceOrientation() : 0;
}

bool OrbadAdViewInternal::verifyViewController() const {
    if (viewController()) return true;
    std::printf("%s\n", kOrbadIntegrationErrorText);
    std::fflush(stdout);
    return false;
}

// ---- requests ----

void OrbadAdViewInternal::getAd() {
    getAdWithParameters(nullptr, true);
}

void OrbadAdViewInternal::prefetchAd() {
    if (m_hasPrefetchedAd) return;
    cancelScheduledGetAd();
    m_wasPaused = false;
    getAdWithParameters(nullptr, false);
}

void OrbadAdViewInternal::getAdWithParameters(const Value* parameters, bool shouldAutoDisplayAd) {
    if (m_hasPrefetchedAd) {
        displayAd();
        return;
    }
    m_autoDisplayNextAdRequest = shouldAutoDisplayAd;
    if (!hasFinishedStarting()) {
        m_shouldGetAdAfterFinishedStarting = true;
        // One check per engine, timed from the first held request.
        if (!m_notStartedTimer.isValid())
            m_notStartedTimer =
                RunLoop::main().addTimer(kNotStartedDelay, [this] { handleOrbadNotStarting(); });
        return;
    }
    if (m_isLoading || m_applicationInactive || m_host->inModalAd()) {
        scheduleNextGetAdFromError();
        return;
    }
    if (m_host->isUpdating()) {
        m_shouldGetAdAfterConfig = true;
        return;
    }
    if (!m_host->adUnitEnabled(m_adSize)) {
        failWithErrorCode(-9999999, kUnitDisabled);
        m_host->logInfo(kUnitDisabled);
        return;
    }
    waterfallStep(parameters, shouldAutoDisplayAd);
}

// ---- the open-allocation waterfall ----

namespace {

constexpr const char* kCandidatesExhausted = "\t\tNo ads available, all OA candidates exhausted.";

// The values go in as JSON string contents: a base URL holding '"' or '\\' cannot break the text.
std::string jsonEscaped(std::string_view text) {
    std::string out;
    plat::foundation::appendJSONEscaped(out, text);
    return out;
}

int suballocationCode(int openAllocationType) {
    switch (openAllocationType) {
        case 0: return -10100;
        case 1: return -750;
        case 2: return -275;
        case 3: return -1375;
        default: return -1006;
    }
}

const char* networkWord(int openAllocationType) {
    switch (openAllocationType) {
        case -1: return "Empty";
        case 0: return "Google";
        case 1: return "AdMob";
        case 2: return "iAd";
        default: return "unknown";  // Millennial's too, as it always said
    }
}

}  // namespace

void OrbadAdViewInternal::waterfallStep(const Value* parameters, bool shouldAutoDisplayAd) {
    if (m_developerHandled) m_oacandidates.reset();
    if (!m_oacandidates) m_oacandidates = m_host->openAllocationCandidates(m_adSize);
    if (!m_oacandidates) return getOrbadAdWithParameters(parameters, shouldAutoDisplayAd);
    if (m_oacandidates->empty()) {
        m_oacandidates.reset();
        return failWithErrorCode(-503, kCandidatesExhausted);
    }
    const std::optional<Value> candidate = m_host->nextCandidate(m_adSize, *m_oacandidates);
    if (!candidate) {
        // No weight left to choose by: nothing in the list can ever be tried.
        m_oacandidates.reset();
        return failWithErrorCode(-503, kCandidatesExhausted);
    }
    m_currentOACandidate = stringForKeyPath(*candidate, "name").value_or("");
    const std::string& name = m_currentOACandidate;
    if (name == "orbad") return getOrbadAdWithParameters(parameters, shouldAutoDisplayAd);
    if (name == "openadmob" || name == "openiad" || name == "openmillennial" || name == "empty")
        return loadOpenAllocationCreative(name, *candidate);
    // A name no network answers to: dropped, and the next one tried, so the slot never falls silent.
    removeCandidateByKey(name);
    scheduleNextGetAdFromError();
}

void OrbadAdViewInternal::loadOpenAllocationCreative(const std::string& name, const Value& candidate) {
    Value::Dictionary params = buildAdRequestParams(-1, nullptr, false);
    params.insert_or_assign("oa", name);
    if (const std::optional<std::string> method = m_host->selectionMethod(m_adSize)) {
        params.insert_or_assign("oam", *method);
        if (const Value* value = candidate.find(*method); value && !value->isNull())
            params.insert_or_assign("oav", *value);
    }
    const std::string query = obBuildQueryString(Value(std::move(params)));
    const std::string base = m_host->openAllocationBaseURL();
    const std::string fields[6] = {name, name, base + "oaimp?" + query, base + "oaclk?" + query,
                                   base + "oanoad?" + query, base + "oadev?" + query};
    static constexpr const char* kTemplate[7] = {
        "{\"creative\":{\"type\":\"openallocation\",\"action\":{\"type\":\"null\",\"autoplay\":false},"
        "\"props\":{\"network\":\"",
        "\",\"backfill\":false,\"hosted\":false,\"converted_html\":false,\"adnetwork\":\"",
        "\"}   , \"eventUrls\": {\"onShow\":\"", "\" , \"onTouch\":\"", "\" , \"noAd\":\"", "\" , \"oaDev\":\"",
        "\"   }   }}"};
    std::string text = kTemplate[0];
    for (int i = 0; i < 6; ++i) text += jsonEscaped(fields[i]) + kTemplate[i + 1];
    const std::optional<Value> creative = OrbadJSON::decodeData(text);
    if (!creative || !creative->dictionary()) return creativeFailed();
    finishLoadingAds(Value::Array{*creative});
}

void OrbadAdViewInternal::removeCandidateByKey(const std::string& name) {
    if (!m_oacandidates) return;
    for (auto it = m_oacandidates->begin(); it != m_oacandidates->end(); ++it) {
        if (stringForKeyPath(*it, "name") == name) {
            m_oacandidates->erase(it);
            return;
        }
    }
}

bool OrbadAdViewInternal::shouldHandleOpenAllocationInternally(const OrbadOpenAllocationAd& ad) {
    const int type = ad.openAllocationType();
    const int code = suballocationCode(type);
    if (type >= 0 && type <= 3) {
        if (!m_delegate || !m_delegate->answers(Op::adViewShouldHandleSuballocationRequest)) return true;
        if (m_delegate->adViewShouldHandleSuballocationRequest(m_externalAdView, code)) return true;
        m_developerHandled = true;
    }
    finishExternalSuballocationRequest(m_currentAd, code);
    return false;
}

void OrbadAdViewInternal::finishExternalSuballocationRequest(const std::shared_ptr<OrbadAd>& ad, int code) {
    m_isLoading = false;
    if (m_delegate && m_delegate->answers(Op::adViewDidReceiveSuballocationRequest)) {
        m_developerHandled = true;
        m_delegate->adViewDidReceiveSuballocationRequest(m_externalAdView, code);
        if (!(m_wasPaused && !m_pausedSelf)) scheduleNextGetAd();
        return;
    }
    const auto* open = dynamic_cast<const OrbadOpenAllocationAd*>(ad.get());
    const std::string description =
        open ? std::string("Recieved an open allocation request: ") + networkWord(open->openAllocationType()) +
                   ", but delegate method was not implemented."
             : "Recieved an open allocation request, but delegate method was not implemented.";
    creativeDidFail(nullptr, ad, obErrorWithCode(-503, description));
}

void OrbadAdViewInternal::getOrbadAdWithParameters(const Value* parameters, bool) {
    const unsigned ordinal = isFullScreen(m_adSize) ? g_fullScreenOrdinal++ : m_ordinalNumber++;

    const bool wasPaused = m_wasPaused;
    cancelScheduledGetAd();
    m_pausedSelf = !wasPaused && m_refreshTime > 0;

    OrbadAdView* view = m_externalAdView;
    if (m_delegate && m_delegate->answers(Op::adViewCanAutoplay))
        m_shouldAutoplay = m_delegate->adViewCanAutoplay(view);
    else if (m_lastAutoplayTime + m_host->autoplayTimeoutInterval(m_adSize) > wallNow())
        m_shouldAutoplay = false;
    else
        m_shouldAutoplay = m_host->autoPlayEnabled(m_adSize);
    if (m_delegate && m_delegate->answers(Op::richMediaRequiresUserInteraction))
        m_richMediaRequiresUserInteraction = m_delegate->richMediaRequiresUserInteraction(view);
    else
        m_richMediaRequiresUserInteraction = m_host->richMediaRequiresUserInteraction(m_adSize);

    Value::Dictionary params = buildAdRequestParams(static_cast<int>(ordinal), parameters, true);
    if (std::optional<std::string> fb = OBEnvironment::getFacebookAttributionId())
        params.insert_or_assign("fb", *fb);
    const std::string url = m_host->advertisingURL() + "?" + obBuildQueryString(Value(std::move(params)));

    stopLoading();
    m_isLoading = true;
    if (!m_relay) m_relay = std::make_shared<OBBannerRequestRelay>(weak_from_this());
    OBHTTPRequest::create(url, m_relay)->startAsynchronous();
}

void OrbadAdViewInternal::stopLoading() {
    if (m_relay) OBCoreHTTPRequest::cancelRequestsForDelegate(m_relay.get());
    const std::vector<std::shared_ptr<View>> children = subviews();
    for (const auto& child : children)
        if (OrbadAdsView* creative = asCreative(child.get())) creative->stopLoading();
    m_creativeLoadTimer.invalidate();
    m_isLoading = false;
}

void OrbadAdViewInternal::cancelAd() {
    stopLoading();
    m_shouldGetAdAfterConfig = false;
    m_shouldGetAdAfterFinishedStarting = false;
    m_isLoading = false;
    cancelScheduledGetAd();
}

// ---- the answer ----

void OrbadAdViewInternal::requestAnswered(int status, std::optional<Value> body) {
    m_isLoading = false;
    switch (status) {
        case 200:
        case 251:
            break;
        case 503:
            return failWithErrorCode(-503, "No ads available");
        case 500:
            return failWithErrorCode(-500, "Server error");
        case 512:
            return failWithErrorCode(-9999999, kFeedStopped);
        default:
            return failWithErrorCode(0, "Unknown error!");
    }
    if (!body || !body->dictionary()) return failWithErrorCode(0);

    Value::Array list;
    if (body->find("creative")) {
        list.push_back(*body);
    } else if (const Value* creatives = body->find("creatives")) {
        auto wrap = [&list](const Value& member) {
            list.push_back(Value(Value::Dictionary{{"creative", member}}));
        };
        if (const Value::Array* members = creatives->array()) {
            for (const Value& member : *members)
                if (member.dictionary()) wrap(member);
        } else if (creatives->dictionary()) {
            wrap(*creatives);
        }
    }
    if (list.empty()) return failWithErrorCode(0);

    if (std::optional<std::string> fallback = stringForKeyPath(list.front(), "creative.fallback");
        fallback && Value(*fallback).boolValue()) {
        m_savedCustomAdArray = list;
        return failWithErrorCode(-7777777);
    }
    finishLoadingAds(list);
}

void OrbadAdViewInternal::requestFailed(int status, const Error& error) {
    m_isLoading = false;
    if (m_oacandidates) {
        removeCandidateByKey(m_currentOACandidate);
        scheduleNextGetAdFromError();
        return;
    }
    failWithError(obErrorWithCode(status == 500 ? -500 : 0,
                                  Value::Dictionary{{kUnderlyingErrorKey, errorValue(error)}}));
}

void OrbadAdViewInternal::creativeFailed() {
    m_isLoading = false;
    if (m_oacandidates && !m_oacandidates->empty()) {
        removeCandidateByKey(m_currentOACandidate);
        scheduleNextGetAdFromError();
        return;
    }
    failWithErrorCode(0);
}

void OrbadAdViewInternal::finishLoadingAds(const Value::Array& list) {
    std::vector<std::shared_ptr<OrbadAd>> ads;
    for (const Value& entry : list) {
        if (m_host) {
            const std::string network = stringForKeyPath(entry, "creative.adnetwork").value_or("(null)");
            m_host->logVerbose(
                "Received Orbad Ad from Network ->" + network + "<- CreativeId ->" +
                std::to_string(static_cast<int>(integerForKeyPath(entry, "creative.creativeId"))) + "<-");
        }
        ads.push_back(OrbadAd::adWithJSONDictionary(entry));
    }
    m_currentAds = ads;
    if (ads.empty()) return creativeFailed();
    loadAd(ads.front());
}

void OrbadAdViewInternal::loadAd(const std::shared_ptr<OrbadAd>& ad) {
    m_currentAd = ad;
    m_developerHandled = false;
    m_nextAdView = nullptr;
    if (const auto* open = dynamic_cast<const OrbadOpenAllocationAd*>(ad.get());
        open && !shouldHandleOpenAllocationInternally(*open)) {
        if (ad->events()) ad->events()->triggerEvent("oaDev");
        return;
    }
    const std::string className = creativeClassFor(*ad, m_adSize);
    std::shared_ptr<OrbadAdsView> view;
    if (!className.empty()) {
        view = m_pool.dequeueReusableAdViewWithClass(className);
        if (!view) view = makeCreative(className, bounds());
    }
    if (!view) return creativeFailed();
    const plat::ui::Rect area = bounds();
    plat::ui::View& shown = view->adsView();
    shown.setClipsToBounds(true);
    view->setAdViewDelegate(m_delegate);
    view->setMainAdView(std::static_pointer_cast<OrbadAdViewInternal>(shared_from_this()));
    // Outside the visible area while it loads.
    shown.setFrame({-2 * area.width, -2 * area.height, area.width, area.height});
    addSubview(shown.shared_from_this());
    m_nextAdView = view;
    if (const std::shared_ptr<OrbadAdAction>& action = ad->action(); action && action->shouldPreload()) {
        m_preloadWait = NotificationCenter::defaultCenter().observe(
            kOrbadAdActionPreloaded, action.get(),
            [this](const plat::foundation::Notification& n) { actionPreloaded(n.sender.object); });
        action->preloadAction();
        return;
    }
    startCreativeLoad(view, ad);
}

void OrbadAdViewInternal::actionPreloaded(const void* action) {
    const std::shared_ptr<View> self = shared_from_this();
    m_preloadWait.remove();
    if (m_currentAd && m_currentAd->action().get() == action && m_nextAdView)
        startCreativeLoad(m_nextAdView, m_currentAd);
}

void OrbadAdViewInternal::startCreativeLoad(const std::shared_ptr<OrbadAdsView>& view,
                                            const std::shared_ptr<OrbadAd>& ad) {
    if (m_timedOutCreative.lock() == view) m_timedOutCreative.reset();
    m_creativeLoadTimer.invalidate();
    m_creativeLoadTimer = RunLoop::main().addTimer(
        kCreativeLoadTimeout,
        [this, weak = std::weak_ptr<OrbadAdsView>(view), ad] { creativeLoadTimedOut(weak, ad); });
    view->loadWithAd(ad);
}

void OrbadAdViewInternal::creativeLoadTimedOut(const std::weak_ptr<OrbadAdsView>& weak,
                                               const std::shared_ptr<OrbadAd>& ad) {
    const std::shared_ptr<OrbadAdsView> view = weak.lock();
    if (!view || view != m_nextAdView || ad != m_currentAd) return;
    // What the page still sends once it is given up is no news: the engine has moved on.
    m_timedOutCreative = view;
    view->stopLoading();
    const int code = plat::net::kURLErrorTimedOut;
    creativeDidFail(view.get(), ad,
                    Error{plat::net::kURLErrorDomain, code, plat::net::describeURLError(code), {}});
}

bool OrbadAdViewInternal::isTimedOut(OrbadAdsView& view) {
    if (m_timedOutCreative.lock().get() != &view) return false;
    removeCreative(view);
    return true;
}

// ---- creative outcomes ----

bool OrbadAdViewInternal::adsViewFinishedLoading(OrbadAdsView& view, const std::shared_ptr<OrbadAd>& ad) {
    const std::shared_ptr<View> self = shared_from_this();
    if (isTimedOut(view)) return false;
    if (ad != m_currentAd) {
        removeCreative(view);
        return false;
    }
    m_creativeLoadTimer.invalidate();
    if (m_autoDisplayNextAdRequest)
        displayAd();
    else
        m_hasPrefetchedAd = true;
    m_wasPaused = false;
    if (m_delegate && m_delegate->answers(Op::adViewDidFinishLoad))
        m_delegate->adViewDidFinishLoad(m_externalAdView);
    if (!m_wasPaused) scheduleNextGetAd();
    m_oacandidates.reset();
    return true;
}

void OrbadAdViewInternal::adsViewFailedToLoad(OrbadAdsView& view, const std::shared_ptr<OrbadAd>& ad,
                                              const std::optional<Error>& error) {
    const std::shared_ptr<View> hold = view.adsView().shared_from_this();
    if (isTimedOut(view)) return;
    creativeDidFail(&view, ad, error);
}

void OrbadAdViewInternal::creativeDidFail(OrbadAdsView* view, const std::shared_ptr<OrbadAd>& ad,
                                          const std::optional<Error>& error) {
    const std::shared_ptr<View> self = shared_from_this();
    if (ad != m_currentAd) {
        if (view) removeCreative(*view);
        return;
    }
    m_creativeLoadTimer.invalidate();
    m_nextAdView = nullptr;
    if (view) removeCreative(*view);
    for (size_t i = 0; i + 1 < m_currentAds.size(); ++i) {
        if (m_currentAds[i] == ad) {
            loadAd(m_currentAds[i + 1]);
            return;
        }
    }
    if (m_oacandidates && !m_oacandidates->empty()) {
        if (m_currentOACandidate != "orbad" && !m_developerHandled && ad->events())
            ad->events()->triggerEvent("noAd");
        m_developerHandled = false;
        removeCandidateByKey(m_currentOACandidate);
        scheduleNextGetAdFromError();
        return;
    }
    // Parameters that are no dictionary were never read as such (the model leaves them out). The
    // follow-up waits the retry delay like any retry: an ad failing at once would otherwise ask a
    // server answering so again as fast as it answers.
    if (const std::optional<Value>& params = ad->requestParameters();
        params && params->dictionary() && !params->dictionary()->empty()) {
        m_getAdTimer.invalidate();
        m_getAdTimer = RunLoop::main().addTimer(
            kRetryDelay, [this, parameters = *params, autoDisplay = m_autoDisplayNextAdRequest] {
                const Value held = parameters;  // the request re-arms the timer that owns this
                getAdWithParameters(&held, autoDisplay);
            });
        return;
    }
    Value::Dictionary info;
    if (error) info.emplace(kUnderlyingErrorKey, errorValue(*error));
    failWithError(obErrorWithCode(0, std::move(info)));
}

void OrbadAdViewInternal::adsViewPageEnded(OrbadAdsView& view, const std::shared_ptr<OrbadAd>&,
                                           const Error& error) {
    const bool shown = &view == m_currentAdView;
    const bool waiting = m_hasPrefetchedAd && m_nextAdView.get() == &view;
    if (!shown && !waiting) return;  // on its way out, or still loading (its load fails by itself)
    const std::shared_ptr<View> self = shared_from_this();
    if (waiting) {
        m_nextAdView = nullptr;
        m_hasPrefetchedAd = false;
    }
    dismissCreative(view.adsView().shared_from_this());
    logInfo("The ad's page has ended: " + error.message);
    if (m_adSize == kOBFullScreenAdSize) {
        failWithError(obErrorWithCode(0, Value::Dictionary{{kUnderlyingErrorKey, errorValue(error)}}));
        return;
    }
    getAd();
}

void OrbadAdViewInternal::removeCreative(OrbadAdsView& view) {
    if (view.adsView().superview() == this) view.adsView().removeFromSuperview();
}

void OrbadAdViewInternal::displayAd() {
    // Nothing waits: the creative on screen stays, and its "show" is not counted again.
    if (!m_nextAdView) return;
    const std::shared_ptr<View> self = shared_from_this();
    plat::ui::View& next = m_nextAdView->adsView();
    const std::vector<std::shared_ptr<View>> children = subviews();
    for (const auto& child : children)
        if (child.get() != &next) dismissCreative(child);
    if (next.superview() != this) addSubview(next.shared_from_this());
    next.setFrame(bounds());
    next.setAutoresizingMask(plat::ui::kAutoresizingFlexibleWidth | plat::ui::kAutoresizingFlexibleHeight);
    m_currentAdView = m_nextAdView.get();
    if (m_currentAd && m_currentAd->events()) m_currentAd->events()->triggerEvent("show");
    m_nextAdView->adHasBeenDisplayed();
    // Opening the action itself comes with the action controller.
    if (m_currentAd && m_currentAd->action() && m_currentAd->action()->autoplay() && m_shouldAutoplay)
        m_lastAutoplayTime = wallNow();
    m_nextAdView = nullptr;
    m_hasPrefetchedAd = false;
}

void OrbadAdViewInternal::dismissCreative(const std::shared_ptr<View>& view) {
    view->removeFromSuperview();
    auto creative = std::dynamic_pointer_cast<OrbadAdsView>(view);
    if (!creative) return;
    if (creative.get() == m_currentAdView) m_currentAdView = nullptr;
    creative->adHasBeenDismissed();
    creative->setMainAdView({});
    creative->setAdViewDelegate(nullptr);
    m_pool.queueReusableAdView(creative);
}

// ---- failures ----

void OrbadAdViewInternal::failWithErrorCode(int code, std::optional<std::string> description) {
    failWithError(description ? obErrorWithCode(code, std::move(*description)) : obErrorWithCode(code));
}

void OrbadAdViewInternal::failWithError(const Error& error) {
    handleAdLoadFailWithError(error);
}

void OrbadAdViewInternal::handleAdLoadFailWithError(const Error& error) {
    const std::shared_ptr<View> self = shared_from_this();
    m_isLoading = false;
    if (m_oacandidates) {
        if (m_currentOACandidate == "orbad") removeCandidateByKey(m_currentOACandidate);
        scheduleNextGetAdFromError();
        return;
    }
    if (m_savedCustomAdArray) {
        // Taken first: a fallback list that fails in turn reports instead of loading itself again.
        const Value::Array saved = std::move(*m_savedCustomAdArray);
        m_savedCustomAdArray.reset();
        finishLoadingAds(saved);
        scheduleNextGetAd();
        return;
    }
    if (m_delegate && m_delegate->answers(Op::adViewDidFailLoad))
        m_delegate->adViewDidFailLoad(m_externalAdView);
    if (m_delegate && m_delegate->answers(Op::adViewDidFailLoadWithError))
        m_delegate->adViewDidFailLoadWithError(m_externalAdView, error);
    scheduleNextGetAd();
}

// ---- the refresh timer: one pending getAd at most ----

void OrbadAdViewInternal::scheduleNextGetAd() {
    m_wasPaused = false;
    m_pausedSelf = false;
    m_getAdTimer.invalidate();
    if (m_refreshTime > 0) m_getAdTimer = RunLoop::main().addTimer(m_refreshTime, [this] { getAd(); });
}

void OrbadAdViewInternal::scheduleNextGetAdFromError() {
    m_getAdTimer.invalidate();
    m_getAdTimer = RunLoop::main().addTimer(kRetryDelay, [this] { getAd(); });
}

void OrbadAdViewInternal::cancelScheduledGetAd() {
    m_wasPaused = true;
    m_pausedSelf = false;
    m_getAdTimer.invalidate();
}

// ---- actions ----

void OrbadAdViewInternal::openActionForAd(const std::shared_ptr<OrbadAd>& ad) {
    if (shouldTouchThrough() && verifyViewController()) OrbadAdActionController::openActionForAd(ad, *this);
}

void OrbadAdViewInternal::openActionURL(const std::string& url, const std::shared_ptr<OrbadAd>& ad) {
    if (!shouldTouchThrough() || !verifyViewController()) return;
    const auto* browserAction = ad ? dynamic_cast<const OrbadAdBrowserAction*>(ad->action().get()) : nullptr;
    OrbadAdActionController::openActionURL(url, ad, *this, browserAction ? browserAction->browserStyle() : 0);
}

void OrbadAdViewInternal::openActionURL(const std::string& url) {
    if (shouldTouchThrough() && verifyViewController()) OrbadAdActionController::openActionURL(url, *this, 0);
}

// ---- touch-through ----

bool OrbadAdViewInternal::shouldTouchThrough() const {
    return !(m_host && m_host->inModalAd());
}

bool OrbadAdViewInternal::adShouldTouchThrough(const std::shared_ptr<OrbadAd>& ad) {
    if (!m_host || m_host->inModalAd()) return false;
    const std::shared_ptr<View> self = shared_from_this();
    sendTouchThrough(true);
    m_host->setInModalAd(true);
    m_holdsTakeOver = true;
    if (ad) notifyTrackingURLsForAd(*ad);
    cancelScheduledGetAd();
    return true;
}

void OrbadAdViewInternal::adDidFinishTouchThrough(const std::shared_ptr<OrbadAd>&) {
    const std::shared_ptr<View> self = shared_from_this();
    if (m_host) m_host->setInModalAd(false);
    m_holdsTakeOver = false;
    scheduleNextGetAd();
    sendTouchThrough(false);
}

void OrbadAdViewInternal::openURLInBrowser(const std::string& url, int browserStyle) {
    cancelScheduledGetAd();
    auto browser = OBBrowserViewController::withURL(url, browserStyle);
    browser->setAutoDismissOnResignActive(true);
    openBrowser(browser);
}

void OrbadAdViewInternal::openBrowser(const std::shared_ptr<OBBrowserViewController>& browser) {
    // Refused before any take-over: the banner goes on as if never touched.
    if (!browser->hasPageToShow()) {
        logInfo("Not opening the in-app browser on an address it does not load ->" + browser->requestURL() + "<-");
        scheduleNextGetAd();
        return;
    }
    browser->setAutoDismissOnResignActive(true);
    m_lastBrowser = browser;
    willTouchThroughWithObject(browser.get(), kOBBrowserDidHideNotification);
    if (plat::ui::ViewController* controller = viewController()) controller->presentViewController(browser, true);
}

void OrbadAdViewInternal::willTouchThroughWithObject(const void* object, const std::string& didHideKey) {
    m_touchThroughEnd = NotificationCenter::defaultCenter().observe(
        didHideKey, object, [this](const auto&) { touchThroughFinished(); });
    sendTouchThrough(true);
}

void OrbadAdViewInternal::touchThroughFinished() {
    const std::shared_ptr<View> self = shared_from_this();
    m_touchThroughEnd.remove();
    sendTouchThrough(false);
    scheduleNextGetAd();
}

// To the public view's delegate: nobody without a public view.
void OrbadAdViewInternal::sendTouchThrough(bool will) {
    OrbadAdViewDelegate* external = m_externalAdView ? m_externalAdView->delegate() : nullptr;
    if (!external) return;
    if (will && external->answers(Op::adViewWillTouchThrough))
        external->adViewWillTouchThrough(m_externalAdView);
    if (!will && external->answers(Op::adViewDidFinishTouchThrough))
        external->adViewDidFinishTouchThrough(m_externalAdView);
}

}  // namespace orbad
