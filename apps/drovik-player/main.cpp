// drovik-player: runs a game bundle under the host. For now a short road stands in for the
// start-up screens: the launch builds a black window with the game view controller as its root,
// queues the game's load on the main queue, and plays once it has loaded.
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "platform/foundation/Bundle.h"
#include "platform/foundation/Container.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/RunLoop.h"
#include "platform/host/HeadlessHost.h"
#include "platform/host/HostOptions.h"
#include "platform/host/QuitSignals.h"
#include "platform/sys/Device.h"
#include "platform/ui/Application.h"
#include "platform/ui/Window.h"
#include "player/app/DKOrientationAnswers.h"
#include "player/controller/DKGameViewController.h"

namespace {

using namespace plat;

class GameRoadDelegate : public DKOrientationAnswers, public DKGameViewControllerDelegate {
public:
    // `failed` is set when the road cannot lead to a game; the application has quit by then.
    GameRoadDelegate(bool probePlugin, bool* failed) : m_probePlugin(probePlugin), m_failed(failed) {}
    ~GameRoadDelegate() override {
        if (m_controller) m_controller->setDelegate(nullptr);
    }

    void didFinishLaunching(ui::Application& app) override {
        m_window = std::make_shared<ui::Window>(sys::Screen::main().bounds());
        m_window->setBackgroundColor(ui::Color{0, 0, 0, 1});
        const foundation::Container* container = foundation::Container::main();
        m_controller =
            DKGameViewController::create(container ? container->documentsPath() + "/" : std::string());
        if (!m_controller) return fail(app);
        m_controller->setDelegate(this);
        m_controller->setLoadsProbePlugin(m_probePlugin);
        m_window->setRootViewController(m_controller);
        if (!m_controller->gameView()) return fail(app);
        m_window->makeKeyAndVisible();

        const std::vector<std::string> projects =
            foundation::Bundle::main()->pathsForResourcesOfType("gameproj");
        if (projects.empty()) {
            foundation::log("drovik-player: no gameproj resource in app bundle");
            return fail(app);
        }
        foundation::mainAsync([controller = m_controller, path = projects.back()] {
            controller->loadGameFromPath(path);
            controller->play();
        });
    }

private:
    void fail(ui::Application& app) {
        *m_failed = true;
        app.quit();
    }

    bool m_probePlugin;
    bool* m_failed;
    std::shared_ptr<ui::Window> m_window;
    std::shared_ptr<DKGameViewController> m_controller;
};

}  // namespace

int main(int argc, char** argv) {
    // Before any thread exists, so SIGINT and SIGTERM reach only the run loop.
    host::QuitSignals::block();
    host::HostOptions options;
    std::string error;
    if (!host::parseHostOptions(std::vector<std::string>(argv + 1, argv + argc), std::getenv("DROVIK_BUNDLE"),
                                &options, &error)) {
        std::fprintf(stderr, "drovik-player: %s (see drovik-player --help)\n", error.c_str());
        return 2;
    }
    if (options.help) {
        std::fputs(host::hostUsage(), stdout);
        return 0;
    }
    host::HeadlessHost driver(options);
    if (const int status = driver.prepare(&error)) {
        if (!error.empty()) foundation::log("drovik-player: %s", error.c_str());
        return status;
    }
    bool failed = false;
    const int status = driver.run(std::make_unique<GameRoadDelegate>(options.probePlugin, &failed), &error);
    if (status) foundation::log("drovik-player: %s", error.c_str());
    return failed ? 1 : status;
}

// Fontconfig (behind the text the scripts draw) keeps its configuration and caches for the life of
// the process and never frees them; that is not ours to report in sanitizer builds.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libfontconfig.so\n";
}

// Quietly: tests read the program's standard error.
extern "C" const char* __lsan_default_options() {
    return "print_suppressions=0";
}
