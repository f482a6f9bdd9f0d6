#include "platform/host/SDLWindow.h"

#include <EGL/egl.h>
#include <SDL2/SDL_syswm.h>
#include <X11/Xlib.h>
#include <setjmp.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <string>
#include <vector>

namespace plat::host {

namespace {

// What Xlib's handlers found, process-wide as they are: the window's display gone, or the window.
enum Loss { kNotLost, kDisplayLost, kWindowLost };
std::atomic<int> g_loss{kNotLost};
std::atomic<unsigned long> g_xWindow{0};
XErrorHandler g_previousErrorHandler = nullptr;

void noteLoss(Loss loss) {
    int none = kNotLost;
    g_loss.compare_exchange_strong(none, loss);
}

// Where the X call under way (SDLWindow::reachX) is left when the connection dies: Xlib's callers
// (SDL's pump among them) go on using the dead display after its handlers return, and crash.
thread_local sigjmp_buf* t_xCall = nullptr;

int displayGone(Display*) {
    noteLoss(kDisplayLost);
    if (t_xCall) siglongjmp(*t_xCall, 1);
    return 0;
}

// In place of Xlib's exit(1), for a call outside reachX: it returns.
void keepRunning(Display*, void*) {}

int windowErrors(Display* display, XErrorEvent* error) {
    if (g_loss != kNotLost) return 0;  // what was sent to the lost window before the loss was known
    if ((error->error_code == BadWindow || error->error_code == BadDrawable) &&
        error->resourceid == g_xWindow) {
        noteLoss(kWindowLost);
        return 0;
    }
    return g_previousErrorHandler ? g_previousErrorHandler(display, error) : 0;
}

// SDL makes nothing of a DestroyNotify; a game that draws nothing would never meet an error.
int windowDestroyed(void*, SDL_Event* event) {
    if (event->type == SDL_SYSWMEVENT && event->syswm.msg && event->syswm.msg->subsystem == SDL_SYSWM_X11) {
        const XEvent& x = event->syswm.msg->msg.x11.event;
        if (x.type == DestroyNotify && x.xdestroywindow.window == g_xWindow) noteLoss(kWindowLost);
    }
    return 1;
}

}  // namespace

// The group's contexts: SDL makes them (SDL_HINT_VIDEO_X11_FORCE_EGL: EGL contexts on X11 too, as
// Wayland's and KMS's are anyway) and deletes them; everything else is EGL's, since the compositor
// and the game switch contexts through EGL and SDL's own idea of the current one goes stale (its
// make-current skips a context it believes current already).
class SDLWindow::Contexts : public gl::GLContextProvider {
public:
    explicit Contexts(SDL_Window* window) : m_window(window) {}

    void* createContext(void* share, std::string* error) override {
        SDL_GLContext made = nullptr;
        bool egl = false;
        {
            const gl::CurrentContextScope previous;
            // SDL shares with the context it believes current.
            if (share && SDL_GL_MakeCurrent(nullptr, share) != 0) return fail(error);
            SDL_GL_SetAttribute(SDL_GL_SHARE_WITH_CURRENT_CONTEXT, share ? 1 : 0);
            made = SDL_GL_CreateContext(m_window);  // current on the window when made
            egl = made && eglGetCurrentContext() == made;
            if (egl && !m_display) {
                m_display = eglGetCurrentDisplay();
                m_surface = eglGetCurrentSurface(EGL_DRAW);
            }
        }
        if (!made) return fail(error);
        if (!egl) {
            SDL_GL_DeleteContext(made);
            if (error) *error = "SDL's GL contexts are not EGL contexts";
            return nullptr;
        }
        return made;
    }
    void destroyContext(void* context) override {
        gl::CurrentContextScope previous;
        SDL_GL_DeleteContext(context);  // may release what SDL believes current
        if (previous.context() == context) previous.dismiss();
    }
    bool makeCurrent(void* context) override {
        if (!context)
            return eglMakeCurrent(m_display, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT) == EGL_TRUE;
        return eglMakeCurrent(m_display, EGL_NO_SURFACE, EGL_NO_SURFACE, context) == EGL_TRUE;
    }
    void* currentContext() override { return eglGetCurrentContext(); }
    void* display() override { return m_display; }
    EGLSurface surface() const { return m_surface; }

private:
    static void* fail(std::string* error) {
        if (error) *error = std::string("SDL: ") + SDL_GetError();
        return nullptr;
    }

