#include "kiosk/KSContentView.h"

#include <set>

#include "kiosk/KSAPIRequest.h"
#include "kiosk/KSContentBridge.h"
#include "kiosk/KSJsonParser.h"
#include "kiosk/KSStringUtil.h"
#include "kiosk/KSURLLoader.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/RunLoop.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/net/URLLoading.h"
#include "platform/sys/Device.h"
#include "platform/ui/Application.h"
#include "platform/ui/Orientation.h"
#include "platform/ui/StatusBar.h"

using plat::sys::Rect;
using plat::ui::AnimationCurve;
using plat::ui::LayerTransform;

namespace {

constexpr double kSlideDuration = 0.25;
constexpr double kBounceStepDuration = 0.125;

std::set<std::shared_ptr<KSContentView>>& pool() {
    static std::set<std::shared_ptr<KSContentView>> views;
    // Each view holds a web view: the pool goes on every memory warning.
    static plat::foundation::Observation warnings = plat::foundation::NotificationCenter::defaultCenter().observe(
        plat::ui::kApplicationDidReceiveMemoryWarningNotification, nullptr,
        [](const plat::foundation::Notification&) { views.clear(); });
    return views;
}

// The orientation a window's coordinates follow; portrait without an application.
int interfaceOrientation() {
    const plat::ui::Application* app = plat::ui::Application::shared();
    return app ? app->interfaceOrientation() : plat::ui::kInterfaceOrientationPortrait;
}

kiosk::ContentLayout layoutFor(int orientation) {
    return kiosk::contentViewLayout(plat::sys::Screen::main().bounds(), orientation, interfaceOrientation());
}

LayerTransform scaled(double scale) {
    LayerTransform t;
    t.scaleX = t.scaleY = scale;
    return t;
}

}  // namespace

std::shared_ptr<KSContentView> KSContentView::make(std::shared_ptr<KSContent> content) {
    auto view = std::make_shared<KSContentView>();
    view->setContent(std::move(content));
    return view;
}

std::shared_ptr<KSContentView> KSContentView::dequeueContentViewInstance() {
    if (pool().empty()) return nullptr;
    auto view = *pool().begin();
    pool().erase(pool().begin());
    return view;
}

void KSContentView::enqueueContentViewInstance(std::shared_ptr<KSContentView> view) {
    if (view) pool().insert(std::move(view));
}

void KSContentView::clearContentViews() {
    pool().clear();
}

std::size_t KSContentView::pooledCount() {
    return pool().size();
}

void KSContentView::postCallback(const KSJsonObject& reply) {
    plat::foundation::NotificationCenter::defaultCenter().post(kKSContentViewCallbackNotification,
                                                               plat::foundation::Sender{&reply, "NSDictionary"});
}

KSContentView::KSContentView() : View(plat::ui::applicationFrame()) {
    redirectRequest("ks://dismiss", this, std::function<void(Context)>([this](Context c) { handleDismiss(c); }));
    redirectRequest("ks://launch", this,
                    std::function<void(Context, CallbackId)>([this](Context c, CallbackId id) { handleLaunch(c, id); }));
    redirectRequest("ks://loadContext", this,
                    std::function<void(Context, CallbackId)>([this](Context c, CallbackId id) { handleLoadContext(c, id); }));
    m_webView = std::make_shared<plat::ui::WebView>(Rect{});
    m_webView->setAccessibilityLabel("content view");
    m_webView->setSuppressesIncrementalRendering(true);
    m_webView->setKeyboardDisplayRequiresUserAction(false);
    addSubview(m_webView);
}

KSContentView::~KSContentView() {
    stopWatching();
    m_webView->setDelegate(nullptr);
    KSURLLoader::invalidateAllLoadersWithDelegate(this);
}

void KSContentView::redirectRequest(const std::string& address, const void* target, Action action) {
    if (!target) {
        m_calls.erase(address);
        return;
    }
    m_calls[address] = Call{target, std::move(action)};
}

