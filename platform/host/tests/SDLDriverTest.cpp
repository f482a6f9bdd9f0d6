// The window driver under an X server of the test's own: the window's size per device and zoom,
// SDL events become touches and lifecycle transitions traced as script commands, the virtual
// accelerometer; and, without a display, the sensor conversion.
#include <EGL/egl.h>
#include <GLES2/gl2.h>
#include <SDL2/SDL.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/foundation/Clock.h"
#include "platform/foundation/RunLoop.h"
#include "platform/gl/DisplayLink.h"
#include "platform/gl/GLContext.h"
#include "platform/gl/GLLayer.h"
#include "platform/gl/HeadlessGL.h"
#include "platform/image/ImageCodec.h"
#include "platform/host/HeadlessHost.h"
#include "platform/host/SDLAccelerometer.h"
#include "platform/host/SDLWindow.h"
#include "platform/host/tests/OtherXClient.h"
#include "platform/host/tests/ShownPixel.h"
#include "platform/sys/Accelerometer.h"
#include "platform/sys/Device.h"
#include "platform/ui/Application.h"
#include "platform/ui/TextView.h"
#include "platform/ui/ViewController.h"
#include "platform/ui/Window.h"
#include "platform/ui/tests/ComposeScenes.h"
#include "tests/support/TestSupport.h"

// Under LeakSanitizer, for the whole of host_tests: SDL's D-Bus connection leaves blocks behind, and
// fontconfig (behind the text of alerts and entry screens) keeps its caches for the process's life;
// neither is ours.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libdbus-1.so\nleak:libfontconfig.so\n";
}

namespace {

using namespace plat;

using Records = std::vector<std::string>;

void note(Records* records, const char* format, double a = 0, double b = 0, double c = 0) {
    char line[128];
    std::snprintf(line, sizeof line, format, a, b, c);
    records->push_back(line);
}

// A full-screen view that notes each finger's phase and place in the window.
class TouchView : public ui::View {
public:
    explicit TouchView(Records* records) : m_records(records) { setMultipleTouchEnabled(true); }
    void touchesBegan(const ui::TouchSet& t, const ui::Event&) override { noteAll("began", t); }
    void touchesMoved(const ui::TouchSet& t, const ui::Event&) override { noteAll("moved", t); }
    void touchesEnded(const ui::TouchSet& t, const ui::Event&) override { noteAll("ended", t); }
    void touchesCancelled(const ui::TouchSet& t, const ui::Event&) override { noteAll("cancelled", t); }

private:
    void noteAll(const char* phase, const ui::TouchSet& touches) {
        for (const auto& touch : touches) {
            const ui::Point at = touch->locationInView(nullptr);
            m_records->push_back(std::string(phase) + " (" + std::to_string(at.x).substr(0, 5) + "," +
                                 std::to_string(at.y).substr(0, 5) + ")");
        }
    }
    Records* m_records;
};

class TouchController : public ui::ViewController {
public:
    explicit TouchController(Records* records) : m_records(records) {}
    void loadView() override {
        setView(std::make_shared<TouchView>(m_records));
        view()->setFrame(ui::Application::shared()->interfaceBounds());
    }

private:
    Records* m_records;
};

// Notes the lifecycle and touches, and at launch pushes the events `push` makes into SDL's queue.
class Delegate : public ui::ApplicationDelegate, public sys::AccelerometerDelegate {
public:
    Delegate(Records* records, std::vector<SDL_Event> events, bool accelerometer)
        : m_records(records), m_events(std::move(events)), m_accelerometer(accelerometer) {}
    ~Delegate() override { sys::Accelerometer::shared().setDelegate(nullptr); }