    SDL_Window* m_window;
    EGLDisplay m_display = EGL_NO_DISPLAY;
    EGLSurface m_surface = EGL_NO_SURFACE;  // the window's, known from the first context
};

namespace {

// SDL's drivers without a display ("evdev" is the dummy one reading input devices).
bool showsNothing(const char* driver) {
    return !std::strcmp(driver, "offscreen") || !std::strcmp(driver, "dummy") ||
           !std::strcmp(driver, "evdev");
}

// SDL's video on the first driver that finds a display: the one $SDL_VIDEODRIVER names, else each
// real one in SDL's order. Wayland is not tried without a runtime directory (its library would only
// complain on standard error).
bool startVideo(std::string* error) {
    const char* named = SDL_getenv("SDL_VIDEODRIVER");
    std::vector<std::string> drivers;
    if (named && *named) {
        drivers.push_back(named);
    } else {
        for (int i = 0; i < SDL_GetNumVideoDrivers(); ++i) {
            const char* driver = SDL_GetVideoDriver(i);
            if (showsNothing(driver) || (!std::strcmp(driver, "wayland") && !SDL_getenv("XDG_RUNTIME_DIR")))
                continue;
            drivers.push_back(driver);
        }
    }
    std::string why = "no display";
    for (const std::string& driver : drivers) {
        SDL_SetHint(SDL_HINT_VIDEODRIVER, driver.c_str());
        if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0) {
            why = std::string("SDL: ") + SDL_GetError();
            continue;
        }
        if (!showsNothing(SDL_GetCurrentVideoDriver())) return true;
        SDL_QuitSubSystem(SDL_INIT_VIDEO);
        why = "SDL's video driver " + driver + " shows nothing";
    }
    if (error) *error = drivers.size() == 1 ? why : "no display";
    return false;
}

// RGBA bytes to 0xffRRGGBB words (little-endian).
template <typename Word>
Word opaqueRedBlueSwapped(Word p) {
    return 0xff000000u | (p & 0x0000ff00u) | ((p >> 16) & 0xffu) | ((p & 0xffu) << 16);
}

// Four pixels at a time in the vector unit's lanes: the compiler left the loop of one pixel
// scalar, a quarter of a millisecond a frame at 480 x 320.
using Pixels = std::uint32_t __attribute__((vector_size(16)));
constexpr int kLanes = sizeof(Pixels) / 4;

void swapRedBlueOpaque(const std::uint8_t* rgba, std::uint8_t* out, int width) {
    int x = 0;
    for (; x + kLanes <= width; x += kLanes) {
        Pixels p;
        std::memcpy(&p, rgba + x * 4, sizeof p);
        p = opaqueRedBlueSwapped(p);
        std::memcpy(out + x * 4, &p, sizeof p);
    }
    for (; x < width; ++x) {
        std::uint32_t p;
        std::memcpy(&p, rgba + x * 4, 4);
        p = opaqueRedBlueSwapped(p);
        std::memcpy(out + x * 4, &p, 4);
    }
}

// 0xAARRGGBB words given an alpha of 0xff, four at a time.
void makeOpaque(std::uint8_t* pixels, int count) {
    int i = 0;
    for (; i + kLanes <= count; i += kLanes) {
        Pixels p;
        std::memcpy(&p, pixels + i * 4, sizeof p);
        p |= 0xff000000u;
        std::memcpy(pixels + i * 4, &p, sizeof p);
    }
    for (; i < count; ++i) pixels[i * 4 + 3] = 0xff;
}

// Rows `a` and `b` trade places, each turned into X's layout on the way.
void tradeRowsRedBlueSwapped(std::uint8_t* a, std::uint8_t* b, int width) {
    int x = 0;
    for (; x + kLanes <= width; x += kLanes) {
        Pixels p, q;
        std::memcpy(&p, a + x * 4, sizeof p);
        std::memcpy(&q, b + x * 4, sizeof q);
        p = opaqueRedBlueSwapped(p);
        q = opaqueRedBlueSwapped(q);
        std::memcpy(a + x * 4, &q, sizeof q);
        std::memcpy(b + x * 4, &p, sizeof p);
    }
    for (; x < width; ++x) {
        std::uint32_t p, q;
        std::memcpy(&p, a + x * 4, 4);
        std::memcpy(&q, b + x * 4, 4);
        p = opaqueRedBlueSwapped(p);
        q = opaqueRedBlueSwapped(q);
        std::memcpy(a + x * 4, &q, 4);
        std::memcpy(b + x * 4, &p, 4);
    }
}

// RGBA rows from the bottom up, packed, turned in place into X's layout from the top down.
void uprightInXLayout(std::uint8_t* pixels, int width, int height) {
    const size_t stride = static_cast<size_t>(width) * 4;
    for (int y = 0; y < height / 2; ++y)
        tradeRowsRedBlueSwapped(pixels + y * stride, pixels + (height - 1 - y) * stride, width);
    if (height % 2) swapRedBlueOpaque(pixels + (height / 2) * stride, pixels + (height / 2) * stride, width);
}

// X's own 24-bit layout, which the server keeps: SDL's general converter took longer than the
// game's frame.
bool inXLayout(const SDL_Surface& surface) {
    const std::uint32_t format = surface.format->format;
    return SDL_BYTEORDER == SDL_LIL_ENDIAN && (format == SDL_PIXELFORMAT_RGB888 || format == SDL_PIXELFORMAT_ARGB8888);
}

}  // namespace

