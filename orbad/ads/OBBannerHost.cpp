#include "orbad/ads/OBBannerHost.h"

#include <map>
#include <mutex>
#include <set>

#include "orbad/ads/OrbadAd.h"
#include "orbad/ads/OrbadAdViewInternal.h"
#include "orbad/ads/OrbadBannerAdView.h"
#include "orbad/ads/OrbadOpenAllocationAdViews.h"
#include "orbad/ads/OrbadRichMediaWebAdView.h"
#include "orbad/core/OBConfig.h"
#include "orbad/core/OBEnvironment.h"
#include "orbad/core/OrbadController.h"

namespace orbad {

namespace {

std::shared_ptr<OBBannerHost>& hostSlot() {
    static std::shared_ptr<OBBannerHost> host;
    return host;
}

// The started controller as engines see it.
class ControllerBannerHost : public OBBannerHost {
public:
    // Hears the configuration through the notification centre, so that it never reaches a
    // controller that has gone (tests shut controllers down).
    explicit ControllerBannerHost(OrbadController& controller)
        : m_controller(controller),
          m_updates(plat::foundation::NotificationCenter::defaultCenter().observe(
              kOrbadConfigObserverKey, &controller.config(),
              [this](const auto&) { configurationUpdated(); })) {}
    OrbadController* controller() const { return &m_controller; }

    const OBEnvironment& environment() const override { return m_controller.environment(); }
    bool inModalAd() const override { return m_controller.inModalAd(); }
    void setInModalAd(bool modal) override { m_controller.setInModalAd(modal); }
    bool isUpdating() const override { return m_controller.config().isUpdating(); }
    bool adUnitEnabled(plat::ui::Size size) const override { return config().adUnitEnabled(unit(size)); }
    double refreshInterval(plat::ui::Size size) const override {
        return config().refreshInteveralForAdUnit(unit(size));
    }
    double autoplayTimeoutInterval(plat::ui::Size size) const override {
        return config().autoplayTimeoutInteveralForAdUnit(unit(size));
    }
    bool autoPlayEnabled(plat::ui::Size size) const override { return config().autoPlayEnabled(unit(size)); }
    bool richMediaRequiresUserInteraction(plat::ui::Size size) const override {
        return config().richMediaRequiresUserInteraction(unit(size));
    }
    std::string advertisingURL() const override { return m_controller.config().advertisingURL(); }
    std::optional<Value::Array> openAllocationCandidates(plat::ui::Size size) const override {
        return m_controller.config().getOpenAllocationCandidates(adSize(size));
    }
    std::optional<Value> nextCandidate(plat::ui::Size size, const Value::Array& candidates) const override {
        return m_controller.config().getNextCandidate(adSize(size), candidates);
    }
    std::optional<std::string> selectionMethod(plat::ui::Size size) const override {
        return m_controller.config().currentSelectionMethod(adSize(size));
    }
    std::string openAllocationBaseURL() const override { return m_controller.config().getoaBaseURL(); }
    std::optional<std::string> openAllocationKey(long n, std::string_view network, plat::ui::Size size) const override {
        return m_controller.config().openAllocationKey(n, network, adSize(size));
    }
    static OBAdSize adSize(plat::ui::Size size) {
        return {static_cast<float>(size.width), static_cast<float>(size.height)};
    }
    std::vector<std::string> nativeURLHandlers() const override { return m_controller.config().nativeURLHandlers(); }
    std::string mraidURL() const override { return m_controller.config().mraidURL(); }
    void logInfo(const std::string& text) const override {
        m_controller.config().logInfo("%s", text.c_str());
    }
    void logVerbose(const std::string& text) const override {
        m_controller.config().logVerbose("%s", text.c_str());
    }
    void addObserver(OrbadAdViewInternal* engine) override { m_engines.insert(engine); }
    void removeObserver(OrbadAdViewInternal* engine) override { m_engines.erase(engine); }

private:
    void configurationUpdated() {
        const std::set<OrbadAdViewInternal*> engines = m_engines;
        for (OrbadAdViewInternal* engine : engines)
            if (m_engines.count(engine)) engine->orbadConfigurationUpdated();
    }
    const OBConfig& config() const { return m_controller.config(); }
    static OBAdSize unit(plat::ui::Size size) {
        return {static_cast<float>(size.width), static_cast<float>(size.height)};
    }

