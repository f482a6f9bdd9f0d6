#include "player/view/GameClock.h"

#include "platform/foundation/Clock.h"
#include "port/DKDate.h"

namespace dk::player {

namespace {

double processSeconds() {
    return plat::foundation::Clock::process().now();
}

const DKClockSource kProcessClock = {processSeconds, plat::foundation::Clock::wallSeconds};

}  // namespace

void useProcessClockForGameTime() {
    static bool installed = false;
    if (installed) return;
    installed = true;
    DKDate::setClockSource(&kProcessClock);
}

double frameClockSeconds() {
    return processSeconds();
}

}  // namespace dk::player
