#include "orbad/OrbadAdView.h"

#include <string>

#include "orbad/OrbadAdViewStandIn.h"
#include "orbad/ads/OrbadAdViewInternal.h"
#include "platform/foundation/LocalServices.h"
#include "platform/foundation/Log.h"

namespace {
plat::foundation::TraceCategory kSvc("svc");

void traceCall(const char* className, const char* call) {
    plat::foundation::trace(kSvc, [&] { return std::string("orbad adview ") + className + " " + call; });
}

constexpr const OrbadAdViewClass* kClasses[] = {
    &OrbadAdViewPlain,        &OrbadAdViewiPhone_320x50, &OrbadAdViewiPhone_300x250, &OrbadAdViewiPad_300x250,
    &OrbadAdViewiPad_120x600, &OrbadAdViewiPad_468x60,   &OrbadAdViewiPad_728x90,
};
}  // namespace

OrbadAdView::OrbadAdView(const char* className, plat::ui::Size adSize)
    : View(plat::ui::Rect{0, 0, adSize.width, adSize.height}), m_className(className), m_adSize(adSize) {}

OrbadAdView::~OrbadAdView() {
    if (!m_adView) return;
    m_adView->cancelAd();
    m_adView->setExternalAdView(nullptr);
}

void OrbadAdView::setupAdViewWithFrame(const plat::ui::Rect& frame) {
    m_adView = std::make_shared<orbad::OrbadAdViewInternal>(frame);
    m_adView->setAdSize(m_adSize);
    m_adView->setExternalAdView(this);
    m_adView->setBackgroundColor(plat::ui::Color{0, 0, 0, 0});
    setBackgroundColor(plat::ui::Color{0, 0, 0, 0});
    addSubview(m_adView);
}

void OrbadAdView::setDelegate(OrbadAdViewDelegate* delegate) {
    m_delegate = delegate;
    if (m_adView) m_adView->setDelegate(delegate);
}

void OrbadAdView::resumeAdAutoRefresh() {
    traceCall(m_className, "resume");
    resumeAd();
}

void OrbadAdView::cancelAd() {
    traceCall(m_className, "cancel");
    cancelPendingAd();
}

void OrbadAdView::resumeAd() {
    if (!m_subsequent)
        getAd();
    else if (m_adView)
        m_adView->scheduleNextGetAd();
}

void OrbadAdView::cancelPendingAd() {
    if (m_adView) m_adView->cancelAd();
}

void OrbadAdView::getAd() {
    m_subsequent = true;
    if (m_adView) m_adView->getAd();
}

void OrbadAdView::pauseAdAutoRefresh() {
    if (m_adView) m_adView->cancelScheduledGetAd();
}

void OrbadAdView::displayAd() {
    if (m_adView) m_adView->displayAd();
}

void OrbadAdView::prefetchAd() {
    if (m_adView) m_adView->prefetchAd();
}

void OrbadAdView::continueRequest() {
    if (!m_adView) return;
    m_adView->clearDeveloperHandled();
    m_adView->getAd();
}

double OrbadAdView::refreshTime() const {
    return m_adView ? m_adView->refreshTime() : 0;
}

void OrbadAdView::setRefreshTime(double seconds) {
    if (m_adView) m_adView->setRefreshTime(seconds);
}

plat::ui::ViewController* OrbadAdView::viewController() const {
    return m_adView ? m_adView->viewController() : nullptr;
}

void OrbadAdView::setViewController(plat::ui::ViewController* controller) {
    if (m_adView) m_adView->setViewController(controller);
}

bool OrbadAdView::testingMode() const {
    return m_adView && m_adView->testingMode();
}

void OrbadAdView::setTestingMode(bool on) {
    if (m_adView) m_adView->setTestingMode(on);
}

std::string OrbadAdView::adSpaceName() const {
    return m_adView ? m_adView->adSpaceName() : std::string();
}

void OrbadAdView::setAdSpaceName(std::string name) {
    if (m_adView) m_adView->setAdSpaceName(std::move(name));
}

std::shared_ptr<OrbadAdView> OrbadAdViewClass::init() const {
    traceCall(name, "init");
    // The stand-in until the client has started, and for containers whose adnetwork.plist has the
    // input script play the network.
    if (!orbad::bannerHost() || plat::foundation::hasLocalService("adnetwork"))
        return OrbadAdViewStandIn::create(name, size);
    return make();
}

std::shared_ptr<OrbadAdView> OrbadAdViewClass::make() const {
    return makeWithFrame({0, 0, size.width, size.height});
}

std::shared_ptr<OrbadAdView> OrbadAdViewClass::makeWithFrame(const plat::ui::Rect& frame) const {
    // The class's own size wherever the rect puts it.
    std::shared_ptr<OrbadAdView> view(new OrbadAdView(name, size));
    view->setFrame({frame.x, frame.y, size.width, size.height});
    view->setupAdViewWithFrame(view->bounds());
    return view;
}

const OrbadAdViewClass* orbadAdViewClassNamed(std::string_view name) {
    for (const OrbadAdViewClass* c : kClasses)
        if (name == c->name) return c;
    return nullptr;
}
