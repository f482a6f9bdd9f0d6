// What the banner engine needs from the rest of the client: the started client behind a small
// interface (its environment, configuration answers per ad unit, demographics and the shared modal
// flag), and the creative views it loads, found by class name.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "orbad/core/OrbadJSON.h"
#include "platform/ui/View.h"

namespace orbad {

class OBEnvironment;
class OrbadAd;
class OrbadAdsView;
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
    // The configuration's native URL handlers: texts whose links the system opens, not the browser.
    virtual std::vector<std::string> nativeURLHandlers() const { return {}; }
};

// The host set (tests), else the shared controller's once the client has started or can start by
// itself (the Info.plist's "OBApplicationId"), else null. Main thread.
std::shared_ptr<OBBannerHost> bannerHost();
void setBannerHost(std::shared_ptr<OBBannerHost> host);

// The creative view classes by name: the image and text views, and whatever is registered (a later
// maker of a name replaces the earlier, an empty one removes it, leaving the built-in one if any).
using OBCreativeMaker = std::function<std::shared_ptr<OrbadAdsView>(const plat::ui::Rect& frame)>;
void registerCreativeClass(std::string name, OBCreativeMaker maker);
std::shared_ptr<OrbadAdsView> makeCreative(std::string_view className, const plat::ui::Rect& frame);
bool hasCreativeClass(std::string_view className);

// The touch of an ad: its "touch" event, then its action's "show".
void notifyTrackingURLsForAd(const OrbadAd& ad);

}  // namespace orbad