std::unique_ptr<SDLWindow> SDLWindow::open(const Glass& glass, double zoom, const std::string& title,
                                           std::string* error) {
    auto fail = [&](const std::string& what) -> std::unique_ptr<SDLWindow> {
        if (error) *error = what;
        return nullptr;
    };
    SDL_SetHint(SDL_HINT_VIDEO_X11_FORCE_EGL, "1");
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");  // SIGINT and SIGTERM are the run loop's
    // A finger is one touch: no mouse events made from touches, nor touches from the mouse.
    SDL_SetHint(SDL_HINT_TOUCH_MOUSE_EVENTS, "0");
    SDL_SetHint(SDL_HINT_MOUSE_TOUCH_EVENTS, "0");
    // The screensaver stays on until the application disables its idle timer.
    SDL_SetHint(SDL_HINT_VIDEO_ALLOW_SCREENSAVER, "1");
    // The window surface is the X server's shared-memory image, never an SDL renderer of its own
    // on this window's GL.
    SDL_SetHint(SDL_HINT_FRAMEBUFFER_ACCELERATION, "0");
    if (!startVideo(error)) return nullptr;

    SDL_Rect usable{};
    if (SDL_GetDisplayUsableBounds(0, &usable) != 0) usable = {};
    const WindowSize size = windowSizeFor(glass, zoom, usable.w, usable.h);

    SDL_GL_ResetAttributes();
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_PROFILE_MASK, SDL_GL_CONTEXT_PROFILE_ES);
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_MAJOR_VERSION, 2);
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_MINOR_VERSION, 0);
    SDL_GL_SetAttribute(SDL_GL_RED_SIZE, 8);
    SDL_GL_SetAttribute(SDL_GL_GREEN_SIZE, 8);
    SDL_GL_SetAttribute(SDL_GL_BLUE_SIZE, 8);
    SDL_GL_SetAttribute(SDL_GL_DEPTH_SIZE, 0);
    SDL_GL_SetAttribute(SDL_GL_DOUBLEBUFFER, 1);

    std::unique_ptr<SDLWindow> made(new SDLWindow);
    // Resizable: the picture keeps its proportions in whatever size the window is given.
    made->m_window = SDL_CreateWindow(title.c_str(), SDL_WINDOWPOS_CENTERED, SDL_WINDOWPOS_CENTERED,
                                      size.width, size.height, SDL_WINDOW_OPENGL | SDL_WINDOW_RESIZABLE);
    if (!made->m_window) {
        const std::string why = std::string("SDL: ") + SDL_GetError();
        SDL_QuitSubSystem(SDL_INIT_VIDEO);
        return fail(why);
    }
    made->m_glass = glass;
    made->m_zoom = size.zoom;
    SDL_SysWMinfo system;
    SDL_VERSION(&system.version);
    if (SDL_GetWindowWMInfo(made->m_window, &system) == SDL_TRUE && system.subsystem == SDL_SYSWM_X11) {
        made->m_display = system.info.x11.display;
        g_loss = kNotLost;
        g_xWindow = system.info.x11.window;
        XSetIOErrorHandler(displayGone);
        XSetIOErrorExitHandler(made->m_display, keepRunning, nullptr);
        g_previousErrorHandler = XSetErrorHandler(windowErrors);
        SDL_EventState(SDL_SYSWMEVENT, SDL_ENABLE);
        SDL_AddEventWatch(windowDestroyed, nullptr);
    }
    SDL_GetWindowSize(made->m_window, &made->m_width, &made->m_height);
    made->m_contexts = std::make_unique<Contexts>(made->m_window);

    // A first context proves the window can have them (and names their display and the window's
    // surface).
    std::string why;
    void* probe = made->m_contexts->createContext(nullptr, &why);
    if (!probe) return fail(why);  // the destructor closes the window
    made->m_contexts->destroyContext(probe);
    if (!gl::GLContext::setProvider(made->m_contexts.get()))
        return fail("GL contexts exist before the window");
    return made;
}

