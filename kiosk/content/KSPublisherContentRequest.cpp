#include "kiosk/content/KSPublisherContentRequest.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "kiosk/KSTimeInGame.h"
#include "kiosk/content/KSEmbeddedImages.h"
#include "platform/foundation/Log.h"
#include "platform/net/Servers.h"
#include "platform/sys/ClassRegistry.h"
#include "platform/sys/Device.h"
#include "platform/ui/Application.h"
#include "platform/ui/Orientation.h"
#include "platform/ui/StatusBar.h"
#include "platform/ui/TextView.h"
#include "platform/ui/Window.h"

using plat::sys::Rect;

namespace {

constexpr double kCloseButtonTimeout = 4.0;
constexpr double kCloseButtonSide = 40;

// A template's boolean: true, a non-zero number, or a text whose leading number is non-zero or
// that starts with "Y", "y", "T" or "t".
bool boolValue(const KSJsonValue& value) {
    if (const bool* b = value.boolean()) return *b;
    if (const std::string* text = value.string()) {
        std::size_t at = text->find_first_not_of(" \t\n");
        if (at != std::string::npos && std::string_view("YyTt").find((*text)[at]) != std::string_view::npos)
            return true;
    }
    return kiosk::floatValue(&value) != 0;
}

KSJsonValue errorReply() {
    KSJsonObject error;
    error.set("error", "1");
    return error;
}

}  // namespace

// --- the close button ---

void KSCloseButton::setImages(std::shared_ptr<plat::ui::Image> normal,
                              std::shared_ptr<plat::ui::Image> highlighted) {
    m_normal = std::move(normal);
    m_highlighted = std::move(highlighted);
    setImage(isTracking() ? m_highlighted : m_normal);
}

void KSCloseButton::touchesBegan(const plat::ui::TouchSet& touches, const plat::ui::Event& event) {
    Button::touchesBegan(touches, event);
    if (isTracking()) setImage(m_highlighted);
}

void KSCloseButton::touchesEnded(const plat::ui::TouchSet& touches, const plat::ui::Event& event) {
    setImage(m_normal);
    Button::touchesEnded(touches, event);
}

void KSCloseButton::touchesCancelled(const plat::ui::TouchSet& touches, const plat::ui::Event& event) {
    setImage(m_normal);
    Button::touchesCancelled(touches, event);
}

// --- making and finding ---

std::shared_ptr<KSPublisherContentRequest> KSPublisherContentRequest::requestForApp(
    const std::string& token, const std::string& secret, const std::string& placement,
    KSPublisherContentRequestDelegate* delegate) {
    std::shared_ptr<KSPublisherContentRequest> request = existingRequestForApp(token, secret, placement);
    if (!request) {
        request = KSAPIRequest::requestForApp<KSPublisherContentRequest>(token, secret);
        request->m_placement = placement;
    }
    request->m_delegate = delegate;
    return request;
}

std::shared_ptr<KSPublisherContentRequest> KSPublisherContentRequest::existingRequestForApp(
    const std::string& token, const std::string& secret, const std::string& placement) {
    for (const auto& live : allRequests())
        if (auto request = std::dynamic_pointer_cast<KSPublisherContentRequest>(live))
            if (request->m_placement == placement && request->token() == token && request->secret() == secret)
                return request;
    return nullptr;
}

KSPublisherContentRequest::KSPublisherContentRequest(std::string token, std::string secret)
    : KSAPIRequest(std::move(token), std::move(secret)) {
    m_loadingForward.owner = this;
    KSAPIRequest::setDelegate(&m_loadingForward);
    int device = plat::sys::Device::current().orientation();
    if (kiosk::isUprightOrientation(device))
        m_lastUpright = device;
    else if (plat::ui::Application* app = plat::ui::Application::shared())
        m_lastUpright = app->interfaceOrientation();
}

KSPublisherContentRequest::~KSPublisherContentRequest() {
    for (const auto& view : m_contentViews)
        if (view->delegate() == this) view->setDelegate(nullptr);
    if (m_generatingOrientation) plat::sys::Device::current().endGeneratingDeviceOrientationNotifications();
}

void KSPublisherContentRequest::LoadingForward::requestDidFinishLoading(KSAPIRequest&) {
    if (owner->answers(KSPublisherContentRequestDelegate::kDidFinishLoading))
        owner->m_delegate->requestDidFinishLoading(*owner);
}

