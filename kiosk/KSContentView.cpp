#include "kiosk/KSContentView.h"

#include <set>

#include "kiosk/KSAPIRequest.h"
#include "kiosk/KSContentBridge.h"
#include "kiosk/KSJsonParser.h"
#include "kiosk/KSStringUtil.h"
#include "kiosk/KSURLLoader.h"
#include "kiosk/content/KSPurchase.h"
#include "platform/sys/Device.h"
#include "platform/ui/StatusBar.h"

using plat::sys::Rect;

namespace {

std::set<std::shared_ptr<KSContentView>>& pool() {
    static std::set<std::shared_ptr<KSContentView>> views;
    return views;
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

KSContentView::KSContentView() : View(plat::ui::applicationFrame()) {
    redirectRequest("ks://dismiss", this, std::function<void(Context)>([this](Context c) { handleDismiss(c); }));
    redirectRequest("ks://loadContext", this,
                    std::function<void(Context, CallbackId)>([this](Context c, CallbackId id) { handleLoadContext(c, id); }));
    m_webView = std::make_shared<plat::ui::WebView>(Rect{});
    m_webView->setAccessibilityLabel("content view");
    m_webView->setSuppressesIncrementalRendering(true);
    m_webView->setKeyboardDisplayRequiresUserAction(false);
    addSubview(m_webView);
}

KSContentView::~KSContentView() {
    m_webView->setDelegate(nullptr);
}

void KSContentView::redirectRequest(const std::string& address, const void* target, Action action) {
    if (!target) {
        m_calls.erase(address);
        return;
    }
    m_calls[address] = Call{target, std::move(action)};
}

void KSContentView::show(bool animated) {
    m_willAnimate = animated;
    unsigned show = ++m_show;
    setAlpha(1);
    m_webView->setAlpha(1);
    if (m_targetView) m_targetView->addSubview(shared_from_this());
    observeCallbacks();
    kiosk::ContentLayout layout = kiosk::contentViewLayout(plat::sys::Screen::main().bounds(), m_orientation);
    setFrame(layout.frame);
    m_webView->setDelegate(this);
    m_webView->stopLoading();
    if (m_content)
        m_webView->loadRequest({m_content->URL(), plat::ui::WebCachePolicy::ReturnCacheDataElseLoad, 10});
    Rect unitFrame = m_content ? m_content->frameForOrientation(m_orientation, plat::ui::applicationFrame()) : Rect{};
    if (kiosk::isNullRect(unitFrame)) {
        dismissWithError(KSCreateError(2));
        return;
    }
    double b = kiosk::statusBarOffset(plat::ui::isStatusBarHidden());
    auto shown = [this, show] {
        if (show == m_show && m_delegate) m_delegate->contentViewDidShow(*this);
    };
    if (m_content->transition() == KSTransition::Dialog) {
        setBackgroundColor(plat::ui::Color{0, 0, 0, 0.1});
        m_webView->setFrame(kiosk::dialogWebFrame(unitFrame, b));
    } else {
        // Neither modal nor dialog shows as modal would.
        m_webView->setFrame(kiosk::modalWebFrame(plat::ui::applicationFrame(), m_orientation, b));
    }
    if (!animated || m_content->transition() == KSTransition::None) {
        shown();
        return;
    }
    m_webView->setAlpha(0);
    View::animate({"", 0.25, plat::ui::AnimationCurve::EaseInOut}, [this] { m_webView->setAlpha(1); },
                  [shown](bool) { shown(); });
}

void KSContentView::dismiss(bool animated) {
    closeView(animated);
}

void KSContentView::closeView(bool animated) {
    m_webView->setDelegate(nullptr);
    m_webView->stopLoading();
    m_willAnimate = animated;
    unsigned show = m_show;
    if (!animated || !m_content || m_content->transition() == KSTransition::None) {
        didDismiss(show);
        return;
    }
    View::animate({"", 0.25, plat::ui::AnimationCurve::EaseInOut}, [this] { m_webView->setAlpha(0); },
                  [self = std::static_pointer_cast<KSContentView>(shared_from_this()), show](bool) {
                      self->didDismiss(show);
                  });
}

void KSContentView::didDismiss(unsigned show) {
    // A close that ends after the view was shown again belongs to the old show.
    if (show != m_show) return;
    KSContentViewDelegate* delegate = m_delegate;
    m_callbacks.remove();
    removeFromSuperview();
    prepareForReuse();
    if (delegate) delegate->contentViewDidDismiss(*this);
}

void KSContentView::dismissWithError(const plat::foundation::Error& error) {
    KSContentViewDelegate* delegate = m_delegate;
    if (!delegate) return;
    m_delegate = nullptr;
    closeView(m_willAnimate);
    delegate->contentViewDidFail(*this, error);
}

void KSContentView::prepareForReuse() {
    m_content = nullptr;
    m_delegate = nullptr;
    std::erase_if(m_calls, [this](const auto& entry) { return entry.second.target != this; });
    m_webView->stringByEvaluatingJavaScript("document.open();document.close();");
}

bool KSContentView::sendCallback(const std::optional<std::string>& callbackId, const KSJsonValue* response,
                                 const KSJsonValue* error) {
    return m_webView->stringByEvaluatingJavaScript(kiosk::callbackScript(callbackId, response, error)) == "OK";
}

bool KSContentView::shouldStartLoad(plat::ui::WebView&, const plat::ui::WebRequest& request,
                                    plat::ui::WebNavigationType) {
    std::optional<std::string> address = kiosk::callAddress(request.url);
    if (!address) return true;
    auto found = m_calls.find(*address);
    if (found == m_calls.end()) return address->rfind("ks://", 0) != 0;
    KSJsonObject query = kiosk::queryComponents(request.url);
    std::optional<std::string> callback;
    if (const KSJsonValue* id = query.find("callback"); id && id->string()) callback = *id->string();
    std::optional<KSJsonValue> parsed;
    if (const KSJsonValue* text = query.find("context"); text && text->string())
        parsed = KSJsonParser().objectWithString(*text->string());
    const KSJsonObject* context = parsed ? parsed->object() : nullptr;
    Action action = found->second.action;  // the action may drop its own entry
    if (auto* one = std::get_if<0>(&action)) (*one)(context);
    else if (auto* two = std::get_if<1>(&action)) (*two)(context, callback);
    else std::get<2>(action)(context, callback, *this);
    return false;
}

void KSContentView::didFinishLoad(plat::ui::WebView&) {
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

void KSContentView::handleLoadContext(Context, CallbackId callback) {
    m_webView->stringByEvaluatingJavaScript("window.KioskDispatchProtocolVersion = " +
                                            std::to_string(kiosk::kDispatchProtocolVersion));
    const KSJsonValue* context = m_content && m_content->context() ? &*m_content->context() : nullptr;
    if (!sendCallback(callback, context, nullptr)) dismissWithError(KSCreateError(3));
}

void KSContentView::observeCallbacks() {
    m_callbacks = plat::foundation::NotificationCenter::defaultCenter().observe(
        kKSContentViewKSCallbackNotification, nullptr, [this](const plat::foundation::Notification& note) {
            const plat::foundation::Value::Dictionary* object = note.userInfo.dictionary();
            if (!object) return;
            std::optional<std::string> callback;
            std::optional<KSJsonValue> response;
            if (auto id = object->find("callback"); id != object->end() && id->second.string()) callback = *id->second.string();
            if (auto found = object->find("response"); found != object->end() && !found->second.isNull())
                response = KSJsonParser().objectWithString(found->second.canonicalJSON());
            sendCallback(callback, response ? &*response : nullptr, nullptr);
        });
}