    void didFinishLaunching(ui::Application&) override {
        m_window = std::make_shared<ui::Window>(sys::Screen::main().bounds());
        m_window->setRootViewController(std::make_shared<TouchController>(m_records));
        m_window->makeKeyAndVisible();
        for (SDL_Event& event : m_events) SDL_PushEvent(&event);
        if (!m_accelerometer) return;
        // The idle timer holds the screensaver off, as a game in play does.
        note(m_records, "screensaver %g", SDL_IsScreenSaverEnabled());
        ui::Application::shared()->setIdleTimerDisabled(true);
        note(m_records, "screensaver %g", SDL_IsScreenSaverEnabled());
        sys::Accelerometer::shared().setUpdateInterval(0.05);
        sys::Accelerometer::shared().setDelegate(this);
        m_stop = foundation::RunLoop::main().addTimer(
            0.22, [] { sys::Accelerometer::shared().setDelegate(nullptr); });
    }
    void didBecomeActive(ui::Application&) override { m_records->push_back("didBecomeActive"); }
    void willResignActive(ui::Application&) override { m_records->push_back("willResignActive"); }
    void didEnterBackground(ui::Application&) override { m_records->push_back("didEnterBackground"); }
    void willEnterForeground(ui::Application&) override { m_records->push_back("willEnterForeground"); }
    void willTerminate(ui::Application&) override { m_records->push_back("willTerminate"); }
    void didAccelerate(sys::Accelerometer&, const sys::Acceleration& a) override {
        note(m_records, "accel %.4f %.4f %.4f", a.x, a.y, a.z);
        note(m_records, "@%.3f", foundation::RunLoop::main().now());
    }

private:
    Records* m_records;
    std::vector<SDL_Event> m_events;
    bool m_accelerometer;
    std::shared_ptr<ui::Window> m_window;
    foundation::Timer m_stop;
};

// A red window with a blue square at the interface's top left; turned upright at the first pump,
// then F12.
class PaintedDelegate : public ui::ApplicationDelegate {
public:
    void didFinishLaunching(ui::Application&) override {
        m_window = std::make_shared<ui::Window>(sys::Screen::main().bounds());
        m_window->setBackgroundColor(ui::Color{1, 0, 0, 1});
        m_window->setRootViewController(std::make_shared<ui::ViewController>());
        auto square = std::make_shared<ui::View>(ui::Rect{0, 0, 40, 40});
        square->setBackgroundColor(ui::Color{0, 0, 1, 1});
        m_window->rootViewController()->view()->addSubview(square);
        m_window->makeKeyAndVisible();
        SDL_Event key{};
        key.key.type = SDL_KEYDOWN;
        key.key.keysym.sym = SDLK_UP;
        key.key.keysym.mod = KMOD_LCTRL;
        SDL_PushEvent(&key);
        key.key.keysym.sym = SDLK_F12;  // then a screenshot
        key.key.keysym.mod = KMOD_NONE;
        SDL_PushEvent(&key);
    }

private:
    std::shared_ptr<ui::Window> m_window;
};

// One of the player's screens (ComposeScenes.h) as the launch's key window.
class SceneDelegate : public ui::ApplicationDelegate {
public:
    SceneDelegate(std::string scene, std::string dir) : m_scene(std::move(scene)), m_dir(std::move(dir)) {}
    void didFinishLaunching(ui::Application&) override {
        m_window = std::make_shared<ui::Window>(sys::Screen::main().bounds());
        dktest::buildComposeScene(m_scene, *m_window, m_dir);
        m_window->makeKeyAndVisible();
    }

private:
    std::string m_scene, m_dir;
    std::shared_ptr<ui::Window> m_window;
};

// The window resized from outside before any input: a red interface with a blue square at its top
// left, touches noted. Once SDL has the window's new size in its queue, `events` follow it.
class ResizedDelegate : public ui::ApplicationDelegate {
public:
    ResizedDelegate(Records* records, SDL_Window* window, int width, int height,
                    std::vector<SDL_Event> events)
        : m_records(records),
          m_sdlWindow(window),
          m_width(width),
          m_height(height),
          m_events(std::move(events)) {}
    void didFinishLaunching(ui::Application&) override {
        m_window = std::make_shared<ui::Window>(sys::Screen::main().bounds());
        m_window->setBackgroundColor(ui::Color{1, 0, 0, 1});
        m_window->setRootViewController(std::make_shared<TouchController>(m_records));
        auto square = std::make_shared<ui::View>(ui::Rect{0, 0, 40, 40});
        square->setBackgroundColor(ui::Color{0, 0, 1, 1});
        m_window->rootViewController()->view()->addSubview(square);
        // Beyond the interface's left edge: on no bar.
        auto outside = std::make_shared<ui::View>(ui::Rect{-40, 80, 40, 40});
        outside->setBackgroundColor(ui::Color{0, 1, 0, 1});
        m_window->rootViewController()->view()->addSubview(outside);
        m_window->makeKeyAndVisible();
        SDL_SetWindowPosition(m_sdlWindow, 0, 0);  // all of it on the X screen, to be read back
        SDL_SetWindowSize(m_sdlWindow, m_width, m_height);
        // The X server answers in its own time: wait for the size itself (generous real limit).
        bool seen = false;
        for (int i = 0; i < 20000 && !seen; ++i) {
            SDL_PumpEvents();
            SDL_Event queued[64];
            const int count = SDL_PeepEvents(queued, 64, SDL_PEEKEVENT, SDL_WINDOWEVENT, SDL_WINDOWEVENT);
            for (int e = 0; e < count; ++e)
                seen = seen || (queued[e].window.event == SDL_WINDOWEVENT_SIZE_CHANGED &&
                                queued[e].window.data1 == m_width && queued[e].window.data2 == m_height);
            if (!seen) SDL_Delay(1);
        }
        m_records->push_back(seen ? "resized" : "never resized");
        for (SDL_Event& event : m_events) SDL_PushEvent(&event);
    }

private:
    Records* m_records;
    SDL_Window* m_sdlWindow;
    int m_width, m_height;
    std::vector<SDL_Event> m_events;
    std::shared_ptr<ui::Window> m_window;
};

// A text view that takes the keyboard at launch, and the events `push` makes; notes its text at
// the end.
class TypingDelegate : public ui::ApplicationDelegate {
public:
    TypingDelegate(Records* records, std::vector<SDL_Event> events)
        : m_records(records), m_events(std::move(events)) {}
    void didFinishLaunching(ui::Application&) override {
        m_window = std::make_shared<ui::Window>(sys::Screen::main().bounds());
        m_window->setRootViewController(std::make_shared<ui::ViewController>());
        m_window->makeKeyAndVisible();
        m_window->addSubview(m_text);
        m_text->becomeFirstResponder();
        for (SDL_Event& event : m_events) SDL_PushEvent(&event);
    }
    void willTerminate(ui::Application&) override { m_records->push_back(m_text->text()); }

private:
    Records* m_records;
    std::vector<SDL_Event> m_events;
    std::shared_ptr<ui::Window> m_window;
    std::shared_ptr<ui::TextView> m_text = std::make_shared<ui::TextView>();
};

// What a test holds through a run: work in flight (holding the virtual clock still while the loop
// waits on its descriptors) and a timer.
struct Held {
    foundation::WorkInFlight work;
    foundation::Timer timer;
    std::shared_ptr<void> kept;
};

// A key window, then at launch whatever the test does to the window from outside; what it holds
// goes with the run.
class OutsideDelegate : public ui::ApplicationDelegate {
public:
    using AtLaunch = std::function<void(Held* held)>;
    explicit OutsideDelegate(AtLaunch atLaunch) : m_atLaunch(std::move(atLaunch)) {}
    void didFinishLaunching(ui::Application&) override {
        m_window = std::make_shared<ui::Window>(sys::Screen::main().bounds());
        m_window->setRootViewController(std::make_shared<ui::ViewController>());
        m_window->makeKeyAndVisible();
        m_atLaunch(&m_held);
    }
    void willTerminate(ui::Application&) override { m_held = {}; }

private:
    AtLaunch m_atLaunch;
    Held m_held;
    std::shared_ptr<ui::Window> m_window;
};

// Stops the main loop should a run still be going after `seconds` of real time: a loop that spins
// never reaches the end of its virtual run.
class Watchdog {
public:
    explicit Watchdog(double seconds)
        : m_thread([this, seconds] {
              std::unique_lock lock(m_mutex);
              if (!m_done.wait_for(lock, std::chrono::duration<double>(seconds), [this] { return m_finished; }))
                  foundation::RunLoop::main().stop();
          }) {}
    ~Watchdog() {
        {
            std::lock_guard lock(m_mutex);
            m_finished = true;
        }
        m_done.notify_all();
        m_thread.join();
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_done;
    bool m_finished = false;
    std::thread m_thread;
};

// Event makers: window coordinates, a finger's place as a fraction of the window.
SDL_Event mouse(Uint32 type, int x, int y, Uint32 which = 0) {
    SDL_Event e{};
    e.type = type;
    if (type == SDL_MOUSEMOTION) {
        e.motion = {type, 0, 1, which, SDL_BUTTON_LMASK, x, y, 0, 0};
    } else {
        e.button.type = type;
        e.button.windowID = 1;
        e.button.which = which;
        e.button.button = SDL_BUTTON_LEFT;
        e.button.state = type == SDL_MOUSEBUTTONDOWN ? SDL_PRESSED : SDL_RELEASED;
        e.button.x = x;
        e.button.y = y;
    }
    return e;
}

SDL_Event finger(Uint32 type, SDL_FingerID id, float x, float y) {
    SDL_Event e{};
    e.tfinger.type = type;
    e.tfinger.touchId = 1;
    e.tfinger.fingerId = id;
    e.tfinger.x = x;
    e.tfinger.y = y;
    return e;
}

SDL_Event windowEvent(Uint8 what) {
    SDL_Event e{};
    e.window.type = SDL_WINDOWEVENT;
    e.window.event = what;
    return e;
}

SDL_Event key(SDL_Keycode sym, Uint16 mod = KMOD_NONE, Uint8 repeat = 0) {
    SDL_Event e{};
    e.key.type = SDL_KEYDOWN;
    e.key.state = SDL_PRESSED;
    e.key.repeat = repeat;
    e.key.keysym.sym = sym;
    e.key.keysym.mod = mod;
    return e;
}

SDL_Event typed(const char* text) {
    SDL_Event e{};
    e.text.type = SDL_TEXTINPUT;
    std::snprintf(e.text.text, sizeof e.text.text, "%s", text);
    return e;
}

SDL_Event plain(Uint32 type) {
    SDL_Event e{};
    e.type = type;
    return e;
}

class SDLDriverTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!m_x.installed()) GTEST_SKIP() << m_x.why();
        ASSERT_TRUE(m_x.running()) << m_x.why();
        // Mesa's driver stays loaded for the process, as in a headless run, so what it keeps for
        // its lifetime still reads as reachable after SDL lets the window's display go.
        gl::GLContext::display();
        std::filesystem::create_directories(m_dir.file("Game.app"));
        dktest::writeFile(m_dir.file("Game.app/Info.plist"), "<plist version=\"1.0\"><dict/></plist>");
        m_options.bundle = m_dir.file("Game.app");
        m_options.home = m_dir.file("home");
        m_options.clock = host::ClockChoice::Virtual;  // a window on the virtual clock: pumps at exact times
        m_options.deviceOrientation = 3;               // landscape glass: 960x640
        m_options.duration = 5;                        // should the window's close not come
        m_options.trace = "input";
        m_options.traceFile = m_dir.file("trace.txt");
    }

    Records run(std::vector<SDL_Event> events, bool accelerometer = false) {
        Records records;
        host::HeadlessHost driver(m_options);
        std::string message;
        EXPECT_EQ(driver.prepare(&message), 0) << message;
        EXPECT_TRUE(driver.window());
        EXPECT_EQ(
            driver.run(std::make_unique<Delegate>(&records, std::move(events), accelerometer), &message), 0)
            << message;
        return records;
    }

    dktest::XvfbServer m_x;
    dktest::TempDir m_dir;
    host::HostOptions m_options;
};

