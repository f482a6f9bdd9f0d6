// What the game view's frame loop adds to a frame. Each scene (the sample game; 5,000 sprites
// moved through the "scenegraph" module) at 640x960 for 600 frames, (a) as dk-engine-cli drives
// the engine (bind, DK_Update, glFinish) and (b) through the game view on the virtual clock (the
// display link's tick, drawView, present, glFinish). Prints per-frame median and p95 of both, the
// difference and the ratio, and operator new calls per frame (the frame path allocates nothing
// of its own; tracing is off). (a) draws into a pbuffer, the view into a texture-backed frame
// buffer; (a'), the engine alone into the view's frame buffer, alternates with (b) frame by frame,
// so (b) - (a') is the loop's own cost. Then a display link whose ticks do nothing. Last, (w): (b)
// with the view in a window of an Xvfb of the benchmark's own, set up as drovik-player sets up its
// window (the window driver presenting the application's compositor), so every turn also composites
// the screen and swaps; still on the virtual clock, so a swap that waited for vsync would show.
#include <GLES2/gl2.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "bench/common/FloorQuads.h"
#include "engine/DKEngine.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/RunLoop.h"
#include "platform/gl/DisplayLink.h"
#include "platform/gl/HeadlessGL.h"
#include "platform/host/Glass.h"
#include "platform/host/SDLDriver.h"
#include "platform/host/SDLWindow.h"
#include "platform/image/ImageCodec.h"
#include "platform/sys/Device.h"
#include "platform/ui/Application.h"
#include "platform/ui/Window.h"
#include "player/view/EAGLGameView.h"
#include "scenegraph/IRenderManager.h"
#include "scenegraph/es2/SGRenderManagerES2.h"
#include "tests/support/TestSupport.h"

// The counting operator new below and its delete are a malloc/free pair; GCC, seeing them inlined
// into the standard containers, takes them for mismatched.
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"

