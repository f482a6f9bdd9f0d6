#include "platform/ui/Application.h"

#include <algorithm>
#include <cassert>
#include <cstdio>
#include <map>

#include "platform/foundation/Bundle.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/RunLoop.h"
#include "platform/services/devices/MediaServiceFiles.h"
#include "platform/sys/AtomicFile.h"
#include "platform/sys/Device.h"
#include "platform/sys/Report.h"
#include "platform/ui/AlertView.h"
#include "platform/ui/Compositor.h"
#include "platform/ui/TextView.h"
#include "platform/ui/UITrace.h"
#include "platform/ui/ViewController.h"
#include "platform/ui/ViewDump.h"
#include "platform/ui/Window.h"

namespace plat::ui {

foundation::TraceCategory kTraceLifecycle("lifecycle");
foundation::TraceCategory kTraceUI("ui");
foundation::TraceCategory kTraceOpen("open");
foundation::TraceCategory kTraceAlert("alert");
foundation::TraceCategory kTraceWeb("web");
foundation::TraceCategory kTraceText("text");

std::string traceable(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte >= 0x20 && byte != 0x7f) {
            out += c;
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\r') {
            out += "\\r";
        } else if (c == '\t') {
            out += "\\t";
        } else {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02x", byte);
            out += hex;
        }
    }
    return out;
}

namespace {

Application* g_shared = nullptr;

// platform/sys stands below the foundation; its trace lines and notifications come out here.
void connectSystemReports() {
    static bool connected = false;
    if (connected) return;
    connected = true;
    sys::setReportHooks({
        [](std::string_view category, std::string_view text) {
            // One category object per name, made on first use and kept.
            static std::map<std::string, std::unique_ptr<foundation::TraceCategory>, std::less<>> categories;
            auto it = categories.find(category);
            if (it == categories.end()) {
                it = categories.emplace(std::string(category), nullptr).first;
                it->second = std::make_unique<foundation::TraceCategory>(it->first.c_str());
            }
            foundation::trace(*it->second, text);
        },
        [](const char* name, const void* sender, const char* className) {
            foundation::NotificationCenter::defaultCenter().post(name, foundation::Sender{sender, className});
        },
    });
}

bool systemSixOrLater() {
    return sys::Device::current().systemVersionFloat() >= 6.0f;
}

unsigned controllerMask(const ViewController& controller) {
    if (systemSixOrLater()) return controller.supportedInterfaceOrientations();
    unsigned mask = 0;
    for (int o = kInterfaceOrientationPortrait; o <= kInterfaceOrientationLandscapeLeft; ++o)
        if (controller.shouldAutorotateToInterfaceOrientation(o)) mask |= 1u << o;
    return mask;
}

// The scheme of an absolute URL, lower case; empty for anything else.
std::string urlScheme(std::string_view url) {
    if (!isAbsoluteURL(url)) return {};
    std::string scheme(url.substr(0, url.find(':')));
    for (char& c : scheme)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return scheme;
}

// Never handed to a desktop program, whose command line could read it as an option or split it.
bool isRefusedURL(std::string_view url) {
    return url.starts_with('-') || std::any_of(url.begin(), url.end(), [](char c) {
               return static_cast<unsigned char>(c) < 0x20 || c == 0x7f;
           });
}

int firstAllowed(unsigned mask, std::initializer_list<int> order) {
    for (int o : order)
        if (maskAllows(mask, o)) return o;
    return 0;
}

}  // namespace

bool isAbsoluteURL(std::string_view url) {
    const size_t colon = url.find(':');
    if (colon == std::string_view::npos || colon == 0 || colon + 1 == url.size()) return false;
    auto letter = [](char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); };
    auto digit = [](char c) { return c >= '0' && c <= '9'; };
    if (!letter(url[0])) return false;
    for (char c : url.substr(1, colon - 1))
        if (!letter(c) && !digit(c) && c != '+' && c != '-' && c != '.') return false;
    constexpr std::string_view kUnwritten = "<>\"\\^`{|}";
    for (char c : url)
        if (c <= ' ' || c >= 0x7f || kUnwritten.find(c) != std::string_view::npos) return false;
    return true;
}

Application::Application(std::unique_ptr<ApplicationDelegate> delegate, foundation::RunLoop* loop)
    : m_delegate(std::move(delegate)),
      m_loop(loop ? loop : &foundation::RunLoop::main()),
      m_compositor(std::make_unique<Compositor>(*this)) {
    assert(!g_shared && "one application at a time");
    g_shared = this;
    connectSystemReports();
    // The phone's media services, present where the container configures their stand-ins.
    devices::registerMediaServices();
    sys::Device::current().setOrientationObserver([this](int o) { deviceTurned(o); });
}

