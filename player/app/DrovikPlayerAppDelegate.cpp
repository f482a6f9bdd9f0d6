#include "player/app/DrovikPlayerAppDelegate.h"

#include <glib.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <system_error>
#include <vector>

#include "analytics/DKPageStatsAnalytics.h"
#include "analytics/TrackwellSession.h"
#include "analytics/pagestats/PSPersistentHitStore.h"
#include "analytics/pagestats/PSTracker.h"
#include "analytics/trackwell/TrackwellDatabase.h"
#include "analytics/trackwell/UploaderThread.h"
#include "engine/DKDatabase.h"
#include "kiosk/KSPublisherOpenRequest.h"
#include "orbad/Orbad.h"
#include "orbad/core/http/OBCoreHTTPRequest.h"
#include "platform/foundation/Bundle.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/Container.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/RunLoop.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/sys/Device.h"
#include "platform/sys/QuitRequest.h"
#include "platform/ui/Window.h"
#include "platform/util/DKReachability.h"
#include "player/app/DKLoadingIndicator.h"
#include "port/DKMusicPlayer.h"

using namespace plat;

namespace {

// `path` as SQLite measures it: links resolved in the part that exists.
std::string resolvedPath(const std::string& path) {
    for (size_t cut = path.size(); cut != std::string::npos && cut > 0; cut = path.rfind('/', cut - 1)) {
        std::unique_ptr<char, decltype(&std::free)> real(::realpath(path.substr(0, cut).c_str(), nullptr),
                                                         &std::free);
        if (real) return real.get() + path.substr(cut);
    }
    return path;
}

foundation::TraceCategory kStartup("startup");

constexpr const char* kFirstLaunchKey = "firstLaunch";
constexpr double kIndicatorSide = 41;
constexpr double kReleaseStartUpDelay = 1.0;

const foundation::Value* infoValue(std::string_view key) {
    return foundation::Bundle::mainInfoValue(key);
}

std::string infoText(const foundation::Value* value) {
    if (const std::string* text = value->string()) return *text;
    return value->description();
}

}  // namespace

DrovikPlayerAppDelegate::DrovikPlayerAppDelegate() : DrovikPlayerAppDelegate(Options{}) {}

DrovikPlayerAppDelegate::DrovikPlayerAppDelegate(Options options) : m_options(options) {
    sys::Device::current().beginGeneratingDeviceOrientationNotifications();
}

DrovikPlayerAppDelegate::~DrovikPlayerAppDelegate() {
    DKMusicPlayer::releaseOpens();  // held for this launch alone
    foundation::RunLoop::main().cancelPerforms(this);
    if (m_gameViewController) m_gameViewController->setDelegate(nullptr);
}

DrovikPlayerAppDelegate* DrovikPlayerAppDelegate::shared() {
    ui::Application* app = ui::Application::shared();
    return app ? dynamic_cast<DrovikPlayerAppDelegate*>(app->delegate()) : nullptr;
}

