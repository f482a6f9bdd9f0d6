// The one OpenAL output device of the process, shared by the sound manager's context and the
// music context. When no device opens (a server or CI without sound), everything built on it
// runs in a quiet no-audio mode, said in one line: device() answers null and nobody calls OpenAL;
// sources, sounds and music then use their silent backends, chosen once. Tests may make it OpenAL
// Soft's loopback device and render what is heard.
#pragma once

#include <AL/alc.h>

#include <cstdint>

class DKAudioDevice {
public:
    // Opens the default device on first use (or the loopback device, see useLoopback); null when
    // none could be opened. The result never changes afterwards.
    static ALCdevice* device();
    // True once device() was asked and found no device.
    static bool isSilent();
    // A new context on the shared device (with the render format when it is the loopback device).
    static ALCcontext* createContext();

    // A program's first call, before it starts any thread (it sets the environment): unless
    // ALSOFT_LOGLEVEL is set, OpenAL Soft and ALSA keep their own lines about a device that will
    // not open to themselves (nine on a machine without a sound card), and device()'s one line says
    // it. ALSOFT_LOGLEVEL=3 shows them again.
    static void quietLibraryLogs();

    // `hook` runs at process exit before the device closes (in reverse order of adding), so
    // whoever feeds the device from another thread can stop first; also when no device was opened.
    static void addShutdownHook(void (*hook)());

    // Tests that must hear what plays: make the shared device a loopback device rendering 16-bit
    // samples at `frequency` with `channels` (1 or 2). Only before the first device() call.
    static bool useLoopback(int frequency, int channels);
    // Renders `frames` frames from the loopback device into `out` (frames * channels samples).
    static bool renderSamples(int16_t* out, int frames);
};
