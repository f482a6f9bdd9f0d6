// X traffic a window gets from outside, and the window's own connection as SDL reads it (apart
// from the tests: Xlib's macros clash with gtest's).
#pragma once

#include <SDL2/SDL.h>

#include <string>

struct _XDisplay;

namespace dktest {

// Another client of the X server `window` is on.
class OtherXClient {
public:
    explicit OtherXClient(SDL_Window* window);
    ~OtherXClient();
    OtherXClient(const OtherXClient&) = delete;
    OtherXClient& operator=(const OtherXClient&) = delete;
    bool connected() const { return m_display != nullptr; }

    // A window manager's request to close the window, sent and seen by the server.
    void sendClose();
    // Changes a property of the window: an event SDL reads and makes nothing of.
    void changeProperty();

private:
    _XDisplay* m_display = nullptr;
    unsigned long m_window = 0;
};

// As another client of the X server `display`, destroys each top-level window whose title starts
// with `title` (what `xdotool windowclose` does); how many it destroyed.
int destroyWindowsTitled(const std::string& display, const std::string& title);

// Waits until the window's own connection has something to read, up to `seconds` of real time.
bool waitUntilReadable(SDL_Window* window, double seconds);
// Has the window's own Xlib read from its connection until a close request is among the events it
// holds (left there for SDL to take), as Xlib does while it waits for a reply; false when none came
// within `seconds` of real time.
bool readCloseIntoXlib(SDL_Window* window, double seconds);

}  // namespace dktest
