#include "orbad/OrbadAdView.h"

#include <string>

#include "orbad/OrbadAdViewStandIn.h"
#include "platform/foundation/Log.h"

namespace {
plat::foundation::TraceCategory kSvc("svc");

void traceCall(const char* className, const char* call) {
    plat::foundation::trace(kSvc, [&] { return std::string("orbad adview ") + className + " " + call; });
}
}  // namespace

OrbadAdView::OrbadAdView(const char* className, plat::ui::Size adSize)
    : View(plat::ui::Rect{0, 0, adSize.width, adSize.height}), m_className(className), m_adSize(adSize) {}

void OrbadAdView::resumeAdAutoRefresh() {
    traceCall(m_className, "resume");
    resumeAd();
}

void OrbadAdView::cancelAd() {
    traceCall(m_className, "cancel");
    cancelPendingAd();
}

std::shared_ptr<OrbadAdView> OrbadAdViewClass::init() const {
    traceCall(name, "init");
    // The stand-in until the client itself stands behind this interface; it stays for the plugin
    // tests and for containers with Library/LocalServices/adnetwork.plist.
    return OrbadAdViewStandIn::create(name, size);
}