Application::~Application() {
    m_alerts.clear();
    m_overlays.clear();
    m_touches.clear();
    m_delegate.reset();  // what it owns may still ask for the application as it goes
    m_compositor.reset();
    sys::Device::current().setOrientationObserver(nullptr);
    g_shared = nullptr;
}

Application* Application::shared() {
    return g_shared;
}

void Application::transition(const char* operation, void (ApplicationDelegate::*call)(Application&),
                             const char* notification) {
    foundation::trace(kTraceLifecycle, operation);
    if (m_delegate) (m_delegate.get()->*call)(*this);
    foundation::NotificationCenter::defaultCenter().post(notification, foundation::Sender{this, "UIApplication"});
}

void Application::launch() {
    if (m_launched) return;
    m_launched = true;
    m_state = ApplicationState::Inactive;
    transition("didFinishLaunching", &ApplicationDelegate::didFinishLaunching,
               kApplicationDidFinishLaunchingNotification);
    if (m_state != ApplicationState::Inactive) return;  // quit while launching
    chooseLaunchOrientation();
    becomeActiveNow();
}

int Application::run() {
    launch();
    // A quit during the launch has already stopped the loop, so this returns at once.
    m_loop->run();
    if (m_state != ApplicationState::NotRunning) terminate();
    if (m_beforeTeardown) m_beforeTeardown();
    m_alerts.clear();
    m_overlays.clear();
    m_touches.clear();
    m_delegate.reset();
    m_keyWindow = nullptr;
    return 0;
}

void Application::becomeActiveNow() {
    m_state = ApplicationState::Active;
    transition("didBecomeActive", &ApplicationDelegate::didBecomeActive, kApplicationDidBecomeActiveNotification);
}

bool Application::resignActive() {
    if (m_state != ApplicationState::Active) return false;
    cancelAllTouches();
    transition("willResignActive", &ApplicationDelegate::willResignActive, kApplicationWillResignActiveNotification);
    m_state = ApplicationState::Inactive;
    return true;
}

bool Application::becomeActive() {
    if (m_state != ApplicationState::Inactive) return false;
    becomeActiveNow();
    return true;
}

bool Application::enterBackground() {
    if (m_state == ApplicationState::Active) resignActive();
    if (m_state != ApplicationState::Inactive) return false;
    m_state = ApplicationState::Background;
    transition("didEnterBackground", &ApplicationDelegate::didEnterBackground,
               kApplicationDidEnterBackgroundNotification);
    return true;
}

bool Application::enterForeground() {
    if (m_state != ApplicationState::Background) return false;
    transition("willEnterForeground", &ApplicationDelegate::willEnterForeground,
               kApplicationWillEnterForegroundNotification);
    m_state = ApplicationState::Inactive;
    becomeActiveNow();
    return true;
}

bool Application::receiveMemoryWarning() {
    if (m_state == ApplicationState::NotRunning) return false;
    transition("didReceiveMemoryWarning", &ApplicationDelegate::didReceiveMemoryWarning,
               kApplicationDidReceiveMemoryWarningNotification);
    if (!m_keyWindow) return true;
    std::vector<std::shared_ptr<ViewController>> loaded;
    for (ViewController* c : m_keyWindow->controllerChain())
        if (c->isViewLoaded()) loaded.push_back(c->shared_from_this());
    for (auto& c : loaded) c->didReceiveMemoryWarning();
    return true;
}

void Application::terminate() {
    if (m_terminating) return;
    m_terminating = true;
    if (m_state == ApplicationState::Active) resignActive();
    if (m_state == ApplicationState::Inactive) {
        m_state = ApplicationState::Background;
        transition("didEnterBackground", &ApplicationDelegate::didEnterBackground,
                   kApplicationDidEnterBackgroundNotification);
    }
    transition("willTerminate", &ApplicationDelegate::willTerminate, kApplicationWillTerminateNotification);
    m_state = ApplicationState::NotRunning;
}

void Application::quit() {
    if (m_state != ApplicationState::NotRunning) terminate();
    m_loop->stop();
}

void Application::windowGone(Window* window) {
    if (m_keyWindow == window) setKeyWindow(nullptr);
}

void Application::setKeyWindow(Window* window) {
    m_keyWindow = window;
    Compositor::setNeedsCommit();
}

// Orientation.

Rect Application::interfaceBounds() const {
    return ui::interfaceBounds(m_interfaceOrientation);
}

void Application::setStatusBarOrientation(int orientation, bool) {
    if (isInterfaceOrientation(orientation)) m_statusBarOrientation = orientation;
}