void DrovikPlayerAppDelegate::didFinishLaunching(ui::Application& app) {
    // On a virtual clock the intro's seconds take no time, and the first game frame follows the
    // game's loading at once: music its first scene asks for opens once that frame is on screen
    // (the game view releases it), as loading FFmpeg would hold up the GL driver's shader compiles
    // meanwhile. On a real clock the intro's seconds come between, and music opens at once.
    if (foundation::RunLoop::main().clock().isVirtual()) DKMusicPlayer::holdOpens();
    foundation::UserDefaults* defaults = foundation::UserDefaults::standard();
    const bool seen = defaults && defaults->boolForKey(kFirstLaunchKey);
    DKPageStatsAnalytics& analytics = DKPageStatsAnalytics::sharedAnalytics();
    if (!seen) analytics.trackAppInfo("firstLaunch");
    analytics.trackAppInfo("appLaunch");
    TrackwellSession::sharedTrackwellSession().startSession(metricsSessionKey());
    if (!seen && defaults) {
        defaults->setBool(true, kFirstLaunchKey);
        defaults->synchronize();
    }

    // Never a null path to the engine: without a game project there is no game to wait for.
    const foundation::Bundle* bundle = foundation::Bundle::main();
    const std::vector<std::string> projects =
        bundle ? bundle->pathsForResourcesOfType("gameproj") : std::vector<std::string>();
    if (projects.empty()) {
        foundation::log("DrovikPlayerAppDelegate: no gameproj resource in app bundle");
        return fail(app);
    }
    m_gamePath = projects.back();
    std::error_code error;
    if (!std::filesystem::is_directory(m_gamePath, error)) {
        foundation::log("DrovikPlayerAppDelegate: the game project %s is not a folder", m_gamePath.c_str());
        return fail(app);
    }

    warnOfUnknownOrientations();

    m_window = std::make_shared<ui::Window>(sys::Screen::main().bounds());
    m_window->setBackgroundColor(ui::Color{0, 0, 0, 1});

    m_roundedRectView = std::make_shared<DKRoundedRectView>(activityIndicatorFrameForInterfaceOrientation(1));
    const ui::Color translucent{0, 0, 0, DKIPhoneActivityIndicatorAlpha};
    m_roundedRectView->setRectColor(translucent);
    m_roundedRectView->setStrokeColor(translucent);
    m_roundedRectView->setAutoresizingMask(ui::kAutoresizingFlexibleLeftMargin | ui::kAutoresizingFlexibleRightMargin |
                                           ui::kAutoresizingFlexibleTopMargin |
                                           ui::kAutoresizingFlexibleBottomMargin);
    m_activityIndicator = std::make_shared<DKLoadingSpinner>(ui::Rect{1, 1, 37, 37});
    m_roundedRectView->addSubview(m_activityIndicator);

    createGameViewController();
    // A controller that could not be made has said why; a black window would only hide that.
    if (!m_gameViewController || !m_gameViewController->gameView()) return fail(app);

    m_gameViewController->view()->setLayerOpacity(0);
    m_window->makeKeyAndVisible();

    m_introScreenFinished = foundation::NotificationCenter::defaultCenter().observe(
        DKIntroScreenFinishedNotification, nullptr, [this](const foundation::Notification&) {
            introFinishedNotification();
        });

    m_startUpViewController = std::make_shared<DKStartUpViewController>();
    m_startUpViewController->view()->setFrame(m_gameViewController->view()->bounds());
    m_gameViewController->presentViewController(m_startUpViewController, false);
}

void DrovikPlayerAppDelegate::warnOfUnknownOrientations() {
    std::string unknown;
    for (std::string_view name : supportedOrientationNames()) {
        if (name == "UIInterfaceOrientationPortrait" || name == "UIInterfaceOrientationPortraitUpsideDown" ||
            name == "UIInterfaceOrientationLandscapeLeft" || name == "UIInterfaceOrientationLandscapeRight")
            continue;
        unknown += (unknown.empty() ? "\"" : ", \"") + std::string(name) + "\"";
    }
    if (!unknown.empty())
        foundation::log("drovik-player: warning: UISupportedInterfaceOrientations names %s, which the player does not "
                        "know: taken as UIInterfaceOrientationLandscapeRight",
                        unknown.c_str());
}

std::optional<std::string> DrovikPlayerAppDelegate::savePath() {
    const foundation::Container* container = foundation::Container::main();
    const std::string documents = container ? container->documentsPath() : std::string();
    if (documents.empty()) return std::nullopt;
    return documents + "/";
}

std::optional<std::string> DrovikPlayerAppDelegate::homeProblem() {
    const foundation::Container* container = foundation::Container::main();
    if (!container) return std::nullopt;
    if (std::optional<std::string> folder = container->unmakeableFolder())
        return "the home's folder " + *folder + "; nothing is saved outside the home";
    const size_t longest = DKDatabase::longestFilePath();
    for (const std::string& file :
         {savePath().value_or(std::string()) + "persistent.save", PSPersistentHitStore::defaultPath(),
          TrackwellDatabase::trackwellDatabasePath()}) {
        const size_t length = resolvedPath(file).size();
        if (length > longest)
            return "the saved file " + file + " would have a path of " + std::to_string(length) +
                   " bytes, over the " + std::to_string(longest) +
                   " SQLite opens; a home with a shorter path keeps the saves";
    }
    return std::nullopt;
}

void DrovikPlayerAppDelegate::createGameViewController() {
    m_gameViewController = DKGameViewController::create(savePath());
    if (!m_gameViewController) return;
    m_gameViewController->setDelegate(this);
    m_gameViewController->setLoadsProbePlugin(m_options.probePlugin);
    m_window->setRootViewController(m_gameViewController);
}

void DrovikPlayerAppDelegate::fail(ui::Application& app) {
    if (m_options.exitStatus) *m_options.exitStatus = 1;
    app.quit();
}

