#include "player/controller/DKGameViewController.h"

#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <system_error>
#include <vector>

#include "platform/foundation/Bundle.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/RunLoop.h"
#include "platform/sys/Device.h"
#include "platform/ui/Application.h"
#include "player/EngineCalls.h"
#include "player/app/DKOrientationAnswers.h"
#include "player/bridge/DKExternalFunctionTable.h"
#include "player/plugins/DKDrovikNetworkSupport.h"
#include "player/plugins/DKPluginManager.h"
#include "player/view/EAGLGameView.h"
#include "player/view/GameClock.h"

using namespace plat;

namespace {

foundation::TraceCategory kStartup("startup");

// The callback block's entries. The engine may call them on any thread: the loading ones wait
// for the main thread to run them (inline when called there), game-did-end is always queued.
// `userData` is the controller, alive while its state is.
void loadingWillStartCallback(void* userData) {
    auto* controller = static_cast<DKGameViewController*>(userData);
    foundation::RunLoop::main().performAndWait([controller] { controller->loadingWillStart(); });
}

void loadingWillEndCallback(void* userData) {
    auto* controller = static_cast<DKGameViewController*>(userData);
    foundation::RunLoop::main().performAndWait([controller] { controller->loadingWillEnd(); });
}

void gameDidEndCallback(void* userData) {
    auto* controller = static_cast<DKGameViewController*>(userData);
    std::weak_ptr<ui::ViewController> weak = controller->weak_from_this();
    if (auto kept = std::static_pointer_cast<DKGameViewController>(weak.lock()))
        foundation::RunLoop::main().perform([kept] { kept->gameDidEnd(); });
}

// Runs in a protected call: sharedAssetManager:flushAssets(), when the global is a table or a
// full userdata whose flushAssets is a function.
int flushSharedAssets(lua_State* L) {
    lua_getglobal(L, "sharedAssetManager");
    const int type = lua_type(L, -1);
    if (type != LUA_TTABLE && type != LUA_TUSERDATA) return 0;
    lua_getfield(L, -1, "flushAssets");
    if (!lua_isfunction(L, -1)) return 0;
    lua_pushvalue(L, -2);
    lua_call(L, 1, 0);
    return 0;
}

}  // namespace

std::shared_ptr<DKGameViewController> DKGameViewController::create(std::optional<std::string> savePath) {
    const foundation::Bundle* bundle = foundation::Bundle::main();
    std::optional<std::string> engine =
        bundle ? bundle->pathForResource(kEngineFileName, kEngineFileType) : std::nullopt;
    if (!engine) {
        foundation::log("DKGameViewController: file %s not found in app bundle", kEngineFileName);
        return nullptr;
    }
    std::error_code error;
    if (!std::filesystem::is_regular_file(*engine, error)) {
        foundation::log("DKGameViewController: %s in app bundle is not a file", engine->c_str());
        return nullptr;
    }
    // Game time, frame times and timers read one clock from the first script line on.
    dk::player::useProcessClockForGameTime();
    DK_State* state = dk::player::engine::newState(1);
    if (!state) {
        foundation::log("DKGameViewController: could not create game state");
        return nullptr;
    }
    auto controller = std::make_shared<DKGameViewController>(Token{}, state);
    state->callbacks.loadingWillStart = loadingWillStartCallback;
    state->callbacks.loadingWillEnd = loadingWillEndCallback;
    state->callbacks.gameDidEnd = gameDidEndCallback;
    state->callbacks.userData = controller.get();
    state->callbacks.callExternalFunction = callExternalFunction;
    state->callbacks.externalData = state->L;
    controller->m_scriptErrors->attach(state);
    dk::player::engine::init(state, engine->c_str(), savePath ? savePath->c_str() : nullptr);
    // An engine script that failed leaves a state with no game in it; the engine has said why.
    if (state->printedFailures) return nullptr;
    return controller;
}

DKGameViewController::DKGameViewController(Token, DK_State* state)
    : m_gameState(state), m_scriptErrors(std::make_unique<dk::player::ScriptErrorLog>()) {}

DKGameViewController::~DKGameViewController() {
    foundation::RunLoop::main().cancelPerforms(this);
    m_willResignActive.remove();
    m_didBecomeActive.remove();
    m_pluginManager.reset();
    DKExternalFunctionTable::destroyExternalFunctionTableForState(m_gameState->L);
    // The script's shutdownEngine may still call the callbacks; there is no controller to
    // take them any more.
    m_gameState->callbacks.loadingWillStart = nullptr;
    m_gameState->callbacks.loadingWillEnd = nullptr;
    m_gameState->callbacks.gameDidEnd = nullptr;
    m_gameState->callbacks.userData = nullptr;
    // A teardown deferred by a call under way would outlive the log: shutdownEngine's errors are
    // then dropped.
    if (m_gameState->engineCalls) dk::player::ScriptErrorLog::detach(m_gameState);
    dk::player::engine::destroyState(m_gameState);
    m_scriptErrors->finish();
}