unsigned Application::supportedInterfaceOrientationsForWindow(Window* window) const {
    if (m_delegate)
        if (auto answer = m_delegate->supportedInterfaceOrientationsForWindow(*const_cast<Application*>(this), window))
            return *answer;
    const foundation::Bundle* bundle = foundation::Bundle::main();
    return interfaceOrientationMaskForInfoList(bundle ? bundle->infoValue(kSupportedInterfaceOrientationsKey) : nullptr);
}

ViewController* Application::topViewController() const {
    if (!m_keyWindow) return nullptr;
    std::vector<ViewController*> chain = m_keyWindow->controllerChain();
    return chain.empty() ? nullptr : chain.back();
}

unsigned Application::allowedInterfaceOrientations() const {
    unsigned mask = supportedInterfaceOrientationsForWindow(m_keyWindow) & kInterfaceOrientationMaskAll;
    if (ViewController* top = topViewController()) mask &= controllerMask(*top);
    return mask;
}

void Application::setInterfaceOrientation(int orientation) {
    m_interfaceOrientation = m_statusBarOrientation = orientation;
    if (m_keyWindow) {
        m_keyWindow->setFrame(interfaceBounds());
        m_keyWindow->layOutControllerViews();
    }
    for (const auto& overlay : std::vector(m_overlays)) overlay->setFrame(interfaceBounds());
    Compositor::setNeedsCommit();
    foundation::tracef(kTraceUI, "rotate %d", orientation);
}

void Application::chooseLaunchOrientation() {
    m_orientationChosen = true;
    unsigned allowed = allowedInterfaceOrientations();
    int chosen = 0;
    int device = sys::Device::current().orientation();
    ViewController* root = m_keyWindow ? m_keyWindow->rootViewController() : nullptr;
    if (maskAllows(allowed, device))
        chosen = device;
    else if (root && maskAllows(allowed, root->preferredInterfaceOrientationForPresentation()))
        chosen = root->preferredInterfaceOrientationForPresentation();
    else
        chosen = firstAllowed(allowed, {1, 3, 4, 2});
    // No common orientation: the interface stays as it is.
    setInterfaceOrientation(chosen ? chosen : m_interfaceOrientation);
}

void Application::rotateTo(int orientation) {
    int from = m_interfaceOrientation;
    std::vector<std::shared_ptr<ViewController>> targets;
    if (ViewController* top = topViewController()) targets.push_back(top->shared_from_this());
    ViewController* root = m_keyWindow ? m_keyWindow->rootViewController() : nullptr;
    if (root && (targets.empty() || targets[0].get() != root) && root->isViewLoaded() &&
        root->view()->window() == m_keyWindow)
        targets.push_back(root->shared_from_this());
    for (auto& t : targets) t->willRotateToInterfaceOrientation(orientation, kRotationDuration);
    setInterfaceOrientation(orientation);
    for (auto& t : targets) t->didRotateFromInterfaceOrientation(from);
}

void Application::deviceTurned(int orientation) {
    if (!m_orientationChosen || m_state == ApplicationState::NotRunning) return;
    if (orientation == m_interfaceOrientation || !maskAllows(allowedInterfaceOrientations(), orientation)) return;
    ViewController* top = topViewController();
    if (top && systemSixOrLater() && !top->shouldAutorotate()) return;
    rotateTo(orientation);
}

void Application::orientForPresented(ViewController& presented) {
    if (!m_orientationChosen || !m_keyWindow || presented.view()->window() != m_keyWindow) return;
    unsigned allowed = allowedInterfaceOrientations();
    if (maskAllows(allowed, m_interfaceOrientation)) return;
    int preferred = presented.preferredInterfaceOrientationForPresentation();
    int to = maskAllows(allowed, preferred) ? preferred : firstAllowed(allowed, {1, 2, 3, 4});
    if (to) rotateTo(to);
}

void Application::orientForRevealed(ViewController& revealed) {
    if (!m_orientationChosen || !m_keyWindow || revealed.view()->window() != m_keyWindow) return;
    unsigned allowed = allowedInterfaceOrientations();
    if (maskAllows(allowed, m_interfaceOrientation)) return;
    int device = sys::Device::current().orientation();
    int preferred = revealed.preferredInterfaceOrientationForPresentation();
    int to = maskAllows(allowed, device)      ? device
             : maskAllows(allowed, preferred) ? preferred
                                              : firstAllowed(allowed, {1, 2, 3, 4});
    if (to) rotateTo(to);
}

// The rest.

void Application::setNetworkActivityIndicatorVisible(bool visible) {
    if (visible == m_networkActivity) return;
    m_networkActivity = visible;
    foundation::trace(kTraceUI, visible ? "networkActivity 1" : "networkActivity 0");
}

