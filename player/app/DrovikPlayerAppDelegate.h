// The application's delegate: the launch (analytics, the window, the scene-loading indicator, the
// game view controller under the start-up screen), the game's load once the start-up screen is up,
// play once both the intro and the load are done, the indicator around scene loads, the
// orientation answers and the lifecycle's reports to the clients.
//
// The launch reports "firstLaunch" once (kept in the user defaults) and "appLaunch"; the metrics
// session key is built from "DKUserID" and "DKAppID", each part "null" unless a non-empty string of
// Unicode letters, marks, digits and "-" (GLib's g_unichar_type). It makes the black window with the
// controller as root (save path <home>/Documents/), the loading indicator and the transparent game
// view, and presents the start-up screen. "DKIntroScreenFinished" queues the load of the last
// "gameproj" resource on the main queue; the second of the load's end and the intro's end starts
// play: the screen is dismissed, the game view fades in ("fadeInGameView"), the controller plays,
// reachability starts, "playGame" is tracked, and the screen is released 1 s later (a delayed call
// cancelled in the destructor). Traces under "startup". A missing engine script, a view without GL
// context, a bundle without game project, or a script whose initEngine, loadProject or
// loadInitialScene fails or is missing, end the run with status 1 and the one line that says so
// (standard error). One warning line each, and the run goes on, for an Info.plist orientation that
// is none of the four known names, and for a loaded game whose script defines no update. Its
// termination ends the player's clients: the analytics drain, then the ad client's requests.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/Value.h"
#include "player/app/DKOrientationAnswers.h"
#include "player/app/DKStartUpViewController.h"
#include "player/controller/DKGameViewController.h"

class DKLoadingSpinner;
class DKReachability;
class DKRoundedRectView;

namespace plat::ui {
class Window;
}

inline constexpr const char* DKIntroScreenFinishedNotification = kDKIntroScreenFinishedNotification;
inline constexpr const char* DKSceneDidChangeNotification = "DKSceneDidChangeNotification";
inline constexpr const char* DKAppWillHibernateNotification = "DKAppWillHibernate";
inline constexpr double DKIPhoneActivityIndicatorAlpha = 0.5;

class DrovikPlayerAppDelegate : public DKOrientationAnswers,
                                public DKGameViewControllerDelegate,
                                public DKStartUpClient {
public:
    struct Options {
        bool probePlugin = false;  // each game load also makes the probe plugin
        // Set to 1 when the launch cannot lead to a game (the application has quit by then).
        int* exitStatus = nullptr;
    };

    DrovikPlayerAppDelegate();
    explicit DrovikPlayerAppDelegate(Options options);
    ~DrovikPlayerAppDelegate() override;

    // The application's delegate when it is this class, else null.
    static DrovikPlayerAppDelegate* shared();

    void didFinishLaunching(plat::ui::Application& app) override;
    void didBecomeActive(plat::ui::Application& app) override;
    void willEnterForeground(plat::ui::Application& app) override;
    void didEnterBackground(plat::ui::Application& app) override;
    void willTerminate(plat::ui::Application& app) override;

    plat::ui::Window* window() const { return m_window.get(); }
    DKGameViewController* gameViewController() const { return m_gameViewController.get(); }
    plat::ui::ViewController* startUpViewController() const { return m_startUpViewController.get(); }

    // The intro/game handshake: whichever of the two comes second starts play, once.
    bool introFinished() const { return m_introFinished; }
    void setIntroFinished(bool finished) override;
    bool gameReady() const { return m_gameReady; }
    void setGameReady(bool ready);

    // The scene-loading indicator, as the controller's delegate.
    void gameLoadingWillStart(DKGameViewController& controller) override;
    void gameLoadingWillEnd(DKGameViewController& controller) override;
    void displayActivityIndicator(DKGameViewController& controller);
    void hideActivityIndicator(DKGameViewController& controller);
    bool isActiveIndicatorDisplayed() const { return m_isActiveIndicatorDisplayed; }
    // 41 x 41 points in the bottom-right corner of the screen in that orientation.
    static plat::ui::Rect activityIndicatorFrameForInterfaceOrientation(int orientation);

    // A non-empty string of Unicode letters, marks, digits and "-"; anything else (absent, not a
    // string) is not.
    static bool isValidStringFor(const plat::foundation::Value* value);
    // "<user>-<app>" from "DKUserID" and "DKAppID", each "null" unless valid.
    static std::string metricsSessionKey();
    // The end of the clients, once the application's run is over and the host has disarmed the
    // input script (so no command due at the quit plays while the loop turns): what willTerminate
    // closed and uploaded gets `drainSeconds` real seconds to be acknowledged, unless a quit signal
    // came or comes (what is not acknowledged stays stored for the next launch), then the ad client's
    // requests still under way end here rather than in the exit's tear-down.
    static void endClients(double drainSeconds);
    // The game's save path: the main container's Documents folder and "/"; nullopt when there is
    // no container or the folder cannot be made (an empty answer would save at the root).
    static std::optional<std::string> savePath();
    // Why this run's saves could not be kept in the main container: a folder of it that cannot
    // be made, or a store file whose path is longer than SQLite opens. The start stops on it.
    static std::optional<std::string> homeProblem();

private:
    // Turns the main run loop until no upload and no page-view dispatch is in flight, for at most
    // `seconds` real seconds, without moving a virtual clock and without starting either.
    static void drainAnalytics(double seconds);
    // One line naming the Info.plist's orientations that are none of the four the player knows.
    static void warnOfUnknownOrientations();
    void createGameViewController();
    void introFinishedNotification();
    void startLoadingGame();
    void gameLoadingFinished();
    void actuallyStartGame();
    void releaseStartUpController();
    void fail(plat::ui::Application& app);

    Options m_options;
    std::shared_ptr<plat::ui::Window> m_window;
    std::shared_ptr<DKLoadingSpinner> m_activityIndicator;
    std::shared_ptr<DKRoundedRectView> m_roundedRectView;
    std::shared_ptr<DKGameViewController> m_gameViewController;
    std::shared_ptr<plat::ui::ViewController> m_startUpViewController;
    std::unique_ptr<DKReachability> m_reachability;
    std::string m_gamePath;
    plat::foundation::Observation m_introScreenFinished;
    bool m_introFinished = false;
    bool m_gameReady = false;
    bool m_isActiveIndicatorDisplayed = false;
};
