#include "engine/sound/ALCheck.h"

#define AL_ALEXT_PROTOTYPES
#include <AL/alext.h>

#include <cstdio>

bool DKHasALContext() {
    return alcGetThreadContext() || alcGetCurrentContext();
}

void DKCheckALError(const char* label) {
    if (!DKHasALContext()) return;
    ALenum error = alGetError();
    if (error != AL_NO_ERROR) std::fprintf(stderr, "OpenAL error %d in call to %s", error, label);
}

void DKCheckALCError(const char* label) {
    ALCenum error = alcGetError(nullptr);
    if (error != ALC_NO_ERROR) std::fprintf(stderr, "OpenAL context error %d in call to %s\n", error, label);
}
