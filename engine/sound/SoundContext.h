// The process-wide sound device and context that every SoundManager shares.
#pragma once

#include <AL/alc.h>

// Opens the shared device and creates the sound context once (later calls reuse them), with the
// ALC checks labelled for the SoundManager constructor. Null in no-audio mode.
ALCcontext* DKSoundContextOpen();
// The sound context if it was made, else null.
ALCcontext* DKSoundContext();

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
