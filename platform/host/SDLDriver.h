// The window driver: the compositor's frames in the window, SDL's events as the device's input and
// the application's lifecycle, the accelerometer, and the system services a desktop has (the idle
// timer, openURL through SDL_OpenURL). As the presenter it draws with a context of its own; what
// it shows goes into SDL's window surface (X's shared-memory image, SDL_HINT_FRAMEBUFFER_ACCELERATION
// off): a GL layer alone on the screen is read back into it, any other frame is drawn into a layer
// of the driver's and read back likewise; only a window without that surface is drawn and swapped
// (which llvmpipe sends through the X socket, a whole picture a frame). On X
// it watches the X connection as a main-loop descriptor and pumps SDL's events when it is readable,
// on the display's refresh beat, and on 5 ms beats only while events pushed from outside wait (see
// start); elsewhere from a 5 ms repeating timer. Each device event becomes the input-script command
// meaning the same, parsed by the script's parser and played through the InputPlayer, so a windowed
// run's trace replays headless. Clicks map back through the picture
// (interfacePointFromGlass: a press on a bar is no touch; a drag onto one stays on the picture's
// edge); SDL_WINDOWEVENT_SIZE_CHANGED is traced "window size WxH" in order with the input around it.
// Lifecycle events play only when they apply; a nested run's pump leaves the queue to the outer one.
// While a text view takes the keyboard, typed text plays as text.type, Backspace as text.delete,
// Return as text.type "\n".
#pragma once

#include <SDL2/SDL.h>

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/foundation/RunLoop.h"
#include "platform/gl/GLLayer.h"
#include "platform/host/InputScript.h"
#include "platform/host/SDLAccelerometer.h"
#include "platform/ui/Application.h"
#include "platform/ui/Compositor.h"

namespace plat::gl {
class GLContext;
}

namespace plat::host {

class SDLWindow;

// Events put in SDL's queue from outside its pump (pushed by tests and tools, or by SDL itself in
// another call) are played on the beats of this interval from the driver's start; so is
// everything where the window is not on X.
inline constexpr double kEventPumpInterval = 0.005;

// Every device event becomes the input-script command that means the same, played (and traced
// "input <command>") as the script's are, so a windowed run's trace replays headless:
//   left mouse button: finger 0; each touch-screen finger: the lowest free number from 1 (a press
//   on the bars around the picture is none; a drag onto them stays on the picture's edge);
//   window focus lost/gained: app.resign/app.active; minimised or hidden: app.background; restored
//   or shown: app.foreground (these only when they apply); window close, SDL_QUIT, and the display
//   or the window lost (one line says which, the run's status is 1): app.quit;
//   SDL_APP_LOWMEMORY, F1: memory.warning; F2: audio.interrupt.begin/end; F3: app.resign/active;
//   F4: app.background/foreground; Ctrl+Up/Down/Left/Right: rotate 1/2/3/4 (Ctrl+PageUp/PageDown:
//   5/6, face up/down); F12: screenshot drovik-<seconds>.png (the host says where); the arrows tilt
//   the virtual accelerometer; each sample (at the accelerometer's interval, while it has a
//   delegate): accel; while a text view takes the keyboard (SDL's text input is on only then): typed
//   text: text.type "TEXT"; Backspace: text.delete; Return: text.type "\n" (these two repeat when
//   held).
class SDLDriver : public ui::SystemServices, public ui::Presenter {
public:
    // Plays a command now: whether it applied (with `traceIgnored` false, one that does not apply
    // leaves no trace).
    using Play = std::function<bool(const InputCommand& command, bool traceIgnored)>;

    SDLDriver(SDLWindow& window, ui::Application& application, Play play);
    ~SDLDriver() override;
    SDLDriver(const SDLDriver&) = delete;
    SDLDriver& operator=(const SDLDriver&) = delete;

    // Whether the window was lost (its display or the window itself) and the run quit for it.
    bool lost() const { return m_lost; }

