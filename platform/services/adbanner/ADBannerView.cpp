#include "platform/services/adbanner/ADBannerView.h"

#include <functional>
#include <vector>

#include "platform/foundation/LocalServices.h"
#include "platform/foundation/Log.h"

namespace plat::adbanner {

namespace {

constexpr const char* kService = "adbanner";

foundation::TraceCategory kSvc("svc");

// The service's entry `key` ({width, height}), or `fallback` where it is missing.
ui::Size configuredSize(const foundation::Value& service, const char* key, ui::Size fallback) {
    const foundation::Value* entry = service.find(key);
    const foundation::Value* width = entry ? entry->find("width") : nullptr;
    const foundation::Value* height = entry ? entry->find("height") : nullptr;
    if (!width || !height) return fallback;
    return {width->doubleValue(), height->doubleValue()};
}

// The four commands act on the view made last. A click needs no action in progress, a return one.
void registerCommands(const std::shared_ptr<ADBannerView>& view) {
    using Arguments = std::vector<std::string>;
    const std::weak_ptr<ADBannerView> weak = view;
    const auto on = [&weak](const char* name, std::function<bool(ADBannerView&)> applies,
                            std::function<void(ADBannerView&, const Arguments&)> act) {
        foundation::registerServiceCommandOn<ADBannerView>(name, weak, std::move(applies), std::move(act));
    };
    auto always = [](ADBannerView&) { return true; };
    on("banner.load", always, [](ADBannerView& v, const Arguments&) { v.adDidLoad(); });
    on("banner.fail", always, [](ADBannerView& v, const Arguments& a) { v.adDidFail(a.empty() ? "" : a[0]); });
    on("banner.click", [](ADBannerView& v) { return !v.bannerViewActionInProgress(); },
       [](ADBannerView& v, const Arguments&) { v.actionBegins(); });
    on("banner.back", [](ADBannerView& v) { return v.bannerViewActionInProgress(); },
       [](ADBannerView& v, const Arguments&) { v.actionEnds(); });
}

}  // namespace

ADBannerView::ADBannerView(const ui::Rect& frame) : View(frame) {}

std::shared_ptr<ADBannerView> ADBannerView::create(const ui::Rect& frame) {
    auto view = std::make_shared<ADBannerView>(frame);
    registerCommands(view);
    return view;
}

void ADBannerView::registerClass() {
    foundation::registerLocalServiceClass(kADBannerViewClassName, kService);
}

ui::Size ADBannerView::sizeFromBannerContentSizeIdentifier(std::string_view identifier) {
    const std::optional<foundation::Value> service = foundation::readLocalService(kService);
    if (!service) return {0, 0};
    if (identifier == kADBannerContentSizeIdentifierLandscape)
        return configuredSize(*service, "landscape", {480, 32});
    return configuredSize(*service, "portrait", {320, 50});
}

void ADBannerView::adDidLoad() {
    if (m_delegate) m_delegate->bannerViewDidLoadAd(*this);
}

void ADBannerView::adDidFail(const std::string& description) {
    if (m_delegate) m_delegate->bannerViewDidFailToReceiveAd(*this, {kADErrorDomain, 0, description, {}});
}

bool ADBannerView::actionBegins() {
    m_actionInProgress = !m_delegate || m_delegate->bannerViewActionShouldBegin(*this, false);
    // The answer is the view's to keep, and the trace's to show.
    foundation::trace(kSvc, m_actionInProgress ? "adbanner click YES" : "adbanner click NO");
    return m_actionInProgress;
}

bool ADBannerView::actionEnds() {
    if (!m_actionInProgress) return false;
    m_actionInProgress = false;
    if (m_delegate) m_delegate->bannerViewActionDidFinish(*this);
    return true;
}

}  // namespace plat::adbanner