void KSContentView::sizeToFitOrientation(bool transform) {
    if (transform) setLayerTransform({});
    // A device lying flat says nothing of which way is up: the unit faces the interface.
    const int device = plat::sys::Device::current().orientation();
    m_orientation = kiosk::isUprightOrientation(device) ? device : interfaceOrientation();
    const kiosk::ContentLayout layout = layoutFor(m_orientation);
    setFrame({layout.center.x - layout.frame.width / 2, layout.center.y - layout.frame.height / 2, layout.frame.width,
              layout.frame.height});
    if (transform) setLayerTransform({layout.rotation});
}

plat::ui::ActivityIndicator& KSContentView::ensureActivityView() {
    if (!m_activity) {
        m_activity = std::make_shared<plat::ui::ActivityIndicator>(plat::ui::ActivityIndicatorStyle::Gray);
        m_activity->setHidesWhenStopped(true);
        m_activity->startAnimating();
    }
    return *m_activity;
}

std::function<void(bool)> KSContentView::ifStill(unsigned show, std::function<void()> then) {
    std::weak_ptr<View> weak = weak_from_this();
    return [weak, show, then = std::move(then)](bool) {
        auto self = std::static_pointer_cast<KSContentView>(weak.lock());
        if (self && self->m_show == show && then) then();
    };
}

void KSContentView::slide(bool in, unsigned show, std::function<void()> then) {
    // Down by the frame's height as the user sees it, the turn kept.
    const LayerTransform had = layerTransform();
    LayerTransform down = had;
    const kiosk::ContentLayout layout = layoutFor(m_orientation);
    const plat::sys::Point offset = kiosk::slideOffset(had.rotation, kiosk::turnedFrame(layout).height);
    down.tx += offset.x;
    down.ty += offset.y;
    if (in) setLayerTransform(down);
    View::animate({"", kSlideDuration, AnimationCurve::EaseIn},
                  [this, in, had, down] { setLayerTransform(in ? had : down); }, ifStill(show, std::move(then)));
}

void KSContentView::bounce(bool in, unsigned show, std::function<void()> then) {
    std::shared_ptr<plat::ui::WebView> web = m_webView;
    if (in) {
        web->setLayerTransform(scaled(0.8));
        web->setAlpha(0);
    } else {
        web->setLayerTransform({});
        web->setAlpha(1);
    }
    auto second = [this, web, in, show, then = std::move(then)] {
        View::animate({"bounce2", kBounceStepDuration, AnimationCurve::EaseIn},
                      [web, in] {
                          web->setLayerTransform(in ? LayerTransform{} : scaled(0.8));
                          if (!in) web->setAlpha(0);
                      },
                      ifStill(show, [web, in, then] {
                          if (in) {
                              web->setLayerTransform({});
                              web->setAlpha(1);
                          }
                          then();
                      }));
    };
    View::animate({"bounce", kBounceStepDuration, AnimationCurve::EaseOut},
                  [web, in] {
                      web->setLayerTransform(scaled(1.1));
                      if (in) web->setAlpha(1);
                  },
                  ifStill(show, std::move(second)));
}

void KSContentView::centreSpinner() {
    if (!m_activity) return;
    const Rect web = m_webView->frame();
    const Rect own = m_activity->frame();
    m_activity->setFrame({web.x + (web.width - own.width) / 2, web.y + (web.height - own.height) / 2, own.width,
                          own.height});
}

void KSContentView::didShow(unsigned show) {
    if (show == m_show && m_delegate) m_delegate->contentViewDidShow(*this);
}