SDLWindow::SDLWindow() = default;

SDLWindow::~SDLWindow() {
    if (m_contexts && !gl::GLContext::setProvider(nullptr)) {
        // Contexts outlive the window: they keep SDL and the window as they are.
        (void)m_contexts.release();
        return;
    }
    m_contexts.reset();
    if (m_display) SDL_DelEventWatch(windowDestroyed, nullptr);
    // A dead connection is left as it is: closing the window or the display would use it.
    if (g_loss == kDisplayLost) return;
    if (m_window) SDL_DestroyWindow(m_window);
    // The errors of a window destroyed elsewhere come back now, while they are still dropped: SDL
    // puts Xlib's own handler back on its way out.
    if (m_display) XSync(m_display, False);
    SDL_Quit();
    if (m_display) {
        XSetErrorHandler(g_previousErrorHandler);
        XSetIOErrorHandler(nullptr);
        g_xWindow = 0;
    }
}

void SDLWindow::resized(int width, int height) {
    m_width = width;
    m_height = height;
}

bool SDLWindow::glassPoint(double x, double y, sys::Point* point) const {
    const sys::Size points = m_glass.points();
    const Picture shown = picture();
    if (shown.width <= 0 || shown.height <= 0) {
        *point = {0, 0};
        return false;
    }
    x -= shown.x;
    y -= shown.y;
    *point = {std::clamp(x * points.width / shown.width, 0.0, points.width),
              std::clamp(y * points.height / shown.height, 0.0, points.height)};
    return x >= 0 && x < shown.width && y >= 0 && y < shown.height;
}

void SDLWindow::drawableSize(int* width, int* height) const {
    SDL_GL_GetDrawableSize(m_window, width, height);
}

bool SDLWindow::bind(gl::GLContext& context) {
    EGLDisplay display = m_contexts->display();
    if (!eglMakeCurrent(display, m_contexts->surface(), m_contexts->surface(), context.handle()))
        return false;
    if (!m_swapIntervalSet) {
        // Vsync paces the screen; without it (some X servers) the display link still does.
        eglSwapInterval(display, 1);
        m_swapIntervalSet = true;
    }
    return true;
}

bool SDLWindow::reachX(void (*call)(void* context), void* context) {
    if (g_loss == kDisplayLost) return false;
    sigjmp_buf here;
    sigjmp_buf* const outer = t_xCall;
    // Only C frames (SDL's, Xlib's) and trivially destroyed ones of ours lie between here and the
    // handler that jumps back.
    if (sigsetjmp(here, 0)) {
        t_xCall = outer;
        return false;
    }
    t_xCall = &here;
    call(context);
    t_xCall = outer;
    return g_loss != kDisplayLost;
}