std::string KSPublisherContentRequest::urlPath() const {
    return plat::net::serverURL("kiosk.api", plat::net::serverBase("kiosk.api"), "/v3/publisher/content/");
}

KSJsonObject KSPublisherContentRequest::additionalParameters() const {
    KSJsonObject parameters;
    parameters.set("placement_id", m_placement);
    parameters.set("stime", static_cast<std::int64_t>(
                                std::floor(KSTimeInGame::getInstance().getCurrentSessionDuration())));
    parameters.set("preload", m_targetState == kContentReady);
    parameters.set("isa", plat::sys::hasClass("SKStoreProductViewController"));
    return parameters;
}

// --- states ---

bool KSPublisherContentRequest::setState(int state) {
    if (state <= m_state) return false;
    int old = m_state;
    m_state = state;
    if (m_stateObserver) m_stateObserver(old, state);
    return true;
}

void KSPublisherContentRequest::send() {
    if (m_state == kDone) return;
    // Once per request: a handed-back request sent again must not report a backgrounding twice.
    if (!m_background.isActive())
        m_background = plat::foundation::NotificationCenter::defaultCenter().observe(
            plat::ui::kApplicationDidEnterBackgroundNotification, nullptr,
            [this](const plat::foundation::Notification&) { dismissToBackground(); });
    m_targetState = kDisplaying;
    if (m_showsOverlayImmediately) showOverlay();
    m_closeButtonTimer = plat::foundation::RunLoop::main().addTimer(
        kCloseButtonTimeout, [this] { closeButton()->setHidden(false); });
    continueLoading();
}

void KSPublisherContentRequest::preload() {
    if (m_state == kDone) return;
    m_targetState = std::max(m_targetState, static_cast<int>(kContentReady));
    continueLoading();
}

void KSPublisherContentRequest::continueLoading() {
    if (m_state == kMade)
        getContent();
    else if (m_state == kContentReady)
        showContentIfReady();
}

void KSPublisherContentRequest::getContent() {
    if (!setState(kGettingContent)) return;
    auto self = shared_from_this();
    KSAPIRequest::send();
    if (answers(KSPublisherContentRequestDelegate::kWillGetContent)) m_delegate->requestWillGetContent(*this);
    if (m_state != kDone) placeCloseButton();
}

void KSPublisherContentRequest::didSucceedWithResponse(const KSJsonValue* response) {
    auto self = shared_from_this();
    const KSJsonObject* object = response ? response->object() : nullptr;
    m_content = object ? KSContent::contentWithDictionary(*object) : nullptr;
    if (!m_content) {
        kiosk::log(
            "This request was successful but did not contain any displayable content. Dismissing now.");
        reportDismissal(kKSNoContentTriggeredDismiss);
        finish();
        return;
    }
    if (answers(KSPublisherContentRequestDelegate::kDidGetContent)) m_delegate->requestDidGetContent(*this);
    if (m_state == kGettingContent && setState(kContentReady)) continueLoading();
}

void KSPublisherContentRequest::didFailWithError(const plat::foundation::Error& error) {
    auto self = shared_from_this();
    if (m_state == kDone) return;
    if (answers(KSPublisherContentRequestDelegate::kDidFail))
        m_delegate->requestDidFailWithError(*this, error);
    finish();
}

void KSPublisherContentRequest::showContentIfReady() {
    if (m_targetState < kDisplaying || !m_content) return;
    if (answers(KSPublisherContentRequestDelegate::kContentWillDisplay))
        m_delegate->requestContentWillDisplay(*this, *m_content);
    if (!setState(kDisplaying)) return;
    showOverlay();
    pushContent(m_content);
}

void KSPublisherContentRequest::cancel() {
    auto self = shared_from_this();
    dismissAll();
    KSAPIRequest::cancel();
}

void KSPublisherContentRequest::finish() {
    auto self = shared_from_this();
    if (!setState(kDone)) {
        KSAPIRequest::finish();
        return;
    }
    // The pending subcontent requests.
    cancelAllRequestsWithDelegate(static_cast<KSAPIRequestDelegate*>(this));
    hideOverlay();
    hideCloseButton();
    m_background.remove();
    KSAPIRequest::finish();
}

// --- content views ---