void KSContentView::show(bool animated) {
    const unsigned show = ++m_show;
    // What an earlier close still animates belongs to that close.
    removeAllAnimations();
    m_webView->removeAllAnimations();
    m_webView->setLayerTransform({});
    setLayerTransform({});
    m_webView->setAlpha(1);
    setAlpha(1);
    m_willAnimate = animated;

    if (m_targetView) m_targetView->addSubview(shared_from_this());
    sizeToFitOrientation(true);
    // A unit with no frame for the device's turn fails before its template is fetched or run.
    const Rect unitFrame =
        m_content ? m_content->frameForOrientation(m_orientation, plat::ui::applicationFrame()) : Rect{};
    if (kiosk::isNullRect(unitFrame)) {
        dismissWithError(KSCreateError(2));
        return;
    }
    m_webView->setDelegate(this);
    m_webView->stopLoading();
    kiosk::log("Loading content unit template: " + m_content->URL());
    if (plat::ui::isWebURL(m_content->URL()))
        m_webView->loadRequest({m_content->URL(), plat::ui::WebCachePolicy::ReturnCacheDataElseLoad, 10});
    else
        refuseTemplate(show);
    const double b = kiosk::statusBarOffset(plat::ui::isStatusBarHidden());
    ensureActivityView();
    if (m_content->transition() == KSTransition::Dialog) {
        setBackgroundColor(plat::ui::Color{0, 0, 0, 0.1});
        m_webView->setFrame(kiosk::dialogWebFrame(unitFrame, b));
        std::optional<plat::ui::Color> border = m_delegate ? m_delegate->borderColorForContentView(*this) : std::nullopt;
        m_webView->setBorderColor(border.value_or(plat::ui::Color{0, 0, 0, 1}));
        m_webView->setBorderWidth(1.0);
        centreSpinner();
        if (animated) bounce(true, show, [this, show] { didShow(show); });
        else didShow(show);
    } else {
        // A unit neither modal nor dialog shows as a modal one would, never animated.
        setBackgroundColor(std::nullopt);
        m_webView->setBorderWidth(0);
        m_webView->setFrame(kiosk::modalWebFrame(frame().size(), b));
        centreSpinner();
        if (animated && m_content->transition() == KSTransition::Modal) slide(true, show, [this, show] { didShow(show); });
        else didShow(show);
    }
    if (show != m_show) return;  // the delegate moved on meanwhile
    addSubview(m_activity);
    stopWatching();
    auto& center = plat::foundation::NotificationCenter::defaultCenter();
    m_observations.push_back(center.observe(kKSContentViewCallbackNotification, nullptr,
                                            [this](const plat::foundation::Notification& n) {
                                                const auto* reply = static_cast<const KSJsonObject*>(n.sender.object);
                                                if (!reply) return;
                                                std::optional<std::string> id;
                                                if (const KSJsonValue* c = reply->find("callback"); c && c->string())
                                                    id = *c->string();
                                                sendCallback(id, reply->find("response"), reply->find("error"));
                                            }));
    watchOrientation();
}

void KSContentView::watchOrientation() {
    m_observations.push_back(plat::foundation::NotificationCenter::defaultCenter().observe(
        plat::sys::kDeviceOrientationDidChangeNotification, nullptr,
        [this](const plat::foundation::Notification&) { orientationChanged(); }));
    if (!m_generatingOrientation) {
        plat::sys::Device::current().beginGeneratingDeviceOrientationNotifications();
        m_generatingOrientation = true;
    }
}

void KSContentView::stopWatching() {
    m_observations.clear();
    if (m_generatingOrientation) {
        plat::sys::Device::current().endGeneratingDeviceOrientationNotifications();
        m_generatingOrientation = false;
    }
}

// A template off the web (a local file, data, a script) is never loaded: it fails as a load the
// web view could not start would, on a later turn.
void KSContentView::refuseTemplate(unsigned show) {
    const std::string url = m_content->URL();
    std::weak_ptr<View> weak = weak_from_this();
    plat::foundation::RunLoop::main().perform([weak, show, url] {
        auto self = std::static_pointer_cast<KSContentView>(weak.lock());
        if (!self || self->m_show != show) return;
        plat::foundation::Value::Dictionary info{{plat::net::kURLErrorFailingURLStringErrorKey, url}};
        self->dismissWithError({plat::net::kURLErrorDomain, plat::net::kURLErrorUnsupportedURL,
                                plat::net::describeURLError(plat::net::kURLErrorUnsupportedURL), std::move(info)});
    });
}

