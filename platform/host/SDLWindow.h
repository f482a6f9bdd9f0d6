// The window driver's window: the device's glass on the display, and the share group's contexts
// made by SDL (OpenGL ES 2.0 over EGL) on the window's display. SDL's video runs on the driver
// $SDL_VIDEODRIVER names, else the first real one that finds a display (offscreen, dummy and evdev
// show nothing; Wayland is not tried without XDG_RUNTIME_DIR). The window is the glass as held at
// launch (Glass.h), points x scale x zoom, the zoom halved until it fits the display's usable area;
// at any size the glass shows as large as fits with its own proportions, centred between black bars
// (pictureIn). SDL makes and deletes the contexts, forced onto EGL (SDL_HINT_VIDEO_X11_FORCE_EGL)
// with an ES 2.0 profile; everything else goes through EGL (current on no surface, or on the window's
// surface to draw and swap with interval 1), since the compositor puts contexts back through EGL and
// SDL's make-current skips a context it wrongly believes current. A probe context at open checks all
// this, so a display without it counts as none.
#pragma once

#include <SDL2/SDL.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/gl/GLContext.h"
#include "platform/gl/GLLayer.h"
#include "platform/host/Glass.h"

struct _XDisplay;

namespace plat::host {

class SDLWindow {
public:
    // Starts SDL's video, which must find a real display (SDL's offscreen and dummy drivers do not
    // count), and opens `glass` at `zoom` (halved until it fits the display's usable area), titled
    // `title`. From then on the group's contexts are the window's (GLContext::setProvider), so none
    // may exist yet. nullptr, with `error` saying why, when there is no usable display.
    static std::unique_ptr<SDLWindow> open(const Glass& glass, double zoom, const std::string& title,
                                           std::string* error);
    // The contexts must be gone first; else SDL is left up for them.
    ~SDLWindow();
    SDLWindow(const SDLWindow&) = delete;
    SDLWindow& operator=(const SDLWindow&) = delete;

    SDL_Window* window() const { return m_window; }
    const Glass& glass() const { return m_glass; }
    double zoom() const { return m_zoom; }
    // In SDL's window coordinates (pixels on X11), which input events use: the size the window was
    // opened at until resized() says otherwise.
    int width() const { return m_width; }
    int height() const { return m_height; }
    // Shows a picture the window's size, RGBA rows from the bottom up, through SDL's window surface
    // (shared memory with the X server where it has it), in place of a swap. False when the
    // window has no such surface or another size: the picture must then be drawn and swapped.
    bool showBottomUp(const std::uint8_t* rgba, int width, int height);
    // The same for a layer's picture, read where the surface allows straight into it (else through
    // `scratch`, kept from frame to frame).
    bool showLayer(gl::GLLayer& layer, std::vector<std::uint8_t>* scratch);
    // Whether showBottomUp and showLayer take a picture of `width` x `height`.
    bool takesPictures(int width, int height) { return surfaceFor(width, height) != nullptr; }
    // The window's new size (SDL_WINDOWEVENT_SIZE_CHANGED, in order with the input events around it).
    void resized(int width, int height);
    // Where the glass shows, in window coordinates.
    Picture picture() const { return pictureIn(m_glass, m_width, m_height); }
    // A place in window coordinates as glass points, clamped to the picture; false when it lies
    // outside the picture (on the bars, or off the window).
    bool glassPoint(double x, double y, sys::Point* point) const;
    // The back buffer's size in pixels.
    void drawableSize(int* width, int* height) const;

    // Makes `context` (of the group) current on the window: its frame buffer 0 is the window's back
    // buffer, swapped with vsync. The caller puts back what was current (gl::CurrentContextScope):
    // nothing else may change the game's context.
    bool bind(gl::GLContext& context);
    // Shows the back buffer of the context bound.
    void swap();
    // Swaps so far: llvmpipe sends each through the X socket, a whole picture; a window with a
    // surface makes none.
    long swaps() const { return m_swaps; }

    // Why the window can no longer be shown, once it cannot: its display went away (the X server
    // ended, the connection broke) or another client destroyed it; empty until then. Xlib would
    // end the process from inside its call there, with no way out run (no resign, no save, no
    // session closed): here the call returns, errors about the lost window are dropped, and later
    // X calls find the connection dead and do nothing.
    std::string lost() const;
    // Runs `call(context)`, which reaches Xlib (SDL's event pump, its screensaver and text input),
    // unless the display is lost; false when it is, or when it is lost during the call: the call
    // is then left where it stood, since Xlib's callers go on with the dead display and crash.
    // `call` may hold nothing that needs destroying.
    static bool reachX(void (*call)(void* context), void* context);
    template <class Call>
    static bool reachX(Call& call) {
        return reachX([](void* context) { (*static_cast<Call*>(context))(); }, &call);
    }

    // The descriptor of the X server's connection that SDL reads the window's events from; -1 when
    // the window is not on X.
    int connectionDescriptor() const;
    // Whether Xlib holds events of that connection that SDL has not taken yet, after reading what
    // the descriptor has without blocking. Xlib also reads events while it waits for a reply (the
    // window surface's update does), and the descriptor then has nothing to say about them.
    bool connectionHasEvents() const;

private:
    class Contexts;
    SDLWindow();
    // SDL's window surface when it is `width` x `height`.
    SDL_Surface* surfaceFor(int width, int height);
    bool updateSurface();

    SDL_Window* m_window = nullptr;
    _XDisplay* m_display = nullptr;  // SDL's connection to the X server, when on X
    std::unique_ptr<Contexts> m_contexts;
    Glass m_glass;
    double m_zoom = 1;
    int m_width = 0, m_height = 0;
    bool m_swapIntervalSet = false;
    bool m_noSurface = false;  // SDL gave no window surface: pictures are swapped
    long m_swaps = 0;
};

}  // namespace plat::host