void DrovikPlayerAppDelegate::introFinishedNotification() {
    m_introScreenFinished.remove();
    startLoadingGame();
}

void DrovikPlayerAppDelegate::startLoadingGame() {
    // A later turn of the main queue, after the launch has returned. The block holds the
    // controller; a delegate gone by then (a quit during the launch) is no longer the application's.
    foundation::mainAsync([controller = m_gameViewController, path = m_gamePath] {
        DrovikPlayerAppDelegate* self = shared();
        if (!self || self->m_gameViewController != controller) return;
        foundation::trace(kStartup, [&] { return "loadGame " + path; });
        controller->loadGameFromPath(path);
        if (!(self = shared()) || self->m_gameViewController != controller) return;
        // The engine has said why; an empty or half-built game would only hide that.
        if (controller->gameLoadFailed()) return self->fail(*ui::Application::shared());
        // Frames would reach nothing: the game would sit still, and nothing would say why.
        if (!controller->scriptDefinesFunction("update"))
            foundation::log("drovik-player: warning: the engine script defines no update(dt): no frame reaches "
                            "the game");
        self->gameLoadingFinished();
    });
}

void DrovikPlayerAppDelegate::gameLoadingFinished() {
    setGameReady(true);
}

void DrovikPlayerAppDelegate::setIntroFinished(bool finished) {
    if (finished) foundation::trace(kStartup, "introFinished");
    m_introFinished = finished;
    if (m_gameReady && m_introFinished) {
        actuallyStartGame();
        if (m_gameViewController) m_gameViewController->showMoreGamesOnStartup();
    }
}

void DrovikPlayerAppDelegate::setGameReady(bool ready) {
    if (ready) foundation::trace(kStartup, "gameReady");
    m_gameReady = ready;
    if (ready && m_introFinished) actuallyStartGame();
}

void DrovikPlayerAppDelegate::actuallyStartGame() {
    foundation::trace(kStartup, "start");
    if (!m_gameViewController) return;
    m_gameViewController->dismissViewController(false);
    ui::ViewAnimationOptions fade;
    fade.name = "fadeInGameView";
    const std::shared_ptr<ui::View> gameView = m_gameViewController->view();
    ui::View::animate(fade, [&] { gameView->setLayerOpacity(1.0); });
    m_gameViewController->play();
    m_reachability = DKReachability::reachabilityForInternetConnection();
    if (m_reachability) {
        m_reachability->startNotifier();
        foundation::NotificationCenter::defaultCenter().post(DKNetworkReachabilityChangedNotification,
                                                             {m_reachability.get(), "DKReachability"});
    }
    DKPageStatsAnalytics::sharedAnalytics().trackAppInfo("playGame");
    foundation::RunLoop::main().performAfter(kReleaseStartUpDelay, this, [this] { releaseStartUpController(); });
}

void DrovikPlayerAppDelegate::releaseStartUpController() {
    foundation::trace(kStartup, "releaseStartUp");
    m_startUpViewController.reset();
}

void DrovikPlayerAppDelegate::gameLoadingWillStart(DKGameViewController& controller) {
    displayActivityIndicator(controller);
    // Lets the indicator be drawn before the load holds the thread.
    foundation::RunLoop::current().runOnce(0.1);
}

void DrovikPlayerAppDelegate::gameLoadingWillEnd(DKGameViewController& controller) {
    hideActivityIndicator(controller);
    foundation::NotificationCenter::defaultCenter().post(DKSceneDidChangeNotification);
}

void DrovikPlayerAppDelegate::displayActivityIndicator(DKGameViewController& controller) {
    if (m_isActiveIndicatorDisplayed || !m_roundedRectView) return;
    foundation::trace(kStartup, "indicator show");
    m_roundedRectView->setFrame(activityIndicatorFrameForInterfaceOrientation(controller.interfaceOrientation()));
    controller.view()->addSubview(m_roundedRectView);
    m_activityIndicator->startAnimating();
    m_isActiveIndicatorDisplayed = true;
}

void DrovikPlayerAppDelegate::hideActivityIndicator(DKGameViewController&) {
    if (!m_isActiveIndicatorDisplayed) return;
    foundation::trace(kStartup, "indicator hide");
    m_activityIndicator->stopAnimating();
    m_roundedRectView->removeFromSuperview();
    m_isActiveIndicatorDisplayed = false;
}

