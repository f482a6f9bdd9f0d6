#include "port/DKAudioDevice.h"

#define AL_ALEXT_PROTOTYPES
#include <AL/alext.h>

#include <dlfcn.h>

#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <vector>

namespace {

std::mutex g_mutex;
bool g_tried = false;
ALCdevice* g_device = nullptr;
bool g_loopback = false;
int g_loopFrequency = 44100;
int g_loopChannels = 2;
std::vector<ALCcontext*> g_contexts;
std::vector<void (*)()> g_hooks;
bool g_shutdownAtExit = false;

// At exit, before OpenAL's own clean-up: stop the feeders, then close what was opened, so the
// library does not find a device still open.
void shutdown() {
    std::vector<void (*)()> hooks;
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        hooks.swap(g_hooks);
    }
    for (auto it = hooks.rbegin(); it != hooks.rend(); ++it) (*it)();
    std::lock_guard<std::mutex> lock(g_mutex);
    if (!g_device) return;
    alcMakeContextCurrent(nullptr);
    for (ALCcontext* c : g_contexts) alcDestroyContext(c);
    g_contexts.clear();
    alcCloseDevice(g_device);
    g_device = nullptr;
}

void shutdownAtExitLocked() {
    if (g_shutdownAtExit) return;
    g_shutdownAtExit = true;
    std::atexit(shutdown);
}

// ALSA's error handler, which would print each step of a failed open.
void alsaSaysNothing(const char*, int, const char*, int, const char*, ...) {}

ALCdevice* openLocked() {
    if (g_tried) return g_device;
    g_tried = true;
    shutdownAtExitLocked();
    if (g_loopback) {
        g_device = alcLoopbackOpenDeviceSOFT(nullptr);
    } else {
        g_device = alcOpenDevice(nullptr);
    }
    if (!g_device) {
        // Said once, in plain words: a machine without sound plays silently from here on. The
        // failed open leaves an error pending, which would otherwise reach the next ALC check as
        // a second, cryptic report of the same fact.
        alcGetError(nullptr);
        std::fprintf(stderr, "No audio device: sound and music are silent.\n");
    }
    return g_device;
}

}  // namespace

void DKAudioDevice::quietLibraryLogs() {
    if (std::getenv("ALSOFT_LOGLEVEL")) return;
    // Read by OpenAL Soft at its first call.
    setenv("ALSOFT_LOGLEVEL", "0", 0);
    // The handler is the library's own global: OpenAL Soft, loading ALSA later, finds it set. The
    // library stays loaded.
    using Handler = void (*)(const char*, int, const char*, int, const char*, ...);
    if (void* alsa = dlopen("libasound.so.2", RTLD_LAZY | RTLD_LOCAL)) {
        auto set = reinterpret_cast<int (*)(Handler)>(dlsym(alsa, "snd_lib_error_set_handler"));
        if (set) set(alsaSaysNothing);
    }
}

ALCdevice* DKAudioDevice::device() {
    std::lock_guard<std::mutex> lock(g_mutex);
    return openLocked();
}

bool DKAudioDevice::isSilent() {
    std::lock_guard<std::mutex> lock(g_mutex);
    return g_tried && !g_device;
}

ALCcontext* DKAudioDevice::createContext() {
    std::lock_guard<std::mutex> lock(g_mutex);
    ALCdevice* dev = openLocked();
    if (!dev) return nullptr;
    ALCcontext* context = nullptr;
    if (!g_loopback) {
        context = alcCreateContext(dev, nullptr);
        if (context) g_contexts.push_back(context);
        return context;
    }
    const ALCint attrs[] = {ALC_FORMAT_CHANNELS_SOFT,
                            g_loopChannels == 1 ? ALC_MONO_SOFT : ALC_STEREO_SOFT,
                            ALC_FORMAT_TYPE_SOFT,
                            ALC_SHORT_SOFT,
                            ALC_FREQUENCY,
                            g_loopFrequency,
                            0};
    context = alcCreateContext(dev, attrs);
    if (context) g_contexts.push_back(context);
    return context;
}

void DKAudioDevice::addShutdownHook(void (*hook)()) {
    std::lock_guard<std::mutex> lock(g_mutex);
    g_hooks.push_back(hook);
    // Also before the device is opened, and without one: a music feeder may still be opening its
    // file (and the device) when the process ends.
    shutdownAtExitLocked();
}

bool DKAudioDevice::useLoopback(int frequency, int channels) {
    std::lock_guard<std::mutex> lock(g_mutex);
    if (g_tried || (channels != 1 && channels != 2) || frequency <= 0) return false;
    g_loopback = true;
    g_loopFrequency = frequency;
    g_loopChannels = channels;
    return true;
}

bool DKAudioDevice::renderSamples(int16_t* out, int frames) {
    ALCdevice* dev;
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        if (!g_loopback || !g_device) return false;
        dev = g_device;
    }
    alcRenderSamplesSOFT(dev, out, frames);
    return true;
}
