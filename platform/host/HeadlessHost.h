// The driver: runs one application on an offscreen screen, on the virtual or the real clock, fed by
// the input script, until it quits; unless --headless, in a window (SDLDriver) when a display is
// usable.
//
// prepare sets up, in order: trace, the process clock (virtual or real), the input script, the
// bundle, the container, the device (preset, system version, orientation) and the network override;
// without --headless it ends by opening the window (when none opens, one line says so and the run
// goes on offscreen, on the real clock with no 10-second end). The run arms the script's commands
// first (so a command runs before the run's end at an equal time), then the run's end (--duration,
// else 10 s headless unless --frames or an app.quit is given; with --frames N alone, 10 + N/60 s in
// a window as headless, so a game that stops drawing can neither leave the virtual clock racing nor
// the window open for ever, and the run says how many frames were drawn), and SIGINT/SIGTERM/SIGHUP
// (QuitSignals.h, read until the host goes: a script call outlasting the run's end is interrupted,
// else the process ends): every end is Application::quit. In a window, a screenshot (F12's, the
// script's, --screenshot) is what the window shows, the glass as held at launch, and the command
// says where the picture went. --screenshot is
// composited once the loop has ended, before the teardown (setBeforeTeardown), while the game view
// still shows its last frame. Exit status: 0 after a quit (a quit signal while the script is read
// from standard input too); 1 for a start-up failure, named (found
// before the run where it can be: the screenshot's path is opened, or made and removed), and for a
// run whose window was lost (its display or the window: SDLDriver says which); 2 for a bad
// command line or input script ("drovik-player: FILE:LINE: what").
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/RunLoop.h"
#include "platform/host/HostOptions.h"
#include "platform/host/InputPlayer.h"

namespace plat::ui {
class Application;
class ApplicationDelegate;
}  // namespace plat::ui

namespace plat::host {

class HeadlessScreen;
class QuitSignals;
class SDLDriver;
class SDLWindow;

// A headless run without --duration, --frames or app.quit in its script quits after this long.
inline constexpr double kDefaultHeadlessSeconds = 10;
// A run with --frames N and no --duration, headless or in a window, ends after
// kDefaultHeadlessSeconds plus N of these (the frames at 60 a second), drawn or not.
inline constexpr double kFrameSeconds = 1.0 / 60;
// The clock time at which a run ends whatever happens: --duration; the frames' bound above;
// headless without --frames and unless the script quits, kDefaultHeadlessSeconds; else none.
std::optional<double> runBound(const HostOptions& options, bool scriptQuits);
// What prepare answers when a quit signal came while the script was read from standard input.
inline constexpr int kQuitBeforeLaunch = -1;
// A tap's finger is lifted this long after it came down.
inline constexpr double kTapSeconds = 0.05;

// One per process, made in main on the main thread after QuitSignals::block().
class HeadlessHost {
public:
    explicit HeadlessHost(HostOptions options);
    ~HeadlessHost();
    HeadlessHost(const HeadlessHost&) = delete;
    HeadlessHost& operator=(const HeadlessHost&) = delete;

    static HeadlessHost* current();
    const HostOptions& options() const { return m_options; }

    // Everything before launch, in order: trace, clock, the input script, the bundle, the
    // container, the device, the network override, and without --headless the window (when no
    // display is usable, saying so on standard error and going on headless). 0 when all is set;
    // otherwise the exit status
    // (2 for a bad input script, 1 for any other failure) with `message` saying why (empty when
    // that is said already: a trace file that cannot be opened); kQuitBeforeLaunch when a quit
    // signal ended the read of the script from standard input, the process then ending as a quit
    // does (status 0), `message` saying where the read stopped.
    int prepare(std::string* message);

    // Launches the application over `delegate`, turns the main loop until it quits (app.quit, the
    // duration, the frame count, the default 10 seconds headless, a quit signal), tears it
    // down, then writes --screenshot. The exit status: 0, or 1 when the screenshot cannot be
    // written (with `message`) or the window was lost (said already, `message` left empty).
    int run(std::unique_ptr<ui::ApplicationDelegate> delegate, std::string* message);

    // The game view's word that a frame was drawn: --frames counts them.
    void gameFrameDidEnd();
    long gameFrames() const { return m_frames; }

    // The screen, made the first time it is needed (nullptr, with `error`, without GL).
    HeadlessScreen* screen(std::string* error);
    // The window, when the run has one.
    SDLWindow* window() const { return m_window.get(); }

private:
    std::function<void()> commandAction(const InputCommand& command);
    std::function<void()> touchAction(const InputCommand& command);
    std::function<void()> tapAction(const InputCommand& command);
    void quit();
    void openWindow();
    // The application's screen composited now into the headless screen (made at the first): in a
    // window turned as the window shows it, else upright for the interface.
    HeadlessScreen* compositeScreen(std::string* error);
    bool writeScreenshot(const std::string& path, std::string* error);

    HostOptions m_options;
    std::vector<InputCommand> m_script;
    std::unique_ptr<InputPlayer> m_player;
    std::unique_ptr<ui::Application> m_application;
    std::unique_ptr<QuitSignals> m_signals;
    std::unique_ptr<HeadlessScreen> m_screen;
    std::unique_ptr<SDLWindow> m_window;  // goes last: its group's contexts go before it
    std::unique_ptr<SDLDriver> m_driver;
    std::string m_finalScreenError;  // why the screen at quit could not be composited
    std::vector<foundation::Timer> m_timers;  // the run's end, taps' lifts
    std::vector<long> m_fingersDown;          // the script's fingers the application holds
    int m_nextTapFinger = -1;                 // taps use fingers a script cannot name
    long m_frames = 0;
    bool m_running = false;  // the application's run is under way
};

}  // namespace plat::host
