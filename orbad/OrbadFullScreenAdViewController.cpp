#include "orbad/OrbadFullScreenAdViewController.h"

#include <cmath>

#include "orbad/OrbadFullscreenAdController.h"
#include "orbad/ads/OBBannerHost.h"
#include "orbad/ads/OrbadAdViewInternal.h"
#include "orbad/core/OBResourcesController.h"
#include "platform/foundation/LocalServices.h"
#include "platform/foundation/Log.h"
#include "platform/sys/Device.h"
#include "platform/ui/ActivityIndicator.h"
#include "platform/ui/Application.h"
#include "platform/ui/Bars.h"
#include "platform/ui/StatusBar.h"

namespace ui = plat::ui;

namespace {

plat::foundation::TraceCategory kSvc("svc");

constexpr double kNotLoadingWidth = 40;
constexpr double kLoadingWidth = 30;
// Toolbar slots: the spinner's, back and forward.
constexpr size_t kLoadingSlot = 0, kBackSlot = 2, kForwardSlot = 4;

}  // namespace

std::shared_ptr<OrbadFullScreenAdViewController> OrbadFullScreenAdViewController::init() {
    // The stand-in until the client has started, and for containers whose adnetwork.plist has the
    // input script play the network.
    if (!orbad::bannerHost() || plat::foundation::hasLocalService("adnetwork"))
        return OrbadFullScreenAdViewControllerStandIn::create();
    return make();
}

std::shared_ptr<OrbadFullScreenAdViewController> OrbadFullScreenAdViewController::make() {
    return std::make_shared<OrbadFullScreenAdViewController>();
}

OrbadFullScreenAdViewController::OrbadFullScreenAdViewController()
    : m_widgetButtonController(std::make_shared<orbad::OrbadWidgetButtonController>()) {
    m_widgetButtonController->setDelegate(this);
}

OrbadFullScreenAdViewController::~OrbadFullScreenAdViewController() {
    if (orbad::OrbadFullScreenWebAdView* web = webAdView()) {
        web->setToolbarDelegate({});
        web->setWidgetButtonController(nullptr);
    }
    m_widgetButtonController->setDelegate(nullptr);
    if (m_internalAdView) {
        m_internalAdView->cancelAd();
        m_internalAdView->setDelegate(nullptr);
    }
}

// ---- the player's interface ----

void OrbadFullScreenAdViewController::requestAd() {
    plat::foundation::trace(kSvc, "orbad fullscreen request");
    prefetchAd();
}

void OrbadFullScreenAdViewController::prefetchAd() {
    if (!m_internalAdView) {
        m_internalAdView = std::make_shared<orbad::OrbadAdViewInternal>(kEngineFrame);
        m_internalAdView->setAdSize(orbad::kOBFullScreenAdSize);
        m_internalAdView->setDelegate(this);
        m_internalAdView->setRefreshTime(kEngineRefreshTime);
    }
    ui::Application* app = ui::Application::shared();
    m_requestOrientation = app ? app->statusBarOrientation() : ui::kInterfaceOrientationPortrait;
    m_internalAdView->prefetchAd();
}

void OrbadFullScreenAdViewController::setDelegate(OrbadFullScreenAdDelegate* delegate) {
    m_delegate = delegate;
    if (m_internalAdView) m_internalAdView->setDelegate(this);
}

bool OrbadFullScreenAdViewController::displayRequestedAdFromViewController(ui::ViewController& presenter) {
    const bool display = m_hasAd && !m_displayingAd;
    plat::foundation::trace(kSvc, display ? "orbad fullscreen display yes" : "orbad fullscreen display no");
    return display && presentAdFrom(presenter);
}

bool OrbadFullScreenAdViewController::presentAdFrom(ui::ViewController& presenter) {
    m_displayingAd = true;
    m_internalAdView->displayAd();
    presenter.presentViewController(shared_from_this(), true);
    if (presentingViewController()) return true;
    // Refused (off screen, or showing another): displayed it would refuse every later display.
    m_displayingAd = false;
    return false;
}

void OrbadFullScreenAdViewController::requestAndDisplayAdFromViewController(ui::ViewController& presenter) {
    if (m_hasAd && !m_displayingAd) {
        // The engine keeps a waiting ad without loading again: no load would come to present it.
        requestAd();
        displayRequestedAdFromViewController(presenter);
        return;
    }
    m_tempDisplayViewController = presenter.weak_from_this();
    requestAd();
}

