// The web view: a page at an address, shown by the page engine installed with setWebEngineMaker
// (platform/web), or, with none installed, by its address alone.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/foundation/Clock.h"
#include "platform/foundation/Error.h"
#include "platform/ui/View.h"

typedef struct _cairo_surface cairo_surface_t;

namespace plat::ui {

class Button;
class WebView;

inline constexpr const char* kBlankPage = "about:blank";
// The domain of a failed load's HTTP status (the status is the code).
inline constexpr const char* kWebHTTPErrorDomain = "plat.web.http";
// The domain of a page gone with its web process, loaded or not: code 1 crashed, 2 past its
// memory, 3 stopped answering.
inline constexpr const char* kWebPageEndedErrorDomain = "plat.web";

// An address on the web: scheme http or https, in any case. What ads and content pages may load:
// a page taken to a local file, a data or script address would show what no server sent.
bool isWebURL(std::string_view url);
// The empty page ("about:blank", a query or fragment after it allowed): loads nothing.
bool isBlankPageURL(std::string_view url);

enum class WebCachePolicy { UseProtocolCachePolicy, ReloadIgnoringCache, ReturnCacheDataElseLoad,
                            ReturnCacheDataDontLoad };

struct WebRequest {
    std::string url;
    WebCachePolicy cachePolicy = WebCachePolicy::UseProtocolCachePolicy;
    double timeout = 60;
};

// The platform's navigation types, by value.
enum class WebNavigationType { LinkClicked = 0, FormSubmitted = 1, BackForward = 2, Reload = 3,
                               FormResubmitted = 4, Other = 5 };

// Which cookies a web view's cookie context keeps, by the platform's values.
enum class WebCookieAcceptPolicy { Always = 0, Never = 1, OnlyFromMainDocumentDomain = 2 };

// Called as main-queue work, in the engine's order, never inside a call of the web view.
class WebViewDelegate {
public:
    virtual ~WebViewDelegate() = default;
    virtual bool shouldStartLoad(WebView&, const WebRequest&, WebNavigationType) { return true; }
    virtual void didStartLoad(WebView&) {}
    virtual void didFinishLoad(WebView&) {}
    virtual void didFailLoad(WebView&, const foundation::Error&) {}
};

// The web view's side of its engine. Calls come on the main thread, from the engine's own events.
class WebEngineHost {
public:
    virtual ~WebEngineHost() = default;
    // A navigation of any frame, the engine's own loads included; `answer` is called once, later.
    virtual void engineDecide(const WebRequest& request, WebNavigationType type,
                              std::function<void(bool allowed)> answer) = 0;
    // The main frame's load.
    virtual void engineDidStart() = 0;
    virtual void engineDidFinish() = 0;
    virtual void engineDidFail(const foundation::Error& error) = 0;
    // A new frame is in.
    virtual void engineDidDraw() = 0;
    // The page scrolled to `offset` (points from its top left corner).
    virtual void engineDidScroll(Point) {}
    // The cookie policy the view was made with: an engine that can gives such a view a cookie
    // context of its own. None: the shared context, as it is.
    virtual std::optional<WebCookieAcceptPolicy> engineCookiePolicy() const { return std::nullopt; }
    // The view is in a window: a page the engine would end there is still the user's to see.
    virtual bool engineShown() const { return true; }
};

// What shows the pages of one web view. The web view asks the delegate first: a load handed here
// is allowed.
class WebEngine {
public:
    virtual ~WebEngine() = default;
    virtual void loadRequest(const WebRequest& request) = 0;
    virtual void loadHTMLString(const std::string& html, const std::string& baseURL) = 0;
    virtual void stopLoading() = 0;
    virtual void reload() = 0;
    virtual void goBack() = 0;
    virtual void goForward() = 0;
    virtual bool canGoBack() const = 0;
    virtual bool canGoForward() const = 0;
    virtual bool isLoading() const = 0;
    virtual std::string currentURL() const = 0;
    // The result as text ("" for undefined, null, an exception or no page); waits `limit` seconds
    // at most, on the engine alone.
    virtual std::string evaluate(const std::string& script, double limit) = 0;
    // This engine's synchronous evaluations that waited out their limit unanswered, and those
    // answered "" without a wait, the page being known not to answer (what tests read).
    struct EvaluationCounts {
        int waitedOut = 0;
        int notWaited = 0;
    };
    virtual EvaluationCounts evaluationCounts() const { return {}; }
    virtual void evaluateAsync(const std::string& script, std::function<void(std::string)> done) = 0;
    // The viewport: points and the screen's scale.
    virtual void setViewport(double width, double height, double scale) = 0;
    // The latest frame (ARGB premultiplied), null before the first.
    virtual cairo_surface_t* frame() const = 0;
    // A pointer event at a view-local point.
    virtual void pointer(Point location, TouchPhase phase) = 0;
    virtual void setScalesPageToFit(bool) {}
    // What the page's navigator.userAgent answers, known without a page.
    virtual std::string userAgent() const { return {}; }
    // Media in the page: played inline (not full screen), and only once the user asks.
    virtual void setMediaPolicy(bool /*inline*/, bool /*requiresUserAction*/) {}
    // The page's own background under its content: none when `opaque` is off, else `color`.
    virtual void setPageBackground(bool /*opaque*/, const std::optional<Color>& /*color*/) {}
    // Scrolling by the user, and the page's offset.
    virtual void setScrollEnabled(bool) {}
    virtual void setScrollOffset(Point) {}
    // This engine's own cookie context only: other web views keep theirs.
    virtual void setCookieAcceptPolicy(WebCookieAcceptPolicy) {}
    // Run by every later document of the main frame before any script of its own ("": none).
    virtual void setDocumentStartScript(const std::string&) {}
};

// What a tool watching every web view of the process sees (its happenings): each navigation its
// delegate decided, and each script handed to an engine.
class WebViewObserver {
public:
    virtual ~WebViewObserver() = default;
    virtual void webViewDecided(WebView&, const WebRequest&, WebNavigationType, bool /*allowed*/) {}
    virtual void webViewEvaluates(WebView&, const std::string& /*script*/) {}
    virtual void webViewSetsStartScript(WebView&, const std::string& /*script*/) {}
};

using WebEngineMaker = std::function<std::unique_ptr<WebEngine>(WebEngineHost&)>;
// Web views made from now on use engines of this maker (null: none, the address shows).
void setWebEngineMaker(WebEngineMaker maker);

// Made with std::make_shared.
class WebView : public View, private WebEngineHost {
public:
    WebView();
    explicit WebView(const Rect& frame);
    // With cookies of its own: the page engine gives the view a cookie context apart from the one
    // the application's other web views share, accepting by `cookiePolicy`.
    WebView(const Rect& frame, WebCookieAcceptPolicy cookiePolicy);
    ~WebView() override;
    const char* className() const override { return "UIWebView"; }

