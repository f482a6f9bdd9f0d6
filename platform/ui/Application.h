// The application: its lifecycle, the key window, interface orientation and rotation, touches.
//
// It owns the delegate. Every transition traces "lifecycle <operation>", calls the delegate, then
// posts the notification; the state seen in the call is the platform's (Active during
// willResignActive, Background during willEnterForeground and willTerminate). launch runs
// didFinishLaunching, chooses the interface orientation and runs didBecomeActive in the caller's
// turn. quit resigns, backgrounds, terminates and stops the loop; run then tears down by destroying
// the delegate, so the window, the controllers and the engine state they own go in order. The first
// Application connects platform/sys's report hooks (audio session trace, orientation notification).
//
// The window's coordinates are interface points: a rotation gives the window and every full-screen
// controller view in it the interface bounds (the screen's, swapped for 3 and 4), so touches and view
// dumps read the numbers the driver writes. The status bar's orientation is separate. Presentations
// and rotations do not animate; "animated" only reaches the appearance calls.
//
// Touches: one Touch per finger from down to up, holding the view hit where it began. An event is
// sent in phase sets (began, moved, ended, cancelled), a set per view; a view without multiple touch
// never gets a finger that lands while it holds one; a touch whose began was sent ends or cancels
// exactly once (a resign cancels all first). A finger changing twice in one injected event splits it.
//
// Overlays are views over the key window, each over the interface's bounds: drawn after it, dumped
// after it, hit by touches first (alerts, action sheets). It keeps the alert queue (alerts()), the
// status bar's network activity flag ("ui networkActivity 0|1") and the text input responder: one
// text view in the key window is first responder, and leaving the window resigns it.
//
// The system's URL opener: canOpenURL is YES for what a desktop opens (absolute http and https URLs
// with a host, mailto URLs). openURL refuses a URL starting with "-" (a desktop program would read it
// as an option) or holding a control character ("open refused URL"); text that is no absolute URL
// only logs. Everything else is traced "open URL", and what canOpenURL allows goes to the driver's
// SystemServices (SDL_OpenURL in a window; none headless); other schemes never leave the application
// and openURL answers false, so no caller takes them for opened.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/ui/Responder.h"

namespace plat::foundation {
class RunLoop;
}

namespace plat::ui {

class AlertView;
class Application;
class Compositor;
class TextView;
class View;
class ViewController;
class Window;

enum class ApplicationState { NotRunning, Inactive, Active, Background };

inline constexpr const char* kApplicationDidFinishLaunchingNotification = "UIApplicationDidFinishLaunchingNotification";
inline constexpr const char* kApplicationDidBecomeActiveNotification = "UIApplicationDidBecomeActiveNotification";
inline constexpr const char* kApplicationWillResignActiveNotification = "UIApplicationWillResignActiveNotification";
inline constexpr const char* kApplicationDidEnterBackgroundNotification = "UIApplicationDidEnterBackgroundNotification";
inline constexpr const char* kApplicationWillEnterForegroundNotification = "UIApplicationWillEnterForegroundNotification";
inline constexpr const char* kApplicationWillTerminateNotification = "UIApplicationWillTerminateNotification";
inline constexpr const char* kApplicationDidReceiveMemoryWarningNotification =
    "UIApplicationDidReceiveMemoryWarningNotification";

inline constexpr double kRotationDuration = 0.3;

class ApplicationDelegate {
public:
    virtual ~ApplicationDelegate() = default;
    virtual void didFinishLaunching(Application&) {}
    virtual void didBecomeActive(Application&) {}
    virtual void willResignActive(Application&) {}
    virtual void didEnterBackground(Application&) {}
    virtual void willEnterForeground(Application&) {}
    virtual void willTerminate(Application&) {}
    virtual void didReceiveMemoryWarning(Application&) {}
    // Optional: without an answer the Info.plist's "UISupportedInterfaceOrientations" decides.
    virtual std::optional<unsigned> supportedInterfaceOrientationsForWindow(Application&, Window*) {
        return std::nullopt;
    }
};

// What a driver does with the system's services the application reaches; without one they are
// only recorded.
class SystemServices {
public:
    virtual ~SystemServices() = default;
    // The idle timer (the screensaver, on a desktop) off or on again.
    virtual void setIdleTimerDisabled(bool disabled) = 0;
    // Hands `url` to the system's handler for it; false when none takes it.
    virtual bool openURL(const std::string& url) = 0;
};

// One finger's change in an injected event. A touch's location is in interface points; a move, an
// end or a cancellation without one keeps the last.
struct TouchInput {
    TouchPhase phase;  // Began, Moved, Ended or Cancelled
    int id;            // the driver's name for the finger, from down to up
    std::optional<Point> location;
};

// A scheme (a letter, then letters, digits, "+", "-" or "."), a colon and something after it, in
// the characters URLs are written with: printable ASCII without blanks or any of <>"\^`{|}.
bool isAbsoluteURL(std::string_view url);

// What the system's URL opener takes: Application::canOpenURL, with or without an application.
bool systemCanOpenURL(std::string_view url);

// One per process, on the main thread. Each transition traces "lifecycle <operation>", calls the
// delegate, then posts the matching notification (sender: the application, class UIApplication).
class Application {
public:
    // `loop` (the main loop when null) is the one run() turns and quit() stops.
    explicit Application(std::unique_ptr<ApplicationDelegate> delegate = nullptr,
                         foundation::RunLoop* loop = nullptr);
    ~Application();
    Application(const Application&) = delete;
    Application& operator=(const Application&) = delete;

