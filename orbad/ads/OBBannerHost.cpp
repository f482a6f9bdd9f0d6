#include "orbad/ads/OBBannerHost.h"

#include <map>
#include <mutex>

#include "orbad/core/OrbadHelper.h"

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

int typeOf(const std::optional<std::string>& text) {
    if (text == "text") return OBBannerAd::kText;
    if (text == "openallocation") return OBBannerAd::kOpenAllocation;
    if (text == "image" || text == "banner") return OBBannerAd::kImage;
    return OBBannerAd::kHTML;
}

int openAllocationTypeOf(const std::optional<std::string>& network) {
    if (network == "opengoogle") return 0;
    if (network == "openadmob") return 1;
    if (network == "openiad") return 2;
    if (network == "openmillennial") return 3;
    return -1;
}

}  // namespace

std::shared_ptr<OBBannerHost> bannerHost() {
    return hostSlot();
}

void setBannerHost(std::shared_ptr<OBBannerHost> host) {
    hostSlot() = std::move(host);
}

std::shared_ptr<OBBannerAd> OBBannerAd::fromEntry(const Value& entry) {
    auto ad = std::make_shared<OBBannerAd>();
    ad->dictionary = entry;
    ad->identifier = stringForKeyPath(entry, "creative.id").value_or("");
    ad->type = typeOf(stringForKeyPath(entry, "creative.type"));
    const Value* props = valueForKeyPath(entry, "creative.props");
    if (ad->type == kOpenAllocation && props)
        ad->openAllocationType = openAllocationTypeOf(stringForKeyPath(*props, "network"));
    if (const Value* events = valueForKeyPath(entry, "creative.eventUrls")) ad->events = OrbadAdEvents(*events);
    // Only a dictionary is a follow-up request's parameters; anything else would read as none.
    if (const Value* params = props ? valueForKeyPath(*props, "params") : nullptr; params && params->dictionary())
        ad->requestParameters = *params;
    if (const Value* action = valueForKeyPath(entry, "creative.action"); action && action->dictionary()) {
        ad->hasAction = true;
        if (const Value* autoplay = action->find("autoplay")) ad->actionAutoplay = autoplay->boolValue();
        if (const Value* events = action->find("eventUrls")) ad->actionEvents = OrbadAdEvents(*events);
    }
    return ad;
}

void OBBannerAd::notifyTrackingURLs() const {
    events.triggerEvent("touch");
    if (hasAction) actionEvents.triggerEvent("show");
}

void registerCreativeClass(std::string name, OBCreativeMaker maker) {
    std::lock_guard<std::mutex> hold(makersLock());
    if (maker)
        makers().insert_or_assign(std::move(name), std::move(maker));
    else
        makers().erase(name);
}

std::shared_ptr<OBBannerCreativeView> makeCreative(std::string_view className, const plat::ui::Rect& frame) {
    OBCreativeMaker maker;
    {
        std::lock_guard<std::mutex> hold(makersLock());
        auto it = makers().find(className);
        if (it == makers().end()) return nullptr;
        maker = it->second;
    }
    return maker(frame);
}

bool hasCreativeClass(std::string_view className) {
    std::lock_guard<std::mutex> hold(makersLock());
    return makers().find(className) != makers().end();
}

}  // namespace orbad
