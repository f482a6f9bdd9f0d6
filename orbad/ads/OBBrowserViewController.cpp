#include "orbad/ads/OBBrowserViewController.h"

#include <algorithm>
#include <condition_variable>
#include <mutex>

#include "orbad/ads/OBBannerHost.h"
#include "orbad/core/OBResourcesController.h"
#include "orbad/core/http/OBHTTPRequest.h"
#include "platform/ui/Application.h"
#include "platform/ui/Bars.h"
#include "platform/ui/Button.h"
#include "platform/ui/Orientation.h"
#include "platform/ui/StatusBar.h"
#include "platform/ui/WebView.h"

namespace orbad {

using plat::foundation::NotificationCenter;
using plat::foundation::RunLoop;
namespace ui = plat::ui;

namespace {

constexpr double kHiddenNotificationDelay = 0.1;
constexpr double kNativeHandlerDoneDelay = 1.0;
constexpr const char* kOrientationEvent =
    "var e = document.createEvent('Events'); e.initEvent('orientationChanged', 'false', 'false'); "
    "document.dispatchEvent(e);";

std::string lowered(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

}  // namespace

// The preload's delegate. It holds the browser weakly and hands the answer to the main loop,
// waiting for it unless the request is cancelled before the loop takes it up (a main thread that
// cancels requests and joins their threads would otherwise wait for a thread waiting for it).
class OBBrowserPreloadRelay : public OBHTTPRequestDelegate {
public:
    explicit OBBrowserPreloadRelay(std::weak_ptr<ui::ViewController> browser) : m_browser(std::move(browser)) {}

    void requestDidFinish(OBCoreHTTPRequest& request) override {
        const int status = request.responseStatusCode();
        if (status == 200 || status == 201) {
            std::string text = request.responseString();
            onMain(request, [&](OBBrowserViewController& b) {
                b.m_preloaded = false;
                b.finishPreloading(std::move(text), std::nullopt, false);
            });
        } else {
            onMain(request, [&](OBBrowserViewController& b) {
                b.m_preloaded = true;
                b.finishPreloading(std::nullopt, std::nullopt, true);
            });
        }
    }

    void requestDidFail(OBCoreHTTPRequest& request, const Error& error) override {
        onMain(request, [&](OBBrowserViewController& b) {
            b.m_preloaded = false;
            b.finishPreloading(std::nullopt, error, true);
        });
    }

private:
    void onMain(OBCoreHTTPRequest& request, const std::function<void(OBBrowserViewController&)>& fn) {
        request.performOnMainAndWait([&fn, target = m_browser] {
            if (auto live = std::static_pointer_cast<OBBrowserViewController>(target.lock())) fn(*live);
        });
    }

