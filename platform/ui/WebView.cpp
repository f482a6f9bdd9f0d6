#include "platform/ui/WebView.h"

#include <cairo.h>

#include <utility>

#include "platform/foundation/Queue.h"
#include "platform/foundation/RunLoop.h"
#include "platform/sys/Device.h"
#include "platform/ui/Application.h"
#include "platform/ui/Button.h"
#include "platform/ui/Label.h"
#include "platform/ui/UITrace.h"

namespace plat::ui {

using foundation::Clock;
using foundation::WorkInFlight;

namespace {

WebEngineMaker& engineMaker() {
    static WebEngineMaker maker;
    return maker;
}

constexpr double kEvaluationLimit = 1.0;

WebViewObserver* g_observer = nullptr;

std::shared_ptr<WorkInFlight> beginWork() {
    return std::make_shared<WorkInFlight>(Clock::process().beginWork());
}

}  // namespace

bool isWebURL(std::string_view url) {
    auto hasScheme = [url](std::string_view scheme) {
        if (url.size() <= scheme.size() || url[scheme.size()] != ':') return false;
        for (std::size_t i = 0; i < scheme.size(); ++i)
            if ((url[i] | 0x20) != scheme[i]) return false;
        return true;
    };
    return hasScheme("http") || hasScheme("https");
}

bool isBlankPageURL(std::string_view url) {
    const std::string_view blank = kBlankPage;
    return url.starts_with(blank) && (url.size() == blank.size() || url[blank.size()] == '?' || url[blank.size()] == '#');
}

void WebView::setObserver(WebViewObserver* observer) {
    g_observer = observer;
}

void setWebEngineMaker(WebEngineMaker maker) {
    engineMaker() = std::move(maker);
}

WebView::WebView() {
    setBackgroundColor(Color{1, 1, 1, 1});
    ensureEngine();
}

WebView::WebView(const Rect& frame) : View(frame) {
    setBackgroundColor(Color{1, 1, 1, 1});
    ensureEngine();
}

WebView::WebView(const Rect& frame, WebCookieAcceptPolicy cookiePolicy) : View(frame), m_cookiePolicy(cookiePolicy) {
    setBackgroundColor(Color{1, 1, 1, 1});
    ensureEngine();
}

WebView::~WebView() {
    *m_alive = false;
    m_engine.reset();  // before the members its calls reach
}

WebEngine* WebView::ensureEngine() {
    if (!m_engineTried) {
        m_engineTried = true;
        if (engineMaker()) m_engine = engineMaker()(*this);
        if (m_engine) configureEngine();
    }
    if (m_engine) updateViewport();
    return m_engine.get();
}

void WebView::updateViewport() {
    const Rect b = bounds();
    const double scale = sys::Screen::main().scale();
    if (b.width == m_viewport[0] && b.height == m_viewport[1] && scale == m_viewport[2]) return;
    m_viewport[0] = b.width;
    m_viewport[1] = b.height;
    m_viewport[2] = scale;
    m_engine->setViewport(b.width, b.height, scale);
}

void WebView::post(std::function<void(WebView&, WebViewDelegate&)> call) {
    foundation::mainAsync([alive = m_alive, this, call = std::move(call)] {
        if (*alive && m_delegate) call(*this, *m_delegate);
    });
}

void WebView::load(const std::string& url) {
    loadRequest(WebRequest{url});
}

void WebView::loadRequest(const WebRequest& request) {
    foundation::trace(kTraceWeb, [&] { return "load " + traceable(request.url); });
    m_address = request.url;
    setNeedsDisplay();
    WebEngine* engine = ensureEngine();
    if (!engine) return;
    // Our own load is a navigation like any other: nothing loads until the delegate allows it.
    decide(request, WebNavigationType::Other, true, [alive = m_alive, this, request](bool allowed) {
        if (!allowed || !*alive || !m_engine) return;
        handOver();
        m_hasPage = true;
        m_engine->loadRequest(request);
    });
}

void WebView::loadHTMLString(const std::string& html, const std::string& baseURL) {
    if (WebEngine* engine = ensureEngine()) {
        handOver();
        m_hasPage = true;
        engine->loadHTMLString(html, baseURL);
    }
}

void WebView::stopLoading() {
    if (m_engine) m_engine->stopLoading();
    m_loadWork.reset();
}

// Emptying the document is not enough on every engine: a new document ends the old one's life.
void WebView::closePage() {
    if (!m_engine || !std::exchange(m_hasPage, false)) return;
    m_engine->stopLoading();
    m_loadWork.reset();
    m_closing = true;
    m_engine->loadHTMLString("", kBlankPage);
}

void WebView::reload() {
    handOver();
    if (m_engine) m_engine->reload();
}

void WebView::goBack() {
    handOver();
    if (m_engine) m_engine->goBack();
}

void WebView::goForward() {
    handOver();
    if (m_engine) m_engine->goForward();
}

bool WebView::canGoBack() const {
    return m_engine && m_engine->canGoBack();
}

bool WebView::canGoForward() const {
    return m_engine && m_engine->canGoForward();
}

bool WebView::isLoading() const {
    return m_engine && m_engine->isLoading();
}

std::string WebView::currentURL() const {
    return m_engine ? m_engine->currentURL() : m_address;
}

std::string WebView::userAgent() {
    WebEngine* engine = ensureEngine();
    return engine ? engine->userAgent() : std::string();
}

std::string WebView::stringByEvaluatingJavaScript(const std::string& script) {
    WebEngine* engine = ensureEngine();
    if (!engine) return "";
    auto work = beginWork();
    if (g_observer) g_observer->webViewEvaluates(*this, script);
    return engine->evaluate(script, kEvaluationLimit);
}

void WebView::setDocumentStartScript(std::string script) {
    m_startScript = std::move(script);
    if (g_observer) g_observer->webViewSetsStartScript(*this, m_startScript);
    if (WebEngine* engine = ensureEngine()) engine->setDocumentStartScript(m_startScript);
}

void WebView::evaluateJavaScript(const std::string& script, std::function<void(const std::string&)> done) {
    WebEngine* engine = ensureEngine();
    if (!engine) {
        foundation::mainAsync([done = std::move(done)] {
            if (done) done("");
        });
        return;
    }
    if (g_observer) g_observer->webViewEvaluates(*this, script);
    engine->evaluateAsync(script, [alive = m_alive, work = beginWork(), done = std::move(done)](std::string result) {
        foundation::mainAsync([alive, work, done, result = std::move(result)] {
            if (*alive && done) done(result);
        });
    });
}

void WebView::setScalesPageToFit(bool scales) {
    m_scalesPageToFit = scales;
    if (m_engine) m_engine->setScalesPageToFit(scales);
}

void WebView::setAllowsInlineMediaPlayback(bool allows) {
    m_inlineMedia = allows;
    if (m_engine) m_engine->setMediaPolicy(m_inlineMedia, m_mediaNeedsAction);
}

void WebView::setMediaPlaybackRequiresUserAction(bool required) {
    m_mediaNeedsAction = required;
    if (m_engine) m_engine->setMediaPolicy(m_inlineMedia, m_mediaNeedsAction);
}

void WebView::setOpaque(bool opaque) {
    m_opaque = opaque;
    if (m_engine) m_engine->setPageBackground(m_opaque, m_pageBackground);
}

void WebView::setPageBackgroundColor(std::optional<Color> color) {
    m_pageBackground = color;
    if (m_engine) m_engine->setPageBackground(m_opaque, m_pageBackground);
}

void WebView::setScrollEnabled(bool enabled) {
    m_scrollEnabled = enabled;
    if (m_engine) m_engine->setScrollEnabled(enabled);
}

void WebView::setContentOffset(Point offset) {
    m_contentOffset = offset;
    if (m_engine) m_engine->setScrollOffset(offset);
}

void WebView::setCookieAcceptPolicy(WebCookieAcceptPolicy policy) {
    m_cookiePolicy = policy;
    if (m_engine) m_engine->setCookieAcceptPolicy(policy);
}

// Only what was asked for: an engine's own defaults stand (on WPE, views of one web process may
// share their settings, so pushing defaults would change the others').
void WebView::configureEngine() {
    if (m_cookiePolicy) m_engine->setCookieAcceptPolicy(*m_cookiePolicy);
}

void WebView::engineDidScroll(Point offset) {
    foundation::mainAsync([alive = m_alive, this, offset] {
        if (!*alive) return;
        m_contentOffset = offset;
        if (m_didScroll) m_didScroll(*this);
    });
}

void WebView::engineDecide(const WebRequest& request, WebNavigationType type, std::function<void(bool)> answer) {
    decide(request, type, false, std::move(answer));
}

void WebView::decide(const WebRequest& request, WebNavigationType type, bool own,
                     std::function<void(bool)> answer) {
    // Kept until the delegate's answer is in; allowed when nobody asks. A page being closed goes
    // nowhere but to the empty page.
    foundation::mainAsync([alive = m_alive, this, request, type, own, answer = std::move(answer),
                           work = beginWork()] {
        bool allowed = true;
        if (*alive && m_closing && !own) {
            allowed = isBlankPageURL(request.url);
        } else if (*alive && m_delegate) {
            allowed = m_delegate->shouldStartLoad(*this, request, type);
            if (g_observer && *alive) g_observer->webViewDecided(*this, request, type, allowed);
        }
        answer(allowed && *alive);
    });
}

// A page's load is its server's and its own scripts' to end, maybe never: held as a transfer, it
// keeps a virtual clock to real time rather than holding each jump for a task's grace.
void WebView::engineDidStart() {
    if (m_closing) return;
    m_loadWork = std::make_shared<WorkInFlight>(Clock::process().beginWork(foundation::WorkKind::Transfer));
    post([](WebView& view, WebViewDelegate& delegate) { delegate.didStartLoad(view); });
}

void WebView::engineDidFinish() {
    if (m_closing) return;
    post([work = std::move(m_loadWork)](WebView& view, WebViewDelegate& delegate) { delegate.didFinishLoad(view); });
}

void WebView::engineDidFail(const foundation::Error& error) {
    if (error.domain == kWebPageEndedErrorDomain) m_hasPage = false;  // nothing left to close
    if (m_closing) return;
    post([work = std::move(m_loadWork), error](WebView& view, WebViewDelegate& delegate) {
        delegate.didFailLoad(view, error);
    });
}

void WebView::engineDidDraw() {
    setNeedsDisplay();
}

WebView* WebView::closableOnScreen() {
    Application* app = Application::shared();
    View* found = app ? app->frontmostView([](View& view) {
        auto* web = dynamic_cast<WebView*>(&view);
        return web && web->closeControl();
    })
                      : nullptr;
    return static_cast<WebView*>(found);
}

// The page's own pixels at the screen's scale, from the top left corner: a frame the engine drew
// for another size (a resize still on its way) shows as it was, never stretched over the view.
void WebView::draw(cairo_t* cr) {
    const Rect b = bounds();
    if (m_engine) {
        updateViewport();
        cairo_surface_t* frame = m_engine->frame();
        if (!frame) return;
        const int w = cairo_image_surface_get_width(frame), h = cairo_image_surface_get_height(frame);
        if (w <= 0 || h <= 0) return;
        const double scale = m_viewport[2] > 0 ? m_viewport[2] : 1;
        cairo_save(cr);
        cairo_rectangle(cr, 0, 0, b.width, b.height);
        cairo_clip(cr);
        cairo_scale(cr, 1 / scale, 1 / scale);
        cairo_set_source_surface(cr, frame, 0, 0);
        cairo_paint(cr);
        cairo_restore(cr);
        return;
    }
    if (m_address == kBlankPage) return;
    drawText(cr, m_address, Font{"Helvetica", 15}, Color{0.35, 0.35, 0.35, 1},
             {12, 0, b.width - 24, b.height}, TextAlignment::Center, 0);
}

std::optional<std::string> WebView::dumpText() const {
    if (m_address.empty()) return std::nullopt;
    return m_address;
}

void WebView::layoutSubviews() {
    // The page lays itself out for the view's size as soon as it has one, not at the next drawing.
    if (m_engine) updateViewport();
}

void WebView::forwardTouches(const TouchSet& touches) {
    if (!m_engine) return;
    updateViewport();  // the scale the engine turns points into pixels by
    for (const auto& touch : touches)
        if (touch->view() == this) m_engine->pointer(touch->locationInView(this), touch->phase());
}

void WebView::touchesBegan(const TouchSet& touches, const Event& event) {
    if (m_engine) return forwardTouches(touches);
    View::touchesBegan(touches, event);
}

void WebView::touchesMoved(const TouchSet& touches, const Event& event) {
    if (m_engine) return forwardTouches(touches);
    View::touchesMoved(touches, event);
}

void WebView::touchesEnded(const TouchSet& touches, const Event& event) {
    if (m_engine) return forwardTouches(touches);
    View::touchesEnded(touches, event);
}

void WebView::touchesCancelled(const TouchSet& touches, const Event& event) {
    if (m_engine) return forwardTouches(touches);
    View::touchesCancelled(touches, event);
}

}  // namespace plat::ui
