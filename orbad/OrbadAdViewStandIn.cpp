#include "orbad/OrbadAdViewStandIn.h"

#include <functional>
#include <vector>

#include "platform/foundation/LocalServices.h"
#include "platform/ui/Label.h"

namespace {

constexpr const char* kOrbadErrorDomain = "OrbadErrorDomain";

// The four commands act on the view made last while it requests ads. A touch-through needs none
// under way, its end one.
void registerCommands(const std::shared_ptr<OrbadAdViewStandIn>& view) {
    using Arguments = std::vector<std::string>;
    using StandIn = OrbadAdViewStandIn;
    const std::weak_ptr<StandIn> weak = view;
    const auto on = [&weak](const char* name, std::function<bool(StandIn&)> applies,
                            std::function<void(StandIn&, const Arguments&)> act) {
        plat::foundation::registerServiceCommandOn<StandIn>(
            name, weak, [applies](StandIn& v) { return v.isRequesting() && applies(v); }, std::move(act));
    };
    auto always = [](StandIn&) { return true; };
    on("banner.load", always, [](StandIn& v, const Arguments&) { v.adDidLoad(); });
    on("banner.fail", always, [](StandIn& v, const Arguments& a) { v.adDidFail(a.empty() ? "" : a[0]); });
    on("banner.click", [](StandIn& v) { return !v.isTouchingThrough(); },
       [](StandIn& v, const Arguments&) { v.touchThrough(); });
    on("banner.back", [](StandIn& v) { return v.isTouchingThrough(); },
       [](StandIn& v, const Arguments&) { v.touchThroughEnds(); });
}

}  // namespace

OrbadAdViewStandIn::OrbadAdViewStandIn(const char* className, plat::ui::Size adSize)
    : OrbadAdView(className, adSize) {
    setBackgroundColor(plat::ui::Color{0.85, 0.85, 0.85, 1});
    auto label = std::make_shared<plat::ui::Label>(bounds());
    label->setText("Ad " + std::to_string(static_cast<int>(adSize.width)) + "x" +
                   std::to_string(static_cast<int>(adSize.height)));
    label->setTextAlignment(plat::ui::TextAlignment::Center);
    label->setAutoresizingMask(plat::ui::kAutoresizingFlexibleWidth | plat::ui::kAutoresizingFlexibleHeight);
    addSubview(label);
}

std::shared_ptr<OrbadAdViewStandIn> OrbadAdViewStandIn::create(const char* className, plat::ui::Size adSize) {
    auto view = std::make_shared<OrbadAdViewStandIn>(className, adSize);
    registerCommands(view);
    return view;
}

void OrbadAdViewStandIn::adDidLoad() {
    if (OrbadAdViewDelegate* d = delegate()) d->adViewDidFinishLoad(this);
}

void OrbadAdViewStandIn::adDidFail(const std::string& description) {
    if (OrbadAdViewDelegate* d = delegate()) d->adViewDidFailLoadWithError(this, {kOrbadErrorDomain, 0, description, {}});
}

void OrbadAdViewStandIn::touchThrough() {
    m_touchingThrough = true;
    if (OrbadAdViewDelegate* d = delegate()) d->adViewWillTouchThrough(this);
}

void OrbadAdViewStandIn::touchThroughEnds() {
    m_touchingThrough = false;
    if (OrbadAdViewDelegate* d = delegate()) d->adViewDidFinishTouchThrough(this);
}
