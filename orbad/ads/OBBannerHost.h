// What the banner engine needs from the rest of the client: the started client behind a small
// interface (its environment, configuration answers per ad unit, demographics and the shared modal
// flag), and the creative views it loads, found by class name.
//
// The controller's host keeps the controller's generation: once that controller is shut down,
// engines still holding the host hear a client with no configuration, and the next controller gets
// a new host.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "orbad/core/OrbadFeedback.h"
#include "orbad/core/OrbadJSON.h"
#include "platform/ui/View.h"

namespace orbad {

class OBEnvironment;
class OrbadAd;
class OrbadAdsView;
class OrbadAdViewInternal;

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
    // The rich-media boot-loader script's address.
    virtual std::string mraidURL() const { return {}; }
    virtual void logInfo(const std::string&) const {}
    virtual void logVerbose(const std::string&) const {}
    // Engines hear of configuration updates through orbadConfigurationUpdated until removed.
    virtual void addObserver(OrbadAdViewInternal* engine) = 0;
    virtual void removeObserver(OrbadAdViewInternal* engine) = 0;

    // The open-allocation table for a unit size: the candidates (none: no open allocation for the
    // size), the one to try next among `candidates` (none: none can be chosen), how it was chosen
    // ("priority" or "alloc"), and the base of the pings (ending with "/").
    virtual std::optional<Value::Array> openAllocationCandidates(plat::ui::Size) const { return std::nullopt; }
    virtual std::optional<Value> nextCandidate(plat::ui::Size, const Value::Array&) const { return std::nullopt; }
    virtual std::optional<std::string> selectionMethod(plat::ui::Size) const { return std::nullopt; }
    virtual std::string openAllocationBaseURL() const { return {}; }
    // Key `n` of a network's open-allocation settings for the size.
    virtual std::optional<std::string> openAllocationKey(long, std::string_view, plat::ui::Size) const {
        return std::nullopt;
    }
    // The configuration's native URL handlers: texts whose links the system opens, not the browser.
    virtual std::vector<std::string> nativeURLHandlers() const { return {}; }
    // The user's, as the application last gave them.
    virtual OrbadDemographicsRecord demographics() const { return OrbadDemographics::demographics(); }
    virtual std::optional<plat::foundation::Date> birthday() const { return OrbadDemographics::birthday(); }
};

// The host set (tests), else the shared controller's once the client has started or can start by
// itself (the Info.plist's "OBApplicationId"), else null. Main thread.
std::shared_ptr<OBBannerHost> bannerHost();
void setBannerHost(std::shared_ptr<OBBannerHost> host);

// A link another application opens rather than a web view: it holds one of the host's native URL
// handlers, case aside.
bool isNativeHandlerURL(std::string_view url);

// The creative view classes by name: the image and text views, and whatever is registered (a later
// maker of a name replaces the earlier, an empty one removes it, leaving the built-in one if any).
using OBCreativeMaker = std::function<std::shared_ptr<OrbadAdsView>(const plat::ui::Rect& frame)>;
void registerCreativeClass(std::string name, OBCreativeMaker maker);
std::shared_ptr<OrbadAdsView> makeCreative(std::string_view className, const plat::ui::Rect& frame);
bool hasCreativeClass(std::string_view className);

// The touch of an ad: its "touch" event, then its action's "show".
void notifyTrackingURLsForAd(const OrbadAd& ad);

}  // namespace orbad
