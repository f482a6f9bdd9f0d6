// One clock for the frame loop, the scripts' game time and the run loop: the platform's process
// clock (virtual in headless runs).
//
// Frame times are differences of that clock in double, and it is also DKDate's source, so game time,
// frames and timers agree on the virtual clock and stay exact after hours.
#pragma once

namespace dk::player {

// Points DKDate at the process clock, so game time, frame times and timers agree. Done once (a
// later call keeps the game clock's start); the controller calls it before the engine starts, and
// the game view's creation makes sure of it.
void useProcessClockForGameTime();

// The process clock's seconds, in double: frame times are differences of these, which stay exact
// after hours where a float's seconds would stall.
double frameClockSeconds();

}  // namespace dk::player