TEST_F(SDLDriverTest, TheWindowIsTheGlassAsHeldAtLaunchZoomedToFit) {
    const struct Case {
        const char* device;
        int orientation;
        double zoom;
        int width, height;
    } cases[] = {
        {"phone-retina", 1, 1, 640, 960},   {"phone-retina", 3, 1, 960, 640},
        {"phone", 5, 2, 640, 960},          {"tablet", 4, 2, 1024, 768},  // 2048x1536 halved to fit 1280x1024
        {"tablet-retina", 1, 1, 768, 1024},                               // 1536x2048 halved
        {"phone5", 0, 1, 320, 568},                                       // 640x1136 is too tall
    };
    for (const Case& c : cases) {
        const sys::DevicePreset* preset = sys::findDevicePreset(c.device);
        ASSERT_TRUE(preset);
        std::string error;
        const std::unique_ptr<host::SDLWindow> window =
            host::SDLWindow::open(host::glassFor(preset->width, preset->height, preset->scale, c.orientation),
                                  c.zoom, "test", &error);
        ASSERT_TRUE(window) << error;
        int width = 0, height = 0;
        SDL_GetWindowSize(window->window(), &width, &height);
        EXPECT_EQ(width, c.width) << c.device << " " << c.orientation;
        EXPECT_EQ(height, c.height) << c.device << " " << c.orientation;
    }
}