void OrbadFullScreenAdViewController::dismissAdAnimated(bool animated) {
    auto keep = shared_from_this();
    releaseEngine();
    m_widgetButtonController->resetButton();
    if (m_delegate) m_delegate->fullScreenAdViewControllerDidDismissAd(*this);
    ui::setStatusBarHidden(m_statusBarHidden);
    dismissViewController(animated);
}

void OrbadFullScreenAdViewController::releaseEngine() {
    if (!m_internalAdView) return;
    // Taken out first: the engine may be the last holder of what its calls below touch.
    const std::shared_ptr<orbad::OrbadAdViewInternal> engine = std::move(m_internalAdView);
    engine->removeFromSuperview();
    engine->cancelAd();
    engine->setDelegate(nullptr);
}

// ---- the engine's delegate ----

bool OrbadFullScreenAdViewController::answers(Op op) const {
    using Hook = OrbadFullScreenAdDelegate::Hook;
    switch (op) {
        case Op::adViewDidFinishLoad:
        case Op::adViewDidFailLoadWithError:
        case Op::adViewCanAutoplay:
        case Op::richMediaRequiresUserInteraction:
        // Reported whatever the delegate has: null when it has no hook.
        case Op::requestedVeltiMediaURL:
            return true;
        case Op::requestedAdUrlForAdView:
            return m_delegate && m_delegate->answers(Hook::requestedAdUrl);
        case Op::requestedCreativeForAdView:
            return m_delegate && m_delegate->answers(Hook::requestedCreative);
        case Op::requestedVeltiMediaIdForAdView:
            return m_delegate && m_delegate->answers(Hook::requestedVeltiMediaId);
        default:
            return false;
    }
}

void OrbadFullScreenAdViewController::adViewDidFinishLoad(OrbadAdView* view) {
    if (!m_internalAdView || view != m_internalAdView->externalAdView()) return;
    auto keep = shared_from_this();
    m_hasAd = true;
    if (m_delegate) m_delegate->fullScreenAdViewControllerDidFinishLoad(*this);
    if (auto presenter = m_tempDisplayViewController.lock()) {
        m_tempDisplayViewController.reset();
        displayRequestedAdFromViewController(*presenter);
    }
}

void OrbadFullScreenAdViewController::adViewDidFailLoadWithError(OrbadAdView* view,
                                                                 const plat::foundation::Error& error) {
    if (!m_internalAdView || view != m_internalAdView->externalAdView()) return;
    auto keep = shared_from_this();
    // The ad on screen has gone with its page: it closes as Done would close it.
    if (m_displayingAd && !m_internalAdView->currentAdView()) {
        dismissAdAnimated(true);
        return;
    }
    m_hasAd = false;
    if (m_delegate) m_delegate->fullScreenAdViewControllerDidFailToLoad(*this, error);
    m_tempDisplayViewController.reset();
}

std::optional<std::string> OrbadFullScreenAdViewController::requestedAdUrlForAdView(OrbadAdView*) {
    if (!m_delegate || !m_delegate->answers(OrbadFullScreenAdDelegate::Hook::requestedAdUrl))
        return std::nullopt;
    return m_delegate->requestedAdUrlForFullScreenAdViewController(*this);
}

std::optional<std::string> OrbadFullScreenAdViewController::requestedCreativeForAdView(OrbadAdView*) {
    if (!m_delegate || !m_delegate->answers(OrbadFullScreenAdDelegate::Hook::requestedCreative))
        return std::nullopt;
    return m_delegate->requestedCreativeForFullScreenAdViewController(*this);
}

std::optional<std::string> OrbadFullScreenAdViewController::requestedVeltiMediaIdForAdView(OrbadAdView*) {
    if (!m_delegate || !m_delegate->answers(OrbadFullScreenAdDelegate::Hook::requestedVeltiMediaId))
        return std::nullopt;
    return m_delegate->requestedVeltiMediaIdForFullScreenAdViewController(*this);
}

std::optional<std::string> OrbadFullScreenAdViewController::requestedVeltiMediaURL(OrbadAdView*) {
    if (!m_delegate || !m_delegate->answers(OrbadFullScreenAdDelegate::Hook::requestedVeltiMediaURL))
        return std::nullopt;
    return m_delegate->requestedVeltiMediaURLForFullScreenAdViewController(*this);
}

// ---- the toolbar ----

orbad::OrbadFullScreenWebAdView* OrbadFullScreenAdViewController::webAdView() const {
    if (!m_internalAdView) return nullptr;
    return dynamic_cast<orbad::OrbadFullScreenWebAdView*>(m_internalAdView->currentAdView());
}