void Application::setIdleTimerDisabled(bool disabled) {
    if (disabled == m_idleTimerDisabled) return;
    m_idleTimerDisabled = disabled;
    foundation::trace(kTraceUI, disabled ? "idleTimerDisabled 1" : "idleTimerDisabled 0");
    if (m_services) m_services->setIdleTimerDisabled(disabled);
}

bool Application::canOpenURL(std::string_view url) const {
    if (m_canOpenURLCheck) return !isRefusedURL(url) && m_canOpenURLCheck(url);
    return systemCanOpenURL(url);
}

bool systemCanOpenURL(std::string_view url) {
    if (isRefusedURL(url)) return false;
    const std::string scheme = urlScheme(url);
    if (scheme == "mailto") return true;
    if (scheme != "http" && scheme != "https") return false;
    // "//" and a host: the authority's first character is neither its end nor an empty user.
    const std::string_view rest = url.substr(scheme.size() + 1);
    return rest.starts_with("//") && rest.size() > 2 &&
           std::string_view("/?#@:").find(rest[2]) == std::string_view::npos;
}

bool Application::openURL(const std::string& url) {
    if (isRefusedURL(url)) {
        foundation::trace(kTraceOpen, [&] { return "refused " + traceable(url); });
        return false;
    }
    if (!isAbsoluteURL(url)) {
        foundation::log("open: not an absolute URL: \"%s\"", url.c_str());
        return false;
    }
    m_openedURLs.push_back(url);
    foundation::trace(kTraceOpen, url);
    // A caller told yes would take a file: or javascript: URL for handled and look no further.
    if (!canOpenURL(url)) return false;
    if (!m_services || m_services->openURL(url)) return true;
    foundation::log("open: the desktop did not open %s", url.c_str());
    return false;
}

void Application::setSystemServices(SystemServices* services) {
    m_services = services;
    if (m_services) m_services->setIdleTimerDisabled(m_idleTimerDisabled);
}

void Application::addOverlay(std::shared_ptr<View> view) {
    if (!view) return;
    removeOverlay(view.get());
    view->removeFromSuperview();
    view->setFrame(interfaceBounds());
    m_overlays.push_back(std::move(view));
    Compositor::setNeedsCommit();
}

void Application::removeOverlay(const View* view) {
    if (std::erase_if(m_overlays, [view](const std::shared_ptr<View>& o) { return o.get() == view; }))
        Compositor::setNeedsCommit();
}

namespace {
View* frontmostIn(View& view, const std::function<bool(View&)>& match) {
    if (view.isHidden() || view.alpha() < 0.01) return nullptr;
    const auto& subviews = view.subviews();
    for (auto sub = subviews.rbegin(); sub != subviews.rend(); ++sub)
        if (View* found = frontmostIn(**sub, match)) return found;
    return match(view) ? &view : nullptr;
}
}  // namespace

View* Application::frontmostView(const std::function<bool(View&)>& match) const {
    for (auto o = m_overlays.rbegin(); o != m_overlays.rend(); ++o)
        if (View* found = frontmostIn(**o, match)) return found;
    return m_keyWindow ? frontmostIn(*m_keyWindow, match) : nullptr;
}

TextView* Application::textInputResponder() const {
    return static_cast<TextView*>(m_textInput.lock().get());
}

bool Application::dumpViews(const std::string& path, std::string* error) const {
    std::string dump = m_keyWindow ? dumpViewTree(*m_keyWindow) : std::string();
    for (const auto& overlay : m_overlays) dump += dumpViewTree(*overlay);
    if (sys::writeFileAtomically(path, dump)) return true;
    if (error) *error = "cannot write " + path;
    return false;
}

// Touches.

bool Application::hasTouchFor(const View* view) const {
    return std::any_of(m_touches.begin(), m_touches.end(), [view](const ActiveTouch& a) {
        return a.touch->m_view.get() == view && a.touch->m_deliverable && !a.touch->m_finished;
    });
}

