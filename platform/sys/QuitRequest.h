// Whether the user has asked the process to quit, for the waits on another process's lock: a
// lock another game or tool holds without end must not hold the player (nor its SIGTERM) with it.
#pragma once

namespace plat::sys {

// A wait on another process's lock says so once it has lasted this long, and a quit ends it from
// then on: another game's short hold is outwaited even while the player quits.
constexpr int kLongLockWaitMs = 1000;

// True when SIGINT or SIGTERM is pending (the player blocks them in every thread and reads them on
// its run loop, which a wait keeps from running), or once the host has noted a quit.
bool quitRequested();
// Said by the host when it has read a quit signal: the waits of the way out (the last saves) end
// too, rather than hold the process after its signal was taken.
void noteQuitRequested();
// Said by the host where a new run starts (a process may hold several): the quit it noted ended
// the run before, not this one.
void forgetQuitRequested();

}  // namespace plat::sys
