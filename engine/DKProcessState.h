// The process-wide state the engine's libraries keep, and its one owner: the set of open engine
// states. When the last one closes, everything that belongs to a game is put back as a new
// process has it, so the next DK_NewState starts like the first; what outlives a state (the audio
// device, the renderers the host installed, the screen scale...) is kept and reused. The list is
// in docs/ARCHITECTURE.md, "Process state".
#pragma once

namespace dk::engine {

// DK_NewState: one more state is open.
void stateOpened();
// A state's teardown, once it is gone: with none left open, resets the process state. A state
// whose DK_DestroyState is still deferred is open.
void stateClosed();

}  // namespace dk::engine
