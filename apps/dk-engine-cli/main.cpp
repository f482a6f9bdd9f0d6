// dk-engine-cli: a headless host of the engine's C API alone.
//
//   dk-engine-cli [--save DIR] [--size WxH] [--frames N] [--dt SECONDS] [--duration SECONDS]
//                 [--commands FILE] [--screenshot FILE.png] [--es1] ENGINE_SCRIPT [GAME_PATH]
//   dk-engine-cli --help         (the usage with the command file's commands)
#include <GLES2/gl2.h>
#include <sys/stat.h>
#include <time.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

#include "apps/dk-engine-cli/Commands.h"
#include "platform/gl/FrameMemory.h"
#include "platform/sys/QuitWatch.h"
#include "scenegraph/IRenderManager.h"
#include "scenegraph/es1/SGRenderManagerES1.h"
#include "scenegraph/es2/SGRenderManagerES2.h"

using dk::tools::enginecli::Host;

namespace {

struct Options {
    std::string saveDir;
    bool hasSave = false;
    int width = 480;
    int height = 320;
    long frames = 0;
    double dt = 1.0 / 60.0;
    double duration = 0;  // real seconds; 0: no bound
    std::string commandsFile;
    std::string screenshot;
    bool es1 = false;
    std::string script;
    std::string game;
};

constexpr const char* kSynopsis =
    "usage: dk-engine-cli [--save DIR] [--size WxH] [--frames N] [--dt SECONDS] [--duration SECONDS]\n"
    "                     [--commands FILE] [--screenshot FILE.png] [--es1] ENGINE_SCRIPT [GAME_PATH]\n";

[[noreturn]] void usage(const char* why) {
    std::fprintf(stderr, "dk-engine-cli: %s\n%s(dk-engine-cli --help lists the commands)\n", why, kSynopsis);
    std::exit(2);
}

// --help: the whole usage, the command file's commands included, on standard output.
[[noreturn]] void help() {
    std::printf(
        "%s\n"
        "The command file (--commands), one command a line (# comments), run after the game is\n"
        "loaded and before the frames; each calls the engine's DK_ function of its name, or acts\n"
        "for the host:\n%s"
        "--duration ends the commands and frames after SECONDS of real time, as SIGINT, SIGTERM\n"
        "and SIGHUP do (a second signal ends the process at once); the state is then destroyed.\n"
        "A script call still running 3 s after the run's end is interrupted, else the process\n"
        "ends 2 s later with status 1 (one line names the call).\n"
        "Exit status 0; 1 when the script does not load, the command file cannot be read or a\n"
        "screenshot cannot be written; 2 for a bad command line.\n",
        kSynopsis, dk::tools::enginecli::commandSummary().c_str());
    std::fflush(stdout);
    std::exit(0);
}

Options parse(int argc, char** argv) {
    Options o;
    int positional = 0;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        auto value = [&]() -> std::string {
            if (i + 1 >= argc) usage((arg + " needs a value").c_str());
            return argv[++i];
        };
        if (arg == "--save") {
            o.saveDir = value();
            o.hasSave = true;
        } else if (arg == "--size") {
            std::string v = value();
            if (std::sscanf(v.c_str(), "%dx%d", &o.width, &o.height) != 2 || o.width <= 0 || o.height <= 0)
                usage("--size takes WxH");
        } else if (arg == "--frames") {
            char* end = nullptr;
            std::string v = value();
            o.frames = std::strtol(v.c_str(), &end, 10);
            if (*end || o.frames < 0) usage("--frames takes a count");
        } else if (arg == "--dt") {
            char* end = nullptr;
            std::string v = value();
            o.dt = std::strtod(v.c_str(), &end);
            if (*end) usage("--dt takes seconds");
        } else if (arg == "--duration") {
            char* end = nullptr;
            std::string v = value();
            o.duration = std::strtod(v.c_str(), &end);
            if (*end || !(o.duration > 0)) usage("--duration takes seconds");
        } else if (arg == "--commands") {
            o.commandsFile = value();
        } else if (arg == "--screenshot") {
            o.screenshot = value();
        } else if (arg == "--es1") {
            o.es1 = true;
        } else if (arg == "--help" || arg == "-h") {
            help();
        } else if (arg.size() > 1 && arg[0] == '-') {
            usage(("unknown option " + arg).c_str());
        } else if (positional == 0) {
            o.script = arg;
            ++positional;
        } else if (positional == 1) {
            o.game = arg;
            ++positional;
        } else {
            usage("too many arguments");
        }
    }
    if (o.script.empty()) usage("no engine script");
    if (o.hasSave && (o.saveDir.empty() || o.saveDir.back() != '/')) o.saveDir += '/';
    return o;
}