void KSPublisherContentRequest::pushContent(std::shared_ptr<KSContent> content) {
    std::shared_ptr<KSContentView> view = KSContentView::dequeueContentViewInstance();
    if (!view) view = KSContentView::make(nullptr);
    using Handler = std::function<void(KSContentView::Context, KSContentView::CallbackId, KSContentView&)>;
    auto bind = [this](void (KSPublisherContentRequest::*handler)(
                    const KSJsonObject*, const std::optional<std::string>&, KSContentView&)) {
        return Handler([this, handler](KSContentView::Context c, KSContentView::CallbackId id,
                                       KSContentView& v) { (this->*handler)(c, id, v); });
    };
    view->redirectRequest("ks://subcontent", this, bind(&KSPublisherContentRequest::requestSubcontent));
    view->redirectRequest("ks://reward", this, bind(&KSPublisherContentRequest::requestRewards));
    view->redirectRequest("ks://purchase", this, bind(&KSPublisherContentRequest::requestPurchases));
    view->redirectRequest("ks://closeButton", this, bind(&KSPublisherContentRequest::requestCloseButton));
    view->setContent(std::move(content));
    view->setDelegate(this);
    view->setTargetView(overlayWindow().get());
    m_contentViews.push_back(view);
    view->show(m_animated);
    if (m_state != kDone) placeCloseButton();
}

void KSPublisherContentRequest::removeContentView(KSContentView& view) {
    auto at = std::find_if(m_contentViews.begin(), m_contentViews.end(),
                           [&](const auto& v) { return v.get() == &view; });
    if (at == m_contentViews.end()) return;
    std::shared_ptr<KSContentView> kept = std::move(*at);
    m_contentViews.erase(at);
    KSContentView::enqueueContentViewInstance(std::move(kept));
}

void KSPublisherContentRequest::dismissAll() {
    std::vector<std::shared_ptr<KSContentView>> views = m_contentViews;
    for (const auto& view : views) {
        view->setDelegate(nullptr);
        view->dismiss(false);
        removeContentView(*view);
    }
}

void KSPublisherContentRequest::contentViewDidLoad(KSContentView& view) {
    // A page that loads a second document finishes loading again: the display is told once.
    if (m_displayed || m_contentViews.size() != 1 || !view.content()) return;
    m_displayed = true;
    if (answers(KSPublisherContentRequestDelegate::kContentDidDisplay))
        m_delegate->requestContentDidDisplay(*this, *view.content());
}

void KSPublisherContentRequest::contentViewDidDismiss(KSContentView& view) {
    auto self = shared_from_this();
    removeContentView(view);
    if (!m_contentViews.empty() || m_state == kDone) return;
    reportDismissal(kKSContentUnitTriggeredDismiss);
    finish();
}

void KSPublisherContentRequest::contentViewDidFail(KSContentView& view,
                                                   const plat::foundation::Error& error) {
    auto self = shared_from_this();
    removeContentView(view);
    if (!m_contentViews.empty() || m_state == kDone) return;
    if (answers(KSPublisherContentRequestDelegate::kContentDidFail)) {
        kiosk::log(
            "It seems like you're using the -request:contentDidFailWithError: delegate method. This delegate "
            "has been deprecated, please use -request:didFailWithError: instead.");
        m_delegate->requestContentDidFailWithError(*this, error);
    } else if (answers(KSPublisherContentRequestDelegate::kDidFail)) {
        m_delegate->requestDidFailWithError(*this, error);
    }
    finish();
}

void KSPublisherContentRequest::reportDismissal(const char* type) {
    if (answers(KSPublisherContentRequestDelegate::kContentDidDismissWithType))
        m_delegate->requestContentDidDismissWithType(*this, type);
    else if (answers(KSPublisherContentRequestDelegate::kContentDidDismiss))
        m_delegate->requestContentDidDismiss(*this);
}

void KSPublisherContentRequest::dismissFromButton() {
    if (m_state == kDone) return;
    auto self = shared_from_this();
    kiosk::log("The content unit was dismissed by the user");
    dismissAll();
    reportDismissal(kKSNativeCloseButtonTriggeredDismiss);
    finish();
}

void KSPublisherContentRequest::dismissToBackground() {
    // A finished request reports nothing more.
    if (m_state == kDone) return;
    auto self = shared_from_this();
    kiosk::log("The content unit was dismissed because the app has been backgrounded.");
    dismissAll();
    reportDismissal(kKSApplicationBackgroundTriggeredDismiss);
    finish();
}

// --- overlay ---