void OrbadFullScreenAdViewController::goBack() {
    if (orbad::OrbadFullScreenWebAdView* web = webAdView()) web->goBack();
}

void OrbadFullScreenAdViewController::goForward() {
    if (orbad::OrbadFullScreenWebAdView* web = webAdView()) web->goForward();
}

void OrbadFullScreenAdViewController::setLoading(bool loading) {
    if (m_toolbar && !m_toolbar->items().empty()) {
        std::vector<std::shared_ptr<ui::BarButtonItem>> items = m_toolbar->items();
        items[kLoadingSlot] = loading ? m_loadingItem : m_notLoadingItem;
        if (items != m_toolbar->items()) m_toolbar->setItems(std::move(items));
    }
    m_widgetButtonController->setLoading(loading);
}

void OrbadFullScreenAdViewController::updateToolbar() {
    orbad::OrbadFullScreenWebAdView* web = webAdView();
    if (!web || !m_toolbar || m_toolbar->items().size() <= kForwardSlot) return;
    m_toolbar->items()[kBackSlot]->setEnabled(web->canGoBack());
    m_toolbar->items()[kForwardSlot]->setEnabled(web->canGoForward());
}

void OrbadFullScreenAdViewController::shouldShowToolbar(bool show, bool animated) {
    if (m_toolbarHidden == !show) return;
    m_toolbarHidden = !show;
    const std::shared_ptr<ui::View>& root = view();
    const ui::Size size = root->bounds().size();
    const double h = m_toolbar ? m_toolbar->frame().height : 0;
    if (m_toolbar) {
        m_toolbar->setHidden(false);
        m_toolbar->setFrame({0, show ? size.height - h : size.height, size.width, h});
    }
    const auto place = [&] {
        if (!m_internalAdView) return;
        m_internalAdView->setFrame(show ? ui::Rect{0, 0, size.width, size.height - h} : root->bounds());
    };
    if (animated)
        ui::View::animate({}, place);
    else
        place();
    // Also cancels a hide still pending from an earlier fade out.
    m_widgetButtonController->setButtonVisible(!show, animated);
}

// ---- the view controller ----

void OrbadFullScreenAdViewController::viewDidLoad() {
    const std::shared_ptr<ui::View>& root = view();
    root->setBackgroundColor(ui::Color{1, 1, 1, 1});
    m_widgetButtonController->viewDidLoad(*root);

    m_toolbar = std::make_shared<ui::Toolbar>();
    m_toolbar->setHidden(true);
    root->addSubview(m_toolbar);
    m_toolbar->sizeToFit();
    const ui::Rect bounds = root->bounds();
    const double h = m_toolbar->frame().height;
    m_toolbar->setFrame({0, bounds.height - h, bounds.width, h});
    m_toolbar->setAutoresizingMask(ui::kAutoresizingFlexibleWidth | ui::kAutoresizingFlexibleTopMargin);

    std::weak_ptr<ui::ViewController> weak = weak_from_this();
    const auto act = [weak](void (OrbadFullScreenAdViewController::*method)()) {
        return [weak, method](ui::BarButtonItem&) {
            if (auto self = std::static_pointer_cast<OrbadFullScreenAdViewController>(weak.lock()))
                (self.get()->*method)();
        };
    };
    using Kind = ui::BarButtonItem::Kind;
    orbad::OBResourcesController resources;
    m_notLoadingItem = std::make_shared<ui::BarButtonItem>(Kind::FixedSpace);
    m_notLoadingItem->setWidth(kNotLoadingWidth);
    auto flexible = std::make_shared<ui::BarButtonItem>(Kind::FlexibleSpace);
    m_backItem = std::make_shared<ui::BarButtonItem>(resources.backImage(),
                                                     act(&OrbadFullScreenAdViewController::goBack));
    m_forwardItem = std::make_shared<ui::BarButtonItem>(resources.forwardImage(),
                                                        act(&OrbadFullScreenAdViewController::goForward));
    m_doneItem =
        std::make_shared<ui::BarButtonItem>(Kind::Done, act(&OrbadFullScreenAdViewController::dismissAd));
    m_toolbar->setItems(
        {m_notLoadingItem, flexible, m_backItem, flexible, m_forwardItem, flexible, m_doneItem});

    auto spinnerSlot = std::make_shared<ui::View>(ui::Rect{0, 0, kLoadingWidth, h});
    auto spinner = std::make_shared<ui::ActivityIndicator>(ui::ActivityIndicatorStyle::White);
    ui::Rect frame = spinner->frame();
    frame.x = 0;
    frame.y = std::floor((h - frame.height) * 0.5);
    spinner->setFrame(frame);
    spinner->startAnimating();
    spinnerSlot->addSubview(spinner);
    m_loadingItem = std::make_shared<ui::BarButtonItem>(spinnerSlot);
}

