// The process-wide sound device and context that every SoundManager shares.
#pragma once

#include <AL/alc.h>

// Opens the shared device and creates the sound context once (later calls reuse them), with the
// ALC checks labelled for the SoundManager constructor. Null in no-audio mode.
ALCcontext* DKSoundContextOpen();
// The sound context if it was made, else null.
ALCcontext* DKSoundContext();

namespace dk::sound {

// The device and the sound context outlive engine states (opened once per process, reused); what
// a game leaves in the context does not: a manager suspended when its state closed leaves updates
// deferred, and the listener keeps the last game's position and gain. Called when the last state
// closes: the context goes back to how it is made, and no context is current, as before the first
// manager of a new process.
void resetSoundContext();

}  // namespace dk::sound

// While alive, OpenAL calls on this thread reach the sound context even when no context is
// current (the manager is suspended, or none was made yet); with no audio at all, active() is false.
class DKScopedSoundContext {
public:
    DKScopedSoundContext();
    ~DKScopedSoundContext();
    bool active() const { return m_active; }

private:
    bool m_active = false;
    bool m_setThread = false;
};