TEST_F(SDLDriverTest, TheGroupsContextsAreTheWindowsAndShareDrawables) {
    std::string error;
    const std::unique_ptr<host::SDLWindow> window =
        host::SDLWindow::open(host::glassFor(320, 480, 1, 1), 1, "t", &error);
    ASSERT_TRUE(window) << error;
    std::unique_ptr<gl::GLContext> game = gl::GLContext::create(&error);
    std::unique_ptr<gl::GLContext> screen = gl::GLContext::create(&error);
    ASSERT_TRUE(game && screen) << error;
    ASSERT_TRUE(game->makeCurrent());
    EXPECT_EQ(eglGetCurrentSurface(EGL_DRAW), EGL_NO_SURFACE);  // drawing goes into frame buffers
    gl::GLLayer layer;
    layer.setBounds(4, 2);
    GLuint framebuffer = 0;
    glGenFramebuffers(1, &framebuffer);
    glBindFramebuffer(GL_FRAMEBUFFER, framebuffer);
    ASSERT_TRUE(layer.allocateStorage());
    glClearColor(0, 1, 0, 1);
    glClear(GL_COLOR_BUFFER_BIT);
    layer.present();

    // The screen's context reads the game's drawing, then shows a frame in the window and gives
    // the game its context back.
    ASSERT_TRUE(screen->makeCurrent());
    const std::vector<std::uint8_t> pixels = layer.readPixels();
    ASSERT_EQ(pixels.size(), 4u * 2 * 4);
    EXPECT_EQ(std::vector<std::uint8_t>(pixels.begin(), pixels.begin() + 4),
              (std::vector<std::uint8_t>{0, 255, 0, 255}));
    ASSERT_TRUE(game->makeCurrent());
    {
        const gl::CurrentContextScope keep;
        ASSERT_TRUE(window->bind(*screen));
        glClear(GL_COLOR_BUFFER_BIT);
        window->swap();
    }
    EXPECT_TRUE(game->isCurrent());
    // The compositor puts contexts back through EGL, behind SDL's back: making the same context
    // current again must still switch.
    eglMakeCurrent(eglGetCurrentDisplay(), EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
    ASSERT_TRUE(game->makeCurrent());
    EXPECT_TRUE(game->isCurrent());
    glDeleteFramebuffers(1, &framebuffer);
    layer.releaseStorage();
}

// A layer's picture goes into the window surface in place, turned upright and into X's layout:
// every row and column tells apart, widths not a multiple of the vector lanes, an odd middle row.
TEST_F(SDLDriverTest, ALayerShownInTheWindowIsItsPictureUprightPixelForPixel) {
    const struct Case {
        int width, height;
    } cases[] = {{33, 21}, {32, 20}, {5, 1}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.width) + "x" + std::to_string(c.height));
        std::string error;
        std::unique_ptr<host::SDLWindow> window =
            host::SDLWindow::open(host::glassFor(c.width, c.height, 1, 1), 1, "t", &error);
        ASSERT_TRUE(window) << error;
        int width = 0, height = 0;
        SDL_GetWindowSize(window->window(), &width, &height);
        ASSERT_EQ(width, c.width);
        ASSERT_EQ(height, c.height);
        {
            std::unique_ptr<gl::GLContext> context = gl::GLContext::create(&error);
            ASSERT_TRUE(context) << error;
            ASSERT_TRUE(context->makeCurrent());
            gl::GLLayer layer;
            layer.setBounds(c.width, c.height);
            GLuint framebuffer = 0;
            glGenFramebuffers(1, &framebuffer);
            glBindFramebuffer(GL_FRAMEBUFFER, framebuffer);
            ASSERT_TRUE(layer.allocateStorage());
            std::vector<std::uint8_t> painted;
            for (int y = 0; y < c.height; ++y)
                for (int x = 0; x < c.width; ++x)
                    painted.insert(painted.end(), {static_cast<std::uint8_t>(x * 7), static_cast<std::uint8_t>(y * 11),
                                                   static_cast<std::uint8_t>(200 - x - y), 255});
            glBindTexture(GL_TEXTURE_2D, layer.texture());
            glTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, c.width, c.height, GL_RGBA, GL_UNSIGNED_BYTE, painted.data());
            glBindTexture(GL_TEXTURE_2D, 0);
            layer.present();
            const std::vector<std::uint8_t> expected = layer.readPixels();
            std::vector<std::uint8_t> topDown;
            const size_t stride = static_cast<size_t>(c.width) * 4;
            for (int y = c.height - 1; y >= 0; --y)
                topDown.insert(topDown.end(), painted.begin() + y * stride, painted.begin() + (y + 1) * stride);
            ASSERT_EQ(expected, topDown);

            std::vector<std::uint8_t> scratch;
            ASSERT_TRUE(window->showLayer(layer, &scratch));
            const std::vector<std::uint8_t> shown = dktest::shownPixels(window->window(), c.width, c.height);
            ASSERT_EQ(shown.size(), expected.size());
            size_t differing = 0;
            for (size_t i = 0; i < shown.size(); ++i) differing += shown[i] != expected[i];
            EXPECT_EQ(differing, 0u);
            // X's 24-bit image took the read itself: no copy went between.
            EXPECT_TRUE(scratch.empty());

            glDeleteFramebuffers(1, &framebuffer);
            layer.releaseStorage();
            context.reset();
        }
    }
}

