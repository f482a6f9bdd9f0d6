#include "platform/host/tests/OtherXClient.h"

#include <SDL2/SDL_syswm.h>
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <poll.h>

#include <chrono>

namespace dktest {

namespace {

bool x11(SDL_Window* window, SDL_SysWMinfo* info) {
    SDL_VERSION(&info->version);
    return SDL_GetWindowWMInfo(window, info) && info->subsystem == SDL_SYSWM_X11;
}

// What a window manager's close request is on one display.
struct CloseRequest {
    Atom protocols, deleteWindow;
    bool seen = false;
    bool matches(const XEvent& event) const {
        return event.type == ClientMessage && event.xclient.format == 32 && event.xclient.message_type == protocols &&
               static_cast<Atom>(event.xclient.data.l[0]) == deleteWindow;
    }
};

}  // namespace

OtherXClient::OtherXClient(SDL_Window* window) {
    SDL_SysWMinfo info;
    if (!x11(window, &info)) return;
    m_display = XOpenDisplay(DisplayString(info.info.x11.display));
    m_window = info.info.x11.window;
}

OtherXClient::~OtherXClient() {
    if (m_display) XCloseDisplay(m_display);
}

int destroyWindowsTitled(const std::string& display, const std::string& title) {
    Display* x = XOpenDisplay(display.c_str());
    if (!x) return 0;
    Window root = 0, parent = 0;
    Window* children = nullptr;
    unsigned count = 0;
    int destroyed = 0;
    if (XQueryTree(x, DefaultRootWindow(x), &root, &parent, &children, &count)) {
        for (unsigned i = 0; i < count; ++i) {
            char* name = nullptr;
            if (XFetchName(x, children[i], &name) && name && std::string(name).rfind(title, 0) == 0) {
                XDestroyWindow(x, children[i]);
                ++destroyed;
            }
            if (name) XFree(name);
        }
        if (children) XFree(children);
    }
    XCloseDisplay(x);  // sends the requests
    return destroyed;
}

void OtherXClient::sendClose() {
    if (!m_display) return;
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = m_window;
    event.xclient.message_type = XInternAtom(m_display, "WM_PROTOCOLS", False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = static_cast<long>(XInternAtom(m_display, "WM_DELETE_WINDOW", False));
    event.xclient.data.l[1] = CurrentTime;
    XSendEvent(m_display, m_window, False, NoEventMask, &event);
    XSync(m_display, False);
}

void OtherXClient::changeProperty() {
    if (!m_display) return;
    const unsigned char value = 'x';
    XChangeProperty(m_display, m_window, XInternAtom(m_display, "DK_TEST_NOTE", False), XA_STRING, 8,
                    PropModeReplace, &value, 1);
    XSync(m_display, False);
}

bool waitUntilReadable(SDL_Window* window, double seconds) {
    SDL_SysWMinfo info;
    if (!x11(window, &info)) return false;
    pollfd connection{ConnectionNumber(info.info.x11.display), POLLIN, 0};
    return poll(&connection, 1, static_cast<int>(seconds * 1000)) == 1;
}

bool readCloseIntoXlib(SDL_Window* window, double seconds) {
    SDL_SysWMinfo info;
    if (!x11(window, &info)) return false;
    Display* display = info.info.x11.display;
    CloseRequest close{XInternAtom(display, "WM_PROTOCOLS", False), XInternAtom(display, "WM_DELETE_WINDOW", False)};
    const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (std::chrono::steady_clock::now() < end) {
        XEventsQueued(display, QueuedAfterReading);
        // Looks at every event held without taking any (a predicate may call no Xlib function).
        XEvent taken;
        XCheckIfEvent(
            display, &taken,
            [](Display*, XEvent* event, XPointer request) -> Bool {
                auto* wanted = reinterpret_cast<CloseRequest*>(request);
                wanted->seen = wanted->seen || wanted->matches(*event);
                return False;
            },
            reinterpret_cast<XPointer>(&close));
        if (close.seen) return true;
        pollfd connection{ConnectionNumber(display), POLLIN, 0};
        poll(&connection, 1, 100);
    }
    return false;
}

}  // namespace dktest