namespace {

std::atomic<long> g_news{0};

constexpr int kFrames = 600;
constexpr int kWarmup = 30;
constexpr int kWidth = 640, kHeight = 960;

struct Scene {
    const char* name;
    std::string script, game;
};

struct Figures {
    double median = 0, p95 = 0, newsPerFrame = 0;
};

double nowMs() {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

Figures figures(std::vector<double> times, long news) {
    std::sort(times.begin(), times.end());
    Figures f;
    f.median = times[times.size() / 2];
    f.p95 = times[std::min(times.size() - 1, times.size() * 95 / 100)];
    f.newsPerFrame = static_cast<double>(news) / static_cast<double>(times.size());
    return f;
}

DK_State* startGame(const Scene& scene, int width, int height) {
    DK_State* state = DK_NewState(1);
    DK_Init(state, scene.script.c_str(), nullptr);
    DK_LoadGame(state, scene.game.c_str());
    DK_LoadInitialScene(state);
    DK_SetScreenSize(state, width, height);
    return state;
}

// (a): dk-engine-cli's loop.
Figures engineAlone(const Scene& scene) {
    std::string error;
    auto gl = plat::gl::HeadlessContext::create(kWidth, kHeight, plat::gl::Api::ES2, &error);
    if (!gl) {
        std::fprintf(stderr, "bench_player: no GL context: %s\n", error.c_str());
        std::exit(1);
    }
    SGRenderManagerES2_setUpGL();
    glDisable(GL_CULL_FACE);
    glEnable(GL_BLEND);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    glViewport(0, 0, kWidth, kHeight);
    DK_State* state = startGame(scene, kWidth, kHeight);
    DK_Play(state);
    std::vector<double> times;
    long news = 0;
    for (int i = 0; i < kWarmup + kFrames; ++i) {
        const long before = g_news.load();
        const double start = nowMs();
        gl->makeCurrent();
        DK_Update(state, 1.0 / 60.0);
        glFinish();
        const double end = nowMs();
        if (i < kWarmup) continue;
        times.push_back(end - start);
        news += g_news.load() - before;
    }
    DK_DestroyState(state);
    return figures(times, news);
}

// The window driver's frames, timed: the compositor's whole frame (beginFrame to the swap's return)
// and the swap alone.
class TimedPresenter : public plat::ui::Presenter {
public:
    explicit TimedPresenter(plat::ui::Presenter& inner) : m_inner(inner) {}
    bool beginFrame(Target* target) override {
        m_begin = nowMs();
        return m_inner.beginFrame(target);
    }
    void endFrame() override {
        const double start = nowMs();
        m_inner.endFrame();
        const double end = nowMs();
        frameMs = end - m_begin;
        swapMs = end - start;
    }
    double frameMs = 0, swapMs = 0;

private:
    plat::ui::Presenter& m_inner;
    double m_begin = 0;
};

// drovik-player's screen: the default device's glass at zoom 1 (640x960), the launched
// application's black key window, the window driver presenting its compositor (through the timer).
struct Screen {
    std::unique_ptr<plat::host::SDLWindow> sdl;
    std::unique_ptr<plat::ui::Application> app;
    std::unique_ptr<plat::host::SDLDriver> driver;
    std::unique_ptr<TimedPresenter> presenter;
    std::shared_ptr<plat::ui::Window> window;

    bool open(std::string* error) {
        const plat::sys::DevicePreset& preset = plat::sys::Device::current().preset();
        sdl = plat::host::SDLWindow::open(plat::host::glassFor(preset.width, preset.height, preset.scale, 1),
                                          1, "bench_player", error);
        if (!sdl) return false;
        app = std::make_unique<plat::ui::Application>(nullptr, &plat::foundation::RunLoop::main());
        driver = std::make_unique<plat::host::SDLDriver>(*sdl, *app, [](const auto&, bool) { return false; });
        driver->start(plat::foundation::RunLoop::main());
        presenter = std::make_unique<TimedPresenter>(*driver);
        app->compositor().setPresenter(presenter.get());
        app->launch();
        window = std::make_shared<plat::ui::Window>(plat::sys::Screen::main().bounds());
        window->setBackgroundColor(plat::ui::Color{0, 0, 0, 1});
        window->makeKeyAndVisible();
        return true;
    }
    // The group's contexts (the driver's among them) go before the window that provides them.
    ~Screen() {
        window.reset();
        if (app) app->compositor().setPresenter(nullptr);
        driver.reset();
        app.reset();
        sdl.reset();
    }
};

struct ViewFigures {
    Figures view, direct, composite, swap;
};

// (b): the game view's frame loop, each turn of the main run loop one display refresh; and,
// alternating with it frame by frame on the same state, context and frame buffer, (a') the engine
// driven alone into the view's frame buffer, so the difference is the loop's own (tick, drawView,
// present) whatever the machine's load does meanwhile.
// With `screen`, (w): the view fills its window and each turn must also composite once.
ViewFigures throughTheView(const Scene& scene, Screen* screen = nullptr) {
    plat::foundation::RunLoop& loop = plat::foundation::RunLoop::main();
    DK_State* state = startGame(scene, kWidth, kHeight);
    auto view = EAGLGameView::create({0, 0, kWidth / 2.0, kHeight / 2.0}, state);
    if (!view) std::exit(1);
    view->setContentScaleFactor(2);
    if (screen) screen->window->addSubview(view);
    view->play();
    // Half a refresh on, so each turn below spans exactly one beat of the display link.
    loop.runFor(plat::gl::DisplayLink::kRefreshPeriod / 2);
    std::vector<double> times, direct, composite, swap;
    long news = 0, directNews = 0;
    for (int i = 0; i < kWarmup + kFrames; ++i) {
        const long presented = view->framesPresented();
        const std::uint64_t commits = screen ? screen->app->compositor().commitCount() : 0;
        long before = g_news.load();
        double start = nowMs();
        loop.runFor(plat::gl::DisplayLink::kRefreshPeriod);
        glFinish();
        double end = nowMs();
        if (view->framesPresented() != presented + 1) {
            std::fprintf(stderr, "bench_player: a turn drew %ld frames\n",
                         view->framesPresented() - presented);
            std::exit(1);
        }
        if (screen && screen->app->compositor().commitCount() != commits + 1) {
            std::fprintf(stderr, "bench_player: a turn composited %lu frames\n",
                         static_cast<unsigned long>(screen->app->compositor().commitCount() - commits));
            std::exit(1);
        }
        if (i >= kWarmup) {
            times.push_back(end - start);
            news += g_news.load() - before;
            if (screen) {
                composite.push_back(screen->presenter->frameMs);
                swap.push_back(screen->presenter->swapMs);
            }
        }
        before = g_news.load();
        start = nowMs();
        view->context().makeCurrent();
        glBindFramebuffer(GL_FRAMEBUFFER, view->framebuffer());
        DK_Update(state, 1.0 / 60.0);
        glFinish();
        end = nowMs();
        if (i >= kWarmup) {
            direct.push_back(end - start);
            directNews += g_news.load() - before;
        }
    }
    if (screen) view->removeFromSuperview();
    view.reset();
    DK_DestroyState(state);
    if (!screen) return {figures(times, news), figures(direct, directNews), {}, {}};
    return {figures(times, news), figures(direct, directNews), figures(composite, 0), figures(swap, 0)};
}

// The platform's share: a display link whose ticks do nothing, one refresh per turn.
Figures bareDisplayLink() {
    plat::foundation::RunLoop& loop = plat::foundation::RunLoop::main();
    long ticks = 0;
    plat::gl::DisplayLink link([&ticks] { ++ticks; });
    link.addToRunLoop(loop);
    loop.runFor(plat::gl::DisplayLink::kRefreshPeriod / 2);
    std::vector<double> times;
    long news = 0;
    for (int i = 0; i < kWarmup + kFrames; ++i) {
        const long before = g_news.load();
        const double start = nowMs();
        loop.runFor(plat::gl::DisplayLink::kRefreshPeriod);
        const double end = nowMs();
        if (i < kWarmup) continue;
        times.push_back(end - start);
        news += g_news.load() - before;
    }
    return figures(times, news);
}

}  // namespace

void* operator new(std::size_t size) {
    g_news.fetch_add(1, std::memory_order_relaxed);
    if (void* p = std::malloc(size ? size : 1)) return p;
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}

int main() {
    // The frames run on the virtual clock: each turn jumps to the next refresh instead of waiting.
    plat::foundation::Clock::process().setVirtual(true);
    DKShouldUseGLES2 = true;
    SGRenderManagerES2::install();

    const std::string source = DK_SOURCE_DIR;
    const std::string image = std::filesystem::temp_directory_path() / "bench_player_dot.png";
    std::string error;
    if (!plat::image::writePNG(image, 8, 8, dk::bench::spritePixels(8), &error)) {
        std::fprintf(stderr, "bench_player: %s\n", error.c_str());
        return 1;
    }
    setenv("BENCH_PLAYER_IMAGE", image.c_str(), 1);
    const Scene scenes[] = {
        {"sample game", source + "/games/sample/Sample.app/engine32.luo",
         source + "/games/sample/Sample.app/Sample.gameproj"},
        {"5000 sprites", source + "/bench/player/sprites.lua", ""},
    };

    std::printf("%d frames at %dx%d after %d warm-up frames; ms per frame\n", kFrames, kWidth, kHeight,
                kWarmup);
    std::printf("%-14s %-22s %8s %8s %10s\n", "scene", "driver", "median", "p95", "new/frame");
    auto row = [](const char* scene, const char* driver, const Figures& f) {
        std::printf("%-14s %-22s %8.3f %8.3f %10.1f\n", scene, driver, f.median, f.p95, f.newsPerFrame);
    };
    auto difference = [](const char* scene, const char* versus, const Figures& view, const Figures& engine) {
        std::printf("%-14s %-22s %+8.3f %+8.3f   ratio %.3f (median)\n", scene, versus,
                    view.median - engine.median, view.p95 - engine.p95, view.median / engine.median);
    };
    ViewFigures headless[2];
    for (int i = 0; i < 2; ++i) {
        const Scene& scene = scenes[i];
        const Figures cli = engineAlone(scene);
        headless[i] = throughTheView(scene);
        const ViewFigures& f = headless[i];
        row(scene.name, "(a) engine, pbuffer", cli);
        row(scene.name, "(a') engine, view's FB", f.direct);
        row(scene.name, "(b) game view", f.view);
        difference(scene.name, "(b) - (a)", f.view, cli);
        difference(scene.name, "(b) - (a')", f.view, f.direct);
    }
    const Figures link = bareDisplayLink();
    row("empty ticks", "display link alone", link);

    // The view's and the driver's contexts join the window's display: the headless ones are gone.
    dktest::XvfbServer x(1280, 1024);
    Screen screen;
    if (!x.running() || !screen.open(&error)) {
        std::printf("no window: %s\n", x.running() ? error.c_str() : x.why().c_str());
    } else {
        int width = 0, height = 0;
        screen.sdl->drawableSize(&width, &height);
        std::printf("in a %dx%d window under Xvfb, composited and swapped every turn:\n", width, height);
        for (int i = 0; i < 2; ++i) {
            const ViewFigures f = throughTheView(scenes[i], &screen);
            row(scenes[i].name, "(a') engine, view's FB", f.direct);
            row(scenes[i].name, "(w) game view, window", f.view);
            row(scenes[i].name, "  compositor's frame", f.composite);
            row(scenes[i].name, "  of which the swap", f.swap);
            difference(scenes[i].name, "(w) - (a')", f.view, f.direct);
            difference(scenes[i].name, "(w) - (b), headless", f.view, headless[i].view);
        }
    }
    std::filesystem::remove(image);
    return 0;
}