EAGLGameView* DKGameViewController::gameView() {
    return dynamic_cast<EAGLGameView*>(view().get());
}

bool DKGameViewController::readyToPlay() {
    EAGLGameView* game = gameView();
    return game && game->hasPlayedFirstFrame();
}

void DKGameViewController::loadView() {
    auto game = EAGLGameView::create(sys::Screen::main().bounds(), m_gameState);
    if (!game) return;
    // The application's play starts the game, once loaded and past the start-up screen.
    game->holdUntilStarted();
    setView(std::move(game));
}

void DKGameViewController::loadGameFromPath(const std::string& path) {
    m_currentGamePath = path;
    const int failures = m_gameState->printedFailures;
    dk::player::engine::loadGame(m_gameState, path.c_str());
    if (m_gameState->printedFailures == failures) dk::player::engine::loadInitialScene(m_gameState);
    m_gameLoadFailed = m_gameState->printedFailures != failures;
    m_pluginManager = std::make_unique<DKPluginManager>();
    m_pluginManager->loadPluginsForGameViewController(this, m_gameState->L, m_loadsProbePlugin);
    const ui::Rect bounds = view()->bounds();
    dk::player::engine::setScreenSize(m_gameState, static_cast<int>(bounds.width),
                                      static_cast<int>(bounds.height));
    if (EAGLGameView* game = gameView()) game->configureContentScaleFactor();
    if (!m_delegate) return;
    if (sys::Device::current().systemVersionFloat() >= 4.0f) {
        foundation::mainAsync([weak = weak_from_this()] {
            if (auto kept = std::static_pointer_cast<DKGameViewController>(weak.lock()))
                if (kept->m_delegate) kept->m_delegate->gameDidFinishLoading(*kept);
        });
    } else {
        foundation::RunLoop::main().performAfter(0.01, this, [this] {
            if (m_delegate) m_delegate->gameDidFinishLoading(*this);
        });
    }
}

bool DKGameViewController::scriptDefinesFunction(const char* name) const {
    lua_State* L = m_gameState->L;
    lua_getglobal(L, name);
    bool callable = lua_isfunction(L, -1);
    if (!callable && luaL_getmetafield(L, -1, "__call")) {
        callable = true;
        lua_pop(L, 1);
    }
    lua_pop(L, 1);
    return callable;
}

std::string DKGameViewController::loadZippedGameFromPath(const std::string& archivePath) {
    namespace fs = std::filesystem;
    std::error_code error;
    const fs::path archive = fs::absolute(archivePath, error);
    const fs::path directory = archive.parent_path();
    // The engine unpacks into the current directory.
    if (::chdir(directory.c_str()) != 0) return {};
    dk::player::engine::extractGameAtPath(archive.c_str());
    std::vector<std::string> projects;
    for (const fs::directory_entry& entry : fs::directory_iterator(directory, error))
        if (entry.path().extension() == ".gameproj") projects.push_back(entry.path().string());
    if (projects.empty()) return {};
    std::sort(projects.begin(), projects.end());
    loadGameFromPath(projects.front());
    return projects.front();
}

template <class Call>
bool DKGameViewController::hopToMain(Call call) {
    if (foundation::RunLoop::main().isCurrentThread()) return false;
    foundation::mainAsync([kept = self(), call] { call(*kept); });
    return true;
}

void DKGameViewController::play() {
    if (hopToMain([](DKGameViewController& c) { c.play(); })) return;
    if (!m_willResignActive.isActive())
        m_willResignActive = foundation::NotificationCenter::defaultCenter().observe(
            ui::kApplicationWillResignActiveNotification, nullptr,
            [this](const foundation::Notification&) { applicationWillResignActive(); });
    EAGLGameView* game = gameView();
    if (game) game->play();
    const int orientation = preferredInterfaceOrientationForPresentation();
    dk::player::engine::setDeviceOrientation(m_gameState, UItoDKDeviceOrientation(orientation), 0);
    view()->setUserInteractionEnabled(true);
}

void DKGameViewController::pauseInitiatedBySystem(bool system) {
    if (hopToMain([system](DKGameViewController& c) { c.pauseInitiatedBySystem(system); })) return;
    if (EAGLGameView* game = gameView()) game->pauseInitiatedBySystem(system);
}

