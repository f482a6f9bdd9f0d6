// The process-wide state the engine's libraries keep, and its one owner: the set of open engine
// states. When the last one closes, everything that belongs to a game is put back as a new
// process has it, each item by a reset function beside it, so the next DK_NewState starts like the
// first (a host may play two games in one process). While another state is open nothing is reset,
// and a state whose DK_DestroyState is deferred is still open: a host that replaces its state from
// one of its callbacks makes the new one after that call returns. What the host sets, or what is
// opened once and reused (the audio device, the renderers the host installed, the screen scale...),
// outlives states. The list is in docs/ARCHITECTURE.md, "Process-wide state".
#pragma once

namespace dk::engine {

// DK_NewState: one more state is open.
void stateOpened();
// A state's teardown, once it is gone: with none left open, resets the process state. A state
// whose DK_DestroyState is still deferred is open.
void stateClosed();

}  // namespace dk::engine