bool SDLWindow::updateSurface() {
    SDL_Window* window = m_window;
    int result = -1;
    auto update = [&] { result = SDL_UpdateWindowSurface(window); };
    return reachX(update) && result == 0;
}

SDL_Surface* SDLWindow::surfaceFor(int width, int height) {
    if (m_noSurface || g_loss == kDisplayLost) return nullptr;
    SDL_Surface* surface = nullptr;
    SDL_Window* window = m_window;
    auto get = [&] { surface = SDL_GetWindowSurface(window); };
    if (!reachX(get)) return nullptr;
    if (!surface) {
        m_noSurface = true;
        return nullptr;
    }
    return surface->w == width && surface->h == height ? surface : nullptr;
}

bool SDLWindow::showLayer(gl::GLLayer& layer, std::vector<std::uint8_t>* scratch) {
    const int width = layer.width(), height = layer.height();
    SDL_Surface* surface = surfaceFor(width, height);
    if (!surface) return false;
    if (inXLayout(*surface) && surface->pitch == width * 4) {
        auto* pixels = static_cast<std::uint8_t*>(surface->pixels);
        // A layer kept in X's byte order comes upright in one copy. X ignores the fourth byte of
        // its 24-bit layout; a 32-bit one would blend the layer's alpha, so the picture is made
        // opaque there.
        if (layer.readTopDownBGRA(pixels)) {
            if (surface->format->format == SDL_PIXELFORMAT_ARGB8888) makeOpaque(pixels, width * height);
            return updateSurface();
        }
        // Else read straight into the server's image and turned there: one pass over the picture.
        // (Reading RGBA storage as BGRA would spare the swap, but Mesa converts on the read ten
        // times slower than the read and the swap together.)
        if (!layer.readBottomUp(pixels)) return false;
        uprightInXLayout(pixels, width, height);
        return updateSurface();
    }
    return layer.readBottomUp(scratch) && showBottomUp(scratch->data(), width, height);
}

bool SDLWindow::showBottomUp(const std::uint8_t* rgba, int width, int height) {
    SDL_Surface* surface = surfaceFor(width, height);
    if (!surface) return false;
    const int stride = width * 4;
    auto* out = static_cast<std::uint8_t*>(surface->pixels);
    const std::uint32_t format = surface->format->format;
    for (int y = 0; y < height; ++y) {
        const std::uint8_t* row = rgba + static_cast<size_t>(height - 1 - y) * stride;
        std::uint8_t* to = out + static_cast<size_t>(y) * surface->pitch;
        if (inXLayout(*surface)) {
            swapRedBlueOpaque(row, to, width);
        } else if (SDL_ConvertPixels(width, 1, SDL_PIXELFORMAT_ABGR8888, row, stride, format, to, surface->pitch) != 0) {
            m_noSurface = true;
            return false;
        }
    }
    return updateSurface();
}

void SDLWindow::swap() {
    if (g_loss == kDisplayLost) return;
    ++m_swaps;
    eglSwapBuffers(m_contexts->display(), m_contexts->surface());
}

std::string SDLWindow::lost() const {
    if (!m_display) return {};
    switch (g_loss.load()) {
        case kDisplayLost: {
            const char* name = DisplayString(m_display);
            return std::string("the window's display ") + (name ? name : "") + " went away";
        }
        case kWindowLost:
            return "another X client destroyed the window";
        default:
            return {};
    }
}

int SDLWindow::connectionDescriptor() const {
    return m_display ? XConnectionNumber(m_display) : -1;
}

bool SDLWindow::connectionHasEvents() const {
    if (!m_display) return false;
    int queued = 0;
    Display* display = m_display;
    auto ask = [&] { queued = XEventsQueued(display, QueuedAfterReading); };
    return reachX(ask) && queued > 0;
}

}  // namespace plat::host