TEST_F(SDLDriverTest, TheWindowShowsTheCompositorsFramesTurnedOnTheGlassAndF12TakesTheScreen) {
    m_options.duration = 0.1;
    ASSERT_EQ(chdir(m_dir.path().c_str()), 0);  // where F12 writes
    host::HeadlessHost driver(m_options);
    std::string message;
    ASSERT_EQ(driver.prepare(&message), 0) << message;
    ASSERT_TRUE(driver.window());
    testing::internal::CaptureStderr();
    ASSERT_EQ(driver.run(std::make_unique<PaintedDelegate>(), &message), 0) << message;
    const std::string said = testing::internal::GetCapturedStderr();
    // Landscape glass (960x640), the interface turned upright on it: its top left is the window's
    // bottom left. The last frame stays in the window after the run.
    SDL_Window* window = driver.window()->window();
    EXPECT_EQ(dktest::shownPixel(window, 40, 600), 0x0000FFu);  // the square's middle, (20, 20) points
    EXPECT_EQ(dktest::shownPixel(window, 90, 600), 0xFF0000u);  // right of it
    EXPECT_EQ(dktest::shownPixel(window, 40, 540), 0xFF0000u);  // above it
    EXPECT_EQ(dktest::shownPixel(window, 900, 40), 0xFF0000u);
    // Views alone: every frame went through the window surface, none through a swap.
    EXPECT_EQ(driver.window()->swaps(), 0);

    // The screenshot is what the window shows: the glass, the interface turned on it.
    std::vector<std::string> shots;
    for (const auto& entry : std::filesystem::directory_iterator(m_dir.path()))
        if (entry.path().filename().string().rfind("drovik-", 0) == 0) shots.push_back(entry.path());
    ASSERT_EQ(shots.size(), 1u);
    // The person who pressed F12 is told where the picture went.
    EXPECT_EQ(said, "drovik-player: the screen is in " + shots[0] + "\n");
    int width = 0, height = 0;
    std::vector<std::uint8_t> rgba;
    ASSERT_TRUE(image::readPNG(shots[0], &width, &height, &rgba, &message)) << message;
    ASSERT_EQ(width, 960);
    ASSERT_EQ(height, 640);
    auto pixel = [&](int x, int y) {
        const auto at = rgba.begin() + (y * width + x) * 4;
        return std::vector<std::uint8_t>(at, at + 4);
    };
    EXPECT_EQ(pixel(40, 600), (std::vector<std::uint8_t>{0, 0, 255, 255}));
    EXPECT_EQ(pixel(40, 40), (std::vector<std::uint8_t>{255, 0, 0, 255}));
}

// What the window shows of the player's screens is what a screenshot takes, byte for byte.
TEST_F(SDLDriverTest, TheWindowShowsThePlayersScreensByteForByte) {
    m_options.device = "phone";  // a 320 x 480 window
    m_options.deviceOrientation = 1;
    m_options.duration = 0.1;
    for (const std::string& scene : dktest::composeSceneNames()) {
        SCOPED_TRACE(scene);
        host::HeadlessHost driver(m_options);
        std::string message;
        ASSERT_EQ(driver.prepare(&message), 0) << message;
        ASSERT_TRUE(driver.window());
        ASSERT_EQ(driver.run(std::make_unique<SceneDelegate>(scene, m_dir.path()), &message), 0) << message;
        const std::vector<std::uint8_t> shown = dktest::shownPixels(driver.window()->window(), 320, 480);
        int width = 0, height = 0;
        std::vector<std::uint8_t> expected;
        ASSERT_TRUE(image::readPNG(dktest::composeScenePicture(scene), &width, &height, &expected, &message))
            << message;
        ASSERT_EQ(shown.size(), expected.size());
        size_t differing = 0;
        for (size_t i = 0; i < shown.size(); ++i) differing += shown[i] != expected[i];
        EXPECT_EQ(differing, 0u);
    }
}

