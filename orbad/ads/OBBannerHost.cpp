#include "orbad/ads/OBBannerHost.h"

#include <map>
#include <mutex>
#include <set>

#include "orbad/ads/OrbadAd.h"
#include "orbad/ads/OrbadAdViewInternal.h"
#include "orbad/ads/OrbadBannerAdView.h"
#include "orbad/core/OBConfig.h"
#include "orbad/core/OBEnvironment.h"
#include "orbad/core/OrbadController.h"

namespace orbad {

namespace {

std::shared_ptr<OBBannerHost>& hostSlot() {
    static std::shared_ptr<OBBannerHost> host;
    return host;
}

// The started controller as engines see it. The unit settings are read here from the
// configuration's units until the configuration answers them itself.
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
    bool adUnitEnabled(plat::ui::Size size) const override {
        if (const Value* enabled = unitValue(size, "enabled")) return enabled->boolValue();
        return m_controller.config().adUnits().empty();
    }
    double refreshInterval(plat::ui::Size size) const override {
        const Value* refresh = unitValue(size, "refresh");
        return refresh ? refresh->doubleValue() : 30.0;
    }
    double autoplayTimeoutInterval(plat::ui::Size size) const override {
        return size == plat::ui::Size{300, 250} && OBEnvironment::platformName() == "iphone" ? 0.0 : 120.0;
    }
    bool autoPlayEnabled(plat::ui::Size size) const override {
        const Value* autoplay = unitValue(size, "autoplay");
        return autoplay && autoplay->boolValue();
    }
    bool richMediaRequiresUserInteraction(plat::ui::Size size) const override {
        const Value* required = unitValue(size, "rm_require_user");
        return required && required->boolValue();
    }
    std::string advertisingURL() const override { return m_controller.config().advertisingURL(); }
    std::vector<std::string> nativeURLHandlers() const override { return m_controller.config().nativeURLHandlers(); }
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
    const Value* unitValue(plat::ui::Size size, std::string_view key) const {
        const std::string unit = size == kOBFullScreenAdSize
                                     ? "fullscreen"
                                     : std::to_string(static_cast<int>(size.width)) + "x" +
                                           std::to_string(static_cast<int>(size.height));
        const auto& units = m_controller.config().adUnits();
        auto it = units.find(unit);
        return it == units.end() ? nullptr : it->second.find(key);
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
    return nullptr;
}

bool isBuiltIn(std::string_view className) {
    return className == "OrbadBannerAdView" || className == "OrbadTextAdView";
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
