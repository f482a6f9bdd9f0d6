// What the ui tests share: one ordered record of trace lines and the tests' own notes, and a
// delegate, controllers and views that note what reaches them.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/Log.h"
#include "platform/gl/GLContext.h"
#include "platform/gl/GLLayer.h"
#include "platform/ui/Application.h"
#include "platform/ui/Compositor.h"
#include "platform/ui/ViewController.h"
#include "tests/support/TestSupport.h"

namespace dktest {

using Lines = std::vector<std::string>;

// A "test" trace line, so that notes and the system's lines share one order.
void note(const std::string& text);

// Trace lines of lifecycle, ui, audio, notify, open, alert, web, text and test, without their time
// stamps, while it lives.
class TraceLog {
public:
    TraceLog();
    ~TraceLog();
    // The lines since the last call.
    Lines take();

private:
    TempDir m_dir;
    std::string m_path;
    size_t m_read = 0;
};

// The three lines of a transition: its trace, the delegate's note, the notification.
Lines transitionLines(const std::string& operation);
Lines operator+(Lines a, const Lines& b);

struct NotingDelegate : plat::ui::ApplicationDelegate {
    std::function<void(plat::ui::Application&)> onLaunch;
    std::optional<unsigned> orientations;  // the answer for the window, if any
    ~NotingDelegate() override;
    void didFinishLaunching(plat::ui::Application& app) override;
    void didBecomeActive(plat::ui::Application&) override { note("delegate didBecomeActive"); }
    void willResignActive(plat::ui::Application&) override { note("delegate willResignActive"); }
    void didEnterBackground(plat::ui::Application&) override { note("delegate didEnterBackground"); }
    void willEnterForeground(plat::ui::Application&) override { note("delegate willEnterForeground"); }
    void willTerminate(plat::ui::Application&) override { note("delegate willTerminate"); }
    void didReceiveMemoryWarning(plat::ui::Application&) override { note("delegate didReceiveMemoryWarning"); }
    std::optional<unsigned> supportedInterfaceOrientationsForWindow(plat::ui::Application&,
                                                                    plat::ui::Window*) override {
        return orientations;
    }
};

// A controller named `name` whose answers are masks: `mask` on system 6 and later, `maskBelowSix`
// (the same unless given) through shouldAutorotateToInterfaceOrientation below it.
struct NotingController : plat::ui::ViewController {
    explicit NotingController(std::string name, unsigned mask = 30, int preferred = 0)
        : name(std::move(name)), mask(mask), maskBelowSix(mask), preferred(preferred) {}
    ~NotingController() override { note(name + " destroyed"); }
    std::string name;
    unsigned mask, maskBelowSix;
    int preferred;  // 0: the platform's default
    bool autorotate = true;

    const char* className() const override { return name.c_str(); }
    unsigned supportedInterfaceOrientations() const override { return mask; }
    bool shouldAutorotate() const override { return autorotate; }
    bool shouldAutorotateToInterfaceOrientation(int o) const override { return plat::ui::maskAllows(maskBelowSix, o); }
    int preferredInterfaceOrientationForPresentation() const override {
        return preferred ? preferred : ViewController::preferredInterfaceOrientationForPresentation();
    }
    void viewDidLoad() override { note(name + " viewDidLoad"); }
    void viewWillAppear(bool) override { note(name + " viewWillAppear"); }
    void viewDidAppear(bool) override { note(name + " viewDidAppear"); }
    void viewWillDisappear(bool) override { note(name + " viewWillDisappear"); }
    void viewDidDisappear(bool) override { note(name + " viewDidDisappear"); }
    void willRotateToInterfaceOrientation(int o, double duration) override;
    void didRotateFromInterfaceOrientation(int from) override { note(name + " didRotate " + std::to_string(from)); }
    void didReceiveMemoryWarning() override { note(name + " didReceiveMemoryWarning"); }
    void touchesBegan(const plat::ui::TouchSet&, const plat::ui::Event&) override { note(name + " touchesBegan"); }
};

// A window over the screen made key and visible, with `root` as its root controller.
std::shared_ptr<plat::ui::Window> showWindow(std::shared_ptr<plat::ui::ViewController> root);

using Rgba = std::array<int, 4>;

// An offscreen screen for the compositor: `width` x `height` pixels upright for the interface
// orientation `orientation`, in a GL context of its own.
class TestScreen : public plat::ui::Presenter {
public:
    TestScreen(int width, int height, int orientation = 1);
    ~TestScreen() override;
    bool beginFrame(Target* target) override;
    void endFrame() override { ++frames; }
    // The last frame, top row first.
    std::vector<std::uint8_t> pixels();
    Rgba pixel(int x, int y);

    int width, height, orientation;
    int picture[4] = {0, 0, 0, 0};  // where the interface shows (x, y, width, height); empty: all
    int frames = 0;

private:
    std::unique_ptr<plat::gl::GLContext> m_context;
    plat::gl::GLLayer m_layer;
    unsigned m_framebuffer = 0;
};

// The game's kind of view: a GL layer drawn in a context of its own, in two colours: the top half
// of its picture (GL's higher rows) and the bottom half.
class GLView : public plat::ui::View {
public:
    GLView(const plat::ui::Rect& frame, Rgba bottom, Rgba top);
    GLView(const plat::ui::Rect& frame, Rgba color) : GLView(frame, color, color) {}
    ~GLView() override;
    plat::gl::GLLayer* glLayer() const override { return &m_layer; }
    // Draws and presents another frame.
    void fill(Rgba bottom, Rgba top);

private:
    std::unique_ptr<plat::gl::GLContext> m_context;
    mutable plat::gl::GLLayer m_layer;
    unsigned m_framebuffer = 0;
};

}  // namespace dktest
