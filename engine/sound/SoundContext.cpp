#include "engine/sound/SoundContext.h"

#include "engine/sound/ALCheck.h"
#include "port/DKAudioDevice.h"

#define AL_ALEXT_PROTOTYPES
#include <AL/alext.h>

namespace {
bool g_opened = false;
ALCcontext* g_context = nullptr;
}  // namespace

ALCcontext* DKSoundContextOpen() {
    if (g_opened) return g_context;
    g_opened = true;
    ALCdevice* device = DKAudioDevice::device();
    DKCheckALCError("SoundManager::SoundManager: alcOpenDevice");
    if (!device) return nullptr;
    g_context = DKAudioDevice::createContext();
    DKCheckALCError("SoundManager::SoundManager: alcCreateContext");
    return g_context;
}

ALCcontext* DKSoundContext() {
    return g_context;
}

DKScopedSoundContext::DKScopedSoundContext() {
    if (alcGetThreadContext() || alcGetCurrentContext()) {
        m_active = true;
        return;
    }
    ALCcontext* context = DKSoundContextOpen();
    if (context && alcSetThreadContext(context)) {
        m_active = true;
        m_setThread = true;
    }
}

DKScopedSoundContext::~DKScopedSoundContext() {
    if (m_setThread) alcSetThreadContext(nullptr);
}

namespace dk::sound {

void resetSoundContext() {
    if (!g_context) return;
    alcMakeContextCurrent(g_context);
    alcProcessContext(g_context);
    const ALfloat orientation[6] = {0, 0, -1, 0, 1, 0};
    alListener3f(AL_POSITION, 0, 0, 0);
    alListener3f(AL_VELOCITY, 0, 0, 0);
    alListenerfv(AL_ORIENTATION, orientation);
    alListenerf(AL_GAIN, 1);
    DKCheckALError("resetSoundContext");
    alcMakeContextCurrent(nullptr);
}

}  // namespace dk::sound
