#include "player/tests/GameViewTestSupport.h"

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <memory>

#include "platform/foundation/Log.h"
#include "platform/gl/GLLayer.h"
#include "platform/foundation/RunLoop.h"
#include "platform/host/HeadlessHost.h"
#include "platform/ui/Application.h"
#include "platform/ui/ViewController.h"
#include "platform/ui/Window.h"
#include "player/EngineCalls.h"
#include "player/view/EAGLGameView.h"
#include "player/view/GameClock.h"

namespace dktest {

namespace {

using namespace plat;
namespace engine = dk::player::engine;

foundation::TraceCategory kScript("script");

// What the game view controller does to its view, and nothing else: the view over the interface,
// marked dirty as it appears and turns; the loading callbacks; a system pause per resign and a play
// per activation after it; the script's "pause", "play" and "stop".
class StandInController : public ui::ViewController {
public:
    explicit StandInController(DK_State* state) : m_state(state) {}
    const char* className() const override { return "StandInController"; }
    EAGLGameView& gameView() { return static_cast<EAGLGameView&>(*view()); }

    void loadView() override {
        setView(EAGLGameView::create(ui::Application::shared()->interfaceBounds(), m_state));
    }
    unsigned supportedInterfaceOrientations() const override { return ui::kInterfaceOrientationMaskAll; }
    void viewWillAppear(bool) override { gameView().setDirty(true); }
    void willRotateToInterfaceOrientation(int orientation, double) override {
        if (gameView().hasPlayedFirstFrame())
            engine::setDeviceOrientation(m_state, UItoDKDeviceOrientation(orientation), 1);
        gameView().setDirty(true);
    }

private:
    DK_State* m_state;
};

class StandInDelegate : public ui::ApplicationDelegate {
public:
    StandInDelegate(std::string bundle, double playAt) : m_bundle(std::move(bundle)), m_playAt(playAt) {}
    ~StandInDelegate() override {
        foundation::RunLoop::main().cancelPerforms(this);
        m_window.reset();
        if (m_state) engine::destroyState(m_state);
    }

    void didFinishLaunching(ui::Application&) override {
        dk::player::useProcessClockForGameTime();
        m_state = engine::newState(1);
        m_state->callbacks.loadingWillStart = [](void* data) {
            EAGLGameView& view = static_cast<StandInDelegate*>(data)->gameView();
            view.stopAnimation();
            view.setLoading(true);
            view.setUserInteractionEnabled(false);
        };
        m_state->callbacks.loadingWillEnd = [](void* data) {
            static_cast<StandInDelegate*>(data)->gameView().startAnimation();
        };
        m_state->callbacks.userData = this;
        m_state->callbacks.callExternalFunction = hostCall;
        m_state->callbacks.externalData = this;
        engine::init(m_state, (m_bundle + "/engine32.luo").c_str(), nullptr);

        m_controller = std::make_shared<StandInController>(m_state);
        m_window = std::make_shared<ui::Window>(ui::Application::shared()->interfaceBounds());
        m_window->setRootViewController(m_controller);
        m_window->makeKeyAndVisible();
        gameView().configureContentScaleFactor();
        engine::loadGame(m_state, (m_bundle + "/game.lua").c_str());
        engine::loadInitialScene(m_state);
        foundation::RunLoop::main().performAfter(m_playAt, this, [this] { gameView().play(); });
    }
    void willResignActive(ui::Application&) override {
        m_resigned = true;
        gameView().pauseInitiatedBySystem(true);
    }
    void didBecomeActive(ui::Application&) override {
        if (!m_resigned) return;
        m_resigned = false;
        gameView().play();
    }

private:
    EAGLGameView& gameView() { return m_controller->gameView(); }

    // The script's host functions: "log" TEXT; "pause" KIND [SECONDS], released that many seconds
    // later when given; "play"; "stop".
    static int hostCall(void* data, lua_State* L) {
        auto* self = static_cast<StandInDelegate*>(data);
        const char* key = lua_tostring(L, 1);
        const std::string what = key ? key : "";
        const char* argument = lua_tostring(L, 2);
        if (what == "log") {
            foundation::trace(kScript, argument ? argument : "");
        } else if (what == "pause") {
            self->gameView().pauseInitiatedBySystem(argument && std::string(argument) == "system");
            if (lua_isnumber(L, 3))
                foundation::RunLoop::main().performAfter(lua_tonumber(L, 3), self, [self] { self->gameView().play(); });
        } else if (what == "play") {
            self->gameView().play();
        } else if (what == "stop") {
            self->gameView().stop();
        }
        return 0;
    }

    std::string m_bundle;
    double m_playAt;
    DK_State* m_state = nullptr;
    std::shared_ptr<StandInController> m_controller;
    std::shared_ptr<ui::Window> m_window;
    bool m_resigned = false;
};

}  // namespace

GameViewResult runGameView(const GameViewRun& run) {
    TempDir dir;
    const std::string bundle = dir.file("Game.app");
    std::filesystem::create_directories(bundle);
    writeFile(bundle + "/Info.plist",
              std::string("<plist version=\"1.0\"><dict><key>CFBundleIdentifier</key><string>com.drovik.view</string>") +
                  (run.overscan ? "<key>DKOverscan</key><true/>" : "") +
                  "<key>UISupportedInterfaceOrientations</key><array>"
                  "<string>UIInterfaceOrientationPortrait</string>"
                  "<string>UIInterfaceOrientationLandscapeRight</string>"
                  "<string>UIInterfaceOrientationLandscapeLeft</string></array></dict></plist>");
    writeFile(bundle + "/engine32.luo", readFile(DK_TEST_DATA_DIR "/probe-engine.lua"));
    writeFile(bundle + "/game.lua", run.game);
    writeFile(dir.file("input.txt"), run.input);

    host::HostOptions options;
    options.bundle = bundle;
    options.home = dir.file("home");
    options.headless = true;
    options.device = run.device;
    options.systemVersion = run.systemVersion;
    options.input = dir.file("input.txt");
    options.frames = run.frames;
    options.duration = run.duration;
    options.trace = run.trace;
    options.traceFile = dir.file("trace.txt");

    GameViewResult result;
    testing::internal::CaptureStderr();
    const std::uint64_t presents = gl::GLLayer::presentCount();
    {
        host::HeadlessHost driver(options);
        std::string message;
        EXPECT_EQ(driver.prepare(&message), 0) << message;
        EXPECT_EQ(driver.run(std::make_unique<StandInDelegate>(bundle, run.playAt), &message), 0) << message;
        result.frames = driver.gameFrames();
    }
    result.presents = static_cast<long>(gl::GLLayer::presentCount() - presents);
    result.err = testing::internal::GetCapturedStderr();
    foundation::Trace::configure("", "");
    // The scratch folder's name changes from run to run.
    result.trace = readFile(dir.file("trace.txt"));
    for (size_t at; (at = result.trace.find(dir.path())) != std::string::npos;)
        result.trace.replace(at, dir.path().size(), "TMP");
    return result;
}

std::string expectedText(const std::string& name, const std::string& actual) {
    const std::string path = std::string(DK_TEST_DATA_DIR) + "/view/" + name + ".txt";
    if (updatingExpected()) writeFile(path, actual);
    return exists(path) ? readFile(path) : std::string();
}

}  // namespace dktest