void KSContentView::orientationChanged() {
    const int orientation = plat::sys::Device::current().orientation();
    if (orientation == m_orientation || !kiosk::isUprightOrientation(orientation)) return;
    const Rect unitFrame =
        m_content ? m_content->frameForOrientation(orientation, plat::ui::applicationFrame()) : Rect{};
    if (kiosk::isNullRect(unitFrame)) {
        dismissWithError(KSCreateError(2));
        return;
    }
    const double b = kiosk::statusBarOffset(plat::ui::isStatusBarHidden());
    if (m_content->transition() == KSTransition::Dialog) {
        m_webView->setFrame(kiosk::dialogWebFrame(unitFrame, b));
    } else {
        // A full-screen page takes the turned screen's shape, or it shows squeezed and cut off.
        m_webView->setFrame(kiosk::modalWebFrame(layoutFor(orientation).frame.size(), b));
    }
    centreSpinner();
    // Turned along with the status bar.
    View::animate({"", plat::ui::kRotationDuration, AnimationCurve::EaseInOut}, [this] { sizeToFitOrientation(true); });
}

void KSContentView::dismiss(bool animated) {
    closeView(animated);
}

void KSContentView::closeView(bool animated) {
    m_webView->setDelegate(nullptr);
    m_webView->stopLoading();
    m_willAnimate = animated;
    stopWatching();
    const unsigned show = m_show;
    const KSTransition transition = m_content ? m_content->transition() : KSTransition::None;
    // A unit neither modal nor dialog closes as a modal one would, never animated.
    if (animated && transition == KSTransition::Modal) slide(false, show, [this, show] { didDismiss(show); });
    else if (animated && transition == KSTransition::Dialog) bounce(false, show, [this, show] { didDismiss(show); });
    else didDismiss(show);
}

void KSContentView::didDismiss(unsigned show) {
    // A close that ends after the view was shown again belongs to the old show.
    if (show != m_show) return;
    KSContentViewDelegate* delegate = m_delegate;
    removeFromSuperview();
    prepareForReuse();
    if (delegate) delegate->contentViewDidDismiss(*this);
}

void KSContentView::dismissWithError(const plat::foundation::Error& error) {
    KSContentViewDelegate* delegate = m_delegate;
    if (!delegate) return;
    m_delegate = nullptr;
    closeView(m_willAnimate);
    kiosk::log("Error with content view: " + error.message);
    delegate->contentViewDidFail(*this, error);
}

void KSContentView::prepareForReuse() {
    m_content = nullptr;
    m_delegate = nullptr;
    std::erase_if(m_calls, [this](const auto& entry) { return entry.second.target != this; });
    m_webView->stringByEvaluatingJavaScript("document.open();document.close();");
    // The emptied document keeps its timers and workers running off screen: the page goes.
    m_webView->closePage();
    stopWatching();
    // A launch of the last unit must not answer the next unit's page.
    KSURLLoader::invalidateAllLoadersWithDelegate(this);
}

bool KSContentView::sendCallback(const std::optional<std::string>& callbackId, const KSJsonValue* response,
                                 const KSJsonValue* error) {
    if (callbackId) kiosk::log("Sending callback with id: " + *callbackId);
    const std::string result = m_webView->stringByEvaluatingJavaScript(kiosk::callbackScript(callbackId, response, error));
    if (result == "OK") return true;
    kiosk::log("content template callback failed. If this is a recurring issue, please include this console message "
               "along with the following information in your support request: " +
               result);
    return false;
}