const std::shared_ptr<plat::ui::View>& KSPublisherContentRequest::overlayWindow() {
    if (!m_overlay) {
        m_overlay = std::make_shared<plat::ui::View>(plat::sys::Screen::main().bounds());
        m_overlay->setBackgroundColor(plat::ui::Color{0, 0, 0, 0.5});
    }
    return m_overlay;
}

void KSPublisherContentRequest::showOverlay() {
    plat::ui::Application* app = plat::ui::Application::shared();
    const auto& overlay = overlayWindow();
    plat::ui::Window* window = app ? app->keyWindow() : nullptr;
    if (!window) return;
    // Over the window as it stands now and after each turn of the interface.
    overlay->setFrame(window->bounds());
    overlay->setAutoresizingMask(plat::ui::kAutoresizingFlexibleWidth | plat::ui::kAutoresizingFlexibleHeight);
    window->addSubview(overlay);
    // Ending editing in the window puts the keyboard away.
    if (plat::ui::TextView* editing = app->textInputResponder(); editing && editing->window() == window)
        editing->resignFirstResponder();
}

void KSPublisherContentRequest::hideOverlay() {
    if (m_overlay) m_overlay->removeFromSuperview();
}

// --- close button ---

const std::shared_ptr<KSCloseButton>& KSPublisherContentRequest::closeButton() {
    if (m_closeButton) return m_closeButton;
    m_closeButton = std::make_shared<KSCloseButton>(Rect{0, 0, kCloseButtonSide, kCloseButtonSide});
    m_closeButton->setHidden(true);
    std::shared_ptr<plat::ui::Image> images[2];
    for (int state = 0; state < 2; ++state) {
        if (answers(KSPublisherContentRequestDelegate::kCloseButtonImage))
            images[state] = m_delegate->requestCloseButtonImage(*this, state, nullptr);
        if (!images[state]) images[state] = kiosk::closeButtonImage(state == 1);
    }
    m_closeButton->setImages(images[0], images[1]);
    m_closeButton->addTarget(this, [this](plat::ui::Button&) { dismissFromButton(); });
    return m_closeButton;
}

KSPublisherContentRequest::Placement KSPublisherContentRequest::closeButtonPlacement(
    int o, double b, double W, double H, const std::optional<Rect>& unit) {
    using namespace plat::sys;
    double x = W - 20, y = b + 20, rotation = 0;
    if (o == kDeviceOrientationPortraitUpsideDown)
        x = 20, y = H - 20, rotation = std::numbers::pi;
    else if (o == kDeviceOrientationLandscapeLeft)
        x = W - 20, y = H - 20, rotation = std::numbers::pi / 2;
    else if (o == kDeviceOrientationLandscapeRight)
        x = b + 20, y = 20, rotation = -std::numbers::pi / 2;
    if (unit) {
        const Rect& f = *unit;
        double minY = f.y, maxX = f.x + f.width;
        if (o == kDeviceOrientationPortraitUpsideDown)
            x = std::max(x, W - maxX), y = std::min(y, H - minY);
        else if (o == kDeviceOrientationLandscapeLeft)
            x = std::min(x, W - minY), y = std::min(y, maxX);
        else if (o == kDeviceOrientationLandscapeRight)
            x = std::max(x, b + minY), y = std::max(y, H - maxX);
        else
            x = std::min(x, maxX), y = std::max(y, b + minY);
    }
    return {{x, y}, rotation};
}