    // Traced "web load URL"; the same as loadRequest with the default policy and time-out.
    void load(const std::string& url);
    void loadRequest(const WebRequest& request);
    void loadHTMLString(const std::string& html, const std::string& baseURL);
    void stopLoading();
    // Ends what the page runs, its timers, workers and fetches with it (a document merely emptied
    // keeps them): the empty page takes its place, unheard by the delegate and the observer. Only
    // that page may load until the view is given its next load, which shows as usual.
    void closePage();
    void reload();
    void goBack();
    void goForward();
    bool canGoBack() const;
    bool canGoForward() const;
    bool isLoading() const;
    // The page's address; the last one asked for while no engine stands behind the view.
    std::string currentURL() const;
    const std::string& address() const { return m_address; }

    // The engine's user agent (navigator.userAgent), asked without loading a page; "" without an
    // engine.
    std::string userAgent();

    // Waits for the engine alone, 1 s at most; "" at once from a page that left a script
    // unanswered that long (the engine then ends the page's process).
    std::string stringByEvaluatingJavaScript(const std::string& script);
    // A script every document the view shows from now on runs before its own ("": none): what a
    // page must find defined when its first script runs.
    void setDocumentStartScript(std::string script);
    const std::string& documentStartScript() const { return m_startScript; }
    void evaluateJavaScript(const std::string& script, std::function<void(const std::string&)> done);

    bool scalesPageToFit() const { return m_scalesPageToFit; }
    void setScalesPageToFit(bool scales);
    // Recorded: the engine has no counterpart.
    bool suppressesIncrementalRendering() const { return m_suppressesIncrementalRendering; }
    void setSuppressesIncrementalRendering(bool value) { m_suppressesIncrementalRendering = value; }
    bool keyboardDisplayRequiresUserAction() const { return m_keyboardDisplayRequiresUserAction; }
    void setKeyboardDisplayRequiresUserAction(bool value) { m_keyboardDisplayRequiresUserAction = value; }
    const std::string& accessibilityLabel() const { return m_accessibilityLabel; }
    void setAccessibilityLabel(std::string label) { m_accessibilityLabel = std::move(label); }