bool KSContentView::shouldStartLoad(plat::ui::WebView&, const plat::ui::WebRequest& request,
                                    plat::ui::WebNavigationType) {
    // Only the web loads: no local file, data or script address, and no "ks:" call unregistered.
    const bool web = plat::ui::isWebURL(request.url) || plat::ui::isBlankPageURL(request.url);
    std::optional<std::string> address = kiosk::callAddress(request.url);
    if (!address) return web;
    auto found = m_calls.find(*address);
    if (found == m_calls.end()) return web;
    KSJsonObject query = kiosk::queryComponents(request.url);
    std::optional<std::string> callback;
    if (const KSJsonValue* id = query.find("callback"); id && id->string()) callback = *id->string();
    std::optional<KSJsonValue> parsed;
    if (const KSJsonValue* text = query.find("context"); text && text->string())
        parsed = KSJsonParser().objectWithString(*text->string());
    const KSJsonObject* context = parsed ? parsed->object() : nullptr;
    kiosk::log("Redirecting request with callback: " + callback.value_or("(null)") + " to dispatch " + *address);
    Action action = found->second.action;  // the action may drop its own entry
    if (auto* one = std::get_if<0>(&action)) (*one)(context);
    else if (auto* two = std::get_if<1>(&action)) (*two)(context, callback);
    else std::get<2>(action)(context, callback, *this);
    return false;
}

void KSContentView::didFinishLoad(plat::ui::WebView&) {
    if (plat::foundation::UserDefaults* defaults = plat::foundation::UserDefaults::standard())
        defaults->setInteger(0, "WebKitCacheModelPreferenceKey");
    if (m_activity) m_activity->stopAnimating();
    if (m_delegate) m_delegate->contentViewDidLoad(*this);
}

void KSContentView::didFailLoad(plat::ui::WebView&, const plat::foundation::Error& error) {
    dismissWithError(error);
}

void KSContentView::handleDismiss(Context context) {
    if (context) {
        if (const KSJsonValue* ping = context->find("ping"); ping && ping->string()) {
            auto loader = KSURLLoader::create();
            loader->setOpensFinalURLOnDevice(false);
            loader->setTargetURL(*ping->string());
            loader->open();
        }
    }
    closeView(m_willAnimate);
}

void KSContentView::handleLaunch(Context context, CallbackId callback) {
    const KSJsonValue* url = context ? context->find("url") : nullptr;
    if (!url || !url->string()) return;
    KSJsonObject loaderContext;
    if (callback) loaderContext.set("callback", *callback);
    loaderContext.set("queryComponents", *context);
    auto loader = KSURLLoader::create();
    loader->setTargetURL(*url->string());
    loader->setContext(std::move(loaderContext));
    loader->setDelegate(this);
    loader->open();
}

namespace {

std::optional<std::string> launchCallback(const KSURLLoader& loader) {
    const KSJsonObject* context = loader.context().object();
    const KSJsonValue* id = context ? context->find("callback") : nullptr;
    if (!id || !id->string()) return std::nullopt;
    return *id->string();
}

KSJsonValue launchResponse(const KSURLLoader& loader) {
    KSJsonObject response;
    response.set("url", loader.targetURL());
    return response;
}

}  // namespace

void KSContentView::loaderFinished(KSURLLoader& loader) {
    const KSJsonValue response = launchResponse(loader);
    sendCallback(launchCallback(loader), &response, nullptr);
}

void KSContentView::loaderFailed(KSURLLoader& loader) {
    const KSJsonValue response = launchResponse(loader);
    KSJsonObject error;
    error.set("error", "1");
    const KSJsonValue errorValue(std::move(error));
    sendCallback(launchCallback(loader), &response, &errorValue);
}

void KSContentView::handleLoadContext(Context, CallbackId callback) {
    m_webView->stringByEvaluatingJavaScript("window.KioskDispatchProtocolVersion = " +
                                            std::to_string(kiosk::kDispatchProtocolVersion));
    const KSJsonValue* context = m_content && m_content->context() ? &*m_content->context() : nullptr;
    if (!sendCallback(callback, context, nullptr)) dismissWithError(KSCreateError(3));
}