void DKGameViewController::stop() {
    if (hopToMain([](DKGameViewController& c) { c.stop(); })) return;
    if (EAGLGameView* game = gameView()) game->stop();
    if (m_delegate) m_delegate->gameDidStop(*this);
}

void DKGameViewController::setVolume(float volume) {
    dk::player::engine::setVolume(m_gameState, volume);
}

void DKGameViewController::showMoreGamesOnStartup() {
    foundation::trace(kStartup, "moreGamesOnStartup");
    if (!m_pluginManager) return;
    auto network = std::dynamic_pointer_cast<DKDrovikNetworkSupport>(
        m_pluginManager->pluginForIndentifier(DKDrovikNetworkSupport::pluginIdentifier()));
    if (network && network->isDrovikNetworkAvailable()) network->showMoreGamesOnStartup();
}

void DKGameViewController::applicationWillResignActive() {
    pauseInitiatedBySystem(true);
    if (!m_didBecomeActive.isActive())
        m_didBecomeActive = foundation::NotificationCenter::defaultCenter().observe(
            ui::kApplicationDidBecomeActiveNotification, nullptr,
            [this](const foundation::Notification&) { applicationDidBecomeActive(); });
    m_willResignActive.remove();
    if (ui::Application* app = ui::Application::shared()) app->setIdleTimerDisabled(false);
    dk::player::engine::raiseExternalEvent(m_gameState, "AppHibernateStart", nullptr, 0);
}

void DKGameViewController::applicationDidBecomeActive() {
    dk::player::engine::raiseExternalEvent(m_gameState, "AppHibernateResume", nullptr, 0);
    m_didBecomeActive.remove();
    if (ui::Application* app = ui::Application::shared()) app->setIdleTimerDisabled(true);
    play();
}

void DKGameViewController::loadingWillStart() {
    if (EAGLGameView* game = gameView()) {
        game->stopAnimation();
        game->setLoading(true);
        game->setUserInteractionEnabled(false);
    }
    if (m_delegate) m_delegate->gameLoadingWillStart(*this);
}

void DKGameViewController::loadingWillEnd() {
    if (EAGLGameView* game = gameView()) game->startAnimation();
    if (m_delegate) m_delegate->gameLoadingWillEnd(*this);
}

void DKGameViewController::gameDidEnd() {
    if (m_delegate) m_delegate->gameDidEnd(*this);
}

unsigned DKGameViewController::gameSupportedOrientationsMasks() const {
    const DKOrientationAnswers* answers = DKApplicationOrientationAnswers();
    if (!answers) return 0;
    unsigned mask = 0;
    for (std::string_view name : DKOrientationAnswers::supportedOrientationNames())
        mask |= answers->interfaceOrientationMaskForString(name);
    return mask;
}

bool DKGameViewController::shouldAutorotateToInterfaceOrientation(int orientation) const {
    const DKOrientationAnswers* answers = DKApplicationOrientationAnswers();
    return answers && answers->isGameOrientationSupported(orientation);
}

int DKGameViewController::preferredInterfaceOrientationForPresentation() const {
    const DKOrientationAnswers* answers = DKApplicationOrientationAnswers();
    if (!answers) return ui::kInterfaceOrientationPortrait;
    const int device = sys::Device::current().orientation();
    if (answers->isGameOrientationSupported(device)) return device;
    if (answers->isGameOrientationSupported(m_lastOrientation)) return m_lastOrientation;
    return answers->getAnySupportedOrientation();
}

void DKGameViewController::willRotateToInterfaceOrientation(int orientation, double duration) {
    ViewController::willRotateToInterfaceOrientation(orientation, duration);
    if (ui::Application* app = ui::Application::shared()) app->setStatusBarOrientation(orientation, true);
    EAGLGameView* game = gameView();
    if (game && game->hasPlayedFirstFrame()) {
        m_lastOrientation = orientation;
        dk::player::engine::setDeviceOrientation(m_gameState, UItoDKDeviceOrientation(orientation), 1);
    }
    if (game) game->setDirty(true);
}

void DKGameViewController::viewWillAppear(bool animated) {
    ViewController::viewWillAppear(animated);
    if (EAGLGameView* game = gameView()) game->setDirty(true);
}

void DKGameViewController::viewWillDisappear(bool animated) {
    ViewController::viewWillDisappear(animated);
    m_lastOrientation = preferredInterfaceOrientationForPresentation();
}

void DKGameViewController::didReceiveMemoryWarning() {
    lua_State* L = m_gameState->L;
    const int top = lua_gettop(L);
    lua_pushcfunction(L, flushSharedAssets);
    lua_pcall(L, 0, 0, 0);
    lua_settop(L, top);
}
