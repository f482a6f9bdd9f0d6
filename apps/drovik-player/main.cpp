// drovik-player: runs a game bundle under the host, through the application delegate's whole
// start-up road.
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "apps/drovik-player/PlayerOptions.h"
#include "platform/foundation/Container.h"
#include "platform/foundation/DeviceFactsFile.h"
#include "platform/foundation/Log.h"
#include "platform/gl/FrameMemory.h"
#include "platform/gl/GLContext.h"
#include "platform/host/HeadlessHost.h"
#include "platform/host/QuitSignals.h"
#include "platform/sys/FileModes.h"
#include "platform/web/PageEngine.h"
#include "player/app/DrovikPlayerAppDelegate.h"
#include "port/DKAudioDevice.h"

using namespace plat;

int main(int argc, char** argv) {
    plat::sys::keepNewFilesPrivate();  // the home is the user's alone, the page engine's files too
    plat::gl::keepFrameMemoryMapped();  // the GL driver's per-frame blocks stay mapped
    // Before any thread exists, so the quit signals reach only their reader.
    host::QuitSignals::block();
    DKAudioDevice::quietLibraryLogs();  // before any thread too: it sets the environment
    PlayerOptions options;
    std::string error;
    if (!parsePlayerOptions(std::vector<std::string>(argv + 1, argv + argc), std::getenv("DROVIK_BUNDLE"), &options,
                            &error)) {
        std::fprintf(stderr, "drovik-player: %s (see drovik-player --help)\n", error.c_str());
        return 2;
    }
    if (options.help) {
        std::fputs(playerUsage().c_str(), stdout);
        return 0;
    }
    // The environment's categories stand for the option's, and are held to the same list.
    if (const char* categories = std::getenv("DROVIK_TRACE"); categories && !options.trace) {
        if (std::optional<std::string> refusal = refusedTraceCategories("$DROVIK_TRACE", categories)) {
            std::fprintf(stderr, "drovik-player: %s (see drovik-player --help)\n", refusal->c_str());
            return 2;
        }
    }
    // The GL driver loads while the launch's own work (home, analytics stores, the engine script)
    // runs; the game view's context is made after it.
    if (options.headless) gl::GLContext::openDisplayAhead();
    // Every way out of main waits for it first (a game that failed at once exited under the
    // loading driver: "corrupted double-linked list").
    struct DisplayAhead {
        ~DisplayAhead() { gl::GLContext::finishDisplayAhead(); }
    } displayAhead;
    if (!options.deviceFacts.empty()) foundation::setDeviceFactsFile(options.deviceFacts);
    web::useWebEngine(options.web);
    host::HeadlessHost driver(options);
    if (const int status = driver.prepare(&error)) {
        if (!error.empty()) foundation::log("drovik-player: %s", error.c_str());
        return status == host::kQuitBeforeLaunch ? 0 : status;
    }
    // One player per home: a second one's saves would overwrite the first one's.
    std::string holder;
    std::string problem;
    const std::optional<foundation::FileLock> claim = foundation::Container::main()->claim(&holder, &problem);
    if (!claim && !problem.empty()) {
        foundation::log("drovik-player: the home's one-player lock cannot be taken (%s), so this one stops",
                        problem.c_str());
        return 1;
    }
    if (!claim) {
        foundation::log("drovik-player: another player%s is running on the home %s; two would overwrite each other's "
                        "saved values, so this one stops",
                        holder.empty() ? "" : (" (pid " + holder + ")").c_str(),
                        foundation::Container::main()->path().c_str());
        return 1;
    }
    // Saves go in the home or nowhere: a start that could not keep them stops here.
    if (const std::optional<std::string> home = DrovikPlayerAppDelegate::homeProblem()) {
        foundation::log("drovik-player: %s, so this one stops", home->c_str());
        return 1;
    }
    int failed = 0;
    const int status = driver.run(
        std::make_unique<DrovikPlayerAppDelegate>(DrovikPlayerAppDelegate::Options{options.probePlugin, &failed}),
        &error);
    if (status && !error.empty()) foundation::log("drovik-player: %s", error.c_str());
    DrovikPlayerAppDelegate::endClients(options.drainSeconds);
    return failed ? failed : status;
}

// Fontconfig (behind the text the scripts draw) keeps its configuration and caches for the life of
// the process and never frees them, and so do GLib and WebKit (behind `--web wpe`, not
// instrumented); that is not ours to report in sanitizer builds.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libfontconfig.so\nleak:libglib-2.0.so\nleak:libgobject-2.0.so\nleak:libgio-2.0.so\n"
           "leak:libWPEWebKit-1.1.so\nleak:libwpe-1.0.so\nleak:libWPEBackend-fdo-1.0.so\n";
}

// Quietly: tests read the program's standard error.
extern "C" const char* __lsan_default_options() {
    return "print_suppressions=0";
}