void OrbadFullScreenAdViewController::viewWillAppear(bool animated) {
    (void)animated;
    m_resignActive = plat::foundation::NotificationCenter::defaultCenter().observe(
        ui::kApplicationWillResignActiveNotification, ui::Application::shared(),
        [this](const plat::foundation::Notification&) { applicationWillResignActive(); });
    const std::shared_ptr<ui::View>& root = view();
    if (m_internalAdView) {
        m_internalAdView->setAutoresizesSubviews(true);
        if (!m_internalAdView->superview()) {
            // A new engine takes the room the toolbar leaves: the toolbar outlives the last
            // presentation, and a toolbar page after a toolbar page changes nothing that would
            // move the engine out from under it.
            ui::Rect room = root->bounds();
            if (!m_toolbarHidden && m_toolbar) room.height -= m_toolbar->frame().height;
            m_internalAdView->setFrame(room);
            m_internalAdView->setAutoresizingMask(ui::kAutoresizingFlexibleWidth |
                                                  ui::kAutoresizingFlexibleHeight);
            root->insertSubview(m_internalAdView, 0);
        }
    }
    if (orbad::OrbadFullScreenWebAdView* web = webAdView()) {
        auto self = std::static_pointer_cast<OrbadFullScreenAdViewController>(shared_from_this());
        web->setToolbarDelegate(std::weak_ptr<orbad::OrbadFullScreenWebAdToolbarDelegate>(self));
        web->setWidgetButtonController(m_widgetButtonController);
        shouldShowToolbar(web->needsToolbar(), false);
        updateToolbar();
        setLoading(web->isLoading());
    } else {
        shouldShowToolbar(false, false);
        setLoading(false);
    }
    // Saved once per presentation: coming back from a browser it opened, the bar is hidden by the
    // ad itself, and that is not the state to restore.
    if (!m_wasPresented) m_statusBarHidden = ui::isStatusBarHidden();
    ui::setStatusBarHidden(true);
    m_adIsVisible = true;
    if (!m_wasPresented) {
        m_wasPresented = true;
        if (m_delegate) m_delegate->fullScreenAdViewControllerWillPresentAd(*this);
    }
}

void OrbadFullScreenAdViewController::viewDidAppear(bool) {
    // The older tablets' frame, below system 4.1.
    const plat::sys::Device& device = plat::sys::Device::current();
    if (!m_internalAdView || device.model() == "iPhone" || device.systemVersionFloat() >= 4.1f) return;
    ui::Application* app = ui::Application::shared();
    const bool portrait = !app || app->statusBarOrientation() == ui::kInterfaceOrientationPortrait;
    m_internalAdView->setFrame(portrait ? ui::Rect{1, 1, 766, 1022} : ui::Rect{1, 1, 1022, 766});
    m_internalAdView->setNeedsDisplay();
}

void OrbadFullScreenAdViewController::viewWillDisappear(bool) {
    m_resignActive.remove();
    m_adIsVisible = false;
}

void OrbadFullScreenAdViewController::viewDidDisappear(bool) {
    // Covered by a screen it presented (a browser, a video) it stays displayed; only once it has
    // left the screen, no longer presented, is the ad over.
    if (presentingViewController()) return;
    m_displayingAd = false;
    m_hasAd = false;
    if (orbad::OrbadFullScreenWebAdView* web = webAdView()) web->stopLoading();
    if (ui::Application* app = ui::Application::shared()) app->setNetworkActivityIndicatorVisible(false);
    m_wasPresented = false;
}

void OrbadFullScreenAdViewController::applicationWillResignActive() {
    if (m_adIsVisible) dismissAdAnimated(false);
}

bool OrbadFullScreenAdViewController::shouldAutorotateToInterfaceOrientation(int orientation) const {
    return orientation == m_requestOrientation;
}

unsigned OrbadFullScreenAdViewController::supportedInterfaceOrientations() const {
    if (m_requestOrientation) return 1u << m_requestOrientation;
    ui::ViewController* controller = m_internalAdView ? m_internalAdView->viewController() : nullptr;
    return 1u << (controller ? controller->interfaceOrientation() : interfaceOrientation());
}
