#include "platform/ui/StatusBar.h"

#include "platform/sys/Device.h"

namespace plat::ui {

namespace {
bool g_hidden = true;
}

bool isStatusBarHidden() {
    return g_hidden;
}

void setStatusBarHidden(bool hidden) {
    g_hidden = hidden;
}

plat::sys::Rect applicationFrame() {
    plat::sys::Rect frame = plat::sys::Screen::main().bounds();
    if (!g_hidden) {
        frame.y += kStatusBarHeight;
        frame.height -= kStatusBarHeight;
    }
    return frame;
}

}  // namespace plat::ui
