#include "orbad/ads/OBBannerHost.h"

#include <map>
#include <mutex>

#include "orbad/ads/OrbadAd.h"
#include "orbad/ads/OrbadBannerAdView.h"

namespace orbad {

namespace {

std::shared_ptr<OBBannerHost>& hostSlot() {
    static std::shared_ptr<OBBannerHost> host;
    return host;
}

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
    return hostSlot();
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
