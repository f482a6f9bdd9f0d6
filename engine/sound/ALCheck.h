// OpenAL error reports: printed to standard error, never stopping anything.
#pragma once

#include <AL/al.h>
#include <AL/alc.h>

// Reports a pending AL error as "OpenAL error %d in call to %s" (no line end). Without a current
// context there is nothing to ask (and OpenAL would answer with an error of its own), so it is
// then quiet.
void DKCheckALError(const char* label);
// Reports a pending ALC error (asked with no device) as "OpenAL context error %d in call to %s\n".
void DKCheckALCError(const char* label);
// Whether this thread has a context to talk to.
bool DKHasALContext();
