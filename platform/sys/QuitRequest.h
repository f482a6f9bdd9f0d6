// Whether the user has asked the process to quit, for the waits on another process's lock: a
// lock another game or tool holds without end must not hold the player (nor its SIGTERM) with it.
#pragma once

namespace plat::sys {

// A wait on another process's lock says so once it has lasted this long, and a quit ends it from
// then on: another game's short hold is outwaited even while the player quits.
constexpr int kLongLockWaitMs = 1000;

// True when SIGINT, SIGTERM or SIGHUP is pending (blocked in every thread, they wait for their
// reader: QuitWatch.h), or once a quit has been noted.
bool quitRequested();
// Said when a quit signal has been read: the waits of the way out (the last saves) end too, rather
// than hold the process after its signal was taken.
void noteQuitRequested();
// Said by the host where a new run starts (a process may hold several): the quit it noted ended
// the run before, not this one.
void forgetQuitRequested();

}  // namespace plat::sys