TEST_F(SDLDriverTest, AWindowResizedFromOutsideKeepsThePicturesProportionsAndTouchesLandWhereTheyShow) {
    // Landscape glass (960x640, 480x320 points) made 1200x400: the picture is 600x400 from x = 300,
    // 1.25 pixels a point, black bars either side.
    m_options.trace = "input,window";
    Records records;
    host::HeadlessHost driver(m_options);
    std::string message;
    ASSERT_EQ(driver.prepare(&message), 0) << message;
    ASSERT_TRUE(driver.window());
    SDL_Window* window = driver.window()->window();
    const std::vector<SDL_Event> events = {
        mouse(SDL_MOUSEBUTTONDOWN, 450, 100),  // stretched, this showed (120, 80) and touched (150, 50)
        mouse(SDL_MOUSEBUTTONUP, 450, 100),
        mouse(SDL_MOUSEBUTTONDOWN, 100, 100),  // on a bar: no touch
        mouse(SDL_MOUSEMOTION, 120, 110),
        mouse(SDL_MOUSEBUTTONUP, 120, 110),
        mouse(SDL_MOUSEBUTTONDOWN, 880, 300),  // a drag off the picture stays on its edge
        mouse(SDL_MOUSEMOTION, 1150, 390),
        mouse(SDL_MOUSEBUTTONUP, 1150, 390),
        finger(SDL_FINGERDOWN, 3, 0.1f, 0.5f),  // on the left bar: no touch
        finger(SDL_FINGERUP, 3, 0.1f, 0.5f),
        finger(SDL_FINGERDOWN, 4, 0.5f, 0.5f),  // the middle of the window is the picture's
        finger(SDL_FINGERUP, 4, 0.5f, 0.5f),
    };
    ASSERT_EQ(driver.run(std::make_unique<ResizedDelegate>(&records, window, 1200, 400, events), &message), 0)
        << message;
    const Records expected = {
        "resized",
        "began (120.0,80.00)",
        "ended (120.0,80.00)",
        "began (464.0,240.0)",
        "moved (480.0,312.0)",
        "ended (480.0,312.0)",
        "began (240.0,160.0)",
        "ended (240.0,160.0)",
    };
    EXPECT_EQ(records, expected);
    const std::string trace = dktest::readFile(m_dir.file("trace.txt"));
    EXPECT_NE(trace.find(" window size 1200x400\n"), std::string::npos) << trace;
    EXPECT_NE(trace.find(" input touch down 0 120 80\n"), std::string::npos) << trace;

    // What the window shows: bars, and the square 50 pixels wide at the picture's top left.
    int width = 0, height = 0;
    SDL_GetWindowSize(window, &width, &height);
    ASSERT_EQ(width, 1200);
    ASSERT_EQ(height, 400);
    EXPECT_EQ(dktest::shownPixel(window, 150, 200), 0x000000u);
    EXPECT_EQ(dktest::shownPixel(window, 275, 125), 0x000000u);  // the view beyond the left edge
    EXPECT_EQ(dktest::shownPixel(window, 305, 125), 0xFF0000u);
    EXPECT_EQ(dktest::shownPixel(window, 299, 20), 0x000000u);
    EXPECT_EQ(dktest::shownPixel(window, 301, 20), 0x0000FFu);
    EXPECT_EQ(dktest::shownPixel(window, 348, 48), 0x0000FFu);
    EXPECT_EQ(dktest::shownPixel(window, 352, 20), 0xFF0000u);
    EXPECT_EQ(dktest::shownPixel(window, 320, 52), 0xFF0000u);
    EXPECT_EQ(dktest::shownPixel(window, 898, 398), 0xFF0000u);
    EXPECT_EQ(dktest::shownPixel(window, 901, 200), 0x000000u);
    EXPECT_EQ(dktest::shownPixel(window, 1199, 399), 0x000000u);
}

TEST(SDLWindowPicture, TheGlassKeepsItsProportionsCentredInAnyWindow) {
    const host::Glass landscape = host::glassFor(320, 480, 2, 3);  // 480x320 points as shown
    const host::Glass portrait = host::glassFor(320, 568, 2, 1);
    const struct Case {
        const host::Glass* glass;
        int width, height;
        host::Picture picture;
    } cases[] = {
        {&landscape, 960, 640, {0, 0, 960, 640}},     // as opened: all picture
        {&landscape, 1200, 400, {300, 0, 600, 400}},  // wide: bars left and right
        {&landscape, 480, 1000, {0, 340, 480, 320}},  // tall: bars above and below
        {&landscape, 601, 400, {0, 0, 601, 400}},     // within a pixel: the whole window
        {&landscape, 603, 400, {1, 0, 600, 400}},     // an odd bar: the extra pixel on the right
        {&portrait, 640, 1136, {0, 0, 640, 1136}},
        {&portrait, 1136, 640, {387, 0, 361, 640}},  // 360.56 wide, rounded
        {&portrait, 0, 500, {0, 0, 0, 500}},         // nothing to show in
    };
    for (const Case& c : cases) {
        const host::Picture p = host::pictureIn(*c.glass, c.width, c.height);
        EXPECT_EQ(std::vector<int>({p.x, p.y, p.width, p.height}),
                  std::vector<int>({c.picture.x, c.picture.y, c.picture.width, c.picture.height}))
            << c.width << "x" << c.height;
    }
}

TEST_F(SDLDriverTest, EventsBecomeTouchesAndTransitionsTracedAsScriptCommands) {
    const Records records = run({
        mouse(SDL_MOUSEBUTTONDOWN, 100, 50),
        mouse(SDL_MOUSEMOTION, 200, 100),
        mouse(SDL_MOUSEBUTTONDOWN, 300, 300, SDL_TOUCH_MOUSEID),  // a finger's own mouse event
        mouse(SDL_MOUSEBUTTONUP, 200, 100),
        finger(SDL_FINGERDOWN, 7, 0.5f, 0.5f),
        finger(SDL_FINGERDOWN, 9, 0.25f, 0.75f),
        mouse(SDL_MOUSEMOTION, 10, 10, SDL_TOUCH_MOUSEID),
        finger(SDL_FINGERUP, 7, 0.5f, 0.5f),
        finger(SDL_FINGERMOTION, 9, 0.5f, 0.75f),
        finger(SDL_FINGERUP, 9, 0.5f, 0.75f),
        key(SDLK_UP, KMOD_LCTRL),  // the device turns upright: a portrait interface on landscape glass
        mouse(SDL_MOUSEBUTTONDOWN, 100, 50),
        mouse(SDL_MOUSEBUTTONUP, 100, 50),
        windowEvent(SDL_WINDOWEVENT_FOCUS_LOST),
        windowEvent(SDL_WINDOWEVENT_FOCUS_GAINED),
        windowEvent(SDL_WINDOWEVENT_SHOWN),  // active already: nothing
        windowEvent(SDL_WINDOWEVENT_MINIMIZED),
        windowEvent(SDL_WINDOWEVENT_RESTORED),
        key(SDLK_F3),
        key(SDLK_F3),
        key(SDLK_F4),
        key(SDLK_F4, KMOD_NONE, 1),  // a repeat: nothing
        key(SDLK_F4),
        key(SDLK_F1),
        plain(SDL_APP_LOWMEMORY),
        windowEvent(SDL_WINDOWEVENT_CLOSE),
        plain(SDL_QUIT),  // closing the last window sends both: one quit
    });
    const Records expected = {
        "didBecomeActive",     "began (50.00,25.00)", "moved (100.0,50.00)", "ended (100.0,50.00)",
        "began (240.0,160.0)", "began (120.0,240.0)", "ended (240.0,160.0)", "moved (240.0,240.0)",
        "ended (240.0,240.0)", "began (295.0,50.00)", "ended (295.0,50.00)", "willResignActive",
        "didBecomeActive",     "willResignActive",    "didEnterBackground",  "willEnterForeground",
        "didBecomeActive",     "willResignActive",    "didBecomeActive",     "willResignActive",
        "didEnterBackground",  "willEnterForeground", "didBecomeActive",     "willResignActive",
        "didEnterBackground",  "willTerminate",
    };
    EXPECT_EQ(records, expected);
    EXPECT_EQ(dktest::readFile(m_dir.file("trace.txt")),
              dktest::readFile(DK_TEST_DATA_DIR "/window-trace.txt"));
}