    // Presents the application's compositor in the window, pumps SDL's events from `loop` and
    // samples the accelerometer. On X the loop sleeps until the server's connection has something
    // to read (or Xlib holds events already read, looked at before every sleep), pumps at least
    // every one and a half display refreshes (on the game frame's own wake-up while there is one:
    // the pump falls in step with the frames whatever its phase), and on the
    // kEventPumpInterval beats only while pushed events wait; elsewhere it pumps on every beat.
    void start(foundation::RunLoop& loop);
    // Handles every event in SDL's queue, in order (until one quits).
    void pumpEvents();
    void handle(const SDL_Event& event);

    // ui::SystemServices: the screensaver, and SDL_OpenURL.
    void setIdleTimerDisabled(bool disabled) override;
    bool openURL(const std::string& url) override;

    // ui::Presenter: a picture of the window's size, in a context of the group of its own, upright
    // for the glass, the interface as large as the window's size allows with the glass's
    // proportions; put in the window surface, else drawn in the back buffer and swapped with vsync.
    bool beginFrame(Target* target) override;
    void endFrame() override;
    // A picture of the game alone goes through the window surface: a copy the CPU makes at memory
    // speed, where drawing it with llvmpipe and sending it through the X socket cost a quarter more
    // than the game's own frame.
    bool showLayer(gl::GLLayer& layer) override;

private:
    bool play(const std::string& command, bool traceIgnored = true);
    // A place in window coordinates as "X Y" in interface points, clamped to the picture; `shown`
    // says whether it lies on the picture (not on the bars around it).
    std::string interfacePlace(double x, double y, bool* shown = nullptr) const;
    void mouseButton(const SDL_MouseButtonEvent& button);
    void mouseMotion(const SDL_MouseMotionEvent& motion);
    void finger(const SDL_TouchFingerEvent& finger);
    void windowEvent(const SDL_WindowEvent& window);
    void key(const SDL_KeyboardEvent& key);
    // SDL's text input on while the application has a text view taking the keyboard.
    void followTextInput();
    void quit();
    // Whether the window's display or the window is gone (said once, and the application quits).
    bool windowLost();
    void armSample();
    void sample();
    // Pumps on the first beat from now that has not been pumped.
    void pumpAtBeat();
    void connectionReady(unsigned events);
    // At a turn's end: events Xlib already holds are pumped on the next turn, not left to sleep.
    void pumpIfQueued();
    void armRefresh();
    // SDL's event watch: what is pushed outside the pump waits for a beat.
    static int pushed(void* driver, SDL_Event* event);

    SDLWindow& m_window;
    ui::Application& m_application;
    Play m_play;
    std::unique_ptr<SDLAccelerometer> m_accelerometer;
    foundation::RunLoop* m_loop = nullptr;
    foundation::Timer m_pump;  // every beat, where the window is not on X
    foundation::Timer m_sampler;
    // On X:
    bool m_watching = false;
    foundation::FdSource m_connection;
    foundation::TurnObserver m_turns;
    foundation::Timer m_beat;     // pushed events wait for it
    foundation::Timer m_refresh;  // at most a refresh after the last pump
    foundation::Timer m_soon;     // Xlib holds events: the next turn
    double m_origin = 0;          // the beats count from the start
    long long m_lastBeat = 0;     // the last beat pumped
    bool m_pushed = false;        // SDL's queue has events from outside the pump
    bool m_inSDLPump = false;
    bool m_pumping = false;
    bool m_quitting = false;
    bool m_lost = false;  // the window's display or the window went away
    bool m_mouseDown = false;
    bool m_textInput = false;
    std::map<std::pair<SDL_TouchID, SDL_FingerID>, long> m_fingers;  // the touch screen's, by script number
    std::unique_ptr<gl::GLContext> m_screenContext;
    std::vector<std::uint8_t> m_pixels;  // the shown layer's where the surface cannot take it, kept
    // The compositor's frame on its way to the window surface.
    gl::GLLayer m_frame;
    unsigned m_frameBuffer = 0;
    bool m_toSurface = false;  // the frame begun is drawn into m_frame
};

// A number as input-script text: plain decimals, at most `decimals` places, no trailing zeros.
std::string scriptNumber(double value, int decimals = 3);

}  // namespace plat::host
