// Plays a video for the publisher: inline in a view (our movie player always offers its view), or
// full screen in the modal movie controller. Class operations only; main thread. Only the full
// screen road holds the client's modal mark, and only it clears the mark when the movie finishes.
#pragma once

#include <string>

namespace plat::ui {
class View;
class ViewController;
}  // namespace plat::ui

class OrbadAdViewVideoController {
public:
    // Inline over `view`'s bounds with a close box at (2, 2) that stops it. Leaves the modal-ad
    // mark alone, before and after: it never set it.
    static void playVideoURL(const std::string& url, plat::ui::View& view, plat::ui::ViewController* controller);
    // The modal movie controller presented from `controller`; the client is inside a modal ad
    // until the movie finishes.
    static void presentFullScreenVideoURL(const std::string& url, plat::ui::ViewController* controller);
};
