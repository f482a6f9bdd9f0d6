// The view controller that runs the game: it owns the engine state for the game's whole life,
// loads the game into it, makes the plugins, and is the one place where the rest of the
// application plays, pauses and stops the game. It turns lifecycle notifications, rotations and
// memory warnings into engine calls. Its view is the game view.
//
// create finds "engine32"."luo" in the main bundle, points game time at the process clock, makes the
// state with the callback block filled (userData the controller, the bridge's entry with the main Lua
// state as externalData) and runs the engine script; a missing script or state, a script that is not
// a file or that the engine reported failing at DK_Init, gives null with the one line logged, and the
// delegate quits with status 1; so does a game project that is not a folder and a load whose
// loadProject or loadInitialScene failed. Failures of the engine's ignored calls go to its ScriptErrorLog. The loading
// callbacks reach it through performAndWait on the main loop (inline there), game-did-end through
// perform (a later turn). Each game load makes a new plugin manager and its plugins (the probe after
// the eleven when asked). play, pauseInitiatedBySystem and stop called off the main thread queue
// themselves on the main queue holding the controller. The resign and activation observations are
// registered at most once, so a resign is one system pause and one "AppHibernateStart", the next
// activation one "AppHibernateResume" and one play, whatever pauses plugins hold. The game view
// starts with one untraced pause that the application's start releases, so plugins that pause and
// play while the game loads neither start it early nor let it start behind their screen. A memory
// warning runs sharedAssetManager:flushAssets() in one protected call that first checks the manager
// and the method, and puts the Lua stack back as it was. Orientation answers come from the
// application's delegate (DKOrientationAnswers); an absent or empty list supports nothing, so the
// interface stays as launched.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "engine/DKEngine.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/ui/ViewController.h"
#include "player/ScriptErrorLog.h"

class DKGameViewController;
class DKPluginManager;
class EAGLGameView;

// Every operation optional: the defaults do nothing. Each is given the controller.
class DKGameViewControllerDelegate {
public:
    virtual ~DKGameViewControllerDelegate() = default;
    virtual void gameDidFinishLoading(DKGameViewController&) {}
    virtual void gameLoadingWillStart(DKGameViewController&) {}
    virtual void gameLoadingWillEnd(DKGameViewController&) {}
    virtual void gameDidStop(DKGameViewController&) {}
    virtual void gameDidEnd(DKGameViewController&) {}
};

class DKGameViewController : public plat::ui::ViewController {
    struct Token {};

public:
    // The engine script's resource, "engine32"."luo".
    static constexpr const char* kEngineFileName = "engine32";
    static constexpr const char* kEngineFileType = "luo";

    // Creates the engine state, fills its callbacks and runs the engine script from the main
    // bundle with `savePath` (a directory ending in "/", or none). Null, with the reason logged,
    // when the script is missing, is not a file or fails (the engine has reported it), or no state
    // can be made.
    static std::shared_ptr<DKGameViewController> create(std::optional<std::string> savePath);
    DKGameViewController(Token, DK_State* state);
    // Lets the plugins go, drops the state's external-function table and destroys the state.
    ~DKGameViewController() override;

    const char* className() const override { return "DKGameViewController"; }

    DK_State* gameState() const { return m_gameState; }
    // The view as the game view; null when it could not be made (no GL context).
    EAGLGameView* gameView();
    // The game view has played its first frame.
    bool readyToPlay();
    // Not owned: a delegate clears itself before it goes.
    DKGameViewControllerDelegate* delegate() const { return m_delegate; }
    void setDelegate(DKGameViewControllerDelegate* delegate) { m_delegate = delegate; }
    DKPluginManager* pluginManager() const { return m_pluginManager.get(); }
    const std::string& currentGamePath() const { return m_currentGamePath; }
    int lastOrientation() const { return m_lastOrientation; }
    // Each load then makes the probe plugin after the eleven (tests and outside checks).
    void setLoadsProbePlugin(bool on) { m_loadsProbePlugin = on; }

    // A game view over the main screen's bounds on this controller's state; a plain view when no
    // GL context can be made.
    void loadView() override;

    // Main thread: the game project's load, the initial scene, new plugins, the screen size.
    void loadGameFromPath(const std::string& path);
    // The script's loadProject or loadInitialScene failed in the last load, or was missing (the
    // engine has said why). The initial scene of a project that did not load is not asked for: its
    // failure would only repeat the first one.
    bool gameLoadFailed() const { return m_gameLoadFailed; }
    // The script has a global function of that name (a callable value).
    bool scriptDefinesFunction(const char* name) const;
    // Extracts the archive into its own directory and loads the first game project found there;
    // the project's path, or empty (nothing loaded) when there is none.
    std::string loadZippedGameFromPath(const std::string& archivePath);
    void resetAndReloadGame() { loadGameFromPath(m_currentGamePath); }

    // Any thread: off the main thread each is queued on the main queue, the controller kept
    // alive until it has run. Pauses of either kind nest with plays through the game view's count,
    // which starts at one: the first play, the application's start, releases it.
    void play();
    void pauseInitiatedBySystem(bool system);
    void stop();
    void setVolume(float volume);
    void showMoreGamesOnStartup();

    void applicationWillResignActive();
    void applicationDidBecomeActive();

    // The main-thread halves of the engine's callbacks.
    void loadingWillStart();
    void loadingWillEnd();
    void gameDidEnd();

    // Orientation: the application delegate's answers from the Info.plist.
    unsigned supportedInterfaceOrientations() const override { return gameSupportedOrientationsMasks(); }
    unsigned gameSupportedOrientationsMasks() const;
    bool shouldAutorotate() const override { return true; }
    bool shouldAutorotateToInterfaceOrientation(int orientation) const override;
    int preferredInterfaceOrientationForPresentation() const override;
    void willRotateToInterfaceOrientation(int orientation, double duration) override;
    void viewWillAppear(bool animated) override;
    void viewWillDisappear(bool animated) override;

    // Asks the script's asset manager to flush its assets.
    void didReceiveMemoryWarning() override;

private:
    std::shared_ptr<DKGameViewController> self() {
        return std::static_pointer_cast<DKGameViewController>(shared_from_this());
    }
    // Off the main thread: queues `call` on the main queue with the controller kept alive; true
    // when it did so.
    template <class Call>
    bool hopToMain(Call call);

    DK_State* m_gameState;
    // The handler of the state's ignored failures, written out as the state goes.
    std::unique_ptr<dk::player::ScriptErrorLog> m_scriptErrors;
    bool m_gameLoadFailed = false;
    std::unique_ptr<DKPluginManager> m_pluginManager;
    std::string m_currentGamePath;
    int m_lastOrientation = 4;
    DKGameViewControllerDelegate* m_delegate = nullptr;
    bool m_loadsProbePlugin = false;
    // Each registered at most once, so a resign adds one system pause and the next activation
    // plays once, whatever pauses are held meanwhile.
    plat::foundation::Observation m_willResignActive;
    plat::foundation::Observation m_didBecomeActive;
};