    static Application* shared();

    ApplicationDelegate* delegate() const { return m_delegate.get(); }
    ApplicationState state() const { return m_state; }
    foundation::RunLoop& runLoop() const { return *m_loop; }

    // didFinishLaunching, the launch orientation, then didBecomeActive, all in the caller's turn (so
    // blocks the delegate queues on the main queue run after both). Once.
    void launch();
    // launch(), the loop until quit() (or until it is stopped, which then quits), then teardown: the
    // delegate is destroyed with what it owns. Returns the exit status, 0.
    int run();
    // Called by run() once the loop has ended and the application terminated, while the window and
    // its views are still there (a driver's last screenshot).
    void setBeforeTeardown(std::function<void()> hook) { m_beforeTeardown = std::move(hook); }

    // What draws the key window (see Compositor.h).
    Compositor& compositor() const { return *m_compositor; }

    // The driver's transitions; each false (nothing done) where it does not apply.
    // Active to Inactive; touches still down are cancelled first.
    bool resignActive();
    // Inactive to Active.
    bool becomeActive();
    // To Background, resigning first when Active.
    bool enterBackground();
    // Background to Inactive to Active.
    bool enterForeground();
    // The delegate, the notification, then each controller of the key window whose view is loaded
    // (the root, then the presented chain). Not while NotRunning.
    bool receiveMemoryWarning();
    // Resigns if Active, enters the background if Inactive, terminates (NotRunning) and stops the
    // loop. The device never came back from termination; here run() then tears down in order.
    void quit();

    Window* keyWindow() const { return m_keyWindow; }

    // The orientation the interface is in (window coordinates follow it): 1 until launched.
    int interfaceOrientation() const { return m_interfaceOrientation; }
    Rect interfaceBounds() const;
    // What the status bar shows: the interface orientation after each rotation, or what the
    // application sets (1 to 4) in between, which turns nothing.
    int statusBarOrientation() const { return m_statusBarOrientation; }
    void setStatusBarOrientation(int orientation, bool animated = false);
    // The delegate's answer, else the Info.plist's list.
    unsigned supportedInterfaceOrientationsForWindow(Window* window) const;
    // That, and the top controller's answer (see ViewController).
    unsigned allowedInterfaceOrientations() const;
    // The top of the key window's controller chain.
    ViewController* topViewController() const;

