// What the banner engine needs from the rest of the client, behind small interfaces: the started
// client (its environment, configuration answers per ad unit, demographics and the shared modal
// flag), the ad record it reads from a response, and the creative views it loads, found by class
// name.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "orbad/core/OrbadAdEvents.h"
#include "orbad/core/OrbadJSON.h"
#include "platform/ui/View.h"

class OrbadAdViewDelegate;

namespace orbad {

class OBEnvironment;
class OrbadAdViewInternal;

// The user's demographics as the request reads them: six signed integers, two unsigned, two signed,
// four strings (UTF-8 bytes; null when unset) and the birthday (seconds since 1970; null: none).
struct OBRequestDemographics {
    std::array<int32_t, 8> integers{};  // fields 1-6, then 7 and 8
    std::array<uint32_t, 2> unsignedIntegers{};
    std::array<std::optional<std::string>, 4> strings;
    std::optional<double> birthday;
};

// The started client as engines see it. Main thread only.
class OBBannerHost {
public:
    virtual ~OBBannerHost() = default;
    virtual const OBEnvironment& environment() const = 0;
    // The one take-over lock for every engine.
    virtual bool inModalAd() const = 0;
    virtual void setInModalAd(bool modal) = 0;

    // The configuration, per ad unit size.
    virtual bool isUpdating() const = 0;
    virtual bool adUnitEnabled(plat::ui::Size size) const = 0;
    virtual double refreshInterval(plat::ui::Size size) const = 0;
    virtual double autoplayTimeoutInterval(plat::ui::Size size) const = 0;
    virtual bool autoPlayEnabled(plat::ui::Size size) const = 0;
    virtual bool richMediaRequiresUserInteraction(plat::ui::Size size) const = 0;
    virtual std::string advertisingURL() const = 0;
    virtual void logInfo(const std::string&) const {}
    virtual void logVerbose(const std::string&) const {}
    // Engines hear of configuration updates through orbadConfigurationUpdated until removed.
    virtual void addObserver(OrbadAdViewInternal* engine) = 0;
    virtual void removeObserver(OrbadAdViewInternal* engine) = 0;

    virtual OBRequestDemographics demographics() const { return {}; }
};

// The started client's host: null until the client has started. Set on the main thread.
std::shared_ptr<OBBannerHost> bannerHost();
void setBannerHost(std::shared_ptr<OBBannerHost> host);

// One entry of an ad response, as the engine reads it.
struct OBBannerAd {
    enum Type { kHTML = 0, kText = 1, kImage = 2, kOpenAllocation = 3 };

    Value dictionary;  // the entry: {"creative": {...}}
    std::string identifier;
    int type = kHTML;
    int openAllocationType = -1;
    OrbadAdEvents events;
    // "params" of the properties when it is a dictionary; null otherwise.
    Value requestParameters;
    bool hasAction = false;
    bool actionAutoplay = false;
    OrbadAdEvents actionEvents;

    static std::shared_ptr<OBBannerAd> fromEntry(const Value& entry);
    // The touch: the ad's "touch" event, then its action's "show".
    void notifyTrackingURLs() const;
};

// What a creative view is to the engine. Views come from makers registered by class name, made
// with the engine's bounds.
class OBBannerCreativeView : public plat::ui::View {
public:
    using View::View;
    virtual void setAdViewDelegate(OrbadAdViewDelegate* delegate) = 0;
    virtual void setMainAdView(OrbadAdViewInternal* engine) = 0;
    virtual void adHasBeenDismissed() = 0;
    virtual void adHasBeenDisplayed() = 0;
    virtual void stopLoading() = 0;
    // Answers later with adsViewFinishedLoading or adsViewFailedToLoad on the main ad view.
    virtual void loadWithAd(const std::shared_ptr<OBBannerAd>& ad) = 0;
    // A view that lacks either says so with `reusable` false.
    virtual bool canBeReused() const { return false; }
    virtual void prepareForReuse() {}
};

using OBCreativeMaker = std::function<std::shared_ptr<OBBannerCreativeView>(const plat::ui::Rect& frame)>;
// A later maker of a name replaces the earlier; an empty one removes it.
void registerCreativeClass(std::string name, OBCreativeMaker maker);
std::shared_ptr<OBBannerCreativeView> makeCreative(std::string_view className, const plat::ui::Rect& frame);
bool hasCreativeClass(std::string_view className);

}  // namespace orbad