TEST_F(SDLDriverTest,
       ArrowsTiltTheVirtualAccelerometerSampledWhileItHasADelegateAndTheIdleTimerHoldsTheScreen) {
    m_options.duration = 0.4;
    const Records records =
        run({key(SDLK_RIGHT), key(SDLK_RIGHT, KMOD_NONE, 1), key(SDLK_RIGHT), key(SDLK_UP)}, true);
    // Landscape, the device's top on the viewer's left: the tilt right leans gravity to the device's -y.
    const Records expected = {
        "screensaver 1",
        "screensaver 0",
        "didBecomeActive",
        "accel -0.9623 -0.2578 -0.0872",
        "@0.100",
        "accel -0.9623 -0.2578 -0.0872",
        "@0.150",
        "accel -0.9623 -0.2578 -0.0872",
        "@0.200",
        "willResignActive",
        "didEnterBackground",
        "willTerminate",
    };
    EXPECT_EQ(records, expected);
    EXPECT_EQ(dktest::readFile(m_dir.file("trace.txt")),
              "t=0.100000 input accel -0.96225 -0.257834 -0.087156\n"
              "t=0.150000 input accel -0.96225 -0.257834 -0.087156\n"
              "t=0.200000 input accel -0.96225 -0.257834 -0.087156\n");
}

TEST_F(SDLDriverTest, TypingReachesTheTextViewTakingTheKeyboardAsScriptCommands) {
    Records records;
    host::HeadlessHost driver(m_options);
    std::string message;
    ASSERT_EQ(driver.prepare(&message), 0) << message;
    const std::vector<SDL_Event> events = {
        typed("Zo\xc3\xa9"),
        key(SDLK_RETURN),
        typed("\"a\\"),
        key(SDLK_BACKSPACE),
        key(SDLK_BACKSPACE, KMOD_NONE, 1),
        typed("\xf0\x9f\x87\xab\xf0\x9f\x87\xb7"),
        key(SDLK_BACKSPACE, KMOD_NONE, 1),
        plain(SDL_QUIT),
    };
    ASSERT_EQ(driver.run(std::make_unique<TypingDelegate>(&records, events), &message), 0) << message;
    EXPECT_EQ(records, Records{"Zo\xc3\xa9\n\""});
    EXPECT_EQ(dktest::readFile(m_dir.file("trace.txt")),
              "t=0.005000 input text.type \"Zo\xc3\xa9\"\n"
              "t=0.005000 input text.type \"\\n\"\n"
              "t=0.005000 input text.type \"\\\"a\\\\\"\n"
              "t=0.005000 input text.delete\n"
              "t=0.005000 input text.delete\n"
              "t=0.005000 input text.type \"\xf0\x9f\x87\xab\xf0\x9f\x87\xb7\"\n"
              "t=0.005000 input text.delete\n"
              "t=0.005000 input app.quit\n");
}

// The loop sleeps on the X connection instead of pumping every 5 ms: what the server sends while it
// would sleep is played at once, also when Xlib has already read it off the connection (which then
// has nothing to say); events pushed into SDL's queue still wait for their 5 ms beat, the
// connection readable meanwhile or not.
TEST_F(SDLDriverTest, XEventsArePlayedWhenTheyArriveAndPushedOnesOnTheirBeat) {
    constexpr double kCap = 30;  // real seconds for the X server to deliver, whatever the load
    const struct Case {
        const char* name;
        std::function<void(SDL_Window*, Held*)> atLaunch;
        std::string trace;
    } cases[] = {
        {"a close arriving while the loop waits",
         [](SDL_Window* window, Held* held) {
             held->work = foundation::Clock::process().beginWork();
             dktest::OtherXClient(window).sendClose();
         },
         "t=0.000000 input app.quit\n"},
        {"a close Xlib has read already",
         [](SDL_Window* window, Held*) {
             dktest::OtherXClient(window).sendClose();
             EXPECT_TRUE(dktest::readCloseIntoXlib(window, kCap));
         },
         "t=0.000000 input app.quit\n"},
        {"a key pushed, then the connection readable before its beat",
         [](SDL_Window* window, Held* held) {
             SDL_Event f1 = key(SDLK_F1);
             SDL_PushEvent(&f1);
             // After the launch's picture has been shown (its update reads the connection).
             held->timer = foundation::RunLoop::main().addTimer(0.002, [window] {
                 dktest::OtherXClient(window).changeProperty();
                 EXPECT_TRUE(dktest::waitUntilReadable(window, kCap));
             });
         },
         "t=0.005000 input memory.warning\n"},
    };
    m_options.duration = 0.05;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        host::HeadlessHost driver(m_options);
        std::string message;
        ASSERT_EQ(driver.prepare(&message), 0) << message;
        ASSERT_TRUE(driver.window());
        SDL_Window* window = driver.window()->window();
        ASSERT_TRUE(dktest::OtherXClient(window).connected());
        {
            const Watchdog watchdog(2 * kCap);
            ASSERT_EQ(driver.run(std::make_unique<OutsideDelegate>([&](Held* held) { c.atLaunch(window, held); }),
                                 &message),
                      0)
                << message;
        }
        EXPECT_EQ(dktest::readFile(m_dir.file("trace.txt")), c.trace);
    }
}

