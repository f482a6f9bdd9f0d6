// The modal in-app browser: a URL or an HTML string in one of four chromes, links that belong to
// other applications handed to the system, "Open in Safari", preloading before it is shown, and
// its opening and closing announced by notifications.
//
// The link decision, in order: the preloaded blank page, "video://" (loaded as http), the
// configuration's native handlers (opened only while the browser is on screen, which then closes),
// then only http, https and the blank page embedded HTML starts from: a local file, data or script
// address is refused and never becomes the page "Open in Safari" offers, which opens web addresses
// alone. Preloading fetches through OBHTTPRequest and answers on the main loop (the request's
// thread waiting unless cancelled first); a page refused or failed is loaded by the web view
// itself. The browser holds itself until its close has been announced. Its presenters refuse a
// browser with no page to show (hasPageToShow) rather than present it blank.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "orbad/core/OrbadJSON.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/RunLoop.h"
#include "platform/ui/ActionSheet.h"
#include "platform/ui/ViewController.h"
#include "platform/ui/WebView.h"

namespace plat::ui {
class BarButtonItem;
class Button;
class NavigationBar;
class Toolbar;
}  // namespace plat::ui

namespace orbad {

class OBBrowserViewController;
class OBBrowserPreloadRelay;

// Posted with the browser as object: as it is about to appear, and 0.1 s after it has gone.
inline constexpr const char* kOBBrowserDidShowNotification = "ORBAD_BROWSER_OPEN";
inline constexpr const char* kOBBrowserDidHideNotification = "ORBAD_BROWSER_CLOSE";
// The blank page a preloading browser's web view starts on.
inline constexpr const char* kOBBrowserPreloadedBlankURL = "about:blank?preloaded=true";

enum OBBrowserStyle { kOBBrowserStyleDefault = 0, kOBBrowserStyleNavigation = 1, kOBBrowserStyleMinimal = 2,
                      kOBBrowserStyleFull = 3 };

// Hears each preload once. Main thread.
class OBBrowserViewControllerDelegate {
public:
    virtual ~OBBrowserViewControllerDelegate() = default;
    virtual void browserFailedToPreload(OBBrowserViewController&, const Error&) {}
    virtual void browserFinishedPreloading(OBBrowserViewController&) {}
};

// Made with std::make_shared, then one of the init operations. Main thread.
class OBBrowserViewController : public plat::ui::ViewController,
                                public plat::ui::WebViewDelegate,
                                public plat::ui::ActionSheetDelegate {
public:
    OBBrowserViewController();
    ~OBBrowserViewController() override;
    const char* className() const override { return "OBBrowserViewController"; }

    static std::shared_ptr<OBBrowserViewController> withURL(const std::string& url, int style = 0);
    // Style 2 unless given; without a base URL the request stays empty.
    static std::shared_ptr<OBBrowserViewController> withHTML(std::string html,
                                                              const std::optional<std::string>& baseURL,
                                                              int style = kOBBrowserStyleMinimal);

    int browserStyle() const { return m_style; }
    const std::string& title() const { return m_title; }
    // The page to show; for HTML the base URL; each clicked link's afterwards.
    const std::string& requestURL() const { return m_requestURL; }
    const std::optional<std::string>& embeddedHTML() const { return m_embeddedHTML; }
    const std::shared_ptr<plat::ui::WebView>& webView() const { return m_webView; }
    const std::shared_ptr<plat::ui::Toolbar>& toolbar() const { return m_toolbar; }
    const std::shared_ptr<plat::ui::NavigationBar>& navigationBar() const { return m_navigationBar; }
    const std::shared_ptr<plat::ui::Button>& closeBox() const { return m_closeBox; }
    const std::shared_ptr<plat::ui::BarButtonItem>& backItem() const { return m_backItem; }
    const std::shared_ptr<plat::ui::BarButtonItem>& forwardItem() const { return m_forwardItem; }
    const std::shared_ptr<plat::ui::BarButtonItem>& actionItem() const { return m_actionItem; }
    // The Done item of the navigation bar, else of the toolbar; null for the minimal chrome.
    std::shared_ptr<plat::ui::BarButtonItem> doneItem() const;
    const std::shared_ptr<plat::ui::ActionSheet>& actionSheet() const { return m_actionSheet; }

    // Embedded HTML, or an address the browser loads as its page (the web, "video://" as http, the
    // blank page): a browser without either would only ever show a blank page, and is never presented.
    bool hasPageToShow() const;

    void setDelegate(std::weak_ptr<OBBrowserViewControllerDelegate> delegate) { m_delegate = std::move(delegate); }
    bool autoDismissOnResignActive() const { return m_autoDismissOnResignActive; }
    void setAutoDismissOnResignActive(bool value) { m_autoDismissOnResignActive = value; }
    bool isPreloading() const { return m_preloading; }
    bool isPreloaded() const { return m_preloaded; }
    bool isVisible() const { return m_visible; }

    void preloadRequest();
    void stopLoading();
    void goBack();
    void goForward();
    void done();
    void showActions();
    void openURLviaApp(const std::string& url);

    // ---- the view controller ----
    void loadView() override;
    void viewDidLoad() override;
    void viewWillAppear(bool animated) override;
    void viewDidAppear(bool animated) override;
    void viewWillDisappear(bool animated) override;
    void viewDidDisappear(bool animated) override;
    unsigned supportedInterfaceOrientations() const override;
    bool shouldAutorotateToInterfaceOrientation(int) const override { return true; }
    void didRotateFromInterfaceOrientation(int fromOrientation) override;

    // ---- the web view and the sheet ----
    bool shouldStartLoad(plat::ui::WebView&, const plat::ui::WebRequest&, plat::ui::WebNavigationType) override;
    void didStartLoad(plat::ui::WebView&) override { updateToolbarItems(); }
    void didFinishLoad(plat::ui::WebView&) override;
    void didFailLoad(plat::ui::WebView&, const plat::foundation::Error&) override { updateToolbarItems(); }
    void actionSheetClickedButton(plat::ui::ActionSheet& sheet, int index) override;

    // The page's window orientation for a status-bar orientation, then, when asked, its event.
    void updateOrientation(int orientation, bool triggerEvent);

private:
    friend class OBBrowserPreloadRelay;
    void applicationWillResignActive();
    void updateToolbarItems();
    void reinjectEmbeddedHTML();
    void loadEmbeddedHTML(const std::optional<std::string>& baseURL);
    // The preload's answer, on the main thread: the page's text, nothing, or the failure.
    void finishPreloading(std::optional<std::string> text, std::optional<Error> error, bool loadRequest);
    void notifyPreloadDelegate(const std::optional<Error>& error);
    void notifyHidden();

    int m_style = kOBBrowserStyleDefault;
    std::string m_title = "Advertisement";
    std::string m_requestURL;
    std::optional<std::string> m_embeddedHTML;
    std::shared_ptr<plat::ui::Toolbar> m_toolbar;
    std::shared_ptr<plat::ui::NavigationBar> m_navigationBar;
    std::shared_ptr<plat::ui::Button> m_closeBox;
    std::shared_ptr<plat::ui::WebView> m_webView;
    std::shared_ptr<plat::ui::BarButtonItem> m_backItem, m_forwardItem, m_actionItem, m_doneItem;
    std::shared_ptr<plat::ui::ActionSheet> m_actionSheet;
    std::weak_ptr<OBBrowserViewControllerDelegate> m_delegate;
    bool m_preloaded = false;
    bool m_preloading = false;
    bool m_autoDismissOnResignActive = false;
    bool m_visible = false;
    bool m_statusBarHidden = false;
    std::shared_ptr<OBBrowserPreloadRelay> m_relay;
    plat::foundation::Observation m_resignActive;
};

}  // namespace orbad