ui::Rect DrovikPlayerAppDelegate::activityIndicatorFrameForInterfaceOrientation(int orientation) {
    const ui::Rect screen = sys::Screen::main().bounds();
    const bool portrait = orientation == 1 || orientation == 2;
    const double across = portrait ? screen.width : screen.height;
    const double down = portrait ? screen.height : screen.width;
    return {across - kIndicatorSide, down - kIndicatorSide, kIndicatorSide, kIndicatorSide};
}

void DrovikPlayerAppDelegate::didBecomeActive(ui::Application&) {
    if (m_gameReady && m_introFinished) DKPageStatsAnalytics::sharedAnalytics().trackAppInfo("playGame");
    const foundation::Value* token = infoValue("DKGameKS_Token");
    const foundation::Value* secret = infoValue("DKGameKS_Secret");
    if (token && secret) KSPublisherOpenRequest::requestForApp(infoText(token), infoText(secret))->send();
    if (const foundation::Value* orbadId = infoValue("DKOrbadId")) Orbad::startWithApplicationId(infoText(orbadId));
    if (m_gameViewController) m_gameViewController->showMoreGamesOnStartup();
}

void DrovikPlayerAppDelegate::willEnterForeground(ui::Application&) {
    TrackwellSession& metrics = TrackwellSession::sharedTrackwellSession();
    metrics.resume();
    metrics.upload();
    metrics.tagEvent("appResume");
}

void DrovikPlayerAppDelegate::didEnterBackground(ui::Application&) {
    foundation::NotificationCenter::defaultCenter().post(DKAppWillHibernateNotification);
    TrackwellSession& metrics = TrackwellSession::sharedTrackwellSession();
    metrics.close();
    metrics.upload();
}

void DrovikPlayerAppDelegate::willTerminate(ui::Application&) {
    DKPageStatsAnalytics::sharedAnalytics().trackAppInfo("appStop");
    TrackwellSession& metrics = TrackwellSession::sharedTrackwellSession();
    metrics.close();
    metrics.upload();
    m_introScreenFinished.remove();
    sys::Device::current().endGeneratingDeviceOrientationNotifications();
}

void DrovikPlayerAppDelegate::endClients(double drainSeconds) {
    drainAnalytics(drainSeconds);
    orbad::OBCoreHTTPRequest::cancelAllAndWait(5);
}

void DrovikPlayerAppDelegate::drainAnalytics(double seconds) {
    auto busy = [] {
        return UploaderThread::sharedUploaderThread().isUploading() ||
               PSTracker::sharedTracker().isDispatching();
    };
    foundation::RunLoop& loop = foundation::RunLoop::main();
    const double start = foundation::Clock::monotonicSeconds();
    loop.runOnce(0);
    // A quit signal, before the drain or during it, ends it: what is unsent stays stored.
    while (busy() && foundation::Clock::monotonicSeconds() - start < seconds && !sys::quitRequested()) {
        usleep(500);
        loop.runOnce(0);
    }
}

bool DrovikPlayerAppDelegate::isValidStringFor(const foundation::Value* value) {
    const std::string* text = value ? value->string() : nullptr;
    if (!text || text->empty() || !g_utf8_validate(text->data(), static_cast<gssize>(text->size()), nullptr))
        return false;
    for (const char* p = text->data(); p < text->data() + text->size(); p = g_utf8_next_char(p)) {
        const gunichar c = g_utf8_get_char(p);
        if (c == '-') continue;
        switch (g_unichar_type(c)) {
            case G_UNICODE_LOWERCASE_LETTER:
            case G_UNICODE_MODIFIER_LETTER:
            case G_UNICODE_OTHER_LETTER:
            case G_UNICODE_TITLECASE_LETTER:
            case G_UNICODE_UPPERCASE_LETTER:
            case G_UNICODE_SPACING_MARK:
            case G_UNICODE_ENCLOSING_MARK:
            case G_UNICODE_NON_SPACING_MARK:
            case G_UNICODE_DECIMAL_NUMBER:
            case G_UNICODE_LETTER_NUMBER:
            case G_UNICODE_OTHER_NUMBER:
                continue;
            default:
                return false;
        }
    }
    return true;
}

std::string DrovikPlayerAppDelegate::metricsSessionKey() {
    auto part = [](const char* key) {
        const foundation::Value* value = infoValue(key);
        return isValidStringFor(value) ? *value->string() : std::string("null");
    };
    return part("DKUserID") + "-" + part("DKAppID");
}
