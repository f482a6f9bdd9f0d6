#include "orbad/ads/OrbadRichMediaWebAdView.h"

#include <cmath>
#include <cstdio>
#include <filesystem>

#include "orbad/ads/OrbadRichMediaURLParser.h"
#include "orbad/ads/OrbadWebAdView.h"
#include "orbad/ads/OrbadWidgetButtonController.h"
#include "orbad/core/OrbadJSON.h"
#include "orbad/richmedia/OrbadExpandableViewController.h"
#include "platform/foundation/Bundle.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/Container.h"
#include "platform/foundation/FileSystem.h"
#include "platform/foundation/RunLoop.h"
#include "platform/sys/AtomicFile.h"
#include "platform/sys/Device.h"
#include "platform/sys/Uuid.h"
#include "platform/ui/Application.h"
#include "platform/ui/ScrollView.h"

namespace orbad {

using plat::foundation::NotificationCenter;
using plat::foundation::RunLoop;
using plat::foundation::Value;

namespace {

constexpr double kReferenceDate2001 = 978307200.0;
constexpr const char* kBrowserDidHide = "ORBAD_BROWSER_CLOSE";

OrbadRichMediaWebAdView::BrowserPresenter& browserPresenter() {
    static auto& presenter = *new OrbadRichMediaWebAdView::BrowserPresenter();
    return presenter;
}

bool writeText(const std::string& path, const std::string& text) {
    return plat::sys::writeFileAtomically(path, text);
}

void removeFile(const std::string& path) {
    if (path.empty()) return;
    std::error_code ignored;
    std::filesystem::remove(path, ignored);
}

// Caches/<process>, made when missing; "" when there is none.
std::string pageDirectory() {
    const plat::foundation::Container* container = plat::foundation::Container::main();
    if (!container) return {};
    const std::string caches = container->cachesPath();
    if (caches.empty()) return {};
    const std::string directory = caches + "/" + plat::foundation::processName();
    plat::foundation::makeDirectories(directory);
    return directory;
}

}  // namespace

void OrbadRichMediaWebAdView::setBrowserPresenter(BrowserPresenter presenter) {
    browserPresenter() = std::move(presenter);
}

OrbadRichMediaWebAdView::OrbadRichMediaWebAdView(const plat::ui::Rect& frame)
    : WebView(frame, plat::ui::WebCookieAcceptPolicy::Always) {
    setDelegate(this);
    setScalesPageToFit(false);
    setAllowsInlineMediaPlayback(true);
    setBackgroundColor(std::nullopt);
    setOpaque(false);
    if (!allowsWebViewScrolling()) disableScrolling(*this);
    m_adCanAutoplay = false;
    m_richMediaRequiresUserInteraction = true;
    prepareForReuse();
    plat::sys::Device::current().beginGeneratingDeviceOrientationNotifications();
    m_orientationObservation = NotificationCenter::defaultCenter().observe(
        plat::sys::kDeviceOrientationDidChangeNotification, nullptr,
        [this](const plat::foundation::Notification&) { deviceOrientationDidChange(); });
}

OrbadRichMediaWebAdView::~OrbadRichMediaWebAdView() {
    endMediaScreens();
    RunLoop::main().cancelPerforms(this);
    // Only a second page can keep the expanded screen up past this view, and nothing would close
    // it: it leaves, and the engine gets back the take-over this view took.
    if (m_expandable) {
        m_expandable->setDelegate(nullptr);
        RunLoop::main().perform([controller = std::move(m_expandable), host = m_mainAdView, ad = m_currentAd] {
            controller->dismissViewController(false);
            if (auto engine = host.lock()) engine->adDidFinishTouchThrough(ad);
        });
    }
    if (isLoading()) WebView::stopLoading();
    setDelegate(nullptr);
    m_widget.reset();
    m_permissionsKey.reset();
    m_adViewDelegate = nullptr;
    m_mainAdView.reset();
    m_currentAd.reset();
    m_orientationObservation.remove();
    m_browserObservation.remove();
    plat::sys::Device::current().endGeneratingDeviceOrientationNotifications();
    cleanupAd();
    removeFile(m_cacheLocation);
    removeFile(m_mraidCacheLocation);
}

void OrbadRichMediaWebAdView::setMainAdView(std::weak_ptr<OrbadAdsViewHost> host) {
    m_mainAdView = std::move(host);
    if (!m_mainAdView.expired()) setRestrictions();
}

void OrbadRichMediaWebAdView::setRestrictions() {
    auto host = mainAdView();
    if (!host) return;
    m_adCanAutoplay = host->shouldAutoplay();
    setMediaPlaybackRequiresUserAction(!m_adCanAutoplay);
    m_richMediaRequiresUserInteraction = host->richMediaRequiresUserInteraction();
}

void OrbadRichMediaWebAdView::setCurrentAd(std::shared_ptr<OrbadWebAd> ad) {
    m_currentAd = std::move(ad);
    if (!m_currentAd) return;
    std::optional<std::string> json;
    if (m_currentAd->properties().dictionary()) json = OrbadJSON::encodeObject(m_currentAd->properties());
    // The ad's page is the next document: its first script must find them, so they are there
    // before it runs, not evaluated into the page now on screen.
    setDocumentStartScript("window.mAdViewAdProperties = " + (json && !json->empty() ? *json : std::string("{}")) +
                           ";");
}

void OrbadRichMediaWebAdView::loadWithAd(std::shared_ptr<OrbadAd> ad) {
    // A failure still pending belongs to the ad before this one.
    RunLoop::main().cancelPerforms(this);
    setAllowsInlineMediaPlayback(true);
    setMediaPlaybackRequiresUserAction(true);
    setCurrentAd(std::dynamic_pointer_cast<OrbadWebAd>(ad));
    m_adIsRestricted = true;
    m_firstLoad = true;
    m_hasDisplayed = false;

    // Pooled views load ad after ad: the page before this one goes now, not at teardown.
    removePageFile();
    const std::string directory = pageDirectory();
    bool written = false;
    if (!directory.empty()) {
        char name[96];
        std::snprintf(name, sizeof name, "OrbadTempAd-%d-%lx.html",
                      int(std::floor(plat::foundation::Clock::wallSeconds() - kReferenceDate2001)),
                      static_cast<unsigned long>(reinterpret_cast<uintptr_t>(this)));
        m_cacheLocation = directory + "/" + name;
        // An ad without markup has nothing to show: the same as a page that cannot be written.
        const auto& html = m_currentAd ? m_currentAd->htmlContent() : std::nullopt;
        written = html && writeText(m_cacheLocation, *html);
        m_mraidCacheLocation = directory + "/" + kOrbadStubFileName;
        writeText(m_mraidCacheLocation, stubScript());
    }
    if (!written) {
        removePageFile();
        RunLoop::main().performAfter(0.05, this, [this] { failedToLoad(); });
        return;
    }
    loadRequest({"file://" + m_cacheLocation});
}

void OrbadRichMediaWebAdView::removePageFile() {
    removeFile(m_cacheLocation);
    m_cacheLocation.clear();
}

void OrbadRichMediaWebAdView::failedToLoad() {
    if (auto host = mainAdView()) host->adsViewFailedToLoad(*this, m_currentAd, std::nullopt);
}

std::string OrbadRichMediaWebAdView::stubScript() const {
    auto host = mainAdView();
    const double width = host ? host->adWidth() : 0, height = host ? host->adHeight() : 0;
    std::string unitType;
    if (width == 999 && height == 999) {
        unitType = "fullscreen";
    } else {
        char text[48];
        std::snprintf(text, sizeof text, "%dx%d", int(width), int(height));
        unitType = text;
    }
    const std::string address = orbadJSQuoted(host ? host->mraidURL() : std::string());
    return "window.isOrbad = true;"
           "window.mraid = window.mraid || {"
           "jsLoading: false, "
           "tmpListeners: {}, "
           "getState: function() { this.loadjs(); return 'loading'; }, "
           "loadjs: function() { if (!this.jsLoading) { this.jsLoading = true; "
           "var s = document.createElement('script'); s.setAttribute('type', 'text/javascript'); "
           "s.setAttribute('src', '" + address + "'); "
           "document.getElementsByTagName('head')[0].appendChild(s); } }, "
           "addEventListener: function(event, func) { if (event && func) { "
           "if (!this.tmpListeners[event]) this.tmpListeners[event] = []; "
           "this.tmpListeners[event].push(func); } this.loadjs(); }, "
           "_obIsExpanded: " + std::string(isExpanded() ? "true" : "false") + ", "
           "_obAdUnitType: '" + orbadJSQuoted(unitType) + "'"
           "};";
}

namespace {

void showNetworkActivity(bool on) {
    if (plat::ui::Application* app = plat::ui::Application::shared()) app->setNetworkActivityIndicatorVisible(on);
}

}  // namespace

void OrbadRichMediaWebAdView::didStartLoad(plat::ui::WebView&) {
    evaluate(stubScript());
    showNetworkActivity(true);
}

void OrbadRichMediaWebAdView::didFinishLoad(plat::ui::WebView&) {
    showNetworkActivity(false);
    if (!m_firstLoad) return;
    m_firstLoad = false;
    auto host = mainAdView();
    if (!host || !host->adsViewFinishedLoading(*this, m_currentAd)) return;
    const std::string url = evaluate(kOrbadShouldOpenScript);
    if (url.size() >= 7) host->openURLInBrowser(url, 3);
}

void OrbadRichMediaWebAdView::didFailLoad(plat::ui::WebView&, const plat::foundation::Error& error) {
    showNetworkActivity(false);
    if (!m_firstLoad) {
        // Later failures of frames and links are the page's own; a page gone leaves a blank ad.
        if (error.domain == plat::ui::kWebPageEndedErrorDomain)
            if (auto host = mainAdView()) host->adsViewPageEnded(*this, m_currentAd, error);
        return;
    }
    m_firstLoad = false;
    if (auto host = mainAdView()) host->adsViewFailedToLoad(*this, m_currentAd, error);
}

void OrbadRichMediaWebAdView::stopLoading() {
    if (isLoading()) WebView::stopLoading();
}

void OrbadRichMediaWebAdView::adHasBeenDisplayed() {
    m_hasDisplayed = true;
    evaluate(kOrbadDisplayedNoticeScript);
    if (m_displayCallbacks.didDisplay) callback(*m_displayCallbacks.didDisplay);
    setAllowsInlineMediaPlayback(true);
    setMediaPlaybackRequiresUserAction(!m_adCanAutoplay);
    if (m_adCanAutoplay) evaluate(kOrbadAutoplayScript);
}

void OrbadRichMediaWebAdView::adHasBeenDismissed() {
    if (m_displayCallbacks.hasBeenDismissed) callback(*m_displayCallbacks.hasBeenDismissed);
    evaluate(kOrbadPauseScript);
    cleanupAd();
}

void OrbadRichMediaWebAdView::didRotateFromInterfaceOrientation(int) {
    auto host = mainAdView();
    const char* degrees = nullptr;
    switch (host ? host->interfaceOrientation() : 0) {
        case 1: degrees = "0"; break;
        case 2: degrees = "180"; break;
        case 3: degrees = "90"; break;
        case 4: degrees = "-90"; break;
        default: return;
    }
    evaluate(std::string("window.__defineGetter__('orientation',function() {return ") + degrees +
             ";});window.onorientationchange();");
}

void OrbadRichMediaWebAdView::disableScrolling(plat::ui::View& view) {
    // The web view's own scrolling is the page's; a scroll view here bounces no further than asked.
    if (auto* scroll = dynamic_cast<plat::ui::ScrollView*>(&view)) {
        scroll->setAlwaysBounceVertical(false);
        scroll->setAlwaysBounceHorizontal(false);
    }
    if (auto* web = dynamic_cast<plat::ui::WebView*>(&view)) web->setScrollEnabled(false);
    for (const auto& sub : view.subviews()) disableScrolling(*sub);
}

void OrbadRichMediaWebAdView::enableScrolling(plat::ui::View& view) {
    // The web view's own scrolling is the page's; a scroll view here bounces no further than asked.
    if (auto* scroll = dynamic_cast<plat::ui::ScrollView*>(&view)) {
        scroll->setAlwaysBounceVertical(true);
        scroll->setAlwaysBounceHorizontal(true);
    }
    if (auto* web = dynamic_cast<plat::ui::WebView*>(&view)) web->setScrollEnabled(true);
    for (const auto& sub : view.subviews()) enableScrolling(*sub);
}

// The sensors and the flashlight come with their commands; what is registered is forgotten here.
void OrbadRichMediaWebAdView::cleanupAd() {
    turnFlashlightOff();
    stopSensors();
    m_displayCallbacks = {};
    m_orientationCallback.reset();
}

void OrbadRichMediaWebAdView::prepareForReuse() {
    RunLoop::main().cancelPerforms(this);
    cleanupAd();
    m_hasDisplayed = false;
    removePageFile();
    // A pooled view's page would go on running off screen (its timers, workers, fetches) until the
    // next ad replaced it.
    closePage();
}

void OrbadRichMediaWebAdView::sendActionWithSuccessSelectorName(
    const std::string& name, std::function<void(const Value&)> operation, Value object) {
    if (!m_currentAd) return;
    const Value dictionary(Value::Dictionary{
        {"type", Value("richMedia")}, {"autoplay", Value(false)}, {"shouldPreload", Value(false)}});
    auto action = std::dynamic_pointer_cast<OrbadAdRichMediaAction>(OrbadAdAction::adActionWithJSONDictionary(dictionary));
    if (!action) return;
    action->setRichMedia({std::static_pointer_cast<plat::ui::View>(shared_from_this()), name, std::move(operation),
                          std::move(object)});
    m_currentAd->setAction(action);
    if (auto host = mainAdView()) host->openActionForAd(m_currentAd);
}

void OrbadRichMediaWebAdView::callback(const std::string& name) {
    evaluate("mAdViewCallbackHandler('" + orbadJSQuoted(name) + "');");
}

void OrbadRichMediaWebAdView::callback(const std::string& name, const std::string& text) {
    evaluate("mAdViewCallbackHandler('" + orbadJSQuoted(name) + "', '" + orbadJSQuoted(text) + "');");
}

// ---- the bridge ----

void OrbadRichMediaWebAdView::injectPermissionsKey() {
    m_permissionsKey = plat::sys::newUUIDString();
    evaluate("window.addEventListener('click', function() { mAdViewPermissionsKey = '" +
             orbadJSQuoted(*m_permissionsKey) + "';}, true);");
}

// The page's answer to a key check is not asked: a page can dispatch a click to itself and define
// the check to answer whatever it read, so only the view's own touches count.
void OrbadRichMediaWebAdView::userDidInteract() {
    if (!m_adIsRestricted) return;
    m_adIsRestricted = false;
    setMediaPlaybackRequiresUserAction(false);
}

void OrbadRichMediaWebAdView::touchesBegan(const plat::ui::TouchSet& touches, const plat::ui::Event& event) {
    WebView::touchesBegan(touches, event);
    userDidInteract();
}

void OrbadRichMediaWebAdView::sendPermissionsErrorToCallback(const std::optional<std::string>& name) {
    if (name) callback(*name, kOrbadPermissionsErrorText);
}

void OrbadRichMediaWebAdView::openURLInNewWindow(const std::string& url) {
    if (m_displayCallbacks.willBecomeHidden) callback(*m_displayCallbacks.willBecomeHidden);
    m_browserObservation = NotificationCenter::defaultCenter().observe(
        kBrowserDidHide, nullptr, [this](const plat::foundation::Notification&) { browserDidClose(); });
    if (isExpanded()) {
        if (browserPresenter())
            browserPresenter()(url, *this);
        else if (auto host = mainAdView())
            host->openURLInBrowser(url, 3);
        return;
    }
    if (auto host = mainAdView()) host->openActionURL(url, m_currentAd);
}

// The browser's close restricts an ad that is not expanded again (its page must prove a new touch);
// an expanded one, whose screen the user is on, is left free.
void OrbadRichMediaWebAdView::browserDidClose() {
    m_browserObservation.remove();
    m_adIsRestricted = !isExpanded();
    if (m_displayCallbacks.didReturnFromHidden) callback(*m_displayCallbacks.didReturnFromHidden);
}

}  // namespace orbad
