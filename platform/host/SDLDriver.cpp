#include "platform/host/SDLDriver.h"

#include <GLES2/gl2.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ctime>

#include "platform/foundation/Clock.h"
#include "platform/foundation/Log.h"
#include "platform/gl/DisplayLink.h"
#include "platform/gl/GLContext.h"
#include "platform/gl/GLLayer.h"
#include "platform/host/SDLWindow.h"
#include "platform/sys/Accelerometer.h"
#include "platform/sys/AudioSession.h"
#include "platform/sys/Device.h"

namespace plat::host {

namespace {

foundation::TraceCategory kWindow("window");

using State = ui::ApplicationState;

}  // namespace

std::string scriptNumber(double value, int decimals) {
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    std::string out = text;
    if (out.find('.') != std::string::npos) {
        out.erase(out.find_last_not_of('0') + 1);
        if (out.back() == '.') out.pop_back();
    }
    return out == "-0" ? "0" : out;
}

SDLDriver::SDLDriver(SDLWindow& window, ui::Application& application, Play play)
    : m_window(window), m_application(application), m_play(std::move(play)) {
    // Either may be missing: the accelerometer is then the virtual one.
    SDL_InitSubSystem(SDL_INIT_SENSOR);
    SDL_InitSubSystem(SDL_INIT_GAMECONTROLLER);
    m_accelerometer = std::make_unique<SDLAccelerometer>();
    m_application.setSystemServices(this);
    SDL_StopTextInput();  // on from the start in SDL 2; only a text view turns it on here
    foundation::tracef(kWindow, "open %dx%d zoom %s accelerometer %s", m_window.width(), m_window.height(),
                       scriptNumber(m_window.zoom(), 6).c_str(), m_accelerometer->source().c_str());
}

SDLDriver::~SDLDriver() {
    if (m_application.compositor().presenter() == this) m_application.compositor().setPresenter(nullptr);
    if (m_watching) SDL_DelEventWatch(&SDLDriver::pushed, this);
    m_connection.remove();
    m_turns.remove();
    m_beat.invalidate();
    m_refresh.invalidate();
    m_soon.invalidate();
    m_pump.invalidate();
    m_sampler.invalidate();
    m_application.setSystemServices(nullptr);
    auto screenSaver = [] { SDL_EnableScreenSaver(); };
    SDLWindow::reachX(screenSaver);
    if (m_screenContext) {
        const gl::CurrentContextScope previous;
        if (m_screenContext->makeCurrent()) {
            m_frame.releaseStorage();
            if (m_frameBuffer) glDeleteFramebuffers(1, &m_frameBuffer);
        }
    }
    m_screenContext.reset();
    m_accelerometer.reset();
    SDL_QuitSubSystem(SDL_INIT_GAMECONTROLLER);
    SDL_QuitSubSystem(SDL_INIT_SENSOR);
}

void SDLDriver::start(foundation::RunLoop& loop) {
    m_loop = &loop;
    m_application.compositor().setPresenter(this);
    const int connection = m_window.connectionDescriptor();
    if (connection < 0) {
        m_pump = loop.addRepeatingTimer(kEventPumpInterval, [this] { pumpEvents(); });
    } else {
        // Pumping every beat woke the loop three times a frame for nothing.
        m_watching = true;
        m_origin = loop.now();
        SDL_AddEventWatch(&SDLDriver::pushed, this);
        m_connection = loop.addFdSource(connection, foundation::kFdRead,
                                        [this](unsigned events) { connectionReady(events); });
        m_turns = loop.addTurnObserver([this] { pumpIfQueued(); });
        armRefresh();
    }
    armSample();
}

void SDLDriver::pumpEvents() {
    // A handler may turn the loop (a nested run) and so come back here: those events wait for a
    // beat, as they always did.
    if (m_pumping) {
        if (m_watching && !m_beat.isValid()) pumpAtBeat();
        return;
    }
    m_pumping = true;
    m_beat.invalidate();
    m_soon.invalidate();
    m_pushed = false;
    followTextInput();
    m_inSDLPump = true;
    auto pump = [] { SDL_PumpEvents(); };
    SDLWindow::reachX(pump);
    m_inSDLPump = false;
    if (windowLost()) {
        m_pumping = false;
        return;
    }
    SDL_Event event;
    while (!m_quitting && SDL_PeepEvents(&event, 1, SDL_GETEVENT, SDL_FIRSTEVENT, SDL_LASTEVENT) == 1) {
        handle(event);
        followTextInput();
    }
    m_pumping = false;
    if (!m_watching) return;
    // What the handlers pushed has been played with the rest; after a quit nothing more is.
    if (m_quitting || !SDL_HasEvents(SDL_FIRSTEVENT, SDL_LASTEVENT)) {
        m_pushed = false;
        m_beat.invalidate();
    }
    m_connection.setEvents(foundation::kFdRead);
    armRefresh();
}

void SDLDriver::pumpAtBeat() {
    const double now = m_loop->now();
    auto at = [this](long long beat) { return m_origin + static_cast<double>(beat) * kEventPumpInterval; };
    // The first beat not before now (a beat the clock stands on that has not been pumped counts).
    long long beat = static_cast<long long>(std::floor((now - m_origin) / kEventPumpInterval));
    while (at(beat) < now) ++beat;
    while (beat > 0 && at(beat - 1) >= now) --beat;
    beat = std::max(beat, m_lastBeat + 1);
    m_beat = m_loop->addTimer(at(beat) - now, [this, beat] {
        m_lastBeat = beat;
        pumpEvents();
    });
}

void SDLDriver::connectionReady(unsigned events) {
    if (events & foundation::kFdError) {
        // The server went away: the pump meets the dead connection and quits.
        m_connection.setEvents(0);
        pumpEvents();
        return;
    }
    if (!m_pushed && !m_pumping) {
        pumpEvents();
        return;
    }
    // Pushed events go first, on their beat; the descriptor stays readable until it is read, so
    // it is not watched till then (the loop would spin on it).
    m_connection.setEvents(0);
    if (!m_beat.isValid()) pumpAtBeat();
}

void SDLDriver::pumpIfQueued() {
    if (m_pumping || m_beat.isValid() || m_soon.isValid()) return;
    if (m_window.connectionHasEvents()) m_soon = m_loop->addTimer(0, [this] { pumpEvents(); });
}

void SDLDriver::armRefresh() {
    // Whatever SDL finds without the connection's word (the screensaver's keep-alive, focus it
    // holds back, controllers, sensors). From half a refresh on it rides on any wake-up, the game
    // frame's above all; after one and a half it wakes the loop itself. (With a whole refresh as
    // the limit, a pump that once woke the loop just before a frame kept that phase for good: a
    // second wake-up every frame.)
    constexpr double kHalf = gl::DisplayLink::kRefreshPeriod / 2;
    m_refresh = m_loop->addTimer(kHalf, gl::DisplayLink::kRefreshPeriod, [this] {
        if (!m_beat.isValid()) pumpEvents();
    });
}

int SDLDriver::pushed(void* driver, SDL_Event*) {
    auto* self = static_cast<SDLDriver*>(driver);
    // Another thread's push waits for the refresh pump (and never reads the pump's own flag).
    if (!self->m_loop->isCurrentThread() || self->m_inSDLPump) return 0;
    self->m_pushed = true;
    if (!self->m_beat.isValid()) self->pumpAtBeat();
    return 0;
}

void SDLDriver::handle(const SDL_Event& event) {
    switch (event.type) {
        case SDL_MOUSEBUTTONDOWN:
        case SDL_MOUSEBUTTONUP:
            mouseButton(event.button);
            break;
        case SDL_MOUSEMOTION:
            mouseMotion(event.motion);
            break;
        case SDL_FINGERDOWN:
        case SDL_FINGERMOTION:
        case SDL_FINGERUP:
            finger(event.tfinger);
            break;
        case SDL_WINDOWEVENT:
            windowEvent(event.window);
            break;
        case SDL_KEYDOWN:
            key(event.key);
            break;
        case SDL_TEXTINPUT:
            if (m_application.textInputResponder()) play("text.type " + scriptQuoted(event.text.text));
            break;
        case SDL_QUIT:
            quit();
            break;
        case SDL_APP_LOWMEMORY:
            play("memory.warning");
            break;
        case SDL_CONTROLLERDEVICEADDED:
            m_accelerometer->controllerAdded(event.cdevice.which);
            break;
        case SDL_CONTROLLERDEVICEREMOVED:
            m_accelerometer->controllerRemoved(event.cdevice.which);
            break;
        default:
            break;
    }
}

bool SDLDriver::play(const std::string& text, bool traceIgnored) {
    // The script's own parser makes the command, so the trace line replays as exactly this.
    std::string error;
    std::optional<std::vector<InputCommand>> commands = parseInputScript("0 " + text, "window", &error);
    if (!commands || commands->size() != 1) {
        foundation::log("drovik-player: a device event made a bad command: %s", error.c_str());
        return false;
    }
    return m_play(commands->front(), traceIgnored);
}

std::string SDLDriver::interfacePlace(double x, double y, bool* shown) const {
    // A drag past the picture's edge (the pointer is grabbed) stays on the glass.
    sys::Point glass;
    const bool inside = m_window.glassPoint(x, y, &glass);
    if (shown) *shown = inside;
    const sys::Point point = ui::interfacePointFromGlass(
        glass, m_window.glass().points(), m_window.glass().orientation, m_application.interfaceOrientation());
    return scriptNumber(point.x) + " " + scriptNumber(point.y);
}

void SDLDriver::mouseButton(const SDL_MouseButtonEvent& button) {
    // A touch screen's own mouse events: the finger is already a touch.
    if (button.which == SDL_TOUCH_MOUSEID || button.button != SDL_BUTTON_LEFT) return;
    bool shown = false;
    const std::string place = interfacePlace(button.x, button.y, &shown);
    if (button.state == SDL_PRESSED) {
        if (!m_mouseDown && shown) m_mouseDown = play("touch down 0 " + place);
    } else if (m_mouseDown) {
        m_mouseDown = false;
        play("touch up 0 " + place);
    }
}

void SDLDriver::mouseMotion(const SDL_MouseMotionEvent& motion) {
    if (motion.which == SDL_TOUCH_MOUSEID || !m_mouseDown) return;
    play("touch move 0 " + interfacePlace(motion.x, motion.y), false);
}

void SDLDriver::finger(const SDL_TouchFingerEvent& finger) {
    if (finger.touchId == SDL_MOUSE_TOUCHID) return;  // made from the mouse, which is a touch already
    bool shown = false;
    const std::string place =
        interfacePlace(finger.x * m_window.width(), finger.y * m_window.height(), &shown);
    const auto key = std::make_pair(finger.touchId, finger.fingerId);
    auto found = m_fingers.find(key);
    if (finger.type == SDL_FINGERDOWN) {
        if (found != m_fingers.end() || !shown) return;
        long number = 1;
        for (bool taken = true; taken; ++number)
            taken = std::any_of(m_fingers.begin(), m_fingers.end(),
                                [&](const auto& f) { return f.second == number; });
        --number;
        if (play("touch down " + std::to_string(number) + " " + place)) m_fingers.emplace(key, number);
        return;
    }
    if (found == m_fingers.end()) return;
    const std::string number = std::to_string(found->second);
    if (finger.type == SDL_FINGERMOTION) {
        play("touch move " + number + " " + place, false);
    } else {
        m_fingers.erase(found);
        play("touch up " + number + " " + place);
    }
}

void SDLDriver::windowEvent(const SDL_WindowEvent& window) {
    switch (window.event) {
        case SDL_WINDOWEVENT_FOCUS_LOST:
            play("app.resign", false);
            break;
        case SDL_WINDOWEVENT_FOCUS_GAINED:
            play("app.active", false);
            break;
        case SDL_WINDOWEVENT_MINIMIZED:
        case SDL_WINDOWEVENT_HIDDEN:
            play("app.background", false);
            break;
        case SDL_WINDOWEVENT_RESTORED:
        case SDL_WINDOWEVENT_SHOWN:
            play("app.foreground", false);
            break;
        case SDL_WINDOWEVENT_SIZE_CHANGED:
            m_window.resized(window.data1, window.data2);
            foundation::tracef(kWindow, "size %dx%d", window.data1, window.data2);
            ui::Compositor::setNeedsCommit();
            break;
        case SDL_WINDOWEVENT_EXPOSED:
            ui::Compositor::setNeedsCommit();
            break;
        case SDL_WINDOWEVENT_CLOSE:
            quit();
            break;
        default:
            break;
    }
}

void SDLDriver::key(const SDL_KeyboardEvent& key) {
    const SDL_Keycode sym = key.keysym.sym;
    const bool arrow = sym == SDLK_UP || sym == SDLK_DOWN || sym == SDLK_LEFT || sym == SDLK_RIGHT;
    const bool control = (key.keysym.mod & KMOD_CTRL) != 0;
    // Editing keys repeat when held, as the arrows keep tilting; nothing else does.
    if (m_application.textInputResponder() && !control) {
        if (sym == SDLK_BACKSPACE) {
            play("text.delete");
            return;
        }
        if (sym == SDLK_RETURN || sym == SDLK_KP_ENTER) {
            play("text.type " + scriptQuoted("\n"));
            return;
        }
    }
    if (key.repeat && !(arrow && !control)) return;
    const State state = m_application.state();
    switch (sym) {
        case SDLK_F1:
            play("memory.warning");
            return;
        case SDLK_F2:
            play(sys::AudioSession::shared().isInterrupted() ? "audio.interrupt.end"
                                                             : "audio.interrupt.begin");
            return;
        case SDLK_F3:
            play(state == State::Active ? "app.resign" : "app.active");
            return;
        case SDLK_F4:
            play(state == State::Background ? "app.foreground" : "app.background");
            return;
        case SDLK_F12:
            play("screenshot drovik-" + std::to_string(static_cast<long long>(std::time(nullptr))) + ".png");
            return;
        default:
            break;
    }
    if (control) {
        const int orientation = sym == SDLK_UP         ? 1
                                : sym == SDLK_DOWN     ? 2
                                : sym == SDLK_LEFT     ? 3
                                : sym == SDLK_RIGHT    ? 4
                                : sym == SDLK_PAGEUP   ? 5
                                : sym == SDLK_PAGEDOWN ? 6
                                                       : 0;
        if (orientation) play("rotate " + std::to_string(orientation));
    } else if (arrow) {
        m_accelerometer->tilt(sym == SDLK_RIGHT  ? 1
                              : sym == SDLK_LEFT ? -1
                                                 : 0,
                              sym == SDLK_UP     ? 1
                              : sym == SDLK_DOWN ? -1
                                                 : 0);
    }
}

void SDLDriver::followTextInput() {
    const bool wanted = m_application.textInputResponder() != nullptr;
    if (wanted == m_textInput) return;
    m_textInput = wanted;
    auto follow = [wanted] { wanted ? SDL_StartTextInput() : SDL_StopTextInput(); };
    SDLWindow::reachX(follow);
}

bool SDLDriver::windowLost() {
    if (m_lost) return true;
    const std::string why = m_window.lost();
    if (why.empty()) return false;
    // Nothing more goes to the server; the way out runs as for a closed window, the status says so.
    m_lost = true;
    m_beat.invalidate();
    m_refresh.invalidate();
    m_soon.invalidate();
    m_pump.invalidate();
    m_sampler.invalidate();
    m_connection.remove();
    m_turns.remove();
    foundation::log("drovik-player: %s; the game quits", why.c_str());
    quit();
    return true;
}

void SDLDriver::quit() {
    if (m_quitting) return;  // closing the last window also sends SDL_QUIT
    m_quitting = true;
    play("app.quit");
}

void SDLDriver::armSample() {
    m_sampler =
        m_application.runLoop().addTimer(sys::Accelerometer::shared().updateInterval(), [this] { sample(); });
}

void SDLDriver::sample() {
    if (sys::Accelerometer::shared().delegate()) {
        const sys::Acceleration a =
            m_accelerometer->sample(sys::Device::current().orientation(), foundation::Clock::process().now());
        play("accel " + scriptNumber(a.x, 6) + " " + scriptNumber(a.y, 6) + " " + scriptNumber(a.z, 6));
    }
    armSample();
}

void SDLDriver::setIdleTimerDisabled(bool disabled) {
    auto screenSaver = [disabled] { disabled ? SDL_DisableScreenSaver() : SDL_EnableScreenSaver(); };
    SDLWindow::reachX(screenSaver);
}

bool SDLDriver::openURL(const std::string& url) {
    return SDL_OpenURL(url.c_str()) == 0;
}

bool SDLDriver::beginFrame(Target* target) {
    if (m_lost) return false;
    if (!m_screenContext) {
        std::string error;
        m_screenContext = gl::GLContext::create(&error);
        if (!m_screenContext) {
            foundation::log("drovik-player: no GL context for the window: %s", error.c_str());
            return false;
        }
    }
    if (!m_window.bind(*m_screenContext)) return false;
    m_window.drawableSize(&target->width, &target->height);
    // Into the window surface where there is one: a swap of llvmpipe's goes through the X socket.
    m_toSurface = m_window.takesPictures(target->width, target->height);
    if (m_toSurface) {
        if (!m_frameBuffer) glGenFramebuffers(1, &m_frameBuffer);
        glBindFramebuffer(GL_FRAMEBUFFER, m_frameBuffer);
        if (m_frame.width() != target->width || m_frame.height() != target->height) {
            m_frame.setBounds(target->width, target->height);
            m_toSurface = m_frame.allocateStorage();
        }
    }
    if (!m_toSurface) glBindFramebuffer(GL_FRAMEBUFFER, 0);
    target->orientation = m_window.glass().orientation;
    const Picture shown = pictureIn(m_window.glass(), target->width, target->height);
    target->pictureX = shown.x;
    target->pictureY = shown.y;
    target->pictureWidth = shown.width;
    target->pictureHeight = shown.height;
    return true;
}

void SDLDriver::endFrame() {
    if (!m_toSurface) {
        m_window.swap();
    } else if (!m_window.showLayer(m_frame, &m_pixels)) {
        // The picture did not reach the window: drawn again at a turn's end (for a swap, should
        // the surface have gone).
        ui::Compositor::setNeedsCommit();
    }
    if (m_watching) pumpIfQueued();  // the swap may have read events
}

bool SDLDriver::showLayer(gl::GLLayer& layer) {
    if (m_lost) return false;
    const bool shown = m_window.showLayer(layer, &m_pixels);
    if (m_watching) pumpIfQueued();  // the surface's update waits for the server, reading events meanwhile
    return shown;
}

}  // namespace plat::host