    OrbadController& m_controller;
    std::set<OrbadAdViewInternal*> m_engines;
    plat::foundation::Observation m_updates;
};

std::mutex& makersLock() {
    static std::mutex lock;
    return lock;
}

std::map<std::string, OBCreativeMaker, std::less<>>& makers() {
    static std::map<std::string, OBCreativeMaker, std::less<>> table;
    return table;
}

// The classes this client has.
std::shared_ptr<OrbadAdsView> makeBuiltIn(std::string_view className, const plat::ui::Rect& frame) {
    if (className == "OrbadBannerAdView") return std::make_shared<OrbadBannerAdView>(frame);
    if (className == "OrbadTextAdView") return std::make_shared<OrbadTextAdView>(frame);
    if (className == "OrbadIAdAdView") return std::make_shared<OrbadIAdAdView>(frame);
    if (className == "OrbadAdMobAdView") return std::make_shared<OrbadAdMobAdView>(frame);
    if (className == "OrbadGoogleAdMobAdView") return std::make_shared<OrbadGoogleAdMobAdView>(frame);
    if (className == "OrbadMillennialAdView") return std::make_shared<OrbadMillennialAdView>(frame);
    if (className == "OrbadRichMediaWebAdView") return std::make_shared<OrbadRichMediaWebAdView>(frame);
    return nullptr;
}

bool isBuiltIn(std::string_view className) {
    return className == "OrbadBannerAdView" || className == "OrbadTextAdView" || className == "OrbadIAdAdView" ||
           className == "OrbadAdMobAdView" || className == "OrbadGoogleAdMobAdView" ||
           className == "OrbadMillennialAdView" || className == "OrbadRichMediaWebAdView";
}

}  // namespace

std::shared_ptr<OBBannerHost> bannerHost() {
    if (hostSlot()) return hostSlot();
    // The controller once the client has started, or once it can start by itself.
    static auto& controllerHost = *new std::shared_ptr<ControllerBannerHost>();  // outlives every engine
    if (!OrbadController::hasBeenInstantiated() && !OrbadController::canBeAutoInstantiated()) return nullptr;
    OrbadController& controller = OrbadController::sharedInstance();
    if (!controllerHost || controllerHost->controller() != &controller)
        controllerHost = std::make_shared<ControllerBannerHost>(controller);
    return controllerHost;
}

void setBannerHost(std::shared_ptr<OBBannerHost> host) {
    hostSlot() = std::move(host);
}

void notifyTrackingURLsForAd(const OrbadAd& ad) {
    if (ad.events()) ad.events()->triggerEvent("touch");
    if (ad.action()) ad.action()->events().triggerEvent("show");
}

void registerCreativeClass(std::string name, OBCreativeMaker maker) {
    std::lock_guard<std::mutex> hold(makersLock());
    if (maker)
        makers().insert_or_assign(std::move(name), std::move(maker));
    else
        makers().erase(name);
}

std::shared_ptr<OrbadAdsView> makeCreative(std::string_view className, const plat::ui::Rect& frame) {
    OBCreativeMaker maker;
    {
        std::lock_guard<std::mutex> hold(makersLock());
        auto it = makers().find(className);
        if (it == makers().end()) return makeBuiltIn(className, frame);
        maker = it->second;
    }
    return maker(frame);
}

bool hasCreativeClass(std::string_view className) {
    std::lock_guard<std::mutex> hold(makersLock());
    return makers().find(className) != makers().end() || isBuiltIn(className);
}

}  // namespace orbad