    const std::weak_ptr<ui::ViewController> m_browser;
};

OBBrowserViewController::OBBrowserViewController() {
    m_resignActive = NotificationCenter::defaultCenter().observe(
        ui::kApplicationWillResignActiveNotification, ui::Application::shared(),
        [this](const auto&) { applicationWillResignActive(); });
}

OBBrowserViewController::~OBBrowserViewController() {
    RunLoop::main().cancelPerforms(this);
    if (m_relay) OBCoreHTTPRequest::cancelRequestsForDelegate(m_relay.get());
    if (m_webView) m_webView->setDelegate(nullptr);
    if (m_actionSheet) {
        m_actionSheet->setDelegate(nullptr);
        m_actionSheet->dismissWithClickedButtonIndex(m_actionSheet->cancelButtonIndex(), false);
    }
}

std::shared_ptr<OBBrowserViewController> OBBrowserViewController::withURL(const std::string& url, int style) {
    auto browser = std::make_shared<OBBrowserViewController>();
    browser->m_style = style;
    browser->m_requestURL = url;
    return browser;
}

std::shared_ptr<OBBrowserViewController> OBBrowserViewController::withHTML(std::string html,
                                                                           const std::optional<std::string>& baseURL,
                                                                           int style) {
    auto browser = std::make_shared<OBBrowserViewController>();
    if (baseURL) browser->m_requestURL = *baseURL;
    browser->m_style = style;
    browser->m_embeddedHTML = std::move(html);
    return browser;
}

bool OBBrowserViewController::hasPageToShow() const {
    return m_embeddedHTML || ui::isWebURL(m_requestURL) || ui::isBlankPageURL(m_requestURL) ||
           lowered(m_requestURL).starts_with("video://");
}

std::shared_ptr<ui::BarButtonItem> OBBrowserViewController::doneItem() const {
    if (m_navigationBar && m_navigationBar->topItem()) return m_navigationBar->topItem()->rightBarButtonItem();
    return m_doneItem;
}

void OBBrowserViewController::loadView() {
    ViewController::loadView();
    const std::shared_ptr<ui::View>& root = view();
    root->setAutoresizingMask(ui::kAutoresizingFlexibleWidth | ui::kAutoresizingFlexibleHeight);
    const ui::Rect bounds = root->bounds();
    std::weak_ptr<ui::ViewController> weak = weak_from_this();
    auto act = [weak](void (OBBrowserViewController::*method)()) {
        return [weak, method](ui::BarButtonItem&) {
            if (auto self = std::static_pointer_cast<OBBrowserViewController>(weak.lock())) (self.get()->*method)();
        };
    };
    double top = 0, bottom = 0;
    if (m_style == kOBBrowserStyleNavigation || m_style == kOBBrowserStyleFull) {
        auto item = std::make_shared<ui::NavigationItem>(m_title);
        item->setRightBarButtonItem(
            std::make_shared<ui::BarButtonItem>(ui::BarButtonItem::Kind::Done, act(&OBBrowserViewController::done)));
        m_navigationBar = std::make_shared<ui::NavigationBar>();
        m_navigationBar->pushNavigationItem(item);
        m_navigationBar->setFrame({0, 0, bounds.width, 0});
        m_navigationBar->sizeToFit();
        m_navigationBar->setFrame({0, 0, bounds.width, m_navigationBar->frame().height});
        m_navigationBar->setAutoresizingMask(ui::kAutoresizingFlexibleWidth | ui::kAutoresizingFlexibleBottomMargin);
        root->addSubview(m_navigationBar);
        top = m_navigationBar->frame().height;
    }
    if (m_style == kOBBrowserStyleDefault || m_style == kOBBrowserStyleFull) {
        OBResourcesController resources;
        if (!m_backItem)
            m_backItem = std::make_shared<ui::BarButtonItem>(resources.backImage(), act(&OBBrowserViewController::goBack));
        if (!m_forwardItem)
            m_forwardItem =
                std::make_shared<ui::BarButtonItem>(resources.forwardImage(), act(&OBBrowserViewController::goForward));
        m_actionItem = std::make_shared<ui::BarButtonItem>(ui::BarButtonItem::Kind::Action,
                                                           act(&OBBrowserViewController::showActions));
        m_toolbar = std::make_shared<ui::Toolbar>();
        root->addSubview(m_toolbar);
        m_toolbar->setFrame({0, 0, bounds.width, 0});
        m_toolbar->sizeToFit();
        const double h = m_toolbar->frame().height;
        m_toolbar->setFrame({0, bounds.height - h, bounds.width, h});
        m_toolbar->setAutoresizingMask(ui::kAutoresizingFlexibleWidth | ui::kAutoresizingFlexibleTopMargin);
        auto flexible = [] { return std::make_shared<ui::BarButtonItem>(ui::BarButtonItem::Kind::FlexibleSpace); };
        std::vector<std::shared_ptr<ui::BarButtonItem>> items;
        if (m_style == kOBBrowserStyleDefault) {
            auto fixed = std::make_shared<ui::BarButtonItem>(ui::BarButtonItem::Kind::FixedSpace);
            fixed->setWidth(40);
            items.push_back(fixed);
        }
        items.insert(items.end(), {flexible(), m_backItem, flexible(), m_actionItem, flexible(), m_forwardItem, flexible()});
        if (m_style == kOBBrowserStyleDefault) {
            m_doneItem =
                std::make_shared<ui::BarButtonItem>(ui::BarButtonItem::Kind::Done, act(&OBBrowserViewController::done));
            items.push_back(m_doneItem);
        }
        m_toolbar->setItems(std::move(items));
        bottom = h;
    }
    m_webView = std::make_shared<ui::WebView>(ui::Rect{bounds.x, top, bounds.width, bounds.height - top - bottom});
    m_webView->setAutoresizingMask(ui::kAutoresizingFlexibleWidth | ui::kAutoresizingFlexibleHeight);
    m_webView->setDelegate(this);
    m_webView->setScalesPageToFit(true);
    m_webView->setMediaPlaybackRequiresUserAction(false);
    m_webView->setAllowsInlineMediaPlayback(true);
    root->addSubview(m_webView);
    if (m_style == kOBBrowserStyleMinimal) {
        std::shared_ptr<ui::Image> image = OBResourcesController().closeBoxImage();
        const ui::Size size = image ? image->size() : ui::Size{0, 0};
        m_closeBox = std::make_shared<ui::Button>(ui::Rect{2, 2, size.width, size.height});
        m_closeBox->setImage(image);
        m_closeBox->addTarget(this, [weak](ui::Button&) {
            if (auto self = std::static_pointer_cast<OBBrowserViewController>(weak.lock())) self->done();
        });
        m_webView->setCloseControl(m_closeBox);
        root->addSubview(m_closeBox);
    }
}

void OBBrowserViewController::viewDidLoad() {
    if (!m_preloaded) {
        if (m_embeddedHTML && m_requestURL != kOBBrowserPreloadedBlankURL)
            loadEmbeddedHTML(m_requestURL);
        else if (!m_requestURL.empty())
            m_webView->loadRequest({m_requestURL});
    }
    m_preloaded = false;
}

void OBBrowserViewController::loadEmbeddedHTML(const std::optional<std::string>& baseURL) {
    if (m_embeddedHTML && m_webView) m_webView->loadHTMLString(*m_embeddedHTML, baseURL.value_or(""));
}

void OBBrowserViewController::reinjectEmbeddedHTML() {
    // With the request's address as base, as the preload's own load had it: relative links keep working.
    loadEmbeddedHTML(m_requestURL);
}

void OBBrowserViewController::stopLoading() {
    if (m_webView) m_webView->stopLoading();
}
void OBBrowserViewController::goBack() {
    if (m_webView) m_webView->goBack();
}
void OBBrowserViewController::goForward() {
    if (m_webView) m_webView->goForward();
}

void OBBrowserViewController::done() { dismissViewController(true); }

void OBBrowserViewController::openURLviaApp(const std::string& url) {
    if (ui::Application* app = ui::Application::shared()) app->openURL(url);
}

bool OBBrowserViewController::shouldStartLoad(ui::WebView& webView, const ui::WebRequest& request,
                                              ui::WebNavigationType type) {
    const std::string& url = request.url;
    if (url == kOBBrowserPreloadedBlankURL) {
        auto self = shared_from_this();
        RunLoop::main().performAfter(0.001, this, [self, this] { reinjectEmbeddedHTML(); });
        return true;
    }
    const std::string low = lowered(url);
    if (low.starts_with("video://")) {
        webView.loadRequest({"http://" + url.substr(8), request.cachePolicy, request.timeout});
        return false;
    }
    if (isNativeHandlerURL(url)) {
        // A page fetched before anyone sees it must not launch another application unseen.
        if (!m_visible) return false;
        auto self = shared_from_this();
        RunLoop::main().performAfter(kNativeHandlerDoneDelay, this, [self, this] { done(); });
        openURLviaApp(url);
        return false;
    }
    // Only the web, and the empty page embedded HTML starts from: a local file, data or script
    // address is refused like a page that cannot load, and never becomes the page to open outside.
    if (!ui::isWebURL(url) && !ui::isBlankPageURL(url)) return false;
    if (type == ui::WebNavigationType::LinkClicked) m_requestURL = url;
    return true;
}

void OBBrowserViewController::didFinishLoad(ui::WebView&) {
    updateToolbarItems();
    if (ui::Application* app = ui::Application::shared()) updateOrientation(app->statusBarOrientation(), false);
}

void OBBrowserViewController::updateToolbarItems() {
    if (!m_webView) return;
    if (ui::Application* app = ui::Application::shared())
        app->setNetworkActivityIndicatorVisible(m_webView->isLoading());
    if (m_toolbar) {
        m_backItem->setEnabled(m_webView->canGoBack());
        m_forwardItem->setEnabled(m_webView->canGoForward());
    }
}

void OBBrowserViewController::updateOrientation(int orientation, bool triggerEvent) {
    if (!m_webView) return;
    const char* degrees = nullptr;
    switch (orientation) {
        case ui::kInterfaceOrientationPortrait: degrees = "0"; break;
        case ui::kInterfaceOrientationPortraitUpsideDown: degrees = "180"; break;
        case ui::kInterfaceOrientationLandscapeRight: degrees = "90"; break;
        case ui::kInterfaceOrientationLandscapeLeft: degrees = "-90"; break;
    }
    if (degrees)
        m_webView->stringByEvaluatingJavaScript(std::string("window.__defineGetter__('orientation',function() {return ") +
                                                degrees + ";});");
    if (triggerEvent) m_webView->stringByEvaluatingJavaScript(kOrientationEvent);
}

unsigned OBBrowserViewController::supportedInterfaceOrientations() const { return ui::kInterfaceOrientationMaskAll; }

void OBBrowserViewController::didRotateFromInterfaceOrientation(int) {
    if (ui::Application* app = ui::Application::shared()) updateOrientation(app->statusBarOrientation(), true);
}

void OBBrowserViewController::showActions() {
    if (m_actionSheet && m_actionSheet->isVisible()) {
        m_actionSheet->dismissWithClickedButtonIndex(m_actionSheet->cancelButtonIndex(), true);
        return;
    }
    if (m_actionSheet) m_actionSheet->setDelegate(nullptr);
    // The desktop has no popovers: the sheet always rises from the toolbar, with its cancel button.
    m_actionSheet = std::make_shared<ui::ActionSheet>(std::nullopt, this, "Cancel",
                                                      std::vector<std::string>{"Open in Safari"});
    if (m_toolbar) m_actionSheet->showFromToolbar(*m_toolbar);
}

void OBBrowserViewController::actionSheetClickedButton(ui::ActionSheet& sheet, int index) {
    if (index == 0 && index != sheet.cancelButtonIndex() && ui::isWebURL(m_requestURL)) openURLviaApp(m_requestURL);
}

void OBBrowserViewController::preloadRequest() {
    if (!isViewLoaded()) {
        std::string real = m_requestURL;
        m_requestURL = kOBBrowserPreloadedBlankURL;
        view();
        m_requestURL = std::move(real);
    }
    m_preloading = true;
    if (m_embeddedHTML) {
        loadEmbeddedHTML(m_requestURL);
        return;
    }
    if (!m_relay) m_relay = std::make_shared<OBBrowserPreloadRelay>(weak_from_this());
    OBHTTPRequest::create(m_requestURL, m_relay)->startAsynchronous();
}

void OBBrowserViewController::finishPreloading(std::optional<std::string> text, std::optional<Error> error,
                                               bool loadRequest) {
    if (text) m_embeddedHTML = std::move(*text);
    if (m_embeddedHTML)
        loadEmbeddedHTML(m_requestURL);
    else if (loadRequest && m_webView && !m_requestURL.empty())
        m_webView->loadRequest({m_requestURL});  // nothing fetched: the page loads itself, not a blank
    auto self = shared_from_this();
    RunLoop::main().perform([self, this, error = std::move(error)] { notifyPreloadDelegate(error); });
}

void OBBrowserViewController::notifyPreloadDelegate(const std::optional<Error>& error) {
    std::shared_ptr<OBBrowserViewControllerDelegate> delegate = m_delegate.lock();
    if (!m_preloading) return;
    m_preloading = false;
    if (error) {
        m_preloaded = false;
        if (delegate) delegate->browserFailedToPreload(*this, *error);
    } else {
        m_preloaded = true;
        if (delegate) delegate->browserFinishedPreloading(*this);
    }
}

void OBBrowserViewController::viewWillAppear(bool) {
    if (auto host = bannerHost()) host->setInModalAd(true);
    NotificationCenter::defaultCenter().post(kOBBrowserDidShowNotification, {this, "OBBrowserViewController"});
    m_statusBarHidden = ui::isStatusBarHidden();
    ui::setStatusBarHidden(true);
}

void OBBrowserViewController::viewDidAppear(bool) { m_visible = true; }

void OBBrowserViewController::viewWillDisappear(bool animated) {
    m_visible = false;
    if (m_actionSheet) {
        m_actionSheet->setDelegate(nullptr);
        m_actionSheet->dismissWithClickedButtonIndex(m_actionSheet->cancelButtonIndex(), animated);
        m_actionSheet.reset();
    }
    ui::setStatusBarHidden(m_statusBarHidden);
}

void OBBrowserViewController::viewDidDisappear(bool) {
    // The browser keeps itself for the notification: nothing else may hold it by then.
    auto self = shared_from_this();
    RunLoop::main().performAfter(kHiddenNotificationDelay, nullptr, [self] {
        static_cast<OBBrowserViewController&>(*self).notifyHidden();
    });
    if (ui::Application* app = ui::Application::shared()) app->setNetworkActivityIndicatorVisible(false);
    if (auto host = bannerHost()) host->setInModalAd(false);
}

void OBBrowserViewController::notifyHidden() {
    NotificationCenter::defaultCenter().post(kOBBrowserDidHideNotification, {this, "OBBrowserViewController"});
}

void OBBrowserViewController::applicationWillResignActive() {
    if (m_visible && m_autoDismissOnResignActive) dismissViewController(false);
}

}  // namespace orbad