    // Traces "ui idleTimerDisabled 0|1" on a change.
    bool isIdleTimerDisabled() const { return m_idleTimerDisabled; }
    void setIdleTimerDisabled(bool disabled);
    // The status bar's network activity indicator: traced "ui networkActivity 0|1" on a change.
    bool isNetworkActivityIndicatorVisible() const { return m_networkActivity; }
    void setNetworkActivityIndicatorVisible(bool visible);
    // The system's URL opener. YES for what a desktop opens: absolute http and https URLs with a
    // host, and mailto URLs.
    bool canOpenURL(std::string_view url) const;
    // A different answer for canOpenURL (a test's opener, a desktop that knows more handlers);
    // empty restores the built-in one.
    void setCanOpenURLCheck(std::function<bool(std::string_view)> check) { m_canOpenURLCheck = std::move(check); }
    // A URL starting with "-" or holding a control character is refused (traced "open refused
    // URL"), text that is no absolute URL logged; both give false and go nowhere. Anything else is
    // accepted: recorded, traced "open URL" and, when canOpenURL, handed to the driver's services
    // (headless there are none); true unless they refuse it (logged). What canOpenURL declines
    // (other schemes: "file:", "javascript:", "prefs:root=TWITTER") goes nowhere and gives false.
    bool openURL(const std::string& url);
    // The driver's services (not owned; null: none), told the idle timer's state at once.
    void setSystemServices(SystemServices* services);
    const std::vector<std::string>& openedURLs() const { return m_openedURLs; }

    // Views over the key window, each over the interface's bounds, the last on top: drawn after
    // the window, dumped after it, and the first a touch can hit. Alerts show so.
    void addOverlay(std::shared_ptr<View> view);
    void removeOverlay(const View* view);
    const std::vector<std::shared_ptr<View>>& overlays() const { return m_overlays; }
    // The front-most view on screen that `match` accepts: the overlays top first, then the key
    // window, each front to back; hidden or transparent views and what they hold are passed over.
    View* frontmostView(const std::function<bool(View&)>& match) const;
    // Alerts shown and not yet dismissed, in the order they were shown: the first is on screen.
    const std::vector<std::shared_ptr<AlertView>>& alerts() const { return m_alerts; }

    // The text view that takes the keyboard (its first responder), null when none: where the
    // window driver sends text input (see TextView).
    TextView* textInputResponder() const;

    // One event of the driver: touches are hit-tested in the key window when they begin and sent in
    // phase sets (began, moved, ended, cancelled) to their views. Only while Active; false when no
    // input applied (unknown ids, a second down of one id, no window).
    bool injectTouches(const std::vector<TouchInput>& inputs);
    // Every touch down is cancelled.
    void cancelAllTouches();
    size_t touchCount() const { return m_touches.size(); }

    // The key window's views as JSON lines (see ViewDump.h), written whole to `path`; no window
    // writes an empty file.
    bool dumpViews(const std::string& path, std::string* error = nullptr) const;

private:
    friend class AlertView;
    friend class TextView;
    friend class Window;
    friend class ViewController;
    struct ActiveTouch {
        int id;
        std::shared_ptr<Touch> touch;
    };

    void setKeyWindow(Window* window);
    void transition(const char* operation, void (ApplicationDelegate::*call)(Application&), const char* notification);
    void windowGone(Window* window);
    void finishLaunching();
    void becomeActiveNow();
    void terminate();
    void deviceTurned(int orientation);
    void chooseLaunchOrientation();
    void orientForPresented(ViewController& presented);
    void orientForRevealed(ViewController& revealed);
    void rotateTo(int orientation);
    void setInterfaceOrientation(int orientation);
    void deliver(const std::vector<std::shared_ptr<Touch>>& changed);
    bool hasTouchFor(const View* view) const;

    std::unique_ptr<ApplicationDelegate> m_delegate;
    foundation::RunLoop* m_loop;
    std::unique_ptr<Compositor> m_compositor;
    std::function<void()> m_beforeTeardown;
    ApplicationState m_state = ApplicationState::NotRunning;
    bool m_launched = false;
    bool m_orientationChosen = false;
    bool m_terminating = false;
    Window* m_keyWindow = nullptr;
    int m_interfaceOrientation = 1;
    int m_statusBarOrientation = 1;
    bool m_networkActivity = false;
    bool m_idleTimerDisabled = false;
    std::vector<std::string> m_openedURLs;
    SystemServices* m_services = nullptr;
    std::function<bool(std::string_view)> m_canOpenURLCheck;
    std::vector<std::shared_ptr<View>> m_overlays;
    std::vector<std::shared_ptr<AlertView>> m_alerts;
    std::weak_ptr<View> m_textInput;  // a TextView
    std::vector<ActiveTouch> m_touches;
};

}  // namespace plat::ui