    // Media: inline playback (off unless set) and playback only on a user's action (on unless set).
    // These and the page's background and scrolling reach the engine when set; until then the
    // engine's own defaults stand.
    bool allowsInlineMediaPlayback() const { return m_inlineMedia; }
    void setAllowsInlineMediaPlayback(bool allows);
    bool mediaPlaybackRequiresUserAction() const { return m_mediaNeedsAction; }
    void setMediaPlaybackRequiresUserAction(bool required);
    // Opaque (the default) draws the page's background, the view's background colour under it.
    bool isOpaque() const { return m_opaque; }
    void setOpaque(bool opaque);
    void setPageBackgroundColor(std::optional<Color> color);
    // The page's scrolling: whether the user may, where it is, and a hook for each change the
    // page reports (main queue).
    bool isScrollEnabled() const { return m_scrollEnabled; }
    void setScrollEnabled(bool enabled);
    Point contentOffset() const { return m_contentOffset; }
    void setContentOffset(Point offset);
    void setDidScroll(std::function<void(WebView&)> hook) { m_didScroll = std::move(hook); }
    // The policy of the view's own cookie context (none: it uses the shared one, whose policy no
    // web view changes).
    std::optional<WebCookieAcceptPolicy> cookieAcceptPolicy() const { return m_cookiePolicy; }
    void setCookieAcceptPolicy(WebCookieAcceptPolicy policy);

    // Not owned.
    WebViewDelegate* delegate() const { return m_delegate; }
    void setDelegate(WebViewDelegate* delegate) { m_delegate = delegate; }

    // The control that closes the page, made by what shows it (not owned): what the input
    // script's "web.close" presses.
    std::shared_ptr<Button> closeControl() const { return m_closeControl.lock(); }
    void setCloseControl(const std::shared_ptr<Button>& control) { m_closeControl = control; }
    // The front-most web view on screen that has a close control; null when none.
    static WebView* closableOnScreen();

    // Not owned; null: none.
    static void setObserver(WebViewObserver* observer);

    // Null when no engine stands behind the view.
    WebEngine* engine() const { return m_engine.get(); }

    bool drawsContent() const override { return true; }
    void draw(cairo_t* cr) override;
    void layoutSubviews() override;
    std::optional<std::string> dumpText() const override;
    void touchesBegan(const TouchSet& touches, const Event& event) override;
    void touchesMoved(const TouchSet& touches, const Event& event) override;
    void touchesEnded(const TouchSet& touches, const Event& event) override;
    void touchesCancelled(const TouchSet& touches, const Event& event) override;

private:
    void engineDecide(const WebRequest& request, WebNavigationType type,
                      std::function<void(bool)> answer) override;
    void engineDidStart() override;
    void engineDidFinish() override;
    void engineDidFail(const foundation::Error& error) override;
    void engineDidDraw() override;
    void engineDidScroll(Point offset) override;
    // `own`: the view's own load, which the delegate decides even while a page is being closed.
    void decide(const WebRequest& request, WebNavigationType type, bool own, std::function<void(bool)> answer);
    // A load of the view's own goes to the engine: the closed page's news ends there.
    void handOver() { m_closing = false; }
    std::optional<WebCookieAcceptPolicy> engineCookiePolicy() const override { return m_cookiePolicy; }
    bool engineShown() const override { return window() != nullptr; }
    // What the view was told before its engine was made.
    void configureEngine();
    // Delegate calls run as main-queue work, in the order posted, and only while the view lives.
    void post(std::function<void(WebView&, WebViewDelegate&)> call);
    WebEngine* ensureEngine();
    void updateViewport();
    void forwardTouches(const TouchSet& touches);

    std::string m_address;
    std::weak_ptr<Button> m_closeControl;
    WebViewDelegate* m_delegate = nullptr;
    std::unique_ptr<WebEngine> m_engine;
    bool m_engineTried = false;
    double m_viewport[3] = {0, 0, 0};
    // The main frame's load under way: client work in flight (decisions and evaluations hold
    // their own).
    std::shared_ptr<foundation::WorkInFlight> m_loadWork;
    bool m_hasPage = false;
    // closePage's empty page is on its way in: the engine's news of it is nobody's.
    bool m_closing = false;
    bool m_scalesPageToFit = false;
    bool m_suppressesIncrementalRendering = false;
    bool m_keyboardDisplayRequiresUserAction = true;
    std::string m_accessibilityLabel;
    bool m_inlineMedia = false;
    bool m_mediaNeedsAction = true;
    bool m_opaque = true;
    std::optional<Color> m_pageBackground;
    bool m_scrollEnabled = true;
    Point m_contentOffset{0, 0};
    std::function<void(WebView&)> m_didScroll;
    std::optional<WebCookieAcceptPolicy> m_cookiePolicy;
    std::string m_startScript;
    std::shared_ptr<bool> m_alive = std::make_shared<bool>(true);
};

}  // namespace plat::ui
