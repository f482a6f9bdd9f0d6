#include "orbad/ads/OrbadOpenAllocationAdViews.h"

#include <mutex>

#include "orbad/OrbadAdView.h"
#include "orbad/ads/OBBannerHost.h"
#include "orbad/ads/OrbadAd.h"
#include "orbad/ads/OrbadAdViewInternal.h"
#include "platform/sys/ClassRegistry.h"
#include "platform/ui/Window.h"

namespace orbad {

namespace {

std::mutex& classesLock() {
    static std::mutex lock;
    return lock;
}

std::map<std::string, OBNetworkBannerClass>& classes() {
    static std::map<std::string, OBNetworkBannerClass> table;
    return table;
}

OBNetworkBannerClass networkClass(const std::string& name) {
    if (!plat::sys::hasClass(name)) return {};
    std::lock_guard<std::mutex> hold(classesLock());
    auto it = classes().find(name);
    return it == classes().end() ? OBNetworkBannerClass{} : it->second;
}

}  // namespace

void registerNetworkBannerClass(const std::string& name, OBNetworkBannerClass make) {
    {
        std::lock_guard<std::mutex> hold(classesLock());
        if (make)
            classes()[name] = std::move(make);
        else
            classes().erase(name);
    }
    if (classes().count(name))
        plat::sys::registerClass(name, [] { return true; });
    else
        plat::sys::unregisterClass(name);
}

OrbadOpenAllocationAdView::~OrbadOpenAllocationAdView() {
    if (m_networkView) m_networkView->setDelegate(nullptr);
}

void OrbadOpenAllocationAdView::loadWithAd(std::shared_ptr<OrbadAd> ad) {
    const std::shared_ptr<View> self = shared_from_this();  // a failure takes the adapter off at once
    m_currentAd = std::move(ad);
    auto engine = std::dynamic_pointer_cast<OrbadAdViewInternal>(mainAdView());
    const OBNetworkBannerClass make = networkClass(networkClassName());
    if (!make) return fail();
    std::optional<OBNetworkBannerRequest> asked = request(engine.get());
    if (!asked) return fail();
    m_networkView = make(*asked);
    if (!m_networkView) return fail();
    m_networkView->setDelegate(this);
    addSubview(m_networkView);
    m_networkView->load();
}

void OrbadOpenAllocationAdView::fail(const std::optional<plat::foundation::Error>& error) {
    if (auto host = mainAdView()) host->adsViewFailedToLoad(*this, m_currentAd, passesErrors() ? error : std::nullopt);
}

std::optional<std::string> OrbadOpenAllocationAdView::publisherKey(OrbadAdViewInternal* engine, int code) const {
    OrbadAdViewDelegate* delegate = engine ? engine->delegate() : nullptr;
    if (!delegate || !delegate->answers(OrbadAdViewDelegate::Op::adViewPublisherKeyForSuballocationRequest))
        return std::nullopt;
    return delegate->adViewPublisherKeyForSuballocationRequest(engine->externalAdView(), code);
}

void OrbadOpenAllocationAdView::networkDidReceiveAd() {
    if (m_hasLoaded) return;  // a refresh of the network's own is not news
    m_hasLoaded = true;
    if (auto host = mainAdView()) host->adsViewFinishedLoading(*this, m_currentAd);
}

void OrbadOpenAllocationAdView::networkDidFailToReceiveAd(const std::optional<plat::foundation::Error>& error) {
    if (passesErrors() && (m_hasLoaded || !mainAdView() || !m_currentAd)) return;
    const std::shared_ptr<View> self = shared_from_this();
    fail(error);
}

bool OrbadOpenAllocationAdView::networkWillPresentScreen() {
    auto engine = std::dynamic_pointer_cast<OrbadAdViewInternal>(mainAdView());
    return engine && engine->adShouldTouchThrough(m_currentAd);
}

void OrbadOpenAllocationAdView::networkDidDismissScreen() {
    if (auto engine = std::dynamic_pointer_cast<OrbadAdViewInternal>(mainAdView()))
        engine->adDidFinishTouchThrough(m_currentAd);
}

void OrbadOpenAllocationAdView::networkWillLeaveApplication() {
    networkWillPresentScreen();
    networkDidDismissScreen();
}

std::optional<OBNetworkBannerRequest> OrbadIAdAdView::request(OrbadAdViewInternal*) {
    OBNetworkBannerRequest r;
    r.frame = {0, 0, 320, 50};
    r.contentSizes = {"ADBannerContentSizePortrait", "ADBannerContentSizeLandscape"};
    return r;
}

bool OrbadAdMobAdView::isValid() { return plat::sys::hasClass("AdMobView"); }

std::optional<OBNetworkBannerRequest> OrbadAdMobAdView::request(OrbadAdViewInternal* engine) {
    OBNetworkBannerRequest r;
    r.frame = bounds();
    switch (static_cast<int>(bounds().height)) {
        case 60: r.requestedSize = {488, 80}; break;
        case 250: r.requestedSize = {320, 270}; break;
        case 90: r.requestedSize = {748, 110}; break;
        default: r.requestedSize = {320, 48}; break;
    }
    r.key = publisherKey(engine, -750);
    r.rootViewController = engine ? engine->viewController() : nullptr;
    return r;
}

bool OrbadGoogleAdMobAdView::isValid() { return plat::sys::hasClass("GADBannerView"); }

std::optional<OBNetworkBannerRequest> OrbadGoogleAdMobAdView::request(OrbadAdViewInternal* engine) {
    OBNetworkBannerRequest r;
    r.frame = bounds();
    r.rootViewController = engine ? engine->viewController() : nullptr;
    const auto* open = dynamic_cast<const OrbadOpenAllocationAd*>(currentAd().get());
    r.key = publisherKey(engine, open && open->openAllocationType() != 0 ? -750 : -10100);
    if (!r.key) return std::nullopt;  // no unit to load: nothing is added
    return r;
}

OrbadMillennialAdView::OrbadMillennialAdView(const plat::ui::Rect& frame) : OrbadOpenAllocationAdView(frame) {}

std::optional<std::map<std::string, std::string>> OrbadMillennialAdView::requestData(
    const std::optional<std::string>& key2) {
    if (!key2) return std::nullopt;
    const size_t equals = key2->find('=');
    if (equals == std::string::npos) return std::map<std::string, std::string>{{"vendor", *key2}};
    return std::map<std::string, std::string>{{key2->substr(0, equals), key2->substr(equals + 1)}};
}

std::optional<OBNetworkBannerRequest> OrbadMillennialAdView::request(OrbadAdViewInternal* engine) {
    // Only this adapter's own banner counts: another adapter's tap is that one's business.
    m_tapped = plat::foundation::NotificationCenter::defaultCenter().observe(
        kMillennialMediaAdWasTapped, nullptr, [this](const plat::foundation::Notification& n) {
            if (networkView() && n.sender.object == static_cast<const void*>(networkView().get()))
                networkWillLeaveApplication();
        });
    if (!engine || !engine->clientHost()) return std::nullopt;
    const plat::ui::Size unit = engine->adSize();
    OBNetworkBannerRequest r;
    r.key = engine->clientHost()->openAllocationKey(1, "openmillennial", unit);
    if (!r.key) return std::nullopt;
    if (unit == plat::ui::Size{999, 999}) return std::nullopt;  // banners only
    if (static_cast<int>(unit.height) == 250) {
        r.placementType = 3;
        r.frame = {0, 0, 300, 250};
    } else {
        r.placementType = 1;
        if (plat::ui::Window* window = this->window()) {
            const plat::ui::Point origin = convertPointToView({0, 0}, window);
            if (origin.y > window->bounds().height / 2) r.placementType = 2;
        }
        r.frame = {0, -1, 320, 53};
    }
    r.requestData = requestData(engine->clientHost()->openAllocationKey(2, "openmillennial", unit));
    r.rootViewController = engine->viewController();
    return r;
}

}  // namespace orbad