void KSPublisherContentRequest::placeCloseButton() {
    const auto& button = closeButton();
    if (!button->superview() && !m_orientation.isActive()) {
        m_orientation = plat::foundation::NotificationCenter::defaultCenter().observe(
            plat::sys::kDeviceOrientationDidChangeNotification, nullptr,
            [this](const plat::foundation::Notification&) { placeCloseButton(); });
        if (!m_generatingOrientation) {
            plat::sys::Device::current().beginGeneratingDeviceOrientationNotifications();
            m_generatingOrientation = true;
        }
    }
    int o = plat::sys::Device::current().orientation();
    if (kiosk::isUprightOrientation(o)) {
        m_lastUpright = o;
    } else {
        // Flat or unknown says nothing about which way is up: a placed button stays as it is.
        if (button->superview()) return;
        o = m_lastUpright;
    }
    double b = kiosk::statusBarOffset(plat::ui::isStatusBarHidden());
    Rect application = plat::ui::applicationFrame();
    std::optional<Rect> unit;
    if (!m_contentViews.empty()) {
        const auto& top = m_contentViews.back();
        unit = top->content() ? top->content()->frameForOrientation(o, application) : Rect{};
    }
    Placement at = closeButtonPlacement(o, b, application.width, application.height, unit);
    const plat::ui::Application* app = plat::ui::Application::shared();
    kiosk::placeInWindow(at.center, at.rotation, plat::sys::Screen::main().bounds(),
                         app ? app->interfaceOrientation() : plat::ui::kInterfaceOrientationPortrait);
    button->setFrame({at.center.x - kCloseButtonSide / 2, at.center.y - kCloseButtonSide / 2,
                      kCloseButtonSide, kCloseButtonSide});
    plat::ui::LayerTransform transform;
    transform.rotation = at.rotation;
    button->setLayerTransform(transform);
    const auto& overlay = overlayWindow();
    std::size_t index = overlay->subviews().size();
    if (!m_contentViews.empty()) {
        const auto& subviews = overlay->subviews();
        auto top = std::find(subviews.begin(), subviews.end(),
                             std::static_pointer_cast<plat::ui::View>(m_contentViews.back()));
        if (top != subviews.end()) index = static_cast<std::size_t>(top - subviews.begin()) + 1;
    }
    if (button->superview() == overlay.get()) button->removeFromSuperview();
    overlay->insertSubview(button, std::min(index, overlay->subviews().size()));
}

void KSPublisherContentRequest::hideCloseButton() {
    m_closeButtonTimer.invalidate();
    m_orientation.remove();
    if (m_generatingOrientation) {
        plat::sys::Device::current().endGeneratingDeviceOrientationNotifications();
        m_generatingOrientation = false;
    }
    if (m_closeButton) m_closeButton->removeFromSuperview();
}

// --- the template's calls ---

void KSPublisherContentRequest::requestCloseButton(const KSJsonObject* context,
                                                   const std::optional<std::string>& callback,
                                                   KSContentView& source) {
    m_closeButtonTimer.invalidate();
    const auto& button = closeButton();
    if (const KSJsonValue* hidden = context ? context->find("hidden") : nullptr)
        button->setHidden(boolValue(*hidden));
    KSJsonObject response;
    response.set("hidden", button->isHidden());
    KSJsonValue reply(std::move(response));
    source.sendCallback(callback, &reply, nullptr);
}

void KSPublisherContentRequest::requestSubcontent(const KSJsonObject* context,
                                                  const std::optional<std::string>& callback,
                                                  KSContentView& source) {
    const KSJsonValue* url = context ? context->find("url") : nullptr;
    if (!url || url->isNull()) {
        KSJsonValue error = errorReply();
        source.sendCallback(callback, nullptr, &error);
        return;
    }
    auto sub = KSAPIRequest::requestForApp<KSPublisherSubContentRequest>(token(), secret());
    sub->setDelegate(static_cast<KSAPIRequestDelegate*>(this));
    sub->setURLPath(kiosk::agnosticText(url));
    sub->setCallback(callback);
    sub->setSource(std::static_pointer_cast<KSContentView>(source.shared_from_this()));
    sub->send();
}

void KSPublisherContentRequest::requestDidSucceedWithResponse(KSAPIRequest& request,
                                                              const KSJsonValue* response) {
    auto* sub = dynamic_cast<KSPublisherSubContentRequest*>(&request);
    if (!sub) return;
    std::shared_ptr<KSContentView> source = sub->source();
    const KSJsonObject* object = response ? response->object() : nullptr;
    std::shared_ptr<KSContent> content = object ? KSContent::contentWithDictionary(*object) : nullptr;
    if (content && m_state != kDone) {
        pushContent(std::move(content));
        if (source) source->sendCallback(sub->callback(), response, nullptr);
        return;
    }
    KSJsonValue error = errorReply();
    if (source) source->sendCallback(sub->callback(), nullptr, &error);
}

void KSPublisherContentRequest::requestDidFailWithError(KSAPIRequest& request,
                                                        const plat::foundation::Error&) {
    auto* sub = dynamic_cast<KSPublisherSubContentRequest*>(&request);
    if (!sub) return;
    KSJsonValue error = errorReply();
    if (std::shared_ptr<KSContentView> source = sub->source())
        source->sendCallback(sub->callback(), nullptr, &error);
}