TEST_F(SDLDriverTest, TheRefreshPumpRidesOnTheFramesAndNeverWakesTheLoopBetweenThem) {
    // The frames start 1 ms after the pump was armed, so a pump that woke the loop at its own
    // deadline would come just before each frame, every frame.
    struct Frames {
        std::vector<double> ticks, turns;
        gl::DisplayLink link{[this] { ticks.push_back(foundation::RunLoop::main().now()); }};
        foundation::TurnObserver observer;
    };
    auto frames = std::make_shared<Frames>();
    m_options.duration = 1;
    host::HeadlessHost driver(m_options);
    std::string message;
    ASSERT_EQ(driver.prepare(&message), 0) << message;
    ASSERT_EQ(driver.run(std::make_unique<OutsideDelegate>([frames](Held* held) {
                             held->kept = frames;
                             sys::Accelerometer::shared().setUpdateInterval(10);  // its samples wake the loop too
                             held->timer = foundation::RunLoop::main().addTimer(0.001, [frames] {
                                 frames->link.addToRunLoop(foundation::RunLoop::main());
                                 frames->observer = foundation::RunLoop::main().addTurnObserver(
                                     [f = frames.get()] { f->turns.push_back(foundation::RunLoop::main().now()); });
                             });
                         }),
                         &message),
              0)
        << message;
    frames->observer = {};
    ASSERT_GT(frames->ticks.size(), 50u);
    std::vector<double> between;  // after the launch's own wake-ups and the first sample of the sensors
    for (double t : frames->turns) {
        const bool onTick = std::any_of(frames->ticks.begin(), frames->ticks.end(),
                                        [t](double tick) { return std::fabs(tick - t) < 1e-9; });
        if (t > 0.15 && !onTick) between.push_back(t);
    }
    // The run's end may fall between two frames.
    EXPECT_LE(between.size(), 1u) << between.size() << " wake-ups between frames, the first at t=" << between.front();
}

// A windowed run under --frames N alone whose game draws nothing (here, none at all) ends at the
// clock bound a headless run has, and says how far it got.
TEST_F(SDLDriverTest, AWindowedRunUnderFramesEndsAtItsBoundWhenTheGameStopsDrawing) {
    m_options.duration.reset();
    m_options.frames = 30;
    host::HeadlessHost driver(m_options);
    std::string message;
    ASSERT_EQ(driver.prepare(&message), 0) << message;
    ASSERT_TRUE(driver.window());
    testing::internal::CaptureStderr();
    {
        // Far past the bound, in case the run has none: the test ends and says so.
        const Watchdog watchdog(120);
        ASSERT_EQ(driver.run(std::make_unique<OutsideDelegate>([](Held* held) {
                                 held->timer = foundation::RunLoop::main().addTimer(1000, [] {
                                     ui::Application::shared()->quit();
                                 });
                             }),
                             &message),
                  0)
            << message;
    }
    EXPECT_NEAR(foundation::RunLoop::main().now(), 10.5, 1e-6);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "drovik-player: 0 of 30 frames drawn when the run reached its end at 10.5 clock seconds (see "
              "--duration)\n");
}

TEST(SDLAccelerometer, SensorReadingsAreGravityInGWithThePlatformsSign) {
    const float reading[3] = {0, static_cast<float>(host::kStandardGravity), -4.903325f};
    const sys::Acceleration a = host::accelerationFromSensor(reading, 2.5);
    EXPECT_NEAR(a.x, 0, 1e-12);
    EXPECT_NEAR(a.y, -1, 1e-6);
    EXPECT_NEAR(a.z, 0.5, 1e-6);
    EXPECT_EQ(a.timestamp, 2.5);

    const struct Case {
        int orientation;
        double right, up;
        double x, y, z;
    } cases[] = {
        {0, 0, 0, 0, -1, 0},  {1, 0, 0, 0, -1, 0},  {2, 0, 0, 0, 1, 0},  {3, 0, 0, -1, 0, 0},
        {4, 0, 0, 1, 0, 0},   {5, 0, 0, 0, 0, -1},  {6, 0, 0, 0, 0, 1},  {1, 90, 0, 1, 0, 0},
        {1, 0, 90, 0, 0, -1}, {2, 90, 0, -1, 0, 0}, {4, 90, 0, 0, 1, 0}, {5, 90, 0, 1, 0, 0},
        {5, 0, 90, 0, 1, 0},  {6, 0, 90, 0, 1, 0},
    };
    for (const Case& c : cases) {
        const sys::Acceleration v = host::virtualAcceleration(c.orientation, c.right, c.up);
        EXPECT_NEAR(v.x, c.x, 1e-12) << c.orientation << " " << c.right << " " << c.up;
        EXPECT_NEAR(v.y, c.y, 1e-12) << c.orientation << " " << c.right << " " << c.up;
        EXPECT_NEAR(v.z, c.z, 1e-12) << c.orientation << " " << c.right << " " << c.up;
    }
}

}  // namespace
