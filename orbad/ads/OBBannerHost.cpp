#include "orbad/ads/OBBannerHost.h"

#include <cctype>
#include <map>
#include <mutex>
#include <set>

#include "orbad/ads/OrbadAd.h"
#include "orbad/ads/OrbadAdViewInternal.h"
#include "orbad/ads/OrbadBannerAdView.h"
#include "orbad/ads/OrbadFullScreenWebAdView.h"
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

// The started controller as engines see it. Engines hold the host, not the controller: once that
// controller has gone (a shutdown) the host answers as a client with no configuration, and
// bannerHost() makes a new one for the next controller, even one at the same address.
class ControllerBannerHost : public OBBannerHost {
public:
    // Hears the configuration through the notification centre, so that it never reaches a
    // controller that has gone (tests shut controllers down).
    explicit ControllerBannerHost(OrbadController& controller)
        : m_controller(&controller),
          m_generation(OrbadController::instanceGeneration()),
          m_updates(plat::foundation::NotificationCenter::defaultCenter().observe(
              kOrbadConfigObserverKey, &controller.config(),
              [this](const auto&) { configurationUpdated(); })) {}
    // Null once its controller has gone.
    OrbadController* controller() const {
        return OrbadController::instanceGeneration() == m_generation ? m_controller : nullptr;
    }

    const OBEnvironment& environment() const override {
        if (OrbadController* c = controller()) return c->environment();
        static const OBEnvironment* const gone = new OBEnvironment(std::string());  // never freed
        return *gone;
    }
    bool inModalAd() const override { return ask(&OrbadController::inModalAd, false); }
    void setInModalAd(bool modal) override {
        if (OrbadController* c = controller()) c->setInModalAd(modal);
    }
    bool isUpdating() const override {
        return withConfig([](const OBConfig& config) { return config.isUpdating(); }, false);
    }
    bool adUnitEnabled(plat::ui::Size size) const override {
        return withConfig([&](const OBConfig& config) { return config.adUnitEnabled(adSize(size)); }, false);
    }
    double refreshInterval(plat::ui::Size size) const override {
        return withConfig([&](const OBConfig& config) { return config.refreshInteveralForAdUnit(adSize(size)); },
                          0.0);
    }
    double autoplayTimeoutInterval(plat::ui::Size size) const override {
        return withConfig(
            [&](const OBConfig& config) { return config.autoplayTimeoutInteveralForAdUnit(adSize(size)); }, 0.0);
    }
    bool autoPlayEnabled(plat::ui::Size size) const override {
        return withConfig([&](const OBConfig& config) { return config.autoPlayEnabled(adSize(size)); }, false);
    }
    bool richMediaRequiresUserInteraction(plat::ui::Size size) const override {
        return withConfig(
            [&](const OBConfig& config) { return config.richMediaRequiresUserInteraction(adSize(size)); }, false);
    }
    std::string advertisingURL() const override {
        return withConfig([](const OBConfig& config) { return config.advertisingURL(); }, std::string());
    }
    std::optional<Value::Array> openAllocationCandidates(plat::ui::Size size) const override {
        return withConfig([&](const OBConfig& config) { return config.getOpenAllocationCandidates(adSize(size)); },
                          std::optional<Value::Array>());
    }
    std::optional<Value> nextCandidate(plat::ui::Size size, const Value::Array& candidates) const override {
        return withConfig(
            [&](const OBConfig& config) { return config.getNextCandidate(adSize(size), candidates); },
            std::optional<Value>());
    }
    std::optional<std::string> selectionMethod(plat::ui::Size size) const override {
        return withConfig([&](const OBConfig& config) { return config.currentSelectionMethod(adSize(size)); },
                          std::optional<std::string>());
    }
    std::string openAllocationBaseURL() const override {
        return withConfig([](const OBConfig& config) { return config.getoaBaseURL(); }, std::string());
    }
    std::optional<std::string> openAllocationKey(long n, std::string_view network, plat::ui::Size size) const override {
        return withConfig([&](const OBConfig& config) { return config.openAllocationKey(n, network, adSize(size)); },
                          std::optional<std::string>());
    }
    static OBAdSize adSize(plat::ui::Size size) {
        return {static_cast<float>(size.width), static_cast<float>(size.height)};
    }
    std::vector<std::string> nativeURLHandlers() const override {
        return withConfig([](const OBConfig& config) { return config.nativeURLHandlers(); },
                          std::vector<std::string>());
    }
    std::string mraidURL() const override {
        return withConfig([](const OBConfig& config) { return config.mraidURL(); }, std::string());
    }
    void logInfo(const std::string& text) const override {
        if (OrbadController* c = controller()) c->config().logInfo("%s", text.c_str());
    }
    void logVerbose(const std::string& text) const override {
        if (OrbadController* c = controller()) c->config().logVerbose("%s", text.c_str());
    }
    void addObserver(OrbadAdViewInternal* engine) override { m_engines.insert(engine); }
    void removeObserver(OrbadAdViewInternal* engine) override { m_engines.erase(engine); }

private:
    void configurationUpdated() {
        if (!controller()) return;  // another controller's configuration at the old one's address
        const std::set<OrbadAdViewInternal*> engines = m_engines;
        for (OrbadAdViewInternal* engine : engines)
            if (m_engines.count(engine)) engine->orbadConfigurationUpdated();
    }
    template <class R>
    R ask(R (OrbadController::*query)() const, R fallback) const {
        OrbadController* c = controller();
        return c ? (c->*query)() : fallback;
    }
    template <class F, class R>
    R withConfig(F&& fn, R fallback) const {
        OrbadController* c = controller();
        return c ? R(fn(c->config())) : fallback;
    }

    OrbadController* const m_controller;
    const std::uint64_t m_generation;
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
    if (className == "OrbadFullScreenWebAdView") return std::make_shared<OrbadFullScreenWebAdView>(frame);
    return nullptr;
}

bool isBuiltIn(std::string_view className) {
    return className == "OrbadBannerAdView" || className == "OrbadTextAdView" || className == "OrbadIAdAdView" ||
           className == "OrbadAdMobAdView" || className == "OrbadGoogleAdMobAdView" ||
           className == "OrbadMillennialAdView" || className == "OrbadRichMediaWebAdView" ||
           className == "OrbadFullScreenWebAdView";
}

}  // namespace

std::shared_ptr<OBBannerHost> bannerHost() {
    if (hostSlot()) return hostSlot();
    // The controller once the client has started, or once it can start by itself.
    static auto& controllerHost = *new std::shared_ptr<ControllerBannerHost>();  // outlives every engine
    if (!OrbadController::hasBeenInstantiated() && !OrbadController::canBeAutoInstantiated()) return nullptr;
    OrbadController& controller = OrbadController::sharedInstance();
    if (!controllerHost || controllerHost->controller() != &controller)  // gone, or another
        controllerHost = std::make_shared<ControllerBannerHost>(controller);
    return controllerHost;
}

void setBannerHost(std::shared_ptr<OBBannerHost> host) {
    hostSlot() = std::move(host);
}

bool isNativeHandlerURL(std::string_view url) {
    const auto host = bannerHost();
    if (!host) return false;
    const auto lowered = [](std::string_view text) {
        std::string low(text);
        for (char& c : low) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        return low;
    };
    const std::string low = lowered(url);
    for (const std::string& handler : host->nativeURLHandlers())
        if (!handler.empty() && low.find(lowered(handler)) != std::string::npos) return true;
    return false;
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