// Whether the engine will be able to load the script: compiled in a scratch state first.
bool scriptLoads(const std::string& path) {
    lua_State* L = luaL_newstate();
    if (!L) return false;
    bool ok = luaL_loadfile(L, path.c_str()) == 0;
    lua_close(L);
    return ok;
}

// The state the player's view sets up when it rebuilds its frame buffer.
void setUpFrameState(int width, int height, bool es1) {
    if (es1)
        SGRenderManagerES1_setUpGL();
    else
        SGRenderManagerES2_setUpGL();
    glDisable(GL_CULL_FACE);
    glEnable(GL_BLEND);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    glViewport(0, 0, width, height);
}

double monotonicSeconds() {
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

// The player's Documents directory always exists; the save directory stands in for it.
void makeDirectories(const std::string& dir) {
    for (size_t pos = dir.find('/', 1); pos != std::string::npos; pos = dir.find('/', pos + 1))
        mkdir(dir.substr(0, pos).c_str(), 0775);
}

}  // namespace

int main(int argc, char** argv) {
    plat::gl::keepFrameMemoryMapped();  // as the player does
    plat::sys::blockQuitSignals();      // before any thread: the watch reads them
    Options o = parse(argc, argv);
    // A quit signal or the duration ends the commands and the frames; the state is destroyed as
    // at the run's end (shutdownEngine's saves), whatever call the script is stuck in.
    std::atomic<bool> quitting{false};
    plat::sys::QuitWatch watch("dk-engine-cli", [&quitting](int) { quitting = true; });
    const double deadline = o.duration > 0 ? monotonicSeconds() + o.duration : 0;
    if (deadline > 0) watch.setDeadline(deadline);
    auto ended = [&] { return quitting || (deadline > 0 && monotonicSeconds() >= deadline); };
    if (o.hasSave) makeDirectories(o.saveDir);
    Host host;
    host.width = o.width;
    host.height = o.height;

    if (!host.newState()) {
        std::fputs("dk-engine-cli: cannot create the engine state\n", stderr);
        return 1;
    }

    // As the player's GL view does: scenes made from now on draw with the renderer of the context.
    DKShouldUseGLES2 = !o.es1;
    SGRenderManagerES2::install();
    SGRenderManagerES1::install();
    std::string glError;
    host.gl = plat::gl::HeadlessContext::create(o.width, o.height,
                                                o.es1 ? plat::gl::Api::ES1 : plat::gl::Api::ES2, &glError);
    if (host.gl)
        setUpFrameState(o.width, o.height, o.es1);
    else
        std::fprintf(stderr, "dk-engine-cli: no GL context, running without one: %s\n", glError.c_str());

    bool loads = scriptLoads(o.script);
    host.bindFrame();
    DK_Init(host.state, o.script.c_str(), o.hasSave ? o.saveDir.c_str() : nullptr);
    if (!loads) {
        DK_DestroyState(host.state);
        return 1;
    }

    if (!o.game.empty()) {
        host.bindFrame();
        DK_LoadGame(host.state, o.game.c_str());
        DK_LoadInitialScene(host.state);
        DK_SetScreenSize(host.state, o.width, o.height);
        DK_Play(host.state);
    }
    std::fflush(stdout);

    if (!o.commandsFile.empty()) {
        std::ifstream in(o.commandsFile);
        if (!in) {
            std::fprintf(stderr, "dk-engine-cli: cannot read %s\n", o.commandsFile.c_str());
            host.failed = true;
        }
        std::string line;
        int number = 0;
        while (!ended() && std::getline(in, line)) {
            ++number;
            if (!dk::tools::enginecli::runCommand(host, dk::tools::enginecli::splitWords(line)))
                std::fprintf(stderr, "dk-engine-cli: %s:%d: command not run\n", o.commandsFile.c_str(),
                             number);
        }
    }

    // With a duration and no count, frames until the duration.
    const bool counted = o.frames > 0 || !(o.duration > 0);
    for (long i = 0; (!counted || i < o.frames) && host.state && !ended(); ++i) {
        host.bindFrame();
        DK_Update(host.state, o.dt);
        host.endFrame();
    }
    std::fflush(stdout);

    if (!o.screenshot.empty()) host.screenshot(o.screenshot);
    watch.noteEnding();
    if (host.state) DK_DestroyState(host.state);
    std::fflush(stdout);
    return host.failed ? 1 : 0;
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