bool Application::injectTouches(const std::vector<TouchInput>& inputs) {
    if (m_state != ApplicationState::Active || !m_keyWindow) return false;
    std::vector<std::shared_ptr<Touch>> changed;
    bool applied = false;
    for (const TouchInput& input : inputs) {
        auto it = std::find_if(m_touches.begin(), m_touches.end(), [&](const ActiveTouch& a) { return a.id == input.id; });
        std::shared_ptr<Touch> touch = it != m_touches.end() ? it->touch : nullptr;
        // A finger changing twice in one event: what came before goes out as an event of its own.
        if (touch && std::find(changed.begin(), changed.end(), touch) != changed.end()) {
            deliver(changed);
            changed.clear();
            if (m_state != ApplicationState::Active) break;  // a handler resigned: the rest is cancelled
            it = std::find_if(m_touches.begin(), m_touches.end(), [&](const ActiveTouch& a) { return a.id == input.id; });
            touch = it != m_touches.end() ? it->touch : nullptr;
        }
        if (input.phase == TouchPhase::Began) {
            if (touch || !input.location || !m_keyWindow) continue;
            touch = std::make_shared<Touch>();
            touch->m_location = touch->m_previous = *input.location;
            touch->m_phase = TouchPhase::Began;
            View* hit = nullptr;
            for (auto o = m_overlays.rbegin(); o != m_overlays.rend() && !hit; ++o)
                hit = (*o)->hitTest(*input.location, nullptr);
            if (!hit) hit = m_keyWindow->hitTest(*input.location, nullptr);
            if (hit) {
                touch->m_view = hit->weak_from_this().lock();
                touch->m_deliverable = touch->m_view && (hit->isMultipleTouchEnabled() || !hasTouchFor(hit));
            }
            m_touches.push_back({input.id, touch});
        } else if (input.phase == TouchPhase::Moved || input.phase == TouchPhase::Ended ||
                   input.phase == TouchPhase::Cancelled) {
            if (!touch) continue;
            touch->m_previous = touch->m_location;
            if (input.location) touch->m_location = *input.location;
            touch->m_phase = input.phase;
            if (input.phase != TouchPhase::Moved) m_touches.erase(it);
        } else {
            continue;
        }
        touch->m_timestamp = m_loop->now();
        changed.push_back(touch);
        applied = true;
    }
    deliver(changed);
    return applied;
}

void Application::cancelAllTouches() {
    std::vector<std::shared_ptr<Touch>> changed;
    for (ActiveTouch& a : m_touches) {
        a.touch->m_previous = a.touch->m_location;
        a.touch->m_phase = TouchPhase::Cancelled;
        a.touch->m_timestamp = m_loop->now();
        // One whose began is still to be sent (a handler of the same event cancels) is never sent.
        if (!a.touch->m_began) a.touch->m_finished = true;
        changed.push_back(a.touch);
    }
    m_touches.clear();
    deliver(changed);
}

void Application::deliver(const std::vector<std::shared_ptr<Touch>>& changed) {
    if (changed.empty()) return;
    TouchSet all;
    for (ActiveTouch& a : m_touches) {
        if (std::find(changed.begin(), changed.end(), a.touch) == changed.end()) a.touch->m_phase = TouchPhase::Stationary;
        all.push_back(a.touch);
    }
    for (const auto& t : changed)
        if (std::find(all.begin(), all.end(), t) == all.end()) all.push_back(t);
    const Event event(m_loop->now(), all);

    // Phases as they stand now: a handler may change the application (a resign cancels) meanwhile.
    std::vector<TouchPhase> phases;
    for (const auto& t : changed) phases.push_back(t->m_phase);
    for (TouchPhase phase : {TouchPhase::Began, TouchPhase::Moved, TouchPhase::Ended, TouchPhase::Cancelled}) {
        std::vector<std::pair<std::shared_ptr<View>, TouchSet>> groups;  // views in order of first touch
        for (size_t i = 0; i < changed.size(); ++i) {
            const auto& t = changed[i];
            if (phases[i] != phase || !t->m_deliverable) continue;
            auto g = std::find_if(groups.begin(), groups.end(), [&](const auto& p) { return p.first == t->m_view; });
            if (g == groups.end()) g = groups.insert(groups.end(), {t->m_view, {}});
            g->second.push_back(t);
        }
        for (auto& [view, touches] : groups) {
            // Each began touch is sent once, and ends or cancels once.
            std::erase_if(touches, [phase](const std::shared_ptr<Touch>& t) {
                return t->m_finished || (phase == TouchPhase::Began ? t->m_began : !t->m_began);
            });
            if (touches.empty()) continue;
            for (auto& t : touches) {
                if (phase == TouchPhase::Began) t->m_began = true;
                if (phase == TouchPhase::Ended || phase == TouchPhase::Cancelled) t->m_finished = true;
            }
            switch (phase) {
            case TouchPhase::Began: view->touchesBegan(touches, event); break;
            case TouchPhase::Moved: view->touchesMoved(touches, event); break;
            case TouchPhase::Ended: view->touchesEnded(touches, event); break;
            default: view->touchesCancelled(touches, event); break;
            }
        }
    }
}

}  // namespace plat::ui
